#include "system/system_state.h"

#include "support/guards.h"
#include "support/reg_keys.h"
#include "support/strings.h"
#include "support/plan_mode.h"
#include "system/deletion_gate.h"
#include "system/plan_state.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

const char kSharedDlls[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs\\";
const char kCurrentVersion[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\";

const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
// The restart list holds other programs' paths in the system's own characters: it is read and written
// back in them, never through the ANSI code page, which would change what it cannot show.
const wchar_t kRestartList[] = L"PendingFileRenameOperations";
// The list is a few entries long; one beyond this is not ours to rewrite.
const DWORD RESTART_LIST_LIMIT = 4 * 1024 * 1024;

const DWORD COUNT_BUFFER = 258;
const DWORD RENAME_SECTION = 32768;
const DWORD RENAME_READ = 32752;

bool IsCountType(DWORD type)
{
    return type == REG_SZ || type == REG_BINARY || type == REG_DWORD || type == REG_DWORD_BIG_ENDIAN;
}

UINT32 ReadCount(DWORD type, const BYTE* data, DWORD size)
{
    switch (type) {
    case REG_SZ:
        return static_cast<UINT32>(strtoul(reinterpret_cast<const char*>(data), nullptr, 10));
    case REG_BINARY:
    case REG_DWORD: {
        // Shorter data counts as zero-extended.
        BYTE b[4] = {};
        memcpy(b, data, size < 4 ? size : 4);
        return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<UINT32>(b[3]) << 24);
    }
    default: // REG_DWORD_BIG_ENDIAN
        return (static_cast<UINT32>(data[0]) << 24) | (data[1] << 16) | (data[2] << 8) | data[3];
    }
}

// A count's value as it stands, or (for a plan) as the plan would have left it.
LONG QueryCount(HKEY key, const char* valueName, DWORD* type, BYTE* data, DWORD* size)
{
    LONG r = RegQueryValueExA(key, valueName, nullptr, type, data, size);
    if (!PlanMode()) {
        return r;
    }
    std::string keyPath = PlanKeyPathOf(key);
    UINT32 planned = 0;
    if (PlanValueGone(keyPath, valueName)) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (PlanCountOf(keyPath, valueName, &planned)) {
        *type = REG_DWORD;
        *size = 4;
        memcpy(data, &planned, 4);
        return ERROR_SUCCESS;
    }
    return r;
}

bool WriteCount(HKEY key, const char* valueName, DWORD type, DWORD oldSize, UINT32 count)
{
    if (PlanMode()) {
        PlanCountBecomes(PlanKeyPathOf(key), valueName, count);
        return true;
    }
    BYTE data[16] = {};
    DWORD size = 4;
    switch (type) {
    case REG_SZ:
        size = static_cast<DWORD>(snprintf(reinterpret_cast<char*>(data), sizeof(data), "%u", count) + 1);
        break;
    case REG_BINARY:
    case REG_DWORD:
        for (int i = 0; i < 4; i++) {
            data[i] = static_cast<BYTE>(count >> (8 * i));
        }
        if (type == REG_BINARY && oldSize < 4) {
            size = oldSize; // cut to the length the value already had
        }
        break;
    default:
        for (int i = 0; i < 4; i++) {
            data[i] = static_cast<BYTE>(count >> (24 - 8 * i));
        }
        break;
    }
    return RegSetValueExA(key, valueName, 0, type, data, size) == ERROR_SUCCESS;
}

// The restart list's strings (source, destination, source, ...), empty when there is none.
std::vector<std::wstring> ReadRestartList(HKEY key)
{
    std::vector<std::wstring> strings;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, kRestartList, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_MULTI_SZ ||
        size > RESTART_LIST_LIMIT) {
        return strings;
    }
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 2, L'\0');
    if (RegQueryValueExW(key, kRestartList, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
        ERROR_SUCCESS) {
        return strings;
    }
    size_t end = size / sizeof(wchar_t);
    // Each pair is two strings, the second empty for a deletion; the list ends with the pair that ends.
    for (size_t at = 0; at < end;) {
        std::wstring text(data.data() + at);
        at += text.size() + 1;
        strings.push_back(text);
    }
    if (strings.size() % 2 != 0 && strings.back().empty()) {
        strings.pop_back(); // the list's closing empty string
    }
    return strings;
}

