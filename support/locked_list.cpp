#include "support/locked_list.h"

#include "support/memory.h"

#include <string.h>

namespace {

// One item: its name text lives in the same block behind the fields.
struct ListItem {
    const char* name;
    UINT_PTR key;     // a named item's key is its value
    DWORD owner;      // thread holding the item's lock, 0 when none
    UINT32 lockCount; // depth of the owner's lock
    UINT32 useCount;  // sets minus removals; the item is freed at 0
    UINT_PTR value;
    ListItem* next; // the items form a ring
    ListItem* prev;
    ListItem* keyNext; // chains of the list's index, when it has one
    ListItem* nameNext;
    UINT32 nameHash;
    char nameText[1];
};

// An index of a long list's keys and names: hash chains over the same items. It only shortens the
// search; which item a lookup gives is decided exactly as without it (the cursors first, then the
// first match from the front).
struct ListIndex {
    UINT32 mask; // bucket count - 1; the count is a power of two
    ListItem** keys;
    ListItem** names;
};

// A list header; its address is the list's handle, valid while a header in the chain holds it as self.
struct ListHeader {
    ListHeader* self;
    UINT32 count;
    ListItem* first;
    ListItem* last;
    ListItem* forward;  // item last reached going forward (first, next, find, move)
    ListItem* backward; // item last reached going backward (last, prev, find, move)
    ListHeader* nextList;
    ListHeader* prevList;
    ListIndex* index;     // made once the list is long enough to need one
    ListHeader* hashNext; // chain of the registry's table of live headers
};

enum : LONG { REGISTRY_NEW = 0, REGISTRY_STARTING = 1, REGISTRY_READY = 2 };

struct ListRegistry {
    volatile LONG state;
    CRITICAL_SECTION lock;
    ListHeader* head; // newest list first
    UINT64 comparisons;
    // Live headers by address, so that a handle is checked without walking every list.
    ListHeader** table;
    UINT32 tableMask; // bucket count - 1
    UINT32 lists;
};

ListRegistry g_registry;

// What a guarded body returns when it met an item that another thread holds locked.
const int LIST_RETRY = -1;

bool RegistryReady()
{
    return InterlockedCompareExchange(&g_registry.state, 0, 0) == REGISTRY_READY;
}

// The critical section is made once for the life of the process and never deleted; two threads that
// create their first lists at once both see it made exactly once.
void RegistryStart()
{
    if (RegistryReady()) {
        return;
    }
    if (InterlockedCompareExchange(&g_registry.state, REGISTRY_STARTING, REGISTRY_NEW) == REGISTRY_NEW) {
        InitializeCriticalSection(&g_registry.lock);
        InterlockedExchange(&g_registry.state, REGISTRY_READY);
        return;
    }
    while (!RegistryReady()) {
        Sleep(0);
    }
}

// Runs body inside the critical section; when it reports a blocked item, leaves the section, sleeps
// 5 ms and runs it again from the start. Nothing is kept between tries.
template <class Body>
int RunGuarded(Body body)
{
    if (!RegistryReady()) {
        return 0;
    }
    for (;;) {
        EnterCriticalSection(&g_registry.lock);
        int result = body();
        LeaveCriticalSection(&g_registry.lock);
        if (result != LIST_RETRY) {
            return result;
        }
        Sleep(5);
    }
}

UINT32 HashHandle(ListHandle list)
{
    UINT64 h = static_cast<UINT64>(list) * 0x9E3779B97F4A7C15ull;
    return static_cast<UINT32>(h >> 32);
}

// A handle is valid while a live header has that address. Only headers in the table are read, never
// the memory a stale handle points to.
ListHeader* FindHeader(ListHandle list)
{
    if (g_registry.table == nullptr) {
        return nullptr;
    }
    for (ListHeader* h = g_registry.table[HashHandle(list) & g_registry.tableMask]; h != nullptr; h = h->hashNext) {
        if (reinterpret_cast<ListHandle>(h) == list && h->self == h) {
            return h;
        }
    }
    return nullptr;
}

// Adds a header to the table, growing it when it gets crowded; false when there is no table at all.
bool TableInsert(ListHeader* h)
{
    UINT32 buckets = g_registry.table != nullptr ? g_registry.tableMask + 1 : 0;
    if (g_registry.lists + 1 > buckets) {
        UINT32 grown = buckets == 0 ? 64 : buckets * 2;
        ListHeader** table = static_cast<ListHeader**>(MemAlloc(grown * sizeof(ListHeader*)));
        if (table != nullptr) {
            for (UINT32 b = 0; b < buckets; b++) {
                for (ListHeader* x = g_registry.table[b]; x != nullptr;) {
                    ListHeader* next = x->hashNext;
                    ListHeader** slot = &table[HashHandle(reinterpret_cast<ListHandle>(x)) & (grown - 1)];
                    x->hashNext = *slot;
                    *slot = x;
                    x = next;
                }
            }
            MemFree(g_registry.table);
            g_registry.table = table;
            g_registry.tableMask = grown - 1;
        } else if (g_registry.table == nullptr) {
            return false;
        }
        // Without memory to grow, the chains only get longer.
    }
    ListHeader** slot = &g_registry.table[HashHandle(reinterpret_cast<ListHandle>(h)) & g_registry.tableMask];
    h->hashNext = *slot;
    *slot = h;
    g_registry.lists++;
    return true;
}

void TableErase(ListHeader* h)
{
    for (ListHeader** p = &g_registry.table[HashHandle(reinterpret_cast<ListHandle>(h)) & g_registry.tableMask];
         *p != nullptr; p = &(*p)->hashNext) {
        if (*p == h) {
            *p = h->hashNext;
            g_registry.lists--;
            return;
        }
    }
}

bool Blocked(const ListItem* item)
{
    return item->lockCount != 0 && item->owner != GetCurrentThreadId();
}

void TakeLock(ListItem* item)
{
    item->lockCount++;
    item->owner = GetCurrentThreadId();
}

// Lists shorter than this are searched item by item; longer ones get an index.
const UINT32 INDEX_FROM = 32;

UINT32 HashKey(UINT_PTR key)
{
    UINT64 h = static_cast<UINT64>(key) * 0x9E3779B97F4A7C15ull;
    return static_cast<UINT32>(h >> 32);
}

UINT32 HashName(const char* name)
{
    UINT32 h = 2166136261u;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p != 0; p++) {
        h = (h ^ *p) * 16777619u;
    }
    return h;
}

