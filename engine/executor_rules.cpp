// The executor's tests of objects and containers: what a pass counts, what an ancestor takes along,
// what a container still holds.
#include "engine/executor_internal.h"
#include "engine/removal_report.h"
#include "engine/shared_objects.h"
#include "script/object_text.h"
#include "support/guards.h"
#include "system/progman.h"
#include "system/shell_item.h"

namespace {

const DWORD ALL_CHILDREN = SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN;

bool IsContainer(UINT32 type)
{
    return type == OBJECT_DIRECTORY || type == OBJECT_GROUP || type == OBJECT_REGKEY;
}

// Whether a node of the walk answers: a removable node (shared ones only while counted at most
// maxCount) covers the object itself, and as an ancestor only when it is a container that goes with
// its contents ("_KILLCHILDREN").
bool Covers(InstallObject* node, ObjectId object, int maxCount, UINT32 sharingMode)
{
    if (!(node->flags & OBJECT_REMOVABLE)) {
        return false;
    }
    if (maxCount >= 0 && (node->flags & OBJECT_SHARED) && UpdateSharedCount(node->id, 0, sharingMode) > maxCount) {
        return false;
    }
    if (node->id == object) {
        return true;
    }
    return IsContainer(ObjectType(node)) && (node->flags & OBJECT_KILLCHILDREN);
}

// 1 when the shell folder's enumeration finds nothing in it.
int FolderIsEmpty(ShellItem* folder)
{
    UINT32 children = 1;
    if (ShellItemBeginEnum(folder, ALL_CHILDREN, 0)) {
        ShellItemCountChildren(folder, &children);
    }
    ShellItemFree(folder);
    return children == 0 ? 1 : 0;
}

int GroupIsEmpty(InstallObject* o, ObjectDatabase* d)
{
    if (d->flags & DATABASE_PROGMAN_GROUPS) {
        HeapText name(GetObjectLeafName(o->id, 1, nullptr, 0));
        HeapPtr<StringTable> items(name ? RequestGroupInfo(name.get()) : nullptr);
        return items && GetItemCount(items.get()) == 0 ? 1 : 0;
    }
    ShellItem folder;
    if (o->handle == 0 || !ShellItemFromIdList(&folder, nullptr, reinterpret_cast<LPCITEMIDLIST>(o->handle))) {
        return 0;
    }
    return FolderIsEmpty(&folder);
}

} // namespace

int CountObjectsWithFlags(DatabaseHandle db, UINT32 mask)
{
    ObjectDatabase* d = nullptr;
    HeldDatabase held = HoldDatabase(db, &d);
    if (d == nullptr) {
        return -1;
    }
    int count = 0;
    UINT_PTR value = 0;
    for (int ok = ListFirst(d->objects, &value, 0); ok; ok = ListNext(d->objects, value, &value, 0, 0)) {
        if (reinterpret_cast<InstallObject*>(value)->flags & mask) {
            count++;
        }
    }
    return count;
}

int IsCoveredByAncestor(ObjectId id, int maxCount, int skipSelf, int includeUnselected)
{
    DatabaseHandle db = 0;
    InstallObject* node = LockObject(id, &db);
    HeldDatabase held(db);
    ObjectDatabase* d = reinterpret_cast<ObjectDatabase*>(db);
    // Parents never form a cycle, but the walk is bounded all the same.
    for (UINT32 steps = d != nullptr ? ListCount(d->objects) : 0; node != nullptr && steps-- != 0;) {
        if ((!includeUnselected && !(node->flags & MARK_SELECTED)) || (node->state & STATE_READ_ONLY)) {
            return 0;
        }
        if (!(skipSelf && node->id == id) && Covers(node, id, maxCount, d->sharingMode)) {
            return 1;
        }
        UINT_PTR parent = 0;
        node = node->parent != 0 && ListFindByKey(d->objects, node->parent, &parent, 0)
                   ? reinterpret_cast<InstallObject*>(parent)
                   : nullptr;
    }
    return 0;
}

int HasKeptChildren(ObjectId id)
{
    DatabaseHandle db = 0;
    InstallObject* o = LockObject(id, &db);
    HeldDatabase held(db);
    if (o == nullptr || !IsContainer(ObjectType(o)) || o->children == 0) {
        return 0;
    }
    UINT_PTR child = 0;
    for (int ok = ListFirst(o->children, &child, 0); ok; ok = ListNext(o->children, child, &child, 0, 0)) {
        InstallObject* c = LockObject(child);
        if (c == nullptr) {
            continue;
        }
        bool kept = !(c->flags & OBJECT_REMOVABLE) && IsCoveredByAncestor(child, 0, 1, 1) == 0;
        bool container = IsContainer(ObjectType(c));
        ReleaseObject(c);
        if (kept || (container && HasKeptChildren(child))) {
            return 1;
        }
    }
    return 0;
}

int ContainerIsEmpty(ObjectId id)
{
    DatabaseHandle db = 0;
    InstallObject* o = LockObject(id, &db);
    HeldDatabase held(db);
    if (o == nullptr || !(o->flags & MARK_SELECTED)) {
        return 0;
    }
    switch (ObjectType(o)) {
    case OBJECT_DIRECTORY: {
        HeapText path(GetObjectPathInto(id, nullptr, 0));
        ShellItem folder;
        return path && ShellItemFromPath(&folder, nullptr, path.get()) ? FolderIsEmpty(&folder) : 0;
    }
    case OBJECT_REGKEY: {
        HKEY key = reinterpret_cast<HKEY>(o->handle);
        return key != nullptr && CountRegSubKeys(key) + CountRegValues(key) == 0 ? 1 : 0;
    }
    case OBJECT_GROUP:
        return GroupIsEmpty(o, reinterpret_cast<ObjectDatabase*>(db));
    default:
        return 1;
    }
}

void ContainerFallback(Executor& x, InstallObject* o, bool forced, DWORD error)
{
    if (!forced && ContainerIsEmpty(o->id) != 1 &&
        ((o->state & STATE_NO_SHARE_COUNT) || HasKeptChildren(o->id) == 1 ||
         ContainerHasSharedContent(o->id, nullptr, nullptr) == 1)) {
        KeepObject(o);
        NoteKept(o->id, KEPT_HOLDS_CONTENT);
        return;
    }
    x.result = -1;
    NoteFailed(o->id, error);
}
