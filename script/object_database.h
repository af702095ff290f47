#pragma once
// The object database: named collections of install objects (files, folders, program groups,
// registry keys and values) with their types, flags, states, parents and texts. Databases live in one
// process-wide registry; every operation locks the database it touches for the calling thread, with a
// recursive, thread-owned lock, so the worker thread and the main thread can share a database.
//
// Ids and handles are the addresses of the records (0 = none); every operation looks its record up
// again and fails quietly on a stale one.
#include <windows.h>

#include <shtypes.h>

#include "support/guards.h"
#include "support/locked_list.h"

typedef UINT_PTR ObjectId;
typedef UINT_PTR DatabaseHandle;

// Called by the executor for every object it handles: context value, object or count, value, event,
// extra value.
typedef int(WINAPI* ProgressCallback)(UINT_PTR context, UINT_PTR object, UINT_PTR value, UINT32 event, UINT_PTR extra);

// Object types: the flags word masked with OBJECT_TYPE_MASK.
const UINT32 OBJECT_TYPE_MASK = 0xff0;
const UINT32 OBJECT_FILE = 0x10;
const UINT32 OBJECT_DIRECTORY = 0x20;
const UINT32 OBJECT_GROUP = 0x40;
const UINT32 OBJECT_REGKEY = 0x100;
const UINT32 OBJECT_REGITEM = 0x200;

// The executor's work marks in the flags word. Clearing all three together with "_REMOVABLE" is how the
// executor decides that an object stays (it "keeps" it).
const UINT32 MARK_SELECTED = 0x1;  // to be handled by the removal passes; a key: it exists and its handle
                                   // is open; a group: it was found (built-ins are found from the start)
const UINT32 MARK_COMPONENT = 0x2; // a file whose component actions are still to be done
const UINT32 MARK_RELEASE = 0x4;   // a shared object whose count is still to be lowered
const UINT32 MARKS_OF_REMOVAL = MARK_SELECTED | MARK_COMPONENT | MARK_RELEASE;

// Object flags.
const UINT32 OBJECT_TOUCHED = 0x8;
const UINT32 OBJECT_SHARED = 0x1000;
const UINT32 OBJECT_DELETE = 0x2000;
const UINT32 OBJECT_KILLCHILDREN = 0x4000;
const UINT32 OBJECT_SETUP = 0x8000;
const UINT32 OBJECT_OCX = 0x10000;
const UINT32 OBJECT_EXE = 0x20000;
const UINT32 OBJECT_STRUCTURE = 0x40000;
const UINT32 OBJECT_COUNTER = 0x80000;
const UINT32 OBJECT_QUERY = 0x100000;
const UINT32 OBJECT_REMOVABLE = 0x200000;
const UINT32 OBJECT_KEEPCONTENTS = 0x400000;
const UINT32 OBJECT_NONINSTALLABLE = 0x800000;
const UINT32 OBJECT_REGISTER = 0x1000000;
const UINT32 OBJECT_UNREGISTER = 0x2000000;
const UINT32 OBJECT_UNINSTALL = 0x4000000;
const UINT32 OBJECT_ROOT_PATH = 0x8000000;
const UINT32 OBJECT_GROUPED = 0x10000000;
const UINT32 OBJECT_PASS_THROUGH = 0x20000000;
const UINT32 OBJECT_EXTENDED = 0x40000000;
const UINT32 OBJECT_SYSLIB = 0x80000000;

// Object states.
const UINT32 STATE_READ_ONLY = 0x1;
const UINT32 STATE_NO_SHARE_COUNT = 0x2;
const UINT32 STATE_SHARING_KEY = 0x4;
const UINT32 STATE_CHECKED_REMOVABLE = 0x10; // the removal preparation checked it as removable
const UINT32 STATE_EXPANDED = 0x20;
// States of the share counters (the "_COUNTER" items of the shared-object registry).
const UINT32 STATE_COUNT_RAISED = 0x10000;          // raised once in this run
const UINT32 STATE_COUNT_LOWERED = 0x20000;         // lowered once in this run
const UINT32 STATE_COUNT_CACHED = 0x40000;          // the contents hold the count read from the registry
const UINT32 STATE_UNDER_OWN_SHARING_KEY = 0x80000; // the counter lies under the database's sharing key
// States of shared objects.
const UINT32 STATE_SHARED_DLL = 0x100000;            // declared with "_SHAREDDLL"
const UINT32 STATE_SHARE_WITHOUT_KEY = 0x200000;     // its counter lies under the database's sharing key;
                                                     // objects made from it are shared without a key
