// Program groups and their items: a file's items go with the file; a group goes when nothing is left in
// it that belongs to a file that stays (or when its removal is forced).
#include "engine/group_removal.h"

#include "engine/executor.h"
#include "script/groups.h"
#include "script/object_text.h"
#include "support/guards.h"
#include "support/strings.h"
#include "system/shell_item.h"

#include <string.h>

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// Program Manager is given time to keep up after each item deleted over its conversation.
const DWORD ITEM_PAUSE_MS = 20;
// The folder of a file's group items could not be listed, or held a shortcut that could not be read: the
// items are not known to be gone, which fails the removal as a failed deletion does.
const int ITEMS_NOT_KNOWN = -2;
// An item's own name field, and the properties the resynchronisation copies.
const int ITEM_ICON_INDEX_FIELD = 5;
const int ITEM_HOTKEY_FIELD = 6;
// Program Manager's show command for a minimised item.
const int SHOW_MINIMISED = 6;

// The short (8.3) form of a path, with room for the path and 260 more characters; empty when the
// system has none.
std::string ShortPath(const char* path)
{
    std::string shortPath(strlen(path) + MAX_PATH + 1, '\0');
    DWORD n = GetShortPathNameA(path, &shortPath[0], static_cast<DWORD>(shortPath.size()));
    shortPath.resize(n < shortPath.size() ? n : 0);
    return shortPath;
}

std::string Upper(const char* text)
{
    std::string upper(text);
    if (!upper.empty()) {
        CharUpperBuffA(&upper[0], static_cast<DWORD>(upper.size()));
    }
    return upper;
}

// Short forms of paths as ShortPath gives them, for many paths in few folders: each folder is asked for
// its own short form once and listed once for the short names of its entries. The system instead walks
// and lists every folder of a path for each path asked (20 files and their 20 shortcuts took 100 ms
// under Wine). A path this does not take apart plainly is asked of the system.
class ShortPathCache {
  public:
    std::string Of(const char* path)
    {
        const char* last = strrchr(path, '\\');
        size_t slash = last != nullptr ? static_cast<size_t>(last - path) : 0;
        bool plain = slash > 2 && path[1] == ':' && path[2] == '\\' && path[slash + 1] != '\0' &&
                     strpbrk(path, "/*?") == nullptr && strstr(path, "\\.") == nullptr &&
                     strstr(path, "\\\\") == nullptr && slash + 2 < MAX_PATH;
        if (!plain) {
            return ShortPath(path);
        }
        std::string folderPath(path, slash);
        Folder& folder = folders_[Upper(folderPath.c_str())];
        if (!folder.listed) {
            List(folderPath, &folder);
        }
        auto name = folder.shortNames.find(Upper(path + slash + 1));
        if (folder.shortForm.empty() || name == folder.shortNames.end()) {
            return ShortPath(path); // not there when listed: the system tells what it is now
        }
        return folder.shortForm + "\\" + name->second;
    }

  private:
    struct Folder {
        bool listed = false;
        std::string shortForm;                                   // empty when the system has none
        std::unordered_map<std::string, std::string> shortNames; // either name, upper-case: the short name
    };

    static void List(const std::string& path, Folder* folder)
    {
        folder->listed = true;
        folder->shortForm = ShortPath(path.c_str());
        if (folder->shortForm.empty()) {
            return;
        }
        WIN32_FIND_DATAA entry;
        FindHandle find(FindFirstFileA((path + "\\*").c_str(), &entry));
        for (bool more = static_cast<bool>(find); more; more = FindNextFileA(find.get(), &entry) != FALSE) {
            // Known by either of its names: a shortcut may name its target by the short one.
            const char* shortName = entry.cAlternateFileName[0] != '\0' ? entry.cAlternateFileName : entry.cFileName;
            folder->shortNames[Upper(entry.cFileName)] = shortName;
            folder->shortNames[Upper(shortName)] = shortName;
        }
    }

    std::unordered_map<std::string, Folder> folders_;
};

bool SamePath(const char* a, const std::string& b)
{
    return !b.empty() && StrCompareNoCase(a, b.c_str()) == 0;
}

// Whether an item's target is the file: the same full or short path, without regard to case.
bool ItemMatchesFile(const char* itemPath, const std::string& itemShort, const char* filePath,
                     const std::string& fileShort)
{
    if (itemPath == nullptr || itemPath[0] == '\0' || filePath == nullptr) {
        return false;
    }
    std::string file(filePath);
    return SamePath(itemPath, file) || SamePath(itemPath, fileShort) || SamePath(itemShort.c_str(), fileShort) ||
           SamePath(itemShort.c_str(), file);
}

