#include "script/object_keys.h"

#include "script/object_internal.h"
#include "script/object_text.h"
#include "support/memory.h"
#include "support/reg_keys.h"
#include "support/strings.h"

#include <string.h>

namespace {

// The root key of an object: its own when it is built-in, else its nearest built-in ancestor's; the
// handle field when set, else chosen by the root's name.
HKEY RootKey(InstallObject* o, ObjectDatabase* d, InstallObject** root)
{
    *root = (o->state & STATE_READ_ONLY) ? o : FindObjectIn(d, GetAncestorObject(o->id, 1));
    if (*root == nullptr) {
        return nullptr;
    }
    if ((*root)->handle != 0) {
        return reinterpret_cast<HKEY>((*root)->handle);
    }
    struct Named {
        const char* name;
        HKEY key;
    } const named[] = {{"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                       {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                       {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
                       {"HKEY_USERS", HKEY_USERS}};
    for (const Named& n : named) {
        if (strcmp((*root)->name, n.name) == 0) {
            return n.key;
        }
    }
    return nullptr;
}

// Opens path below root (the root itself for an empty path): the error code, the key in *key.
LONG OpenBelow(HKEY root, const char* path, REGSAM access, HKEY* key)
{
    *key = nullptr;
    if (path == nullptr || path[0] == '\0') {
        *key = root;
        return ERROR_SUCCESS;
    }
    LONG r = RegOpenKeyExA(root, path, 0, access, key);
    if (r != ERROR_SUCCESS) {
        *key = nullptr;
    }
    return r;
}

// Reads a value with the parameter rules: data only together with a size; with none of the three
// the type goes to a scratch variable.
LONG QueryValue(HKEY key, const char* valueName, DWORD* type, BYTE* data, DWORD* size)
{
    DWORD scratch = 0;
    if (type == nullptr && data == nullptr && size == nullptr) {
        type = &scratch;
    }
    return RegQueryValueExA(key, valueName, nullptr, type, size != nullptr ? data : nullptr, size);
}

// Hands the key to the caller or closes it.
void HandOver(HKEY key, HKEY root, LONG result, HKEY* keyOut, int* mustCloseOut)
{
    if (key == nullptr) {
        return;
    }
    bool own = key != root;
    if (result == ERROR_SUCCESS && keyOut != nullptr && mustCloseOut != nullptr) {
        *keyOut = key;
        *mustCloseOut = own ? 1 : 0;
    } else if (own) {
        RegCloseKey(key);
    }
}

void ClearOuts(HKEY* keyOut, int* mustCloseOut)
{
    if (keyOut != nullptr) {
        *keyOut = nullptr;
    }
    if (mustCloseOut != nullptr) {
        *mustCloseOut = 0;
    }
}

// Removes all leading and trailing backslashes in place.
void TrimBackslashes(char* text)
{
    size_t n = strlen(text), start = 0;
    while (start < n && text[start] == '\\') {
        start++;
    }
    while (n > start && text[n - 1] == '\\') {
        n--;
    }
    memmove(text, text + start, n - start);
    text[n - start] = '\0';
}

} // namespace

LONG OpenObjectKey(ObjectId keyObject, const char* subPath, const char* valueName, REGSAM access, DWORD* type,
                   BYTE* data, DWORD* size, HKEY* keyOut, int* mustCloseOut)
{
    ClearOuts(keyOut, mustCloseOut);
    HeldObject guard(keyObject);
    InstallObject* o = guard.object();
    if (o == nullptr || ObjectType(o) != OBJECT_REGKEY) {
        return ERROR_FILE_NOT_FOUND;
    }
    InstallObject* root = nullptr;
    HKEY rootKey = RootKey(o, guard.database(), &root);
    if (rootKey == nullptr) {
        return ERROR_PATH_NOT_FOUND;
    }
    UINT32 mode =
        (o->state & STATE_READ_ONLY) ? PATH_FOLDER | PATH_BELOW_BUILTIN | PATH_TRIM : PATH_BELOW_BUILTIN | PATH_TRIM;
    char* path = GetObjectPath(keyObject, mode, nullptr, 0);
    if (path == nullptr) {
        return ERROR_PATH_NOT_FOUND;
    }
    if (subPath != nullptr) {
        char* joined = PathJoin(path, subPath, false);
        MemFree(path);
        if (joined == nullptr) {
            return ERROR_PATH_NOT_FOUND;
        }
        TrimBackslashes(joined);
        path = joined;
    }
    HKEY key = nullptr;
    LONG result = OpenBelow(rootKey, path, access, &key);
    MemFree(path);
    if (key != nullptr) {
        if (valueName != nullptr) {
            result = QueryValue(key, valueName, type, data, size);
        } else {
            result = type == nullptr && data == nullptr && size == nullptr ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
        }
    }
    HandOver(key, rootKey, result, keyOut, mustCloseOut);
    return result;
}

LONG OpenObjectKeyRead(ObjectId keyObject, const char* subPath, const char* valueName, DWORD* type, BYTE* data,
                       DWORD* size, HKEY* keyOut, int* mustCloseOut)
{
    return OpenObjectKey(keyObject, subPath, valueName, KEY_READ, type, data, size, keyOut, mustCloseOut);
}

LONG QueryItemValue(ObjectId itemObject, REGSAM access, DWORD* type, BYTE* data, DWORD* size, HKEY* keyOut,
                    int* mustCloseOut)
{
    ClearOuts(keyOut, mustCloseOut);
    HeldObject guard(itemObject);
    InstallObject* o = guard.object();
    if (o == nullptr || ObjectType(o) != OBJECT_REGITEM) {
        return ERROR_FILE_NOT_FOUND;
    }
    InstallObject* root = nullptr;
    HKEY rootKey = RootKey(o, guard.database(), &root);
    if (rootKey == nullptr || root == o) {
        return ERROR_PATH_NOT_FOUND;
    }
    char* path = GetObjectPath(itemObject, PATH_FOLDER | PATH_BELOW_BUILTIN | PATH_TRIM, nullptr, 0);
    if (path == nullptr) {
        return ERROR_PATH_NOT_FOUND;
    }
    HKEY key = nullptr;
    LONG result = OpenBelow(rootKey, path, access, &key);
    MemFree(path);
    if (key != nullptr) {
        result = ERROR_FILE_NOT_FOUND;
        char* valueName = GetObjectLeafName(itemObject, 1, nullptr, 0);
        if (valueName != nullptr) {
            result = QueryValue(key, valueName, type, data, size);
            FreeObjectText(valueName);
        }
    }
    HandOver(key, rootKey, result, keyOut, mustCloseOut);
    return result;
}

LONG QueryItemValueRead(ObjectId itemObject, DWORD* type, BYTE* data, DWORD* size, HKEY* keyOut, int* mustCloseOut)
{
    return QueryItemValue(itemObject, KEY_READ, type, data, size, keyOut, mustCloseOut);
}

char* ReadItemString(ObjectId itemObject)
{
    DWORD type = 0, size = 0;
    if (QueryItemValueRead(itemObject, &type, nullptr, &size, nullptr, nullptr) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return nullptr;
    }
    // One byte more than the value, so that a value stored without its terminator still gets one.
    DWORD room = size + 1;
    char* text = static_cast<char*>(MemAlloc((static_cast<size_t>(room) + 4) & ~static_cast<size_t>(3)));
    if (text == nullptr) {
        return nullptr;
    }
    if (QueryItemValueRead(itemObject, &type, reinterpret_cast<BYTE*>(text), &size, nullptr, nullptr) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        MemFree(text);
        return nullptr;
    }
    return text;
}
