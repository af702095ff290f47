#pragma once
// Shared by the files of the object database; not for other modules.
#include "script/object_database.h"

struct ObjectDatabase {
    DatabaseHandle handle;
    UINT32 flags;
    char name[OBJECT_NAME_SIZE];
    ObjectId currentGroup;
    ObjectId sharingKey;
    UINT32 sharingMode;
    ProgressCallback callback;
    INT32 currentSource; // -1 while the source list is empty
    UINT32 sourceCount;
    UINT32 sourceCapacity;
    char** sources;
    ListHandle objects; // named by object name, keyed by id, value = the record
    DWORD ownerThread;
    UINT32 lockCount;
};

struct InstallObject {
    ObjectId id;
    UINT32 flags;
    UINT32 state;
    char name[OBJECT_NAME_SIZE];
    char sysLibName[OBJECT_NAME_SIZE];
    char shareKey[OBJECT_NAME_SIZE];
    INT32 sourceIndex;
    char* source;
    char* targetPath;
    UINT32 folderId;
    char* contents;
    UINT_PTR handle; // registry key, or a group's item ID list copy
    char itemName[OBJECT_NAME_SIZE];
    char groupName[OBJECT_NAME_SIZE];
    char iconName[OBJECT_NAME_SIZE];
    INT32 iconIndex;
    char* registerText;
    char* unregisterText;
    ListHandle children; // keyed and valued by id
    ListHandle friends;  // FriendExtension records named by their extension
    DatabaseHandle database;
    ObjectId parent;
};

// The object of a database that the caller holds locked, or null.
InstallObject* FindObjectIn(ObjectDatabase* d, ObjectId id);

// Replaces a heap text field with a copy of text (null or empty clears it). false when the copy
// could not be made; the field is then empty.
bool ReplaceObjectText(char** field, const char* text);

// Copies at most 31 characters into a name field.
void CopyObjectName(char* field, const char* text);
