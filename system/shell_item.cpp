// Shell items: resolution of paths and ID lists, special folders, enumeration and child lists.
#include "system/shell_internal.h"

#include "support/startup.h"
#include "support/guards.h"
#include "support/strings.h"

#include <stdio.h>
#include <string.h>

#include <vector>

namespace {

struct SpecialFolder {
    UINT32 code;
    int csidl;
    int fallback; // -1: none
};

const SpecialFolder kSpecialFolders[] = {
    {SHELL_COMMON_DESKTOP, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY},
    {SHELL_USER_DESKTOP, CSIDL_DESKTOPDIRECTORY, -1},
    {SHELL_COMMON_PROGRAMS, CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS},
    {SHELL_USER_PROGRAMS, CSIDL_PROGRAMS, -1},
    {SHELL_COMMON_STARTMENU, CSIDL_COMMON_STARTMENU, CSIDL_STARTMENU},
    {SHELL_USER_STARTMENU, CSIDL_STARTMENU, -1},
    {SHELL_COMMON_STARTUP, CSIDL_COMMON_STARTUP, CSIDL_STARTUP},
    {SHELL_USER_STARTUP, CSIDL_STARTUP, -1},
    {SHELL_CONTROLS, CSIDL_CONTROLS, -1},
    {SHELL_NETHOOD, CSIDL_NETHOOD, -1},
};

template <class T>
void ReleaseInterface(T*& p)
{
    if (p != nullptr) {
        p->Release();
        p = nullptr;
    }
}

LPITEMIDLIST EmptyIdList(IMalloc* allocator)
{
    LPITEMIDLIST list = static_cast<LPITEMIDLIST>(allocator->Alloc(2));
    if (list != nullptr) {
        memset(list, 0, 2);
    }
    return list;
}

// a followed by the first count bytes of b, terminated; allocated with the shell allocator.
LPITEMIDLIST Concat(IMalloc* allocator, LPCITEMIDLIST a, LPCITEMIDLIST b, UINT bBytes)
{
    UINT aBytes = ShellIdListSize(a);
    BYTE* list = static_cast<BYTE*>(allocator->Alloc(aBytes + bBytes + 2));
    if (list == nullptr) {
        return nullptr;
    }
    if (aBytes != 0) {
        memcpy(list, a, aBytes);
    }
    if (bBytes != 0) {
        memcpy(list + aBytes, b, bBytes);
    }
    list[aBytes + bBytes] = 0;
    list[aBytes + bBytes + 1] = 0;
    return reinterpret_cast<LPITEMIDLIST>(list);
}

USHORT FirstIdSize(LPCITEMIDLIST list)
{
    USHORT cb = 0;
    memcpy(&cb, list, sizeof(cb));
    return cb;
}

UINT CountIds(LPCITEMIDLIST list)
{
    UINT count = 0, size = ShellIdListSize(list);
    for (UINT at = 0; at < size;
         at += FirstIdSize(reinterpret_cast<LPCITEMIDLIST>(reinterpret_cast<const BYTE*>(list) + at))) {
        count++;
    }
    return count;
}

char* StrRetToAnsi(IMalloc* allocator, STRRET* s, LPCITEMIDLIST id)
{
    switch (s->uType) {
    case STRRET_WSTR: {
        char* text = WideToAnsi(s->pOleStr);
        allocator->Free(s->pOleStr);
        return text;
    }
    case STRRET_OFFSET:
        return MemCopyText(reinterpret_cast<const char*>(id) + s->uOffset);
    case STRRET_CSTR: {
        char text[MAX_PATH + 1] = {};
        memcpy(text, s->cStr, sizeof(s->cStr));
        return MemCopyText(text);
    }
    default:
        return nullptr;
    }
}

char* DisplayName(IMalloc* allocator, IShellFolder* folder, LPCITEMIDLIST id, SHGDNF flags)
{
    STRRET s;
    memset(&s, 0, sizeof(s));
    if (FAILED(folder->GetDisplayNameOf(id, flags, &s))) {
        return nullptr;
    }
    return StrRetToAnsi(allocator, &s, id);
}

// Walks one ID list from container, binding to every ID but the last; the IDs are appended to the
// item's list and *last becomes a copy of the final ID (the item), *container its folder.
bool WalkIds(ShellItem* item, IShellFolder** container, LPITEMIDLIST* last, LPCITEMIDLIST ids)
{
    for (LPCITEMIDLIST id = ids; FirstIdSize(id) != 0;
         id = reinterpret_cast<LPCITEMIDLIST>(reinterpret_cast<const BYTE*>(id) + FirstIdSize(id))) {
        if (*last != nullptr) {
            IShellFolder* next = nullptr;
            HRESULT hr = (*container)->BindToObject(*last, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&next));
            item->allocator->Free(*last);
            *last = nullptr;
            if (FAILED(hr) || next == nullptr) {
                return false;
            }
            (*container)->Release();
            *container = next;
        }
        USHORT cb = FirstIdSize(id);
        *last = Concat(item->allocator, nullptr, id, cb);
        LPITEMIDLIST grown = *last != nullptr ? Concat(item->allocator, item->idList, id, cb) : nullptr;
        if (grown == nullptr) {
            return false;
        }
        item->allocator->Free(item->idList);
        item->idList = grown;
    }
    return true;
}

