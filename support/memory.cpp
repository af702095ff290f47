#include "support/memory.h"

#include <string.h>

// Blocks larger than this are never asked for: no text or table of this program comes near it, and
// the limit keeps every size computation below free of overflow on the 32-bit build.
static const size_t MEM_LARGEST_BLOCK = 0x40000000;

void* MemAlloc(size_t size)
{
    if (size == 0 || size > MEM_LARGEST_BLOCK) {
        return nullptr;
    }
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
}

void MemFree(void* block)
{
    if (block != nullptr) {
        HeapFree(GetProcessHeap(), 0, block);
    }
}

char* MemCopyText(const char* text)
{
    if (text == nullptr) {
        return nullptr;
    }
    size_t length = strlen(text);
    char* copy = static_cast<char*>(MemAlloc((length + 4) & ~static_cast<size_t>(3)));
    if (copy != nullptr) {
        memcpy(copy, text, length);
    }
    return copy;
}

StringTable* StringTableAlloc(UINT32 rowCount, UINT32 width)
{
    // Each row holds width characters and a terminator, rounded to a multiple of four.
    size_t stride = (static_cast<size_t>(width) + 8) & ~static_cast<size_t>(3);
    size_t header = offsetof(StringTable, rows) + static_cast<size_t>(rowCount) * sizeof(char*);
    if (rowCount != 0 && stride > (MEM_LARGEST_BLOCK - header) / rowCount) {
        return nullptr;
    }
    size_t total = header + static_cast<size_t>(rowCount) * stride;
    if (total < sizeof(StringTable)) {
        total = sizeof(StringTable);
    }
    StringTable* table = static_cast<StringTable*>(MemAlloc(total));
    if (table == nullptr) {
        return nullptr;
    }
    table->rowCount = rowCount;
    char* row = reinterpret_cast<char*>(table) + header;
    for (UINT32 i = 0; i < rowCount; i++) {
        table->rows[i] = row;
        row += stride;
    }
    return table;
}

char* StringTableRow(const StringTable* table, UINT32 index)
{
    if (table == nullptr || index >= table->rowCount) {
        return nullptr;
    }
    return table->rows[index];
}

StringTable* SplitLines(const char* text, UINT32 length)
{
    if (text == nullptr) {
        return nullptr;
    }
    // First scan: the number of lines (CR bytes) and the longest line, an unterminated tail included.
    UINT32 lines = 0, width = 0, current = 0;
    for (UINT32 i = 0; i < length; i++) {
        char c = text[i];
        if (c == '\n') {
            continue;
        }
        if (c == '\r') {
            lines++;
            current = 0;
            continue;
        }
        current++;
        if (current > width) {
            width = current;
        }
    }
    if (width != 0) {
        width++; // room for the terminator
    }
    if (lines == 0 || width == 0) {
        return nullptr;
    }
    StringTable* table = StringTableAlloc(lines, width);
    if (table == nullptr) {
        return nullptr;
    }
    // Second scan: copy each line into its row; the tail after the last CR is dropped.
    UINT32 row = 0, used = 0;
    for (UINT32 i = 0; i < length && row < lines; i++) {
        char c = text[i];
        if (c == '\n') {
            continue;
        }
        if (c == '\r') {
            row++;
            used = 0;
            continue;
        }
        if (used < width) {
            table->rows[row][used++] = c;
        }
    }
    return table;
}
