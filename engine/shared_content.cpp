// Containers and shared counts: whether something still inside a folder, group or key is counted as
// shared, and making sure an object's container exists on the machine.
#include "engine/shared_objects.h"

#include "script/groups.h"
#include "script/object_keys.h"
#include "script/object_text.h"
#include "support/guards.h"
#include "support/strings.h"
#include "system/progman.h"
#include "system/shell_item.h"
#include "system/system_state.h"

#include <string.h>

namespace {

// Containers nest at most this deep in the search; links to folders elsewhere are not followed.
const int SEARCH_DEPTH_LIMIT = 64;
const size_t NAME_LIMIT = MAX_PATH - 1;

// The keys of the shared-object registry that a search looks in: "Shared Files" and the kind of the
// container's sub-containers (and the items of keys). Closed when the search ends.
struct Stores {
    RegKeyHandle entries;    // "Shared Files" (folders, groups) or "Shared Items" (keys)
    RegKeyHandle containers; // "Shared Folders", "Shared Groups" or "Shared Keys"
};

void OpenStores(HKEY sharingKey, const char* entries, const char* containers, Stores* s)
{
    if (sharingKey != nullptr) {
        s->entries.reset(OpenRegKeyWrite(sharingKey, entries));
        s->containers.reset(OpenRegKeyWrite(sharingKey, containers));
    }
}

bool Counted(HKEY key, const char* path)
{
    return key != nullptr && AdjustCounterValue(key, path, 0, 0) > 0;
}

// A file is shared when counted under "Shared Files" or, failing that, in SharedDLLs.
bool FileCounted(const Stores& s, const char* path)
{
    return path != nullptr && path[0] != '\0' &&
           (Counted(s.entries.get(), path) || AdjustCounterValue(nullptr, path, 0, 0) > 0);
}

// A container is counted by its path without, or with, a trailing backslash.
bool ContainerCounted(HKEY key, const char* path)
{
    if (Counted(key, path)) {
        return true;
    }
    HeapText slashed(PathJoin(path, nullptr, false));
    return slashed && Counted(key, slashed.get());
}

bool FolderHasShared(const Stores& s, const char* folder, int depth)
{
    HeapText pattern(PathJoin(folder, "*.*", false));
    WIN32_FIND_DATAA found;
    FindHandle find(pattern ? FindFirstFileA(pattern.get(), &found) : INVALID_HANDLE_VALUE);
    for (bool more = static_cast<bool>(find); more; more = FindNextFileA(find.get(), &found) != FALSE) {
        if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0) {
            continue;
        }
        HeapText path(PathJoin(folder, found.cFileName, false));
        if (!path) {
            continue;
        }
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            if (FileCounted(s, path.get())) {
                return true;
            }
        } else if (ContainerCounted(s.containers.get(), path.get()) ||
                   (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && depth < SEARCH_DEPTH_LIMIT &&
                    FolderHasShared(s, path.get(), depth + 1))) {
            return true;
        }
    }
    return false;
}

// A shell group's folder: its links' targets and icons count as files, its sub-folders as groups.
bool ShellGroupHasShared(const Stores& s, ShellItem* folder, const char* groupPath, int depth)
{
    ShellItemList* list = nullptr;
    if (!ShellListLinks(folder, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &list)) {
        return false;
    }
    bool shared = false;
    for (UINT32 i = 0; i < list->count && !shared; i++) {
        ShellItem* child = list->children[i];
        if (child->link != nullptr) {
            ShellLinkInfo* info = nullptr;
            if (ShellLinkReadInfo(child, &info)) {
                shared = FileCounted(s, info->targetPath) || FileCounted(s, info->iconLocation);
                ShellLinkInfoFree(child, &info);
            }
        } else if (child->inFolderName != nullptr && strlen(child->inFolderName) < NAME_LIMIT) {
            HeapText path(PathJoin(groupPath, child->inFolderName, false));
            shared = path && (ContainerCounted(s.containers.get(), path.get()) ||
                              (depth < SEARCH_DEPTH_LIMIT && ShellGroupHasShared(s, child, path.get(), depth + 1)));
        }
    }
    ShellListFree(list);
    return shared;
}