void IndexInsert(ListIndex* index, ListItem* item)
{
    ListItem** keySlot = &index->keys[HashKey(item->key) & index->mask];
    item->keyNext = *keySlot;
    *keySlot = item;
    if (item->name[0] != '\0') {
        ListItem** nameSlot = &index->names[item->nameHash & index->mask];
        item->nameNext = *nameSlot;
        *nameSlot = item;
    }
}

void IndexErase(ListIndex* index, ListItem* item)
{
    for (ListItem** p = &index->keys[HashKey(item->key) & index->mask]; *p != nullptr; p = &(*p)->keyNext) {
        if (*p == item) {
            *p = item->keyNext;
            break;
        }
    }
    if (item->name[0] != '\0') {
        for (ListItem** p = &index->names[item->nameHash & index->mask]; *p != nullptr; p = &(*p)->nameNext) {
            if (*p == item) {
                *p = item->nameNext;
                break;
            }
        }
    }
}

void IndexFree(ListHeader* h)
{
    if (h->index != nullptr) {
        MemFree(h->index->keys);
        MemFree(h->index->names);
        MemFree(h->index);
        h->index = nullptr;
    }
}

// Makes (or grows) the index when the list has outgrown it. Without memory the list simply goes on
// without an index.
void IndexFit(ListHeader* h)
{
    if (h->count < INDEX_FROM || (h->index != nullptr && h->count <= h->index->mask + 1)) {
        return;
    }
    UINT32 buckets = 64;
    while (buckets < 2 * h->count) {
        buckets *= 2;
    }
    ListIndex* index = static_cast<ListIndex*>(MemAlloc(sizeof(ListIndex)));
    ListItem** keys = static_cast<ListItem**>(MemAlloc(buckets * sizeof(ListItem*)));
    ListItem** names = static_cast<ListItem**>(MemAlloc(buckets * sizeof(ListItem*)));
    if (index == nullptr || keys == nullptr || names == nullptr) {
        MemFree(index);
        MemFree(keys);
        MemFree(names);
        return;
    }
    IndexFree(h);
    index->mask = buckets - 1;
    index->keys = keys;
    index->names = names;
    ListItem* item = h->first;
    for (UINT32 i = 0; i < h->count; i++, item = item->next) {
        IndexInsert(index, item);
    }
    h->index = index;
}

