#pragma once
// Heap convention of the whole program: every dynamic block that crosses a module border comes from
// the process's default heap, zero-filled, and is released with MemFree. Text blocks are sized for the
// text, its terminator and any separator that may be added, rounded to a multiple of four.
#include <windows.h>
#include <stddef.h>

// A zero-filled block of the process heap, or null when the heap refuses (or size is absurd).
void* MemAlloc(size_t size);

// Releases a block from MemAlloc (or any process-heap block); null is ignored.
void MemFree(void* block);

// A new heap copy of text (null for null text or when the heap refuses).
char* MemCopyText(const char* text);

// One heap block holding rowCount text rows of equal capacity: the row count, the row index, then
// the zero-filled rows. Released whole with MemFree.
struct StringTable {
    UINT32 rowCount;
    char* rows[1]; // rowCount entries; use StringTableRow
};

// A table of n rows that each hold width characters and a terminator; null when the heap refuses.
StringTable* StringTableAlloc(UINT32 rowCount, UINT32 width);

// Row i of the table, or null when i is out of range.
char* StringTableRow(const StringTable* table, UINT32 index);

// Splits a reply made of CR-terminated lines (LF ignored) into a table; bytes after the last CR are
// not stored. Null when there is no CR, every line is empty, or the heap refuses.
StringTable* SplitLines(const char* text, UINT32 length);
