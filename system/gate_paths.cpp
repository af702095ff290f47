// Paths as the system sees them: normalised, with long names, and checked against the path the system
// reached when it opened them.
#include "system/gate_paths.h"

#include "support/guards.h"
#include "support/strings.h"
#include "system/nt_files.h"
#include "system/protected_paths.h"

#include <string.h>

#include <vector>

namespace {

// Names the system gives to devices in every folder, whatever their extension.
const char* const kDeviceNames[] = {"CON",  "PRN",  "AUX",  "NUL",  "CONIN$", "CONOUT$", "CLOCK$", "COM1", "COM2",
                                    "COM3", "COM4", "COM5", "COM6", "COM7",   "COM8",    "COM9",   "LPT1", "LPT2",
                                    "LPT3", "LPT4", "LPT5", "LPT6", "LPT7",   "LPT8",    "LPT9"};

bool IsLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The length of a fully qualified path's root with its backslash ("C:\", "\\server\share\"), or 0.
size_t RootOf(const std::string& p)
{
    if (p.size() >= 3 && IsLetter(p[0]) && p[1] == ':' && p[2] == '\\') {
        return 3;
    }
    if (p.size() < 5 || p[0] != '\\' || p[1] != '\\' || p[2] == '\\') {
        return 0;
    }
    size_t server = p.find('\\', 2);
    if (server == std::string::npos || server + 1 >= p.size() || p[server + 1] == '\\') {
        return 0;
    }
    size_t share = p.find('\\', server + 1);
    return share == std::string::npos ? 0 : share + 1;
}

// A component the system would take as written: not empty, not "." or "..", no trailing dot or blank.
bool PlainComponent(const char* begin, size_t n)
{
    if (n == 0 || begin[n - 1] == '.' || begin[n - 1] == ' ') {
        return false;
    }
    return true;
}

// Whether the path after its root needs the system's normalisation.
bool IsCanonical(const std::string& p, size_t root)
{
    size_t start = root;
    for (size_t i = root; i <= p.size(); i++) {
        if (i == p.size() || p[i] == '\\') {
            if (i == p.size() && i == start) {
                return true; // a trailing backslash is dropped anyway
            }
            if (!PlainComponent(p.c_str() + start, i - start)) {
                return false;
            }
            start = i + 1;
        }
    }
    return true;
}

bool IsDeviceName(const char* begin, size_t n)
{
    // The base name before the first dot, without trailing blanks, is what the system compares.
    size_t base = 0;
    while (base < n && begin[base] != '.') {
        base++;
    }
    while (base > 0 && begin[base - 1] == ' ') {
        base--;
    }
    for (const char* device : kDeviceNames) {
        if (strlen(device) == base && _strnicmp(begin, device, base) == 0) {
            return true;
        }
    }
    return false;
}

bool HasDeviceComponent(const std::string& p, size_t root)
{
    size_t start = root;
    for (size_t i = root; i <= p.size(); i++) {
        if (i == p.size() || p[i] == '\\') {
            if (IsDeviceName(p.c_str() + start, i - start)) {
                return true;
            }
            start = i + 1;
        }
    }
    return false;
}

// Whether a server name is this machine: its loopback names and addresses, or its own names.
bool IsThisMachine(const std::string& server)
{
    for (const char* loopback : {"localhost", "127.0.0.1", "::1", "0:0:0:0:0:0:0:1", "."}) {
        if (_stricmp(server.c_str(), loopback) == 0) {
            return true;
        }
    }
    if (server.rfind("127.", 0) == 0 && server.find_first_not_of("0123456789.") == std::string::npos) {
        return true;
    }
    for (COMPUTER_NAME_FORMAT format : {ComputerNameNetBIOS, ComputerNameDnsHostname, ComputerNameDnsFullyQualified}) {
        char name[256] = {};
        DWORD size = sizeof(name);
        if (GetComputerNameExA(format, name, &size) && name[0] != '\0' && _stricmp(server.c_str(), name) == 0) {
            return true;
        }
    }
    return false;
}

// A share of this machine is the local place it reaches: an administrative share ("\\localhost\c$\x")
// is that drive's path ("C:\x"). Any other share of it leads to a folder the gate cannot see from the
// name: refused. False with *verdict when refused; other paths pass as they are.
bool LocalFormOfShare(std::string* p, GateVerdict* verdict)
{
    size_t server = p->find('\\', 2);
    size_t root = RootOf(*p);
    if (p->rfind("\\\\", 0) != 0 || server == std::string::npos || root == 0 ||
        !IsThisMachine(p->substr(2, server - 2))) {
        return true;
    }
    std::string share = p->substr(server + 1, root - server - 2);
    if (share.size() == 2 && IsLetter(share[0]) && share[1] == '$') {
        char drive = static_cast<char>(share[0] >= 'a' && share[0] <= 'z' ? share[0] - 'a' + 'A' : share[0]);
        *p = std::string(1, drive) + ":\\" + p->substr(root);
        return true;
    }
    *verdict = GATE_THROUGH_LINK;
    return false;
}

// The system's own normalisation of a fully qualified path (which does not depend on the current
// folder).
bool SystemFullPath(const std::string& p, std::string* out)
{
    std::vector<char> buffer(p.size() + MAX_PATH);
    for (int attempt = 0; attempt < 2; attempt++) {
        DWORD n = GetFullPathNameA(p.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (n == 0) {
            return false;
        }
        if (n < buffer.size()) {
            out->assign(buffer.data(), n);
            return true;
        }
        buffer.resize(n + 1);
    }
    return false;
}

// Expands 8.3 aliases: the longest leading part that exists is asked for its long form.
void ExpandShortNames(std::string* p, size_t root)
{
    std::vector<char> buffer(p->size() + MAX_PATH);
    size_t end = p->size();
    while (end >= root) {
        std::string head = p->substr(0, end);
        DWORD n = GetLongPathNameA(head.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n != 0 && n < buffer.size()) {
            *p = std::string(buffer.data(), n) + p->substr(end);
            return;
        }
        size_t slash = end > 0 ? p->rfind('\\', end - 1) : std::string::npos;
        if (slash == std::string::npos || slash < root) {
            return;
        }
        end = slash;
    }
}

typedef DWORD(WINAPI* FinalPathFunction)(HANDLE, LPSTR, DWORD, DWORD);

FinalPathFunction FinalPathOfHandle()
{
    static FinalPathFunction function = reinterpret_cast<FinalPathFunction>(reinterpret_cast<void (*)(void)>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA")));
    return function;
}

// Without the system's answer (older systems, which know junctions only): no component on the way is a
// reparse point.
bool NoReparsePointOnTheWay(const std::string& path)
{
    size_t root = RootOf(path);
    for (size_t end = path.find('\\', root);; end = path.find('\\', end + 1)) {
        std::string head = path.substr(0, end);
        DWORD attributes = GetFileAttributesA(head.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            return false;
        }
        if (end == std::string::npos) {
            return true;
        }
    }
}

} // namespace

bool NormalisePath(const char* path, std::string* out, GateVerdict* verdict)
{
    *verdict = GATE_NOT_FULL_PATH;
    if (path == nullptr) {
        return false;
    }
    std::string p(path);
    for (char& c : p) {
        if (c == '/') {
            c = '\\';
        }
        if (static_cast<unsigned char>(c) < 0x20 || strchr("<>\"|?*", c) != nullptr) {
            // No name holds these; "\\?\" and "\\.\" are device paths.
            *verdict = p.rfind("\\\\", 0) == 0 && (p[2] == '?' || p[2] == '.') ? GATE_DEVICE : GATE_NOT_FULL_PATH;
            return false;
        }
    }
    if (p.rfind("\\\\.\\", 0) == 0) {
        *verdict = GATE_DEVICE;
        return false;
    }
    size_t root = RootOf(p);
    if (root == 0 || p.find(':', root) != std::string::npos) {
        return false; // not fully qualified, or a stream of a file
    }
    if (!LocalFormOfShare(&p, verdict)) {
        return false;
    }
    root = RootOf(p);
    if (!IsCanonical(p, root) && !SystemFullPath(p, &p)) {
        return false;
    }
    root = RootOf(p);
    if (root == 0) {
        *verdict = p.rfind("\\\\.\\", 0) == 0 ? GATE_DEVICE : GATE_NOT_FULL_PATH;
        return false;
    }
    if (HasDeviceComponent(p, root)) {
        *verdict = GATE_DEVICE;
        return false;
    }
    while (p.size() > root && p.back() == '\\') {
        p.pop_back();
    }
    if (p.find('~', root) != std::string::npos) {
        ExpandShortNames(&p, root);
    }
    *out = std::move(p);
    *verdict = GATE_ALLOWED;
    return true;
}

std::string UpperPath(const std::string& path)
{
    std::string upper(path);
    if (!upper.empty()) {
        CharUpperBuffA(&upper[0], static_cast<DWORD>(upper.size()));
    }
    return upper;
}

bool ReachedPath(HANDLE handle, bool withVolume, std::string* reached)
{
    const DWORD VOLUME_NAME_DOS_FLAG = 0x0, VOLUME_NAME_NONE_FLAG = 0x4;
    FinalPathFunction finalPath = FinalPathOfHandle();
    if (finalPath == nullptr) {
        return false;
    }
    std::vector<char> buffer(MAX_PATH * 2);
    for (int attempt = 0; attempt < 2; attempt++) {
        DWORD n = finalPath(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                            withVolume ? VOLUME_NAME_DOS_FLAG : VOLUME_NAME_NONE_FLAG);
        if (n == 0) {
            return false;
        }
        if (n < buffer.size()) {
            reached->assign(buffer.data(), n);
            // "\\?\C:\..." and "\\?\UNC\server\..." are the plain paths behind the prefix.
            if (reached->rfind("\\\\?\\UNC\\", 0) == 0) {
                reached->replace(0, 8, "\\\\");
            } else if (reached->rfind("\\\\?\\", 0) == 0) {
                reached->erase(0, 4);
            }
            return true;
        }
        buffer.resize(n + 1);
    }
    return false;
}

bool ReachedByPath(HANDLE handle, const std::string& path)
{
    if (FinalPathOfHandle() == nullptr) {
        return NoReparsePointOnTheWay(path);
    }
    HeapPtr<wchar_t> wide(AnsiToWide(path.c_str()));
    return wide && NtReachedByPath(handle, wide.get());
}
