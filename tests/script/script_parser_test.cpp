#include "kit/database_kit.h"
#include "script/companions.h"

TEST(ScriptParserTest, EveryKeywordReachesItsSetter)
{
    EngineScope engine;
    TestDatabase db;
    const char* script =
        "_dir=APPDIR /_TARGETPATH \"C:\\\\Program Files\\\\App\" /_REMOVABLE /_KILLCHILDREN;\r\n"
        "_file=MAINEXE /_PARENT APPDIR /_TARGETPATH main.exe /_SOURCE \"disk1\\\\main.exe\" /_EXE /_QUERY\r\n"
        "   /_GROUP \"My Product\" Main /_ICON MAINEXE 2 /_SHAREDDLL COUNT_MAIN /_NONINSTALLABLE;\r\n"
        "_file=HELP /_PARENT APPDIR /_TARGETPATH help.hlp /_FRIENDEXT GID _DEL /_FRIENDEXT CNT /_DELETE;\r\n"
        "_file=SERVER /_PARENT APPDIR /_TARGETPATH srv.dll /_REGISTER /s /_UNREGISTER \"/u /s\" /_OCX;\r\n"
        "_file=UNINST /_PARENT APPDIR /_TARGETPATH un.exe /_UNINSTALL un.exe \"-remove all\" /_SETUP;\r\n"
        "_file=LIBRT /_PARENT APPDIR /_TARGETPATH LIBRT32.DLL /_SYSLIB /_STRUCTURE;\r\n"
        "_regkey=APPKEY /_TARGETPATH Software\\\\Maker /_SHAREKEY _DLLSHARING;\r\n"
        "_regitem=COUNT_MAIN /_PARENT APPKEY /_COUNTER /_KEEPCONTENTS /_CONTENTS \"line\\none\";\r\n"
        "_group=PROGRAMS /_TARGETPATH \"My Product\" /_LANGUAGE English _REMOVABLE;\r\n"
        "_flags=_REMOVE _REBOOT _UNKNOWN;\r\n";
    ASSERT_EQ(db.Parse(script), 1);
    EXPECT_EQ(db.State().flags, DATABASE_REMOVE | DATABASE_REBOOT);
    EXPECT_EQ(db.State().sharingKey, db.Find("APPKEY"));
    EXPECT_EQ(db.State().sharingMode, SHARING_DLL);

    InstallObject dir = db.Get("APPDIR");
    EXPECT_EQ(dir.flags, OBJECT_DIRECTORY | OBJECT_TOUCHED | OBJECT_REMOVABLE | OBJECT_KILLCHILDREN | OBJECT_ROOT_PATH);

    InstallObject exe = db.Get("MAINEXE");
    EXPECT_STREQ(exe.source, "disk1\\main.exe");
    EXPECT_EQ(exe.flags & ~OBJECT_TYPE_MASK, OBJECT_TOUCHED | OBJECT_EXE | OBJECT_QUERY | OBJECT_GROUPED |
                                                 OBJECT_SHARED | OBJECT_EXTENDED | OBJECT_NONINSTALLABLE);
    EXPECT_STREQ(exe.groupName, "My Product");
    EXPECT_EQ(exe.iconIndex, 2);
    EXPECT_STREQ(exe.shareKey, "COUNT_MAIN");

    InstallObject help = db.Get("HELP");
    EXPECT_TRUE(help.flags & OBJECT_DELETE);
    UINT_PTR record = 0;
    ASSERT_EQ(ListFindByName(help.friends, ".GID", &record, 0), 1);
    EXPECT_EQ(reinterpret_cast<FriendExtension*>(record)->mode, FRIEND_DELETE);
    ASSERT_EQ(ListFindByName(help.friends, ".CNT", &record, 0), 1);
    EXPECT_EQ(reinterpret_cast<FriendExtension*>(record)->mode, FRIEND_SATELLITE); // no mode word

    InstallObject server = db.Get("SERVER");
    EXPECT_EQ(server.registerText, nullptr); // an unquoted /s is the next switch, not a text
    EXPECT_EQ(server.flags & (OBJECT_REGISTER | OBJECT_UNREGISTER | OBJECT_OCX), OBJECT_UNREGISTER | OBJECT_OCX);
    EXPECT_STREQ(server.unregisterText, "/u /s");

    InstallObject un = db.Get("UNINST");
    EXPECT_STREQ(un.contents, "un.exe");
    EXPECT_STREQ(un.registerText, "-remove all");
    EXPECT_TRUE(un.flags & OBJECT_UNINSTALL);
    EXPECT_TRUE(un.flags & OBJECT_SETUP);

    InstallObject lib = db.Get("LIBRT");
    EXPECT_STREQ(lib.sysLibName, "_IBRT32.DLL");
    EXPECT_TRUE(lib.flags & OBJECT_STRUCTURE);

    InstallObject item = db.Get("COUNT_MAIN");
    EXPECT_STREQ(item.contents, "line\rone"); // "\n" in a script value is a carriage return
    EXPECT_EQ(item.flags & (OBJECT_COUNTER | OBJECT_KEEPCONTENTS), OBJECT_COUNTER | OBJECT_KEEPCONTENTS);
    EXPECT_TRUE(db.Get("PROGRAMS").flags & OBJECT_REMOVABLE); // through "_LANGUAGE"
}