// The first item from the front that matches, found through the index: a single match in its chain
// is that item; several matches (a key or name used twice) are settled by a walk from the front.
// Returns false when the list has no index.
template <class Match, class Next>
bool IndexLookup(ListHeader* h, ListItem* chain, Match match, Next next, ListItem** found)
{
    if (h->index == nullptr) {
        return false;
    }
    ListItem* hit = nullptr;
    for (ListItem* item = chain; item != nullptr; item = next(item)) {
        g_registry.comparisons++;
        if (match(item)) {
            if (hit != nullptr) {
                return false; // more than one: the walk decides
            }
            hit = item;
        }
    }
    *found = hit;
    return true;
}

// The cursors first (forward then backward, or the other way round for backward walks), then the
// items from the first to the last.
template <class Match, class Indexed>
ListItem* Lookup(ListHeader* h, bool backwardFirst, Match match, Indexed indexed)
{
    ListItem* cursors[2] = {h->forward, h->backward};
    if (backwardFirst) {
        cursors[0] = h->backward;
        cursors[1] = h->forward;
    }
    for (ListItem* c : cursors) {
        if (c != nullptr) {
            g_registry.comparisons++;
            if (match(c)) {
                return c;
            }
        }
    }
    bool decided = false;
    ListItem* hit = indexed(&decided);
    if (decided) {
        return hit;
    }
    ListItem* item = h->first;
    for (UINT32 i = 0; i < h->count; i++, item = item->next) {
        g_registry.comparisons++;
        if (match(item)) {
            return item;
        }
    }
    return nullptr;
}

ListItem* LookupKey(ListHeader* h, UINT_PTR key, bool backwardFirst = false)
{
    auto match = [key](const ListItem* item) { return item->key == key; };
    auto indexed = [h, key, match](bool* decided) -> ListItem* {
        ListItem* found = nullptr;
        *decided = h->index != nullptr && IndexLookup(
                                              h, h->index->keys[HashKey(key) & h->index->mask], match,
                                              [](const ListItem* item) { return item->keyNext; }, &found);
        return found;
    };
    return Lookup(h, backwardFirst, match, indexed);
}

ListItem* LookupName(ListHeader* h, const char* name)
{
    auto match = [name](const ListItem* item) { return strcmp(item->name, name) == 0; };
    auto indexed = [h, name](bool* decided) -> ListItem* {
        ListItem* found = nullptr;
        UINT32 hash = HashName(name);
        *decided = h->index != nullptr && IndexLookup(
                                              h, h->index->names[hash & h->index->mask],
                                              [name, hash](const ListItem* item) {
                                                  return item->nameHash == hash && strcmp(item->name, name) == 0;
                                              },
                                              [](const ListItem* item) { return item->nameNext; }, &found);
        return found;
    };
    return Lookup(h, false, match, indexed);
}

