// The counts of shared objects: reading, raising and lowering them in both stores, releasing a shared
// object, and making sure a counter's (or any object's) container exists.
#include "engine/shared_objects.h"

#include "engine/executor.h"
#include "engine/release_journal.h"
#include "script/groups.h"
#include "script/object_keys.h"
#include "script/object_text.h"
#include "support/guards.h"
#include "support/strings.h"
#include "system/shell_item.h"
#include "system/system_state.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

// The kind keys of the shared-object registry, one per type of object.
struct KindKey {
    UINT32 type;
    const char* name;
    const char* subkey;
};

const KindKey kKindKeys[] = {
    {OBJECT_FILE, "SHARING_HKEY_FILES", "Shared Files"},    {OBJECT_DIRECTORY, "SHARING_HKEY_DIRS", "Shared Folders"},
    {OBJECT_GROUP, "SHARING_HKEY_GROUPS", "Shared Groups"}, {OBJECT_REGKEY, "SHARING_HKEY_KEYS", "Shared Keys"},
    {OBJECT_REGITEM, "SHARING_HKEY_ITEMS", "Shared Items"},
};

const KindKey* KindKeyOf(UINT32 type)
{
    for (const KindKey& k : kKindKeys) {
        if (k.type == type) {
            return &k;
        }
    }
    return nullptr;
}

// A counter is a "_COUNTER" registry item.
bool IsCounter(const InstallObject* o)
{
    return o != nullptr &&
           (ObjectFlagsOf(o) & (OBJECT_COUNTER | OBJECT_TYPE_MASK)) == (OBJECT_COUNTER | OBJECT_REGITEM);
}

// The counter's name: the shared object's name (one longer than 30 characters loses its first
// character and begins with "...") and "_", in 31 characters.
void CounterName(const char* objectName, char* name)
{
    const size_t room = OBJECT_NAME_SIZE - 1;
    char base[OBJECT_NAME_SIZE + 1] = {};
    lstrcpynA(base, objectName, sizeof(base));
    if (strlen(base) > room - 1) {
        memmove(base, base + 1, strlen(base)); // the terminator moves along
        memcpy(base, "...", 3);
    }
    snprintf(name, OBJECT_NAME_SIZE, "%s_", base);
}

// One count operation on one object.
struct Count {
    InstallObject* o;
    ObjectDatabase* d;
    int delta;
    UINT32 options;
    HeapText path; // a file's full path (read once), or a container's path for the registry store
    long count = 0;
    long dllCount = 0;
    InstallObject* counter = nullptr;
    int result = -1;
};

long ParseCount(const char* text)
{
    unsigned long value = text != nullptr ? strtoul(text, nullptr, 10) : 0;
    return static_cast<long>(value < COUNT_LIMIT ? value : COUNT_LIMIT);
}

// The SharedDLLs count and the "Shared Files" count of a file, and which stores apply to it.
void ReadFileCounts(Count& c)
{
    InstallObject* o = c.o;
    ObjectDatabase* d = c.d;
    c.path.reset(GetObjectPath(ObjectIdOf(o), 0, nullptr, 0));
    if (!c.path) {
        return;
    }
    long dll = static_cast<long>(AdjustCounterValue(nullptr, c.path.get(), 0, 0));
    c.dllCount = dll < 0 ? 0 : dll;
    bool key = ObjectShareKeyOf(o)[0] != '\0', sharingKey = DatabaseSharingKeyOf(d) != 0;
    if (sharingKey && !key) {
        HKEY files = nullptr;
        int mustClose = 0;
        if (OpenObjectKeyRead(DatabaseSharingKeyOf(d), "Shared Files", nullptr, nullptr, nullptr, nullptr, &files,
                              &mustClose) == ERROR_SUCCESS) {
            long registry = static_cast<long>(AdjustCounterValue(files, c.path.get(), 0, 0));
            c.count = registry < 0 ? 0 : registry;
            if (mustClose) {
                CloseRegKey(files);
            }
        }
    }
    bool sharedDll = (ObjectStateOf(o) & STATE_SHARED_DLL) != 0;
    if (!key && (sharedDll || !sharingKey)) {
        c.options &= ~SHARING_REGISTRY;
    }
    if (sharedDll || (ObjectStateOf(o) & STATE_IN_SHARED_DLLS) || (!sharingKey && !key)) {
        c.options |= SHARING_DLL;
    }
    if (key || (ObjectStateOf(o) & (STATE_SHARE_WITHOUT_KEY | STATE_SHARE_UNDER_OTHER_KEY))) {
        c.options |= SHARING_REGISTRY;
    }
    c.options |= (c.dllCount > 0 ? SHARING_DLL : 0) | (c.count > 0 ? SHARING_REGISTRY : 0);
    if (!(c.options & (SHARING_DLL | SHARING_REGISTRY))) {
        c.options |= SHARING_DLL;
    }
    c.count = c.count > c.dllCount ? c.count : c.dllCount;
}

