#pragma once
// The running program's own path, the temporary directory and new temporary files: new heap texts
// (release with MemFree), or null on failure.
#include <windows.h>

// The full path of the running program, however long it is.
char* GetModulePath();

// The temporary directory, always ending in a backslash.
char* GetTempDirectory();

// Creates a new, empty file with a unique name in directory (GetTempFileNameA uses the first three
// characters of prefix) and returns its path.
char* MakeTempFile(const char* directory, const char* prefix);