LONG WriteRestartList(HKEY key, const std::vector<std::wstring>& strings)
{
    if (strings.empty()) {
        return RegDeleteValueW(key, kRestartList);
    }
    std::vector<wchar_t> data;
    for (const std::wstring& text : strings) {
        data.insert(data.end(), text.begin(), text.end());
        data.push_back(L'\0');
    }
    data.push_back(L'\0');
    return RegSetValueExW(key, kRestartList, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                          static_cast<DWORD>(data.size() * sizeof(wchar_t)));
}

} // namespace

int WithdrawRestartDeletion(const char* path)
{
    if (PlanMode()) {
        return 0; // a plan arranged no restart deletion to take back
    }
    HeapPtr<wchar_t> wide(path != nullptr ? AnsiToWide(path) : nullptr);
    RegKeyHandle key(OpenRegKeyWrite(HKEY_LOCAL_MACHINE, kSessionManager));
    if (!wide || !key) {
        return 0;
    }
    std::wstring entry = std::wstring(L"\\??\\") + wide.get();
    std::vector<std::wstring> strings = ReadRestartList(key.get());
    for (size_t i = strings.size() / 2; i-- > 0;) {
        const std::wstring& source = strings[2 * i];
        if (strings[2 * i + 1].empty() && source.size() == entry.size() &&
            _wcsicmp(source.c_str(), entry.c_str()) == 0) {
            strings.erase(strings.begin() + 2 * i, strings.begin() + 2 * i + 2);
            return WriteRestartList(key.get(), strings) == ERROR_SUCCESS ? 1 : 0;
        }
    }
    return 0;
}

UINT32 AdjustCounterValue(HKEY key, const char* valueName, int delta, int deleteAtZero)
{
    if (valueName == nullptr) {
        return 0;
    }
    RegKeyHandle opened;
    if (key == nullptr) {
        opened.reset(CreateRegKey(HKEY_LOCAL_MACHINE, kSharedDlls));
        if (!opened) {
            return 0;
        }
        key = opened.get();
    }
    // One byte more than is asked for, so that a string value is always terminated.
    BYTE data[COUNT_BUFFER + 1] = {};
    DWORD size = COUNT_BUFFER;
    DWORD type = 0;
    LONG r = QueryCount(key, valueName, &type, data, &size);
    UINT32 result = 0;
    if (r == ERROR_SUCCESS && IsCountType(type)) {
        UINT32 count = type == REG_DWORD_BIG_ENDIAN && size < 4 ? 0 : ReadCount(type, data, size);
        if (delta == 0) {
            result = count;
        } else {
            UINT32 next = delta > 0 ? (count < 0xFFFFFFFF ? count + 1 : count) : (count > 0 ? count - 1 : 0);
            if (next == 0 && deleteAtZero) {
                GateDeleteCount(key, valueName);
                result = 0;
            } else {
                result = WriteCount(key, valueName, type, size, next) ? next : count;
            }
        }
    } else if ((r == ERROR_FILE_NOT_FOUND || r == ERROR_PATH_NOT_FOUND) && delta >= 1) {
        result = WriteCount(key, valueName, REG_DWORD, 4, 1) ? 1 : 0;
    }
    return result < COUNT_LIMIT ? result : COUNT_LIMIT;
}

