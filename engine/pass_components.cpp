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
#include "system/access_rights.h"
#include "system/process.h"
#include "system/system_state.h"

namespace {

// A file in the query pass: a wildcard becomes the files it matches and goes; companions become
// objects of their own; "_DELETE" files are not the uninstaller's to handle.
Step QueryFile(InstallObject* o, int* answer)
{
    if (ObjectStateOf(o) & STATE_TARGET_MASK) {
        ExpandTargetMask(ObjectIdOf(o), 0);
        return STEP_DROP;
    }
    if (ObjectStateOf(o) & STATE_HAS_FRIENDS) {
        if (CreateFriendObjects(ObjectIdOf(o), static_cast<UINT32>(-1), 1) > 0) {
            *answer = 1;
        }
        ClearFriendExtensions(ObjectIdOf(o));
    }
    return (ObjectFlagsOf(o) & OBJECT_DELETE) ? STEP_DROP : STEP_NEXT;
}

// A "_KEEPCONTENTS" value's present data becomes its contents.
void CaptureContents(InstallObject* o)
{
    HeapText text(ReadItemString(ObjectIdOf(o)));
    if (text) {
        SetObjectContents(ObjectIdOf(o), text.get());
    }
}

// Whether a library the file's "_OCX" loads, or a program its "_UNREGISTER" runs, could be changed by
// others than administrators while this program runs with an administrator's rights: it is then neither
// loaded nor run, and the file is kept with the reason.
bool RunsWhatOthersChange(Executor& x, InstallObject* o)
{
    if (!(ObjectFlagsOf(o) & (OBJECT_OCX | OBJECT_UNREGISTER)) || !AccessRunsElevated()) {
        return false;
    }
    HeapText library((ObjectFlagsOf(o) & OBJECT_OCX) ? GetObjectPathInto(ObjectIdOf(o), nullptr, 0) : nullptr);
    HeapText command((ObjectFlagsOf(o) & OBJECT_UNREGISTER) ? GetObjectUnregisterText(ObjectIdOf(o), nullptr, 0)
                                                            : nullptr);
    std::string program, arguments;
    const char* changeable = nullptr;
    if (library && GateOthersCanChange(library.get())) {
        changeable = library.get();
    } else if (command && ResolveCommandProgram(command.get(), &program, &arguments) &&
               GateOthersCanChange(program.c_str())) {
        changeable = program.c_str();
    }
    if (changeable != nullptr) {
        Refuse(x, o, GATE_CHANGEABLE, changeable);
    }
    return changeable != nullptr;
}

// The component actions of a selected, removable file: "_OCX" and "_UNREGISTER" files are collected
// for the callback, the product's Uninstall key of an "_UNINSTALL" file goes, the file's group items go.
void FileActions(Executor& x, InstallObject* o)
{
    if (RunsWhatOthersChange(x, o)) {
        UnmarkObject(o, MARK_COMPONENT);
        return;
    }
    if ((ObjectFlagsOf(o) & OBJECT_OCX) && Collect(&x.unregisterList, ObjectIdOf(o))) {
        CountSuccess(x);
    }
    if ((ObjectFlagsOf(o) & OBJECT_UNREGISTER) && Collect(&x.runList, ObjectIdOf(o))) {
        CountSuccess(x);
    }
    if (ObjectFlagsOf(o) & OBJECT_UNINSTALL) {
        HeapText key(GetObjectContentsText(ObjectIdOf(o), nullptr, 0));
        GateResult r = key ? GateDeleteUninstallEntry(key.get()) : GateResult{GATE_ABSENT, GATE_ALLOWED, 0};
        if (r.outcome == GATE_DONE) {
            CountSuccess(x);
        } else if (r.outcome == GATE_REFUSED) {
            x.result = -1; // the file itself still goes: only the entry is kept
            NoteEntryRefused(o, key.get(), GateVerdictText(r.verdict));
        }
    }
    if ((ObjectFlagsOf(o) & OBJECT_GROUPED) && RemoveGroupItems(ObjectIdOf(o), nullptr, 0) == -2) {
        x.result = -1;
        NoteFailed(ObjectIdOf(o), ERROR_ACCESS_DENIED);
    }
    UnmarkObject(o, MARK_COMPONENT);
}

} // namespace

Step QueryObject(Executor& x, InstallObject* o)
{
    int answer = -1;
    if (ObjectFlagsOf(o) & OBJECT_QUERY) {
        answer = Notify(x, ObjectIdOf(o), ObjectType(o), EVENT_QUERY);
        UnmarkObject(o, OBJECT_QUERY);
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
    } else if (ObjectType(o) == OBJECT_REGITEM && (ObjectFlagsOf(o) & OBJECT_KEEPCONTENTS)) {
        CaptureContents(o);
    }
    if (ObjectFlagsOf(o) & OBJECT_SHARED) {
        UpdateSharedCount(ObjectIdOf(o), 0, DatabaseSharingModeOf(x.d));
    }
    if (answer >= 0) {
        CountSuccess(x);
    }
    return STEP_NEXT;
}

Step ComponentObject(Executor& x, InstallObject* o)
{
    ExpandObjectTexts(ObjectIdOf(o));
    const UINT32 toRelease = OBJECT_REMOVABLE | OBJECT_SHARED | MARK_RELEASE;
    if ((ObjectFlagsOf(o) & toRelease) == toRelease) {
        if (ReleaseSharedObject(ObjectIdOf(o), 1, 0) == 0) {
            KeepObject(o);
            NoteKept(ObjectIdOf(o), KEPT_STILL_COUNTED,
                     UpdateSharedCount(ObjectIdOf(o), 0, DatabaseSharingModeOf(x.d)));
        }
        UnmarkObject(o, MARK_RELEASE);
        if (ObjectType(o) != OBJECT_FILE) {
            return STEP_NEXT;
        }
    }
    const UINT32 pending = MARK_SELECTED | OBJECT_REMOVABLE | MARK_COMPONENT;
    if (ObjectType(o) == OBJECT_FILE && (ObjectFlagsOf(o) & pending) == pending) {
        FileActions(x, o);
    }
    return STEP_NEXT;
}