// The kind key object below the sharing key, found or made; null when the name is taken otherwise.
InstallObject* KindKeyObject(ObjectDatabase* d, const KindKey& kind)
{
    ObjectId id = FindObjectByName(DatabaseHandleOf(d), kind.name);
    InstallObject* k = LockObject(id);
    ReleaseObject(k);
    if (k != nullptr) {
        return ObjectType(k) == OBJECT_REGKEY && ObjectParentOf(k) == DatabaseSharingKeyOf(d) ? k : nullptr;
    }
    InstallObject* sharing = LockObject(DatabaseSharingKeyOf(d));
    ReleaseObject(sharing);
    UINT32 touched = sharing != nullptr ? ObjectFlagsOf(sharing) & OBJECT_TOUCHED : 0;
    id = AddObject(DatabaseHandleOf(d), kind.name, OBJECT_REGKEY);
    if (id == 0 || !SetObjectParent(id, DatabaseSharingKeyOf(d)) || !SetObjectTargetPath(id, kind.subkey) ||
        !SetObjectFlags(id, OBJECT_REMOVABLE)) {
        return nullptr;
    }
    if (sharing != nullptr) {
        UnmarkObject(sharing, OBJECT_TOUCHED); // creating kind keys does not touch it
        MarkObject(sharing, touched);
    }
    k = LockObject(id);
    ReleaseObject(k);
    return k;
}

// Gives an object that has no share key a counter under the database's sharing key.
void MakeCounter(Count& c)
{
    InstallObject* o = c.o;
    if (!c.path) {
        c.path.reset(GetObjectPath(ObjectIdOf(o), PATH_CONTAINER, nullptr, 0));
    }
    const KindKey* kind = KindKeyOf(ObjectType(o));
    InstallObject* kindKey = c.path && kind != nullptr ? KindKeyObject(c.d, *kind) : nullptr;
    if (kindKey == nullptr) {
        return;
    }
    char name[OBJECT_NAME_SIZE];
    CounterName(ObjectNameOf(o), name);
    ObjectId counter = AddObject(DatabaseHandleOf(c.d), name, OBJECT_REGITEM);
    if (counter == 0 || !SetObjectParent(counter, ObjectIdOf(kindKey)) ||
        !SetObjectFlags(counter, OBJECT_REMOVABLE | OBJECT_COUNTER) || !SetObjectTargetPath(counter, c.path.get())) {
        return;
    }
    InstallObject* made = LockObject(counter);
    SetObjectStateBits(made, STATE_UNDER_OWN_SHARING_KEY);
    ReleaseObject(made);
    SetObjectStateBits(o, STATE_SHARE_WITHOUT_KEY);
    SetObjectShareKeyName(o, name);
}

// The counter an object's share key names; where it lies is noted on both.
InstallObject* FindCounter(Count& c)
{
    InstallObject* o = c.o;
    InstallObject* counter = LockObject(FindObjectByName(DatabaseHandleOf(c.d), ObjectShareKeyOf(o)));
    ReleaseObject(counter);
    if (!IsCounter(counter)) {
        SetObjectShareKeyName(o, "");
        return nullptr;
    }
    if (!(ObjectStateOf(o) & (STATE_SHARE_WITHOUT_KEY | STATE_SHARE_UNDER_OTHER_KEY))) {
        if (DatabaseSharingKeyOf(c.d) != 0 &&
            GetParentObject(GetParentObject(ObjectIdOf(counter))) == DatabaseSharingKeyOf(c.d)) {
            SetObjectStateBits(counter, STATE_UNDER_OWN_SHARING_KEY);
            SetObjectStateBits(o, STATE_SHARE_WITHOUT_KEY);
        } else {
            SetObjectStateBits(o, STATE_SHARE_UNDER_OTHER_KEY);
        }
    }
    return counter;
}

