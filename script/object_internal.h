#pragma once
// Shared by the files of the object database; not for other modules.
#include "script/object_database.h"

// The object of a database that the caller holds locked, or null.
InstallObject* FindObjectIn(ObjectDatabase* d, ObjectId id);

// Replaces a heap text field with a copy of text (null or empty clears it). false when the copy
// could not be made; the field is then empty.
bool ReplaceObjectText(char** field, const char* text);

// Copies at most 31 characters into a name field.
void CopyObjectName(char* field, const char* text);
