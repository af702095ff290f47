// Companion and wildcard objects: files that the script does not list one by one become objects of
// their own, which the executor then removes like any other.
#include "script/companions.h"

#include "script/object_internal.h"
#include "script/object_text.h"
#include "support/guards.h"
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

namespace {

// The flags a file found by a wildcard takes from the template: extended, "_NONINSTALLABLE",
// "_REMOVABLE", "_OCX", "_DELETE".
const UINT32 WILDCARD_INHERITED_FLAGS =
    OBJECT_EXTENDED | OBJECT_NONINSTALLABLE | OBJECT_REMOVABLE | OBJECT_OCX | OBJECT_DELETE;
// A wildcard prefix this long or longer keeps its last characters, behind "...".
const size_t PREFIX_LIMIT = 20;
// A found file's long name is its name part up to this length; longer ones go by their short form.
const size_t SHORT_NAME_LENGTH = 12;

// The base file's path, and where its extension starts: at the last '.' behind the last backslash,
// or at the end.
struct StemmedPath {
    HeapText path;
    size_t stem = 0;
};

bool StemOf(ObjectId id, StemmedPath* p)
{
    p->path.reset(GetObjectPath(id, 0, nullptr, 0));
    if (!p->path) {
        return false;
    }
    const char* text = p->path.get();
    const char* slash = strrchr(text, '\\');
    const char* dot = strrchr(slash != nullptr ? slash : text, '.');
    p->stem = dot != nullptr ? static_cast<size_t>(dot - text) : strlen(text);
    return true;
}

// The target of a companion: the base's path with the record's extension; false when memory runs out.
bool SetCompanionTarget(ObjectId made, const InstallObject* base, const StemmedPath& p, const char* extension)
{
    HeapText target(static_cast<char*>(MemAlloc(p.stem + OBJECT_NAME_SIZE + 4)));
    if (!target) {
        return false;
    }
    memcpy(target.get(), p.path.get(), p.stem);
    memcpy(target.get() + p.stem, extension, strlen(extension) + 1);
    if (base->state & STATE_TARGET_MASK) {
        SetObjectTargetMask(made, target.get());
    } else {
        SetObjectTargetPath(made, target.get());
    }
    return true;
}

// A "_DEL" companion goes; a "_SAT" satellite is treated like its base.
void MarkCompanion(ObjectId made, InstallObject* m, const InstallObject* base, UINT32 mode, bool deleteCompanion,
                   int keepState)
{
    if (deleteCompanion) {
        m->flags &= ~(OBJECT_NONINSTALLABLE | OBJECT_SHARED | MARK_SELECTED);
        m->flags |= OBJECT_EXTENDED | OBJECT_DELETE;
        return;
    }
    if (!keepState) {
        m->flags |= MARK_SELECTED;
    }
    if (!(mode & FRIEND_NEIGHBOUR)) {
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

// One companion of the base for one mode of a record: 1 made, 0 not made, -1 out of memory.
int MakeCompanion(HeldObject& guard, const StemmedPath& p, const FriendExtension* record, bool deleteCompanion,
                  int keepState)
{
    InstallObject* base = guard.object();
    char name[OBJECT_NAME_SIZE];
    CompanionName(name, base->name, deleteCompanion ? "_DEL" : "_SAT", record->extension);
    ObjectId made = AddObject(guard.database()->handle, name, OBJECT_FILE);
    InstallObject* m = FindObjectIn(guard.database(), made);
    if (m == nullptr || m == base) {
        return 0;
    }
    m->flags |= base->flags & (OBJECT_NONINSTALLABLE | OBJECT_REMOVABLE);
    if (base->parent != 0) {
        SetObjectParent(made, base->parent);
    }
    if (!SetCompanionTarget(made, base, p, record->extension)) {
        return -1;
    }
    HeapText folder(SourceFolder(base->source));
    if (folder) {
        SetObjectSource(made, folder.get());
    }
    m->sourceIndex = base->sourceIndex;
    MarkCompanion(made, m, base, record->mode, deleteCompanion, keepState);
    m->state |= base->state & STATE_FROM_WILDCARD;
    return 1;
}

// Drops a record whose modes are all handled, and the list once it is empty.
void DropHandled(InstallObject* base, UINT_PTR value)
{
    FriendExtension* record = reinterpret_cast<FriendExtension*>(value);
    if ((record->mode & (FRIEND_DELETE | FRIEND_SATELLITE)) == 0) {
        ListRemoveByKey(base->friends, value);
        MemFree(record);
    }
}

} // namespace

int CreateFriendObjects(ObjectId id, UINT32 which, int keepState)
{
    HeldObject guard(id);
    InstallObject* base = guard.object();
    StemmedPath p;
    if (base == nullptr || (base->flags & (OBJECT_TYPE_MASK | OBJECT_DELETE)) != OBJECT_FILE ||
        !(base->state & STATE_HAS_FRIENDS) || base->friends == 0 || !StemOf(id, &p)) {
        return -1;
    }
    int result = 0;
    UINT_PTR value = 0;
    for (int ok = ListFirst(base->friends, &value, 0); ok;) {
        FriendExtension* record = reinterpret_cast<FriendExtension*>(value);
        UINT_PTR next = 0;
        ok = ListNext(base->friends, value, &next, 0, 0);
        while (record->mode & which & (FRIEND_DELETE | FRIEND_SATELLITE)) {
            bool deleteCompanion = (record->mode & which & FRIEND_DELETE) != 0;
            int made = MakeCompanion(guard, p, record, deleteCompanion, keepState);
            if (made < 0) {
                return -1;
            }
            result = made > 0 ? 1 : result;
            record->mode &= deleteCompanion ? ~FRIEND_DELETE : ~(FRIEND_SATELLITE | FRIEND_NEIGHBOUR);
        }
        DropHandled(base, value);
        value = next;
    }
    if (ListCount(base->friends) == 0) {
        ListDestroy(base->friends);
        base->friends = 0;
        base->state &= ~STATE_HAS_FRIENDS;
    }
    return result;
}

namespace {

// The beginning of the names of the objects a wildcard makes: the parent's name up to its first '_',
// or without a parent a tag of the target folder; at most 19 characters, "..." in front when cut.
void WildcardPrefix(const InstallObject* parent, const char* target, char* prefix)
{
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
        strchr(prefix, '_')[1] = '\0';
        StrUpper(prefix);
    } else {
        MakePathTag(prefix, target);
    }
    size_t p = strlen(prefix);
    if (p >= PREFIX_LIMIT) {
        memmove(prefix, prefix + p - (PREFIX_LIMIT - 1), PREFIX_LIMIT);
        memcpy(prefix, "...", 3);
    }
}

// One object for a file that a wildcard found; true when it was made.
bool MakeWildcardObject(HeldObject& guard, const char* prefix, const char* target, const WIN32_FIND_DATAA& found)
{
    InstallObject* base = guard.object();
    // Long names beyond 8.3 length go by their short form.
    const char* part = strlen(found.cFileName) <= SHORT_NAME_LENGTH || found.cAlternateFileName[0] == '\0'
                           ? found.cFileName
                           : found.cAlternateFileName;
    char upper[MAX_PATH];
    lstrcpynA(upper, part, sizeof(upper));
    StrUpper(upper);
    char name[OBJECT_NAME_SIZE] = {};
    lstrcpynA(name, prefix, sizeof(name));
    AppendCut(name, upper);
    ObjectId made = AddObject(guard.database()->handle, name, OBJECT_FILE);
    InstallObject* m = FindObjectIn(guard.database(), made);
    if (m == nullptr || m == base) {
        return false;
    }
    m->flags |= base->flags & WILDCARD_INHERITED_FLAGS;
    m->state |= STATE_FROM_WILDCARD;
    if (base->parent != 0) {
        SetObjectParent(made, base->parent);
    }
    HeapText file(PathJoin(target, found.cFileName, false));
    SetObjectTargetPath(made, file.get());
    TakeFromBase(made, base);
    UINT_PTR record = 0;
    for (int ok = base->friends != 0 && ListFirst(base->friends, &record, 0); ok;
         ok = ListNext(base->friends, record, &record, 0, 0)) {
        AddFriendExtension(made, reinterpret_cast<FriendExtension*>(record));
    }
    HeapText sourceFolder(SourceFolder(base->source));
    if (sourceFolder) {
        SetObjectSource(made, sourceFolder.get());
    }
    m->sourceIndex = base->sourceIndex;
    return true;
}

} // namespace

int ExpandTargetMask(ObjectId id, int fromSource)
{
    HeldObject guard(id);
    InstallObject* base = guard.object();
    if (base == nullptr || ObjectType(base) != OBJECT_FILE || !(base->state & STATE_TARGET_MASK)) {
        return -1;
    }
    base->state &= ~STATE_TARGET_MASK;
    base->flags |= OBJECT_TOUCHED;
    HeapText pattern(fromSource ? GetObjectSourcePath(id, 1, nullptr, 0) : GetObjectPath(id, 0, nullptr, 0));
    HeapText folder(GetObjectPath(id, PATH_FOLDER, nullptr, 0));
    HeapText target(folder ? PathJoin(folder.get(), nullptr, false) : nullptr);
    if (!pattern || !target) {
        return -1;
    }
    char prefix[OBJECT_NAME_SIZE + 2] = {};
    WildcardPrefix(FindObjectIn(guard.database(), base->parent), target.get(), prefix);
    int result = 0;
    // The system also matches a mask against 8.3 aliases ("*.dat" finds "notes.datx" by its alias
    // "NOTES~1.DAT"): only what the long name matches counts.
    const char* slash = strrchr(pattern.get(), '\\');
    const char* mask = slash != nullptr ? slash + 1 : pattern.get();
    WIN32_FIND_DATAA found;
    FindHandle find(FindFirstFileA(pattern.get(), &found));
    for (bool more = static_cast<bool>(find); more; more = FindNextFileA(find.get(), &found) != FALSE) {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && NameMatchesMask(found.cFileName, mask) &&
            MakeWildcardObject(guard, prefix, target.get(), found)) {
            result = 1;
        }
    }
    return result;
}
