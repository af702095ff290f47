#pragma once
// The uninstall executor: undoes what an object database describes, in a fixed order of passes, on the
// machine. It runs on the worker thread; everything it has to say goes through the database's progress
// callback.
#include "engine/session.h"
#include "script/object_database.h"

#include <string>
#include <vector>

// Pass codes. An object takes part in a pass when its flags share a bit with the pass code; a pass of
// several bits is run only when all of them are in the mask.
const UINT32 PASS_QUERY = 0x40100000;      // "_QUERY" and extended objects: answered, expanded, refreshed
const UINT32 PASS_COMPONENTS = 0x97011000; // shared, "_OCX", "_REGISTER", "_UNREGISTER", "_UNINSTALL",
                                           // "_GROUP", "_SYSLIB"
const UINT32 PASS_GROUPS = 0x40;
const UINT32 PASS_FILES = 0x10;
const UINT32 PASS_FOLDERS = 0x20;
const UINT32 PASS_REGITEMS = 0x200;
const UINT32 PASS_REGKEYS = 0x100;
const UINT32 ALL_PASSES = 0xD7111370;

// Events of the progress callback: (context, subject, kind, event, code).
const UINT32 EVENT_PASS_BEGIN = 0x80000100;      // subject: objects the pass will report; kind: the pass
const UINT32 EVENT_OBJECT_DONE = 0x80000010;     // subject: the object; kind: the pass
const UINT32 EVENT_PASS_END = 0x80000200;        // kind: the pass
const UINT32 EVENT_UNREGISTER_LIST = 0x80001000; // subject: a list of "_OCX" files; -1 answers failure
const UINT32 EVENT_RUN_LIST = 0x80002000;        // subject: a list of "_UNREGISTER" files; -1 answers failure
const UINT32 EVENT_QUERY = 0x100000;             // subject: a "_QUERY" object; kind: its type;
                                                 // -1 aborts, 1 drops the object, anything else keeps it
const UINT32 EVENT_FILE_IN_USE = 4;              // with CODE_FILE_IN_USE: subject: the file; -1 aborts
const UINT32 CODE_FILE_IN_USE = 5;
// Answers of the callback.
const int CALLBACK_ABORT = -1;
const int CALLBACK_DROP = 1;
const int CALLBACK_KEEP = 0;

// Database flags the executor and the preparation set.
const UINT32 DATABASE_PREPARED_BITS = 0x3F0001;

// What waits until the program that started the removal (phase 1) has ended: the file it runs from,
// and the folders left holding nothing else. The passes leave them to FinishDeferredRemoval, which
// removes them (or, where that is refused, arranges their deletion at the next restart) once that
// program is gone.
struct DeferredItem {
    std::string name; // the object's name, for the report
    bool folder;
    std::string path;
    std::string climbStop; // a folder: the parent object's folder, up to which emptied folders go
    bool scheduled;        // its deletion at the next restart was arranged as a safety net
};
struct DeferredRemoval {
    std::string program; // the path the waiting program runs from, normalised; empty: nothing waits
    std::vector<DeferredItem> items;
};

// Runs the passes of passMask (only the bits of ALL_PASSES count) in their fixed order: -1 when not
// everything could be removed, 0 or more for success. The removal passes need a prepared database.
// With deferred, what waits for the program it names is left in it instead of removed.
int ExecuteUninstall(UINT_PTR context, DatabaseHandle db, UINT32 passMask, DeferredRemoval* deferred = nullptr);

// Arranges for what waits to go at the next restart, should this process end before the program it
// waits for (the deletions once it has ended take the arrangement back).
void ScheduleDeferredRemoval(DeferredRemoval* deferred);

// What became of what waited.
enum DeferredOutcome {
    DEFERRED_GONE,       // everything went now (and no restart entry of it is left)
    DEFERRED_AT_RESTART, // something goes at the next restart
    DEFERRED_KEPT,       // something stays: refused, or neither deleted nor arranged for the restart
};

// Removes what waited (the program has ended), each through the deletion gate; what cannot go now is
// deleted at the next restart. What went now is taken off the restart list the safety net put it on.
// Each outcome goes to the report.
DeferredOutcome FinishDeferredRemoval(DeferredRemoval* deferred);

// Runs the worker thread (ExecuteUninstall with the passes of the mask on the session's database, the
// session as the callback's context, and what waits for phase 1) and keeps the calling thread's windows
// alive until it has ended: 1 when the executor's result was 0 or more, 0 when it failed or the worker
// could not be started.
DWORD RunUninstallWorker(UninstallSession* session, UINT32 passMask);

// The number of objects whose flags share a bit with mask; -1 for an unknown database.
int CountObjectsWithFlags(DatabaseHandle db, UINT32 mask);

// 1 when the object goes anyway because it, or an ancestor that carries "_KILLCHILDREN", is removable
// (and, with maxCount 0 or more, a shared one counted at most maxCount). skipSelf leaves the object's
// own flags out; includeUnselected looks through objects that are not selected.
int IsCoveredByAncestor(ObjectId id, int maxCount, int skipSelf, int includeUnselected);

// 1 when a folder, group or key holds, at any depth, a child object that stays.
int HasKeptChildren(ObjectId id);

// 1 when the selected container is empty on the machine.
int ContainerIsEmpty(ObjectId id);
