#pragma once
// The uninstall session: one record per process, built by the program's start-up from the command line
// and the product's configuration, and kept until the process ends. The executor's worker and its
// callback are given it as their context: the running database, the progress dialog, the texts and
// flags of the removal.
#include <windows.h>

const int SESSION_TEXT_SIZE = 260; // 259 characters and a terminator

// Session flags.
const UINT32 SESSION_PHASE_TWO = 0x00000001;    // the relocated copy: parentProcessId is valid
const UINT32 SESSION_KILL = 0x00000002;         // uninstall without the confirmation question
const UINT32 SESSION_SHARING_PATH = 0x00000004; // sharingArgument holds a key path
const UINT32 SESSION_SHARING = 0x00000008;      // a sharing resynchronisation is asked for
const UINT32 SESSION_DLL_SHARING = 0x00000010;  // resynchronise the shared DLL counts
const UINT32 SESSION_REG_SHARING = 0x00000020;  // resynchronise the shared-object registry counts
const UINT32 SESSION_SHARING_KINDS = SESSION_DLL_SHARING | SESSION_REG_SHARING;
const UINT32 SESSION_QUIET = 0x00000100;       // "QUIET": no window in either phase
const UINT32 SESSION_PLAN = 0x00000200;        // "PLAN": phase 1 judges the whole removal and changes nothing
const UINT32 SESSION_FILE_IN_USE = 0x80000000; // phase 1 met a file in use

// How the uninstall ended; with "QUIET" it decides the exit code. Phase 1 ends with the outcome of the
// whole removal, which phase 2 hands it.
enum UninstallOutcome : UINT32 {
    OUTCOME_NONE,               // no uninstall was attempted
    OUTCOME_NOT_INSTALLED,      // no installed product was found beside the program
    OUTCOME_DECLINED,           // the user answered No
    OUTCOME_FAILED,             // stopped or incomplete: see the report
    OUTCOME_ANOTHER_RUNNING,    // another uninstall of the same product runs
    OUTCOME_REMOVED,            // phase 2 removed everything
    OUTCOME_REMOVED_AT_RESTART, // everything removed, but something goes at the next restart
};

struct UninstallSession {
    HINSTANCE instance;
    UINT32 flags;
    UINT32 parentProcessId; // phase 2 only
    char* sharingArgument;  // heap text or null: the value behind a sharing word
    char confirmText[SESSION_TEXT_SIZE];
    char successText[SESSION_TEXT_SIZE];
    char notAllText[SESSION_TEXT_SIZE];
    char lockedText[SESSION_TEXT_SIZE]; // one %s for the file's path
    char noPrivilegesText[SESSION_TEXT_SIZE];
    char fixupDialogText[SESSION_TEXT_SIZE];  // '@'-separated labels of the "Fixing UP" dialog
    char removeDialogText[SESSION_TEXT_SIZE]; // '@'-separated labels of the removal checklist
    char okText[SESSION_TEXT_SIZE];
    char yesText[SESSION_TEXT_SIZE];
    char noText[SESSION_TEXT_SIZE];
    char* configPath;   // the search directory, then the configuration file found
    char* configDir;    // the configuration file's directory, with its trailing backslash
    char* removeTarget; // registry key that holds the product's "REMOVE" value
    char version[SESSION_TEXT_SIZE];
    char title[SESSION_TEXT_SIZE];
    char* configFile;     // full path of the configuration file found
    char* removeValue;    // the "REMOVE" value as read from the registry
    UINT_PTR database;    // the "UNINSTALL" object database while the executor runs
    HWND progressDialog;  // the progress dialog while the executor runs
    UINT32 progressCount; // progress steps reported so far
    char* logPath;        // "/LOG": the report both phases append to (heap text), or null
    UINT32 outcome;       // an UninstallOutcome
    HANDLE productMutex;  // held while this process uninstalls the product
    void* deferred;       // phase 2: the DeferredRemoval of what waits for phase 1 to end, or null
};