UINT32 BringCounterValue(HKEY key, const char* valueName, UINT32 count, int deleteAtZero)
{
    UINT32 stored = AdjustCounterValue(key, valueName, 0, 0);
    if (stored == count || valueName == nullptr) {
        return stored;
    }
    if (stored + 1 == count || count + 1 == stored) {
        return AdjustCounterValue(key, valueName, count > stored ? 1 : -1, deleteAtZero);
    }
    RegKeyHandle opened;
    if (key == nullptr) {
        opened.reset(CreateRegKey(HKEY_LOCAL_MACHINE, kSharedDlls));
        key = opened.get();
    }
    BYTE data[COUNT_BUFFER + 1] = {};
    DWORD size = COUNT_BUFFER, type = 0;
    LONG r = key != nullptr ? QueryCount(key, valueName, &type, data, &size) : ERROR_INVALID_HANDLE;
    if (r == ERROR_SUCCESS && !IsCountType(type)) {
        return stored; // not a count: left as it is
    }
    if (r != ERROR_SUCCESS) {
        type = REG_DWORD;
        size = 4;
    }
    if (count == 0 && deleteAtZero) {
        return r != ERROR_SUCCESS || GateDeleteCount(key, valueName).outcome == GATE_DONE ? 0 : stored;
    }
    return WriteCount(key, valueName, type, size, count) ? count : stored;
}

int DeleteUninstallKey(const char* name)
{
    return GateDeleteUninstallEntry(name).outcome == GATE_DONE ? 1 : 0;
}

int ScheduleRenameInIni(const char* iniPath, const char* newName, const char* existingName)
{
    if (iniPath == nullptr || existingName == nullptr) {
        return 0;
    }
    size_t entrySize = (newName != nullptr ? strlen(newName) : 3) + 1 + strlen(existingName) + 1;
    if (entrySize >= RENAME_READ) {
        return 0;
    }
    HeapText entry(static_cast<char*>(MemAlloc((entrySize + 4) & ~static_cast<size_t>(3))));
    HeapText section(static_cast<char*>(MemAlloc(RENAME_SECTION)));
    if (!entry || !section) {
        return 0;
    }
    snprintf(entry.get(), entrySize, "%s=%s", newName != nullptr ? newName : "NUL", existingName);
    DWORD n = GetPrivateProfileSectionA("Rename", section.get(), RENAME_READ, iniPath);
    // The entry goes where the section's final NUL stands, so the list stays double-NUL terminated; a
    // section without room is left as it is.
    if (n >= RENAME_READ - entrySize) {
        return 0;
    }
    memcpy(section.get() + n, entry.get(), entrySize);
    if (PlanMode()) {
        return 1;
    }
    return WritePrivateProfileSectionA("Rename", section.get(), iniPath) ? 1 : 0;
}

int ScheduleRebootRename(const char* newName, const char* existingName)
{
    if (existingName == nullptr) {
        return 0;
    }
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExA(&version)) {
        return 0;
    }
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        if (newName == nullptr) {
            return GateScheduleDeletion(existingName).outcome == GATE_DONE ? 1 : 0;
        }
        if (PlanMode()) {
            return 1;
        }
        return MoveFileExA(existingName, newName, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT) ? 1 : 0;
    }
    if (version.dwPlatformId != VER_PLATFORM_WIN32_WINDOWS) {
        return 0;
    }
    UINT needed = GetWindowsDirectoryA(nullptr, 0);
    HeapText ini(static_cast<char*>(MemAlloc((needed + 20) & ~3u)));
    if (!ini || GetWindowsDirectoryA(ini.get(), needed) == 0) {
        return 0;
    }
    size_t n = strlen(ini.get());
    if (n == 0 || ini.get()[n - 1] != '\\') {
        ini.get()[n++] = '\\';
    }
    memcpy(ini.get() + n, "WININIT.INI", 12);
    return ScheduleRenameInIni(ini.get(), newName, existingName);
}

int CanOpenCurrentVersionKey()
{
    RegKeyHandle key(OpenRegKeyWrite(HKEY_LOCAL_MACHINE, kCurrentVersion));
    return key ? 1 : 0;
}
