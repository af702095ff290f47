#pragma once
// Program groups kept by Program Manager, reached as a DDE client of the "PROGMAN" service: the
// shell's command strings ("CreateGroup", "DeleteGroup", "DeleteItem", "ShowGroup") and its listings
// (the "Groups" request, and a group's description requested by the group's name). Every operation
// opens its own DDEML instance and conversation and closes them again; Program Manager's notion of
// the current group is the only state that lasts, which is why a group is shown before items are
// deleted from it. Nothing is retried: a server that does not answer within 20 seconds fails the call.
#include "support/memory.h"

#include <windows.h>

// Buffers for names and fields: 259 characters and a terminator.
const int PROGMAN_TEXT_SIZE = 260;

// 1 when Program Manager accepted the command text, else 0.
int ProgmanExecute(const char* command);

// The command operations: the result of ProgmanExecute, or 0 when the name cannot be quoted (260
// characters or more, 259 or more once the quotes are added, or a double quote inside the name).
int CreateProgmanGroup(const char* name);
int DeleteProgmanGroup(const char* name);
// Acts on the group Program Manager shows as current: show the group first.
int DeleteProgmanItem(const char* name);
int ShowProgmanGroup(const char* name, int showCommand);

// A group's description, split into rows at each carriage return (line feeds dropped; text after the
// last carriage return is no row): row 0 describes the group (its third field is the item count),
// row i + 1 item i. Null when the name is empty or Program Manager does not answer.
StringTable* RequestGroupInfo(const char* name);
// The names of Program Manager's groups, without their quotes; null when it does not answer.
StringTable* RequestProgmanGroups();

// 1 when a row of table equals name (quotes stripped), byte for byte.
int FindGroupName(const StringTable* table, const char* name);
// The item count of a group's description (field 2 of row 0), or -1.
int GetItemCount(const StringTable* table);

// The fields of item i of a group's description into a 260-byte buffer: 1 when the field is there
// and not empty (quotes stripped), else 0 with an empty buffer. Rows past the table are missing.
int GetItemName(char* buffer, const StringTable* table, int item);      // field 0
int GetItemCommand(char* buffer, const StringTable* table, int item);   // field 1: the command line
int GetItemDirectory(char* buffer, const StringTable* table, int item); // field 2
int GetItemIconPath(char* buffer, const StringTable* table, int item);  // field 3

// Text helpers of the replies and commands.
// Field n of a comma-separated line (behind n commas), or null when the line ends first or the field
// is empty.
const char* FieldAt(const char* line, int n);
// The decimal value of the characters up to the first ','.
int FieldNumber(const char* text);
// Copies up to 259 characters until ',' or the end into a 260-byte buffer and terminates it.
void CopyField(const char* source, char* buffer);
// Removes one double quote at the start and one at the end (texts of two characters or more), in
// place; the new length.
int StripQuotes(char* text);
// The name in double quotes into a 260-byte buffer: its new length, or 0 when it does not fit or
// holds a double quote anywhere but at its very start and end (which would end the name early and
// let the rest be read as further commands).
int QuoteName(char* buffer, const char* name);
