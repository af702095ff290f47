#pragma once
// What happened to each object an uninstall looked at, for the removal report: one line per object
// with its name, type and full path and the outcome (removed; kept, and why; failed, with the system's
// error). Nothing is done when no report is open.
#include "script/object_database.h"

enum KeptReason {
    KEPT_NOT_REMOVABLE,  // neither "_REMOVABLE" nor covered by an ancestor that goes with its contents
    KEPT_STILL_COUNTED,  // still counted by other products (the count)
    KEPT_HOLDS_CONTENT,  // a folder, group or key that holds kept or shared content
    KEPT_MISSING,        // it does not exist
    KEPT_UNTIL_RESTART,  // in use (or holding what is): deleted at the next restart
    KEPT_UNLISTED_ITEMS, // a Program Manager group whose reply did not list all its items
};

// Each line names the object's path: path when the pass has already made it, else the path is made.
void NoteRemoved(ObjectId id, const char* path = nullptr);
void NoteKept(ObjectId id, KeptReason reason, int count = 0, const char* path = nullptr);
void NoteFailed(ObjectId id, DWORD error, const char* path = nullptr);
// The deletion gate refused the object: "kept: " and the gate's reason ("refused: " in a plan).
void NoteRefused(ObjectId id, const char* reason, const char* path = nullptr);
// The Uninstall entry an object names was refused: a line of its own, for the entry.
void NoteEntryRefused(InstallObject* o, const char* entry, const char* reason);
// A file in use when the removal is prepared: the removal would stop before it changed anything.
void NoteInUse(ObjectId id);
// What a plan found the removal would do with the object besides deleting it.
void NoteAction(ObjectId id, const char* action, const char* path);

// How many objects the lines so far said would go (or went), stay, and were refused.
struct NoteTally {
    unsigned removed;
    unsigned kept;
    unsigned refused;
    unsigned failed;
};
NoteTally NotesSoFar();