// Parses a path piece by piece: the longest leading part (up to a backslash) that the current folder
// accepts is taken, then the rest from the item it reached.
bool WalkPath(ShellItem* item, IShellFolder** container, LPITEMIDLIST* last, const char* path)
{
    wchar_t* wide = AnsiToWide(path);
    if (wide == nullptr) {
        return false;
    }
    bool ok = true;
    wchar_t* rest = wide;
    while (*rest == L'\\') {
        rest++;
    }
    while (ok && *rest != L'\0') {
        if (*last != nullptr) {
            // Path remains: the item reached must be a folder that binds.
            IShellFolder* next = nullptr;
            HRESULT hr = (*container)->BindToObject(*last, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&next));
            item->allocator->Free(*last);
            *last = nullptr;
            if (FAILED(hr) || next == nullptr) {
                ok = false;
                break;
            }
            (*container)->Release();
            *container = next;
        }
        size_t length = wcslen(rest);
        LPITEMIDLIST parsed = nullptr;
        while (length != 0) {
            wchar_t saved = rest[length];
            rest[length] = L'\0';
            ULONG eaten = 0;
            HRESULT hr = (*container)->ParseDisplayName(nullptr, nullptr, rest, &eaten, &parsed, nullptr);
            rest[length] = saved;
            if (SUCCEEDED(hr) && parsed != nullptr) {
                break;
            }
            parsed = nullptr;
            // Refused: try the part before the previous backslash.
            while (length != 0 && rest[length - 1] != L'\\') {
                length--;
            }
            while (length != 0 && rest[length - 1] == L'\\') {
                length--;
            }
        }
        if (parsed == nullptr) {
            ok = false;
            break;
        }
        ok = WalkIds(item, container, last, parsed);
        item->allocator->Free(parsed);
        rest += length;
        while (*rest == L'\\') {
            rest++;
        }
    }
    MemFree(wide);
    return ok;
}

} // namespace

UINT ShellIdListSize(LPCITEMIDLIST list)
{
    if (list == nullptr) {
        return 0;
    }
    UINT size = 0;
    for (USHORT cb;
         (cb = FirstIdSize(reinterpret_cast<LPCITEMIDLIST>(reinterpret_cast<const BYTE*>(list) + size))) != 0;) {
        size += cb;
    }
    return size;
}

