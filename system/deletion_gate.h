#pragma once
// The one place that decides whether a deletion may happen, and makes it. Every file, folder, tree
// entry, wildcard match, group folder and shortcut, restart deletion, registry value and key an
// uninstall removes goes through here, and so does the opening of the removal report.
//
// Paths are judged as the system sees them, not as text: only fully qualified paths ("X:\..." or
// "\\server\share\...") are taken; they are normalised as the system would (doubled separators, "."
// and "..", trailing dots and spaces) and their 8.3 aliases expanded before anything is compared. A
// folder is opened once, without following a link at its end, and the path the system reached by
// opening it must be the path asked for: a junction, symbolic link or mount point anywhere on the way
// is refused. The folder then stays open, shared for reading and writing but not for deletion, until
// GateRelease: while it is open it cannot be renamed, deleted or replaced by a link, and nor can any
// folder above it, so what is deleted inside it by path is deleted inside the folder that was checked.
// A folder tree is deleted entry by entry relative to the handles of its folders, each opened without
// following links; a link met inside is removed as a link, never walked into. Protected places (drive
// and share roots, the Windows folder and what the system keeps in it, the program-files and shared
// data folders, the profiles and their known folders, the temporary folder) are never deleted, emptied
// or walked into; a file directly in one goes only when the script named it.
//
// Registry keys are judged by their full path ("HKEY_LOCAL_MACHINE\SOFTWARE\Vendor"): hive roots and
// the keys the system owns are never deleted, emptied or recursed into, a recursive deletion never
// follows a registry link, and an Uninstall entry goes only as a direct child of an "Uninstall" key.
#include <windows.h>

// Why a deletion was refused.
enum GateVerdict {
    GATE_ALLOWED,
    GATE_NOT_FULL_PATH,       // no drive letter or share: the system would resolve it against something else
    GATE_DEVICE,              // a device name or a device path ("NUL", "COM1", "\\.\...")
    GATE_PROTECTED,           // a protected place, one that holds one, or a file found in one
    GATE_THROUGH_LINK,        // reached through a junction, symbolic link or mount point
    GATE_PROTECTED_KEY,       // a registry key the system owns, or one that holds one
    GATE_NOT_UNINSTALL_ENTRY, // an Uninstall entry name that is not one key directly below "Uninstall"
    GATE_NOT_A_NAME,          // a Program Manager group or item name that is a path
    GATE_OPEN_TO_OTHERS,      // a restart deletion on a path that others could lead elsewhere before then
    GATE_SYSTEM_FILE,         // a file the system keeps in a protected place, even when the script names it
    GATE_CHANGEABLE,          // a library or program that others can change, not run with an administrator's rights
};

// The words of the removal report for a refusal: "protected location", "reached through a link", ...
const char* GateVerdictText(GateVerdict verdict);

// What became of a deletion.
enum GateOutcome {
    GATE_DONE,    // it went (or was scheduled, for a restart deletion)
    GATE_ABSENT,  // there was nothing to delete
    GATE_FAILED,  // the system refused: error holds its reason
    GATE_REFUSED, // the gate refused: verdict holds why; nothing was touched
};

struct GateResult {
    GateOutcome outcome;
    GateVerdict verdict;
    DWORD error;
};

// Options of the deletions.
const UINT32 GATE_FOUND = 0x1;     // found by a wildcard or a walk, not named by the script
const UINT32 GATE_RECURSIVE = 0x2; // a folder or key with everything in it
const UINT32 GATE_CLIMB = 0x4;     // then each parent left empty, up to (not including) the one given

// A file: read-only, hidden and system are cleared when they stand in the way.
GateResult GateDeleteFile(const char* path, UINT32 options);

// Whether a file could be deleted now (nothing is deleted): GATE_DONE with its folder checked and held,
// or the refusal, absence or failure GateDeleteFile would meet first.
GateResult GateCheckFile(const char* path, UINT32 options = 0);

// A folder: empty, or with GATE_RECURSIVE everything in it first; with GATE_CLIMB and climbStop, then
// each parent folder that has become empty, up to climbStop (a folder above path). A folder that is a
// link itself goes as a link.
GateResult GateDeleteFolder(const char* path, UINT32 options, const char* climbStop);

// A file or folder deleted at the next restart; refused for anything reached through a link, or that
// is a link itself (the restart would follow it), and for a path that anyone but administrators and the
// system could make lead elsewhere before then (by replacing a folder on the way, or the object, with
// something else): the restart deletes by path, whatever the path names then.
GateResult GateScheduleDeletion(const char* path);

// Whether anyone but administrators and the system could change what the file at path holds before it is
// read, loaded or run: write it, or put another file (or a link) in its place anywhere on its path. True
// as well for a path that is not a full one or that leads through a link. For a program that runs with
// an administrator's rights: what it trusts must be what only administrators can change.
bool GateOthersCanChange(const char* path);

// For a plan: what would still be in the folder once everything the plan found would go had gone, as
// "name, name, ... and N more" with at most limit names (a new heap text, release with MemFree); null
// when nothing would stay or the folder cannot be listed.
char* GatePlanLeftIn(const char* path, size_t limit);
// For a plan: whether the file or folder at path would be gone by now.
bool GatePlanGone(const char* path);
// For a plan: the file at path was in use when the removal was prepared. The plan's deletion of it
// then meets what the removal's would meet, a file another program holds.
void GatePlanInUse(const char* path);

// Lets go of the folders held open by the deletions so far. Call it when a pass ends, and before
// deleting a folder by other means.
void GateRelease();

// Opens a plain file for appending, creating it when missing, for a report: refused for device names,
// paths through links, and a link at the end. The handle, or null with *verdict (and the last error)
// telling why.
HANDLE GateOpenForAppend(const char* path, GateVerdict* verdict);

// The judgement of a path alone, normalised: the long path the gate would work on (a new heap text,
// release with MemFree), or null with *verdict telling why. Nothing is opened or held.
char* GateNormalisePath(const char* path, GateVerdict* verdict);

// Registry. Keys are judged by the key their handles reached, read back from the registry: a registry
// link on the way to a key or value is refused.
//
// A value goes from the key it is named in (the script names values one by one), open at keyPath (a full
// key path): only from a key that could go itself by the key rules.
GateResult GateDeleteRegValue(HKEY key, const char* keyPath, const char* valueName);
// A shared count that has come down to nothing: from the system's shared counts, or from a key that could
// go itself.
GateResult GateDeleteCount(HKEY key, const char* valueName);
// The key at relPath below parent, which is open on the key at parentPath (a full key path,
// "HKEY_CURRENT_USER\Software"): empty, or with GATE_RECURSIVE with everything in it (links inside
// are deleted as links, never followed); with GATE_CLIMB, then each key along relPath left empty. A
// key that is a link itself goes as a link.
GateResult GateDeleteRegKey(HKEY parent, const char* parentPath, const char* relPath, UINT32 options);
// The product's entry below the system's Uninstall key, by its name: one key, no path.
GateResult GateDeleteUninstallEntry(const char* name);

// Forgets the key judged last for its values (GateRelease does it too): call it before a key handle
// that may have been judged is closed.
void GateForgetKeys();

// The judgement of a key path alone: GATE_ALLOWED, or why the key may not be deleted.
GateVerdict GateJudgeKey(const char* keyPath);

// The judgement of a Program Manager group or item name before it is deleted by name (Program Manager
// keeps them as folders and files of its own): one plain name, never a path that leads out of them.
GateVerdict GateJudgeName(const char* name);