// An item's or a file's path and short path as the comparison of SamePath sees them: their sort keys
// (case, kana type and width ignored), with which two texts are equal exactly when that comparison
// says so. A file's items are then matched against a group's g links with g keys made, not g texts
// compared for each file (g times g comparisons, each a conversion and a walk of the sort tables).
struct PathKeys {
    std::string full, shortForm; // empty for an empty text
    bool known = true;           // false when the system gave no key: the texts are compared

    PathKeys(const char* path, const std::string& shortPath)
        : full(Key(path, &known)), shortForm(Key(shortPath.c_str(), &known))
    {
    }
    // The four comparisons of ItemMatchesFile.
    bool Matches(const PathKeys& o) const
    {
        auto same = [](const std::string& a, const std::string& b) { return !a.empty() && a == b; };
        return same(full, o.full) || same(full, o.shortForm) || same(shortForm, o.shortForm) || same(shortForm, o.full);
    }

  private:
    static std::string Key(const char* text, bool* known)
    {
        if (text == nullptr || text[0] == '\0') {
            return std::string();
        }
        const DWORD flags = LCMAP_SORTKEY | NORM_IGNORECASE | NORM_IGNOREKANATYPE | NORM_IGNOREWIDTH;
        int size = LCMapStringA(LOCALE_SYSTEM_DEFAULT, flags, text, -1, nullptr, 0);
        std::string key(size > 0 ? static_cast<size_t>(size) : 0, '\0');
        if (size <= 0 || LCMapStringA(LOCALE_SYSTEM_DEFAULT, flags, text, -1, &key[0], size) != size) {
            *known = false;
            return std::string();
        }
        return key;
    }
};

// Whether a link's target is the file, by their keys where both have them.
bool LinkMatchesFile(const char* target, const std::string& targetShort, const PathKeys& targetKeys, const char* file,
                     const std::string& fileShort, const PathKeys& fileKeys)
{
    if (target == nullptr || target[0] == '\0' || file == nullptr) {
        return false;
    }
    return targetKeys.known && fileKeys.known ? targetKeys.Matches(fileKeys)
                                              : ItemMatchesFile(target, targetShort, file, fileShort);
}

// The files that are being removed and do not place group items of their own: an item that points
// at one of them may go with the group. Their paths are looked up by their upper-case text first
// (equal upper-case texts are equal without regard to case). An item that matches none that way can
// only be a file's short path, or have the same short path as a file: such a file lies in the folder
// the item (or its short form) names, so only the files of that folder are asked for their short
// paths. Each folder's short form is asked once; the system lists a folder to answer.
class RemovableFiles {
  public:
    explicit RemovableFiles(DatabaseHandle db) : db_(db) {}

    bool Holds(const char* itemPath)
    {
        Collect();
        std::string itemShort = shortPaths_.Of(itemPath);
        if (upper_.count(Upper(itemPath)) != 0 || (!itemShort.empty() && upper_.count(Upper(itemShort.c_str())) != 0)) {
            return true;
        }
        const std::string named = Upper(FolderOf(itemPath).c_str()), shortNamed = Upper(FolderOf(itemShort).c_str());
        for (Folder& folder : folders_) {
            if (!folder.shortKnown) {
                folder.shortPath = Upper(shortPaths_.Of(folder.path.c_str()).c_str());
                folder.shortKnown = true;
            }
            if (folder.shortPath.empty() || (folder.shortPath != named && folder.shortPath != shortNamed)) {
                continue;
            }
            for (size_t i : folder.files) {
                File& f = files_[i];
                if (!f.shortKnown) {
                    f.shortPath = shortPaths_.Of(f.path.c_str());
                    f.shortKnown = true;
                }
                if (ItemMatchesFile(itemPath, itemShort, f.path.c_str(), f.shortPath)) {
                    return true;
                }
            }
        }
        return false;
    }

  private:
    struct File {
        std::string path, shortPath;
        bool shortKnown;
    };
    struct Folder {
        std::string path, shortPath; // the folder as the files' paths name it; its short form, upper-case
        bool shortKnown;
        std::vector<size_t> files;
    };

