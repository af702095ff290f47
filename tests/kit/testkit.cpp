#include "kit/testkit.h"

#include "support/guards.h"
#include "support/reg_keys.h"

#include <sddl.h>
#include <shlwapi.h>

#include <shlobj.h>
#include <stdio.h>
#include <string.h>

std::string TestProgramFolder()
{
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string folder(path, n);
    size_t slash = folder.rfind('\\');
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

HANDLE StartProgram(const std::string& program, const std::string& arguments)
{
    std::string line = "\"" + program + "\" " + arguments;
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        return nullptr;
    }
    CloseHandle(pi.hThread);
    return pi.hProcess;
}

GuardedBytes::GuardedBytes(const void* bytes, size_t length) : size_(length)
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    size_t page = info.dwPageSize;
    size_t readable = (length / page + 1) * page;
    base_ = VirtualAlloc(nullptr, readable + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (base_ == nullptr) {
        return;
    }
    DWORD old = 0;
    VirtualProtect(static_cast<char*>(base_) + readable, page, PAGE_NOACCESS, &old);
    data_ = static_cast<char*>(base_) + readable - length;
    if (length != 0) {
        memcpy(data_, bytes, length);
    }
}

GuardedBytes::~GuardedBytes()
{
    if (base_ != nullptr) {
        VirtualFree(base_, 0, MEM_RELEASE);
    }
}

namespace {

// Test output unbuffered: a test that runs out of time, or a process that does not end after its result,
// has shown how far it got (a pipe is fully buffered otherwise).
struct UnbufferedOutput {
    UnbufferedOutput()
    {
        setvbuf(stdout, nullptr, _IONBF, 0);
        setvbuf(stderr, nullptr, _IONBF, 0);
    }
} g_unbufferedOutput;

} // namespace

namespace {

DWORD WINAPI ThreadTrampoline(void* param)
{
    std::function<void()>* fn = static_cast<std::function<void()>*>(param);
    (*fn)();
    delete fn;
    return 0;
}

} // namespace

HANDLE StartThread(std::function<void()> fn)
{
    std::function<void()>* copy = new std::function<void()>(std::move(fn));
    HANDLE thread = CreateThread(nullptr, 0, ThreadTrampoline, copy, 0, nullptr);
    if (thread == nullptr) {
        delete copy;
    }
    return thread;
}

bool JoinThread(HANDLE thread, DWORD timeoutMs)
{
    if (thread == nullptr) {
        return false;
    }
    bool ended = WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return ended;
}

std::string ToUnixPath(const std::string& windowsPath)
{
    typedef char*(CDECL * ToUnix)(const wchar_t*);
    ToUnix toUnix =
        reinterpret_cast<ToUnix>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
    int n = MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, &wide[0], n);
    char* unix = toUnix != nullptr ? toUnix(wide.c_str()) : nullptr;
    std::string result = unix != nullptr ? unix : "";
    if (unix != nullptr) {
        HeapFree(GetProcessHeap(), 0, unix);
    }
    return result;
}

std::string FromUnixPath(const std::string& unixPath)
{
    // Wine's own name space for this machine's files: no drive of the prefix maps them.
    std::string path = "\\\\?\\unix" + unixPath;
    for (char& c : path) {
        c = c == '/' ? '\\' : c;
    }
    return path;
}

bool RunUnixTool(const char* program, const std::string& arguments, const std::string& watched, bool appears)
{
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::string line = std::string(program) + " " + arguments;
    std::string path = FromUnixPath(program);
    if (!CreateProcessA(path.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        return false;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    // Wine's handle of a Unix process cannot be waited for: the effect is.
    for (int i = 0; i < 1000; i++) {
        WIN32_FIND_DATAA found;
        HANDLE find = FindFirstFileA(watched.c_str(), &found);
        bool exists = find != INVALID_HANDLE_VALUE;
        if (exists) {
            FindClose(find);
        }
        if (exists == appears) {
            return true;
        }
        Sleep(10);
    }
    return false;
}

bool MakeUnixLink(const std::string& target, const std::string& link)
{
    return RunUnixTool("/bin/ln", "-s \"" + ToUnixPath(target) + "\" \"" + ToUnixPath(link) + "\"", link, true);
}

bool RemoveUnixLink(const std::string& link)
{
    return RunUnixTool("/bin/rm", "-f \"" + ToUnixPath(link) + "\"", link, false);
}

namespace {

void RemoveTree(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") {
                continue;
            }
            std::string path = folder + name;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                RemoveTree(path + "\\");
            } else if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                // A link to a folder elsewhere: never walked, and removed as a link from the Unix
                // side, since Wine's RemoveDirectory would remove an empty target instead.
                RemoveUnixLink(path);
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
    RemoveDirectoryA(folder.c_str());
}

} // namespace

