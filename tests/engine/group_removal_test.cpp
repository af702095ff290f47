// Program groups kept by Program Manager, removed through the executor with a stand-in that records
// every command: a group goes only when nothing is left in it that stays, or when it is forced.
#include "kit/database_kit.h"
#include "kit/progman_standin.h"
#include "script/groups.h"

TEST(GroupRemovalTest, ProgramManagerGroupsLoseTheItemsOfRemovedFilesAndGoWhenNothingStays)
{
    EngineScope engine;
    TestFolder folder;
    for (const char* name : {"a.exe", "b.exe", "keep.exe", "long file name.exe"}) {
        WriteFileBytes(folder / name, name);
    }
    char shortB[MAX_PATH] = {};
    GetShortPathNameA((folder / "long file name.exe").c_str(), shortB, sizeof(shortB));
    std::vector<StandInItem> items = {{"A", folder / "a.exe", "", ""},
                                      {"B", folder / "b.exe", "", ""},
                                      {"Short", shortB, "", ""},
                                      {"K", folder / "keep.exe", "", ""}};
    struct Row {
        const char* what;
        const char* groupSwitches;
        std::vector<StandInItem> items;
        std::vector<std::string> commands; // after the ShowGroup that makes the group current
        bool groupStays;
    } const rows[] = {
        {"an item of a file that stays keeps the group",
         "",
         items,
         {"[DeleteItem(\"A\")]", "[DeleteItem(\"B\")]", "[DeleteItem(\"Short\")]"},
         true},
        {"_KILLCHILDREN deletes every item, then the group",
         " /_KILLCHILDREN",
         items,
         {"[DeleteItem(\"A\")]", "[DeleteItem(\"B\")]", "[DeleteItem(\"Short\")]", "[DeleteItem(\"K\")]",
          "[DeleteGroup(\"Tools\")]"},
         false},
        {"an empty group goes at once", "", {}, {"[DeleteGroup(\"Tools\")]"}, false},
        {"an item without a command line keeps its group, and is not deleted",
         "",
         {{"A", folder / "a.exe", "", ""}, {"NoCommand", "", "", ""}},
         {"[DeleteItem(\"A\")]"},
         true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        for (const char* name : {"a.exe", "b.exe", "long file name.exe"}) {
            WriteFileBytes(folder / name, name);
        }
        ProgmanStandIn standIn;
        standIn.AddGroup("Tools", r.items);
        TestDatabase db;
        SetDatabaseFlags(db.handle(), DATABASE_PROGMAN_GROUPS, 1);
        ASSERT_EQ(db.Parse("_dir=APP /_TARGETPATH \"" + ScriptPath(folder.path()) +
                           "\";\r\n"
                           "_group=TOOLS /_PARENT STARTGROUPS /_TARGETPATH Tools /_REMOVABLE" +
                           r.groupSwitches +
                           ";\r\n"
                           "_file=A /_PARENT APP /_TARGETPATH a.exe /_REMOVABLE /_GROUP TOOLS A;\r\n"
                           "_file=B /_PARENT APP /_TARGETPATH b.exe /_REMOVABLE;\r\n"
                           "_file=LONG /_PARENT APP /_TARGETPATH \"long file name.exe\" /_REMOVABLE;\r\n"
                           "_file=KEEP /_PARENT APP /_TARGETPATH keep.exe;\r\n"),
                  1);
        EXPECT_GE(RemoveAll(db.handle()), 0); // a group that stays is no failure
        std::vector<std::string> commands = standIn.Commands();
        ASSERT_FALSE(commands.empty());
        EXPECT_EQ(commands.front(), "[ShowGroup(\"Tools\",0)]"); // shown before any item goes
        EXPECT_EQ(std::vector<std::string>(commands.begin() + 1, commands.end()), r.commands);
        EXPECT_EQ(standIn.HasGroup("Tools"), r.groupStays);
        EXPECT_FALSE(PathExists(folder / "a.exe"));
        EXPECT_TRUE(PathExists(folder / "keep.exe"));
    }
}

TEST(GroupRemovalTest, ProgramManagerGroupsAreFoundAndShownByName)
{
    EngineScope engine;
    ProgmanStandIn standIn;
    standIn.AddGroup("Present");
    TestDatabase db;
    SetDatabaseFlags(db.handle(), DATABASE_PROGMAN_GROUPS, 1);
    ASSERT_EQ(db.Parse("_group=P /_PARENT STARTGROUPS /_TARGETPATH Present;\r\n"
                       "_group=N /_PARENT STARTGROUPS /_TARGETPATH \"No Group\";\r\n"),
              1);
    EXPECT_EQ(ResolveGroup(db.Find("N"), 0, 1), 0); // not there, and only looked for
    EXPECT_EQ(ResolveGroup(db.Find("P"), 0, 1), 1); // there: found without a command
    EXPECT_TRUE(standIn.Commands().empty());
    EXPECT_EQ(SelectGroup(db.Find("P")), 0); // not found yet (flag 0x1 clear)
    EXPECT_EQ(ResolveGroup(db.Find("P"), 1, 1), 1);
    EXPECT_EQ(db.State().currentGroup, db.Find("P"));
    EXPECT_EQ(standIn.Commands(), std::vector<std::string>{"[ShowGroup(\"Present\",0)]"});
}

TEST(GroupRemovalTest, AGroupThatCannotBeKnownOrWouldLeadOutOfProgramManagerStays)
{
    // Items the reply does not list were never looked at; Program Manager keeps groups and items as
    // folders and files of its own, and a name that is a path would lead out of them. Such a group
    // stays, whatever its switches, and the run is incomplete.
    EngineScope engine;
    struct Row {
        const char* group;
        const char* reply; // null: the stand-in's own
        std::vector<StandInItem> items;
    } const rows[] = {
        {"Tools", "\"Tools\",T.GRP,3,1\r\n\"A\",\"C:\\a.exe\",,,1,1,0,0,0\r\n", {}}, // three counted, one listed
        {"Tools", "\"Tools\"\r\n", {}},                                              // no item count at all
        {"..\\Escape", nullptr, {{"..\\..\\Victim", "C:\\x.exe", "", ""}}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.group + std::string(" ") + (r.reply != nullptr ? r.reply : ""));
        ProgmanStandIn standIn;
        standIn.AddGroup(r.group, r.items);
        if (r.reply != nullptr) {
            standIn.SetReply(r.group, r.reply);
        }
        TestDatabase db;
        SetDatabaseFlags(db.handle(), DATABASE_PROGMAN_GROUPS, 1);
        ASSERT_EQ(db.Parse("_group=G /_PARENT STARTGROUPS /_TARGETPATH \"" + ScriptPath(r.group) +
                           "\" /_REMOVABLE /_KILLCHILDREN;\r\n"),
                  1);
        EXPECT_EQ(RemoveAll(db.handle()), -1);
        for (const std::string& command : standIn.Commands()) {
            EXPECT_EQ(command.find("Delete"), std::string::npos) << command;
        }
        EXPECT_TRUE(standIn.HasGroup(r.group));
    }
}
