#include "support/reg_keys.h"

#include "support/guards.h"
#include "support/plan_mode.h"

#include <string.h>

namespace {

// A heap copy of path without one leading backslash and, when asked, one trailing backslash.
char* TrimmedPath(const char* path, bool dropTrailing)
{
    if (*path == '\\') {
        path++;
    }
    char* copy = MemCopyText(path);
    size_t n = copy != nullptr ? strlen(copy) : 0;
    if (dropTrailing && n != 0 && copy[n - 1] == '\\') {
        copy[n - 1] = '\0';
    }
    return copy;
}

HKEY OpenKey(HKEY parent, const char* path, REGSAM access)
{
    if (parent == nullptr || path == nullptr) {
        return nullptr;
    }
    HeapText trimmed(TrimmedPath(path, true));
    HKEY key = nullptr;
    if (!trimmed || RegOpenKeyExA(parent, trimmed.get(), 0, access, &key) != ERROR_SUCCESS) {
        return nullptr;
    }
    return key;
}

template <class Enumerate>
int CountEntries(HKEY key, Enumerate enumerate)
{
    if (key == nullptr) {
        return -1;
    }
    int count = 0;
    for (;;) {
        char name[256];
        DWORD size = sizeof(name);
        LONG r = enumerate(key, static_cast<DWORD>(count), name, &size);
        if (r == ERROR_SUCCESS) {
            count++;
            continue;
        }
        if (count == 0) {
            return r == ERROR_NO_MORE_ITEMS ? 0 : -1;
        }
        // A name that does not fit ends the enumeration: the entry before it is the last counted.
        return r == ERROR_NO_MORE_ITEMS ? count : count - 1;
    }
}

LONG EnumKey(HKEY key, DWORD index, char* name, DWORD* size)
{
    return RegEnumKeyExA(key, index, name, size, nullptr, nullptr, nullptr, nullptr);
}

LONG EnumValue(HKEY key, DWORD index, char* name, DWORD* size)
{
    return RegEnumValueA(key, index, name, size, nullptr, nullptr, nullptr, nullptr);
}

} // namespace

bool IsPredefinedRegKey(HKEY key)
{
    return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE || key == HKEY_USERS;
}

HKEY CreateRegKey(HKEY parent, const char* path)
{
    if (parent == nullptr || path == nullptr) {
        return nullptr;
    }
    if (*path == '\\') {
        path++;
    }
    if (PlanMode()) {
        return OpenKey(parent, path, KEY_ALL_ACCESS); // a plan makes no key: one that is missing stays so
    }
    HKEY key = nullptr;
    if (RegCreateKeyExA(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return nullptr;
    }
    return key;
}

HKEY OpenRegKeyWrite(HKEY parent, const char* path)
{
    return OpenKey(parent, path, KEY_ALL_ACCESS);
}

HKEY OpenRegKeyRead(HKEY parent, const char* path)
{
    return OpenKey(parent, path, KEY_READ);
}

int CloseRegKey(HKEY key)
{
    if (key == nullptr) {
        return 0;
    }
    if (IsPredefinedRegKey(key)) {
        return 1;
    }
    return RegCloseKey(key) == ERROR_SUCCESS ? 1 : 0;
}

int CountRegSubKeys(HKEY key)
{
    return CountEntries(key, EnumKey);
}

int CountRegValues(HKEY key)
{
    return CountEntries(key, EnumValue);
}

int SetRegString(HKEY key, const char* valueName, const char* text)
{
    if (key == nullptr || valueName == nullptr) {
        return 0;
    }
    if (text == nullptr) {
        text = "";
    }
    if (PlanMode()) {
        return 1; // a plan writes nothing
    }
    DWORD size = static_cast<DWORD>(strlen(text) + 1);
    return RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size) == ERROR_SUCCESS ? 1
                                                                                                                 : 0;
}

LONG FlushRegistry()
{
    RegFlushKey(HKEY_CLASSES_ROOT);
    RegFlushKey(HKEY_CURRENT_USER);
    RegFlushKey(HKEY_LOCAL_MACHINE);
    return RegFlushKey(HKEY_USERS);
}
