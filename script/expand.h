#pragma once
// Expansion of object references inside texts: "OBJECTPATH", "OBJECTDIR", "OBJECTSOURCE",
// "OBJECTFILE" and "INFOSTR" followed by "SELF" or an object's name, and "WINDIR", "WINSYS",
// "PROGFILES". There is no table of variables: the objects of the database are the variables.
#include "script/object_database.h"

// Expands text in the context of an object (its database resolves names; it is "SELF"). size 0: a
// new heap text; positive: the capacity of the buffer holding text — a result that fits is written
// back and text returned, one that does not is a new heap text; negative: the capacity is -size and
// the result is cut to it and written back. Null when text is null, the object is not found or
// memory runs out. A reference that cannot be resolved stays in the text as written.
char* ExpandText(ObjectId context, char* text, int size);

// Expands the object's five texts in place when they may hold references.
void ExpandObjectTexts(ObjectId id);

// The Windows folder, the system folder and the program-files folder, each with a trailing
// backslash: the length written, or (no buffer, or one too small) the size needed; 0 on failure.
UINT32 GetWindowsDir(char* buffer, UINT32 size);
UINT32 GetSystemDir(char* buffer, UINT32 size);
UINT32 GetProgramFilesDir(char* buffer, UINT32 size);