bool ShellResolve(ShellItem* item, IShellFolder* start, const char* path, LPCITEMIDLIST ids)
{
    IShellFolder* container = start;
    container->AddRef();
    LPITEMIDLIST last = nullptr;
    bool ok = path != nullptr ? WalkPath(item, &container, &last, path)
                              : (ids == nullptr || WalkIds(item, &container, &last, ids));
    if (ok && last == nullptr) {
        // Nothing was walked: the item is the starting folder itself.
        item->attributes = SFGAO_FOLDER;
        item->folder = container;
        container->AddRef();
        LPITEMIDLIST empty = EmptyIdList(item->allocator);
        ok = empty != nullptr;
        if (ok) {
            item->displayName = DisplayName(item->allocator, container, empty, SHGDN_NORMAL);
            item->inFolderName = DisplayName(item->allocator, container, empty, SHGDN_INFOLDER);
            item->path = DisplayName(item->allocator, container, empty, SHGDN_FORPARSING);
            item->allocator->Free(empty);
            ok = item->displayName != nullptr && item->inFolderName != nullptr && item->path != nullptr;
        }
    } else if (ok) {
        ULONG attributes = SHELL_ATTRIBUTE_MASK;
        LPCITEMIDLIST one = last;
        ok = SUCCEEDED(container->GetAttributesOf(1, &one, &attributes));
        item->attributes = attributes;
        if (ok && (attributes & SFGAO_FOLDER)) {
            ok = SUCCEEDED(container->BindToObject(last, nullptr, IID_IShellFolder,
                                                   reinterpret_cast<void**>(&item->folder))) &&
                 item->folder != nullptr;
        }
        if (ok) {
            item->displayName = DisplayName(item->allocator, container, last, SHGDN_NORMAL);
            item->inFolderName = DisplayName(item->allocator, container, last, SHGDN_INFOLDER);
            item->path = DisplayName(item->allocator, container, last, SHGDN_FORPARSING);
            if (item->path == nullptr && item->displayName != nullptr && (attributes & SFGAO_FOLDER) &&
                !(attributes & SFGAO_FILESYSTEM) && ShellItemIsUnder(SHELL_NETHOOD, item)) {
                // A computer of the network neighbourhood: its UNC root.
                char unc[MAX_PATH + 4];
                snprintf(unc, sizeof(unc), "\\\\%s\\", item->displayName);
                item->path = MemCopyText(unc);
            }
            ok = item->displayName != nullptr && item->inFolderName != nullptr && item->path != nullptr;
        }
    }
    if (last != nullptr) {
        item->allocator->Free(last);
    }
    container->Release();
    return ok;
}

bool ShellSameIdList(LPCITEMIDLIST a, LPCITEMIDLIST b)
{
    ComPtr<IShellFolder> desktop;
    if (FAILED(SHGetDesktopFolder(desktop.out()))) {
        return false;
    }
    HRESULT hr = desktop->CompareIDs(0, a, b);
    return SUCCEEDED(hr) && HRESULT_CODE(hr) == 0;
}

void ShellItemFree(ShellItem* item)
{
    if (item == nullptr) {
        return;
    }
    if (item->allocator != nullptr) {
        ReleaseInterface(item->enumerator);
        ReleaseInterface(item->link);
        ReleaseInterface(item->folder);
        if (item->idList != nullptr) {
            item->allocator->Free(item->idList);
        }
        item->allocator->Release();
    }
    MemFree(item->displayName);
    MemFree(item->inFolderName);
    MemFree(item->path);
    memset(item, 0, sizeof(*item));
}

int ShellItemFromSpecialFolder(ShellItem* item, UINT32 code)
{
    memset(item, 0, sizeof(*item));
    ComScope com;
    int csidl = CSIDL_DESKTOP, fallback = -1;
    UINT32 stored = 0;
    for (const SpecialFolder& f : kSpecialFolders) {
        if (f.code == code) {
            csidl = f.csidl;
            fallback = f.fallback;
            stored = code;
        }
    }
    IShellFolder* desktop = nullptr;
    LPITEMIDLIST location = nullptr;
    bool ok = com.joined && SUCCEEDED(SHGetMalloc(&item->allocator)) && SUCCEEDED(SHGetDesktopFolder(&desktop));
    if (ok && FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &location))) {
        // The common folder is missing on this machine: the user's own stands in.
        location = nullptr;
        ok = fallback >= 0 && SUCCEEDED(SHGetSpecialFolderLocation(nullptr, fallback, &location));
    }
    if (ok) {
        item->folderCode = stored;
        item->idList = EmptyIdList(item->allocator);
        ok = item->idList != nullptr && ShellResolve(item, desktop, nullptr, location) && item->folder != nullptr;
    }
    if (location != nullptr) {
        CoTaskMemFree(location);
    }
    ReleaseInterface(desktop);
    if (!ok) {
        ShellItemFree(item);
    }
    return ok ? 1 : 0;
}

