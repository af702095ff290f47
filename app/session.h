#pragma once
// The uninstall session: one record per process, built from the command line and the product's
// configuration before any mode runs, and kept until the process ends.
#include "app/command_line.h"
#include "engine/session.h"
#include "script/load_script.h"

#include <windows.h>

// Results of LoadSessionTexts.
const int CONFIG_NOT_LOADED = 0x10000;
const int CONFIG_WRONG_PRODUCT = 0x20000;
const int CONFIG_OK = 0x40000;
const int CONFIG_VERSION_MISMATCH = 0x80000;

// The whole start-up: dialog layer, session record with the built-in texts, command line, and (unless
// a sharing word with a key path asks only for the resynchronisation) the product's configuration.
// Null on any failure, with everything it started undone; *failureCode (when given) is then the exit
// code of the process: 0, or with "/QUIET" the code of a product that is not installed. The report that
// "/LOG" names is opened as soon as the command line is read.
UninstallSession* BuildSession(HINSTANCE instance, const char* commandLine, int* failureCode = nullptr);

// Releases everything the session holds and the record itself; null is ignored.
void FreeSession(UninstallSession* session);

// Finds the product's configuration in the search directory (the program's own when pathArgument is
// null or empty), read with long names: 2 when found (configPath, configFile, configDir set), 1 when
// memory ran out after it was found, else what the search answered (configPath then names the folder).
int LocateConfiguration(UninstallSession* session, const char* pathArgument);

// Loads the product's script and texts from the configuration file and checks it against the
// registry: CONFIG_OK, CONFIG_NOT_LOADED, CONFIG_WRONG_PRODUCT or CONFIG_VERSION_MISMATCH.
int LoadSessionTexts(UninstallSession* session, const char* configFile);

// Where the session's product script is found: its search path, configuration file and version.
ScriptLocation SessionScriptLocation(const UninstallSession* session);

// 1 when the product that a structure configuration describes is installed: its "REMOVE" registry
// value exists and, with a path, names that very file. The test that configuration discovery is
// handed when it must find an installed product.
int CheckInstalledProduct(const char* text, UINT32 size, const char* path);

// Hands the session's dialog labels and button captions to the dialog layer.
int ApplyDialogTexts(const UninstallSession* session);
