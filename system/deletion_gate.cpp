// The deletion gate for files and folders: every path judged as the system sees it, folders held open
// while what is in them goes, trees walked relative to the handles of their folders.
#include "system/deletion_gate.h"

#include "support/guards.h"
#include "support/plan_mode.h"
#include "support/strings.h"
#include "system/access_rights.h"
#include "system/gate_paths.h"
#include "system/nt_files.h"
#include "system/plan_state.h"
#include "system/protected_paths.h"

#include <string.h>

#include <unordered_map>

namespace {

// A folder tree nests at most this deep: a deletion goes no further, whatever the disk holds.
const int TREE_DEPTH_LIMIT = 128;
// Folders held at once; beyond this all are let go (and checked again when needed).
const size_t HELD_FOLDERS_LIMIT = 4096;
const DWORD SHARE_BUT_NO_DELETION = FILE_SHARE_READ | FILE_SHARE_WRITE;
const DWORD NO_LINK_FOLLOWED = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
const ACCESS_MASK FOLDER_DELETION = DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
const ACCESS_MASK ENTRY_DELETION = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;

// Whether files found in a folder (not named) stay: told once a found file asks.
enum KeepsFound { KEEPS_UNKNOWN, KEEPS_FOUND, LETS_FOUND_GO };

// The identity of a folder: its index on the volume its path names.
struct ObjectIdentity {
    ULONGLONG index = 0;
    bool known = false;
    bool operator==(const ObjectIdentity& o) const { return known && o.known && index == o.index; }
};

ObjectIdentity IdentityOf(HANDLE handle)
{
    ObjectIdentity id;
    id.known = NtFileIndex(handle, &id.index);
    return id;
}

// A folder checked once and held open: it cannot be renamed, deleted or replaced while it is held. When
// it is deleted empty, the handle that deletes it is known to reach the checked folder by its identity,
// without a second check of the path.
struct HeldFolder {
    HANDLE handle;
    KeepsFound keepsFoundFiles;
    ObjectIdentity identity;
};

struct HeldFolders {
    CRITICAL_SECTION lock;
    std::unordered_map<std::string, HeldFolder> byPath; // upper-case normalised path
    // The folder held last, as it was asked for: the files of one folder come one after the other.
    std::string lastPath;
    HeldFolder* last = nullptr;
    HeldFolders() { InitializeCriticalSection(&lock); }
};

HeldFolders& HeldCache()
{
    static HeldFolders held;
    return held;
}

GateResult Done()
{
    return {GATE_DONE, GATE_ALLOWED, ERROR_SUCCESS};
}

GateResult Absent()
{
    return {GATE_ABSENT, GATE_ALLOWED, ERROR_SUCCESS};
}

GateResult Failed(DWORD error)
{
    return {GATE_FAILED, GATE_ALLOWED, error};
}

GateResult Refused(GateVerdict verdict)
{
    return {GATE_REFUSED, verdict, ERROR_SUCCESS};
}

bool IsMissing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The folder holding a normalised path ("C:\A" for "C:\A\b"; the root for "C:\b").
std::string ParentOf(const std::string& path)
{
    size_t root = PlaceRootLength(path.c_str());
    size_t slash = path.rfind('\\');
    return slash == std::string::npos || slash < root ? path.substr(0, root) : path.substr(0, slash);
}

std::wstring Wide(const std::string& text)
{
    HeapPtr<wchar_t> wide(AnsiToWide(text.c_str()));
    return wide ? std::wstring(wide.get()) : std::wstring();
}

std::string Narrow(const std::wstring& text)
{
    HeapText narrow(WideToAnsi(text.c_str()));
    return narrow ? std::string(narrow.get()) : std::string();
}

// For a plan: the entry would go instead of going.
DWORD PlanEntryGoes(const std::wstring& path)
{
    PlanFileGoes(UpperPath(Narrow(path)));
    return ERROR_SUCCESS;
}

// For a plan: whether a checked folder would be empty once all that the plan found would go had gone.
DWORD PlanFolderEmpty(HANDLE folder, const std::string& path)
{
    std::vector<NtDirEntry> entries;
    DWORD error = ERROR_SUCCESS;
    if (!NtListFolder(folder, &entries, &error)) {
        return error;
    }
    std::string inside = UpperPath(path) + "\\";
    for (const NtDirEntry& entry : entries) {
        if (!PlanFileGone(inside + UpperPath(Narrow(entry.name)))) {
            return ERROR_DIR_NOT_EMPTY;
        }
    }
    return ERROR_SUCCESS;
}

// Opens a folder by its normalised path without following a link at its end and checks that the
// system reached it by that path, or (with checked) that it is the folder checked before. A folder that
// is itself a link is told by *isLink (and handed out).
GateResult OpenCheckedFolder(const std::string& path, ACCESS_MASK access, HANDLE* out, bool* isLink,
                             const ObjectIdentity* checked = nullptr)
{
    *out = nullptr;
    *isLink = false;
    KernelHandle folder(CreateFileA(path.c_str(), access | SYNCHRONIZE, SHARE_BUT_NO_DELETION, nullptr, OPEN_EXISTING,
                                    NO_LINK_FOLLOWED, nullptr));
    if (!folder) {
        DWORD error = GetLastError();
        return IsMissing(error) ? Absent() : Failed(error);
    }
    DWORD attributes = NtHandleAttributes(folder.get());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return Failed(ERROR_DIRECTORY);
    }
    bool known = checked != nullptr && checked->known && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                 IdentityOf(folder.get()) == *checked;
    if (!known && !ReachedByPath(folder.get(), path)) {
        return Refused(GATE_THROUGH_LINK);
    }
    *isLink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    *out = folder.release();
    return Done();
}

