#pragma once
// Removing program groups and the items files placed in them: a group goes only when everything left
// in it belongs to files that are being removed, or when its removal is forced.
#include "script/object_database.h"
#include "system/deletion_gate.h"
#include "system/progman.h"

// The properties of a group item (Program Manager's fields, or a link's).
struct GroupItemInfo {
    char name[PROGMAN_TEXT_SIZE];
    char command[PROGMAN_TEXT_SIZE];
    char directory[PROGMAN_TEXT_SIZE];
    char iconPath[PROGMAN_TEXT_SIZE];
    int iconIndex;
    UINT32 hotkey;
    int showMinimised;
};

// Why a group stays, beyond what it still holds.
struct GroupKept {
    GateVerdict refused = GATE_ALLOWED; // the deletion gate would not delete its folder or name
    bool unlisted = false;              // Program Manager listed fewer items than it counts (or no count)
};

// 1 when the group was removed (or there was nothing to do), 0 when it stays; *why (when given) tells
// whether it stays for a reason of its own.
int RemoveGroup(ObjectId id, int force, GroupKept* why = nullptr);

// Removes the items of a file's group ("_GROUP") that point at the file: the number removed, -1 when
// the group or its item list cannot be had, -2 when a deletion failed. With itemInfo the last matching
// item's properties are filled in; with keepItems nothing is deleted.
int RemoveGroupItems(ObjectId id, GroupItemInfo* itemInfo, int keepItems);

// While a pass runs, each group's folder is listed and its links read once for all its files' items;
// the pass ends with what it read let go.
void BeginGroupItemsPass();
void EndGroupItemsPass();

// 1 when a group item's command line or link target is the file's: the same full or short path,
// without regard to case.
int ItemBelongsToFile(const char* itemPath, const char* filePath, const char* fileShortPath);
