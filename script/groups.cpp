#include "script/groups.h"

#include "script/object_internal.h"
#include "script/object_text.h"
#include "support/guards.h"
#include "system/progman.h"
#include "system/shell_item.h"

#include <string.h>

namespace {

// Program Manager shows a group with this command before items are deleted from it (it becomes the
// group that "DeleteItem" acts on).
const int SHOW_GROUP_COMMAND = 0;

bool IsFoundGroup(const InstallObject* o)
{
    return (o->flags & (OBJECT_TYPE_MASK | MARK_SELECTED)) == (OBJECT_GROUP | MARK_SELECTED);
}

// 1 when Program Manager has a group of this name.
int ProgmanHasGroup(const char* name)
{
    HeapPtr<StringTable> groups(RequestProgmanGroups());
    return FindGroupName(groups.get(), name);
}

// A Program Manager group: present (and shown, with show), or with create made.
int ResolveProgmanGroup(ObjectId id, bool show, bool create)
{
    HeapText name(GetObjectLeafName(id, 1, nullptr, 0));
    if (!name) {
        return 0;
    }
    if (create) {
        return CreateProgmanGroup(name.get());
    }
    if (!ProgmanHasGroup(name.get())) {
        return 0;
    }
    return show ? ShowProgmanGroup(name.get(), SHOW_GROUP_COMMAND) : 1;
}

// A shell group: its folder below its parent Programs folder, looked up or created; on success the
// group keeps a copy of the folder's ID list in its handle.
int ResolveShellGroup(InstallObject* o, ObjectDatabase* d, int checkOnly)
{
    InstallObject* parent = FindObjectIn(d, o->parent);
    if (parent == nullptr || !IsFoundGroup(parent) ||
        (parent->folderId != SHELL_COMMON_PROGRAMS && parent->folderId != SHELL_USER_PROGRAMS) || parent->handle == 0) {
        return 0;
    }
    HeapText leaf(GetObjectLeafName(o->id, 0, nullptr, 0));
    if (!leaf) {
        return 0;
    }
    ShellItem folder, group;
    memset(&group, 0, sizeof(group));
    int result = 0;
    if (ShellItemFromIdList(&folder, nullptr, reinterpret_cast<LPCITEMIDLIST>(parent->handle))) {
        result = checkOnly ? ShellItemChildByName(&folder, leaf.get(), &group)
                           : ShellCreatePath(&folder, leaf.get(), &group, nullptr);
        ShellItemFree(&folder);
    }
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
    return result;
}

} // namespace

int SelectGroup(ObjectId id)
{
    HeldObject guard(id);
    InstallObject* o = guard.object();
    ObjectDatabase* d = guard.database();
    if (o == nullptr) {
        return 0;
    }
    if (d->currentGroup == id) {
        return 1;
    }
    if (!IsFoundGroup(o)) {
        return 0;
    }
    // Program Manager: the group must be among its groups, and is shown so that items can be deleted
    // from it. Shell folders: the group's folder must be resolved.
    bool present = (d->flags & DATABASE_PROGMAN_GROUPS) ? ResolveProgmanGroup(id, true, false) == 1 : o->handle != 0;
    if (!present) {
        return 0;
    }
    d->currentGroup = id;
    return 1;
}

int ResolveGroup(ObjectId id, int select, int checkOnly)
{
    HeldObject guard(id);
    InstallObject* o = guard.object();
    ObjectDatabase* d = guard.database();
    if (o == nullptr || ObjectType(o) != OBJECT_GROUP) {
        return 0;
    }
    if ((o->flags & MARK_SELECTED) || (o->state & STATE_READ_ONLY)) {
        return 1;
    }
    int result = (d->flags & DATABASE_PROGMAN_GROUPS) ? ResolveProgmanGroup(id, select != 0, checkOnly == 0)
                                                      : ResolveShellGroup(o, d, checkOnly);
    if (result && select) {
        o->flags |= MARK_SELECTED;
        d->currentGroup = id;
    }
    return result;
}