void CloseAll(HeldFolders& h)
{
    for (auto& entry : h.byPath) {
        CloseHandle(entry.second.handle);
    }
    h.byPath.clear();
    h.lastPath.clear();
    h.last = nullptr;
}

// Whether files found in a held folder stay, told the first time it is asked.
bool HeldKeepsFound(HeldFolder& held, const std::string& path)
{
    if (held.keepsFoundFiles == KEEPS_UNKNOWN) {
        held.keepsFoundFiles = PlaceKeepsFoundFiles(path.c_str()) ? KEEPS_FOUND : LETS_FOUND_GO;
    }
    return held.keepsFoundFiles == KEEPS_FOUND;
}

// The folder at a normalised path, checked and held; with keepsFound, whether files found in it stay.
GateResult HoldFolder(const std::string& path, bool* keepsFound)
{
    HeldFolders& h = HeldCache();
    CriticalSectionScope scope(&h.lock);
    HeldFolder* held = !h.lastPath.empty() && path == h.lastPath ? h.last : nullptr;
    std::string key;
    if (held == nullptr) {
        key = UpperPath(path);
        auto found = h.byPath.find(key);
        held = found != h.byPath.end() ? &found->second : nullptr;
    }
    if (held == nullptr) {
        HANDLE folder = nullptr;
        bool isLink = false;
        GateResult opened = OpenCheckedFolder(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, &folder, &isLink);
        if (opened.outcome != GATE_DONE) {
            return opened;
        }
        if (isLink) {
            CloseHandle(folder);
            return Refused(GATE_THROUGH_LINK); // what lies in it lies elsewhere
        }
        if (h.byPath.size() >= HELD_FOLDERS_LIMIT) {
            CloseAll(h);
        }
        held = &h.byPath[key];
        *held = {folder, KEEPS_UNKNOWN, IdentityOf(folder)};
    }
    h.lastPath = path;
    h.last = held;
    if (keepsFound != nullptr) {
        *keepsFound = HeldKeepsFound(*held, path);
    }
    return Done();
}

// Lets go of a folder before it is deleted, and with inside of every held folder in it (an empty folder
// holds none); the identity of the folder when it was held.
ObjectIdentity DropHeld(const std::string& path, bool inside)
{
    HeldFolders& h = HeldCache();
    std::string key = UpperPath(path);
    CriticalSectionScope scope(&h.lock);
    h.lastPath.clear();
    h.last = nullptr;
    ObjectIdentity own;
    auto self = h.byPath.find(key);
    if (self != h.byPath.end()) {
        own = self->second.identity;
        CloseHandle(self->second.handle);
        h.byPath.erase(self);
    }
    for (auto at = h.byPath.begin(); inside && at != h.byPath.end();) {
        const std::string& held = at->first;
        if (held.size() > key.size() && held.compare(0, key.size(), key) == 0 && held[key.size()] == '\\') {
            CloseHandle(at->second.handle);
            at = h.byPath.erase(at);
        } else {
            ++at;
        }
    }
    return own;
}

