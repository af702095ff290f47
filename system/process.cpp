#include "system/process.h"

#include "support/guards.h"

#include <string.h>

namespace {

// The command line: "program" arguments, or the arguments alone.
char* CommandLine(const char* program, const char* arguments)
{
    size_t programLength = program != nullptr ? strlen(program) : 0;
    size_t argumentsLength = arguments != nullptr ? strlen(arguments) : 0;
    size_t length = (program != nullptr ? programLength + 1 : 1) + argumentsLength;
    if (length <= 1) {
        return nullptr; // nothing to run
    }
    // Two quotes, the blank and the terminator beyond the texts, with room to spare.
    HeapText line(static_cast<char*>(MemAlloc((length + 7 + 4) & ~static_cast<size_t>(3))));
    if (!line) {
        return nullptr;
    }
    char* at = line.get();
    if (program != nullptr) {
        if (program[0] != '"') {
            *at++ = '"';
        }
        memcpy(at, program, programLength);
        at += programLength;
        if (programLength == 0 || program[programLength - 1] != '"' || (programLength == 1 && program[0] == '"')) {
            *at++ = '"';
        }
        *at++ = ' ';
    }
    if (arguments != nullptr) {
        memcpy(at, arguments, argumentsLength);
    }
    return line.release();
}

} // namespace

HANDLE StartProcess(const char* program, const char* arguments, DWORD creationFlags, HANDLE* outThread)
{
    if (outThread != nullptr) {
        *outThread = nullptr;
    }
    HeapText commandLine(CommandLine(program, arguments));
    if (!commandLine) {
        return nullptr;
    }
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof(process));
    if (!CreateProcessA(nullptr, commandLine.get(), nullptr, nullptr, FALSE, creationFlags, nullptr, nullptr, &startup,
                        &process)) {
        return nullptr;
    }
    KernelHandle thread(process.hThread);
    if (outThread != nullptr) {
        *outThread = thread.release();
    }
    return process.hProcess;
}

bool RestrictLibrarySearch()
{
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFunction)(DWORD);
    typedef BOOL(WINAPI * SetDllDirectoryFunction)(const char*);
    const DWORD SEARCH_SYSTEM32 = 0x00000800; // LOAD_LIBRARY_SEARCH_SYSTEM32
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) {
        return false;
    }
    // The current folder leaves the search ("" as the DLL directory), where the system knows how.
    SetDllDirectoryFunction setDllDirectory = reinterpret_cast<SetDllDirectoryFunction>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(kernel, "SetDllDirectoryA")));
    if (setDllDirectory != nullptr) {
        setDllDirectory("");
    }
    SetDefaultDllDirectoriesFunction setDefault = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    return setDefault != nullptr && setDefault(SEARCH_SYSTEM32) != FALSE;
}