    static std::string FolderOf(const std::string& path)
    {
        size_t slash = path.find_last_of('\\');
        return slash == std::string::npos ? std::string() : path.substr(0, slash);
    }

    void Collect()
    {
        if (collected_) {
            return;
        }
        collected_ = true;
        std::unordered_map<std::string, size_t> folderIndex;
        for (ObjectId f = FindObjectByFlags(db_, 0, OBJECT_FILE); f != 0; f = FindObjectByFlags(db_, f, OBJECT_FILE)) {
            InstallObject* o = LockObject(f);
            ReleaseObject(o); // the one lock FindObjectByFlags left
            bool candidate = ObjectType(o) == OBJECT_FILE && !(ObjectFlagsOf(o) & OBJECT_GROUPED) &&
                             ((ObjectFlagsOf(o) & OBJECT_REMOVABLE) || IsCoveredByAncestor(f, 0, 1, 0) == 1);
            HeapText path(candidate ? GetObjectPath(f, 0, nullptr, 0) : nullptr);
            ReleaseObject(o);
            if (!path) {
                continue;
            }
            files_.push_back(File{path.get(), std::string(), false});
            upper_[Upper(path.get())] = files_.size() - 1;
            std::string folder = FolderOf(path.get());
            auto at = folderIndex.emplace(Upper(folder.c_str()), folders_.size());
            if (at.second) {
                folders_.push_back(Folder{folder, std::string(), false, {}});
            }
            folders_[at.first->second].files.push_back(files_.size() - 1);
        }
    }

    DatabaseHandle db_;
    ShortPathCache shortPaths_;
    bool collected_ = false;
    std::vector<File> files_;
    std::vector<Folder> folders_;
    std::unordered_map<std::string, size_t> upper_;
};

// Program Manager: deletes the items of a group, every one (forced) or those that belong to files being
// removed. True when every item went.
bool RemoveProgmanItems(const StringTable* items, bool forced, RemovableFiles& files)
{
    bool allRemoved = true;
    int count = GetItemCount(items);
    for (int i = 0; i < count && static_cast<UINT32>(i) + 1 < items->rowCount; i++) {
        char name[PROGMAN_TEXT_SIZE], command[PROGMAN_TEXT_SIZE];
        GetItemName(name, items, i);
        if (!forced && (!GetItemCommand(command, items, i) || !files.Holds(command))) {
            allRemoved = false; // no command line, or one that points at a file that stays
            continue;
        }
        if (GateJudgeName(name) != GATE_ALLOWED) {
            allRemoved = false;
            continue;
        }
        if (!DeleteProgmanItem(name)) {
            allRemoved = false;
        }
    }
    return allRemoved;
}

// The shell: deletes the links of a group's folder that point at files being removed. True when every
// readable link went.
bool RemoveShellLinks(const InstallObject* o, RemovableFiles& files)
{
    ShellItem folder;
    if (!ShellItemFromIdList(&folder, nullptr, ObjectGroupIdList(o))) {
        return false;
    }
    bool allRemoved = true;
    ShellItemList* list = nullptr;
    if (ShellListLinks(&folder, SHCONTF_NONFOLDERS, &list)) {
        allRemoved = list->unreadable == 0;
        for (UINT32 i = 0; i < list->count; i++) {
            ShellItem* link = list->children[i];
            if (link->path != nullptr && GatePlanGone(link->path)) {
                continue; // for a plan: it went with its file already
            }
            ShellLinkInfo* info = nullptr;
            if (!ShellLinkReadInfo(link, &info)) {
                continue; // no readable link: it does not keep the group
            }
            bool belongs = info->targetPath != nullptr && files.Holds(info->targetPath);
            ShellLinkInfoFree(link, &info);
            if (!belongs || !ShellDeleteLink(link)) {
                allRemoved = false;
            }
        }
        ShellListFree(list);
    }
    ShellItemFree(&folder);
    return allRemoved;
}

