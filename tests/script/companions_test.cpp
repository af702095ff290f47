#include "engine/executor.h"
#include "kit/database_kit.h"
#include "script/companions.h"
#include "script/object_text.h"

TEST(CompanionsTest, FriendExtensionsBecomeObjectsOfTheirOwn)
{
    EngineScope engine;
    TestDatabase db;
    ASSERT_EQ(db.Parse("_dir=APPDIR /_TARGETPATH \"C:\\\\App\";"
                       "_file=HELPFILE /_PARENT APPDIR /_TARGETPATH help.hlp /_SOURCE \"disk1\\\\help.hlp\" "
                       "/_FRIENDEXT GID _DEL /_FRIENDEXT CNT /_FRIENDEXT FTS _NEIGH /_REGISTER \"/r\" /_SHARED KEY;"),
              1);
    ObjectId help = db.Find("HELPFILE");
    EXPECT_EQ(CreateFriendObjects(help, static_cast<UINT32>(-1), 0), 1);

    InstallObject del = db.Get("HELPFILE_DEL.GID");
    EXPECT_EQ(ObjectPathText(del.id), "C:\\App\\help.GID");
    EXPECT_EQ(del.flags & (OBJECT_DELETE | OBJECT_EXTENDED | OBJECT_SHARED | MARK_SELECTED),
              OBJECT_DELETE | OBJECT_EXTENDED);

    InstallObject sat = db.Get("HELPFILE_SAT.CNT");
    EXPECT_EQ(ObjectPathText(sat.id), "C:\\App\\help.CNT");
    EXPECT_TRUE(sat.flags & OBJECT_NONINSTALLABLE);
    EXPECT_STREQ(sat.shareKey, "KEY");
    EXPECT_EQ(sat.registerText, nullptr); // a non-installable satellite takes no commands

    InstallObject neigh = db.Get("HELPFILE_SAT.FTS");
    EXPECT_FALSE(neigh.flags & OBJECT_NONINSTALLABLE);
    EXPECT_STREQ(neigh.registerText, "/r");

    // Every record was handled: the list is gone.
    EXPECT_FALSE(db.Get("HELPFILE").state & STATE_HAS_FRIENDS);
    EXPECT_EQ(CreateFriendObjects(help, static_cast<UINT32>(-1), 0), -1);
}

TEST(CompanionsTest, AMaskBecomesOneObjectPerMatchingFile)
{
    EngineScope engine;
    TestFolder folder;
    for (const char* name : {"a.txt", "b.txt", "LongFileName.txt", "other.dat"}) {
        WriteFileBytes(folder / name, "x");
    }
    CreateDirectoryA((folder / "sub.txt").c_str(), nullptr); // a folder that matches is skipped
    TestDatabase db;
    std::string root = folder.path().substr(0, folder.path().size() - 1);
    ASSERT_EQ(db.Parse("_dir=APPDIR_MAIN /_TARGETPATH \"" + ScriptPath(root) +
                       "\";_file=TEXTS /_PARENT APPDIR_MAIN /_TARGETMASK *.txt /_SHAREDDLL /_FRIENDEXT BAK _DEL;"),
              1);
    ObjectId mask = db.Find("TEXTS");
    ASSERT_TRUE(db.Get("TEXTS").state & STATE_TARGET_MASK);
    EXPECT_EQ(ExpandTargetMask(mask, 0), 1);
    EXPECT_FALSE(db.Get("TEXTS").state & STATE_TARGET_MASK);

    EXPECT_EQ(db.Path("APPDIR_A.TXT"), folder / "a.txt");
    InstallObject a = db.Get("APPDIR_A.TXT");
    EXPECT_TRUE(a.state & STATE_SHARED_DLL);
    EXPECT_TRUE(a.state & STATE_HAS_FRIENDS);
    // A long file name goes by its short form.
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((folder / "LongFileName.txt").c_str(), &found);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FindClose(h);
    std::string shortName = found.cAlternateFileName[0] != '\0' ? found.cAlternateFileName : found.cFileName;
    for (char& c : shortName) {
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    }
    EXPECT_EQ(db.Path(("APPDIR_" + shortName).c_str()), folder / "LongFileName.txt");
    EXPECT_EQ(db.Find("APPDIR_SUB.TXT"), 0u);
    EXPECT_EQ(db.Find("APPDIR_OTHER.DAT"), 0u);
    EXPECT_EQ(ExpandTargetMask(mask, 0), -1); // the mask was used up

    // Thousands of matches.
    for (int i = 0; i < 2000; i++) {
        WriteFileBytes(folder / ("m" + std::to_string(i) + ".log"), "");
    }
    ASSERT_EQ(db.Parse("_file=LOGS /_PARENT APPDIR_MAIN /_TARGETMASK *.log;"), 1);
    EXPECT_EQ(ExpandTargetMask(db.Find("LOGS"), 0), 1);
    EXPECT_EQ(db.Path("APPDIR_M1999.LOG"), folder / "m1999.log");

    // The system matches masks against 8.3 aliases too: only a long name that matches counts, and what
    // a wildcard found is marked as found.
    WriteFileBytes(folder / "notes.datx", "x");
    WriteFileBytes(folder / "user-settings.data", "x");
    ASSERT_EQ(db.Parse("_file=DATS /_PARENT APPDIR_MAIN /_TARGETMASK *.dat;"), 1);
    EXPECT_EQ(ExpandTargetMask(db.Find("DATS"), 0), 1);
    EXPECT_TRUE(db.Get("APPDIR_OTHER.DAT").state & STATE_FROM_WILDCARD);
    EXPECT_EQ(CountObjectsWithFlags(db.handle(), OBJECT_FILE), 2007); // three masks, 3 texts, 2000 logs, OTHER.DAT
}