// A Program Manager group: its items' command lines and icons count as files.
bool ProgmanGroupHasShared(const Stores& s, const char* name)
{
    HeapPtr<StringTable> items(RequestGroupInfo(name));
    int count = GetItemCount(items.get());
    for (int i = 0; items && i < count && static_cast<UINT32>(i) + 1 < items->rowCount; i++) {
        char command[PROGMAN_TEXT_SIZE], icon[PROGMAN_TEXT_SIZE];
        if ((GetItemCommand(command, items.get(), i) && FileCounted(s, command)) ||
            (GetItemIconPath(icon, items.get(), i) && FileCounted(s, icon))) {
            return true;
        }
    }
    return false;
}

bool GroupHasShared(InstallObject* o, ObjectDatabase* d, HKEY sharingKey)
{
    Stores s;
    OpenStores(sharingKey, "Shared Files", "Shared Groups", &s);
    HeapText name(GetObjectLeafName(ObjectIdOf(o), 1, nullptr, 0));
    if (DatabaseFlagsOf(d) & DATABASE_PROGMAN_GROUPS) {
        return name && ProgmanGroupHasShared(s, name.get());
    }
    HeapText path(GetObjectPath(ObjectIdOf(o), 0, nullptr, 0));
    ShellItem folder;
    if (!path || ObjectGroupIdList(o) == nullptr || !ShellItemFromIdList(&folder, nullptr, ObjectGroupIdList(o))) {
        return false;
    }
    bool shared = ShellGroupHasShared(s, &folder, path.get(), 0);
    ShellItemFree(&folder);
    return shared;
}

// A key: its subkeys count under "Shared Keys" (or hold what does), its values under "Shared Items".
bool KeyHasShared(const Stores& s, HKEY key, const char* path, int depth)
{
    char name[256];
    for (DWORD i = 0;; i++) {
        DWORD size = sizeof(name);
        if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        HeapText subPath(PathJoin(path, name, false));
        RegKeyHandle sub(subPath && depth < SEARCH_DEPTH_LIMIT ? OpenRegKeyRead(key, name) : nullptr);
        if (subPath && (ContainerCounted(s.containers.get(), subPath.get()) ||
                        (sub && KeyHasShared(s, sub.get(), subPath.get(), depth + 1)))) {
            return true;
        }
    }
    for (DWORD i = 0;; i++) {
        DWORD size = sizeof(name);
        if (RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        HeapText valuePath(PathJoin(path, name, false));
        if (valuePath && Counted(s.entries.get(), valuePath.get())) {
            return true;
        }
    }
    return false;
}

bool RegKeyHasShared(InstallObject* o, HKEY sharingKey, const char* subPath)
{
    Stores s;
    OpenStores(sharingKey, "Shared Items", "Shared Keys", &s);
    HeapText path(subPath != nullptr ? MemCopyText(subPath) : GetObjectPath(ObjectIdOf(o), 0, nullptr, 0));
    RegKeyHandle opened;
    HKEY key = ObjectKeyOf(o);
    if (key == nullptr) {
        int mustClose = 0;
        if (OpenObjectKeyRead(ObjectIdOf(o), nullptr, nullptr, nullptr, nullptr, nullptr, &key, &mustClose) !=
            ERROR_SUCCESS) {
            return false;
        }
        opened.reset(mustClose ? key : nullptr);
    }
    return path && KeyHasShared(s, key, path.get(), 0);
}

// The key of the database's sharing key object, when it is an open registry key.
HKEY SharingKeyHandle(ObjectDatabase* d)
{
    InstallObject* sharing = LockObject(DatabaseSharingKeyOf(d));
    ReleaseObject(sharing);
    return sharing != nullptr && ObjectType(sharing) == OBJECT_REGKEY ? ObjectKeyOf(sharing) : nullptr;
}

} // namespace