// A shell group is removed below its parent Programs folder: its folder, and the parents it leaves
// empty up to that one, through the deletion gate (*refused tells why it would not).
int RemoveShellGroup(InstallObject* o, bool forced, RemovableFiles& files, GroupKept* why)
{
    InstallObject* parent = LockObject(ObjectParentOf(o));
    ReleaseObject(parent);
    bool programs =
        parent != nullptr && ObjectType(parent) == OBJECT_GROUP && (ObjectFlagsOf(parent) & MARK_SELECTED) &&
        (ObjectFolderIdOf(parent) == SHELL_COMMON_PROGRAMS || ObjectFolderIdOf(parent) == SHELL_USER_PROGRAMS);
    if (ObjectGroupIdList(o) == nullptr || !programs || ObjectGroupIdList(parent) == nullptr) {
        return 0;
    }
    if (!forced && !RemoveShellLinks(o, files)) {
        return 0;
    }
    HeapText name(GetObjectLeafName(ObjectIdOf(o), 0, nullptr, 0));
    ShellItem programsFolder;
    if (!name || !ShellItemFromIdList(&programsFolder, nullptr, ObjectGroupIdList(parent))) {
        return 0;
    }
    HeapText folder(programsFolder.path != nullptr ? PathJoin(programsFolder.path, name.get(), false) : nullptr);
    GateResult r = folder
                       ? GateDeleteFolder(folder.get(), GATE_CLIMB | (forced ? GATE_RECURSIVE : 0), programsFolder.path)
                       : GateResult{GATE_FAILED, GATE_ALLOWED, ERROR_NOT_ENOUGH_MEMORY};
    ShellItemFree(&programsFolder);
    if (r.outcome == GATE_REFUSED) {
        why->refused = r.verdict;
    }
    SetLastError(r.error);
    return r.outcome == GATE_DONE ? 1 : 0;
}

int RemoveProgmanGroup(InstallObject* o, bool forced, RemovableFiles& files, GroupKept* why)
{
    HeapText name(GetObjectLeafName(ObjectIdOf(o), 1, nullptr, 0));
    if (name && (why->refused = GateJudgeName(name.get())) != GATE_ALLOWED) {
        return 0;
    }
    HeapPtr<StringTable> items(name ? RequestGroupInfo(name.get()) : nullptr);
    if (!items) {
        return 0;
    }
    // Items that the reply does not list were never looked at: the group stays with them.
    int count = GetItemCount(items.get());
    if (count < 0 || items->rowCount < static_cast<UINT32>(count) + 1) {
        why->unlisted = true;
        return 0;
    }
    if (GetItemCount(items.get()) != 0 && !RemoveProgmanItems(items.get(), forced, files)) {
        return 0;
    }
    return DeleteProgmanGroup(name.get());
}

} // namespace

int ItemBelongsToFile(const char* itemPath, const char* filePath, const char* fileShortPath)
{
    if (itemPath == nullptr || itemPath[0] == '\0' || filePath == nullptr) {
        return 0;
    }
    return ItemMatchesFile(itemPath, ShortPath(itemPath), filePath, fileShortPath != nullptr ? fileShortPath : "") ? 1
                                                                                                                   : 0;
}

int RemoveGroup(ObjectId id, int force, GroupKept* why)
{
    GroupKept ignored;
    why = why != nullptr ? why : &ignored;
    *why = GroupKept();
    HeldObject guard(id);
    InstallObject* o = guard.object();
    DatabaseHandle db = guard.database() != nullptr ? DatabaseHandleOf(guard.database()) : 0;
    if (o == nullptr || ObjectType(o) != OBJECT_GROUP) {
        return 0;
    }
    if (!(ObjectFlagsOf(o) & MARK_SELECTED) || (ObjectStateOf(o) & STATE_READ_ONLY)) {
        return 1; // nothing to do
    }
    ObjectDatabase* d = guard.database();
    bool forced = force || (ObjectFlagsOf(o) & OBJECT_KILLCHILDREN);
    RemovableFiles files(db);
    int removed = (DatabaseFlagsOf(d) & DATABASE_PROGMAN_GROUPS) ? RemoveProgmanGroup(o, forced, files, why)
                                                                 : RemoveShellGroup(o, forced, files, why);
    if (removed) {
        // The group's resolved folder is let go.
        ForgetGroupFolder(d, o, !(DatabaseFlagsOf(d) & DATABASE_PROGMAN_GROUPS));
    }
    return removed;
}

