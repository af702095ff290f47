// The sharing resynchronisation: rebuilds the shared counts of every product a registry key lists, and
// moves the products from one counting scheme to the other. It changes counts, never files.
#include "app/resync.h"

#include "data/discovery.h"
#include "engine/prepare.h"
#include "engine/shared_objects.h"
#include "engine/uninstall_callback.h"
#include "script/load_script.h"
#include "script/object_walk.h"
#include "script/object_keys.h"
#include "script/object_text.h"
#include "support/guards.h"
#include "system/deletion_gate.h"
#include "support/strings.h"
#include "system/system_state.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

namespace {

const UINT32 RESYNC_PREPARATION = PREPARE_AGAIN | PREPARE_ASK_QUERIES | PREPARE_KEEP_FLAGS | PREPARE_NO_IN_USE_TEST |
                                  PREPARE_EXPAND | PREPARE_MASKS_FROM_TARGET; // 0x3033
const UINT32 RESYNC_FIND = FIND_STRUCTURE | SCRIPT_REMOVE;
const DWORD VALUE_NAME_SIZE = 256;

// The products accepted so far: their databases ("SYNC000", "SYNC001", ...) and the first sharing key's
// path, which registry sharing needs every product to share.
struct Products {
    UINT32 mode; // the requested mode: SHARING_DLL, SHARING_REGISTRY, both, or 0
    std::vector<DatabaseHandle> databases;
    HeapText firstSharingKey;
    UINT_PTR session; // the callback's context
};

// Opens the product list: the path's first component names a registry root object of the "SYNC"
// database, the rest is the key below it; failing that, the whole path lies below HKEY_LOCAL_MACHINE.
HKEY OpenProductList(DatabaseHandle sync, const char* keyPath, int* mustClose)
{
    char root[OBJECT_NAME_SIZE] = {};
    const char* slash = strchr(keyPath, '\\');
    size_t length = slash != nullptr ? static_cast<size_t>(slash - keyPath) : strlen(keyPath);
    HKEY key = nullptr;
    if (length < sizeof(root)) {
        memcpy(root, keyPath, length);
        ObjectId rootObject = FindObjectByName(sync, root);
        const char* rest = slash != nullptr ? slash + 1 : "";
        if (rootObject != 0 && OpenObjectKey(rootObject, rest, nullptr, KEY_ALL_ACCESS, nullptr, nullptr, nullptr, &key,
                                             mustClose) == ERROR_SUCCESS) {
            return key;
        }
    }
    ObjectId machine = FindObjectByName(sync, "HKEY_LOCAL_MACHINE");
    if (OpenObjectKey(machine, keyPath, nullptr, KEY_ALL_ACCESS, nullptr, nullptr, nullptr, &key, mustClose) ==
        ERROR_SUCCESS) {
        return key;
    }
    return nullptr;
}

// A value of the list names a product when it is the path of an existing file holding a remove
// configuration.
bool NamesProduct(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           FindConfiguration(path, nullptr, RESYNC_FIND, nullptr, nullptr, nullptr, nullptr, nullptr) == FIND_OK;
}

// The product's sharing key made ready: touched and removable when the script did not name it, the
// requested mode (or the product's own) set. The sharing key object, or null.
InstallObject* ReadySharingKey(ObjectDatabase* d, UINT32 requested)
{
    InstallObject* key = FindHeldObject(d, DatabaseSharingKeyOf(d));
    if (key == nullptr) {
        return nullptr;
    }
    bool touched = (ObjectFlagsOf(key) & OBJECT_TOUCHED) != 0;
    if (!touched) {
        MarkObject(key, OBJECT_REMOVABLE | OBJECT_TOUCHED);
    }
    UINT32 mode = requested != 0 ? requested : (touched ? DatabaseSharingModeOf(d) : SHARING_DLL);
    SetSharingKey(DatabaseHandleOf(d), 0, mode);
    return key;
}

// Loads one product into its own database and prepares it: true when it is accepted.
bool LoadProduct(Products& p, const char* configPath)
{
    char name[OBJECT_NAME_SIZE];
    snprintf(name, sizeof(name), "SYNC%03u", static_cast<unsigned>(p.databases.size()));
    DatabaseHandle db = CreateObjectDatabase(name, nullptr, UninstallCallback);
    ScriptLocation location = {nullptr, nullptr, nullptr}; // no version is compared
    if (db == 0 || !LoadScript(&location, db, configPath)) {
        CloseObjectDatabase(db);
        return false;
    }
    bool accepted = false;
    {
        ObjectDatabase* d = nullptr;
        HeldDatabase held = HoldDatabase(db, &d);
        InstallObject* key = ReadySharingKey(d, p.mode);
        if (key != nullptr) {
            PrepareRemoval(p.session, db, RESYNC_PREPARATION);
            HeapText path(GetObjectPath(ObjectIdOf(key), PATH_TRIM, nullptr, 0));
            if (path && !p.firstSharingKey) {
                p.firstSharingKey.reset(path.release());
                accepted = true;
            } else if (path) {
                // With registry sharing every product must count under the same key.
                accepted = !(p.mode & SHARING_REGISTRY) || StrCompareNoCase(path.get(), p.firstSharingKey.get()) == 0;
            }
        }
    }
    if (!accepted) {
        CloseObjectDatabase(db);
        return false;
    }
    p.databases.push_back(db);
    return true;
}

// Stage 1: reads the product list and loads each product. False when the list cannot be read or an
// accepted product cannot be loaded.
bool ReadProductList(Products& p, const char* keyPath)
{
    DatabaseHandle sync = CreateObjectDatabase("SYNC", nullptr, UninstallCallback);
    if (sync == 0) {
        return false;
    }
    int mustClose = 0;
    HKEY list = OpenProductList(sync, keyPath, &mustClose);
    RegKeyHandle owned(mustClose ? list : nullptr);
    bool result = list != nullptr;
    for (DWORD i = 0; result; i++) {
        char valueName[VALUE_NAME_SIZE];
        DWORD nameSize = sizeof(valueName), type = 0, size = 0;
        if (RegEnumValueA(list, i, valueName, &nameSize, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
            break;
        }
        if (type != REG_SZ) {
            continue;
        }
        HeapText data(static_cast<char*>(MemAlloc((static_cast<size_t>(size) + 8) & ~static_cast<size_t>(3))));
        DWORD read = size;
        if (!data || RegQueryValueExA(list, valueName, nullptr, &type, reinterpret_cast<BYTE*>(data.get()), &read) !=
                         ERROR_SUCCESS) {
            result = data ? result : false;
            continue;
        }
        if (NamesProduct(data.get())) {
            result = LoadProduct(p, data.get());
        }
    }
    CloseObjectDatabase(sync);
    return result;
}

// The users of a shared object across every product: 1 for itself and one for each object of the same
// type that another product's database shares under the same full path; the highest count of them.
long CountAcrossProducts(const Products& p, ObjectId id, UINT32 type)
{
    long users = 1, highest = 1;
    HeapText path(GetObjectPath(id, PATH_CONTAINER, nullptr, 0));
    for (DatabaseHandle db : p.databases) {
        ObjectDatabase* d = nullptr;
        HeldDatabase held = HoldDatabase(db, &d);
        ObjectWalk w;
        for (bool more = path && WalkBegin(&w, d, true); more; more = WalkNext(&w)) {
            InstallObject* o = w.object;
            ObjectId value = ObjectIdOf(o);
            if (value == id || (ObjectFlagsOf(o) & (type | OBJECT_SHARED)) != (type | OBJECT_SHARED) ||
                ObjectType(o) != type) {
                continue;
            }
            HeapText other(GetObjectPath(value, PATH_CONTAINER, nullptr, 0));
            if (other && StrCompareNoCase(other.get(), path.get()) == 0) {
                long n = UpdateSharedCount(value, 0, DatabaseSharingModeOf(d) | SHARE_READ_AGAIN);
                highest = n > highest ? n : highest;
                users++;
            }
        }
    }
    return users > highest ? users : highest;
}

// Brings a stored count to count (key null: SharedDLLs), deleted at 0.
void BringTo(HKEY key, const char* valueName, long count)
{
    BringCounterValue(key, valueName, static_cast<UINT32>(count > 0 ? count : 0), 1);
}

// Lowers a SharedDLLs count to 0, deleting the value: the product leaves DLL sharing.
void LeaveDllSharing(const char* path)
{
    BringCounterValue(nullptr, path, 0, 1);
}

// The relative path of a counter's kind key below the sharing key's parent ("Shared Objects\Shared
// Files"), and that parent's key; the counter key is deleted from there when it has become empty.
void DeleteEmptyCounterKey(ObjectDatabase* d, InstallObject* kindKey)
{
    if (CountRegSubKeys(ObjectKeyOf(kindKey)) != 0 || CountRegValues(ObjectKeyOf(kindKey)) != 0) {
        return;
    }
    HeapText sharing(GetObjectLeafName(DatabaseSharingKeyOf(d), 1, nullptr, 0));
    HeapText kind(GetObjectLeafName(ObjectIdOf(kindKey), 1, nullptr, 0));
    HeapText below(sharing && kind ? PathJoin(sharing.get(), kind.get(), false) : nullptr);
    HKEY parent = nullptr;
    int mustClose = 0;
    if (!below || OpenObjectKey(GetParentObject(DatabaseSharingKeyOf(d)), nullptr, nullptr, KEY_ALL_ACCESS, nullptr,
                                nullptr, nullptr, &parent, &mustClose) != ERROR_SUCCESS) {
        return;
    }
    RegKeyHandle owned(mustClose ? parent : nullptr);
    HeapText parentPath(GetObjectPath(GetParentObject(DatabaseSharingKeyOf(d)), 0, nullptr, 0));
    GateDeleteRegKey(parent, parentPath.get(), below.get(), GATE_CLIMB);
}

// The object's counter of the shared-object registry: made to hold the count, or, when the product
// leaves registry sharing, deleted with the key it leaves empty.
void ResyncCounter(const Products& p, ObjectDatabase* d, InstallObject* o, long count)
{
    InstallObject* counter = FindHeldObjectByName(d, ObjectShareKeyOf(o));
    if (counter == nullptr ||
        (ObjectFlagsOf(counter) & (OBJECT_COUNTER | OBJECT_TYPE_MASK)) != (OBJECT_COUNTER | OBJECT_REGITEM)) {
        return;
    }
    HeapText valueName(GetObjectLeafName(ObjectIdOf(counter), 0, nullptr, 0));
    bool otherKey = (ObjectStateOf(o) & STATE_SHARE_UNDER_OTHER_KEY) != 0;
    if (!valueName) {
        return;
    }
    if (p.mode == 0 || (DatabaseSharingModeOf(d) & SHARING_REGISTRY) || otherKey) {
        EnsureParentContainer(ObjectIdOf(counter), 0);
        InstallObject* parent = LockObject(ObjectParentOf(counter));
        if (parent != nullptr && ObjectKeyOf(parent) != nullptr) {
            BringTo(ObjectKeyOf(parent), valueName.get(), count);
        }
        ReleaseObject(parent);
    } else if (DatabaseSharingModeOf(d) == p.mode && DatabaseSharingKeyOf(d) != 0 &&
               (ObjectStateOf(o) & STATE_SHARE_WITHOUT_KEY)) {
        InstallObject* parent = LockObject(ObjectParentOf(counter));
        if (parent != nullptr && ObjectKeyOf(parent) != nullptr) {
            GateDeleteCount(ObjectKeyOf(parent), valueName.get());
            DeleteEmptyCounterKey(d, parent);
        }
        ReleaseObject(parent);
    }
}

// One shared object of one product: its count rebuilt from every product that shares it, then both
// stores brought to it (or left, when the product moves to the other scheme).
void ResyncObject(const Products& p, ObjectDatabase* d, InstallObject* o)
{
    long count = UpdateSharedCount(ObjectIdOf(o), 0, DatabaseSharingModeOf(d) | SHARE_READ_AGAIN);
    bool crossProducts = count == 0 || (ObjectStateOf(o) & STATE_IN_SHARED_DLLS) ||
                         ((ObjectStateOf(o) & (STATE_SHARE_WITHOUT_KEY | STATE_SHARE_UNDER_OTHER_KEY)) &&
                          ObjectShareKeyOf(o)[0] != '\0');
    if (crossProducts) {
        long highest = CountAcrossProducts(p, ObjectIdOf(o), ObjectType(o));
        count = highest > count ? highest : count;
    }
    if (ObjectStateOf(o) & STATE_IN_SHARED_DLLS) {
        HeapText path(GetObjectPath(ObjectIdOf(o), PATH_CONTAINER, nullptr, 0));
        if (path && (p.mode == 0 || (DatabaseSharingModeOf(d) & SHARING_DLL))) {
            BringTo(nullptr, path.get(), count);
        } else if (path && DatabaseSharingModeOf(d) == p.mode) {
            LeaveDllSharing(path.get());
        }
    }
    if (ObjectStateOf(o) & (STATE_SHARE_WITHOUT_KEY | STATE_SHARE_UNDER_OTHER_KEY)) {
        ResyncCounter(p, d, o, count);
    }
}

// Stage 2: every shared object of every product.
void RebuildCounts(const Products& p)
{
    for (DatabaseHandle db : p.databases) {
        ObjectDatabase* d = nullptr;
        HeldDatabase held = HoldDatabase(db, &d);
        for (ObjectId id = FindObjectByFlags(db, 0, OBJECT_SHARED); id != 0;
             id = FindObjectByFlags(db, id, OBJECT_SHARED)) {
            InstallObject* o = LockObject(id);
            ResyncObject(p, d, o);
            ReleaseObject(o);
            UnlockObjectDatabase(db); // the lock FindObjectByFlags left
        }
    }
}

} // namespace

int ResyncSharing(UninstallSession* session, const char* keyPath, UINT32 kinds)
{
    if (keyPath == nullptr || keyPath[0] == '\0') {
        return 0;
    }
    Products p;
    p.session = reinterpret_cast<UINT_PTR>(session);
    p.mode = kinds & (SHARING_DLL | SHARING_REGISTRY);
    bool result = ReadProductList(p, keyPath);
    if (result && !p.databases.empty()) {
        RebuildCounts(p);
    }
    // Stage 3: every product's database goes, whatever the result.
    for (DatabaseHandle db : p.databases) {
        CloseObjectDatabase(db);
    }
    return result ? 1 : 0;
}