namespace {

// The constructors that start from another item (or from the desktop without one).
int FromBase(ShellItem* item, const ShellItem* base, const char* path, LPCITEMIDLIST ids)
{
    memset(item, 0, sizeof(*item));
    ComScope com;
    IShellFolder* start = nullptr;
    bool ok = com.joined;
    if (ok && base != nullptr) {
        ok = base->allocator != nullptr && base->folder != nullptr && base->idList != nullptr;
        if (ok) {
            item->folderCode = base->folderCode;
            item->allocator = base->allocator;
            item->allocator->AddRef();
            start = base->folder;
            start->AddRef();
            item->idList = Concat(item->allocator, base->idList, nullptr, 0);
            ok = item->idList != nullptr;
        }
    } else if (ok) {
        ok = SUCCEEDED(SHGetMalloc(&item->allocator)) && SUCCEEDED(SHGetDesktopFolder(&start));
        if (ok) {
            item->idList = EmptyIdList(item->allocator);
            ok = item->idList != nullptr;
        }
    }
    ok = ok && ShellResolve(item, start, path, ids);
    ReleaseInterface(start);
    if (!ok) {
        ShellItemFree(item);
    }
    return ok ? 1 : 0;
}

} // namespace

int ShellItemFromIdList(ShellItem* item, const ShellItem* source, LPCITEMIDLIST idList)
{
    if (item == nullptr) {
        return 0;
    }
    if (idList == nullptr) {
        memset(item, 0, sizeof(*item));
        return 0;
    }
    return FromBase(item, source, nullptr, idList);
}

int ShellItemFromPath(ShellItem* item, const ShellItem* base, const char* path)
{
    if (item == nullptr) {
        return 0;
    }
    if (path == nullptr) {
        memset(item, 0, sizeof(*item));
        return 0;
    }
    return FromBase(item, base, path, nullptr);
}

int ShellItemChildByName(const ShellItem* folder, const char* name, ShellItem* item)
{
    if (item == nullptr) {
        return 0;
    }
    if (folder == nullptr || name == nullptr || name[0] == '\0') {
        memset(item, 0, sizeof(*item));
        return 0;
    }
    return FromBase(item, folder, name, nullptr);
}

int ShellItemNextChild(ShellItem* folder, ShellItem* item)
{
    if (item == nullptr) {
        return 0;
    }
    memset(item, 0, sizeof(*item));
    if (folder == nullptr || folder->enumerator == nullptr || folder->allocator == nullptr) {
        return 0;
    }
    LPITEMIDLIST child = nullptr;
    ULONG fetched = 0;
    if (folder->enumerator->Next(1, &child, &fetched) != S_OK || child == nullptr) {
        return 0;
    }
    int result = FromBase(item, folder, nullptr, child);
    folder->allocator->Free(child);
    return result;
}

int ShellItemParent(const ShellItem* item, ShellItem* parent)
{
    if (parent == nullptr) {
        return 0;
    }
    memset(parent, 0, sizeof(*parent));
    if (item == nullptr || item->allocator == nullptr || item->idList == nullptr) {
        return 0;
    }
    // The list without its last ID.
    UINT size = ShellIdListSize(item->idList), lastAt = 0;
    for (UINT at = 0; at < size;
         at += FirstIdSize(reinterpret_cast<LPCITEMIDLIST>(reinterpret_cast<const BYTE*>(item->idList) + at))) {
        lastAt = at;
    }
    if (size == 0) {
        return 0;
    }
    LPITEMIDLIST shorter = Concat(item->allocator, nullptr, item->idList, lastAt);
    if (shorter == nullptr) {
        return 0;
    }
    int result = FromBase(parent, nullptr, nullptr, shorter);
    item->allocator->Free(shorter);
    if (result && parent->folder == nullptr) {
        ShellItemFree(parent);
        result = 0;
    }
    if (result) {
        parent->folderCode = item->folderCode;
    }
    return result;
}

