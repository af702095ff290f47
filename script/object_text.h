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

// Hands length bytes of text to the caller by the buffer convention above.
char* DeliverObjectText(const char* text, size_t length, char* buffer, int size);
