#include "kit/testkit.h"

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
