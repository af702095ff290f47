// The executor on real files, folders, registry keys and values, libraries and programs, with databases
// loaded from script texts: each row is a script, the machine before, and the machine after.
#include "engine/executor.h"
#include "engine/prepare.h"
#include "engine/uninstall_callback.h"
#include "kit/database_kit.h"
#include "support/locked_list.h"

namespace {

// A machine for one row: a folder for files and a key below HKEY_CURRENT_USER\Software for values.
struct Machine {
    TestFolder folder;
    std::string key = "UninstExec" + std::to_string(GetCurrentProcessId());
    Machine() { MakeKey(""); }
    ~Machine() { RemoveTestKey(HKEY_CURRENT_USER, ("Software\\" + key)); }

    void MakeKey(const std::string& sub, const char* value = nullptr)
    {
        CloseRegKey(CreateRegKey(HKEY_CURRENT_USER, ("Software\\" + key + sub).c_str()));
        if (value != nullptr) {
            SetStringValue(HKEY_CURRENT_USER, "Software\\" + key + sub, value, "data");
        }
    }
    bool HasKey(const std::string& sub) const { return KeyExists(HKEY_CURRENT_USER, "Software\\" + key + sub); }
    bool HasValue(const std::string& sub, const char* value) const
    {
        HKEY k = OpenRegKeyRead(HKEY_CURRENT_USER, ("Software\\" + key + sub).c_str());
        bool has = k != nullptr && RegQueryValueExA(k, value, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        CloseRegKey(k);
        return has;
    }
    // The script's placeholders: %F% the folder, %K% the key below HKEY_USER_SOFTWARE.
    std::string Script(std::string text) const
    {
        for (size_t at; (at = text.find("%F%")) != std::string::npos;) {
            text.replace(at, 3, ScriptPath(folder.path()));
        }
        for (size_t at; (at = text.find("%K%")) != std::string::npos;) {
            text.replace(at, 3, key);
        }
        return text;
    }
};

struct Row {
    const char* what;
    std::vector<std::string> files; // below the folder ("sub\\" makes a folder)
    const char* script;
    int sign; // of the executor's result: 1 for 0 or more, -1
    std::vector<std::string> gone, stay;
    std::function<void(Machine&)> before = nullptr;
    std::function<void(const Machine&)> after = nullptr;
};

void RunRow(const Row& r)
{
    SCOPED_TRACE(r.what);
    Machine m;
    for (const std::string& f : r.files) {
        if (f.back() == '\\') {
            CreateDirectoryA((m.folder / f).c_str(), nullptr);
        } else {
            WriteFileBytes(m.folder / f, f);
        }
    }
    if (r.before) {
        r.before(m);
    }
    TestDatabase db("TEST", "C:\\Source\\", UninstallCallback);
    ASSERT_EQ(db.Parse(m.Script(r.script)), 1);
    int result = RemoveAll(db.handle());
    EXPECT_EQ(result >= 0 ? 1 : -1, r.sign) << "result " << result;
    for (const std::string& f : r.gone) {
        EXPECT_FALSE(PathExists(m.folder / f)) << f;
    }
    for (const std::string& f : r.stay) {
        EXPECT_TRUE(PathExists(m.folder / f)) << f;
    }
    if (r.after) {
        r.after(m);
    }
}

const char kApp[] = "_dir=APP /_TARGETPATH \"%F%app\" /_REMOVABLE;\r\n";

} // namespace

TEST(ExecutorTest, FilesFoldersAndRegistryGoAsTheScriptSays)
{
    const Row rows[] = {
        {"a product's files, folders, keys and values go; a read-only file too",
         {"app\\", "app\\bin\\", "app\\bin\\main.exe", "app\\bin\\ro.dll", "other.txt"},
         "_dir=APP /_TARGETPATH \"%F%app\" /_REMOVABLE;\r\n_dir=BIN /_PARENT APP /_TARGETPATH bin /_REMOVABLE;\r\n"
         "_file=MAIN /_PARENT BIN /_TARGETPATH main.exe /_REMOVABLE;\r\n"
         "_file=RO /_PARENT BIN /_TARGETPATH ro.dll /_REMOVABLE;\r\n"
         "_regkey=APPKEY /_PARENT HKEY_USER_SOFTWARE /_TARGETPATH \"%K%\\\\App\" /_REMOVABLE;\r\n"
         "_regkey=SUB /_PARENT APPKEY /_TARGETPATH Sub /_REMOVABLE;\r\n"
         "_regitem=V1 /_PARENT APPKEY /_REMOVABLE;\r\n_regitem=V2 /_PARENT SUB /_REMOVABLE;\r\n",
         1,
         {"app"},
         {"other.txt"},
         [](Machine& m) {
             SetFileAttributesA((m.folder / "app\\bin\\ro.dll").c_str(), FILE_ATTRIBUTE_READONLY);
             m.MakeKey("\\App", "V1");
             m.MakeKey("\\App\\Sub", "V2");
         },
         [](const Machine& m) {
             EXPECT_FALSE(m.HasKey("\\App"));
             EXPECT_FALSE(m.HasKey("")); // the keys along the product key's path go once they are empty
         }},
        {"what is neither removable nor covered stays, and its folder with it, without failing",
         {"app\\", "app\\main.exe", "app\\user.cfg"},
         "_dir=APP /_TARGETPATH \"%F%app\" /_REMOVABLE;\r\n"
         "_file=MAIN /_PARENT APP /_TARGETPATH main.exe /_REMOVABLE;\r\n"
         "_file=CFG /_PARENT APP /_TARGETPATH user.cfg;\r\n",
         1,
         {"app\\main.exe"},
         {"app\\user.cfg"}},
        {"a folder that holds a file the script does not know fails the run; the rest still goes",
         {"app\\", "app\\main.exe", "app\\stray.log"},
         "_dir=APP /_TARGETPATH \"%F%app\" /_REMOVABLE;\r\n"
         "_file=MAIN /_PARENT APP /_TARGETPATH main.exe /_REMOVABLE;\r\n",
         -1,
         {"app\\main.exe"},
         {"app\\stray.log"}},
        {"_KILLCHILDREN takes everything in the folder, listed or not",
         {"app\\", "app\\main.exe", "app\\stray.log", "app\\deep\\", "app\\deep\\x.dat"},
         "_dir=APP /_TARGETPATH \"%F%app\" /_REMOVABLE /_KILLCHILDREN;\r\n"
         "_file=MAIN /_PARENT APP /_TARGETPATH main.exe;\r\n",
         1,
         {"app"},
         {}},
        {"a value already gone, and a _NONINSTALLABLE one, do not fail the run; a key that is gone is passed",
         {},
         "_regkey=APPKEY /_PARENT HKEY_USER_SOFTWARE /_TARGETPATH \"%K%\\\\App\" /_REMOVABLE;\r\n"
         "_regkey=GONE /_PARENT HKEY_USER_SOFTWARE /_TARGETPATH \"%K%\\\\Gone\" /_REMOVABLE;\r\n"
         "_regitem=P /_PARENT APPKEY /_TARGETPATH Present /_REMOVABLE;\r\n"
         "_regitem=A /_PARENT APPKEY /_TARGETPATH Absent /_REMOVABLE;\r\n"
         "_regitem=N /_PARENT APPKEY /_TARGETPATH Never /_REMOVABLE /_NONINSTALLABLE;\r\n",
         1,
         {},
         {},
         [](Machine& m) { m.MakeKey("\\App", "Present"); },
         [](const Machine& m) { EXPECT_FALSE(m.HasKey("\\App")); }},
        {"a key that keeps a value the script does not remove stays without failing",
         {},
         "_regkey=APPKEY /_PARENT HKEY_USER_SOFTWARE /_TARGETPATH \"%K%\\\\App\" /_REMOVABLE;\r\n"
         "_regitem=M /_PARENT APPKEY /_TARGETPATH Mine /_REMOVABLE;\r\n"
         "_regitem=T /_PARENT APPKEY /_TARGETPATH Theirs;\r\n",
         1,
         {},
         {},
         [](Machine& m) {
             m.MakeKey("\\App", "Mine");
             m.MakeKey("\\App", "Theirs");
         },
         [](const Machine& m) {
             EXPECT_FALSE(m.HasValue("\\App", "Mine"));
             EXPECT_TRUE(m.HasValue("\\App", "Theirs"));
         }},
        {"a wildcard becomes the files it matches, a satellite a file of its own; a stray file fails the folder",
         {"app\\", "app\\a.log", "app\\b.log", "app\\keep.txt", "app\\help.hlp", "app\\help.gid"},
         "_dir=APP /_TARGETPATH \"%F%app\" /_REMOVABLE;\r\n"
         "_file=LOGS /_PARENT APP /_TARGETMASK \"*.log\" /_REMOVABLE;\r\n"
         "_file=HELP /_PARENT APP /_TARGETPATH help.hlp /_REMOVABLE /_FRIENDEXT GID _SAT;\r\n",
         -1,
         {"app\\a.log", "app\\b.log", "app\\help.hlp", "app\\help.gid"},
         {"app\\keep.txt"}},
    };
    EngineScope engine;
    SessionScope session;
    for (const Row& r : rows) {
        RunRow(r);
    }
}

TEST(ExecutorTest, WhatTheWalksAddIsReached)
{
    // The matches of a wildcard declared last, a companion, and a file the wildcard declares again
    // after the walk had selected it, are all selected and go; a folder declared with nothing leaves
    // the list with what is below it (a file without a path, which would stop the removal).
    Machine m;
    for (const char* f : {"app\\a.log", "app\\b.log", "app\\main.exe", "app\\main.gid"}) {
        CreateDirectoryA((m.folder / "app").c_str(), nullptr);
        WriteFileBytes(m.folder / f, f);
    }
    EngineScope engine;
    SessionScope session;
    TestDatabase db("TEST", "C:\\Source\\", UninstallCallback);
    ASSERT_EQ(db.Parse(m.Script("_dir=APP /_TARGETPATH \"%F%app\" /_REMOVABLE;\r\n"
                                "_file=APP_A.LOG /_PARENT APP /_TARGETPATH a.log /_REMOVABLE;\r\n"
                                "_dir=OLD;\r\n_file=X /_PARENT OLD /_TARGETPATH x.txt /_REMOVABLE;\r\n"
                                "_file=MAIN /_PARENT APP /_TARGETPATH main.exe /_REMOVABLE /_FRIENDEXT GID _SAT;\r\n"
                                "_file=LOGS /_PARENT APP /_TARGETMASK \"*.log\" /_REMOVABLE;\r\n")),
              1);
    ASSERT_GE(PrepareRemoval(session.context(), db.handle(),
                             PREPARE_AGAIN | PREPARE_NO_IN_USE_TEST | PREPARE_EXPAND | PREPARE_MASKS_FROM_TARGET),
              0);
    for (const char* name : {"APP_A.LOG", "APP_B.LOG", "MAIN", "MAIN_SAT.GID"}) {
        EXPECT_NE(db.Get(name).flags & MARK_SELECTED, 0u) << name;
    }
    EXPECT_EQ(db.Find("X"), 0u);
    SetDatabaseFlags(db.handle(), DATABASE_PROCESSED, 1);
    EXPECT_GE(ExecuteUninstall(session.context(), db.handle(), ALL_PASSES), 0);
    EXPECT_FALSE(PathExists(m.folder / "app"));
}

TEST(ExecutorTest, TheWalksAreLinearInTheObjects)
{
    // Files ahead of their folder, a third of them "_DELETE" (dropped by the preparation): twice the
    // objects cost twice the list lookups, not four times.
    auto lookups = [](int files) {
        std::string script = kApp;
        for (int i = 0; i < files; i++) {
            script += "_file=F" + std::to_string(i) + " /_PARENT APP /_TARGETPATH f" + std::to_string(i) + ".dat" +
                      (i % 3 == 0 ? " /_DELETE" : " /_REMOVABLE") + ";\r\n";
        }
        Machine m;
        TestDatabase db("TEST", "C:\\Source\\", UninstallCallback);
        EXPECT_EQ(db.Parse(m.Script(script)), 1);
        UINT64 before = ListLookupComparisons();
        EXPECT_GE(RemoveAll(db.handle()), 0);
        return static_cast<double>(ListLookupComparisons() - before);
    };
    EngineScope engine;
    SessionScope session;
    double small = lookups(600), large = lookups(1200);
    EXPECT_LT(large / small, 2.5) << small << " then " << large;
}

TEST(ExecutorTest, ComponentsUnregisterAndUninstallProgramsRun)
{
    EngineScope engine;
    Machine m;
    const std::string bin = TestProgramFolder();
    for (const char* lib : {"unreg_ok.dll", "unreg_false.dll", "unreg_none.dll", "child_program.exe"}) {
        CopyFileA((bin + lib).c_str(), (m.folder / lib).c_str(), FALSE);
    }
    WriteFileBytes(m.folder / "broken.dll", "no library at all");
    const std::string libraryKey = LibraryKey(m.folder / "unreg_ok.dll");
    CloseRegKey(CreateRegKey(HKEY_CURRENT_USER, libraryKey.c_str()));
    // Every library of the list is tried, in the list's order (the script's, backwards): a good one
    // between two failing ones is still unregistered, and the run fails for the others.
    SessionScope session;
    TestDatabase db("TEST", "C:\\Source\\", UninstallCallback);
    std::string script =
        m.Script("_dir=APP /_TARGETPATH \"%F%\";\r\n"
                 "_file=FALSE /_PARENT APP /_TARGETPATH unreg_false.dll /_REMOVABLE /_OCX;\r\n"
                 "_file=OK /_PARENT APP /_TARGETPATH unreg_ok.dll /_REMOVABLE /_OCX;\r\n"
                 "_file=BROKEN /_PARENT APP /_TARGETPATH broken.dll /_REMOVABLE /_OCX;\r\n"
                 "_file=NONE /_PARENT APP /_TARGETPATH unreg_none.dll /_REMOVABLE /_OCX;\r\n"
                 "_file=RUN0 /_PARENT APP /_TARGETPATH child_program.exe /_REMOVABLE "
                 "/_UNREGISTER \"\\\"(OBJECTPATH SELF)\\\" 0 \\\"(OBJECTDIR SELF)ran.marker\\\"\";\r\n");
    ASSERT_EQ(db.Parse(script), 1);
    EXPECT_EQ(RemoveAll(db.handle()), -1);
    EXPECT_FALSE(PathExists(m.folder / "unreg_ok.dll"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, libraryKey)); // its DllUnregisterServer ran
    EXPECT_TRUE(PathExists(m.folder / "ran.marker"));       // the uninstall program ran, with its arguments

    const struct {
        const char* file;
        const char* switches;
    } failing[] = {
        {"unreg_false.dll", "/_OCX"},
        {"child_program.exe", "/_UNREGISTER \"\\\"(OBJECTPATH SELF)\\\" 3\""},
        {"child_program.exe", "/_UNREGISTER \"no-such-program.exe\""},
    };
    for (const auto& f : failing) {
        SCOPED_TRACE(std::string(f.file) + " " + f.switches);
        CopyFileA((bin + "child_program.exe").c_str(), (m.folder / "child_program.exe").c_str(), FALSE);
        TestDatabase one("ONE", "C:\\Source\\", UninstallCallback);
        ASSERT_EQ(
            one.Parse(m.Script("_dir=APP /_TARGETPATH \"%F%\";\r\n_file=X /_PARENT APP /_REMOVABLE /_TARGETPATH ") +
                      f.file + " " + f.switches + ";\r\n"),
            1);
        EXPECT_EQ(RemoveAll(one.handle()), -1);
    }
}

TEST(ExecutorTest, MasksAndUnpreparedDatabases)
{
    EngineScope engine;
    TestDatabase db;
    ASSERT_EQ(db.Parse("_file=X /_TARGETPATH \"C:\\\\nowhere\\\\x.exe\" /_REMOVABLE;\r\n"), 1);
    EXPECT_EQ(ExecuteUninstall(0, db.handle(), 0), 0);           // nothing asked, nothing done
    EXPECT_EQ(ExecuteUninstall(0, db.handle(), PASS_FILES), -1); // never prepared
    EXPECT_EQ(ExecuteUninstall(0, 0x1234, ALL_PASSES), -1);      // no such database
    EXPECT_GE(RemoveAll(db.handle()), 0);                        // a file that is not there is passed over
    // Nothing left to remove at all (a removal run again after everything went) is a success.
    TestDatabase gone;
    ASSERT_EQ(gone.Parse("_dir=D /_TARGETPATH \"C:\\\\nowhere\" /_REMOVABLE /_KILLCHILDREN;\r\n"
                         "_file=F /_PARENT D /_TARGETPATH f.txt /_REMOVABLE;\r\n"
                         "_regkey=K /_PARENT HKEY_USER_SOFTWARE /_TARGETPATH UninstNowhere /_REMOVABLE;\r\n"
                         "_regitem=V /_PARENT K /_TARGETPATH Value /_REMOVABLE;\r\n"
                         "_group=G /_PARENT USERSTARTGROUPS /_TARGETPATH \"Uninst Nowhere\" /_REMOVABLE;\r\n"),
              1);
    EXPECT_GE(RemoveAll(gone.handle()), 0);
}

TEST(ExecutorTest, AFilesShortcutsGoWithItByWhicheverFormOfItsPathTheyName)
{
    EngineScope engine;
    SessionScope session;
    TestFolder folder, other;
    // The script names two of them in another case, one of these beyond ASCII ("\xE4" for "\xC4").
    for (const char* file : {"long file name.exe", "plain.exe", "keep.exe", "Mixed.exe", "\xC4rger.exe"}) {
        WriteFileBytes(folder / file, file);
    }
    WriteFileBytes(other / "long file name.exe", "a file of the same name elsewhere");
    std::string name = "UninstItems" + std::to_string(GetCurrentProcessId());
    std::string group = SpecialFolder(CSIDL_PROGRAMS) + name;
    CreateDirectoryA(group.c_str(), nullptr);
    std::string alias = ShortForm(folder / "long file name.exe");
    ASSERT_NE(alias, folder / "long file name.exe");
    struct Link {
        const char* name;
        std::string target;
        bool goes;
    } const links[] = {
        {"ByAlias.lnk", alias, true},
        {"ByPath.lnk", folder / "long file name.exe", true},
        {"Plain.lnk", ShortForm(folder / "plain.exe"), true},
        {"Mixed.lnk", folder / "Mixed.exe", true},
        {"Accented.lnk", folder / "\xC4rger.exe", true},
        {"Stays.lnk", folder / "keep.exe", false},
        {"Elsewhere.lnk", ShortForm(other / "long file name.exe"), false},
        {"ElsewhereByPath.lnk", other / "long file name.exe", false},
    };
    for (const Link& l : links) {
        ASSERT_TRUE(MakeShortcut(group + "\\" + l.name, l.target));
    }
    TestDatabase db("TEST", "C:\\Source\\", UninstallCallback);
    ASSERT_EQ(db.Parse("_dir=APP /_TARGETPATH \"" + ScriptPath(folder.path()) + "\";\r\n" +
                       "_group=G /_PARENT USERSTARTGROUPS /_TARGETPATH " + name + " /_REMOVABLE;\r\n" +
                       "_file=LONG /_PARENT APP /_TARGETPATH \"long file name.exe\" /_REMOVABLE /_GROUP G Long;\r\n" +
                       "_file=PLAIN /_PARENT APP /_TARGETPATH plain.exe /_REMOVABLE /_GROUP G Plain;\r\n" +
                       "_file=MIXED /_PARENT APP /_TARGETPATH mixed.EXE /_REMOVABLE /_GROUP G Mixed;\r\n" +
                       "_file=ACCENTED /_PARENT APP /_TARGETPATH \xE4rger.exe /_REMOVABLE /_GROUP G Accented;\r\n" +
                       "_file=KEEP /_PARENT APP /_TARGETPATH keep.exe;\r\n"),
              1);
    EXPECT_GE(RemoveAll(db.handle()), 0);
    for (const Link& l : links) {
        EXPECT_EQ(PathExists(group + "\\" + l.name), !l.goes) << l.name;
        DeleteFileA((group + "\\" + l.name).c_str());
    }
    EXPECT_FALSE(PathExists(folder / "long file name.exe"));
    EXPECT_TRUE(PathExists(other / "long file name.exe"));
    EXPECT_TRUE(PathExists(group)); // it holds what stays
    RemoveDirectoryA(group.c_str());
}

TEST(ExecutorTest, AShellGroupGoesWhenItsLinksPointOnlyAtFilesThatGo)
{
    EngineScope engine;
    SessionScope session;
    // The link names its target by the short path of the file the script names in full, or by its path.
    for (int variant = 0; variant < 3; variant++) {
        bool targetStays = variant == 1, shortTarget = variant == 2;
        SCOPED_TRACE(targetStays ? "its link points at a file that stays" : "its only link points at a removed file");
        SCOPED_TRACE(shortTarget ? "by its short path" : "by its path");
        TestFolder folder;
        WriteFileBytes(folder / "app.exe", "app");
        std::string name = "UninstGroup" + std::to_string(GetCurrentProcessId()) + std::to_string(variant);
        std::string group = SpecialFolder(CSIDL_PROGRAMS) + name;
        CreateDirectoryA(group.c_str(), nullptr);
        std::string target = shortTarget ? ShortForm(folder / "app.exe") : folder / "app.exe";
        if (shortTarget) {
            ASSERT_NE(target, folder / "app.exe");
        }
        ASSERT_TRUE(MakeShortcut(group + "\\App.lnk", target));
        TestDatabase db("TEST", "C:\\Source\\", UninstallCallback);
        ASSERT_EQ(db.Parse("_dir=APP /_TARGETPATH \"" + ScriptPath(folder.path()) + "\";\r\n" +
                           "_group=G /_PARENT USERSTARTGROUPS /_TARGETPATH " + name + " /_REMOVABLE;\r\n" +
                           "_file=APPEXE /_PARENT APP /_TARGETPATH app.exe" + (targetStays ? "" : " /_REMOVABLE") +
                           ";\r\n"),
                  1);
        EXPECT_GE(RemoveAll(db.handle()), 0); // a group that holds what stays is no failure
        EXPECT_EQ(PathExists(group + "\\App.lnk"), targetStays);
        EXPECT_EQ(PathExists(group), targetStays);
        DeleteFileA((group + "\\App.lnk").c_str());
        RemoveDirectoryA(group.c_str());
    }
}
