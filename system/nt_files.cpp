#include "system/nt_files.h"

#include <winternl.h>

extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG,
                                               FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING, BOOLEAN);

namespace {

const NTSTATUS STATUS_CANNOT_DELETE_FILE = static_cast<NTSTATUS>(0xC0000121);
const NTSTATUS STATUS_NO_MORE_ENTRIES = static_cast<NTSTATUS>(0x80000006);
const ULONG OPEN_LINK_ITSELF = 0x00200000; // FILE_OPEN_REPARSE_POINT
const ULONG LIST_BUFFER = 64 * 1024;
// A drive's definition is a device path ("\\Device\\LanmanRedirector\\;Z:...\\server\\share\\...");
// one longer than this is none the gate knows.
const size_t DRIVE_TARGET_LIMIT = 4096;
// A SUBST drive may map a folder of another SUBST drive; this many steps at most are followed.
const int DRIVE_MAPPING_LEVELS = 4;

struct DirectoryInformation {
    ULONG nextEntryOffset;
    ULONG fileIndex;
    LARGE_INTEGER creationTime, lastAccessTime, lastWriteTime, changeTime, endOfFile, allocationSize;
    ULONG fileAttributes;
    ULONG fileNameLength;
    WCHAR fileName[1];
};

struct DispositionInformation {
    BOOLEAN deleteFile;
};

struct AttributeTagInformation {
    ULONG fileAttributes;
    ULONG reparseTag;
};

typedef DWORD(WINAPI* FinalPathFunction)(HANDLE, LPWSTR, DWORD, DWORD);

size_t WideRootLength(const std::wstring& p)
{
    if (p.size() >= 3 && p[1] == L':' && p[2] == L'\\') {
        return 3;
    }
    size_t server = p.size() > 2 && p[0] == L'\\' && p[1] == L'\\' ? p.find(L'\\', 2) : std::wstring::npos;
    size_t share = server != std::wstring::npos ? p.find(L'\\', server + 1) : std::wstring::npos;
    return share != std::wstring::npos ? share + 1 : p.size();
}

typedef BOOL(WINAPI* IsWow64Function)(HANDLE, BOOL*);
typedef UINT(WINAPI* Wow64DirectoryFunction)(LPWSTR, UINT);

// A path below its root ("\\Windows\\System32" for "C:\\Windows\\System32").
std::wstring BelowRoot(const wchar_t* path)
{
    std::wstring p(path);
    return p.size() >= WideRootLength(p) ? L"\\" + p.substr(WideRootLength(p)) : std::wstring();
}

struct SystemFolders {
    std::wstring system;     // "\\Windows\\System32"
    std::wstring redirected; // where a 32-bit program on a 64-bit system is led instead; empty elsewhere
};

SystemFolders FindSystemFolders()
{
    SystemFolders f;
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    IsWow64Function isWow64 =
        reinterpret_cast<IsWow64Function>(reinterpret_cast<void (*)(void)>(GetProcAddress(kernel, "IsWow64Process")));
    Wow64DirectoryFunction wow64Directory = reinterpret_cast<Wow64DirectoryFunction>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(kernel, "GetSystemWow64DirectoryW")));
    BOOL wow64 = FALSE;
    wchar_t folder[MAX_PATH];
    if (isWow64 != nullptr && wow64Directory != nullptr && isWow64(GetCurrentProcess(), &wow64) && wow64 &&
        wow64Directory(folder, MAX_PATH) != 0) {
        f.redirected = BelowRoot(folder);
        if (GetSystemDirectoryW(folder, MAX_PATH) != 0) {
            f.system = BelowRoot(folder);
        }
    }
    return f;
}

// A 32-bit program on a 64-bit system asks for the system folder and is led to the 32-bit one: the
// path reached there is, for this program, the path below its system folder.
std::wstring AsThisProgramSeesIt(const std::wstring& reached)
{
    static const SystemFolders folders = FindSystemFolders();
    size_t n = folders.redirected.size();
    if (n == 0 || folders.system.empty() || reached.size() < n ||
        _wcsnicmp(reached.c_str(), folders.redirected.c_str(), n) != 0 || (reached.size() > n && reached[n] != L'\\')) {
        return reached;
    }
    return folders.system + reached.substr(n);
}

} // namespace

HANDLE NtOpenRelative(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG options, DWORD* error)
{
    UNICODE_STRING text;
    text.Buffer = const_cast<wchar_t*>(name.c_str());
    text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK io;
    HANDLE handle = nullptr;
    NTSTATUS status = NtCreateFile(
        &handle, access | SYNCHRONIZE, &attributes, &io, nullptr, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
        options | OPEN_LINK_ITSELF | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT, nullptr, 0);
    *error = status >= 0 ? ERROR_SUCCESS : RtlNtStatusToDosError(status);
    return status >= 0 ? handle : nullptr;
}

