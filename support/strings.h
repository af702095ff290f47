#pragma once
// ANSI string and path primitives. The backslash is the only path separator; paths compare without
// regard to case, names and keywords byte for byte. None of these keep state.
#include <windows.h>
#include <stddef.h>

// Upper-cases text in place with the system's locale tables; returns text.
char* StrUpper(char* text);

// -1, 0 or 1, ignoring case, kana type and width. A null string sorts before any other.
int StrCompareNoCase(const char* a, const char* b);

// Copies the part of path behind its last backslash (all of it when there is none) into dest, which
// holds destSize bytes. Returns false, with dest empty, when the name does not fit.
bool PathCopyFileName(char* dest, size_t destSize, const char* path);

// Copies the directory of path with its trailing backslash ("C:\A\b.txt" gives "C:\A\"; a path without
// a backslash gives ""). dest may be path itself. Returns false, with dest empty, when it does not fit.
bool PathCopyDirectory(char* dest, size_t destSize, const char* path);

// Copies the root of path into dest, which holds destSize bytes: "C:\" for a drive path (the characters
// before the first ':' followed by ":\"), "\\server\share\" for a UNC path. False, with dest empty, for
// any other path, a UNC path with a ':' in its root, or a root that does not fit.
bool PathCopyRoot(char* dest, size_t destSize, const char* path);

// A new heap string: first (or, with dirOfFirst, its directory) and second joined by exactly one
// backslash. Null when both are null or empty, or when the heap refuses. Release with MemFree.
char* PathJoin(const char* first, const char* second, bool dirOfFirst);

// Text conversions between the ANSI code page and UTF-16 (the shell's and COM's texts): new heap
// texts, or null.
char* WideToAnsi(const wchar_t* text);
wchar_t* AnsiToWide(const char* text);

// Whether a file name matches a mask the way the system matches long names: '*' any run of characters,
// '?' any one, without regard to case; "*.*" matches every name, a mask ending in ".*" also the name
// without an extension, one ending in a lone "." only names without one.
bool NameMatchesMask(const char* name, const char* mask);

// Size of the buffer MakePathTag fills.
const size_t PATH_TAG_SIZE = 32;

// A short upper-case tag of at most 31 characters: the initials of the path's components, "_", then
// the last component ("C:\Program Files\App\main.exe" gives "CPAM_MAIN.EXE"). dest holds 32 bytes.
char* MakePathTag(char* dest, const char* path);
