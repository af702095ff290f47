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
#include "support/plan_mode.h"
#include "support/strings.h"
#include "system/shell_item.h"
#include "system/system_state.h"

#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

// A plan names at most this many of the things a folder that stays would still hold.
const size_t PLAN_NAMES_LISTED = 8;

// Whether the object goes: it is removable, or an ancestor that goes with its contents covers it.
// *covered tells the second.
bool Removable(InstallObject* o, bool* covered)
{
    *covered = IsCoveredByAncestor(ObjectIdOf(o), 0, 1, 0) == 1;
    return (ObjectFlagsOf(o) & OBJECT_REMOVABLE) || *covered;
}

void Deselect(InstallObject* o)
{
    UnmarkObject(o, MARK_SELECTED);
}

// The parent key's open handle (the preparation opened the keys that exist), or null.
HKEY ParentKey(InstallObject* o)
{
    InstallObject* parent = ObjectParentOf(o) != 0 ? LockObject(ObjectParentOf(o)) : nullptr;
    HKEY key = parent != nullptr ? ObjectKeyOf(parent) : nullptr;
    ReleaseObject(parent);
    return key;
}

// The name of a registry value: the item's leaf name, trimmed. A counter's is its path exactly as it
// is counted, which for a folder or key ends in a backslash.
char* ValueName(InstallObject* o)
{
    return GetObjectLeafName(ObjectIdOf(o), (ObjectFlagsOf(o) & OBJECT_COUNTER) ? 0 : 1, nullptr, 0);
}

// A counter of the shared-object registry that is not covered: it stays while its count is above 0,
// rewritten as a plain string. True when it stays.
bool CounterStays(Executor& x, InstallObject* o)
{
    InstallObject* parent = LockObject(ObjectParentOf(o));
    HeapText valueName(ValueName(o));
    bool cached = (ObjectStateOf(o) & STATE_COUNT_CACHED) != 0;
    HKEY key = parent != nullptr ? ObjectKeyOf(parent) : nullptr;
    // A count is unsigned; one beyond what sharing ever reaches is still a count.
    unsigned long stored = !cached ? 0 : ObjectContentsOf(o) != nullptr ? strtoul(ObjectContentsOf(o), nullptr, 10) : 0;
    long count = cached                        ? static_cast<long>(stored < COUNT_LIMIT ? stored : COUNT_LIMIT)
                 : key != nullptr && valueName ? static_cast<long>(AdjustCounterValue(key, valueName.get(), 0, 0))
                                               : 0;
    if (count > 0) {
        if (cached && key == nullptr && parent != nullptr && ObjectParentOf(parent) == DatabaseSharingKeyOf(x.d)) {
            EnsureParentContainer(ObjectIdOf(o), 0);
            key = ObjectKeyOf(parent);
        }
        // Only a count this run read (and changed) is written back; one it never read is another
        // product's and stays as it is stored.
        DWORD type = 0;
        if (cached && key != nullptr && valueName) {
            if (RegQueryValueExA(key, valueName.get(), nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
                type != REG_SZ) {
                GateDeleteCount(key, valueName.get());
            }
            SetRegString(key, valueName.get(), ObjectContentsOf(o) != nullptr ? ObjectContentsOf(o) : "0");
        }
        KeepObject(o);
        NoteKept(ObjectIdOf(o), KEPT_STILL_COUNTED, static_cast<int>(count));
    }
    ReleaseObject(parent);
    return count > 0;
}

// For a plan: what a folder that stays would still hold, up to a few names.
void NoteWhatStays(InstallObject* o, const char* path)
{
    HeapText left(PlanMode() ? GatePlanLeftIn(path, PLAN_NAMES_LISTED) : nullptr);
    if (left) {
        std::string text = std::string("would still hold: ") + left.get();
        NoteAction(ObjectIdOf(o), text.c_str(), path);
    }
}

} // namespace

