#pragma once
// The uninstall session: one record per process, built from the command line and the product's
// configuration, published in CurrentSession before any mode runs, and kept until the process ends.
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
const UINT32 SESSION_FILE_IN_USE = 0x80000000;  // phase 1 met a file in use

// Results of LoadSessionTexts.
const int CONFIG_NOT_LOADED = 0x10000;
const int CONFIG_WRONG_PRODUCT = 0x20000;
const int CONFIG_OK = 0x40000;
const int CONFIG_VERSION_MISMATCH = 0x80000;

struct UninstallSession {
    HINSTANCE instance;
    UINT32 flags;
    UINT32 parentProcessId;  // phase 2 only
    char* sharingArgument;   // heap text or null: the value behind a sharing word
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
    char* configFile;  // full path of the configuration file found
    char* removeValue; // the "REMOVE" value as read from the registry
    HANDLE syncMutex;
    HANDLE syncBackMutex;
    UINT_PTR database;    // the "UNINSTALL" object database while the executor runs
    HWND progressDialog;  // the progress dialog while the executor runs
    UINT32 progressCount; // progress steps reported so far
};

// The session of this process, set by WinMain once BuildSession has succeeded.
extern UninstallSession* CurrentSession;

// The whole start-up: dialog layer, session record with the built-in texts, command line, and (unless
// a sharing word with a key path asks only for the resynchronisation) the product's configuration.
// Null on any failure, with everything it started undone.
UninstallSession* BuildSession(HINSTANCE instance, const char* commandLine);

// Reads the command line into the session's flags, parentProcessId and sharingArgument. The first
// path in double quotes (or plain value) is returned in *pathArgument as a heap text (null when none).
void SessionReadCommandLine(UninstallSession* session, const char* commandLine, char** pathArgument);

// Finds the product's configuration in the search directory (the program's own when pathArgument is
// null or empty): 2 when found (configPath, configFile, configDir set), 1 when memory ran out after it
// was found, else what the search answered.
int LocateConfiguration(UninstallSession* session, const char* pathArgument);

// Loads the product's script and texts from the configuration file and checks it against the
// registry: CONFIG_OK, CONFIG_NOT_LOADED, CONFIG_WRONG_PRODUCT or CONFIG_VERSION_MISMATCH.
int LoadSessionTexts(UninstallSession* session, const char* configFile);

// Hands the session's dialog labels and button captions to the dialog layer.
int ApplyDialogTexts(const UninstallSession* session);
