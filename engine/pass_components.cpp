// The query pass (answers, wildcards, companions, counts) and the components pass (counts lowered,
// component actions collected or done).
#include "engine/executor_internal.h"
#include "engine/group_removal.h"
#include "engine/removal_report.h"
#include "engine/shared_objects.h"
#include "script/companions.h"
#include "script/object_keys.h"
#include "script/object_text.h"
#include "support/guards.h"
#include "support/report.h"
#include "system/system_state.h"

namespace {

// A file in the query pass: a wildcard becomes the files it matches and goes; companions become
// objects of their own; "_DELETE" files are not the uninstaller's to handle.
Step QueryFile(InstallObject* o, int* answer)
{
    if (o->state & STATE_TARGET_MASK) {
        ExpandTargetMask(o->id, 0);
        return STEP_DROP;
    }
    if (o->state & STATE_HAS_FRIENDS) {
        if (CreateFriendObjects(o->id, static_cast<UINT32>(-1), 1) > 0) {
            *answer = 1;
        }
        ClearFriendExtensions(o->id);
    }
    return (o->flags & OBJECT_DELETE) ? STEP_DROP : STEP_NEXT;
}

// A "_KEEPCONTENTS" value's present data becomes its contents.
void CaptureContents(InstallObject* o)
{
    HeapText text(ReadItemString(o->id));
    if (text) {
        SetObjectContents(o->id, text.get());
    }
}

// The component actions of a selected, removable file: "_OCX" and "_UNREGISTER" files are collected
// for the callback, the product's Uninstall key of an "_UNINSTALL" file goes, the file's group items go.
void FileActions(Executor& x, InstallObject* o)
{
    if ((o->flags & OBJECT_OCX) && Collect(&x.unregisterList, o->id)) {
        CountSuccess(x);
    }
    if ((o->flags & OBJECT_UNREGISTER) && Collect(&x.runList, o->id)) {
        CountSuccess(x);
    }
    if (o->flags & OBJECT_UNINSTALL) {
        HeapText key(GetObjectContentsText(o->id, nullptr, 0));
        GateResult r = key ? GateDeleteUninstallEntry(key.get()) : GateResult{GATE_ABSENT, GATE_ALLOWED, 0};
        if (r.outcome == GATE_DONE) {
            CountSuccess(x);
        } else if (r.outcome == GATE_REFUSED) {
            x.result = -1; // the file itself still goes: only the entry is kept
            ReportLine("  %-31s %-14s %s: kept: %s", o->name, "Uninstall key", key.get(), GateVerdictText(r.verdict));
        }
    }
    if ((o->flags & OBJECT_GROUPED) && RemoveGroupItems(o->id, nullptr, 0) == -2) {
        x.result = -1;
        NoteFailed(o->id, ERROR_ACCESS_DENIED);
    }
    o->flags &= ~MARK_COMPONENT;
}

} // namespace

Step QueryObject(Executor& x, InstallObject* o)
{
    int answer = -1;
    if (o->flags & OBJECT_QUERY) {
        answer = Notify(x, o->id, ObjectType(o), EVENT_QUERY);
        o->flags &= ~OBJECT_QUERY;
        if (answer == CALLBACK_ABORT) {
            return STEP_ABORT;
        }
        if (answer == CALLBACK_DROP) {
            return STEP_DROP;
        }
    }
    if (ObjectType(o) == OBJECT_FILE) {
        if (QueryFile(o, &answer) == STEP_DROP) {
            return STEP_DROP;
        }
    } else if (ObjectType(o) == OBJECT_REGITEM && (o->flags & OBJECT_KEEPCONTENTS)) {
        CaptureContents(o);
    }
    if (o->flags & OBJECT_SHARED) {
        UpdateSharedCount(o->id, 0, x.d->sharingMode);
    }
    if (answer >= 0) {
        CountSuccess(x);
    }
    return STEP_NEXT;
}

Step ComponentObject(Executor& x, InstallObject* o)
{
    ExpandObjectTexts(o->id);
    const UINT32 toRelease = OBJECT_REMOVABLE | OBJECT_SHARED | MARK_RELEASE;
    if ((o->flags & toRelease) == toRelease) {
        if (ReleaseSharedObject(o->id, 1, 0) == 0) {
            KeepObject(o);
            NoteKept(o->id, KEPT_STILL_COUNTED, UpdateSharedCount(o->id, 0, x.d->sharingMode));
        }
        o->flags &= ~MARK_RELEASE;
        if (ObjectType(o) != OBJECT_FILE) {
            return STEP_NEXT;
        }
    }
    const UINT32 pending = MARK_SELECTED | OBJECT_REMOVABLE | MARK_COMPONENT;
    if (ObjectType(o) == OBJECT_FILE && (o->flags & pending) == pending) {
        FileActions(x, o);
    }
    return STEP_NEXT;
}
