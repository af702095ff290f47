#pragma once
// Shared by the files of the shell layer; not for other modules.
#include "system/shell_item.h"

#include "support/startup.h"

// Joins COM for the life of a scope.
struct ComScope {
    bool joined;
    ComScope() : joined(ComAcquire() == 1) {}
    ~ComScope()
    {
        if (joined) {
            ComRelease();
        }
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
};

// Bytes of an ID list without its terminator.
UINT ShellIdListSize(LPCITEMIDLIST list);

// Resolves an item from a starting folder: the item's allocator is set and its ID list holds the
// prefix that leads to start. Either path (one piece after the other) or ids (one ID after the other)
// is walked from start; the last ID reached is the item.
bool ShellResolve(ShellItem* item, IShellFolder* start, const char* path, LPCITEMIDLIST ids);

// Desktop-relative equality of two absolute ID lists.
bool ShellSameIdList(LPCITEMIDLIST a, LPCITEMIDLIST b);
