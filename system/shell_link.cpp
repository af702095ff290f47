// Shell links (shortcut files): listing the links of a folder, reading what they point to, deleting.
#include "system/shell_internal.h"

#include "system/deletion_gate.h"

#include "support/startup.h"
#include "support/guards.h"
#include "support/plan_mode.h"
#include "support/strings.h"

#include <shellapi.h>
#include <string.h>

namespace {

// A link is resolved without a window and gives up after 512 ms (the high word).
const DWORD LINK_RESOLVE_QUIETLY = SLR_NO_UI | (512u << 16);

IShellLinkA* LinkOf(const ShellItem* item)
{
    if (item == nullptr || item->idList == nullptr || item->link == nullptr ||
        memcmp(&item->linkIid, &IID_IShellLinkA, sizeof(IID)) != 0) {
        return nullptr;
    }
    return static_cast<IShellLinkA*>(item->link);
}

// A file that another program holds (writing it, or deleting it) is tried again a few times.
const int HELD_FILE_TRIES = 10;
const DWORD HELD_FILE_PAUSE_MS = 20;
const HRESULT HELD_BY_ANOTHER = HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION);

// Loads the file at path as a shell link; null when it is none. Read without shutting other readers out:
// two removals read the links of one desktop at once. *held tells that another program held the file
// through every try.
IShellLinkA* LoadLink(const char* path, bool* held)
{
    *held = false;
    ComPtr<IShellLinkA> link;
    ComPtr<IPersistFile> file;
    HeapPtr<wchar_t> wide(AnsiToWide(path));
    if (!wide ||
        FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, link.outVoid())) ||
        FAILED(link->QueryInterface(IID_IPersistFile, file.outVoid()))) {
        return nullptr;
    }
    for (int tries = 0; tries < HELD_FILE_TRIES; tries++, Sleep(HELD_FILE_PAUSE_MS)) {
        HRESULT hr = file->Load(wide.get(), STGM_READ | STGM_SHARE_DENY_NONE);
        if (hr != HELD_BY_ANOTHER) {
            return SUCCEEDED(hr) ? link.release() : nullptr;
        }
    }
    *held = true;
    return nullptr;
}

bool IsShortcutFile(const char* path)
{
    size_t n = strlen(path);
    return n > 4 && lstrcmpiA(path + n - 4, ".lnk") == 0;
}

// Reads a text through a getter into a buffer that grows by 260 bytes while the text fills it.
template <class Getter>
char* ReadLinkText(Getter get)
{
    int capacity = MAX_PATH;
    for (;;) {
        char* buffer = static_cast<char*>(MemAlloc(static_cast<size_t>(capacity)));
        if (buffer == nullptr) {
            return nullptr;
        }
        if (FAILED(get(buffer, capacity))) {
            buffer[0] = '\0';
        }
        buffer[capacity - 1] = '\0';
        if (static_cast<int>(strlen(buffer)) + 1 < capacity || capacity >= 32 * 1024) {
            return buffer;
        }
        MemFree(buffer);
        capacity += MAX_PATH;
    }
}

} // namespace

int ShellListLinks(ShellItem* folder, DWORD flags, ShellItemList** list)
{
    *list = nullptr;
    ComScope com;
    if (!com.joined || folder == nullptr || folder->folder == nullptr || !(folder->attributes & SFGAO_FILESYSTEM) ||
        !(flags & (SHCONTF_FOLDERS | SHCONTF_NONFOLDERS))) {
        return 0;
    }
    ShellItemList* l = nullptr;
    if (!ShellListChildren(folder, flags & (SHCONTF_FOLDERS | SHCONTF_NONFOLDERS), &l)) {
        return 0;
    }
    UINT32 kept = 0;
    for (UINT32 i = 0; i < l->count; i++) {
        ShellItem* child = l->children[i];
        bool keep = true;
        if (!(child->attributes & SFGAO_FOLDER) || child->folder == nullptr) {
            bool held = false;
            IShellLinkA* link = LoadLink(child->path, &held);
            keep = link != nullptr && SUCCEEDED(link->Resolve(nullptr, LINK_RESOLVE_QUIETLY));
            l->unreadable += held && IsShortcutFile(child->path) ? 1 : 0;
            if (keep) {
                child->link = link;
                child->linkIid = IID_IShellLinkA;
            } else if (link != nullptr) {
                link->Release();
            }
        }
        if (keep) {
            l->children[kept++] = child;
        } else {
            ShellItemFree(child);
        }
    }
    // Records of dropped children stay in the block, empty; the index holds the links only.
    l->count = kept;
    *list = l;
    return 1;
}

