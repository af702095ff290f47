#pragma once
// The scanner behind the expansion of object references inside texts: it finds the reference keywords
// "OBJECTPATH", "OBJECTDIR", "OBJECTSOURCE", "OBJECTFILE" and "INFOSTR" (each followed by "SELF" or an
// object's name) and "WINDIR", "WINSYS", "PROGFILES", and joins what they stand for into the text.
// What a reference to an object stands for (its path, folder, file name, contents) is decided by the
// resolver the caller hands in, so that the object texts, which expand references while they build
// paths, sit above the scanner and not beside it. ExpandText (script/object_text.h) is the entry.
#include "script/object_database.h"

// The reference keywords that name an object.
enum ReferenceKeyword {
    REFERENCE_PATH,   // "OBJECTPATH": the object's full path
    REFERENCE_DIR,    // "OBJECTDIR": the folder or key that holds it (containers: themselves)
    REFERENCE_SOURCE, // "OBJECTSOURCE": a file's source path
    REFERENCE_FILE,   // "OBJECTFILE": its own path text
    REFERENCE_INFO,   // "INFOSTR": its contents text, expanded
};

// What a reference stands for: a heap text (null: the reference stays as written) and whether it joins
// what precedes it, and what follows it, as a path part.
struct Replacement {
    char* text;
    bool joinsBefore;
    bool joinsAfter;
};

// Resolves a reference to target (an object of the context's database, which the caller holds).
typedef Replacement (*ReferenceResolver)(ReferenceKeyword keyword, InstallObject* target);

// Expands text in the context of an object (its database resolves names; it is "SELF"). size 0: a
// new heap text; positive: the capacity of the buffer holding text — a result that fits is written
// back and text returned, one that does not is a new heap text; negative: the capacity is -size and
// the result is cut to it and written back. Null when text is null, the object is not found or
// memory runs out. A reference that cannot be resolved stays in the text as written.
char* ExpandReferences(ObjectId context, char* text, int size, ReferenceResolver resolve);

// Appends a backslash to a heap text that lacks one (an empty text stays empty); frees the text it
// replaces. Null stays null.
char* WithTrailingBackslash(char* text);

// The Windows folder, the system folder and the program-files folder, each with a trailing
// backslash: the length written, or (no buffer, or one too small) the size needed; 0 on failure.
UINT32 GetWindowsDir(char* buffer, UINT32 size);
UINT32 GetSystemDir(char* buffer, UINT32 size);
UINT32 GetProgramFilesDir(char* buffer, UINT32 size);