// What a tree deletion met: the first refusal and the first failure.
struct TreeWalk {
    GateVerdict refused = GATE_ALLOWED;
    DWORD error = ERROR_SUCCESS;
};

void EmptyTree(HANDLE folder, const std::wstring& path, int depth, TreeWalk& walk);

// One entry of a tree: opened relative to its folder without following a link, checked, emptied when it
// is a folder, deleted. A link goes as a link; an entry the system reached elsewhere is left alone.
void DeleteEntry(HANDLE folder, const std::wstring& folderPath, const NtDirEntry& entry, int depth, TreeWalk& walk)
{
    bool listedLink = (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    bool listedFolder = !listedLink && (entry.attributes & FILE_ATTRIBUTE_DIRECTORY);
    DWORD error = ERROR_SUCCESS;
    ACCESS_MASK access = listedFolder ? FOLDER_DELETION : ENTRY_DELETION;
    KernelHandle item(NtOpenRelative(folder, entry.name, access, listedFolder ? FILE_DIRECTORY_FILE : 0, &error));
    if (!item) {
        walk.error = walk.error == ERROR_SUCCESS && !IsMissing(error) ? error : walk.error;
        return;
    }
    std::wstring path = folderPath + L"\\" + entry.name;
    DWORD attributes = NtHandleAttributes(item.get());
    bool isLink = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    // The listing told of a link the open did not show, or the system reached another place: the open
    // followed a link, and what it reached is not the tree's.
    if ((listedLink && !isLink) || !NtReachedByPath(item.get(), path)) {
        walk.refused = GATE_THROUGH_LINK;
        return;
    }
    if (!isLink && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        EmptyTree(item.get(), path, depth + 1, walk);
    }
    error = PlanMode() ? PlanEntryGoes(path) : NtDeleteOnClose(item.get());
    if (error != ERROR_SUCCESS && walk.error == ERROR_SUCCESS) {
        walk.error = error;
    }
}

void EmptyTree(HANDLE folder, const std::wstring& path, int depth, TreeWalk& walk)
{
    if (depth > TREE_DEPTH_LIMIT) {
        walk.error = ERROR_BUFFER_OVERFLOW;
        return;
    }
    // Listed again after each round: a listing is not kept stable while its entries go.
    size_t left = static_cast<size_t>(-1);
    for (;;) {
        std::vector<NtDirEntry> entries;
        DWORD error = ERROR_SUCCESS;
        if (!NtListFolder(folder, &entries, &error)) {
            walk.error = walk.error == ERROR_SUCCESS ? error : walk.error;
            return;
        }
        if (entries.empty() || entries.size() >= left) {
            return; // empty, or a round that took nothing away
        }
        left = entries.size();
        for (const NtDirEntry& entry : entries) {
            DeleteEntry(folder, path, entry, depth, walk);
        }
    }
}

// Deletes the folder behind a checked handle; with recursive, what it holds first.
GateResult DeleteCheckedFolder(HANDLE folder, const std::string& path, bool recursive, bool isLink)
{
    TreeWalk walk;
    if (recursive && !isLink) {
        EmptyTree(folder, Wide(path), 0, walk);
    }
    DWORD error = ERROR_SUCCESS;
    if (PlanMode()) {
        error = isLink ? ERROR_SUCCESS : PlanFolderEmpty(folder, path);
        if (error == ERROR_SUCCESS) {
            PlanFileGoes(UpperPath(path));
        }
    } else {
        error = NtDeleteOnClose(folder);
    }
    if (error == ERROR_SUCCESS) {
        return Done();
    }
    return walk.refused != GATE_ALLOWED ? Refused(walk.refused)
                                        : Failed(walk.error != ERROR_SUCCESS ? walk.error : error);
}

// Deletes one folder by its normalised path, judged, opened and checked in one handle.
GateResult DeleteOneFolder(const std::string& path, bool recursive)
{
    if (PlaceIsProtected(path.c_str())) {
        return Refused(GATE_PROTECTED);
    }
    if (PlanMode() && PlanFileGone(UpperPath(path))) {
        return Absent();
    }
    // A folder held since something in it was deleted needs no second check to go empty: the handle that
    // deletes it reaches the very folder that was checked (its index), or it is checked again. A tree is
    // always checked again by its path.
    ObjectIdentity checked = DropHeld(path, recursive);
    HANDLE opened = nullptr;
    bool isLink = false;
    GateResult result = OpenCheckedFolder(path, FOLDER_DELETION, &opened, &isLink, recursive ? nullptr : &checked);
    KernelHandle folder(opened);
    if (result.outcome != GATE_DONE) {
        return result;
    }
    return DeleteCheckedFolder(folder.get(), path, recursive, isLink);
}

// After a deletion: each parent left empty goes, up to (not including) stop.
void Climb(const std::string& path, const char* stop)
{
    std::string top;
    GateVerdict verdict;
    if (stop == nullptr || !NormalisePath(stop, &top, &verdict)) {
        return;
    }
    std::string upperTop = UpperPath(top);
    for (std::string parent = ParentOf(path);; parent = ParentOf(parent)) {
        std::string upper = UpperPath(parent);
        bool below = upper.size() > upperTop.size() && upper.compare(0, upperTop.size(), upperTop) == 0 &&
                     (upperTop.back() == '\\' || upper[upperTop.size()] == '\\');
        if (!below || DeleteOneFolder(parent, false).outcome != GATE_DONE) {
            return;
        }
    }
}

// A file of the system: one it keeps by name, or one that the system's installer owns.
bool IsSystemFile(const std::string& file)
{
    if (PlaceIsSystemFile(file.c_str())) {
        return true;
    }
    KernelHandle opened(CreateFileA(file.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return opened && AccessOwnedBySystemInstaller(opened.get());
}

// A file's path normalised into *file, and its folder checked and held.
GateResult CheckFile(const char* path, UINT32 options, std::string* file)
{
    GateVerdict verdict;
    if (!NormalisePath(path, file, &verdict)) {
        return Refused(verdict);
    }
    bool inProtectedPlace = false;
    GateResult parent = HoldFolder(ParentOf(*file), &inProtectedPlace);
    if (parent.outcome != GATE_DONE || !inProtectedPlace) {
        return parent;
    }
    // In a protected place, a found file stays, and so does a file of the system the script names.
    if (options & GATE_FOUND) {
        return Refused(GATE_PROTECTED);
    }
    return IsSystemFile(*file) ? Refused(GATE_SYSTEM_FILE) : Done();
}

// Whether anyone but administrators and the system could make a checked path name something else before
// the next restart: remove an object on the way (or the object itself), or its entry, and put another
// in its place. rights: what others hold over the object at the path.
bool OthersCanReplace(const std::string& path, ACCESS_MASK rights)
{
    const ACCESS_MASK removesEntry = FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER;
    const ACCESS_MASK addsEntry = ACCESS_ADDS_ENTRIES | WRITE_DAC | WRITE_OWNER;
    size_t root = PlaceRootLength(path.c_str());
    for (std::string at = path; at.size() > root;) {
        std::string parent = ParentOf(at); // the root with its backslash at last
        ACCESS_MASK above = AccessRightsOfOthersAt(parent.c_str());
        bool removable = (rights & ACCESS_CHANGES_OBJECT) || (above & removesEntry);
        if (removable && (above & addsEntry)) {
            return true;
        }
        at = parent;
        rights = above;
    }
    return false;
}

// The object at a normalised path opened as itself (a link as the link) to read its attributes and its
// security: null when it cannot be opened (the last error tells why); *plain false for a link, or for an
// object reached through one.
HANDLE OpenAsItself(const std::string& path, bool* plain)
{
    KernelHandle object(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    NO_LINK_FOLLOWED, nullptr));
    if (object) {
        DWORD attributes = NtHandleAttributes(object.get());
        *plain = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                 ReachedByPath(object.get(), path);
    }
    return object.release();
}

// Why the system refused to delete a file though it may be deleted: a program it runs (an image in use
// refuses its deletion as "access denied", though the file may be opened for deletion), or a real denial.
DWORD DeniedOrInUse(const std::string& file, DWORD error)
{
    KernelHandle opened(CreateFileA(file.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return opened ? ERROR_USER_MAPPED_FILE : error;
}

// For a plan: what deleting a checked file would meet. The preparation opened every file the removal
// deletes to find those in use: such a file would stay (and go at the next restart); a read-only one
// goes as the removal clears what stands in the way. The attributes are read without opening the file.
GateResult PlanDeleteFile(const std::string& file)
{
    std::string upper = UpperPath(file);
    if (PlanFileGone(upper)) {
        return Absent();
    }
    DWORD attributes = GetFileAttributesA(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        return IsMissing(error) ? Absent() : Failed(error);
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return DeleteOneFolder(file, false); // named as a file, it is an empty folder at most
    }
    if (PlanFileWasInUse(upper)) {
        return Failed(ERROR_SHARING_VIOLATION);
    }
    PlanFileGoes(upper);
    return Done();
}

} // namespace

const char* GateVerdictText(GateVerdict verdict)
{
    switch (verdict) {
    case GATE_NOT_FULL_PATH:
        return "not a full path";
    case GATE_DEVICE:
        return "a device name";
    case GATE_PROTECTED:
        return "protected location";
    case GATE_THROUGH_LINK:
        return "reached through a link";
    case GATE_PROTECTED_KEY:
        return "protected registry key";
    case GATE_NOT_UNINSTALL_ENTRY:
        return "not an entry of the Uninstall key";
    case GATE_NOT_A_NAME:
        return "not a plain name";
    case GATE_CHANGEABLE:
        return "others than administrators can change it, so it is not run with an administrator's rights";
    case GATE_SYSTEM_FILE:
        return "a file of the system";
    case GATE_OPEN_TO_OTHERS:
        return "cannot be deleted now, and its folder is not protected from other users";
    default:
        return "allowed";
    }
}

GateVerdict GateJudgeName(const char* name)
{
    if (name == nullptr || name[0] == '\0' || strcmp(name, ".") == 0 || strcmp(name, "..") == 0 ||
        strpbrk(name, "\\/:") != nullptr) {
        return GATE_NOT_A_NAME;
    }
    return GATE_ALLOWED;
}

char* GateNormalisePath(const char* path, GateVerdict* verdict)
{
    std::string normal;
    return NormalisePath(path, &normal, verdict) ? MemCopyText(normal.c_str()) : nullptr;
}

GateResult GateCheckFile(const char* path, UINT32 options)
{
    std::string file;
    return CheckFile(path, options, &file);
}

GateResult GateDeleteFile(const char* path, UINT32 options)
{
    std::string file;
    GateResult checked = CheckFile(path, options, &file);
    if (checked.outcome != GATE_DONE) {
        return checked;
    }
    if (PlanMode()) {
        return PlanDeleteFile(file);
    }
    // The folder is held: the path leads into the folder that was checked, and the deletion removes a
    // link at its end as a link.
    if (DeleteFileA(file.c_str())) {
        return Done();
    }
    DWORD error = GetLastError();
    if (IsMissing(error)) {
        return Absent();
    }
    if (error != ERROR_ACCESS_DENIED) {
        return Failed(error);
    }
    DWORD attributes = GetFileAttributesA(file.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return DeleteOneFolder(file, false); // named as a file, it is an empty folder at most
    }
    const DWORD blocking = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & blocking) ||
        !SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL)) {
        return Failed(DeniedOrInUse(file, error));
    }
    if (DeleteFileA(file.c_str())) {
        return Done();
    }
    error = GetLastError();
    return Failed(error == ERROR_ACCESS_DENIED ? DeniedOrInUse(file, error) : error);
}

