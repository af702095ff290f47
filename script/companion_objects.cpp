// Companion and wildcard objects: files that the script does not list one by one become objects of
// their own, which the executor then removes like any other.
#include "script/companions.h"

#include "script/object_internal.h"
#include "script/object_text.h"
#include "support/memory.h"
#include "support/strings.h"

#include <string.h>

namespace {

const size_t NAME_ROOM = OBJECT_NAME_SIZE - 1; // 31 characters

// Appends at most the room left in a 31-character name.
void AppendCut(char* name, const char* piece)
{
    size_t used = strlen(name);
    size_t room = used < NAME_ROOM ? NAME_ROOM - used : 0;
    size_t n = strlen(piece);
    if (n > room) {
        n = room;
    }
    memcpy(name + used, piece, n);
    name[used + n] = '\0';
}

// base + suffix + extension in 31 characters: a long base is shortened from the front with "...".
void CompanionName(char* out, const char* base, const char* suffix, const char* extension)
{
    size_t n = strlen(base), s = strlen(suffix), e = strlen(extension);
    out[0] = '\0';
    if (n + s + e <= NAME_ROOM) {
        memcpy(out, base, n + 1);
    } else if (n + s + e + 1 < 64 && s + e < NAME_ROOM) {
        size_t keep = NAME_ROOM - s - e;
        memcpy(out, base + n - keep, keep);
        out[keep] = '\0';
        if (keep >= 8) {
            memcpy(out, "...", 3);
        }
    }
    AppendCut(out, suffix);
    AppendCut(out, extension);
    StrUpper(out);
}

// The source text cut after its last backslash: the folder only.
char* SourceFolder(const char* source)
{
    if (source == nullptr) {
        return nullptr;
    }
    char* copy = MemCopyText(source);
    if (copy != nullptr) {
        char* slash = strrchr(copy, '\\');
        if (slash != nullptr) {
            slash[1] = '\0';
        } else {
            copy[0] = '\0';
        }
    }
    return copy;
}

// What a derived object takes from its base: sharing, system library, component commands, group.
void TakeFromBase(ObjectId made, const InstallObject* base)
{
    if (base->flags & OBJECT_SHARED) {
        bool noKey = (base->state & STATE_SHARE_WITHOUT_KEY) || base->shareKey[0] == '\0';
        SetObjectShared(made, noKey ? nullptr : base->shareKey, (base->state & STATE_SHARED_DLL) ? 1 : 0);
    }
    if (base->flags & OBJECT_SYSLIB) {
        SetObjectSysLib(made, nullptr);
    }
    if (base->flags & OBJECT_REGISTER) {
        SetObjectRegister(made, base->registerText);
    }
    if (base->flags & OBJECT_UNREGISTER) {
        SetObjectUnregister(made, base->unregisterText);
    }
    if (base->flags & OBJECT_UNINSTALL) {
        SetObjectUninstall(made, base->contents, base->registerText);
    }
    if (base->flags & OBJECT_GROUPED) {
        SetObjectGroup(made, base->groupName, nullptr, nullptr, 0);
    }
    if (base->state & STATE_HAS_ICON) {
        SetObjectGroup(made, nullptr, nullptr, base->iconName, base->iconIndex);
    }
}

} // namespace

int CreateFriendObjects(ObjectId id, UINT32 which, int keepState)
{
    ObjectGuard guard(id);
    InstallObject* base = guard.object();
    if (base == nullptr || (base->flags & (OBJECT_TYPE_MASK | OBJECT_DELETE)) != OBJECT_FILE ||
        !(base->state & STATE_HAS_FRIENDS) || base->friends == 0) {
        return -1;
    }
    DatabaseHandle db = guard.database()->handle;
    char* path = GetObjectPath(id, 0, nullptr, 0);
    if (path == nullptr) {
        return -1;
    }
    // The extension starts at the last '.' behind the last backslash, or at the end.
    char* slash = strrchr(path, '\\');
    char* dot = strrchr(slash != nullptr ? slash : path, '.');
    size_t stem = dot != nullptr ? static_cast<size_t>(dot - path) : strlen(path);
    int result = 0;
    UINT_PTR value = 0;
    for (int ok = ListFirst(base->friends, &value, 0); ok;) {
        FriendExtension* record = reinterpret_cast<FriendExtension*>(value);
        UINT_PTR next = 0;
        ok = ListNext(base->friends, value, &next, 0, 0);
        while (record->mode & which & (FRIEND_DELETE | FRIEND_SATELLITE)) {
            bool deleteCompanion = (record->mode & which & FRIEND_DELETE) != 0;
            char name[OBJECT_NAME_SIZE];
            CompanionName(name, base->name, deleteCompanion ? "_DEL" : "_SAT", record->extension);
            ObjectId made = AddObject(db, name, OBJECT_FILE);
            InstallObject* m = FindObjectIn(guard.database(), made);
            if (m != nullptr && m != base) {
                m->flags |= base->flags & (OBJECT_NONINSTALLABLE | OBJECT_REMOVABLE);
                m->sourceIndex = base->sourceIndex;
                if (base->parent != 0) {
                    SetObjectParent(made, base->parent);
                }
                char* target = static_cast<char*>(MemAlloc(stem + OBJECT_NAME_SIZE + 4));
                if (target == nullptr) {
                    MemFree(path);
                    return -1;
                }
                memcpy(target, path, stem);
                memcpy(target + stem, record->extension, strlen(record->extension) + 1);
                if (base->state & STATE_TARGET_MASK) {
                    SetObjectTargetMask(made, target);
                } else {
                    SetObjectTargetPath(made, target);
                }
                MemFree(target);
                char* folder = SourceFolder(base->source);
                if (folder != nullptr) {
                    SetObjectSource(made, folder);
                    MemFree(folder);
                }
                m->sourceIndex = base->sourceIndex;
                if (deleteCompanion) {
                    m->flags &= ~(OBJECT_NONINSTALLABLE | OBJECT_SHARED | MARK_SELECTED);
                    m->flags |= OBJECT_EXTENDED | OBJECT_DELETE;
                } else {
                    if (!keepState) {
                        m->flags |= MARK_SELECTED;
                    }
                    if (!(record->mode & FRIEND_NEIGHBOUR)) {
                        m->flags |= OBJECT_NONINSTALLABLE;
                    }
                    if (base->flags & OBJECT_SHARED) {
                        bool noKey = (base->state & STATE_SHARE_WITHOUT_KEY) || base->shareKey[0] == '\0';
                        SetObjectShared(made, noKey ? nullptr : base->shareKey, (base->state & STATE_SHARED_DLL) ? 1 : 0);
                    }
                    if (!(m->flags & OBJECT_NONINSTALLABLE)) {
                        InstallObject copy = *base;
                        copy.flags &= ~OBJECT_SHARED; // already taken above
                        TakeFromBase(made, &copy);
                    }
                }
                result = 1;
            }
            record->mode &= deleteCompanion ? ~FRIEND_DELETE : ~(FRIEND_SATELLITE | FRIEND_NEIGHBOUR);
        }
        if ((record->mode & (FRIEND_DELETE | FRIEND_SATELLITE)) == 0) {
            ListRemoveByKey(base->friends, value);
            MemFree(record);
        }
        value = next;
    }
    if (ListCount(base->friends) == 0) {
        ListDestroy(base->friends);
        base->friends = 0;
        base->state &= ~STATE_HAS_FRIENDS;
    }
    MemFree(path);
    return result;
}

