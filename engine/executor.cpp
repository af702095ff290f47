// The uninstall executor: the passes over the object list, in their fixed order.
#include "engine/executor.h"

#include "engine/executor_internal.h"
#include "engine/group_removal.h"
#include "engine/prepare.h"
#include "engine/removal_report.h"
#include "engine/shared_objects.h"
#include "script/companions.h"
#include "script/groups.h"
#include "script/object_keys.h"
#include "script/object_walk.h"
#include "script/object_text.h"
#include "support/guards.h"
#include "support/startup.h"
#include "system/shell_item.h"
#include "system/system_state.h"

#include <stdlib.h>
#include <string.h>

namespace {

// The passes in the order they run, whatever the order of the mask's bits.
const UINT32 kPassOrder[] = {PASS_QUERY,   PASS_COMPONENTS, PASS_GROUPS, PASS_FILES,
                             PASS_FOLDERS, PASS_REGITEMS,   PASS_REGKEYS};

// The next pass of the mask, whose bits leave the mask. A mask that holds none of the known passes
// (only part of a pass of several bits) is one pass of its own.
UINT32 NextPass(UINT32* mask)
{
    for (UINT32 pass : kPassOrder) {
        if ((*mask & pass) == pass) {
            *mask &= ~pass;
            return pass;
        }
    }
    UINT32 rest = *mask;
    *mask = 0;
    return rest;
}

// The removal runs with the Windows folder as its current directory, so that no folder it removes is
// held by being current.
void EnterWindowsDirectory()
{
    UINT needed = GetWindowsDirectoryA(nullptr, 0);
    HeapText folder(needed != 0 ? static_cast<char*>(MemAlloc((needed + 7) & ~3u)) : nullptr);
    if (folder && GetWindowsDirectoryA(folder.get(), needed) != 0) {
        SetCurrentDirectoryA(folder.get());
    }
}

bool IsKnownType(UINT32 type)
{
    return type == OBJECT_FILE || type == OBJECT_DIRECTORY || type == OBJECT_GROUP || type == OBJECT_REGKEY ||
           type == OBJECT_REGITEM;
}

// Hands an object to the handler of the pass.
Step Handle(Executor& x, UINT32 pass, InstallObject* o)
{
    switch (pass) {
    case PASS_QUERY:
        return QueryObject(x, o);
    case PASS_COMPONENTS:
        return ComponentObject(x, o);
    case PASS_GROUPS:
        return ObjectType(o) == OBJECT_GROUP ? RemoveGroupObject(x, o) : STEP_NEXT;
    case PASS_FILES:
        return ObjectType(o) == OBJECT_FILE ? RemoveFileObject(x, o) : STEP_NEXT;
    case PASS_FOLDERS:
        return ObjectType(o) == OBJECT_DIRECTORY ? RemoveFolderObject(x, o) : STEP_NEXT;
    case PASS_REGITEMS:
        return ObjectType(o) == OBJECT_REGITEM ? RemoveRegItemObject(x, o) : STEP_NEXT;
    case PASS_REGKEYS:
        return ObjectType(o) == OBJECT_REGKEY ? RemoveRegKeyObject(x, o) : STEP_NEXT;
    default:
        return STEP_NEXT;
    }
}

// Walks the object list once: the query pass from the first object to the last (reaching what its
// handlers add), the removal passes from the last to the first, so that children go before their
// parents. False when it was aborted.
bool Walk(Executor& x, UINT32 pass, bool isQuery)
{
    ObjectWalk w;
    for (bool more = pass != 0 && WalkBegin(&w, x.d, pass == PASS_QUERY, pass); more;) {
        InstallObject* o = w.object;
        Step step = STEP_NEXT;
        if (ObjectFlagsOf(o) & pass) {
            if (!(ObjectStateOf(o) & STATE_READ_ONLY) && IsKnownType(ObjectType(o))) {
                step = Handle(x, pass, o);
            }
            if (step == STEP_ABORT) {
                x.result = -1;
                return false;
            }
            if (!isQuery) {
                Notify(x, ObjectIdOf(o), pass, EVENT_OBJECT_DONE);
            }
        }
        more = step == STEP_DROP ? WalkDrop(&w) : WalkNext(&w);
    }
    return true;
}

// Hands a collected list of objects to the callback and destroys it; -1 from the callback fails.
void SendList(Executor& x, ListHandle* list, UINT32 event)
{
    if (*list == 0) {
        return;
    }
    if (x.callback(x.context, *list, 0, event, 0) == CALLBACK_ABORT) {
        x.result = -1;
    }
    ListDestroy(*list);
    *list = 0;
}

// After the walk: the query pass prepares the removal of a database that is not prepared yet; the
// keys pass writes the registry out. False when the preparation failed.
bool FinishPass(Executor& x, UINT32 pass, bool isQuery)
{
    ObjectDatabase* d = nullptr;
    HeldDatabase held = HoldDatabase(x.db, &d);
    if (d == nullptr) {
        x.result = -1;
        return false;
    }
    if (isQuery && !(DatabaseFlagsOf(d) & DATABASE_PROCESSED)) {
        if (PrepareRemoval(x.context, x.db, 0) == -1) {
            x.result = -1;
            return false;
        }
        SetDatabaseFlags(x.db, DATABASE_PROCESSED, 1);
    }
    if (pass & PASS_REGKEYS) {
        FlushRegistry();
    }
    return true;
}

// One pass: its begin event, the walk, its end event, the collected lists, the bookkeeping. False
// when the executor must stop.
bool RunPass(Executor& x, UINT32 pass)
{
    bool isQuery = (pass & PASS_QUERY) != 0;
    {
        HeldDatabase held = HoldDatabase(x.db, &x.d);
        if (x.d == nullptr || (!isQuery && !(DatabaseFlagsOf(x.d) & DATABASE_PROCESSED))) {
            x.result = -1; // removal passes need a prepared database
            return false;
        }
        if (!isQuery) {
            int n = CountObjectsWithFlags(x.db, pass == PASS_COMPONENTS ? pass : pass | MARK_SELECTED);
            Notify(x, static_cast<UINT_PTR>(n), pass, EVENT_PASS_BEGIN);
        }
        BeginGroupItemsPass();
        bool walked = Walk(x, pass, isQuery);
        EndGroupItemsPass();
        if (!walked) {
            return false;
        }
    }
    x.d = nullptr;
    // The folders held open by the pass's deletions are let go, but for the files pass's: the folders pass
    // deletes those through the handles the gate checked then (the run lets go of them when it ends).
    if (pass != PASS_FILES) {
        GateRelease();
    }
    if (!isQuery) {
        x.callback(x.context, 0, pass, EVENT_PASS_END, 0);
    }
    SendList(x, &x.unregisterList, EVENT_UNREGISTER_LIST);
    SendList(x, &x.runList, EVENT_RUN_LIST);
    return FinishPass(x, pass, isQuery);
}

} // namespace

