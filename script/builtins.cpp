#include "script/builtins.h"

#include "system/shell_item.h"
#include "script/text_expansion.h"
#include "script/object_internal.h"
#include "support/memory.h"
#include "support/reg_keys.h"

#include <string.h>

namespace {

const UINT32 BUILTIN_FLAGS = OBJECT_ROOT_PATH | OBJECT_TOUCHED | MARK_SELECTED; // 0x8000009

struct SpecialGroup {
    const char* name;
    UINT32 folderId;
};

const SpecialGroup kSpecialGroups[] = {
    {"STARTMENU", SHELL_COMMON_STARTMENU},     {"USERSTARTMENU", SHELL_USER_STARTMENU},
    {"STARTGROUPS", SHELL_COMMON_PROGRAMS},    {"USERSTARTGROUPS", SHELL_USER_PROGRAMS},
    {"DESKTOP", SHELL_COMMON_DESKTOP},         {"USERDESKTOP", SHELL_USER_DESKTOP},
};

const char* const kProductValues[] = {"GROUP",   "USER",        "COMPANY", "EXE",   "DIR",   "SOURCE",  "PRODUCT",
                                      "VERSION", "PROJECT",     "PROJECT_DIR", "REMOVE", "SETUP", "LANGUAGE"};

const char* const kOtherNames[] = {"HKEY_CLASSES_ROOT", "HKEY_USERS",      "HKEY_LOCAL_MACHINE", "HKEY_SOFTWARE",
                                   "HKEY_CURRENT_USER", "HKEY_USER_SOFTWARE", "WINDIR",          "PROGFILES",
                                   "WINSYS",            "PARENT_HKEY",     "PROJECT_HKEY",       "SHARING_HKEY",
                                   "PRODUCT_HKEY",      "PROGMAN_GROUP",   "PRODUCT_LOCATION",   "PROJECT_LOCATION"};

InstallObject* Add(ObjectDatabase* d, const char* name, UINT32 type)
{
    return FindObjectIn(d, AddObject(d->handle, name, type));
}

// A read-only root with its own target text.
InstallObject* AddRoot(ObjectDatabase* d, const char* name, UINT32 type, const char* target)
{
    InstallObject* o = Add(d, name, type);
    if (o == nullptr || !ReplaceObjectText(&o->targetPath, target)) {
        return nullptr;
    }
    o->flags |= BUILTIN_FLAGS;
    o->state |= STATE_READ_ONLY | STATE_EXPANDED;
    return o;
}

// An object of the product tree: "_QUERY", and a parent set either as the script would (the touched
// flag that this sets is cleared again) or linked directly.
InstallObject* AddProductObject(ObjectDatabase* d, const char* name, UINT32 type, const char* parentName, bool direct)
{
    InstallObject* o = Add(d, name, type);
    if (o == nullptr) {
        return nullptr;
    }
    o->flags |= OBJECT_QUERY;
    if (parentName == nullptr) {
        return o;
    }
    InstallObject* parent = FindObjectIn(d, FindObjectByName(d->handle, parentName));
    if (parent == nullptr) {
        return nullptr;
    }
    if (direct) {
        if (parent->children == 0) {
            parent->children = ListCreate();
        }
        if (parent->children == 0 || !ListSetByKey(parent->children, o->id, o->id, 0)) {
            return nullptr;
        }
        o->parent = parent->id;
    } else {
        if (!SetObjectParent(o->id, parent->id)) {
            return nullptr;
        }
        o->flags &= ~OBJECT_TOUCHED;
    }
    return o;
}

// A folder with a trailing backslash, through one of the system-folder functions.
bool AddFolder(ObjectDatabase* d, const char* name, UINT32 (*get)(char*, UINT32))
{
    InstallObject* o = Add(d, name, OBJECT_DIRECTORY);
    if (o == nullptr) {
        return false;
    }
    char path[MAX_PATH + 2] = {};
    UINT32 n = get(path, sizeof(path));
    o->flags |= OBJECT_TOUCHED | MARK_SELECTED;
    o->state |= STATE_READ_ONLY | STATE_EXPANDED;
    if (n != 0 && n < sizeof(path) && ReplaceObjectText(&o->targetPath, path) && o->targetPath != nullptr) {
        o->flags |= OBJECT_ROOT_PATH;
    }
    return true;
}

HKEY SoftwareKey(HKEY root)
{
    HKEY key = CreateRegKey(root, "SOFTWARE");
    return key != nullptr ? key : OpenRegKeyRead(root, "SOFTWARE");
}

} // namespace