const UINT32 STATE_IN_SHARED_DLLS = 0x400000;        // the file is also counted in SharedDLLs
const UINT32 STATE_SHARE_UNDER_OTHER_KEY = 0x800000; // its counter lies under another key
const UINT32 STATE_HAS_ICON = 0x1000000;
const UINT32 STATE_TARGET_MASK = 0x2000000;
const UINT32 STATE_HAS_FRIENDS = 0x4000000;
const UINT32 STATE_FROM_WILDCARD = 0x8000000; // a file a wildcard found (or a companion of one), not named

// Database flags.
const UINT32 DATABASE_PROCESSED = 0x10;
const UINT32 DATABASE_KEEP_NEWEST = 0x100;
const UINT32 DATABASE_REPLACE_OLDEST = 0x200;
const UINT32 DATABASE_REPLACE_ALWAYS = 0x400;
const UINT32 DATABASE_KEEP_ALWAYS = 0x800;
const UINT32 DATABASE_REBOOT = 0x1000;
const UINT32 DATABASE_PROGMAN_GROUPS = 0x2000;
const UINT32 DATABASE_DELETE_AT_RESTART = 0x4000; // files in use (and folders left with them) go at restart
const UINT32 DATABASE_RESTART_PENDING = 0x8000;   // something of the removal goes at the next restart
const UINT32 DATABASE_UPDATE = 0x1000000;
const UINT32 DATABASE_REMOVE = 0x2000000;

// Sharing modes.
const UINT32 SHARING_DLL = 0x10;
const UINT32 SHARING_REGISTRY = 0x20;

const int OBJECT_NAME_SIZE = 32; // 31 characters and a terminator

struct ObjectDatabase; // the layouts are the database's own; other modules see them through the view below
struct InstallObject;

// A view of one object whose database the caller holds (LockObject, HeldObject, a walk).
ObjectId ObjectIdOf(const InstallObject* o);
const char* ObjectNameOf(const InstallObject* o);
UINT32 ObjectType(const InstallObject* o);
UINT32 ObjectFlagsOf(const InstallObject* o);
void MarkObject(InstallObject* o, UINT32 bits);   // flags set
void UnmarkObject(InstallObject* o, UINT32 bits); // flags cleared
UINT32 ObjectStateOf(const InstallObject* o);
void SetObjectStateBits(InstallObject* o, UINT32 bits);
void ClearObjectStateBits(InstallObject* o, UINT32 bits);
ObjectId ObjectParentOf(const InstallObject* o);
const char* ObjectShareKeyOf(const InstallObject* o);
void SetObjectShareKeyName(InstallObject* o, const char* name); // at most 31 characters kept
const char* ObjectContentsOf(const InstallObject* o);           // the raw contents text, or null
UINT32 ObjectFolderIdOf(const InstallObject* o);
const char* ObjectGroupNameOf(const InstallObject* o); // the group a grouped file's item is in
// A key object's open handle (null while it is not open); a group's copy of its folder's item ID list.
HKEY ObjectKeyOf(const InstallObject* o);
void SetObjectKeyHandle(InstallObject* o, HKEY key);
LPCITEMIDLIST ObjectGroupIdList(const InstallObject* o);
// The children of an object, one after the other: ChildFirst, then ChildNext with the child just given.
bool ChildFirst(const InstallObject* o, ObjectId* child);
bool ChildNext(const InstallObject* o, ObjectId* child);
// A group that is gone lets go of its folder: its item ID list (freed when it owns one), its folder id,
// and the database's current group when it was that one.
void ForgetGroupFolder(ObjectDatabase* d, InstallObject* o, bool ownsIdList);

