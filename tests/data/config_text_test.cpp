#include "data/config_text.h"

#include "kit/testkit.h"

namespace {

// Opens a text held at the end of a guarded page, so a read past its length faults.
struct Text {
    explicit Text(const std::string& bytes, UINT32 cursor = 0) : guarded(bytes)
    {
        opened = ConfigTextOpen(guarded.data(), guarded.size(), 0, &ct) == 1;
        ct.cursor = cursor;
    }
    GuardedBytes guarded;
    ConfigText ct = {};
    bool opened = false;
};

std::string Show(const std::string& bytes)
{
    return testing::PrintToString(bytes);
}

const int NO = CONFIG_TEXT_NO_NUMBER;

} // namespace

TEST(ConfigTextTest, FindSectionMatchesWholeCaseSensitiveHeaders)
{
    struct Case {
        std::string text;
        const char* name;
        UINT32 origin;
        int expected;
    } const cases[] = {
        {"[CFG]KEY=VALUE", "CFG", 0, 5}, {"[ CFG]", "CFG", 0, -1},                         // no blank is skipped
        {"[cfg]", "CFG", 0, -1},         {"[CFGX]", "CFG", 0, -1}, {"[CF]", "CFG", 0, -1}, // ']' before the name ends
        {"[CFG]", "CFG", 0, 5},    // a header that ends the text is found
        {"[[CFG]", "CFG", 0, -1},  // the search goes on behind the byte that differed
        {"[C[CFG]", "CFG", 0, -1}, // ... even when a '[' differed
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Show(c.text) + " " + c.name);
        GuardedBytes bytes(c.text);
        ConfigText ct;
        ASSERT_EQ(ConfigTextOpen(bytes.data(), bytes.size(), c.origin, &ct), 1);
        ct.cursor = 1; // the cursor plays no part
        EXPECT_EQ(ConfigTextFindSection(&ct, c.name), c.expected);
        EXPECT_EQ(ct.cursor, 1u);
    }
    Text t("[A]");
    EXPECT_EQ(ConfigTextFindSection(&t.ct, nullptr), -1);
}

struct ReadCase {
    std::string text;
    UINT32 size;  // 0: length-only call with a null buffer
    int expected; // returned length, or -1 (or CONFIG_TEXT_NO_NUMBER)
    std::string token;
    UINT32 cursor; // cursor afterwards
};

TEST(ConfigTextTest, KeyReaderTakesTheLastRunBeforeTheEqualsSign)
{
    const ReadCase cases[] = {
        {"KEY=VALUE", 64, 3, "KEY", 4},
        {"KEY = VALUE", 64, 0, "", 5}, // a blank right before '=' leaves the key empty
        {std::string("\x80\x01K=V", 4), 64, 3, std::string("\x80\x01K", 3), 4},
        {"KEY", 64, -1, "", 0},       // the end comes before '='
        {"[SEC]K=V", 64, -1, "", 0},  // the next section
        {"ABCDEF=1", 4, 3, "ABC", 4}, // cut: reading goes on behind the first byte that did not fit
        {"KEY=V", 0, 3, "", 0},       // length only: the cursor stays
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(Show(c.text));
        Text t(c.text);
        ASSERT_TRUE(t.opened);
        GuardedBytes out(std::string(c.size, '\xbd'));
        char* buffer = c.size != 0 ? out.data() : nullptr;
        EXPECT_EQ(ConfigTextReadKey(&t.ct, buffer, c.size), c.expected);
        if (buffer != nullptr && c.expected >= 0) {
            EXPECT_EQ(std::string(buffer), c.token);
        }
        EXPECT_EQ(t.ct.cursor, c.cursor);
    }
}

TEST(ConfigTextTest, IntegerReaderSkipsSeparatorsAndGroups)
{
    const ReadCase cases[] = {
        {"1234", 0, 1234, "", 4},     {"  -42", 0, -42, "", 5},
        {" ,:\t\r\n9", 0, 9, "", 7},  {"268435455", 0, NO, "", 0}, // the limit
        {"4294967297", 0, NO, "", 0},                              // would wrap around to 1 in 32 bits
        {"/5", 0, NO, "", 0},         {"  /5", 0, NO, "", 2},      // the separators stay skipped
        {" ,:\t\r\n", 0, NO, "", 6},                               // the end while skipping
        {"  -x", 0, NO, "", 2},                                    // the cursor stays on the sign
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(Show(c.text));
        Text t(c.text);
        EXPECT_EQ(ConfigTextReadInteger(&t.ct), c.expected);
        EXPECT_EQ(t.ct.cursor, c.cursor);
    }
    Text end("12", 2);
    EXPECT_EQ(ConfigTextReadInteger(&end.ct), NO);
}

