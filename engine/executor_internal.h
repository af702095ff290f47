#pragma once
// Shared by the files of the executor; not for other modules.
#include "engine/executor.h"
#include "system/deletion_gate.h"

#include <string>
#include <vector>

// One run of the executor.
struct Executor {
    UINT_PTR context;
    DatabaseHandle db;
    ObjectDatabase* d; // while a pass holds the database
    ProgressCallback callback;
    int result;                            // -1 once anything failed; else the successes counted
    ListHandle unregisterList;             // "_OCX" files collected by the components pass
    ListHandle runList;                    // "_UNREGISTER" files collected by the components pass
    std::vector<std::string> restartPaths; // what goes at the next restart, in the order asked
    DeferredRemoval* deferred;             // what waits for phase 1 to end, or null
    ObjectId valueKey;                     // the key whose values went last (they come one after the other)
    std::string valueKeyPath;              // and its full path
};

// What a handler asks of the walk.
enum Step {
    STEP_NEXT,  // on to the next object
    STEP_DROP,  // destroy the object and begin the walk again
    STEP_ABORT, // stop the executor
};

int Notify(Executor& x, UINT_PTR subject, UINT_PTR kind, UINT32 event);
void CountSuccess(Executor& x);
// The object stays: it loses "_REMOVABLE" and the marks of pending component actions and counts.
void KeepObject(InstallObject* o);
// The deletion gate refused the object: it stays, the run is incomplete, and the report tells why.
void Refuse(Executor& x, InstallObject* o, GateVerdict verdict, const char* path = nullptr);
// Adds an object to a collection list made on first use.
bool Collect(ListHandle* list, ObjectId id);

// The handlers of the passes, each for one object of its pass.
Step QueryObject(Executor& x, InstallObject* o);
Step ComponentObject(Executor& x, InstallObject* o);
Step RemoveGroupObject(Executor& x, InstallObject* o);
Step RemoveFileObject(Executor& x, InstallObject* o);
Step RemoveFolderObject(Executor& x, InstallObject* o);
Step RemoveRegItemObject(Executor& x, InstallObject* o);
Step RemoveRegKeyObject(Executor& x, InstallObject* o);

// After a group, folder or key could not be removed: it stays without failing the run when it still
// holds something that stays or is shared, or is of the sharing tree itself; otherwise (or when its
// removal was forced, or it is empty and still could not go) the run fails.
void ContainerFallback(Executor& x, InstallObject* o, bool forced, DWORD error);

// When the database asks for it (DATABASE_DELETE_AT_RESTART): a file that could not be deleted because
// it is in use, or a folder that holds nothing but what goes at the next restart, is deleted at the next
// restart instead; the database then carries DATABASE_RESTART_PENDING. True when that was arranged.
bool FileGoesAtRestart(Executor& x, InstallObject* o, const char* path, DWORD error);
bool FolderGoesAtRestart(Executor& x, InstallObject* o, const char* path);

// Whether everything left in the folder (its path ends in a backslash) is among paths, and something is.
bool FolderHoldsOnly(const std::string& folder, const std::vector<std::string>& paths);

// The program phase 1 runs from, and the folders left holding only what waits, wait for phase 1 to end:
// true when the object was left to FinishDeferredRemoval.
bool FileWaitsForCaller(Executor& x, InstallObject* o, const char* path);
bool FolderWaitsForCaller(Executor& x, InstallObject* o, const char* path, const char* climbStop);