int ExpandTargetMask(ObjectId id, int fromSource)
{
    ObjectGuard guard(id);
    InstallObject* base = guard.object();
    if (base == nullptr || ObjectType(base) != OBJECT_FILE || !(base->state & STATE_TARGET_MASK)) {
        return -1;
    }
    base->state &= ~STATE_TARGET_MASK;
    base->flags |= OBJECT_TOUCHED;
    DatabaseHandle db = guard.database()->handle;
    char* pattern = fromSource ? GetObjectSourcePath(id, 1, nullptr, 0) : GetObjectPath(id, 0, nullptr, 0);
    char* folder = GetObjectPath(id, PATH_FOLDER, nullptr, 0);
    char* target = folder != nullptr ? PathJoin(folder, nullptr, false) : nullptr;
    MemFree(folder);
    if (pattern == nullptr || target == nullptr) {
        MemFree(pattern);
        MemFree(target);
        return -1;
    }
    // The names of the new objects begin with a prefix: the parent's name up to its first '_', or
    // without a parent a tag of the folder.
    char prefix[OBJECT_NAME_SIZE + 2] = {};
    InstallObject* parent = FindObjectIn(guard.database(), base->parent);
    if (parent != nullptr) {
        size_t n = strlen(parent->name);
        const char* from = parent->name;
        if (n >= NAME_ROOM && parent->name[n - 1] != '_') {
            from++;
        }
        lstrcpynA(prefix, from, OBJECT_NAME_SIZE);
        n = strlen(prefix);
        if (n == 0 || prefix[n - 1] != '_') {
            prefix[n] = '_';
            prefix[n + 1] = '\0';
        }
        char* underscore = strchr(prefix, '_');
        underscore[1] = '\0';
        StrUpper(prefix);
    } else {
        MakePathTag(prefix, target);
    }
    size_t p = strlen(prefix);
    if (p >= 20) {
        memmove(prefix, prefix + p - 19, 20);
        memcpy(prefix, "...", 3);
    }

    int result = 0;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(pattern, &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                continue;
            }
            // Long names beyond 8.3 length go by their short form.
            const char* part = strlen(found.cFileName) <= 12 || found.cAlternateFileName[0] == '\0'
                                   ? found.cFileName
                                   : found.cAlternateFileName;
            char upper[MAX_PATH];
            lstrcpynA(upper, part, sizeof(upper));
            StrUpper(upper);
            char name[OBJECT_NAME_SIZE] = {};
            lstrcpynA(name, prefix, sizeof(name));
            AppendCut(name, upper);
            ObjectId made = AddObject(db, name, OBJECT_FILE);
            InstallObject* m = FindObjectIn(guard.database(), made);
            if (m == nullptr || m == base) {
                continue;
            }
            m->flags |= base->flags & 0x40a12000;
            if (base->parent != 0) {
                SetObjectParent(made, base->parent);
            }
            char* file = PathJoin(target, found.cFileName, false);
            SetObjectTargetPath(made, file);
            MemFree(file);
            TakeFromBase(made, base);
            if (base->friends != 0) {
                UINT_PTR record = 0;
                for (int ok = ListFirst(base->friends, &record, 0); ok; ok = ListNext(base->friends, record, &record, 0, 0)) {
                    AddFriendExtension(made, reinterpret_cast<FriendExtension*>(record));
                }
            }
            char* sourceFolder = SourceFolder(base->source);
            if (sourceFolder != nullptr) {
                SetObjectSource(made, sourceFolder);
                MemFree(sourceFolder);
            }
            m->sourceIndex = base->sourceIndex;
            result = 1;
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
    MemFree(pattern);
    MemFree(target);
    return result;
}
