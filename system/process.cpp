#include "system/process.h"

#include "support/guards.h"
#include "support/plan_mode.h"

#include <string.h>

#include <string>
#include <vector>

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

bool IsQualified(const std::string& path)
{
    return path.size() > 2 &&
           ((path[1] == ':' && (path[2] == '\\' || path[2] == '/')) || (path[0] == '\\' && path[1] == '\\'));
}

// Whether path names an existing file, as written or with ".exe" when it has no extension; the file's
// path into *found. A bare program name is looked for in the system folder alone: a folder of the
// search path, or the current one, may be one that anybody can write to, and what is run here runs
// with an administrator's rights. A relative path names nothing.
bool ProgramAt(const std::string& written, std::string* found)
{
    std::string path = written;
    if (!IsQualified(path)) {
        char system[MAX_PATH];
        UINT n = GetSystemDirectoryA(system, sizeof(system));
        if (path.find_first_of("\\/:") != std::string::npos || n == 0 || n >= sizeof(system)) {
            return false;
        }
        path = std::string(system) + "\\" + path;
    }
    size_t name = path.find_last_of('\\');
    bool hasExtension = path.find('.', name == std::string::npos ? 0 : name) != std::string::npos;
    std::string candidates[2] = {path, path + ".exe"};
    for (int i = 0; i < (hasExtension ? 1 : 2); i++) {
        DWORD attributes = GetFileAttributesA(candidates[i].c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            *found = candidates[i];
            return true;
        }
    }
    return false;
}

} // namespace

bool ResolveCommandProgram(const char* commandLine, std::string* program, std::string* arguments)
{
    std::string line(commandLine != nullptr ? commandLine : "");
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) {
        return false;
    }
    if (line[start] == '"') {
        size_t close = line.find('"', start + 1);
        size_t end = close == std::string::npos ? line.size() : close;
        *arguments = close == std::string::npos ? "" : line.substr(close + 1);
        return ProgramAt(line.substr(start + 1, end - start - 1), program);
    }
    // Unquoted: the longest run of words that names a program is the program, so that a program whose
    // path holds blanks is never mistaken for a shorter one that happens to exist ("C:\My.exe" for
    // "C:\My Prod\tool.exe"). A command that does not begin with a full path begins with a bare name,
    // which holds no blank: its first word.
    std::vector<size_t> wordEnds;
    bool qualified = IsQualified(line.substr(start));
    for (size_t i = start + 1; i <= line.size() && (qualified || wordEnds.empty()); i++) {
        bool blank = i < line.size() && (line[i] == ' ' || line[i] == '\t');
        bool previousBlank = line[i - 1] == ' ' || line[i - 1] == '\t';
        if ((blank || i == line.size()) && !previousBlank) {
            wordEnds.push_back(i);
        }
    }
    for (auto end = wordEnds.rbegin(); end != wordEnds.rend(); ++end) {
        if (ProgramAt(line.substr(start, *end - start), program)) {
            *arguments = line.substr(*end);
            return true;
        }
    }
    return false;
}

HANDLE StartCommand(const char* commandLine, DWORD creationFlags)
{
    std::string program, arguments;
    if (!ResolveCommandProgram(commandLine, &program, &arguments)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    size_t first = arguments.find_first_not_of(" \t");
    arguments.erase(0, first == std::string::npos ? arguments.size() : first);
    return StartProcess(program.c_str(), arguments.c_str(), creationFlags, nullptr);
}

namespace {

// Starts the program with the token given, or this process's own (null).
HANDLE Start(const char* program, const char* arguments, DWORD creationFlags, HANDLE token, HANDLE* outThread)
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
    // A program named in full is started as that file, never by the system's reading of the line.
    std::string application = program != nullptr ? program : "";
    if (application.size() >= 2 && application.front() == '"' && application.back() == '"') {
        application = application.substr(1, application.size() - 2);
    }
    const char* name = application.empty() ? nullptr : application.c_str();
    if (PlanMode()) {
        SetLastError(ERROR_ACCESS_DENIED); // a plan runs nothing
        return nullptr;
    }
    BOOL started = token != nullptr ? CreateProcessAsUserA(token, name, commandLine.get(), nullptr, nullptr, FALSE,
                                                           creationFlags, nullptr, nullptr, &startup, &process)
                                    : CreateProcessA(name, commandLine.get(), nullptr, nullptr, FALSE, creationFlags,
                                                     nullptr, nullptr, &startup, &process);
    if (!started) {
        return nullptr;
    }
    KernelHandle thread(process.hThread);
    if (outThread != nullptr) {
        *outThread = thread.release();
    }
    return process.hProcess;
}

} // namespace

HANDLE StartProcess(const char* program, const char* arguments, DWORD creationFlags, HANDLE* outThread)
{
    return Start(program, arguments, creationFlags, nullptr, outThread);
}

HANDLE StartProcessWithStandardRights(const char* program, const char* arguments, DWORD creationFlags,
                                      HANDLE* outThread)
{
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY, &opened)) {
        return nullptr;
    }
    KernelHandle token(opened);
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(administrators);
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size)) {
        return nullptr;
    }
    SID_AND_ATTRIBUTES denyOnly = {administrators, 0};
    HANDLE restricted = nullptr;
    if (!CreateRestrictedToken(token.get(), DISABLE_MAX_PRIVILEGE, 1, &denyOnly, 0, nullptr, 0, nullptr, &restricted)) {
        return nullptr;
    }
    KernelHandle standard(restricted);
    return Start(program, arguments, creationFlags, standard.get(), outThread);
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
