#pragma once
// The use counts of objects that several products share, in two stores: the shared-object registry
// (one value per shared object under the kind keys "Shared Files", "Shared Folders", "Shared Groups",
// "Shared Keys" and "Shared Items" of the database's sharing key, mirrored by counter objects of the
// database) and the system's SharedDLLs counts (files only). A shared object is removed only when its
// count reaches 0.
//
// The paths under which containers are counted: a folder, group or key is counted by its full path in
// the container form (ending in a backslash); a file or registry value by its full path. A registry
// key's path is its root's name and the subkeys, "HKEY_LOCAL_MACHINE\SOFTWARE\Vendor\Key\", and a
// value's the key's path and the value's name, "HKEY_LOCAL_MACHINE\SOFTWARE\Vendor\Key\Value". The
// lookups inside a container build the same texts from the container's path and enumerated names.
#include "script/object_database.h"

// Options of UpdateSharedCount; the low bits are the sharing mode (SHARING_DLL, SHARING_REGISTRY).
const UINT32 SHARE_ONCE = 0x1;       // raise or lower a counter at most once per direction in a run
const UINT32 SHARE_READ_AGAIN = 0x2; // read the count from the registry even when the counter holds it
const UINT32 SHARE_WRITE_BACK = 0x4; // write the new count back to the registry

// The object's count after raising it (delta > 0), lowering it (< 0) or only reading it (0): 0 or
// more, or -1 when the object is not shared the way delta needs or is not found.
int UpdateSharedCount(ObjectId id, int delta, UINT32 options);

// Lowers a removable shared object's count once (written back): 1 when the object may still be
// removed (no other product counts it, or an ancestor that goes with its contents takes it along, in
// which case its count is driven to 0), 0 when it must stay.
int ReleaseSharedObject(ObjectId id, int maxCoverCount, int ignoreCover);

// 1 when something still inside a selected folder, group or key is counted as shared.
int ContainerHasSharedContent(ObjectId id, HKEY sharingKey, const char* subPath);

// The object's parent once that container exists on the machine (created unless noCreate), or 0.
ObjectId EnsureParentContainer(ObjectId id, int noCreate);

// The answer to a "_QUERY" event of the uninstall: a touched object is kept (0); any other is dropped
// (1), but for the untouched built-in sharing key, which is kept (and made removable) when one of its
// five kind keys exists.
int AnswerQueryEvent(ObjectId id);