void Append(ListHeader* h, ListItem* item)
{
    if (h->index != nullptr) {
        IndexInsert(h->index, item);
    }
    if (h->first == nullptr) {
        h->first = h->last = item;
        item->next = item->prev = item;
    } else {
        item->prev = h->last;
        item->next = h->first;
        h->last->next = item;
        h->first->prev = item;
        h->last = item;
    }
    h->count++;
    IndexFit(h);
}

void Unlink(ListHeader* h, ListItem* item)
{
    if (h->index != nullptr) {
        IndexErase(h->index, item);
    }
    if (h->count == 1) {
        h->first = h->last = nullptr;
    } else {
        item->prev->next = item->next;
        item->next->prev = item->prev;
        if (h->first == item) {
            h->first = item->next;
        }
        if (h->last == item) {
            h->last = item->prev;
        }
    }
    h->count--;
    if (h->forward == item) {
        h->forward = nullptr;
    }
    if (h->backward == item) {
        h->backward = nullptr;
    }
}

ListItem* NewItem(const char* name)
{
    size_t length = name != nullptr ? strlen(name) : 0;
    size_t size = (offsetof(ListItem, nameText) + length + 4) & ~static_cast<size_t>(3);
    ListItem* item = static_cast<ListItem*>(MemAlloc(size));
    if (item == nullptr) {
        return nullptr;
    }
    if (length != 0) {
        memcpy(item->nameText, name, length);
    }
    item->name = item->nameText;
    item->nameHash = HashName(item->name);
    return item;
}

void ClearOut(UINT_PTR* value)
{
    if (value != nullptr) {
        *value = 0;
    }
}

// Hands an item reached by a lookup or a walk to the caller: the lock rule, then the value.
// LIST_RETRY when another thread holds the item.
int Deliver(ListItem* item, UINT_PTR* value, int lock)
{
    if (lock) {
        if (Blocked(item)) {
            return LIST_RETRY;
        }
        TakeLock(item);
    }
    if (value != nullptr) {
        *value = item->value;
    }
    return 1;
}

} // namespace

ListHandle ListCreate()
{
    RegistryStart();
    EnterCriticalSection(&g_registry.lock);
    ListHeader* h = static_cast<ListHeader*>(MemAlloc(sizeof(ListHeader)));
    if (h != nullptr && !TableInsert(h)) {
        MemFree(h);
        h = nullptr;
    }
    if (h != nullptr) {
        h->self = h;
        h->nextList = g_registry.head;
        if (g_registry.head != nullptr) {
            g_registry.head->prevList = h;
        }
        g_registry.head = h;
    }
    LeaveCriticalSection(&g_registry.lock);
    return reinterpret_cast<ListHandle>(h);
}

int ListDestroy(ListHandle list)
{
    bool existed = false;
    int result = RunGuarded([&]() -> int {
        ListHeader* h = FindHeader(list);
        if (h == nullptr) {
            return 0;
        }
        existed = true;
        // Items are freed one by one; an item that another thread holds ends this pass, and the
        // items freed so far stay freed.
        while (h->first != nullptr) {
            ListItem* item = h->first;
            if (Blocked(item)) {
                return LIST_RETRY;
            }
            Unlink(h, item);
            MemFree(item);
        }
        if (h->prevList != nullptr) {
            h->prevList->nextList = h->nextList;
        } else {
            g_registry.head = h->nextList;
        }
        if (h->nextList != nullptr) {
            h->nextList->prevList = h->prevList;
        }
        TableErase(h);
        h->self = nullptr;
        IndexFree(h);
        MemFree(h);
        return 1;
    });
    // Another thread may have destroyed the list while this one waited for an item.
    return result != 0 || existed ? 1 : 0;
}

UINT32 ListCount(ListHandle list)
{
    UINT32 count = 0;
    RunGuarded([&]() -> int {
        ListHeader* h = FindHeader(list);
        if (h != nullptr) {
            count = h->count;
        }
        return 0;
    });
    return count;
}

