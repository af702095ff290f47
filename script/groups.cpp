#include "script/groups.h"

#include "system/shell_item.h"
#include "script/object_internal.h"
#include "script/object_text.h"
#include "support/memory.h"

#include <string.h>

int SelectGroup(ObjectId id)
{
    ObjectGuard guard(id);
    InstallObject* o = guard.object();
    ObjectDatabase* d = guard.database();
    if (o == nullptr) {
        return 0;
    }
    if (d->currentGroup == id) {
        return 1;
    }
    if ((o->flags & (OBJECT_TYPE_MASK | MARK_SELECTED)) != (OBJECT_GROUP | MARK_SELECTED)) {
        return 0;
    }
    if (d->flags & DATABASE_PROGMAN_GROUPS) {
        return 0; // Program Manager groups: not part of the program yet
    }
    if (o->handle == 0) {
        return 0;
    }
    d->currentGroup = id;
    return 1;
}

int ResolveGroup(ObjectId id, int select, int checkOnly)
{
    ObjectGuard guard(id);
    InstallObject* o = guard.object();
    ObjectDatabase* d = guard.database();
    if (o == nullptr || ObjectType(o) != OBJECT_GROUP) {
        return 0;
    }
    if ((o->flags & MARK_SELECTED) || (o->state & STATE_READ_ONLY)) {
        return 1;
    }
    if (d->flags & DATABASE_PROGMAN_GROUPS) {
        return 0; // Program Manager groups: not part of the program yet
    }
    // Shell folders: the group lives in one of the two Programs folders.
    InstallObject* parent = FindObjectIn(d, o->parent);
    if (parent == nullptr || (parent->flags & (OBJECT_TYPE_MASK | MARK_SELECTED)) != (OBJECT_GROUP | MARK_SELECTED) ||
        (parent->folderId != SHELL_COMMON_PROGRAMS && parent->folderId != SHELL_USER_PROGRAMS) || parent->handle == 0) {
        return 0;
    }
    char* leaf = GetObjectLeafName(id, 0, nullptr, 0);
    if (leaf == nullptr) {
        return 0;
    }
    ShellItem folder, group;
    memset(&group, 0, sizeof(group));
    int result = 0;
    if (ShellItemFromIdList(&folder, nullptr, reinterpret_cast<LPCITEMIDLIST>(parent->handle))) {
        result =
            checkOnly ? ShellItemChildByName(&folder, leaf, &group) : ShellCreatePath(&folder, leaf, &group, nullptr);
        ShellItemFree(&folder);
    }
    FreeObjectText(leaf);
    if (result) {
        LPITEMIDLIST ids = ShellItemCopyIdList(&group);
        if (ids == nullptr) {
            result = 0;
        } else {
            MemFree(reinterpret_cast<void*>(o->handle));
            o->handle = reinterpret_cast<UINT_PTR>(ids);
            o->folderId = parent->folderId;
        }
    }
    ShellItemFree(&group);
    if (result && select) {
        o->flags |= MARK_SELECTED;
        d->currentGroup = id;
    }
    return result;
}