Step RemoveGroupObject(Executor& x, InstallObject* o)
{
    ExpandObjectTexts(ObjectIdOf(o));
    if (!(ObjectFlagsOf(o) & MARK_SELECTED)) {
        return STEP_NEXT;
    }
    bool covered = false;
    if (!Removable(o, &covered) || !SelectGroup(ObjectIdOf(o))) {
        if (!(ObjectFlagsOf(o) & OBJECT_REMOVABLE) && !covered) {
            NoteKept(ObjectIdOf(o), KEPT_NOT_REMOVABLE);
        } else {
            NoteKept(ObjectIdOf(o), KEPT_MISSING);
        }
        Deselect(o);
        return STEP_NEXT;
    }
    bool force = covered || (ObjectFlagsOf(o) & OBJECT_KILLCHILDREN);
    GroupKept why;
    if (RemoveGroup(ObjectIdOf(o), force ? 1 : 0, &why)) {
        CountSuccess(x);
        NoteRemoved(ObjectIdOf(o));
    } else if (why.refused != GATE_ALLOWED) {
        Refuse(x, o, why.refused);
    } else if (why.unlisted) {
        KeepObject(o);
        x.result = -1; // the product's group stays
        NoteKept(ObjectIdOf(o), KEPT_UNLISTED_ITEMS);
    } else {
        ContainerFallback(x, o, force, GetLastError());
    }
    Deselect(o);
    return STEP_NEXT;
}

Step RemoveFileObject(Executor& x, InstallObject* o)
{
    ExpandObjectTexts(ObjectIdOf(o));
    if (!(ObjectFlagsOf(o) & MARK_SELECTED)) {
        return STEP_NEXT;
    }
    if (!(ObjectFlagsOf(o) & OBJECT_REMOVABLE) && !IsCoveredByAncestor(ObjectIdOf(o), 0, 1, 0)) {
        NoteKept(ObjectIdOf(o), KEPT_NOT_REMOVABLE);
        Deselect(o);
        return STEP_NEXT;
    }
    // What a wildcard found is judged as found, not as named: it never comes out of a protected folder.
    HeapText path(GetObjectDiskPath(ObjectIdOf(o), nullptr, 0));
    if (path && FileWaitsForCaller(x, o, path.get())) {
        Deselect(o);
        return STEP_NEXT;
    }
    UINT32 options = (ObjectStateOf(o) & STATE_FROM_WILDCARD) ? GATE_FOUND : 0;
    GateResult r = path ? GateDeleteFile(path.get(), options) : GateResult{GATE_ABSENT, GATE_ALLOWED, 0};
    // The path made here is the one each report line names: the object is not looked up again.
    if (r.outcome == GATE_ABSENT) {
        NoteKept(ObjectIdOf(o), KEPT_MISSING, 0, path.get());
    } else if (r.outcome == GATE_DONE) {
        CountSuccess(x);
        NoteRemoved(ObjectIdOf(o), path.get());
    } else if (r.outcome == GATE_REFUSED) {
        Refuse(x, o, r.verdict, path.get());
    } else if (!FileGoesAtRestart(x, o, path.get(), r.error)) {
        x.result = -1;
        NoteFailed(ObjectIdOf(o), r.error, path.get());
    }
    Deselect(o);
    return STEP_NEXT;
}

Step RemoveFolderObject(Executor& x, InstallObject* o)
{
    ExpandObjectTexts(ObjectIdOf(o));
    if (!(ObjectFlagsOf(o) & MARK_SELECTED)) {
        return STEP_NEXT;
    }
    bool covered = false;
    if (!Removable(o, &covered)) {
        NoteKept(ObjectIdOf(o), KEPT_NOT_REMOVABLE);
        Deselect(o);
        return STEP_NEXT;
    }
    // Below a parent object, the folders its own path leaves empty go with it, up to the parent's.
    HeapText path(GetObjectPathInto(ObjectIdOf(o), nullptr, 0));
    HeapText parentPath(ObjectParentOf(o) != 0 ? GetObjectPathInto(ObjectParentOf(o), nullptr, 0) : nullptr);
    bool force = covered || (ObjectFlagsOf(o) & OBJECT_KILLCHILDREN);
    UINT32 options = (force ? GATE_RECURSIVE : 0) | (parentPath ? GATE_CLIMB : 0);
    GateResult r =
        path ? GateDeleteFolder(path.get(), options, parentPath.get()) : GateResult{GATE_ABSENT, GATE_ALLOWED, 0};
    if (r.outcome == GATE_ABSENT) {
        NoteKept(ObjectIdOf(o), KEPT_MISSING, 0, path.get());
    } else if (r.outcome == GATE_DONE) {
        CountSuccess(x);
        NoteRemoved(ObjectIdOf(o), path.get());
    } else if (r.outcome == GATE_REFUSED) {
        Refuse(x, o, r.verdict, path.get());
    } else if (!FolderWaitsForCaller(x, o, path.get(), parentPath.get()) && !FolderGoesAtRestart(x, o, path.get())) {
        ContainerFallback(x, o, force, r.error);
        NoteWhatStays(o, path.get());
    }
    Deselect(o);
    return STEP_NEXT;
}

