#pragma once
// The one place where the program starts processes.
#include <windows.h>

#include <string>

// Starts a process: the command line is the program in double quotes (a program already given in
// quotes gets no second pair), one blank and the arguments; without a program, the arguments alone.
// A given program is the file started (the system does not search the line for it).
// With outThread the new thread's handle is handed out (it is cleared first), else it is closed.
// Returns the process handle (the caller closes it), or null when there is nothing to run or the
// process cannot be started.
HANDLE StartProcess(const char* program, const char* arguments, DWORD creationFlags, HANDLE* outThread);

// StartProcess with a standard user's rights: this process's token with the administrators' group for
// denial only and every privilege but the right to be notified of changes taken away.
HANDLE StartProcessWithStandardRights(const char* program, const char* arguments, DWORD creationFlags,
                                      HANDLE* outThread);

// The program a command line names and the rest of the line: a first word in double quotes is the
// program; an unquoted line is taken at the longest run of its words that names an existing file (with
// ".exe" added when it has none), so "C:\My Prod\tool.exe -x" runs tool.exe even where a "C:\My.exe"
// exists. A name without a path is looked for where the system looks for programs. False when no
// program can be found.
bool ResolveCommandProgram(const char* commandLine, std::string* program, std::string* arguments);

// Starts a command line as the script gives it, the program resolved as above and started as that file.
// The process handle, or null.
HANDLE StartCommand(const char* commandLine, DWORD creationFlags);

// Restricts where this process looks for the libraries it loads by name to the system folder, as early
// as the program can: a library dropped beside the program (in the temporary directory, for the
// relocated copy) or in the current folder is never loaded. Uses SetDefaultDllDirectories where the
// system has it (looked up at run time) and removes the current folder from the search in any case.
// True when the system folder restriction is in force.
bool RestrictLibrarySearch();
