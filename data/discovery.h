#pragma once
// Finding a product's configuration in one directory: first among the plain files (any name; the
// first four bytes tell the kind), then inside CDF containers (the entry of the wanted name, with the
// container's "Version.txt" compared with the installed version).
#include <windows.h>

// Kinds (the flag word's 0xFF0 bits) and the other flags of FindConfiguration.
const UINT32 FIND_AUTORUN = 0x10;
const UINT32 FIND_STRUCTURE = 0x20;
const UINT32 FIND_AUTORUN_OR_STRUCTURE = 0x30;
const UINT32 FIND_KIND_MASK = 0xFF0;
const UINT32 FIND_NO_OUTPUT = 0x1000;
const UINT32 FIND_HEADER_ONLY = 0x2000;
const UINT32 FIND_INSTALLED = 0x4000;
const UINT32 SCRIPT_UPDATE = 0x100000;
const UINT32 SCRIPT_REMOVE = 0x200000;
const UINT32 SCRIPT_KIND_MASK = 0x300000;

// Out flag: the configuration was found inside a container.
const UINT32 FOUND_IN_CONTAINER = 0x4000;

// Results.
const int FIND_NOT_FOUND = 1;
const int FIND_OK = 2;
const int FIND_WRONG_VERSION = 4;

// Whether the product that a structure configuration describes is installed on this machine: the
// configuration's text and size and the path of the file or container it came from. 1 when it is.
// Discovery only reads files; the test, which needs the product's script and the registry, is handed
// to it by its caller.
typedef int (*InstalledProductTest)(const char* text, UINT32 size, const char* path);

// Searches the directory of searchPath (the program's own when it is null or gives no directory);
// a last component of searchPath, or fileName, narrows the search. outPath receives the full path of
// the file or container found and outText/outLength its whole text (heap blocks for MemFree); any
// out may be null. With FIND_INSTALLED a structure configuration must also pass installed (without a
// test nothing counts as installed).
int FindConfiguration(const char* searchPath, const char* fileName, UINT32 flags, const char* version, char** outPath,
                      UINT32* outFlags, char** outText, UINT32* outLength, InstalledProductTest installed = nullptr);

// An autorun text's "__structure" entry names the structure file; with a configuration path that
// file must be found (kind 0x20 and the script-kind bits). outName receives the name (MemFree).
int ResolveCfgStructure(const char* text, UINT32 size, UINT32 scriptBits, const char* configPath, const char* version,
                        char** outName);

// 1 when the script's "_UPDATE" and "_REMOVE" marks equal the wanted bits exactly.
int CheckScriptKind(const char* text, UINT32 size, UINT32 scriptBits);
