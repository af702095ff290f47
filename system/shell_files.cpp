// Deleting and creating through the shell layer: files, folder trees, the climb that removes emptied
// parents, missing folders, and the roots of paths.
#include "system/shell_internal.h"

#include "support/startup.h"
#include "support/memory.h"
#include "support/strings.h"

#include <string.h>

namespace {

const DWORD ALL_CHILDREN = SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN;

} // namespace

namespace {

// Clears read-only, hidden and system so that the object can go. attributes were read just before;
// objects that carry none of the three are left as they are (the common case costs no call).
void MakeDeletable(const char* path, DWORD attributes)
{
    const DWORD blocking = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & blocking)) {
        SetFileAttributesA(path, (attributes & FILE_ATTRIBUTE_DIRECTORY) | FILE_ATTRIBUTE_NORMAL);
    }
}

// True when the folder at path (seen through a link: its target) holds nothing.
bool FolderIsEmpty(const char* path)
{
    char* pattern = PathJoin(path, "*", false);
    if (pattern == nullptr) {
        return false;
    }
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(pattern, &found);
    MemFree(pattern);
    if (find == INVALID_HANDLE_VALUE) {
        return true;
    }
    bool empty = true;
    do {
        if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0) {
            empty = false;
        }
    } while (empty && FindNextFileA(find, &found));
    FindClose(find);
    return empty;
}

bool StartsWith(LPCITEMIDLIST list, LPCITEMIDLIST prefix)
{
    UINT n = ShellIdListSize(prefix);
    return n <= ShellIdListSize(list) && memcmp(list, prefix, n) == 0;
}

} // namespace

int ShellItemDelete(ShellItem* item, int recursive)
{
    if (item == nullptr || item->idList == nullptr || !(item->attributes & SFGAO_CANDELETE)) {
        return 0;
    }
    bool fileSystem = (item->attributes & SFGAO_FILESYSTEM) != 0;
    if (fileSystem && (item->path == nullptr || ShellPathIsProtected(item->path))) {
        return 0;
    }
    DWORD onDisk = fileSystem ? GetFileAttributesA(item->path) : INVALID_FILE_ATTRIBUTES;
    // What the disk says decides: a file that the shell shows as a folder (an archive) is a file.
    bool directory =
        onDisk != INVALID_FILE_ATTRIBUTES ? (onDisk & FILE_ATTRIBUTE_DIRECTORY) != 0 : item->folder != nullptr;
    // A folder that links elsewhere goes as a link: what it points to is never walked.
    bool link = onDisk != INVALID_FILE_ATTRIBUTES && (onDisk & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    UINT32 children = 0;
    if (directory && !link && item->folder != nullptr) {
        // Recursive: the list itself tells whether there are children, so the folder is not counted
        // separately first.
        if (!recursive && ShellItemBeginEnum(item, ALL_CHILDREN, 0)) {
            ShellItemCountChildren(item, &children);
        }
        if (recursive) {
            ShellItemList* list = nullptr;
            if (ShellListChildren(item, ALL_CHILDREN, &list)) {
                for (UINT32 i = 0; i < list->count; i++) {
                    ShellItem* child = list->children[i];
                    if ((child->attributes & SFGAO_FILESYSTEM) == (item->attributes & SFGAO_FILESYSTEM) &&
                        (child->attributes & SFGAO_CANDELETE)) {
                        ShellItemDelete(child, 1);
                    }
                }
                ShellListFree(list);
            }
            children = 0;
            if (ShellItemBeginEnum(item, ALL_CHILDREN, 0)) {
                ShellItemCountChildren(item, &children);
            }
        }
        ShellItemEndEnum(item);
    }
    if (children != 0) {
        SetLastError(ERROR_DIR_NOT_EMPTY); // what the walk left is the reason, not the walk's own last error
        return 0;
    }
    if (!fileSystem) {
        return 0;
    }
    if (link && FolderIsEmpty(item->path)) {
        // Some systems remove a link's target in place of the link when the target is an empty folder:
        // such a link is left alone rather than risk what it points to.
        return 0;
    }
    MakeDeletable(item->path, onDisk);
    BOOL removed = directory ? RemoveDirectoryA(item->path) : DeleteFileA(item->path);
    if (!removed) {
        return 0;
    }
    ShellItemFree(item);
    return 1;
}

namespace {

// A path of the file system itself: "X:\..." or "\\server\share\...".
bool IsPlainPath(const char* path)
{
    bool drive =
        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) && path[1] == ':' && path[2] == '\\';
    bool unc = path[0] == '\\' && path[1] == '\\' && path[2] != '?' && path[2] != '.' && path[2] != '\0';
    return drive || unc;
}

} // namespace

