// The removal passes: program groups, files, folders, registry values and registry keys.
#include "engine/executor_internal.h"
#include "engine/group_removal.h"
#include "engine/release_journal.h"
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
        // Only a count this run read (and changed) is written back; one it never read is another
        // product's and stays as it is stored.
        DWORD type = 0;
        if (cached && key != nullptr && valueName) {
            if (RegQueryValueExA(key, valueName.get(), nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
                type != REG_SZ) {
                GateDeleteRegValue(key, valueName.get());
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
    bool force = covered || (o->flags & OBJECT_KILLCHILDREN);
    GroupKept why;
    if (RemoveGroup(o->id, force ? 1 : 0, &why)) {
        CountSuccess(x);
        NoteRemoved(o->id);
    } else if (why.refused != GATE_ALLOWED) {
        Refuse(x, o, why.refused);
    } else if (why.unlisted) {
        KeepObject(o);
        x.result = -1; // the product's group stays
        NoteKept(o->id, KEPT_UNLISTED_ITEMS);
    } else {
        ContainerFallback(x, o, force, GetLastError());
    }
    Deselect(o);
    return STEP_NEXT;
}

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
    // What a wildcard found is judged as found, not as named: it never comes out of a protected folder.
    HeapText path(GetObjectDiskPath(o->id, nullptr, 0));
    if (path && FileWaitsForCaller(x, o, path.get())) {
        Deselect(o);
        return STEP_NEXT;
    }
    UINT32 options = (o->state & STATE_FROM_WILDCARD) ? GATE_FOUND : 0;
    GateResult r = path ? GateDeleteFile(path.get(), options) : GateResult{GATE_ABSENT, GATE_ALLOWED, 0};
    // The path made here is the one each report line names: the object is not looked up again.
    if (r.outcome == GATE_ABSENT) {
        NoteKept(o->id, KEPT_MISSING, 0, path.get());
    } else if (r.outcome == GATE_DONE) {
        CountSuccess(x);
        NoteRemoved(o->id, path.get());
    } else if (r.outcome == GATE_REFUSED) {
        Refuse(x, o, r.verdict, path.get());
    } else if (!FileGoesAtRestart(x, o, path.get(), r.error)) {
        x.result = -1;
        NoteFailed(o->id, r.error, path.get());
    }
    Deselect(o);
    return STEP_NEXT;
}

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
    // Below a parent object, the folders its own path leaves empty go with it, up to the parent's.
    HeapText path(GetObjectPathInto(o->id, nullptr, 0));
    HeapText parentPath(o->parent != 0 ? GetObjectPathInto(o->parent, nullptr, 0) : nullptr);
    bool force = covered || (o->flags & OBJECT_KILLCHILDREN);
    UINT32 options = (force ? GATE_RECURSIVE : 0) | (parentPath ? GATE_CLIMB : 0);
    GateResult r =
        path ? GateDeleteFolder(path.get(), options, parentPath.get()) : GateResult{GATE_ABSENT, GATE_ALLOWED, 0};
    if (r.outcome == GATE_ABSENT) {
        NoteKept(o->id, KEPT_MISSING, 0, path.get());
    } else if (r.outcome == GATE_DONE) {
        CountSuccess(x);
        NoteRemoved(o->id, path.get());
    } else if (r.outcome == GATE_REFUSED) {
        Refuse(x, o, r.verdict, path.get());
    } else if (!FolderWaitsForCaller(x, o, path.get(), parentPath.get()) && !FolderGoesAtRestart(x, o, path.get())) {
        ContainerFallback(x, o, force, r.error);
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
    GateResult r = valueName ? GateDeleteRegValue(key, valueName.get())
                             : GateResult{GATE_FAILED, GATE_ALLOWED, ERROR_NOT_ENOUGH_MEMORY};
    // A value that is already gone, or a "_NONINSTALLABLE" one, does not fail the run.
    if (r.outcome == GATE_DONE) {
        NoteRemoved(o->id);
    } else if (r.outcome == GATE_ABSENT || (o->flags & OBJECT_NONINSTALLABLE)) {
        NoteKept(o->id, KEPT_MISSING);
    } else {
        x.result = -1;
        NoteFailed(o->id, r.error);
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
    // The key goes with the keys its own path leaves empty; the gate judges it by its full path. The
    // record of lowered counts never keeps it.
    HeapText path(GetObjectLeafName(o->id, 0, nullptr, 0));
    HeapText parentPath(GetObjectPath(o->parent, 0, nullptr, 0));
    HeapText fullPath(GetObjectPath(o->id, 0, nullptr, 0));
    ReleaseJournalYield(fullPath.get());
    bool force = covered || (o->flags & OBJECT_KILLCHILDREN);
    UINT32 options = (force ? GATE_RECURSIVE : 0) | GATE_CLIMB;
    GateResult r = path ? GateDeleteRegKey(parent, parentPath.get(), path.get(), options)
                        : GateResult{GATE_ABSENT, GATE_ALLOWED, 0};
    if (r.outcome == GATE_ABSENT) {
        NoteKept(o->id, KEPT_MISSING);
    } else if (r.outcome == GATE_DONE) {
        CountSuccess(x);
        NoteRemoved(o->id);
    } else if (r.outcome == GATE_REFUSED) {
        Refuse(x, o, r.verdict);
    } else {
        ContainerFallback(x, o, force, r.error);
    }
    Deselect(o);
    return STEP_NEXT;
}