GateResult GateDeleteFolder(const char* path, UINT32 options, const char* climbStop)
{
    std::string folder;
    GateVerdict verdict;
    if (!NormalisePath(path, &folder, &verdict)) {
        return Refused(verdict);
    }
    // The folder is judged by the handle that deletes it: no parent needs holding.
    GateResult result = DeleteOneFolder(folder, (options & GATE_RECURSIVE) != 0);
    if (result.outcome == GATE_DONE && (options & GATE_CLIMB)) {
        Climb(folder, climbStop);
    }
    return result;
}

GateResult GateScheduleDeletion(const char* path)
{
    std::string target;
    GateVerdict verdict;
    if (!NormalisePath(path, &target, &verdict)) {
        return Refused(verdict);
    }
    GateResult parent = HoldFolder(ParentOf(target), nullptr);
    if (parent.outcome != GATE_DONE) {
        return parent;
    }
    bool plain = false;
    KernelHandle object(OpenAsItself(target, &plain));
    if (!object) {
        DWORD error = GetLastError();
        return IsMissing(error) ? Absent() : Failed(error);
    }
    // The restart follows whatever the path leads to then: a link, or a way through one, is refused.
    if (!plain) {
        return Refused(GATE_THROUGH_LINK);
    }
    if ((NtHandleAttributes(object.get()) & FILE_ATTRIBUTE_DIRECTORY) && PlaceIsProtected(target.c_str())) {
        return Refused(GATE_PROTECTED);
    }
    if (OthersCanReplace(target, AccessRightsOfOthers(object.get()))) {
        return Refused(GATE_OPEN_TO_OTHERS);
    }
    object.reset();
    if (PlanMode()) {
        return Done(); // the restart entry a removal would make
    }
    return MoveFileExA(target.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? Done() : Failed(GetLastError());
}

bool GateOthersCanChange(const char* path)
{
    std::string file;
    GateVerdict verdict;
    if (!NormalisePath(path, &file, &verdict)) {
        return true;
    }
    bool plain = false;
    KernelHandle object(OpenAsItself(file, &plain));
    if (!object || !plain) {
        return true;
    }
    ACCESS_MASK rights = AccessRightsOfOthers(object.get());
    return (rights & (ACCESS_WRITES_CONTENT | ACCESS_CHANGES_OBJECT)) != 0 || OthersCanReplace(file, rights);
}

void GatePlanInUse(const char* path)
{
    std::string normal;
    GateVerdict verdict;
    if (PlanMode() && NormalisePath(path, &normal, &verdict)) {
        PlanFileInUse(UpperPath(normal));
    }
}

bool GatePlanGone(const char* path)
{
    std::string normal;
    GateVerdict verdict;
    return PlanMode() && NormalisePath(path, &normal, &verdict) && PlanFileGone(UpperPath(normal));
}

char* GatePlanLeftIn(const char* path, size_t limit)
{
    std::string folder;
    GateVerdict verdict;
    if (!NormalisePath(path, &folder, &verdict)) {
        return nullptr;
    }
    KernelHandle listed(CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    NO_LINK_FOLLOWED, nullptr));
    std::vector<NtDirEntry> entries;
    DWORD error = ERROR_SUCCESS;
    if (!listed || !NtListFolder(listed.get(), &entries, &error)) {
        return nullptr;
    }
    std::string inside = UpperPath(folder) + "\\", names;
    size_t staying = 0;
    for (const NtDirEntry& entry : entries) {
        std::string name = Narrow(entry.name);
        if (PlanFileGone(inside + UpperPath(name))) {
            continue;
        }
        if (++staying <= limit) {
            names += (names.empty() ? "" : ", ") + name;
        }
    }
    if (staying > limit) {
        names += " and " + std::to_string(staying - limit) + " more";
    }
    return staying != 0 ? MemCopyText(names.c_str()) : nullptr;
}