int ListSetByName(ListHandle list, const char* name, UINT_PTR value)
{
    // Items set by key have empty names, so an empty name would find them: it is refused.
    if (name == nullptr || name[0] == '\0') {
        return 0;
    }
    return RunGuarded([&]() -> int {
        ListHeader* h = FindHeader(list);
        if (h == nullptr) {
            return 0;
        }
        ListItem* item = LookupName(h, name);
        if (item == nullptr) {
            item = NewItem(name);
            if (item == nullptr) {
                return 0;
            }
            item->key = value;
            Append(h, item);
        }
        // A named item's key is its value: a new value moves it in the index.
        if (h->index != nullptr && item->key != value) {
            IndexErase(h->index, item);
            item->key = value;
            IndexInsert(h->index, item);
        }
        item->key = value;
        item->value = value;
        item->useCount++;
        return 1;
    });
}

int ListSetByKey(ListHandle list, UINT_PTR key, UINT_PTR value, int lock)
{
    return RunGuarded([&]() -> int {
        ListHeader* h = FindHeader(list);
        if (h == nullptr) {
            return 0;
        }
        ListItem* item = LookupKey(h, key);
        bool created = false;
        if (item == nullptr) {
            item = NewItem(nullptr);
            if (item == nullptr) {
                return 0;
            }
            created = true;
        }
        if (lock) {
            if (!created && Blocked(item)) {
                return LIST_RETRY;
            }
            TakeLock(item);
        }
        item->key = key;
        if (created) {
            Append(h, item);
        }
        item->value = value;
        item->useCount++;
        return 1;
    });
}

namespace {

// A find: the lookup, the lock rule, the value, and both cursors on the item found.
template <class LookupFn>
int Find(ListHandle list, UINT_PTR* value, int lock, LookupFn lookup)
{
    return RunGuarded([&]() -> int {
        ClearOut(value);
        ListHeader* h = FindHeader(list);
        ListItem* item = h != nullptr ? lookup(h) : nullptr;
        if (item == nullptr) {
            return 0;
        }
        int r = Deliver(item, value, lock);
        if (r == 1) {
            h->forward = h->backward = item;
        }
        return r;
    });
}

} // namespace

int ListFindByName(ListHandle list, const char* name, UINT_PTR* value, int lock)
{
    // Items set by key have empty names: an empty name finds nothing.
    if (name == nullptr || name[0] == '\0') {
        if (RegistryReady()) {
            ClearOut(value);
        }
        return 0;
    }
    return Find(list, value, lock, [name](ListHeader* h) { return LookupName(h, name); });
}

int ListFindByKey(ListHandle list, UINT_PTR key, UINT_PTR* value, int lock)
{
    return Find(list, value, lock, [key](ListHeader* h) { return LookupKey(h, key); });
}

int ListRemoveByKey(ListHandle list, UINT_PTR key)
{
    return RunGuarded([&]() -> int {
        ListHeader* h = FindHeader(list);
        ListItem* item = h != nullptr ? LookupKey(h, key) : nullptr;
        if (item == nullptr) {
            return 0;
        }
        if (Blocked(item)) {
            return LIST_RETRY;
        }
        if (item->useCount != 0) {
            item->useCount--;
        }
        if (item->useCount == 0) {
            Unlink(h, item);
            MemFree(item);
        }
        return 1;
    });
}

int ListFirst(ListHandle list, UINT_PTR* value, int lock)
{
    return RunGuarded([&]() -> int {
        ClearOut(value);
        ListHeader* h = FindHeader(list);
        if (h == nullptr || h->first == nullptr) {
            return 0;
        }
        int r = Deliver(h->first, value, lock);
        if (r == 1) {
            h->forward = h->first;
        }
        return r;
    });
}

int ListLast(ListHandle list, UINT_PTR* value, int lock)
{
    return RunGuarded([&]() -> int {
        ClearOut(value);
        ListHeader* h = FindHeader(list);
        if (h == nullptr || h->last == nullptr) {
            return 0;
        }
        int r = Deliver(h->last, value, lock);
        if (r == 1) {
            h->backward = h->last;
        }
        return r;
    });
}