// A view of a database the caller holds.
DatabaseHandle DatabaseHandleOf(const ObjectDatabase* d);
UINT32 DatabaseFlagsOf(const ObjectDatabase* d);
ObjectId DatabaseSharingKeyOf(const ObjectDatabase* d);
UINT32 DatabaseSharingModeOf(const ObjectDatabase* d);
ProgressCallback DatabaseCallbackOf(const ObjectDatabase* d);
ObjectId DatabaseCurrentGroupOf(const ObjectDatabase* d);
UINT32 DatabaseObjectCount(const ObjectDatabase* d);
// An object of a held database by its id or its name, or null.
InstallObject* FindHeldObject(ObjectDatabase* d, ObjectId id);
InstallObject* FindHeldObjectByName(ObjectDatabase* d, const char* name);

// Databases.
DatabaseHandle CreateObjectDatabase(const char* name, const char* sourceText, ProgressCallback callback);
void CloseObjectDatabase(DatabaseHandle db);
DatabaseHandle FindObjectDatabase(const char* name);
ObjectDatabase* LockObjectDatabase(DatabaseHandle db);
void UnlockObjectDatabase(DatabaseHandle db);
int SetDatabaseFlags(DatabaseHandle db, UINT32 bits, int set = 1);
int AddDatabaseSource(DatabaseHandle db, const char* text);
int SetSharingKey(DatabaseHandle db, ObjectId keyObject, UINT32 mode);

// A database lock held for the life of a scope.
using HeldDatabase = Held<DatabaseHandle, UnlockObjectDatabase>;
// Locks the database and hands out the guard that unlocks it; *record receives the database (null
// when the handle is unknown; the guard then holds nothing).
inline HeldDatabase HoldDatabase(DatabaseHandle db, ObjectDatabase** record)
{
    *record = LockObjectDatabase(db);
    return HeldDatabase(*record != nullptr ? db : 0);
}

// Objects.
ObjectId AddObject(DatabaseHandle db, const char* name, UINT32 type);
int DestroyObject(ObjectId id);
InstallObject* LockObject(ObjectId id, DatabaseHandle* db = nullptr);
void ReleaseObject(InstallObject* object);
ObjectId FindObjectByName(DatabaseHandle db, const char* name);
ObjectId FindObjectByFlags(DatabaseHandle db, ObjectId afterId, UINT32 mask);
ObjectId GetParentObject(ObjectId id);
ObjectId GetAncestorObject(ObjectId id, int toBuiltIn);

// Setters: 1 on success, 0 when the object is missing, read-only, refused, or memory runs out.
int SetObjectSource(ObjectId id, const char* text);
int SetObjectParent(ObjectId id, ObjectId parentId);
int SetObjectFlags(ObjectId id, UINT32 bits);
int SetObjectShared(ObjectId id, const char* shareKey, int dll);
int SetObjectContents(ObjectId id, const char* text);
int SetObjectUninstall(ObjectId id, const char* program, const char* arguments);
int SetObjectRegister(ObjectId id, const char* text);
int SetObjectUnregister(ObjectId id, const char* text);
int SetObjectTargetPath(ObjectId id, const char* text);
int SetObjectTargetMask(ObjectId id, const char* text);
int SetObjectSysLib(ObjectId id, const char* name);
int SetObjectGroup(ObjectId id, const char* groupName, const char* itemName, const char* iconName, int iconIndex);

// Holds an object's database for the life of a scope; the record may be destroyed meanwhile, the
// database handle stays valid. Move-only, like the database guard it holds.
class HeldObject {
  public:
    explicit HeldObject(ObjectId id)
    {
        DatabaseHandle db = 0;
        object_ = LockObject(id, &db);
        held_.reset(db);
    }

    InstallObject* object() const { return object_; }
    ObjectDatabase* database() const { return reinterpret_cast<ObjectDatabase*>(held_.get()); }
    // An object the script may change: found and not built-in.
    InstallObject* writable() const
    {
        return object_ != nullptr && !(ObjectStateOf(object_) & STATE_READ_ONLY) ? object_ : nullptr;
    }

  private:
    HeldDatabase held_;
    InstallObject* object_ = nullptr;
};