bool NtListFolder(HANDLE folder, std::vector<NtDirEntry>* entries, DWORD* error)
{
    entries->clear();
    std::vector<ULONGLONG> buffer(LIST_BUFFER / sizeof(ULONGLONG)); // aligned for the records
    for (BOOLEAN restart = TRUE;; restart = FALSE) {
        IO_STATUS_BLOCK io;
        NTSTATUS status = NtQueryDirectoryFile(folder, nullptr, nullptr, nullptr, &io, buffer.data(), LIST_BUFFER,
                                               FileDirectoryInformation, FALSE, nullptr, restart);
        if (status == STATUS_NO_MORE_ENTRIES) {
            return true;
        }
        if (status < 0) {
            *error = RtlNtStatusToDosError(status);
            return false;
        }
        const BYTE* at = reinterpret_cast<const BYTE*>(buffer.data());
        for (;;) {
            const DirectoryInformation* e = reinterpret_cast<const DirectoryInformation*>(at);
            std::wstring name(e->fileName, e->fileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") {
                entries->push_back({name, e->fileAttributes});
            }
            if (e->nextEntryOffset == 0) {
                break;
            }
            at += e->nextEntryOffset;
        }
    }
}

bool NtFileIndex(HANDLE handle, ULONGLONG* index)
{
    const FILE_INFORMATION_CLASS INTERNAL_INFORMATION = static_cast<FILE_INFORMATION_CLASS>(6);
    IO_STATUS_BLOCK io;
    LARGE_INTEGER number = {};
    if (NtQueryInformationFile(handle, &io, &number, sizeof(number), INTERNAL_INFORMATION) < 0) {
        return false;
    }
    *index = static_cast<ULONGLONG>(number.QuadPart);
    return true;
}

DWORD NtHandleAttributes(HANDLE handle)
{
    IO_STATUS_BLOCK io;
    AttributeTagInformation tag = {};
    NTSTATUS status = NtQueryInformationFile(handle, &io, &tag, sizeof(tag), FileAttributeTagInformation);
    return status >= 0 ? tag.fileAttributes : INVALID_FILE_ATTRIBUTES;
}

DWORD NtDeleteOnClose(HANDLE handle)
{
    IO_STATUS_BLOCK io;
    DispositionInformation disposition = {TRUE};
    NTSTATUS status = NtSetInformationFile(handle, &io, &disposition, sizeof(disposition), FileDispositionInformation);
    if (status == STATUS_CANNOT_DELETE_FILE) {
        // Read-only: the attributes are cleared (times of 0 stay as they are) and the deletion asked again.
        FILE_BASIC_INFORMATION basic = {};
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        if (NtSetInformationFile(handle, &io, &basic, sizeof(basic), FileBasicInformation) >= 0) {
            status = NtSetInformationFile(handle, &io, &disposition, sizeof(disposition), FileDispositionInformation);
        }
    }
    return status >= 0 ? ERROR_SUCCESS : RtlNtStatusToDosError(status);
}