int ShellLinkReadInfo(ShellItem* item, ShellLinkInfo** info)
{
    *info = nullptr;
    IShellLinkA* link = LinkOf(item);
    if (link == nullptr) {
        return 0;
    }
    char* texts[5] = {
        ReadLinkText([link](char* b, int n) { return link->GetPath(b, n, nullptr, 0); }),
        ReadLinkText([link](char* b, int n) { return link->GetWorkingDirectory(b, n); }),
        ReadLinkText([link](char* b, int n) { return link->GetArguments(b, n); }),
        ReadLinkText([link](char* b, int n) { return link->GetDescription(b, n); }),
        nullptr,
    };
    int iconIndex = 0;
    texts[4] = ReadLinkText([link, &iconIndex](char* b, int n) { return link->GetIconLocation(b, n, &iconIndex); });
    size_t size = sizeof(ShellLinkInfo);
    bool ok = true;
    for (char* t : texts) {
        ok = ok && t != nullptr;
        size += t != nullptr ? strlen(t) + 1 : 0;
    }
    ShellLinkInfo* record = ok ? static_cast<ShellLinkInfo*>(MemAlloc(size)) : nullptr;
    if (record != nullptr) {
        // The texts live behind the record in the same block; empty ones are null.
        char* at = reinterpret_cast<char*>(record + 1);
        char** fields[5] = {&record->targetPath, &record->workingDirectory, &record->arguments, &record->description,
                            &record->iconLocation};
        for (int i = 0; i < 5; i++) {
            size_t n = strlen(texts[i]);
            if (n != 0) {
                memcpy(at, texts[i], n + 1);
                *fields[i] = at;
                at += n + 1;
            }
        }
        if (record->targetPath == nullptr &&
            (FAILED(link->GetIDList(&record->targetIdList)) || record->targetIdList == nullptr)) {
            MemFree(record);
            record = nullptr;
        }
    }
    for (char* t : texts) {
        MemFree(t);
    }
    if (record == nullptr) {
        return 0;
    }
    int show = 1;
    record->showCommand = SUCCEEDED(link->GetShowCmd(&show)) ? show : 1;
    WORD hotkey = 0;
    record->hotkey = SUCCEEDED(link->GetHotkey(&hotkey)) ? hotkey : 0;
    record->iconIndex = iconIndex;
    if (record->iconIndex >= 0 && record->iconLocation == nullptr) {
        if (record->targetPath != nullptr) {
            record->iconLocation = record->targetPath;
        } else {
            record->iconIndex = -1;
        }
    }
    *info = record;
    return 1;
}

void ShellLinkInfoFree(ShellItem* item, ShellLinkInfo** info)
{
    IShellLinkA* link = LinkOf(item);
    if (link == nullptr || info == nullptr || *info == nullptr) {
        return;
    }
    if ((*info)->targetIdList != nullptr) {
        link->SetIDList((*info)->targetIdList);
        CoTaskMemFree((*info)->targetIdList);
    }
    MemFree(*info);
    *info = nullptr;
}

int ShellDeleteLink(ShellItem* item)
{
    IShellLinkA* link = LinkOf(item);
    if (link == nullptr || !(item->attributes & SFGAO_FILESYSTEM) || item->path == nullptr) {
        return 0;
    }
    // A link with a hotkey is saved without it first, so that the shell lets go of the key: only into a
    // folder the gate has checked and holds.
    GateResult checked = GateCheckFile(item->path);
    if (checked.outcome != GATE_DONE) {
        SetLastError(checked.outcome == GATE_FAILED ? checked.error : ERROR_ACCESS_DENIED);
        return 0;
    }
    WORD hotkey = 0;
    if (!PlanMode() && SUCCEEDED(link->GetHotkey(&hotkey)) && hotkey != 0) {
        link->SetHotkey(0);
        ComPtr<IPersistFile> file;
        HeapPtr<wchar_t> wide(AnsiToWide(item->path));
        if (wide && SUCCEEDED(link->QueryInterface(IID_IPersistFile, file.outVoid()))) {
            if (SUCCEEDED(file->Save(wide.get(), TRUE))) {
                file->SaveCompleted(wide.get());
            }
        }
    }
    GateResult deleted = GateDeleteFile(item->path, 0);
    for (int tries = 1; tries < HELD_FILE_TRIES && deleted.error == ERROR_SHARING_VIOLATION; tries++) {
        Sleep(HELD_FILE_PAUSE_MS); // another program reads the link at this moment
        deleted = GateDeleteFile(item->path, 0);
    }
    if (deleted.outcome != GATE_DONE) {
        SetLastError(deleted.outcome == GATE_FAILED ? deleted.error : ERROR_ACCESS_DENIED);
        return 0;
    }
    ShellItemFree(item);
    return 1;
}