namespace {

const size_t SPECIAL_FOLDER_COUNT = sizeof(kSpecialFolders) / sizeof(kSpecialFolders[0]);

// The absolute ID lists of the special folders, each resolved once in a process: every object
// database of a run starts with the same folders, and each resolution through the shell costs
// milliseconds. A folder that could not be resolved is asked again the next time.
struct SpecialFolderCache {
    CRITICAL_SECTION lock;
    HeapPtr<ITEMIDLIST> ids[SPECIAL_FOLDER_COUNT];
    SpecialFolderCache() { InitializeCriticalSection(&lock); }
    ~SpecialFolderCache() { DeleteCriticalSection(&lock); }
};

SpecialFolderCache& TheSpecialFolderCache()
{
    static SpecialFolderCache cache;
    return cache;
}

} // namespace

LPITEMIDLIST ShellSpecialFolderIdList(UINT32 code)
{
    size_t slot = 0;
    while (slot < SPECIAL_FOLDER_COUNT && kSpecialFolders[slot].code != code) {
        slot++;
    }
    if (slot == SPECIAL_FOLDER_COUNT) {
        return nullptr;
    }
    SpecialFolderCache& cache = TheSpecialFolderCache();
    CriticalSectionScope scope(&cache.lock);
    if (!cache.ids[slot]) {
        ShellItem folder;
        if (!ShellItemFromSpecialFolder(&folder, code)) {
            return nullptr;
        }
        cache.ids[slot].reset(ShellItemCopyIdList(&folder));
        ShellItemFree(&folder);
    }
    UINT size = ShellIdListSize(cache.ids[slot].get());
    BYTE* copy = size != 0 ? static_cast<BYTE*>(MemAlloc(size + 2)) : nullptr;
    if (copy != nullptr) {
        memcpy(copy, cache.ids[slot].get(), size + 2);
    }
    return reinterpret_cast<LPITEMIDLIST>(copy);
}

LPITEMIDLIST ShellItemCopyIdList(const ShellItem* item)
{
    UINT size = item != nullptr ? ShellIdListSize(item->idList) : 0;
    if (size == 0) {
        return nullptr;
    }
    BYTE* copy = static_cast<BYTE*>(MemAlloc(size + 2));
    if (copy != nullptr) {
        memcpy(copy, item->idList, size);
    }
    return reinterpret_cast<LPITEMIDLIST>(copy);
}

int ShellItemIsUnder(UINT32 code, const ShellItem* item)
{
    if (item == nullptr || item->idList == nullptr) {
        return 0;
    }
    ShellItem special;
    if (!ShellItemFromSpecialFolder(&special, code)) {
        return 0;
    }
    // The item's list cut to as many IDs as the folder's, compared by the shell rather than byte for
    // byte: IDs of file-system objects carry times and sizes that differ between two resolutions of
    // the same folder.
    UINT ids = CountIds(special.idList);
    UINT itemSize = ShellIdListSize(item->idList), cut = 0;
    for (UINT n = 0; n < ids && cut < itemSize; n++) {
        cut += FirstIdSize(reinterpret_cast<LPCITEMIDLIST>(reinterpret_cast<const BYTE*>(item->idList) + cut));
    }
    int result = 0;
    LPITEMIDLIST prefix = Concat(special.allocator, nullptr, item->idList, cut);
    if (prefix != nullptr) {
        result = ids <= CountIds(item->idList) && ShellSameIdList(special.idList, prefix) ? 1 : 0;
        special.allocator->Free(prefix);
    }
    ShellItemFree(&special);
    return result;
}

