// Creating through the shell layer: missing folders, and the roots of paths.
#include "system/shell_internal.h"

#include "support/startup.h"
#include "support/memory.h"
#include "support/strings.h"

#include <string.h>

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
