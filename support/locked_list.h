#pragma once
// Process-wide, thread-safe lists: the program's one container. Items carry a pointer-sized value
// (as a rule the address of a record the caller owns) and are found by a name or by a key. One
// critical section guards every list; each item also has a recursive per-thread lock that callers take
// through the lookups (lock argument non-zero) and give back with ListUnlock. A thread that meets an
// item locked by another thread never waits inside the critical section: it leaves, sleeps 5 ms and
// starts the operation again.
//
// Every operation returns 0 (and leaves 0 in its out-value) when no list has the handle, the key or
// the name is absent, or no list was ever created.
#include <windows.h>

typedef UINT_PTR ListHandle;

// Position keys of ListMove.
const UINT_PTR LIST_FRONT = 0;
const UINT_PTR LIST_END = 0x7fffffff;

ListHandle ListCreate();
// Frees every item (waiting for items that other threads hold locked) and the list; 1 if it existed.
int ListDestroy(ListHandle list);
UINT32 ListCount(ListHandle list);

// Creates the item or, when the name (key) is there, replaces its value and adds one use.
// A named item's key is its value.
int ListSetByName(ListHandle list, const char* name, UINT_PTR value);
int ListSetByKey(ListHandle list, UINT_PTR key, UINT_PTR value, int lock);

int ListFindByName(ListHandle list, const char* name, UINT_PTR* value, int lock);
int ListFindByKey(ListHandle list, UINT_PTR key, UINT_PTR* value, int lock);

// Takes one use from the item; it is freed when none is left. 1 when the item was found.
int ListRemoveByKey(ListHandle list, UINT_PTR key);

// Walks: ListFirst, then ListNext with the value just given as the key (and backwards likewise).
int ListFirst(ListHandle list, UINT_PTR* value, int lock);
int ListNext(ListHandle list, UINT_PTR key, UINT_PTR* value, int wrap, int lock);
int ListLast(ListHandle list, UINT_PTR* value, int lock);
int ListPrev(ListHandle list, UINT_PTR key, UINT_PTR* value, int wrap, int lock);

void ListUnlock(ListHandle list, UINT_PTR key);
UINT32 ListUseCount(ListHandle list, UINT_PTR key);

// Moves the item with key behind the item whose key is position (LIST_FRONT: to the front, LIST_END:
// to the end). 1 when the order or the ends changed.
int ListMove(ListHandle list, UINT_PTR position, UINT_PTR key);

// Number of item comparisons that lookups have made in this process (a figure for tests and
// benchmarks: a walk with ListNext or ListPrev costs one per step).
UINT64 ListLookupComparisons();