std::string TempDirectory()
{
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof(temp), temp);
    return temp;
}

void ProcessScope::Terminate()
{
    if (process_ != nullptr) {
        TerminateProcess(process_, 0);
        WaitForSingleObject(process_, 5000);
        CloseHandle(process_);
        process_ = nullptr;
    }
}

TestFolder::TestFolder()
{
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof(temp), temp);
    static LONG counter = 0;
    // A folder made here, never one left over by an earlier run of a program with the same process id.
    for (;;) {
        char name[64];
        wsprintfA(name, "uninst-test-%lu-%ld\\", GetCurrentProcessId(), InterlockedIncrement(&counter));
        path_ = std::string(temp) + name;
        if (CreateDirectoryA(path_.c_str(), nullptr) || GetLastError() != ERROR_ALREADY_EXISTS) {
            return;
        }
    }
}

TestFolder::~TestFolder()
{
    RemoveTree(path_);
}

bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1)) {
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
    }
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == bytes.size();
}

bool WaitFor(const std::atomic<bool>& flag, DWORD timeoutMs)
{
    for (DWORD waited = 0; !flag.load(); waited += 5) {
        if (waited >= timeoutMs) {
            return false;
        }
        Sleep(5);
    }
    return true;
}

bool PathExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool KeyExists(HKEY root, const std::string& path)
{
    return static_cast<bool>(RegKeyHandle(OpenRegKeyRead(root, path.c_str())));
}

bool MakeShortcut(const std::string& link, const std::string& target)
{
    CoInitialize(nullptr);
    IShellLinkA* made = nullptr;
    IPersistFile* file = nullptr;
    bool ok = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                         reinterpret_cast<void**>(&made))) &&
              SUCCEEDED(made->SetPath(target.c_str())) &&
              SUCCEEDED(made->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)));
    if (ok) {
        std::wstring wide(link.size() + 1, L'\0');
        MultiByteToWideChar(CP_ACP, 0, link.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
        ok = SUCCEEDED(file->Save(wide.c_str(), TRUE));
    }
    if (file != nullptr) {
        file->Release();
    }
    if (made != nullptr) {
        made->Release();
    }
    CoUninitialize();
    return ok;
}

std::string SpecialFolder(int csidl)
{
    char path[MAX_PATH] = {};
    SHGetSpecialFolderPathA(nullptr, path, csidl, TRUE);
    std::string folder = path;
    if (!folder.empty() && folder.back() != '\\') {
        folder += '\\';
    }
    return folder;
}

std::string WindowsPath(const std::string& below)
{
    char path[MAX_PATH] = {};
    GetWindowsDirectoryA(path, sizeof(path));
    return std::string(path) + below;
}

std::string ShortForm(const std::string& path)
{
    char shortPath[MAX_PATH] = {};
    DWORD n = GetShortPathNameA(path.c_str(), shortPath, sizeof(shortPath));
    return n != 0 && n < sizeof(shortPath) ? shortPath : path;
}

std::string ScriptPath(const std::string& path)
{
    std::string out;
    for (char c : path) {
        out += c == '\\' ? std::string("\\\\") : std::string(1, c);
    }
    return out;
}

