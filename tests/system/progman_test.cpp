// The Program Manager client: its texts, its commands and requests against a stand-in that records
// them byte for byte, the replies of another process read within their bounds, a server that refuses
// or does not answer, and Wine's own Program Manager as the real peer of the commands.
#include "system/progman.h"

#include "kit/progman_standin.h"
#include "kit/testkit.h"

namespace {

std::string Quote(const std::string& name)
{
    char buffer[PROGMAN_TEXT_SIZE + 8];
    memset(buffer, 0xbd, sizeof(buffer)); // a terminator that is missing shows
    int n = QuoteName(buffer, name.c_str());
    return n == 0 ? "(refused)" : std::string(buffer, static_cast<size_t>(n));
}

std::vector<std::string> Rows(const StringTable* table)
{
    std::vector<std::string> rows;
    for (UINT32 i = 0; table != nullptr && i < table->rowCount; i++) {
        rows.push_back(StringTableRow(table, i));
    }
    return rows;
}

} // namespace

TEST(ProgmanTest, NamesAreQuotedWithinTheirLimitsOrRefused)
{
    const std::string long258(258, 'a');
    struct Row {
        std::string name, quoted;
    } const rows[] = {
        {"\"My Group\"", "\"My Group\""},                             // already quoted: sent as it is
        {"\"My Group", "\"My Group\""},                               // a closing quote is added
        {std::string(257, 'b'), "\"" + std::string(257, 'b') + "\""}, // 259 characters with the quotes
        {long258, "(refused)"},                                       // 260: one too many
        {"Bad\"),[DeleteGroup(\"Other", "(refused)"}, // a quote inside would end the name and start a command
        {"", "(refused)"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(Quote(r.name), r.quoted);
    }
}

TEST(ProgmanTest, RepliesAreReadFieldByFieldWithinTheirBounds)
{
    struct Strip {
        const char* text;
        const char* stripped;
    } const strips[] = {{"\"a\"", "a"}, {"\"a", "a"}, {"a\"", "a"}, {"\"", "\""}, {"\"\"", "\""}, {"ab", "ab"}};
    for (const Strip& s : strips) {
        char text[16];
        strcpy(text, s.text);
        EXPECT_EQ(StripQuotes(text), static_cast<int>(strlen(s.stripped))) << s.text;
        EXPECT_STREQ(text, s.stripped);
    }
    EXPECT_STREQ(FieldAt("a,b,c", 2), "c");
    EXPECT_EQ(FieldAt("a,b", 2), nullptr);  // the line ends first
    EXPECT_EQ(FieldAt("a,,c", 1), nullptr); // an empty field
    char field[PROGMAN_TEXT_SIZE + 8];
    memset(field, 0xbd, sizeof(field));
    CopyField((std::string(300, 'x') + ",y").c_str(), field);
    EXPECT_EQ(strlen(field), 259u); // a 300-character field is cut, and terminated
    // A description of five items with two rows: the missing ones are missing, nothing is read past.
    std::string reply = "\"G\",G.GRP,5\r\n\"One\",\"C:\\one.exe\",C:\\,C:\\one.ico,1,1,3,0,0\r\n\"Two\",,,,\r\n";
    HeapPtr<StringTable> table(SplitLines(reply.data(), static_cast<UINT32>(reply.size())));
    EXPECT_EQ(GetItemCount(table.get()), 5);
    char text[PROGMAN_TEXT_SIZE];
    EXPECT_EQ(GetItemName(text, table.get(), 0), 1);
    EXPECT_STREQ(text, "One");
    EXPECT_EQ(GetItemCommand(text, table.get(), 0), 1);
    EXPECT_STREQ(text, "C:\\one.exe");
    EXPECT_EQ(GetItemCommand(text, table.get(), 1), 0); // an empty command line is no command line
    EXPECT_EQ(GetItemName(text, table.get(), 4), 0);    // the count says five, the rows end at two
}

TEST(ProgmanTest, CommandsAndRequestsReachTheStandInExactly)
{
    ProgmanStandIn standIn;
    standIn.AddGroup("Tools", {{"Main", "C:\\App\\main.exe", "C:\\App", "C:\\App\\main.exe"}});
    EXPECT_EQ(CreateProgmanGroup("New (x86)"), 1);
    EXPECT_EQ(ShowProgmanGroup("Tools", 0), 1);
    EXPECT_EQ(DeleteProgmanItem("Main"), 1);
    EXPECT_EQ(DeleteProgmanGroup("\"Tools\""), 1);
    EXPECT_EQ(DeleteProgmanGroup("Bad\"Name"), 0); // refused before any call
    std::vector<std::string> sent = {"[CreateGroup(\"New (x86)\")]", "[ShowGroup(\"Tools\",0)]",
                                     "[DeleteItem(\"Main\")]", "[DeleteGroup(\"Tools\")]"};
    EXPECT_EQ(standIn.Commands(), sent);
    EXPECT_FALSE(standIn.HasGroup("Tools"));

    standIn.QuoteGroupNames(true);
    HeapPtr<StringTable> groups(RequestProgmanGroups());
    EXPECT_EQ(Rows(groups.get()), std::vector<std::string>{"New (x86)"}); // quotes stripped
    EXPECT_EQ(FindGroupName(groups.get(), "\"New (x86)\""), 1);

    // Malformed replies: no final CR loses the last line; a reply without any CR is no table.
    standIn.SetReply("Odd", "\"Odd\",O.GRP,2\r\n\"A\",\"C:\\a.exe\"\r\n\"B\",\"C:\\b.exe\"");
    HeapPtr<StringTable> odd(RequestGroupInfo("Odd"));
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->rowCount, 2u);
    standIn.SetReply("None", "no line end at all");
    EXPECT_FALSE(HeapPtr<StringTable>(RequestGroupInfo("None")));
}

TEST(ProgmanTest, ARefusedConversationCarriesNothingAndASilentServerFailsTheCall)
{
    ProgmanStandIn standIn;
    standIn.AddGroup("Tools");
    // A refused conversation carries nothing to the stand-in (Wine's own server answers instead).
    standIn.RefuseConversations(true);
    ShowProgmanGroup("Tools", 0);
    EXPECT_TRUE(standIn.Commands().empty());
    standIn.RefuseConversations(false);
    standIn.StopAnswering(true);
    EXPECT_EQ(ShowProgmanGroup("Tools", 0), 0); // at its time-out
}

TEST(ProgmanTest, WinesProgramManagerCarriesTheCommandsOut)
{
    std::string name = "UninstPm" + std::to_string(GetCurrentProcessId());
    std::string folder = SpecialFolder(CSIDL_PROGRAMS) + name;
    ASSERT_EQ(CreateProgmanGroup(name.c_str()), 1);
    EXPECT_TRUE(PathExists(folder));
    HeapPtr<StringTable> groups(RequestProgmanGroups());
    EXPECT_EQ(FindGroupName(groups.get(), name.c_str()), 1);
    EXPECT_EQ(ShowProgmanGroup(name.c_str(), 0), 1);
    EXPECT_EQ(DeleteProgmanGroup(name.c_str()), 1);
    EXPECT_FALSE(PathExists(folder));
}