int ListNext(ListHandle list, UINT_PTR key, UINT_PTR* value, int wrap, int lock)
{
    return RunGuarded([&]() -> int {
        ClearOut(value);
        ListHeader* h = FindHeader(list);
        ListItem* item = h != nullptr ? LookupKey(h, key) : nullptr;
        if (item == nullptr || (item == h->last && !wrap)) {
            return 0;
        }
        ListItem* next = item->next;
        int r = Deliver(next, value, lock);
        if (r == 1) {
            h->forward = next;
        }
        return r;
    });
}

int ListPrev(ListHandle list, UINT_PTR key, UINT_PTR* value, int wrap, int lock)
{
    return RunGuarded([&]() -> int {
        ClearOut(value);
        ListHeader* h = FindHeader(list);
        ListItem* item = h != nullptr ? LookupKey(h, key, true) : nullptr;
        if (item == nullptr || (item == h->first && !wrap)) {
            return 0;
        }
        ListItem* prev = item->prev;
        int r = Deliver(prev, value, lock);
        if (r == 1) {
            h->backward = prev;
        }
        return r;
    });
}

void ListUnlock(ListHandle list, UINT_PTR key)
{
    RunGuarded([&]() -> int {
        ListHeader* h = FindHeader(list);
        ListItem* item = h != nullptr ? LookupKey(h, key) : nullptr;
        if (item != nullptr && item->lockCount != 0 && item->owner == GetCurrentThreadId()) {
            if (--item->lockCount == 0) {
                item->owner = 0;
            }
        }
        return 0;
    });
}

UINT32 ListUseCount(ListHandle list, UINT_PTR key)
{
    UINT32 uses = 0;
    RunGuarded([&]() -> int {
        ListHeader* h = FindHeader(list);
        ListItem* item = h != nullptr ? LookupKey(h, key) : nullptr;
        if (item != nullptr) {
            uses = item->useCount;
        }
        return 0;
    });
    return uses;
}

int ListMove(ListHandle list, UINT_PTR position, UINT_PTR key)
{
    return RunGuarded([&]() -> int {
        ListHeader* h = FindHeader(list);
        ListItem* x = h != nullptr ? LookupKey(h, key) : nullptr;
        if (x == nullptr) {
            return 0;
        }
        h->forward = h->backward = x;
        ListItem* firstBefore = h->first;
        ListItem* lastBefore = h->last;

        // The anchor behind which x will stand.
        ListItem* anchor = h->last;
        if (position != LIST_FRONT && position != LIST_END) {
            anchor = nullptr;
            ListItem* item = h->first;
            for (UINT32 i = 0; i < h->count; i++, item = item->next) {
                if (item->key == position) {
                    anchor = item;
                    break;
                }
            }
            if (anchor == nullptr) {
                return 0;
            }
            if (anchor != x && x == h->first) {
                h->first = x->next;
            }
        }

        bool relinked = false;
        if (anchor != x && anchor->next != x) {
            x->prev->next = x->next;
            x->next->prev = x->prev;
            x->next = anchor->next;
            x->prev = anchor;
            anchor->next->prev = x;
            anchor->next = x;
            relinked = true;
        }

        // The ring is right now; make first and last agree with it.
        if (position == LIST_END) {
            h->last = x;
            if (h->last->next != h->first) {
                h->first = h->last->next;
            }
        } else {
            if (position == LIST_FRONT) {
                h->first = x;
            }
            if (h->first->prev != h->last) {
                h->last = h->first->prev;
            }
        }
        return relinked || h->first != firstBefore || h->last != lastBefore ? 1 : 0;
    });
}

UINT64 ListLookupComparisons()
{
    if (!RegistryReady()) {
        return 0;
    }
    EnterCriticalSection(&g_registry.lock);
    UINT64 count = g_registry.comparisons;
    LeaveCriticalSection(&g_registry.lock);
    return count;
}