int ShellItemBeginEnum(ShellItem* folder, DWORD flags, int reuse)
{
    if (folder == nullptr || folder->allocator == nullptr || folder->folder == nullptr || folder->idList == nullptr) {
        return 0;
    }
    if (folder->enumerator != nullptr) {
        if (reuse && folder->enumFlags == flags) {
            if (FAILED(folder->enumerator->Reset())) {
                ReleaseInterface(folder->enumerator);
            }
        } else {
            ReleaseInterface(folder->enumerator);
        }
    }
    if (folder->enumerator == nullptr) {
        if (folder->folder->EnumObjects(nullptr, flags, &folder->enumerator) != S_OK) {
            folder->enumerator = nullptr;
        }
        folder->enumFlags = flags;
    }
    return folder->enumerator != nullptr ? 1 : 0;
}

int ShellItemCountChildren(ShellItem* folder, UINT32* count)
{
    *count = 0;
    if (folder == nullptr || folder->enumerator == nullptr) {
        return 0;
    }
    LPITEMIDLIST child = nullptr;
    ULONG fetched = 0;
    while (folder->enumerator->Next(1, &child, &fetched) == S_OK && child != nullptr) {
        (*count)++;
        folder->allocator->Free(child);
        child = nullptr;
    }
    return 1;
}

void ShellItemEndEnum(ShellItem* folder)
{
    if (folder != nullptr) {
        ReleaseInterface(folder->enumerator);
    }
}

namespace {

// Another program may add or delete children while the folder is listed (two removals share the
// desktop). The folder is enumerated once and every child it gave is kept, so a child added or deleted
// elsewhere in the folder changes nothing; a child that cannot be read any more (deleted between the
// enumeration and its reading) fails the try, and the folder is listed again, a few times.
const int LIST_TRIES = 5;

void FreeItems(std::vector<ShellItem>& items)
{
    for (ShellItem& item : items) {
        ShellItemFree(&item);
    }
    items.clear();
}

bool EnumerateChildren(ShellItem* own, std::vector<ShellItem>* children)
{
    LPITEMIDLIST id = nullptr;
    ULONG fetched = 0;
    while (own->enumerator->Next(1, &id, &fetched) == S_OK && id != nullptr) {
        ShellItem child;
        int read = FromBase(&child, own, nullptr, id);
        own->allocator->Free(id);
        id = nullptr;
        if (!read) {
            return false;
        }
        children->push_back(child);
    }
    return true;
}

int ListChildrenOnce(ShellItem* folder, DWORD flags, ShellItemList** list)
{
    ShellItem own;
    if (!ShellItemFromIdList(&own, nullptr, folder->idList)) {
        return 0;
    }
    own.folderCode = folder->folderCode;
    std::vector<ShellItem> children;
    bool ok = ShellItemBeginEnum(&own, flags, 0) && EnumerateChildren(&own, &children);
    size_t size = sizeof(ShellItemList) + children.size() * (sizeof(ShellItem*) + sizeof(ShellItem));
    ShellItemList* l = ok ? static_cast<ShellItemList*>(MemAlloc(size)) : nullptr;
    if (l == nullptr) {
        FreeItems(children);
        ShellItemFree(&own);
        return 0;
    }
    // The records move into the block as they are: they hold only pointers.
    l->enumFlags = flags;
    l->folder = own;
    l->count = static_cast<UINT32>(children.size());
    l->children = reinterpret_cast<ShellItem**>(l + 1);
    ShellItem* records = reinterpret_cast<ShellItem*>(l->children + l->count);
    for (UINT32 i = 0; i < l->count; i++) {
        records[i] = children[i];
        l->children[i] = &records[i];
    }
    *list = l;
    return 1;
}

} // namespace

int ShellListChildren(ShellItem* folder, DWORD flags, ShellItemList** list)
{
    *list = nullptr;
    for (int tries = 0; tries < LIST_TRIES; tries++) {
        if (ListChildrenOnce(folder, flags, list)) {
            return 1;
        }
    }
    return 0;
}

void ShellListFree(ShellItemList* list)
{
    if (list == nullptr) {
        return;
    }
    ShellItemFree(&list->folder);
    for (UINT32 i = 0; i < list->count; i++) {
        ShellItemFree(list->children[i]);
    }
    MemFree(list);
}
