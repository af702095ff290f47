#include "system/system_state.h"

#include "support/guards.h"
#include "support/reg_keys.h"
#include "system/deletion_gate.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char kSharedDlls[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs\\";
const char kCurrentVersion[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\";

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
        return static_cast<UINT32>(atol(reinterpret_cast<const char*>(data)));
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

bool WriteCount(HKEY key, const char* valueName, DWORD type, DWORD oldSize, UINT32 count)
{
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

} // namespace

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
    LONG r = RegQueryValueExA(key, valueName, nullptr, &type, data, &size);
    UINT32 result = 0;
    if (r == ERROR_SUCCESS && IsCountType(type)) {
        UINT32 count = type == REG_DWORD_BIG_ENDIAN && size < 4 ? 0 : ReadCount(type, data, size);
        if (delta == 0) {
            result = count;
        } else {
            UINT32 next = delta > 0 ? count + 1 : (count > 0 ? count - 1 : 0);
            if (next == 0 && deleteAtZero) {
                GateDeleteRegValue(key, valueName);
                result = 0;
            } else {
                result = WriteCount(key, valueName, type, size, next) ? next : count;
            }
        }
    } else if ((r == ERROR_FILE_NOT_FOUND || r == ERROR_PATH_NOT_FOUND) && delta >= 1) {
        DWORD one = 1;
        result = RegSetValueExA(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4) == ERROR_SUCCESS
                     ? 1
                     : 0;
    }
    return result;
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
