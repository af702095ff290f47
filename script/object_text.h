#pragma once
// Texts of objects handed to callers. Every accessor takes a buffer and a size with one convention:
// size 0 (or no buffer) returns a new heap text; a positive size is the buffer's capacity, and a text
// that fits is copied into it and the buffer returned, while one that does not fit comes back as a new
// heap text with the buffer left empty; a negative size is a capacity of -size, and the text is cut to
// it. A buffer given with a non-zero size is emptied before any work. Null when the object is not found
// or memory runs out. Release heap texts with FreeObjectText.
#include "script/object_database.h"

// The object's own text: its target path when it has one and a parent or a root path, otherwise its
// name; for a file only the part behind the last backslash. With trim, one leading and one trailing
// backslash are removed.
char* GetObjectLeafName(ObjectId id, int trim, char* buffer, int size);

void FreeObjectText(char* text);

// Path modes of GetObjectPath.
const UINT32 PATH_TRIM = 0x1;              // no leading or trailing backslashes (registry items keep theirs)
const UINT32 PATH_CONTAINER = 0x2;         // ends in a backslash, unless it ends in a file or item's own part
const UINT32 PATH_BELOW_BUILTIN = 0x10000; // without the parts of built-in ancestors
const UINT32 PATH_BUILTIN_ONLY = 0x20000;  // without the parts of ancestors that are not built-in
const UINT32 PATH_FOLDER = 0x40000;        // without the object's own part: the folder or key holding it

// The object's path, built from its own part and its parents' up to a root path. Null when the chain
// does not end in a root path.
char* GetObjectPath(ObjectId id, UINT32 mode, char* buffer, int size);
char* GetObjectPathInto(ObjectId id, char* buffer, int size);
// Where the file lies on disk: a system library goes by its system-library name in its folder.
char* GetObjectDiskPath(ObjectId id, char* buffer, int size);
// A file's source: with withFile the full path of the source file, else its folder with a backslash.
char* GetObjectSourcePath(ObjectId id, int withFile, char* buffer, int size);
// The object's contents, register and unregister texts, expanded; null when it has none.
char* GetObjectContentsText(ObjectId id, char* buffer, int size);
char* GetObjectRegisterText(ObjectId id, char* buffer, int size);
char* GetObjectUnregisterText(ObjectId id, char* buffer, int size);

// Expands the object references in text ("OBJECTPATH SELF", "(OBJECTDIR MAIN)readme.txt", "WINDIR",
// "INFOSTR TITLE", ...) in the context of an object: its database resolves names and it is "SELF".
// size 0: a new heap text; positive: the capacity of the buffer holding text — a result that fits is
// written back and text returned, one that does not is a new heap text; negative: the capacity is
// -size and the result is cut to it and written back. Null when text is null, the object is not
// found or memory runs out. A reference that cannot be resolved stays in the text as written.
char* ExpandText(ObjectId context, char* text, int size);

// Expands the object's five stored texts in place when they may still hold references.
void ExpandObjectTexts(ObjectId id);
