#pragma once
// The shell namespace: special folders, paths resolved into shell items, folder enumeration, creation
// of missing folders, and shell links. A ShellItem carries its own shell allocator, its bound folder
// (for folders), its absolute ID list, its attributes and names. Deletions go through the deletion gate
// (system/deletion_gate.h), which judges paths as the file system sees them.
//
// The constructors and ShellListLinks join COM for their own duration; the other operations expect COM
// to be joined on the calling thread. Every operation that fills an out item
// zero-fills it first and empties it again when it fails, so callers free only what succeeded.
#include <windows.h>
#include <shlobj.h>

// The program's own numbers for special folders.
enum ShellFolderCode : UINT32 {
    SHELL_COMMON_DESKTOP = 1,
    SHELL_USER_DESKTOP = 2,
    SHELL_COMMON_PROGRAMS = 3,
    SHELL_USER_PROGRAMS = 4,
    SHELL_COMMON_STARTMENU = 5,
    SHELL_USER_STARTMENU = 6,
    SHELL_COMMON_STARTUP = 7,
    SHELL_USER_STARTUP = 8,
    SHELL_CONTROLS = 9,
    SHELL_NETHOOD = 20,
};

// Attributes asked of every item.
const ULONG SHELL_ATTRIBUTE_MASK = 0x760F0177;

struct ShellItem {
    IMalloc* allocator;   // the shell's task allocator; the ID list is allocated with it
    IShellFolder* folder; // bound folder, for folder items
    LPITEMIDLIST idList;  // absolute (from the desktop)
    ULONG attributes;     // SFGAO_ bits
    UINT32 folderCode;    // special folder the item was reached from, 0 when none
    char* displayName;    // SHGDN_NORMAL
    char* inFolderName;   // SHGDN_INFOLDER
    char* path;           // SHGDN_FORPARSING: the file-system path
    IUnknown* link;       // shell link loaded by ShellListLinks
    IID linkIid;          // IID_IShellLinkA for a loaded link
    DWORD enumFlags;      // SHCONTF_ flags of the open enumerator
    IEnumIDList* enumerator;
};

// A folder and its children, in one heap block.
struct ShellItemList {
    UINT32 count;
    UINT32 unreadable; // shortcut files that another program held through every try to read them
    DWORD enumFlags;
    ShellItem folder;
    ShellItem** children; // count pointers to the records behind them
};

struct ShellLinkInfo {
    char* targetPath;          // null when empty
    LPITEMIDLIST targetIdList; // fetched only when the target path is empty
    char* description;
    char* iconLocation;
    int iconIndex;
    WORD hotkey;
    int showCommand;
    char* workingDirectory;
    char* arguments;
};

int ShellItemFromSpecialFolder(ShellItem* item, UINT32 code);
int ShellItemFromIdList(ShellItem* item, const ShellItem* source, LPCITEMIDLIST idList);
int ShellItemFromPath(ShellItem* item, const ShellItem* base, const char* path);
int ShellItemChildByName(const ShellItem* folder, const char* name, ShellItem* item);
int ShellItemNextChild(ShellItem* folder, ShellItem* item);
int ShellItemParent(const ShellItem* item, ShellItem* parent);
void ShellItemFree(ShellItem* item);
// A heap copy of the absolute ID list and its terminator (release with MemFree), or null.
LPITEMIDLIST ShellItemCopyIdList(const ShellItem* item);
// A heap copy of a special folder's absolute ID list (release with MemFree), or null; resolved once
// in a process.
LPITEMIDLIST ShellSpecialFolderIdList(UINT32 code);
int ShellItemIsUnder(UINT32 code, const ShellItem* item);

int ShellItemBeginEnum(ShellItem* folder, DWORD flags, int reuse);
int ShellItemCountChildren(ShellItem* folder, UINT32* count);
void ShellItemEndEnum(ShellItem* folder);
int ShellListChildren(ShellItem* folder, DWORD flags, ShellItemList** list);
void ShellListFree(ShellItemList* list);

// Creates the folders of relPath below folder that are missing; out receives the deepest one, or with
// rest given the first one, rest then pointing at the remaining path.
int ShellCreatePath(const ShellItem* folder, const char* relPath, ShellItem* out, const char** rest);

// Extracts the root of path ("C:\", "\\server\share\") into dest (MAX_PATH bytes); 1 when it exists.
int PathRootExists(char* dest, const char* path);
// 1 when path exists or, without checkOnly, could be created.
int PathEnsure(const char* path, int checkOnly);

// Lists the links among a folder's children: each non-folder child is loaded as a shell link; those
// that are no links are left out. Folders stay in the list.
int ShellListLinks(ShellItem* folder, DWORD flags, ShellItemList** list);
int ShellLinkReadInfo(ShellItem* link, ShellLinkInfo** info);
void ShellLinkInfoFree(ShellItem* link, ShellLinkInfo** info);
// Clears the link's hotkey and deletes the link file through the deletion gate; 1 when it went (the item
// is then freed). A refusal or failure leaves its reason in the last error (ERROR_ACCESS_DENIED for a
// refusal).
int ShellDeleteLink(ShellItem* link);