struct ValueCase {
    std::string text;
    UINT32 options;
    UINT32 size; // 0: length-only call
    int expected;
    std::string value;
    UINT32 cursor;
};

TEST(ConfigTextTest, ValueReaderHandlesQuotesEscapesAndPunctuation)
{
    const UINT32 E = CONFIG_TEXT_ESCAPES, P = CONFIG_TEXT_PUNCTUATION;
    const ValueCase cases[] = {
        {"C:\\App\\x.cfg", 0, 64, 1, "C", 1}, // ':' ends a plain value
        {"\"C:\\App\\x.cfg\"", 0, 64, 12, "C:\\App\\x.cfg", 14},
        {"a\\nb", E, 64, 3, "a\rb", 4},
        {"x\\", E, 64, 1, "x", 1},             // a backslash as the last byte
        {"\"a\\\"b\"", E, 64, 3, "a\"b", 6},   // an escaped quote stays
        {"\"a\"b c\"", 0, 64, 5, "a\"b c", 7}, // quoting is on again behind the inner quote
        {"\"abc", 0, 64, 3, "abc", 4},         // unterminated quote
        {")x", P, 64, 2, ")x", 2},
        {"/x", 0, 64, -1, "", 0},
        {"abcdef", 0, 4, 3, "abc", 3}, // cut at the buffer
        {"  \"a b\"", 0, 0, 3, "", 2}, // length only: only the separators pass
    };
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(Show(c.text) + " options " + std::to_string(c.options));
        Text t(c.text);
        GuardedBytes out(std::string(c.size, '\xbd'));
        char* buffer = c.size != 0 ? out.data() : nullptr;
        EXPECT_EQ(ConfigTextReadValue(&t.ct, buffer, c.size, c.options), c.expected);
        if (buffer != nullptr && c.expected >= 0) {
            EXPECT_EQ(std::string(buffer, static_cast<size_t>(c.expected) + 1), c.value + '\0');
        }
        EXPECT_EQ(t.ct.cursor, c.cursor);

        // The allocating reader gives the same value, or null when it is empty.
        if (c.size == 64) {
            Text again(c.text);
            char* value = ConfigTextReadValueAlloc(&again.ct, c.options);
            if (c.expected > 0) {
                ASSERT_NE(value, nullptr);
                EXPECT_EQ(std::string(value), c.value);
                EXPECT_EQ(again.ct.cursor, c.cursor);
                EXPECT_EQ(HeapSize(GetProcessHeap(), 0, value) % 4, 0u);
            } else {
                EXPECT_EQ(value, nullptr);
            }
            MemFree(value);
        }
    }
}

TEST(ConfigTextTest, BufferRulesAreTheSameForEveryReader)
{
    using Reader = int (*)(ConfigText*, char*, UINT32);
    const Reader readers[] = {ConfigTextReadKey, ConfigTextReadSwitch, [](ConfigText* ct, char* b, UINT32 n) {
                                  return ConfigTextReadValue(ct, b, n, CONFIG_TEXT_ESCAPES);
                              }};
    for (Reader read : readers) {
        // No buffer with a size, or a buffer of none: refused, the cursor stays.
        Text t("K=V /W \"quoted value\"");
        char buffer[8];
        EXPECT_EQ(read(&t.ct, nullptr, 5), -1);
        EXPECT_EQ(read(&t.ct, buffer, 0), -1);
        EXPECT_EQ(t.ct.cursor, 0u);
        // A buffer of one byte gets only the terminator, and nothing past it is touched.
        GuardedBytes one(std::string(1, '\xbd'));
        EXPECT_LE(read(&t.ct, one.data(), 1), 0);
        EXPECT_EQ(one.data()[0], '\0');
    }
    // A given buffer is zero-filled over its whole size, even when the read then fails.
    Text none("no key here");
    char buffer[8];
    memset(buffer, 0xbd, sizeof(buffer));
    EXPECT_EQ(ConfigTextReadKey(&none.ct, buffer, sizeof(buffer)), -1);
    EXPECT_EQ(std::string(buffer, sizeof(buffer)), std::string(sizeof(buffer), '\0'));
}