bool CreateBuiltInObjects(ObjectDatabase* d)
{
    // 1-6: the special folders. Each keeps a copy of its folder's ID list in its handle, from which
    // program groups below it are found and created.
    for (const SpecialGroup& g : kSpecialGroups) {
        ShellItem folder;
        if (!ShellItemFromSpecialFolder(&folder, g.folderId)) {
            return false;
        }
        LPITEMIDLIST ids = ShellItemCopyIdList(&folder);
        ShellItemFree(&folder);
        InstallObject* o = ids != nullptr ? AddRoot(d, g.name, OBJECT_GROUP, g.name) : nullptr;
        if (o == nullptr) {
            MemFree(ids);
            return false;
        }
        o->folderId = g.folderId;
        o->handle = reinterpret_cast<UINT_PTR>(ids);
    }
    // 7-12: the registry roots, and the two "SOFTWARE" keys.
    struct Root {
        const char* name;
        HKEY key;
        bool software;
        const char* target;
    } const roots[] = {
        {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT, false, "HKEY_CLASSES_ROOT"},
        {"HKEY_USERS", HKEY_USERS, false, "HKEY_USERS"},
        {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE, false, "HKEY_LOCAL_MACHINE"},
        {"HKEY_SOFTWARE", HKEY_LOCAL_MACHINE, true, "HKEY_LOCAL_MACHINE\\SOFTWARE\\"},
        {"HKEY_CURRENT_USER", HKEY_CURRENT_USER, false, "HKEY_CURRENT_USER"},
        {"HKEY_USER_SOFTWARE", HKEY_CURRENT_USER, true, "HKEY_CURRENT_USER\\SOFTWARE\\"},
    };
    for (const Root& r : roots) {
        HKEY key = r.software ? SoftwareKey(r.key) : r.key;
        InstallObject* o = key != nullptr ? AddRoot(d, r.name, OBJECT_REGKEY, r.target) : nullptr;
        if (o == nullptr) {
            if (r.software && key != nullptr) {
                CloseRegKey(key);
            }
            return false;
        }
        o->handle = reinterpret_cast<UINT_PTR>(key);
    }
    // 13-15: the Windows, program-files and system folders.
    if (!AddFolder(d, "WINDIR", GetWindowsDir) || !AddFolder(d, "PROGFILES", GetProgramFilesDir) ||
        !AddFolder(d, "WINSYS", GetSystemDir)) {
        return false;
    }
    // 16-19: the product's registry tree, which the script gives its paths.
    InstallObject* project = nullptr;
    InstallObject* product = nullptr;
    InstallObject* sharing = nullptr;
    if (AddProductObject(d, "PARENT_HKEY", OBJECT_REGKEY, "HKEY_SOFTWARE", false) == nullptr ||
        (project = AddProductObject(d, "PROJECT_HKEY", OBJECT_REGKEY, "PARENT_HKEY", false)) == nullptr ||
        (sharing = AddProductObject(d, "SHARING_HKEY", OBJECT_REGKEY, "PROJECT_HKEY", true)) == nullptr ||
        (product = AddProductObject(d, "PRODUCT_HKEY", OBJECT_REGKEY, "PROJECT_HKEY", false)) == nullptr) {
        return false;
    }
    if (project->children == 0) {
        project->children = ListCreate();
    }
    if (product->children == 0) {
        product->children = ListCreate();
    }
    if (project->children == 0 || product->children == 0 || !ReplaceObjectText(&sharing->targetPath, "Shared Objects")) {
        return false;
    }
    sharing->state |= STATE_SHARING_KEY;
    d->sharingKey = sharing->id;
    // 20-32: the product's values.
    for (const char* name : kProductValues) {
        if (AddProductObject(d, name, OBJECT_REGITEM, "PRODUCT_HKEY", true) == nullptr) {
            return false;
        }
    }
    // 33-35.
    return AddProductObject(d, "PROGMAN_GROUP", OBJECT_GROUP, "STARTGROUPS", false) != nullptr &&
           AddProductObject(d, "PRODUCT_LOCATION", OBJECT_DIRECTORY, nullptr, false) != nullptr &&
           AddProductObject(d, "PROJECT_LOCATION", OBJECT_DIRECTORY, nullptr, false) != nullptr;
}

bool IsBuiltInObjectName(const char* name)
{
    if (name == nullptr) {
        return false;
    }
    for (const SpecialGroup& g : kSpecialGroups) {
        if (strcmp(g.name, name) == 0) {
            return true;
        }
    }
    for (const char* n : kProductValues) {
        if (strcmp(n, name) == 0) {
            return true;
        }
    }
    for (const char* n : kOtherNames) {
        if (strcmp(n, name) == 0) {
            return true;
        }
    }
    return false;
}