Step RemoveRegItemObject(Executor& x, InstallObject* o)
{
    ExpandObjectTexts(ObjectIdOf(o));
    if (!(ObjectFlagsOf(o) & MARK_SELECTED)) {
        return STEP_NEXT;
    }
    // Whether an ancestor covers the value matters for a counter, and for a value that is not
    // removable itself.
    bool counter = (ObjectFlagsOf(o) & OBJECT_COUNTER) != 0;
    bool covered =
        (counter || !(ObjectFlagsOf(o) & OBJECT_REMOVABLE)) && IsCoveredByAncestor(ObjectIdOf(o), 0, 1, 0) == 1;
    bool removable = (ObjectFlagsOf(o) & OBJECT_REMOVABLE) || covered;
    if (counter && !covered && CounterStays(x, o)) {
        Deselect(o);
        return STEP_NEXT;
    }
    HKEY key = ParentKey(o);
    if (ObjectParentOf(o) == 0 || !removable || key == nullptr) {
        NoteKept(ObjectIdOf(o), removable ? KEPT_MISSING : KEPT_NOT_REMOVABLE);
        Deselect(o);
        return STEP_NEXT;
    }
    HeapText valueName(ValueName(o));
    if (x.valueKey != ObjectParentOf(o)) {
        HeapText keyPath(GetObjectPath(ObjectParentOf(o), 0, nullptr, 0));
        x.valueKey = keyPath ? ObjectParentOf(o) : 0;
        x.valueKeyPath = keyPath ? keyPath.get() : "";
    }
    GateResult r = !valueName || x.valueKey == 0 ? GateResult{GATE_FAILED, GATE_ALLOWED, ERROR_NOT_ENOUGH_MEMORY}
                   : counter                     ? GateDeleteCount(key, valueName.get())
                                                 : GateDeleteRegValue(key, x.valueKeyPath.c_str(), valueName.get());
    // A value that is already gone, or a "_NONINSTALLABLE" one, does not fail the run.
    if (r.outcome == GATE_DONE) {
        NoteRemoved(ObjectIdOf(o));
    } else if (r.outcome == GATE_REFUSED) {
        Refuse(x, o, r.verdict);
    } else if (r.outcome == GATE_ABSENT || (ObjectFlagsOf(o) & OBJECT_NONINSTALLABLE)) {
        NoteKept(ObjectIdOf(o), KEPT_MISSING);
    } else {
        x.result = -1;
        NoteFailed(ObjectIdOf(o), r.error);
    }
    Deselect(o);
    return STEP_NEXT;
}

Step RemoveRegKeyObject(Executor& x, InstallObject* o)
{
    ExpandObjectTexts(ObjectIdOf(o));
    if (!(ObjectFlagsOf(o) & MARK_SELECTED)) {
        return STEP_NEXT;
    }
    bool covered = false;
    bool removable = Removable(o, &covered);
    HKEY parent = ParentKey(o);
    if (!removable || parent == nullptr) {
        NoteKept(ObjectIdOf(o), removable ? KEPT_MISSING : KEPT_NOT_REMOVABLE);
        Deselect(o);
        return STEP_NEXT;
    }
    // The key goes with the keys its own path leaves empty; the gate judges it by its full path. The
    // record of lowered counts never keeps it.
    HeapText path(GetObjectLeafName(ObjectIdOf(o), 0, nullptr, 0));
    HeapText parentPath(GetObjectPath(ObjectParentOf(o), 0, nullptr, 0));
    HeapText fullPath(GetObjectPath(ObjectIdOf(o), 0, nullptr, 0));
    ReleaseJournalYield(fullPath.get());
    bool force = covered || (ObjectFlagsOf(o) & OBJECT_KILLCHILDREN);
    UINT32 options = (force ? GATE_RECURSIVE : 0) | GATE_CLIMB;
    GateResult r = path ? GateDeleteRegKey(parent, parentPath.get(), path.get(), options)
                        : GateResult{GATE_ABSENT, GATE_ALLOWED, 0};
    if (r.outcome == GATE_ABSENT) {
        NoteKept(ObjectIdOf(o), KEPT_MISSING);
    } else if (r.outcome == GATE_DONE) {
        CountSuccess(x);
        NoteRemoved(ObjectIdOf(o));
    } else if (r.outcome == GATE_REFUSED) {
        Refuse(x, o, r.verdict);
    } else {
        ContainerFallback(x, o, force, r.error);
    }
    Deselect(o);
    return STEP_NEXT;
}