TEST(ScriptParserTest, OddScriptsGiveTheirSpecifiedResult)
{
    struct Case {
        const char* what;
        std::string script;
        int result;
        void (*check)(const TestDatabase&);
    } const cases[] = {
        {"two types for one name", "_file=X /_REMOVABLE;\r\n_dir=X /_QUERY;", 1,
         [](const TestDatabase& db) {
             EXPECT_EQ(db.Get("X").flags, OBJECT_FILE | OBJECT_TOUCHED | OBJECT_REMOVABLE | OBJECT_QUERY);
         }},
        {"no closing ';'", "_file=A /_QUERY\r\n_file=B /_REMOVABLE;\r\n_file=C;", 1,
         [](const TestDatabase& db) {
             EXPECT_EQ(db.Get("A").flags & (OBJECT_QUERY | OBJECT_REMOVABLE), OBJECT_QUERY | OBJECT_REMOVABLE);
             EXPECT_EQ(db.Find("B"), 0u); // its type word was swallowed
             EXPECT_NE(db.Find("C"), 0u);
         }},
        {"a parent declared later, and the object itself", "_dir=A /_PARENT B;_dir=B /_PARENT B;_dir=C /_PARENT A;", 1,
         [](const TestDatabase& db) {
             EXPECT_EQ(db.Get("A").parent, 0u);
             EXPECT_EQ(db.Get("B").parent, 0u);
             EXPECT_EQ(db.Get("C").parent, db.Find("A"));
         }},
        {"a cycle through declarations", "_dir=A;_dir=B /_PARENT A;_dir=C /_PARENT B;_dir=A /_PARENT C;", 1,
         [](const TestDatabase& db) {
             EXPECT_EQ(db.Get("A").parent, 0u);
             EXPECT_EQ(GetAncestorObject(db.Find("C"), 0), db.Find("B"));
         }},
        {"unknown words, missing arguments", "_thing=X /_QUERY;_file=Y /_NOSUCH 1 2 3 /_SOURCE /_PARENT;_file=;", 1,
         [](const TestDatabase& db) {
             EXPECT_EQ(db.Find("X"), 0u);
             EXPECT_EQ(db.Get("Y").source, nullptr);
             EXPECT_EQ(db.Get("Y").parent, 0u);
         }},
    };
    EngineScope engine;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestDatabase db;
        EXPECT_EQ(db.Parse(c.script), c.result);
        c.check(db);
    }
    TestDatabase db;
    EXPECT_EQ(ParseScript(db.handle(), "[OTHER]\r\n_file=X;", 17), 0); // no SSCRIPT section
    EXPECT_EQ(ParseScript(0x1234, "[SSCRIPT]_file=X;", 17), 0);
}
