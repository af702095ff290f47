#pragma once
// The one place where the program starts processes.
#include <windows.h>

// Starts a process: the command line is the program in double quotes (a program already given in
// quotes gets no second pair), one blank and the arguments; without a program, the arguments alone.
// With outThread the new thread's handle is handed out (it is cleared first), else it is closed.
// Returns the process handle (the caller closes it), or null when there is nothing to run or the
// process cannot be started.
HANDLE StartProcess(const char* program, const char* arguments, DWORD creationFlags, HANDLE* outThread);

// Restricts where this process looks for the libraries it loads by name to the system folder, as early
// as the program can: a library dropped beside the program (in the temporary directory, for the
// relocated copy) or in the current folder is never loaded. Uses SetDefaultDllDirectories where the
// system has it (looked up at run time) and removes the current folder from the search in any case.
// True when the system folder restriction is in force.
bool RestrictLibrarySearch();
