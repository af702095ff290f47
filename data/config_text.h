#pragma once
// The one tokenizer of the command line, the configuration texts and the install script: a cursor over
// a caller-owned byte buffer (not zero-terminated, any byte allowed) with five readers. There is no
// line structure; each reader decides by a fixed table of byte classes what it skips, takes and stops
// at. Readers never read past length and never write past the buffer they are given.
//
// Buffer rules of the three readers that fill a buffer: a null buffer with size 0 asks only for the
// length the reader would deliver (the cursor does not pass the token); a null buffer with a size, or
// a buffer of size 0, fails. A given buffer is zero-filled over its whole size, receives at most
// size - 1 bytes and a terminator, and the cursor advances.
#include <windows.h>

struct ConfigText {
    UINT32 state;     // bit 0: opened
    const char* text; // not owned
    UINT32 length;
    UINT32 origin; // where section searches begin
    UINT32 cursor; // next byte to examine; callers may store a section offset here
};

const int CONFIG_TEXT_NO_NUMBER = 0x7FFFFFFF;

// Options of the value readers.
const UINT32 CONFIG_TEXT_ESCAPES = 0x1;     // backslash escapes, "\n" gives a carriage return
const UINT32 CONFIG_TEXT_PUNCTUATION = 0x2; // ( ) , : belong to an unquoted value

// 1, or 0 when text is null, length is 0 (or above 2 GiB) or ct is null.
int ConfigTextOpen(const char* text, UINT32 length, UINT32 origin, ConfigText* ct);

// Offset of the byte just behind the header "[name]", or -1. The cursor does not move.
int ConfigTextFindSection(const ConfigText* ct, const char* name);

// The key before the next '=' (only the last run of key bytes counts); -1 at a '[' or the end.
int ConfigTextReadKey(ConfigText* ct, char* buffer, UINT32 size);

// The word behind the next '/'; -1 when a ';' or '[' or the end comes first. The cursor is left on the
// byte that ended the word.
int ConfigTextReadSwitch(ConfigText* ct, char* buffer, UINT32 size);

// A signed decimal number, or CONFIG_TEXT_NO_NUMBER.
int ConfigTextReadInteger(ConfigText* ct);

// A value, plain or in double quotes; its length, or -1.
int ConfigTextReadValue(ConfigText* ct, char* buffer, UINT32 size, UINT32 options);

// A value as a new heap string (release with MemFree), or null when there is none.
char* ConfigTextReadValueAlloc(ConfigText* ct, UINT32 options);

// The next word of a list of values (the words of a "_flags" entry, a switch's arguments): true when
// one was read. A read that took nothing at all ends the list, so that a caller looping over the words
// is never asked again at the same place.
bool ConfigTextNextWord(ConfigText* ct, char* buffer, UINT32 size, UINT32 options);
