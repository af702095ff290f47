// The registry of object databases, the database lock, and the operations on a whole database.
#include "script/object_database.h"

#include "script/builtins.h"
#include "script/object_internal.h"
#include "support/startup.h"
#include "support/guards.h"

#include <string.h>

namespace {

// Takes one more lock of a database for thread me; false when another thread holds it. Called with
// the database lock entered.
bool TryTake(ObjectDatabase* d, DWORD me)
{
    if (d->lockCount != 0 && d->ownerThread != me) {
        return false;
    }
    d->lockCount++;
    d->ownerThread = me;
    return true;
}

} // namespace

ObjectDatabase* LockObjectDatabase(DatabaseHandle db)
{
    ListHandle registry = EngineDatabaseRegistry();
    CRITICAL_SECTION* lock = EngineDatabaseLock();
    if (registry == 0 || lock == nullptr || db == 0) {
        return nullptr;
    }
    DWORD me = GetCurrentThreadId();
    for (;;) {
        {
            CriticalSectionScope locked(lock);
            UINT_PTR value = 0;
            if (!ListFindByKey(registry, db, &value, 0)) {
                return nullptr;
            }
            ObjectDatabase* d = reinterpret_cast<ObjectDatabase*>(value);
            if (TryTake(d, me)) {
                return d;
            }
        }
        // Held by another thread: never wait inside the lock.
        Sleep(0);
    }
}

void UnlockObjectDatabase(DatabaseHandle db)
{
    ListHandle registry = EngineDatabaseRegistry();
    UINT_PTR value = 0;
    if (registry == 0 || !ListFindByKey(registry, db, &value, 0)) {
        return;
    }
    ObjectDatabase* d = reinterpret_cast<ObjectDatabase*>(value);
    // Only the owner holds a count above 0, so only the owner changes it here.
    if (d->lockCount > 0 && d->ownerThread == GetCurrentThreadId()) {
        InterlockedDecrement(reinterpret_cast<volatile LONG*>(&d->lockCount));
    }
}

InstallObject* LockObject(ObjectId id, DatabaseHandle* db)
{
    if (db != nullptr) {
        *db = 0;
    }
    ListHandle registry = EngineDatabaseRegistry();
    CRITICAL_SECTION* lock = EngineDatabaseLock();
    if (registry == 0 || lock == nullptr || id == 0) {
        return nullptr;
    }
    DWORD me = GetCurrentThreadId();
    for (;;) {
        {
            CriticalSectionScope locked(lock);
            UINT_PTR value = 0, object = 0;
            int ok = ListFirst(registry, &value, 0);
            for (; ok && !ListFindByKey(reinterpret_cast<ObjectDatabase*>(value)->objects, id, &object, 0);) {
                ok = ListNext(registry, value, &value, 0, 0);
            }
            if (!ok) {
                return nullptr; // no database holds the object
            }
            ObjectDatabase* d = reinterpret_cast<ObjectDatabase*>(value);
            if (TryTake(d, me)) {
                if (db != nullptr) {
                    *db = d->handle;
                }
                return reinterpret_cast<InstallObject*>(object);
            }
        }
        Sleep(0);
    }
}

void ReleaseObject(InstallObject* object)
{
    if (object != nullptr) {
        UnlockObjectDatabase(object->database);
    }
}

DatabaseHandle FindObjectDatabase(const char* name)
{
    ListHandle registry = EngineDatabaseRegistry();
    CRITICAL_SECTION* lock = EngineDatabaseLock();
    if (registry == 0 || lock == nullptr || name == nullptr) {
        return 0;
    }
    CriticalSectionScope locked(lock);
    UINT_PTR value = 0;
    ListFindByName(registry, name, &value, 0);
    return value;
}

namespace {

// A new database record, registered under its name and held by its creator until it is complete, so
// that nobody sees it half-built; null when the heap refuses or the name cannot be registered.
ObjectDatabase* NewDatabase(ListHandle registry, const char* name, ProgressCallback callback)
{
    HeapPtr<ObjectDatabase> d(static_cast<ObjectDatabase*>(MemAlloc(sizeof(ObjectDatabase))));
    if (!d) {
        return nullptr;
    }
    d->handle = reinterpret_cast<DatabaseHandle>(d.get());
    d->lockCount = 1;
    d->ownerThread = GetCurrentThreadId();
    d->sharingMode = SHARING_DLL | SHARING_REGISTRY;
    lstrcpynA(d->name, name, sizeof(d->name));
    d->callback = callback;
    d->currentSource = -1;
    if (!ListSetByName(registry, d->name, d->handle)) {
        return nullptr;
    }
    return d.release();
}

} // namespace