int Notify(Executor& x, UINT_PTR subject, UINT_PTR kind, UINT32 event)
{
    return x.callback(x.context, subject, kind, event, 0);
}

void CountSuccess(Executor& x)
{
    if (x.result >= 0) {
        x.result++;
    }
}

void KeepObject(InstallObject* o)
{
    UnmarkObject(o, OBJECT_REMOVABLE | MARK_COMPONENT | MARK_RELEASE);
}

void Refuse(Executor& x, InstallObject* o, GateVerdict verdict, const char* path)
{
    KeepObject(o);
    x.result = -1;
    NoteRefused(ObjectIdOf(o), GateVerdictText(verdict), path);
}

bool Collect(ListHandle* list, ObjectId id)
{
    if (*list == 0) {
        *list = ListCreate();
    }
    return *list != 0 && ListSetByKey(*list, id, id, 0) == 1;
}

int ExecuteUninstall(UINT_PTR context, DatabaseHandle db, UINT32 passMask, DeferredRemoval* deferred)
{
    ObjectDatabase* d = nullptr;
    ProgressCallback callback = nullptr;
    {
        HeldDatabase held = HoldDatabase(db, &d);
        if (d == nullptr) {
            return -1;
        }
        callback = DatabaseCallbackOf(d);
    }
    if (!ComAcquire()) {
        return -1;
    }
    Executor x = {context, db, nullptr, callback, 0, 0, 0, {}, deferred, 0, std::string()};
    UINT32 mask = passMask & ALL_PASSES;
    EnterWindowsDirectory();
    while (mask != 0 && RunPass(x, NextPass(&mask))) {
    }
    GateRelease();
    ListDestroy(x.unregisterList);
    ListDestroy(x.runList);
    ComRelease();
    return x.result;
}