// Opens the key that holds a counter's value: its parent key object's key. (Through the counter item
// itself the value name would be trimmed, and a folder's or key's counter, named by a path that ends in
// a backslash, could never be read or written.)
bool OpenCounterKey(InstallObject* counter, REGSAM access, HKEY* key, int* mustClose)
{
    return OpenObjectKey(ObjectParentOf(counter), nullptr, nullptr, access, nullptr, nullptr, nullptr, key,
                         mustClose) == ERROR_SUCCESS;
}

// The counter's count: its cached contents, or read afresh from its value.
long ReadCounter(Count& c, const char* valueName)
{
    InstallObject* counter = c.counter;
    bool cached = (ObjectStateOf(counter) & STATE_COUNT_CACHED) != 0;
    long count = 0;
    if (!(c.options & SHARE_READ_AGAIN) && cached) {
        count = ParseCount(ObjectContentsOf(counter));
    } else {
        HKEY key = nullptr;
        int mustClose = 0;
        if (OpenCounterKey(counter, KEY_READ, &key, &mustClose)) {
            count = static_cast<long>(AdjustCounterValue(key, valueName, 0, 0));
            if (mustClose) {
                CloseRegKey(key);
            }
        } else {
            count = cached ? ParseCount(ObjectContentsOf(counter)) : 0;
        }
    }
    count = count < 0 ? 0 : count;
    SetObjectStateBits(counter, STATE_COUNT_CACHED);
    return count < c.dllCount ? c.dllCount : count;
}

// Raises or lowers a count by one; with once, a counter goes each way at most once in a run.
long ApplyDelta(long count, int delta, InstallObject* counter, bool once)
{
    if (delta > 0) {
        if (once && counter != nullptr && (ObjectStateOf(counter) & STATE_COUNT_RAISED)) {
            return count;
        }
        if (once && counter != nullptr) {
            SetObjectStateBits(counter, STATE_COUNT_RAISED);
        }
        return count + 1;
    }
    if (delta < 0) {
        if (once && counter != nullptr && (ObjectStateOf(counter) & STATE_COUNT_LOWERED)) {
            return count;
        }
        if (once && counter != nullptr) {
            SetObjectStateBits(counter, STATE_COUNT_LOWERED);
        }
        return count > 0 ? count - 1 : 0;
    }
    return count;
}

// Writes the count back to the counter's value, one step at a time.
void WriteCounter(Count& c, const char* valueName)
{
    HKEY key = nullptr;
    int mustClose = 0;
    if (!OpenCounterKey(c.counter, KEY_ALL_ACCESS, &key, &mustClose)) {
        return;
    }
    BringCounterValue(key, valueName, static_cast<UINT32>(c.count), 0);
    if (mustClose) {
        CloseRegKey(key);
    }
}

// The shared-object registry: the counter made or found, its count read, changed, cached and written.
void RegistryStore(Count& c)
{
    if (ObjectShareKeyOf(c.o)[0] == '\0' && DatabaseSharingKeyOf(c.d) != 0) {
        MakeCounter(c);
    }
    if (ObjectShareKeyOf(c.o)[0] == '\0' || (c.counter = FindCounter(c)) == nullptr) {
        return;
    }
    HeapText valueName(GetObjectLeafName(ObjectIdOf(c.counter), 0, nullptr, 0));
    if (!valueName) {
        return;
    }
    c.count = ReadCounter(c, valueName.get());
    c.count = ApplyDelta(c.count, c.delta, c.counter, (c.options & SHARE_ONCE) != 0);
    char text[16];
    snprintf(text, sizeof(text), "%lu", static_cast<unsigned long>(c.count));
    if (ObjectContentsOf(c.counter) == nullptr || strcmp(ObjectContentsOf(c.counter), text) != 0) {
        SetObjectContents(ObjectIdOf(c.counter), text);
    }
    if (c.options & SHARE_WRITE_BACK) {
        WriteCounter(c, valueName.get());
    }
    c.result = static_cast<int>(c.count);
}

