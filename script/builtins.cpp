#include "script/builtins.h"

#include "system/shell_item.h"
#include "script/text_expansion.h"
#include "script/object_internal.h"
#include "support/guards.h"
#include "support/reg_keys.h"

#include <string.h>

namespace {

const UINT32 BUILTIN_FLAGS = OBJECT_ROOT_PATH | OBJECT_TOUCHED | MARK_SELECTED; // 0x8000009

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

// The kinds of built-in objects, in the order they are made.
enum BuiltInKind {
    SPECIAL_FOLDER, // a group that stands for a special folder; folder = its code
    REGISTRY_ROOT,  // a predefined root key; root = the key
    SOFTWARE_KEY,   // the "SOFTWARE" key of root, created or opened
    SYSTEM_FOLDER,  // a folder with a trailing backslash from a system-folder function
    PRODUCT_OBJECT, // an object of the product tree: "_QUERY", parent set as the script would
    PRODUCT_LINKED, // the same, linked to its parent directly
    SHARING_KEY,    // "SHARING_HKEY": linked directly, "Shared Objects", the database's sharing key
};

struct BuiltIn {
    const char* name;
    BuiltInKind kind;
    UINT32 type;
    const char* target;           // roots: their target text; product objects: the parent's name
    UINT32 folder;                // special folders
    HKEY root;                    // registry roots and software keys
    UINT32 (*get)(char*, UINT32); // system folders
};

#define FOLDER(name, code)                                                                                             \
    {                                                                                                                  \
        name, SPECIAL_FOLDER, OBJECT_GROUP, name, code, nullptr, nullptr                                               \
    }
#define ROOT(name, key)                                                                                                \
    {                                                                                                                  \
        name, REGISTRY_ROOT, OBJECT_REGKEY, name, 0, key, nullptr                                                      \
    }
#define SOFTWARE(name, key, target)                                                                                    \
    {                                                                                                                  \
        name, SOFTWARE_KEY, OBJECT_REGKEY, target, 0, key, nullptr                                                     \
    }
#define SYSTEM(name, get)                                                                                              \
    {                                                                                                                  \
        name, SYSTEM_FOLDER, OBJECT_DIRECTORY, nullptr, 0, nullptr, get                                                \
    }
#define PRODUCT(name, type, parent)                                                                                    \
    {                                                                                                                  \
        name, PRODUCT_OBJECT, type, parent, 0, nullptr, nullptr                                                        \
    }
#define LINKED(name, type, parent)                                                                                     \
    {                                                                                                                  \
        name, PRODUCT_LINKED, type, parent, 0, nullptr, nullptr                                                        \
    }

const BuiltIn kBuiltIns[] = {
    FOLDER("STARTMENU", SHELL_COMMON_STARTMENU),
    FOLDER("USERSTARTMENU", SHELL_USER_STARTMENU),
    FOLDER("STARTGROUPS", SHELL_COMMON_PROGRAMS),
    FOLDER("USERSTARTGROUPS", SHELL_USER_PROGRAMS),
    FOLDER("DESKTOP", SHELL_COMMON_DESKTOP),
    FOLDER("USERDESKTOP", SHELL_USER_DESKTOP),
    ROOT("HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT),
    ROOT("HKEY_USERS", HKEY_USERS),
    ROOT("HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE),
    SOFTWARE("HKEY_SOFTWARE", HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE\\SOFTWARE\\"),
    ROOT("HKEY_CURRENT_USER", HKEY_CURRENT_USER),
    SOFTWARE("HKEY_USER_SOFTWARE", HKEY_CURRENT_USER, "HKEY_CURRENT_USER\\SOFTWARE\\"),
    SYSTEM("WINDIR", GetWindowsDir),
    SYSTEM("PROGFILES", GetProgramFilesDir),
    SYSTEM("WINSYS", GetSystemDir),
    PRODUCT("PARENT_HKEY", OBJECT_REGKEY, "HKEY_SOFTWARE"),
    PRODUCT("PROJECT_HKEY", OBJECT_REGKEY, "PARENT_HKEY"),
    {"SHARING_HKEY", SHARING_KEY, OBJECT_REGKEY, "PROJECT_HKEY", 0, nullptr, nullptr},
    PRODUCT("PRODUCT_HKEY", OBJECT_REGKEY, "PROJECT_HKEY"),
    LINKED("GROUP", OBJECT_REGITEM, "PRODUCT_HKEY"),
    LINKED("USER", OBJECT_REGITEM, "PRODUCT_HKEY"),
    LINKED("COMPANY", OBJECT_REGITEM, "PRODUCT_HKEY"),
    LINKED("EXE", OBJECT_REGITEM, "PRODUCT_HKEY"),
    LINKED("DIR", OBJECT_REGITEM, "PRODUCT_HKEY"),
    LINKED("SOURCE", OBJECT_REGITEM, "PRODUCT_HKEY"),
    LINKED("PRODUCT", OBJECT_REGITEM, "PRODUCT_HKEY"),
    LINKED("VERSION", OBJECT_REGITEM, "PRODUCT_HKEY"),
    LINKED("PROJECT", OBJECT_REGITEM, "PRODUCT_HKEY"),
    LINKED("PROJECT_DIR", OBJECT_REGITEM, "PRODUCT_HKEY"),
    LINKED("REMOVE", OBJECT_REGITEM, "PRODUCT_HKEY"),
    LINKED("SETUP", OBJECT_REGITEM, "PRODUCT_HKEY"),
    LINKED("LANGUAGE", OBJECT_REGITEM, "PRODUCT_HKEY"),
    PRODUCT("PROGMAN_GROUP", OBJECT_GROUP, "STARTGROUPS"),
    PRODUCT("PRODUCT_LOCATION", OBJECT_DIRECTORY, nullptr),
    PRODUCT("PROJECT_LOCATION", OBJECT_DIRECTORY, nullptr),
};

#undef FOLDER
#undef ROOT
#undef SOFTWARE
#undef SYSTEM
#undef PRODUCT
#undef LINKED

// A special folder keeps a copy of its folder's ID list in its handle, from which program groups
// below it are found and created.
bool AddSpecialFolder(ObjectDatabase* d, const BuiltIn& b)
{
    HeapPtr<ITEMIDLIST> ids(ShellSpecialFolderIdList(b.folder));
    InstallObject* o = ids ? AddRoot(d, b.name, b.type, b.target) : nullptr;
    if (o == nullptr) {
        return false;
    }
    o->folderId = b.folder;
    o->handle = reinterpret_cast<UINT_PTR>(ids.release());
    return true;
}

bool AddKey(ObjectDatabase* d, const BuiltIn& b)
{
    RegKeyHandle key(b.kind == SOFTWARE_KEY ? SoftwareKey(b.root) : b.root);
    InstallObject* o = key ? AddRoot(d, b.name, b.type, b.target) : nullptr;
    if (o == nullptr) {
        return false;
    }
    o->handle = reinterpret_cast<UINT_PTR>(key.release());
    return true;
}

bool AddChildrenList(InstallObject* o)
{
    if (o->children == 0) {
        o->children = ListCreate();
    }
    return o->children != 0;
}

// "SHARING_HKEY": "Shared Objects" below the project key, the database's sharing key from the start.
bool AddSharingKey(ObjectDatabase* d, const BuiltIn& b)
{
    InstallObject* o = AddProductObject(d, b.name, b.type, b.target, true);
    if (o == nullptr || !ReplaceObjectText(&o->targetPath, "Shared Objects")) {
        return false;
    }
    o->state |= STATE_SHARING_KEY;
    d->sharingKey = o->id;
    return true;
}

bool AddBuiltIn(ObjectDatabase* d, const BuiltIn& b)
{
    switch (b.kind) {
    case SPECIAL_FOLDER:
        return AddSpecialFolder(d, b);
    case REGISTRY_ROOT:
    case SOFTWARE_KEY:
        return AddKey(d, b);
    case SYSTEM_FOLDER:
        return AddFolder(d, b.name, b.get);
    case SHARING_KEY:
        return AddSharingKey(d, b);
    case PRODUCT_LINKED:
        return AddProductObject(d, b.name, b.type, b.target, true) != nullptr;
    case PRODUCT_OBJECT: {
        InstallObject* o = AddProductObject(d, b.name, b.type, b.target, false);
        // The project and product keys hold the sharing key and the product's values.
        bool holdsChildren = strcmp(b.name, "PROJECT_HKEY") == 0 || strcmp(b.name, "PRODUCT_HKEY") == 0;
        return o != nullptr && (!holdsChildren || AddChildrenList(o));
    }
    }
    return false;
}

} // namespace

bool CreateBuiltInObjects(ObjectDatabase* d)
{
    for (const BuiltIn& b : kBuiltIns) {
        if (!AddBuiltIn(d, b)) {
            return false;
        }
    }
    return true;
}

bool IsBuiltInObjectName(const char* name)
{
    if (name == nullptr) {
        return false;
    }
    for (const BuiltIn& b : kBuiltIns) {
        if (strcmp(b.name, name) == 0) {
            return true;
        }
    }
    return false;
}