int ContainerHasSharedContent(ObjectId id, HKEY sharingKey, const char* subPath)
{
    HeldObject guard(id);
    InstallObject* o = guard.object();
    if (o == nullptr || !(ObjectFlagsOf(o) & MARK_SELECTED)) {
        return 0;
    }
    ObjectDatabase* d = guard.database();
    if (sharingKey == nullptr) {
        sharingKey = SharingKeyHandle(d);
    }
    switch (ObjectType(o)) {
    case OBJECT_DIRECTORY: {
        Stores s;
        OpenStores(sharingKey, "Shared Files", "Shared Folders", &s);
        HeapText folder(subPath != nullptr ? MemCopyText(subPath) : GetObjectPath(id, 0, nullptr, 0));
        return folder && FolderHasShared(s, folder.get(), 0) ? 1 : 0;
    }
    case OBJECT_GROUP:
        // A group that is not itself shared keeps what it holds.
        return !(ObjectFlagsOf(o) & OBJECT_SHARED) || GroupHasShared(o, d, sharingKey) ? 1 : 0;
    case OBJECT_REGKEY:
        if (!(ObjectFlagsOf(o) & OBJECT_SHARED) || DatabaseSharingKeyOf(d) == 0) {
            return 1;
        }
        return RegKeyHasShared(o, sharingKey, subPath) ? 1 : 0;
    default:
        return 0;
    }
}

namespace {

// Ensures the folder (or key, or group) of a parent object exists: looked up, or made after its own
// parent. The parent, or 0.
ObjectId EnsureFolder(InstallObject* p, int noCreate)
{
    HeapText path(GetObjectPath(ObjectIdOf(p), PATH_TRIM, nullptr, 0));
    if (!path) {
        return 0;
    }
    if (PathEnsure(path.get(), 1)) {
        return ObjectIdOf(p);
    }
    if (noCreate || (!(ObjectStateOf(p) & STATE_READ_ONLY) && EnsureParentContainer(ObjectIdOf(p), 0) == 0 &&
                     ObjectParentOf(p) != 0)) {
        return 0;
    }
    return PathEnsure(path.get(), 0) ? ObjectIdOf(p) : 0;
}

ObjectId EnsureGroup(InstallObject* p, ObjectDatabase* d, int noCreate)
{
    if ((DatabaseFlagsOf(d) & DATABASE_PROGMAN_GROUPS) || ResolveGroup(ObjectIdOf(p), 0, 1)) {
        return ObjectIdOf(p);
    }
    if (noCreate) {
        return 0;
    }
    EnsureParentContainer(ObjectIdOf(p), 0);
    return ResolveGroup(ObjectIdOf(p), 0, 0) ? ObjectIdOf(p) : 0;
}

ObjectId EnsureKey(InstallObject* p, int noCreate)
{
    if (ObjectKeyOf(p) != nullptr) {
        return ObjectIdOf(p);
    }
    if (noCreate) {
        return 0;
    }
    InstallObject* q = LockObject(EnsureParentContainer(ObjectIdOf(p), 0));
    HeapText relative(GetObjectLeafName(ObjectIdOf(p), 0, nullptr, 0));
    HKEY key =
        q != nullptr && ObjectKeyOf(q) != nullptr && relative ? CreateRegKey(ObjectKeyOf(q), relative.get()) : nullptr;
    ReleaseObject(q);
    if (key == nullptr) {
        return 0;
    }
    SetObjectKeyHandle(p, key);
    return ObjectIdOf(p);
}

} // namespace

ObjectId EnsureParentContainer(ObjectId id, int noCreate)
{
    HeldObject guard(id);
    InstallObject* o = guard.object();
    InstallObject* p = o != nullptr && ObjectParentOf(o) != 0 ? LockObject(ObjectParentOf(o)) : nullptr;
    ReleaseObject(p);
    if (p == nullptr) {
        return 0;
    }
    ObjectId result = 0;
    switch (ObjectType(o)) {
    case OBJECT_FILE:
    case OBJECT_DIRECTORY:
        result = EnsureFolder(p, noCreate);
        break;
    case OBJECT_GROUP:
        result = EnsureGroup(p, guard.database(), noCreate);
        break;
    case OBJECT_REGKEY:
    case OBJECT_REGITEM:
        result = EnsureKey(p, noCreate);
        break;
    default:
        break;
    }
    if (result != 0 && !(ObjectStateOf(p) & STATE_READ_ONLY) && !noCreate) {
        MarkObject(p, MARK_SELECTED);
    }
    return result;
}