void GateRelease()
{
    {
        HeldFolders& h = HeldCache();
        CriticalSectionScope scope(&h.lock);
        CloseAll(h);
    }
    GateForgetKeys();
}

HANDLE GateOpenForAppend(const char* path, GateVerdict* verdict)
{
    std::string file;
    if (!NormalisePath(path, &file, verdict)) {
        return nullptr;
    }
    GateResult parent = HoldFolder(ParentOf(file), nullptr);
    if (parent.outcome != GATE_DONE) {
        *verdict = parent.outcome == GATE_REFUSED ? parent.verdict : GATE_ALLOWED;
        SetLastError(parent.outcome == GATE_ABSENT ? ERROR_PATH_NOT_FOUND : parent.error);
        return nullptr;
    }
    // An existing file is opened as it is; a new one is made only where nothing (not even a link) is.
    const DWORD access = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    KernelHandle report(
        CreateFileA(file.c_str(), access, SHARE_BUT_NO_DELETION, nullptr, OPEN_EXISTING, NO_LINK_FOLLOWED, nullptr));
    if (!report && GetLastError() == ERROR_FILE_NOT_FOUND) {
        report.reset(CreateFileA(file.c_str(), access, SHARE_BUT_NO_DELETION, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    }
    if (!report) {
        return nullptr;
    }
    DWORD attributes = NtHandleAttributes(report.get());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        // Not to be written: the system refuses it anyway, except to administrators of some file systems.
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION information = {};
    if (GetFileType(report.get()) != FILE_TYPE_DISK) {
        *verdict = GATE_DEVICE;
    } else if (attributes == INVALID_FILE_ATTRIBUTES ||
               (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
               !ReachedByPath(report.get(), file)) {
        *verdict = GATE_THROUGH_LINK;
    } else if (!GetFileInformationByHandle(report.get(), &information) || information.nNumberOfLinks > 1) {
        *verdict = GATE_THROUGH_LINK; // another name of the file may lie anywhere on the volume
    }
    if (*verdict != GATE_ALLOWED) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return report.release();
}