// SharedDLLs: a file counted there is marked so; its value follows the count.
void DllStore(Count& c)
{
    SetObjectStateBits(c.o, STATE_IN_SHARED_DLLS);
    if (!(c.options & SHARE_WRITE_BACK) && c.counter != nullptr) {
        return; // the registry store's count stands
    }
    if (c.result < 0) {
        c.count = ApplyDelta(c.count, c.delta, nullptr, false);
    }
    BringCounterValue(nullptr, c.path.get(), static_cast<UINT32>(c.count), 1);
    c.result = static_cast<int>(c.count);
}

bool TakesPart(const InstallObject* o, int delta)
{
    bool shared = (ObjectFlagsOf(o) & OBJECT_SHARED) != 0, release = (ObjectFlagsOf(o) & MARK_RELEASE) != 0;
    return (delta >= 0 && shared && !release) || (delta <= 0 && shared && release);
}

} // namespace

int UpdateSharedCount(ObjectId id, int delta, UINT32 options)
{
    HeldObject guard(id);
    InstallObject* o = guard.object();
    if (o == nullptr || !TakesPart(o, delta)) {
        return -1;
    }
    Count c = {o, guard.database(), delta, options, {}};
    if (ObjectType(o) != OBJECT_FILE) {
        c.options = (c.options & ~SHARING_DLL) | SHARING_REGISTRY; // only the shared-object registry counts these
    } else {
        ReadFileCounts(c);
    }
    if (c.options & SHARING_REGISTRY) {
        RegistryStore(c);
    }
    if ((c.options & SHARING_DLL) && ObjectType(o) == OBJECT_FILE && c.path) {
        DllStore(c);
    }
    return c.result;
}

int ReleaseSharedObject(ObjectId id, int maxCoverCount, int ignoreCover)
{
    HeldObject guard(id);
    InstallObject* o = guard.object();
    const UINT32 releasable = OBJECT_REMOVABLE | OBJECT_SHARED | MARK_RELEASE;
    if (o == nullptr || (ObjectFlagsOf(o) & releasable) != releasable) {
        return 0;
    }
    UINT32 mode = DatabaseSharingModeOf(guard.database());
    // An earlier, interrupted run of this removal may have lowered this count already. The record's
    // entry is the object's type and its full path, of whatever length.
    HeapText path(GetObjectPath(id, PATH_CONTAINER, nullptr, 0));
    std::string entry = path ? std::to_string(ObjectType(o)) + ":" + path.get() : std::string();
    bool journaled = !entry.empty();
    int n = 0;
    if (journaled && ReleaseJournalHas(entry.c_str())) {
        n = UpdateSharedCount(id, 0, mode);
    } else {
        n = UpdateSharedCount(id, -1, mode | SHARE_ONCE | SHARE_WRITE_BACK);
        if (journaled && n >= 0) {
            ReleaseJournalAdd(entry.c_str());
        }
    }
    if (n <= 0) {
        return 1;
    }
    // Other products still count it: it goes only with an ancestor that takes its contents along, and
    // then its count goes to 0.
    if (!ignoreCover && IsCoveredByAncestor(id, maxCoverCount, 1, 0) != 1) {
        return 0;
    }
    while (n > 0) {
        int next = UpdateSharedCount(id, -1, mode | SHARE_WRITE_BACK);
        if (next < 0 || next >= n) {
            break;
        }
        n = next;
    }
    return 1;
}

int AnswerQueryEvent(ObjectId id)
{
    HeldObject guard(id);
    InstallObject* o = guard.object();
    if (o == nullptr) {
        return CALLBACK_DROP;
    }
    if (ObjectFlagsOf(o) & OBJECT_TOUCHED) {
        return CALLBACK_KEEP;
    }
    // The sharing tree that the script did not name stays only when something is counted in it.
    if (ObjectType(o) == OBJECT_REGKEY && (ObjectStateOf(o) & STATE_SHARING_KEY) &&
        strcmp(ObjectNameOf(o), "SHARING_HKEY") == 0) {
        const char* const kinds[] = {"Shared Files", "Shared Items", "Shared Folders", "Shared Groups", "Shared Keys"};
        for (const char* kind : kinds) {
            if (OpenObjectKeyRead(id, kind, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
                MarkObject(o, OBJECT_REMOVABLE | OBJECT_TOUCHED);
                return CALLBACK_KEEP;
            }
        }
    }
    return CALLBACK_DROP;
}