namespace {

std::wstring WithoutTrailingSeparators(std::wstring text)
{
    while (text.size() > 3 && text.back() == L'\\') {
        text.pop_back();
    }
    return text;
}

// The cheaper question first: the path reached, with its drive, is the path asked for. Where it is not
// (a share, another name of the same volume), the form without a volume decides.
bool ReachedWithDrive(HANDLE handle, FinalPathFunction finalPath, const std::wstring& path,
                      std::vector<wchar_t>* buffer)
{
    const DWORD VOLUME_NAME_DOS_FLAG = 0x0;
    DWORD n = finalPath(handle, buffer->data(), static_cast<DWORD>(buffer->size()), VOLUME_NAME_DOS_FLAG);
    if (n == 0 || n >= buffer->size()) {
        return false;
    }
    std::wstring reached(buffer->data(), n);
    const std::wstring longPrefix = L"\\\\?\\";
    if (reached.compare(0, longPrefix.size(), longPrefix) != 0 || reached.compare(4, 4, L"UNC\\") == 0) {
        return false;
    }
    reached.erase(0, longPrefix.size());
    return lstrcmpiW(WithoutTrailingSeparators(reached).c_str(), WithoutTrailingSeparators(path).c_str()) == 0;
}

// Whether the object behind handle lies on the volume the path's root names: the same path below
// another volume's root (a link to the same place on another drive) is somewhere else.
bool OnVolumeOf(HANDLE handle, const std::wstring& path)
{
    BY_HANDLE_FILE_INFORMATION information = {};
    DWORD serial = 0;
    std::wstring root = path.substr(0, WideRootLength(path));
    if (!root.empty() && root.back() != L'\\') {
        root += L'\\';
    }
    return GetFileInformationByHandle(handle, &information) &&
           GetVolumeInformationW(root.c_str(), nullptr, 0, &serial, nullptr, nullptr, nullptr, 0) &&
           serial == information.dwVolumeSerialNumber;
}

// The object behind the handle was reached by path, a path on a drive that is a volume of its own.
bool ReachedAsMapped(HANDLE handle, const std::wstring& path)
{
    const DWORD VOLUME_NAME_NONE_FLAG = 0x4;
    static FinalPathFunction finalPath = reinterpret_cast<FinalPathFunction>(reinterpret_cast<void (*)(void)>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleW")));
    if (finalPath == nullptr) {
        // Older systems know junctions only, and a handle opened without following them is the link.
        DWORD attributes = NtHandleAttributes(handle);
        return attributes != INVALID_FILE_ATTRIBUTES;
    }
    std::vector<wchar_t> buffer(path.size() + MAX_PATH);
    if (ReachedWithDrive(handle, finalPath, path, &buffer)) {
        return true;
    }
    DWORD n = finalPath(handle, buffer.data(), static_cast<DWORD>(buffer.size()), VOLUME_NAME_NONE_FLAG);
    if (n == 0 || n >= buffer.size()) {
        return false;
    }
    std::wstring reached(buffer.data(), n);
    std::wstring asked = L"\\" + path.substr(WideRootLength(path));
    while (reached.size() > 1 && reached.back() == L'\\') {
        reached.pop_back();
    }
    bool samePath = lstrcmpiW(asked.c_str(), reached.c_str()) == 0 ||
                    lstrcmpiW(asked.c_str(), AsThisProgramSeesIt(reached).c_str()) == 0;
    return samePath && OnVolumeOf(handle, path);
}

} // namespace

std::wstring NtDriveTarget(wchar_t letter)
{
    const wchar_t device[] = {letter, L':', L'\0'};
    std::vector<wchar_t> buffer(DRIVE_TARGET_LIMIT, L'\0');
    if (QueryDosDeviceW(device, buffer.data(), static_cast<DWORD>(buffer.size() - 1)) == 0) {
        return std::wstring();
    }
    std::wstring target(buffer.data()); // the first of the list: the definition in force
    const std::wstring dosPrefix = L"\\??\\";
    if (target.compare(0, dosPrefix.size(), dosPrefix) == 0) {
        std::wstring rest = target.substr(dosPrefix.size());
        if (rest.compare(0, 4, L"UNC\\") == 0) {
            return L"\\\\" + rest.substr(4);
        }
        bool drivePath = rest.size() >= 3 && rest[1] == L':' && rest[2] == L'\\';
        return drivePath ? WithoutTrailingSeparators(rest) : std::wstring();
    }
    // A redirector's drive: "\Device\LanmanRedirector\;Z:0000000000012345\server\share\sub" (the
    // redirector may sit below "\Device\Mup\;..."): what follows the drive's own ";Z:..." component.
    const wchar_t own[] = {L'\\', L';', letter, L':', L'\0'};
    size_t at = target.find(own);
    if (at == std::wstring::npos) {
        bool upper = letter >= L'A' && letter <= L'Z';
        const wchar_t lower[] = {L'\\', L';', upper ? static_cast<wchar_t>(letter - L'A' + L'a') : letter, L':', L'\0'};
        at = target.find(lower);
    }
    size_t server = at == std::wstring::npos ? std::wstring::npos : target.find(L'\\', at + 1);
    if (server == std::wstring::npos || server + 1 >= target.size()) {
        return std::wstring();
    }
    return WithoutTrailingSeparators(L"\\" + target.substr(server));
}

bool NtReachedByPath(HANDLE handle, const std::wstring& path)
{
    // A path on a drive that maps a folder is the path in that folder (a drive maps another drive's
    // folder at most a few levels deep).
    std::wstring mapped = path;
    for (int level = 0; level < DRIVE_MAPPING_LEVELS && mapped.size() >= 2 && mapped[1] == L':'; level++) {
        std::wstring target = NtDriveTarget(mapped[0]);
        if (target.empty()) {
            break;
        }
        if (target.back() == L'\\') {
            target.pop_back(); // a drive that maps another drive's root
        }
        mapped = target + mapped.substr(2);
    }
    return ReachedAsMapped(handle, mapped);
}
