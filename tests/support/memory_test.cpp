#include "kit/testkit.h"

TEST(MemoryTest, StringTableRowsAreZeroFilledAndSpacedByAMultipleOfFour)
{
    const UINT32 widths[] = {0, 1, 3, 4, 5, 31, 259};
    for (UINT32 width : widths) {
        SCOPED_TRACE(width);
        StringTable* table = StringTableAlloc(3, width);
        ASSERT_NE(table, nullptr);
        EXPECT_EQ(table->rowCount, 3u);
        size_t stride = static_cast<size_t>(StringTableRow(table, 1) - StringTableRow(table, 0));
        EXPECT_EQ(stride % 4, 0u);
        EXPECT_GE(stride, width + 5);
        EXPECT_EQ(StringTableRow(table, 2) - StringTableRow(table, 1), static_cast<ptrdiff_t>(stride));
        // Every row holds width characters and its terminator inside the block, all zero.
        for (UINT32 r = 0; r < 3; r++) {
            char* row = StringTableRow(table, r);
            for (UINT32 i = 0; i <= width; i++) {
                EXPECT_EQ(row[i], '\0');
            }
            memset(row, 'x', width);
        }
        EXPECT_GE(HeapSize(GetProcessHeap(), 0, table),
                  static_cast<SIZE_T>(StringTableRow(table, 2) + width + 1 - reinterpret_cast<char*>(table)));
        EXPECT_EQ(StringTableRow(table, 3), nullptr);
        MemFree(table);
    }
    // A size beyond anything the heap gives is refused, not wrapped around.
    EXPECT_EQ(StringTableAlloc(0xFFFFFFFFu, 0xFFFFFFF0u), nullptr);
}

struct SplitCase {
    const char* text;
    size_t length;
    bool table;
    UINT32 width; // the longest line plus its terminator (seen in the row spacing)
    std::vector<std::string> rows;
};

TEST(MemoryTest, SplitLinesMakesOneRowPerCarriageReturn)
{
    const SplitCase cases[] = {
        {"ab\r\ncde\r\n", 9, true, 4, {"ab", "cde"}},
        {"no line end", 11, false, 0, {}},
        {"x\r\ntail", 7, true, 5, {"x"}},  // the tail counts for the width, but is not stored
        {"\r\r", 2, false, 0, {}},         // lines, but all empty
        {"\n\na\n\rb", 6, true, 2, {"a"}}, // LF is ignored everywhere
        {"\r\rlong\r", 7, true, 5, {"", "", "long"}},
        {"a\0b\r", 4, true, 4, {std::string("a\0b", 3)}},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.text, c.length)));
        StringTable* table = SplitLines(c.text, static_cast<UINT32>(c.length));
        if (!c.table) {
            EXPECT_EQ(table, nullptr);
            continue;
        }
        ASSERT_NE(table, nullptr);
        ASSERT_EQ(table->rowCount, c.rows.size());
        if (c.rows.size() > 1) {
            EXPECT_EQ(static_cast<size_t>(StringTableRow(table, 1) - StringTableRow(table, 0)), (c.width + 8) & ~3u);
        }
        for (UINT32 r = 0; r < table->rowCount; r++) {
            EXPECT_EQ(std::string(StringTableRow(table, r), c.rows[r].size() + 1), c.rows[r] + std::string(1, '\0'));
        }
        MemFree(table);
    }
    EXPECT_EQ(SplitLines(nullptr, 5), nullptr);
}
