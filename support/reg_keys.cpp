#include "support/reg_keys.h"

#include "support/guards.h"

#include <string.h>

namespace {

// Keys nest at most this deep: a recursive deletion goes no further, whatever the registry holds.
const int DELETE_DEPTH_LIMIT = 512;

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

int DeleteTree(HKEY parent, const char* path, int deleteEmptyParents, int recursive, int depth);

// Deletes what a key holds, its subkeys recursively, from the last index down; false when something
// is left.
bool EmptyKey(HKEY key, int subkeys, int values, int depth)
{
    for (int i = subkeys - 1; i >= 0; i--) {
        char name[256];
        DWORD size = sizeof(name);
        if (EnumKey(key, static_cast<DWORD>(i), name, &size) != ERROR_SUCCESS) {
            break;
        }
        if (DeleteTree(key, name, 0, 1, depth + 1)) {
            subkeys--;
        }
    }
    for (int i = values - 1; i >= 0; i--) {
        char name[256];
        DWORD size = sizeof(name);
        if (EnumValue(key, static_cast<DWORD>(i), name, &size) != ERROR_SUCCESS) {
            break;
        }
        if (DeleteRegValue(key, name)) {
            values--;
        }
    }
    return subkeys <= 0 && values <= 0;
}

// Deletes the key at work below parent (with recursive, what it holds first); true when it went.
bool DeleteOneKey(HKEY parent, const char* work, int recursive, int depth)
{
    RegKeyHandle key(OpenRegKeyWrite(parent, work));
    if (!key) {
        return false;
    }
    int subkeys = CountRegSubKeys(key.get());
    int values = CountRegValues(key.get());
    if (!recursive && (subkeys != 0 || values != 0)) {
        return false; // a key that is not empty is not deleted
    }
    bool emptied = EmptyKey(key.get(), subkeys, values, depth);
    key.reset();
    return emptied && RegDeleteKeyA(parent, work) == ERROR_SUCCESS;
}

int DeleteTree(HKEY parent, const char* path, int deleteEmptyParents, int recursive, int depth)
{
    if (parent == nullptr || path == nullptr || depth > DELETE_DEPTH_LIMIT) {
        return 0;
    }
    HeapText work(TrimmedPath(path, false));
    if (!work) {
        return 0;
    }
    int result = 0;
    for (;;) {
        size_t n = strlen(work.get());
        if (n != 0 && work.get()[n - 1] == '\\') {
            work.get()[--n] = '\0';
        }
        if (n == 0 || !DeleteOneKey(parent, work.get(), recursive, depth)) {
            break;
        }
        result = 1;
        // On to the parent key along the path, which goes only when it has become empty.
        char* slash = strrchr(work.get(), '\\');
        if (slash != nullptr) {
            slash[1] = '\0';
        } else {
            work.get()[0] = '\0';
        }
        recursive = 0;
        if (!deleteEmptyParents) {
            break;
        }
    }
    return result;
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

int DeleteRegKeyTree(HKEY parent, const char* path, int deleteEmptyParents, int recursive)
{
    return DeleteTree(parent, path, deleteEmptyParents, recursive, 0);
}

int SetRegString(HKEY key, const char* valueName, const char* text)
{
    if (key == nullptr || valueName == nullptr) {
        return 0;
    }
    if (text == nullptr) {
        text = "";
    }
    DWORD size = static_cast<DWORD>(strlen(text) + 1);
    return RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size) == ERROR_SUCCESS ? 1
                                                                                                                 : 0;
}

int DeleteRegValue(HKEY key, const char* valueName)
{
    if (key == nullptr || valueName == nullptr) {
        return 0;
    }
    return RegDeleteValueA(key, valueName) == ERROR_SUCCESS ? 1 : 0;
}

LONG FlushRegistry()
{
    RegFlushKey(HKEY_CLASSES_ROOT);
    RegFlushKey(HKEY_CURRENT_USER);
    RegFlushKey(HKEY_LOCAL_MACHINE);
    return RegFlushKey(HKEY_USERS);
}