namespace {

void CopyText(char* field, const char* text)
{
    lstrcpynA(field, text != nullptr ? text : "", PROGMAN_TEXT_SIZE);
}

// The properties of Program Manager's item i: its four texts, and from its further fields the icon
// index (field 5, never negative) and the hot key and minimised state (field 6).
void ProgmanItemInfo(const StringTable* items, int i, GroupItemInfo* info)
{
    memset(info, 0, sizeof(*info));
    GetItemName(info->name, items, i);
    GetItemCommand(info->command, items, i);
    GetItemDirectory(info->directory, items, i);
    GetItemIconPath(info->iconPath, items, i);
    const char* row = StringTableRow(items, static_cast<UINT32>(i) + 1);
    const char* index = row != nullptr ? FieldAt(row, ITEM_ICON_INDEX_FIELD) : nullptr;
    const char* hotkey = row != nullptr ? FieldAt(row, ITEM_HOTKEY_FIELD) : nullptr;
    int number = index != nullptr ? FieldNumber(index) : 0;
    info->iconIndex = number < 0 ? 0 : number;
    if (hotkey != nullptr) {
        size_t n = strnlen(hotkey, sizeof(info->hotkey));
        memcpy(&info->hotkey, hotkey, n);
        info->showMinimised = FieldNumber(hotkey) != 0 ? SHOW_MINIMISED : 0;
    }
}

void LinkItemInfo(const ShellItem* link, const ShellLinkInfo* l, GroupItemInfo* info)
{
    memset(info, 0, sizeof(*info));
    CopyText(info->name, link->inFolderName);
    CopyText(info->command, l->targetPath);
    CopyText(info->directory, l->workingDirectory);
    CopyText(info->iconPath, l->iconLocation);
    info->iconIndex = l->iconIndex;
    info->hotkey = l->hotkey;
    info->showMinimised = l->showCommand;
}

// Counts one deletion into the result: -2 stays once a deletion failed. Program Manager is given time
// to keep up after each item its conversation deleted; a shortcut file is gone when its deletion returns.
void CountDeletion(int* result, bool deleted, bool overConversation)
{
    if (!deleted) {
        *result = -2;
    } else if (*result >= 0) {
        (*result)++;
    }
    if (overConversation) {
        Sleep(ITEM_PAUSE_MS);
    }
}

int RemoveProgmanFileItems(ObjectId group, const char* path, const std::string& shortPath, GroupItemInfo* itemInfo,
                           int keepItems)
{
    HeapText name(GetObjectLeafName(group, 1, nullptr, 0));
    HeapPtr<StringTable> items(name ? RequestGroupInfo(name.get()) : nullptr);
    if (!items) {
        return -1;
    }
    int result = 0;
    int count = GetItemCount(items.get());
    for (int i = 0; i < count && static_cast<UINT32>(i) + 1 < items->rowCount; i++) {
        char command[PROGMAN_TEXT_SIZE], item[PROGMAN_TEXT_SIZE];
        if (!GetItemCommand(command, items.get(), i) || !ItemBelongsToFile(command, path, shortPath.c_str())) {
            continue;
        }
        if (itemInfo != nullptr) {
            ProgmanItemInfo(items.get(), i, itemInfo);
        }
        if (!keepItems) {
            bool named = GetItemName(item, items.get(), i) && GateJudgeName(item) == GATE_ALLOWED;
            CountDeletion(&result, named && DeleteProgmanItem(item), true);
        }
    }
    return result;
}

// The links of one group's folder as a pass reads them: the folder listed once and each link's target
// read once, however many of the product's files place items in the group; a link the pass deleted is
// gone from it. Kept while an executor pass runs (between BeginGroupItemsPass and EndGroupItemsPass),
// so that the items of g files cost g link reads, not g times g.
struct GroupLinks {
    ShellItem folder = {};
    ShellItemList* list = nullptr;
    std::vector<ShellLinkInfo*> infos;     // one per link of the list; null once gone or when unreadable
    std::vector<std::string> shortTargets; // the 8.3 form of each target (asking for one costs a listing)
    std::vector<PathKeys> keys;            // each target's keys
    GroupLinks() = default;
    GroupLinks(const GroupLinks&) = delete;
    GroupLinks& operator=(const GroupLinks&) = delete;
    ~GroupLinks()
    {
        for (size_t i = 0; i < infos.size(); i++) {
            ShellLinkInfoFree(list->children[i], &infos[i]);
        }
        ShellListFree(list);
        ShellItemFree(&folder);
    }
};

bool g_groupLinksKept = false;
std::unordered_map<ObjectId, std::unique_ptr<GroupLinks>> g_groupLinks;
// The short forms of the pass's files and link targets, kept as long as the links are.
std::unique_ptr<ShortPathCache> g_shortPaths;

std::string ShortPathOf(const char* path)
{
    return g_groupLinksKept && g_shortPaths ? g_shortPaths->Of(path) : ShortPath(path);
}

// The group's links, read now or earlier in the pass; null with *failure (-1: no group folder,
// ITEMS_NOT_KNOWN: it could not be listed).
GroupLinks* LinksOf(ObjectId group, std::unique_ptr<GroupLinks>* unkept, int* failure)
{
    auto found = g_groupLinks.find(group);
    if (found != g_groupLinks.end()) {
        return found->second.get();
    }
    std::unique_ptr<GroupLinks> links(new GroupLinks);
    InstallObject* g = LockObject(group);
    bool resolved = g != nullptr && ObjectGroupIdList(g) != nullptr &&
                    ShellItemFromIdList(&links->folder, nullptr, ObjectGroupIdList(g));
    ReleaseObject(g);
    if (!resolved || !ShellListLinks(&links->folder, SHCONTF_NONFOLDERS, &links->list)) {
        *failure = resolved ? ITEMS_NOT_KNOWN : -1;
        return nullptr;
    }
    links->infos.assign(links->list->count, nullptr);
    links->shortTargets.resize(links->list->count);
    for (UINT32 i = 0; i < links->list->count; i++) {
        ShellLinkInfo*& info = links->infos[i];
        if (!ShellLinkReadInfo(links->list->children[i], &info)) {
            info = nullptr;
        } else if (info->targetPath != nullptr) {
            links->shortTargets[i] = ShortPathOf(info->targetPath);
        }
        links->keys.emplace_back(info != nullptr ? info->targetPath : nullptr, links->shortTargets[i]);
    }
    GroupLinks* read = links.get();
    if (g_groupLinksKept) {
        g_groupLinks.emplace(group, std::move(links));
    } else {
        *unkept = std::move(links);
    }
    return read;
}

int RemoveShellFileItems(ObjectId group, const char* path, const std::string& shortPath, GroupItemInfo* itemInfo,
                         int keepItems)
{
    std::unique_ptr<GroupLinks> unkept;
    int failure = -1;
    GroupLinks* links = LinksOf(group, &unkept, &failure);
    if (links == nullptr) {
        return failure;
    }
    // A shortcut another program holds may be one of this file's: its items are not all known to go.
    int result = links->list->unreadable != 0 ? ITEMS_NOT_KNOWN : 0;
    const PathKeys fileKeys(path, shortPath);
    for (UINT32 i = 0; i < links->list->count; i++) {
        ShellItem* link = links->list->children[i];
        ShellLinkInfo*& info = links->infos[i];
        if (info == nullptr ||
            !LinkMatchesFile(info->targetPath, links->shortTargets[i], links->keys[i], path, shortPath, fileKeys)) {
            continue;
        }
        if (itemInfo != nullptr) {
            LinkItemInfo(link, info, itemInfo);
        }
        if (!keepItems) {
            ShellLinkInfoFree(link, &info); // gone from the group, or failed: not this pass's again
            CountDeletion(&result, ShellDeleteLink(link) == 1, false);
        }
    }
    return result;
}

} // namespace

void BeginGroupItemsPass()
{
    g_groupLinksKept = true;
    g_shortPaths.reset(new ShortPathCache);
}

void EndGroupItemsPass()
{
    g_groupLinks.clear();
    g_shortPaths.reset();
    g_groupLinksKept = false;
}

int RemoveGroupItems(ObjectId id, GroupItemInfo* itemInfo, int keepItems)
{
    HeldObject guard(id);
    InstallObject* o = guard.object();
    if (o == nullptr || ObjectType(o) != OBJECT_FILE || !(ObjectFlagsOf(o) & OBJECT_GROUPED)) {
        return -1;
    }
    ObjectId group = FindObjectByName(DatabaseHandleOf(guard.database()), ObjectGroupNameOf(o));
    HeapText path(GetObjectPath(id, 0, nullptr, 0));
    if (group == 0 || !path || !SelectGroup(group)) {
        return -1;
    }
    std::string shortPath = ShortPathOf(path.get());
    if (DatabaseFlagsOf(guard.database()) & DATABASE_PROGMAN_GROUPS) {
        return RemoveProgmanFileItems(group, path.get(), shortPath, itemInfo, keepItems);
    }
    return RemoveShellFileItems(group, path.get(), shortPath, itemInfo, keepItems);
}