HANDLE RunHolder(const std::string& path, DWORD ms, const std::string& holderProgram, const char* how)
{
    // The holder says when it holds the file: it starts late on a busy machine, and a test must not
    // go on before.
    static LONG holders = 0;
    std::string event = "UninstTestHolder" + std::to_string(GetCurrentProcessId()) + "_" +
                        std::to_string(InterlockedIncrement(&holders));
    KernelHandle holding(CreateEventA(nullptr, TRUE, FALSE, event.c_str()));
    std::string program = holderProgram.empty() ? TestProgramFolder() + "child_program.exe" : holderProgram;
    if (!PathExists(path)) {
        WriteFileBytes(path, "held");
    }
    HANDLE process =
        holding ? StartProgram(program, std::string(how) + " \"" + path + "\" " + std::to_string(ms) + " " + event)
                : nullptr;
    if (process == nullptr) {
        return nullptr;
    }
    HANDLE both[2] = {holding.get(), process};
    if (WaitForMultipleObjects(2, both, FALSE, LOADED_MACHINE_WAIT_MS) == WAIT_OBJECT_0) {
        return process;
    }
    TerminateProcess(process, 1); // it ended without holding the file, or never got to it
    CloseHandle(process);
    return nullptr;
}

std::string LibraryKey(const std::string& libraryPath)
{
    std::string key = "Software\\UninstTestLibs\\" + libraryPath;
    for (size_t i = key.find("UninstTestLibs\\") + 15; i < key.size(); i++) {
        key[i] = key[i] == '\\' ? '/' : key[i];
    }
    return key;
}

void RemoveTestKey(HKEY root, const std::string& path)
{
    SHDeleteKeyA(root, path.c_str());
}

void RemoveTestValue(HKEY key, const std::string& name)
{
    RegDeleteValueA(key, name.c_str());
}

void MakeTestTree(const std::string& root, const std::vector<std::string>& entries)
{
    for (const std::string& e : entries) {
        std::string path = root + e;
        if (path.back() == '\\') {
            CreateDirectoryA(path.c_str(), nullptr);
        } else {
            WriteFileBytes(path, "content of " + e);
        }
    }
}

std::string ReadFileBytes(const std::string& path)
{
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return "";
    }
    std::string bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got != 0) {
        bytes.append(chunk, got);
    }
    CloseHandle(file);
    return bytes;
}

bool MakeRegistryLink(HKEY root, const std::string& linkPath, const std::string& targetPath)
{
    std::string hive = "\\Registry\\Machine\\";
    if (root == HKEY_CURRENT_USER) {
        HANDLE token = nullptr;
        BYTE buffer[256];
        DWORD size = 0;
        char* sid = nullptr;
        OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
        if (token == nullptr || !GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size) ||
            !ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
            return false;
        }
        CloseHandle(token);
        hive = std::string("\\Registry\\User\\") + sid + "\\";
        LocalFree(sid);
    }
    const DWORD CREATE_LINK = 0x2; // REG_OPTION_CREATE_LINK
    HKEY link = nullptr;
    if (RegCreateKeyExA(root, linkPath.c_str(), 0, nullptr, CREATE_LINK, KEY_ALL_ACCESS, nullptr, &link, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    std::string target = hive + targetPath;
    std::wstring wide(target.begin(), target.end());
    LONG r = RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(wide.data()),
                            static_cast<DWORD>(wide.size() * sizeof(wchar_t)));
    RegCloseKey(link);
    return r == ERROR_SUCCESS;
}

const char SHARED_DLLS_KEY[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

void SetDwordValue(HKEY root, const std::string& key, const std::string& name, DWORD value)
{
    RegKeyHandle k(CreateRegKey(root, key.c_str()));
    RegSetValueExA(k.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

void SetStringValue(HKEY root, const std::string& key, const std::string& name, const std::string& text)
{
    RegKeyHandle k(CreateRegKey(root, key.c_str()));
    SetRegString(k.get(), name.c_str(), text.c_str());
}

long StoredCount(const std::string& key, const std::string& name)
{
    RegKeyHandle k(OpenRegKeyRead(HKEY_LOCAL_MACHINE, key.c_str()));
    BYTE data[64] = {};
    DWORD size = sizeof(data) - 1, type = 0;
    if (!k || RegQueryValueExA(k.get(), name.c_str(), nullptr, &type, data, &size) != ERROR_SUCCESS) {
        return -1;
    }
    DWORD number = 0;
    memcpy(&number, data, sizeof(number));
    return type == REG_SZ ? atol(reinterpret_cast<char*>(data)) : static_cast<long>(number);
}
