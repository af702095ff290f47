// Parses the input as an install script into a fresh database, walks the objects it made, and closes
// the database. The engine's start-up (which would join COM) is replaced here by a registry list and
// a lock made once.
#include "script/builtins.h"
#include "script/object_internal.h"
#include "script/object_text.h"
#include "script/script_parser.h"
#include "support/startup.h"

#include <initializer_list>
#include <stdlib.h>

namespace {
ListHandle g_registry = 0;
CRITICAL_SECTION g_lock;

int WINAPI NoProgress(UINT_PTR, UINT_PTR, UINT_PTR, UINT32, UINT_PTR)
{
    return 0;
}
} // namespace

// The built-in objects need the shell and the registry, which the fuzzer does not have: a few plain
// roots stand in for them, enough for the script's references to have something to name.
bool CreateBuiltInObjects(ObjectDatabase* d)
{
    for (const char* name : {"WINDIR", "HKEY_SOFTWARE", "STARTGROUPS"}) {
        ObjectId id = AddObject(d->handle, name, OBJECT_DIRECTORY);
        if (id == 0 || !SetObjectTargetPath(id, "C:\\Root\\")) {
            return false;
        }
        LockObject(id)->state |= STATE_READ_ONLY;
        UnlockObjectDatabase(d->handle);
    }
    return true;
}

bool IsBuiltInObjectName(const char* name)
{
    return strcmp(name, "WINDIR") == 0 || strcmp(name, "HKEY_SOFTWARE") == 0 || strcmp(name, "STARTGROUPS") == 0;
}

ListHandle EngineDatabaseRegistry()
{
    return g_registry;
}

CRITICAL_SECTION* EngineDatabaseLock()
{
    return &g_lock;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (g_registry == 0) {
        g_registry = ListCreate();
        InitializeCriticalSection(&g_lock);
    }
    // An exact-size copy: AddressSanitizer sees any read past the script.
    char* text = static_cast<char*>(malloc(size != 0 ? size : 1));
    memcpy(text, data, size);
    DatabaseHandle db = CreateObjectDatabase("FUZZ", "C:\\Source\\", NoProgress);
    ParseScript(db, text, static_cast<UINT32>(size));

    // Every object's parent chain must end: the parser may never make a cycle.
    ObjectDatabase* d = LockObjectDatabase(db);
    UINT32 count = ListCount(d->objects);
    UINT_PTR v = 0;
    for (int ok = ListFirst(d->objects, &v, 0); ok; ok = ListNext(d->objects, v, &v, 0, 0)) {
        UINT32 depth = 0;
        for (InstallObject* o = LockObject(v); o != nullptr;) {
            ObjectId parent = o->parent;
            ReleaseObject(o);
            if (++depth > count + 1) {
                abort();
            }
            o = parent != 0 ? LockObject(parent) : nullptr;
        }
        char leaf[16];
        char* small = GetObjectLeafName(v, 1, leaf, sizeof(leaf));
        if (small != leaf) {
            FreeObjectText(small); // did not fit: a heap text came back
        }
        FreeObjectText(GetObjectLeafName(v, 0, nullptr, 0));
        GetAncestorObject(v, 1);
        // Paths and expanded texts: references that name themselves must end.
        FreeObjectText(GetObjectPath(v, PATH_TRIM | PATH_CONTAINER, nullptr, 0));
        FreeObjectText(GetObjectContentsText(v, nullptr, 0));
    }
    UnlockObjectDatabase(db);
    CloseObjectDatabase(db);
    free(text);
    return 0;
}
