#include "support/strings.h"
#include "support/report.h"
#include "kit/testkit.h"

TEST(StringsTest, CompareNoCaseOrdersNullFirstAndIgnoresCase)
{
    struct Case {
        const char* a;
        const char* b;
        int expected;
    } const cases[] = {
        {nullptr, nullptr, 0}, {nullptr, "", -1},           {"abc", "ABC", 0},
        {"abc", "abd", -1},    {"\xe4pfel", "\xc4PFEL", 0}, // a-umlaut in the ANSI code page
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a ? c.a : "(null)") + " / " + (c.b ? c.b : "(null)"));
        EXPECT_EQ(StrCompareNoCase(c.a, c.b), c.expected);
    }
}

TEST(StringsTest, FileNameAndDirectoryOfAPath)
{
    struct Case {
        const char* path;
        const char* name;
        const char* directory;
    } const cases[] = {
        {"C:\\A\\b.txt", "b.txt", "C:\\A\\"},
        {"C:\\", "", "C:\\"},
        {"a/b", "a/b", ""}, // the backslash is the only separator
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        char buffer[64];
        memset(buffer, 0xbd, sizeof(buffer));
        EXPECT_TRUE(PathCopyFileName(buffer, sizeof(buffer), c.path));
        EXPECT_STREQ(buffer, c.name);
        memset(buffer, 0xbd, sizeof(buffer));
        EXPECT_TRUE(PathCopyDirectory(buffer, sizeof(buffer), c.path));
        EXPECT_STREQ(buffer, c.directory);
        // In place: the directory of a path written over the path itself.
        char same[64];
        strcpy(same, c.path);
        EXPECT_TRUE(PathCopyDirectory(same, sizeof(same), same));
        EXPECT_STREQ(same, c.directory);
    }
}

TEST(StringsTest, CopiesThatDoNotFitWriteNothingPastTheBuffer)
{
    char buffer[8];
    memset(buffer, 0xbd, sizeof(buffer));
    EXPECT_FALSE(PathCopyFileName(buffer, 6, "C:\\A\\longname.txt"));
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(static_cast<unsigned char>(buffer[6]), 0xbd);
    EXPECT_TRUE(PathCopyFileName(buffer, 6, "C:\\A\\12345"));
    EXPECT_STREQ(buffer, "12345");

    memset(buffer, 0xbd, sizeof(buffer));
    EXPECT_FALSE(PathCopyDirectory(buffer, 6, "C:\\Long\\x"));
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(static_cast<unsigned char>(buffer[6]), 0xbd);
    EXPECT_FALSE(PathCopyDirectory(buffer, 6, "C:\\Ab\\x")); // six characters and the terminator
    EXPECT_TRUE(PathCopyDirectory(buffer, 6, "C:\\A\\x"));
    EXPECT_STREQ(buffer, "C:\\A\\");
    EXPECT_FALSE(PathCopyFileName(nullptr, 0, "x"));
    EXPECT_FALSE(PathCopyDirectory(buffer, 0, "x"));
}

TEST(StringsTest, JoinMeetsAtExactlyOneBackslash)
{
    struct Case {
        const char* first;
        const char* second;
        bool dirOfFirst;
        const char* expected; // null: no string
    } const cases[] = {
        {"C:\\A\\", "\\b", false, "C:\\A\\b"},
        {"C:\\A\\x.exe", "y.dll", true, "C:\\A\\y.dll"},
        {nullptr, "b", false, "b"},
        {"C:\\A", nullptr, false, "C:\\A\\"},
        {"abc", nullptr, false, "abc\\"}, // four characters and the terminator: a block of eight
        {"", "", false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.first ? c.first : "(null)") + " + " + (c.second ? c.second : "(null)"));
        char* joined = PathJoin(c.first, c.second, c.dirOfFirst);
        if (c.expected == nullptr) {
            EXPECT_EQ(joined, nullptr);
            continue;
        }
        ASSERT_NE(joined, nullptr);
        EXPECT_STREQ(joined, c.expected);
        EXPECT_EQ(HeapSize(GetProcessHeap(), 0, joined) % 4, 0u);
        EXPECT_GT(HeapSize(GetProcessHeap(), 0, joined), strlen(joined));
        MemFree(joined);
    }
}

TEST(StringsTest, PathTagTakesInitialsAndTheLastComponent)
{
    struct Case {
        const char* path;
        const char* tag;
    } const cases[] = {
        {"C:\\Program Files\\App\\main.exe", "CPAM_MAIN.EXE"},
        {"C:\\a\\b\\c\\d\\e\\f\\g\\h\\i\\j\\k\\l\\m\\n\\o\\p\\q\\r\\s\\t\\u\\v\\w\\x\\y\\z\\0\\1\\2\\3\\4\\5\\x.y",
         "CABCDEFGHIJKLMNOPQRSTUVWXYZ0123"},
        {"C:\\Apps\\a_very_long_file_name_that_goes_on.dll", "CAA_A_VERY_LONG_FILE_NAME_THAT_"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        char tag[PATH_TAG_SIZE + 8];
        memset(tag, 0xbd, sizeof(tag));
        EXPECT_EQ(MakePathTag(tag, c.path), tag);
        EXPECT_STREQ(tag, c.tag);
        EXPECT_LE(strlen(tag), PATH_TAG_SIZE - 1);
        for (size_t i = PATH_TAG_SIZE; i < sizeof(tag); i++) {
            EXPECT_EQ(static_cast<unsigned char>(tag[i]), 0xbd);
        }
    }
}

TEST(StringsTest, AReportLineIsOneLineWhateverItsTextHolds)
{
    TestFolder folder;
    std::string path = folder / "report.log";
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ReportAttach(file);
    ReportLine("%s", "a\tb\x1b[2Jc\rd\ne\x7f\x01");
    ReportLine("%s", std::string(5000, 'x').c_str()); // cut at its limit, still one line
    ReportClose();
    std::string text = ReadFileBytes(path);
    EXPECT_EQ(text.substr(0, text.find("\r\n") + 2), "a^Ib^[[2Jc^Md^Je^?^A\r\n");
    EXPECT_EQ(text.size(), text.find("\r\n") + 2 + 4096 + 2);
}