int ShellDeleteByPath(const char* path, bool folder)
{
    if (path == nullptr || !IsPlainPath(path)) {
        return SHELL_DELETE_USE_SHELL;
    }
    // A plain file usually just goes: one call. Only when it does not (read-only, a folder, a link the
    // shell should see to, missing) is the disk asked what it is.
    if (!folder && !ShellPathIsProtected(path)) {
        if (DeleteFileA(path)) {
            return 1;
        }
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return SHELL_DELETE_ABSENT;
        }
    }
    DWORD onDisk = GetFileAttributesA(path);
    if (onDisk == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? SHELL_DELETE_ABSENT
                                                                              : SHELL_DELETE_USE_SHELL;
    }
    bool directory = (onDisk & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (directory != folder || (onDisk & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return SHELL_DELETE_USE_SHELL; // links and what the caller did not expect go through the shell
    }
    if (ShellPathIsProtected(path)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    MakeDeletable(path, onDisk);
    if (folder ? RemoveDirectoryA(path) : DeleteFileA(path)) {
        return 1;
    }
    // A folder that still holds something is the shell's to walk (or to refuse).
    return folder && GetLastError() == ERROR_DIR_NOT_EMPTY ? SHELL_DELETE_USE_SHELL : 0;
}

int ShellDeletePath(const ShellItem* base, const char* relPath, DWORD flags)
{
    if (base == nullptr || base->folder == nullptr || base->idList == nullptr || relPath == nullptr) {
        return 0;
    }
    ComScope com;
    ShellItem current;
    if (!com.joined || !ShellItemFromPath(&current, base, relPath)) {
        return 0;
    }
    const bool climb = (flags & SHELL_DELETE_CLIMB) != 0;
    const DWORD bothRecursive = SHELL_DELETE_RECURSIVE | SHELL_DELETE_EVERY_STEP;
    const bool allRecursive = (flags & bothRecursive) == bothRecursive;
    int result = 0;
    DWORD error = ERROR_SUCCESS; // of the deletion that decided the result, kept for the caller
    for (bool first = true;; first = false) {
        // The base itself, or anything that is not below it, is never deleted.
        if (ShellSameIdList(base->idList, current.idList) || !StartsWith(current.idList, base->idList)) {
            break;
        }
        ShellItem parent;
        bool haveParent = ShellItemParent(&current, &parent) == 1;
        int deleted = ShellItemDelete(&current, (first && (flags & SHELL_DELETE_RECURSIVE)) || allRecursive);
        if (first || allRecursive) {
            result = deleted;
            error = deleted ? ERROR_SUCCESS : GetLastError();
        }
        ShellItemFree(&current);
        if (!haveParent) {
            break;
        }
        current = parent;
        if (!climb || !deleted) {
            break;
        }
    }
    ShellItemFree(&current);
    if (result == 0 && error != ERROR_SUCCESS) {
        SetLastError(error);
    }
    return result;
}

int ShellCreatePath(const ShellItem* folder, const char* relPath, ShellItem* out, const char** rest)
{
    memset(out, 0, sizeof(*out));
    if (folder == nullptr || folder->folder == nullptr || relPath == nullptr) {
        return 0;
    }
    while (*relPath == '\\') {
        relPath++;
    }
    const char* end = strchr(relPath, '\\');
    size_t length = end != nullptr ? static_cast<size_t>(end - relPath) : strlen(relPath);
    if (length == 0 || length >= MAX_PATH) {
        return 0;
    }
    char piece[MAX_PATH];
    memcpy(piece, relPath, length);
    piece[length] = '\0';

    ShellItem child;
    if (!ShellItemChildByName(folder, piece, &child)) {
        // Missing: create it on disk. A folder outside the file system must be a disk root.
        if (folder->path == nullptr) {
            return 0;
        }
        if (!(folder->attributes & SFGAO_FILESYSTEM) &&
            !GetDiskFreeSpaceA(folder->path, nullptr, nullptr, nullptr, nullptr)) {
            return 0;
        }
        char* target = PathJoin(folder->path, piece, false);
        bool made = target != nullptr && CreateDirectoryA(target, nullptr);
        MemFree(target);
        if (!made || !ShellItemChildByName(folder, piece, &child)) {
            return 0;
        }
    }
    const char* remaining = relPath + length;
    while (*remaining == '\\') {
        remaining++;
    }
    if (rest != nullptr) {
        *rest = remaining;
        *out = child;
        return 1;
    }
    if (*remaining == '\0') {
        *out = child;
        return 1;
    }
    int result = ShellCreatePath(&child, remaining, out, nullptr);
    ShellItemFree(&child);
    return result;
}

int PathRootExists(char* dest, const char* path)
{
    if (dest == nullptr) {
        return 0;
    }
    dest[0] = '\0';
    if (path == nullptr || !PathCopyRoot(dest, MAX_PATH, path)) {
        return 0;
    }
    ShellItem root;
    if (!ShellItemFromPath(&root, nullptr, dest)) {
        return 0;
    }
    // The shell parses the name of a drive that is not there as well; the disk decides.
    DWORD onDisk = GetFileAttributesA(dest);
    bool exists = onDisk != INVALID_FILE_ATTRIBUTES && (onDisk & FILE_ATTRIBUTE_DIRECTORY);
    int result = root.folder != nullptr && (root.attributes & SFGAO_FILESYSTEM) && exists ? 1 : 0;
    ShellItemFree(&root);
    return result;
}

int PathEnsure(const char* path, int checkOnly)
{
    char* copy = MemCopyText(path);
    if (copy == nullptr) {
        return 0;
    }
    char root[MAX_PATH];
    int result = 0;
    ShellItem rootItem;
    memset(&rootItem, 0, sizeof(rootItem));
    if (PathRootExists(root, copy) && ShellItemFromPath(&rootItem, nullptr, root)) {
        const char* rest = copy + strlen(root);
        if (strlen(copy) < strlen(root)) {
            rest = "";
        }
        while (*rest == '\\') {
            rest++;
        }
        ShellItem reached;
        if (*rest == '\0') {
            result = 1;
        } else if (checkOnly) {
            result = ShellItemFromPath(&reached, &rootItem, rest);
            ShellItemFree(&reached);
        } else {
            result = ShellCreatePath(&rootItem, rest, &reached, nullptr);
            ShellItemFree(&reached);
        }
    }
    ShellItemFree(&rootItem);
    MemFree(copy);
    return result;
}
