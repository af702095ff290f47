// The executor's tests of objects and containers: what a pass counts, what an ancestor takes along,
// what a container still holds.
#include "engine/executor_internal.h"
#include "script/object_walk.h"
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
    if (!(ObjectFlagsOf(node) & OBJECT_REMOVABLE)) {
        return false;
    }
    if (maxCount >= 0 && (ObjectFlagsOf(node) & OBJECT_SHARED) &&
        UpdateSharedCount(ObjectIdOf(node), 0, sharingMode) > maxCount) {
        return false;
    }
    if (ObjectIdOf(node) == object) {
        return true;
    }
    return IsContainer(ObjectType(node)) && (ObjectFlagsOf(node) & OBJECT_KILLCHILDREN);
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
    if (DatabaseFlagsOf(d) & DATABASE_PROGMAN_GROUPS) {
        HeapText name(GetObjectLeafName(ObjectIdOf(o), 1, nullptr, 0));
        HeapPtr<StringTable> items(name ? RequestGroupInfo(name.get()) : nullptr);
        return items && GetItemCount(items.get()) == 0 ? 1 : 0;
    }
    ShellItem folder;
    if (ObjectGroupIdList(o) == nullptr || !ShellItemFromIdList(&folder, nullptr, ObjectGroupIdList(o))) {
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
    ObjectWalk w;
    for (bool more = mask != 0 && WalkBegin(&w, d, true, mask); more; more = WalkNext(&w)) {
        count++;
    }
    return count;
}

int IsCoveredByAncestor(ObjectId id, int maxCount, int skipSelf, int includeUnselected)
{
    HeldObject guard(id);
    InstallObject* node = guard.object();
    ObjectDatabase* d = guard.database();
    // Parents never form a cycle, but the walk is bounded all the same.
    for (UINT32 steps = d != nullptr ? DatabaseObjectCount(d) : 0; node != nullptr && steps-- != 0;) {
        if ((!includeUnselected && !(ObjectFlagsOf(node) & MARK_SELECTED)) || (ObjectStateOf(node) & STATE_READ_ONLY)) {
            return 0;
        }
        if (!(skipSelf && ObjectIdOf(node) == id) && Covers(node, id, maxCount, DatabaseSharingModeOf(d))) {
            return 1;
        }
        node = FindHeldObject(d, ObjectParentOf(node));
    }
    return 0;
}

int HasKeptChildren(ObjectId id)
{
    HeldObject guard(id);
    InstallObject* o = guard.object();
    if (o == nullptr || !IsContainer(ObjectType(o))) {
        return 0;
    }
    ObjectId child = 0;
    for (bool more = ChildFirst(o, &child); more; more = ChildNext(o, &child)) {
        InstallObject* c = LockObject(child);
        if (c == nullptr) {
            continue;
        }
        bool kept = !(ObjectFlagsOf(c) & OBJECT_REMOVABLE) && IsCoveredByAncestor(child, 0, 1, 1) == 0;
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
    HeldObject guard(id);
    InstallObject* o = guard.object();
    if (o == nullptr || !(ObjectFlagsOf(o) & MARK_SELECTED)) {
        return 0;
    }
    switch (ObjectType(o)) {
    case OBJECT_DIRECTORY: {
        HeapText path(GetObjectPathInto(id, nullptr, 0));
        ShellItem folder;
        return path && ShellItemFromPath(&folder, nullptr, path.get()) ? FolderIsEmpty(&folder) : 0;
    }
    case OBJECT_REGKEY: {
        HKEY key = ObjectKeyOf(o);
        return key != nullptr && CountRegSubKeys(key) + CountRegValues(key) == 0 ? 1 : 0;
    }
    case OBJECT_GROUP:
        return GroupIsEmpty(o, guard.database());
    default:
        return 1;
    }
}

void ContainerFallback(Executor& x, InstallObject* o, bool forced, DWORD error)
{
    if (!forced && ContainerIsEmpty(ObjectIdOf(o)) != 1 &&
        ((ObjectStateOf(o) & STATE_NO_SHARE_COUNT) || HasKeptChildren(ObjectIdOf(o)) == 1 ||
         ContainerHasSharedContent(ObjectIdOf(o), nullptr, nullptr) == 1)) {
        KeepObject(o);
        NoteKept(ObjectIdOf(o), KEPT_HOLDS_CONTENT);
        return;
    }
    x.result = -1;
    NoteFailed(ObjectIdOf(o), error);
}
