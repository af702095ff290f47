// The removal passes: program groups, files, folders, registry values and registry keys.
#include "engine/executor_internal.h"
#include "engine/group_removal.h"
#include "engine/removal_report.h"
#include "engine/shared_objects.h"
#include "script/groups.h"
#include "script/object_keys.h"
#include "script/object_text.h"
#include "support/guards.h"
#include "support/strings.h"
#include "system/shell_item.h"
#include "system/system_state.h"

#include <stdlib.h>
#include <string.h>

namespace {

// Whether the object goes: it is removable, or an ancestor that goes with its contents covers it.
// *covered tells the second.
bool Removable(InstallObject* o, bool* covered)
{
    *covered = IsCoveredByAncestor(o->id, 0, 1, 0) == 1;
    return (o->flags & OBJECT_REMOVABLE) || *covered;
}

void Deselect(InstallObject* o)
{
    o->flags &= ~MARK_SELECTED;
}

// The parent key's open handle (the preparation opened the keys that exist), or null.
HKEY ParentKey(InstallObject* o)
{
    InstallObject* parent = o->parent != 0 ? LockObject(o->parent) : nullptr;
    HKEY key = parent != nullptr ? reinterpret_cast<HKEY>(parent->handle) : nullptr;
    ReleaseObject(parent);
    return key;
}

// The folder of a shell group, or the folder Program Manager keeps a group of that name in.
bool GroupHoldsSystemLocation(Executor& x, InstallObject* o)
{
    if (!(x.d->flags & DATABASE_PROGMAN_GROUPS)) {
        ShellItem folder;
        if (o->handle == 0 || !ShellItemFromIdList(&folder, nullptr, reinterpret_cast<LPCITEMIDLIST>(o->handle))) {
            return false;
        }
        bool holds = folder.path != nullptr && PathHoldsSystemLocation(folder.path);
        ShellItemFree(&folder);
        return holds;
    }
    HeapText name(GetObjectLeafName(o->id, 1, nullptr, 0));
    const UINT32 programs[] = {SHELL_COMMON_PROGRAMS, SHELL_USER_PROGRAMS};
    for (UINT32 code : programs) {
        ShellItem folder;
        if (name && ShellItemFromSpecialFolder(&folder, code)) {
            HeapText path(PathJoin(folder.path, name.get(), false));
            ShellItemFree(&folder);
            if (path && PathHoldsSystemLocation(path.get())) {
                return true;
            }
        }
    }
    return false;
}

// The name of a registry value: the item's leaf name, trimmed. A counter's is its path exactly as it
// is counted, which for a folder or key ends in a backslash.
char* ValueName(InstallObject* o)
{
    return GetObjectLeafName(o->id, (o->flags & OBJECT_COUNTER) ? 0 : 1, nullptr, 0);
}

// A counter of the shared-object registry that is not covered: it stays while its count is above 0,
// rewritten as a plain string. True when it stays.
bool CounterStays(Executor& x, InstallObject* o)
{
    InstallObject* parent = LockObject(o->parent);
    HeapText valueName(ValueName(o));
    bool cached = (o->state & STATE_COUNT_CACHED) != 0;
    HKEY key = parent != nullptr ? reinterpret_cast<HKEY>(parent->handle) : nullptr;
    long count =
        cached ? (o->contents != nullptr ? atol(o->contents) : 0)
               : (key != nullptr && valueName ? static_cast<long>(AdjustCounterValue(key, valueName.get(), 0, 0)) : 0);
    if (count > 0) {
        if (cached && key == nullptr && parent != nullptr && parent->parent == x.d->sharingKey) {
            EnsureParentContainer(o->id, 0);
            key = reinterpret_cast<HKEY>(parent->handle);
        }
        DWORD type = 0;
        if (key != nullptr && valueName) {
            if (RegQueryValueExA(key, valueName.get(), nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
                type != REG_SZ) {
                DeleteRegValue(key, valueName.get());
            }
            SetRegString(key, valueName.get(), o->contents != nullptr ? o->contents : "0");
        }
        KeepObject(o);
        NoteKept(o->id, KEPT_STILL_COUNTED, static_cast<int>(count));
    }
    ReleaseObject(parent);
    return count > 0;
}

} // namespace

Step RemoveGroupObject(Executor& x, InstallObject* o)
{
    ExpandObjectTexts(o->id);
    if (!(o->flags & MARK_SELECTED)) {
        return STEP_NEXT;
    }
    bool covered = false;
    if (!Removable(o, &covered) || !SelectGroup(o->id)) {
        if (!(o->flags & OBJECT_REMOVABLE) && !covered) {
            NoteKept(o->id, KEPT_NOT_REMOVABLE);
        } else {
            NoteKept(o->id, KEPT_MISSING);
        }
        Deselect(o);
        return STEP_NEXT;
    }
    if (GroupHoldsSystemLocation(x, o)) {
        KeepObject(o);
        NoteKept(o->id, KEPT_PROTECTED);
        Deselect(o);
        return STEP_NEXT;
    }
    bool force = covered || (o->flags & OBJECT_KILLCHILDREN);
    if (RemoveGroup(o->id, force ? 1 : 0)) {
        CountSuccess(x);
        NoteRemoved(o->id);
    } else {
        ContainerFallback(x, o, force, GetLastError());
    }
    Deselect(o);
    return STEP_NEXT;
}

namespace {

// Deletes a file through the shell namespace: resolved, then deleted. SHELL_DELETE_ABSENT when the
// path cannot be resolved (the file is gone).
int DeleteFileThroughShell(const char* path)
{
    ShellItem item;
    if (!ShellItemFromPath(&item, nullptr, path)) {
        return SHELL_DELETE_ABSENT;
    }
    if (ShellItemDelete(&item, 0)) {
        return 1;
    }
    DWORD error = GetLastError();
    ShellItemFree(&item);
    SetLastError(error);
    return 0;
}

} // namespace

Step RemoveFileObject(Executor& x, InstallObject* o)
{
    ExpandObjectTexts(o->id);
    if (!(o->flags & MARK_SELECTED)) {
        return STEP_NEXT;
    }
    if (!(o->flags & OBJECT_REMOVABLE) && !IsCoveredByAncestor(o->id, 0, 1, 0)) {
        NoteKept(o->id, KEPT_NOT_REMOVABLE);
        Deselect(o);
        return STEP_NEXT;
    }
    // A plain file goes by its path; anything else through the shell. A path that cannot be had or
    // resolved (the file is gone) is passed over.
    HeapText path(GetObjectDiskPath(o->id, nullptr, 0));
    int deleted = path ? ShellDeleteByPath(path.get(), false) : SHELL_DELETE_ABSENT;
    if (deleted == SHELL_DELETE_USE_SHELL) {
        deleted = DeleteFileThroughShell(path.get());
    }
    if (deleted == SHELL_DELETE_ABSENT) {
        NoteKept(o->id, KEPT_MISSING);
    } else if (deleted == 1) {
        CountSuccess(x);
        NoteRemoved(o->id);
    } else if (DWORD error = GetLastError(); !FileGoesAtRestart(x, o, path.get(), error)) {
        x.result = -1;
        NoteFailed(o->id, error);
    }
    Deselect(o);
    return STEP_NEXT;
}

namespace {

// Deletes a folder through the shell: below its parent object's folder, taking the parents it leaves
// empty along up to that one; without a parent, by itself. SHELL_DELETE_ABSENT when it cannot be
// resolved, else 1 when it went.
int DeleteFolderThroughShell(InstallObject* o, const char* path, bool force)
{
    ShellItem folder;
    if (!ShellItemFromPath(&folder, nullptr, path)) {
        return SHELL_DELETE_ABSENT;
    }
    DWORD recursive = force ? SHELL_DELETE_RECURSIVE : 0;
    if (o->parent == 0) {
        if (ShellItemDelete(&folder, recursive)) {
            return 1;
        }
        ShellItemFree(&folder);
        return 0;
    }
    ShellItemFree(&folder);
    HeapText parentPath(GetObjectPathInto(o->parent, nullptr, 0));
    HeapText name(GetObjectLeafName(o->id, 0, nullptr, 0));
    ShellItem parent;
    if (!parentPath || !name || !ShellItemFromPath(&parent, nullptr, parentPath.get())) {
        return SHELL_DELETE_ABSENT;
    }
    int removed = ShellDeletePath(&parent, name.get(), SHELL_DELETE_CLIMB | recursive) == 1 ? 1 : 0;
    ShellItemFree(&parent);
    return removed;
}

// Whether the folder's removal is one step: it has no parent object, or its own part below the parent
// is a single name (so that the climb ends at once, at the parent's folder).
bool OneStep(InstallObject* o)
{
    if (o->parent == 0) {
        return true;
    }
    HeapText name(GetObjectLeafName(o->id, 1, nullptr, 0));
    return name && strchr(name.get(), '\\') == nullptr;
}

} // namespace

Step RemoveFolderObject(Executor& x, InstallObject* o)
{
    ExpandObjectTexts(o->id);
    if (!(o->flags & MARK_SELECTED)) {
        return STEP_NEXT;
    }
    bool covered = false;
    if (!Removable(o, &covered)) {
        NoteKept(o->id, KEPT_NOT_REMOVABLE);
        Deselect(o);
        return STEP_NEXT;
    }
    HeapText path(GetObjectPathInto(o->id, nullptr, 0));
    if (path && PathHoldsSystemLocation(path.get())) {
        KeepObject(o);
        NoteKept(o->id, KEPT_PROTECTED);
        Deselect(o);
        return STEP_NEXT;
    }
    // An empty plain folder goes by its path; one that holds something (or is a link) through the shell.
    bool force = covered || (o->flags & OBJECT_KILLCHILDREN);
    int removed = !path        ? SHELL_DELETE_ABSENT
                  : OneStep(o) ? ShellDeleteByPath(path.get(), true)
                               : SHELL_DELETE_USE_SHELL;
    if (removed == SHELL_DELETE_USE_SHELL) {
        removed = DeleteFolderThroughShell(o, path.get(), force);
    }
    if (removed == SHELL_DELETE_ABSENT) {
        NoteKept(o->id, KEPT_MISSING);
    } else if (removed == 1) {
        CountSuccess(x);
        NoteRemoved(o->id);
    } else if (DWORD error = GetLastError(); !FolderGoesAtRestart(x, o, path.get())) {
        ContainerFallback(x, o, force, error);
    }
    Deselect(o);
    return STEP_NEXT;
}

Step RemoveRegItemObject(Executor& x, InstallObject* o)
{
    ExpandObjectTexts(o->id);
    if (!(o->flags & MARK_SELECTED)) {
        return STEP_NEXT;
    }
    // Whether an ancestor covers the value matters for a counter, and for a value that is not
    // removable itself.
    bool counter = (o->flags & OBJECT_COUNTER) != 0;
    bool covered = (counter || !(o->flags & OBJECT_REMOVABLE)) && IsCoveredByAncestor(o->id, 0, 1, 0) == 1;
    bool removable = (o->flags & OBJECT_REMOVABLE) || covered;
    if (counter && !covered && CounterStays(x, o)) {
        Deselect(o);
        return STEP_NEXT;
    }
    HKEY key = ParentKey(o);
    if (o->parent == 0 || !removable || key == nullptr) {
        NoteKept(o->id, removable ? KEPT_MISSING : KEPT_NOT_REMOVABLE);
        Deselect(o);
        return STEP_NEXT;
    }
    HeapText valueName(ValueName(o));
    LONG error = ERROR_SUCCESS;
    if (!valueName || !DeleteRegValue(key, valueName.get())) {
        // A value that is already gone, or a "_NONINSTALLABLE" one, does not fail the run.
        error = valueName ? RegQueryValueExA(key, valueName.get(), nullptr, nullptr, nullptr, nullptr)
                          : ERROR_NOT_ENOUGH_MEMORY;
        if (!(o->flags & OBJECT_NONINSTALLABLE) && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            x.result = -1;
            NoteFailed(o->id, error == ERROR_SUCCESS ? ERROR_ACCESS_DENIED : static_cast<DWORD>(error));
        } else {
            NoteKept(o->id, KEPT_MISSING);
        }
    } else {
        NoteRemoved(o->id);
    }
    Deselect(o);
    return STEP_NEXT;
}

Step RemoveRegKeyObject(Executor& x, InstallObject* o)
{
    ExpandObjectTexts(o->id);
    if (!(o->flags & MARK_SELECTED)) {
        return STEP_NEXT;
    }
    bool covered = false;
    bool removable = Removable(o, &covered);
    HKEY parent = ParentKey(o);
    if (!removable || parent == nullptr) {
        NoteKept(o->id, removable ? KEPT_MISSING : KEPT_NOT_REMOVABLE);
        Deselect(o);
        return STEP_NEXT;
    }
    HeapText path(GetObjectLeafName(o->id, 0, nullptr, 0));
    RegKeyHandle key(path ? OpenRegKeyWrite(parent, path.get()) : nullptr);
    if (!key) {
        NoteKept(o->id, KEPT_MISSING); // the key is gone
        Deselect(o);
        return STEP_NEXT;
    }
    key.reset();
    bool force = covered || (o->flags & OBJECT_KILLCHILDREN);
    if (DeleteRegKeyTree(parent, path.get(), 1, force ? 1 : 0)) {
        CountSuccess(x);
        NoteRemoved(o->id);
    } else {
        ContainerFallback(x, o, force, ERROR_DIR_NOT_EMPTY);
    }
    Deselect(o);
    return STEP_NEXT;
}
