#pragma once
// Companion-file records of a file object ("_FRIENDEXT"): the extension of a companion and what to do
// with it. The companion objects themselves are made when the removal is prepared.
#include "script/object_database.h"

const UINT32 FRIEND_DELETE = 0x1;        // "_DEL": a companion to be deleted
const UINT32 FRIEND_SATELLITE = 0x2;     // "_SAT": a file treated like its base
const UINT32 FRIEND_NEIGHBOUR = 0x20000; // "_NEIGH" (kept only with a satellite)

struct FriendExtension {
    UINT32 mode;
    char extension[OBJECT_NAME_SIZE]; // "." and at most 30 characters; the record's name in the list
};

// Adds a copy of the record to a file object (not one marked "_DELETE"). Leading dots of the extension
// are skipped; an empty extension, a mode without "_DEL" or "_SAT", or an extension the object already
// has is refused (0).
int AddFriendExtension(ObjectId id, const FriendExtension* record);

// Frees every record of the object and clears its HasFriends state.
void ClearFriendExtensions(ObjectId id);

// Makes the companion files that the object's records ask for into objects of their own ("_DEL"
// companions to be deleted, "_SAT" satellites treated like the base). which selects the modes (-1: all);
// keepState leaves the satellites' mark 0x1 alone. 1 when one was made, 0 when none, -1 when the
// object is no eligible file or memory runs out.
int CreateFriendObjects(ObjectId id, UINT32 which, int keepState);

// Replaces a wildcard file object by one file object per matching file on disk (the pattern is the
// object's target path, or with fromSource its source path). 1 when one was made, 0 when nothing
// matched, -1 when the object is no file with a mask or a path cannot be built.
int ExpandTargetMask(ObjectId id, int fromSource);

// Frees the records and the list of an object whose database the caller holds.
void FreeFriendList(InstallObject* object);