DatabaseHandle CreateObjectDatabase(const char* name, const char* sourceText, ProgressCallback callback)
{
    ListHandle registry = EngineDatabaseRegistry();
    CRITICAL_SECTION* lock = EngineDatabaseLock();
    if (registry == 0 || lock == nullptr || name == nullptr || callback == nullptr || name[0] == '\0') {
        return 0;
    }
    CriticalSectionScope locked(lock);
    UINT_PTR existing = 0;
    char shortName[OBJECT_NAME_SIZE];
    lstrcpynA(shortName, name, sizeof(shortName));
    if (ListFindByName(registry, shortName, &existing, 0)) {
        return existing;
    }
    ObjectDatabase* d = NewDatabase(registry, shortName, callback);
    if (d == nullptr) {
        return 0;
    }
    d->objects = ListCreate();
    bool ok = d->objects != 0 && (sourceText == nullptr || AddDatabaseSource(d->handle, sourceText) >= 0) &&
              CreateBuiltInObjects(d);
    if (!ok) {
        CloseObjectDatabase(d->handle);
        return 0;
    }
    d->lockCount = 0;
    return d->handle;
}

void CloseObjectDatabase(DatabaseHandle db)
{
    ObjectDatabase* d = LockObjectDatabase(db);
    if (d == nullptr) {
        return;
    }
    for (UINT32 i = 0; i < d->sourceCount; i++) {
        MemFree(d->sources[i]);
    }
    MemFree(d->sources);
    d->sources = nullptr;
    d->sourceCount = d->sourceCapacity = 0;
    UINT_PTR value = 0;
    while (ListFirst(d->objects, &value, 0)) {
        if (!DestroyObject(value)) {
            break;
        }
    }
    {
        CriticalSectionScope locked(EngineDatabaseLock());
        ListRemoveByKey(EngineDatabaseRegistry(), db);
    }
    ListDestroy(d->objects);
    MemFree(d);
}

int SetDatabaseFlags(DatabaseHandle db, UINT32 bits, int set)
{
    ObjectDatabase* d = nullptr;
    HeldDatabase held = HoldDatabase(db, &d);
    if (d == nullptr) {
        return 0;
    }
    const UINT32 policy =
        DATABASE_KEEP_NEWEST | DATABASE_REPLACE_OLDEST | DATABASE_REPLACE_ALWAYS | DATABASE_KEEP_ALWAYS;
    const UINT32 always = DATABASE_REPLACE_ALWAYS | DATABASE_KEEP_ALWAYS;
    if (!set) {
        d->flags &= ~bits;
    } else {
        // An "always" policy replaces any earlier one and is not overridden by the other two.
        if (bits & always) {
            d->flags &= ~policy;
        }
        if (d->flags & always) {
            bits &= ~policy;
        }
        d->flags |= bits;
    }
    return 1;
}

int AddDatabaseSource(DatabaseHandle db, const char* text)
{
    if (text == nullptr || text[0] == '\0') {
        return -1;
    }
    ObjectDatabase* d = nullptr;
    HeldDatabase held = HoldDatabase(db, &d);
    if (d == nullptr) {
        return -1;
    }
    int index = -1;
    if (d->sourceCount == d->sourceCapacity) {
        char** grown = static_cast<char**>(MemAlloc((d->sourceCapacity + 2) * sizeof(char*)));
        if (grown != nullptr) {
            if (d->sourceCount != 0) {
                memcpy(grown, d->sources, d->sourceCount * sizeof(char*));
            }
            MemFree(d->sources);
            d->sources = grown;
            d->sourceCapacity += 2;
        }
    }
    if (d->sourceCount < d->sourceCapacity) {
        char* copy = MemCopyText(text);
        if (copy != nullptr) {
            index = static_cast<int>(d->sourceCount);
            d->sources[d->sourceCount++] = copy;
            d->currentSource = index;
        }
    }
    return index;
}

int SetSharingKey(DatabaseHandle db, ObjectId keyObject, UINT32 mode)
{
    ObjectDatabase* d = nullptr;
    HeldDatabase held = HoldDatabase(db, &d);
    if (d == nullptr) {
        return 0;
    }
    int result = 0;
    InstallObject* key = keyObject != 0 ? FindObjectIn(d, keyObject) : nullptr;
    if (key != nullptr && ObjectType(key) == OBJECT_REGKEY && !(key->state & STATE_READ_ONLY)) {
        // A current key that already counts children is kept.
        InstallObject* current = d->sharingKey != 0 ? FindObjectIn(d, d->sharingKey) : nullptr;
        if (current == nullptr) {
            d->sharingKey = 0;
        } else if (current->children == 0 || ListCount(current->children) == 0) {
            current->state &= ~STATE_SHARING_KEY;
            d->sharingKey = 0;
        }
        if (d->sharingKey == 0) {
            d->sharingKey = keyObject;
            key->state |= STATE_SHARING_KEY;
            key->flags |= OBJECT_TOUCHED;
            result = 1;
        }
    }
    UINT32 m = mode & (SHARING_DLL | SHARING_REGISTRY);
    if (keyObject == 0 && m != 0) {
        result = 1;
    }
    if (result == 1 && m != 0) {
        d->sharingMode = m;
    }
    return result;
}
