// Shared counts on the real registry: products that share files, folders and registry entries, counted
// in SharedDLLs, in the shared-object registry under the product's sharing key, or in both. Each row is
// the counts before, the product removed, the counts and the machine after.
#include "engine/executor.h"
#include "engine/prepare.h"
#include "engine/release_journal.h"
#include "engine/shared_objects.h"
#include "engine/uninstall_callback.h"
#include "kit/database_kit.h"
#include "script/object_text.h"

TEST(SharedObjectsTest, SharedFilesGoOnlyWhenTheirLastCountGoes)
{
    EngineScope engine;
    SessionScope session;
    struct Row {
        const char* what;
        const char* switches;      // of the shared file
        DWORD dllBefore;           // 0: no SharedDLLs value
        const char* counterBefore; // nullptr: no "Shared Files" counter
        const char* folder;        // the folder's switches: "_KILLCHILDREN" takes its contents along
        bool fileStays;
        DWORD dllAfter, counterAfter;
    } const rows[] = {
        {"counted once in SharedDLLs: the count and the file go", "/_SHAREDDLL", 1, nullptr, "", false, 0, 0},
        {"counted twice: exactly 1 stays, and the file", "/_SHAREDDLL", 2, nullptr, "", true, 1, 0},
        {"2 under Shared Files and 3 in SharedDLLs count as 3: both hold 2 after", "/_SHARED", 3, "2", "", true, 2, 2},
        {"inside a folder that goes with its contents: driven to 0 and removed", "/_SHAREDDLL", 3, nullptr,
         " /_KILLCHILDREN", false, 0, 0},
        {"inside a shared folder counted once that goes with its contents: 0 and removed", "/_SHAREDDLL", 3, nullptr,
         " /_KILLCHILDREN /_SHARED", false, 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        SharingProduct p;
        std::string file = p.folder / "app\\common.dll";
        WriteFileBytes(file, "shared");
        if (r.dllBefore != 0) {
            p.SetDll(file, r.dllBefore);
        }
        if (r.counterBefore != nullptr) {
            p.SetCounter("Shared Files", file, r.counterBefore);
        }
        if (strstr(r.folder, "_SHARED") != nullptr) {
            p.SetCounter("Shared Folders", p.folder / "app\\", "1");
        }
        TestDatabase db("TEST", "C:\\Source\\", UninstallCallback);
        ASSERT_EQ(db.Parse(p.Header() + "_dir=APP /_TARGETPATH \"" + ScriptPath(p.folder / "app") + "\" /_REMOVABLE" +
                           r.folder + ";\r\n_file=COMMON /_PARENT APP /_TARGETPATH common.dll /_REMOVABLE " +
                           r.switches + ";\r\n"),
                  1);
        EXPECT_GE(RemoveAll(db.handle()), 0);
        EXPECT_EQ(PathExists(file), r.fileStays);
        EXPECT_EQ(p.Dll(file), r.dllAfter);
        if (r.dllAfter == 0) { // a count that came down to 0 goes, never stays as a 0
            RegKeyHandle shared(OpenRegKeyRead(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY));
            EXPECT_NE(RegQueryValueExA(shared.get(), file.c_str(), nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
        }
        EXPECT_EQ(p.Counter("Shared Files", file), r.counterAfter);
        EXPECT_EQ(p.Counter("Shared Folders", p.folder / "app\\"), 0u);
        if (r.counterAfter == 0) {
            EXPECT_FALSE(p.HasSharingTree()); // a counter at 0 goes, and with it the emptied tree
        }
    }
}

TEST(SharedObjectsTest, CountsAreLoweredOncePerRunAndNamedWithinThirtyOneCharacters)
{
    EngineScope engine;
    SharingProduct p;
    std::string file = p.folder / "x.dll";
    WriteFileBytes(file, "x");
    p.SetCounter("Shared Files", file, "5");
    const char* name31 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234"; // 31 characters
    TestDatabase db;
    ASSERT_EQ(db.Parse(p.Header() + "_regkey=SHARING_HKEY /_REMOVABLE;\r\n_file=" + name31 + " /_TARGETPATH \"" +
                       ScriptPath(file) + "\" /_REMOVABLE /_SHARED;\r\n"),
              1);
    ObjectId id = db.Find(name31);
    EXPECT_EQ(UpdateSharedCount(id, 0, SHARING_REGISTRY), 5);
    // The counter: "..." and the name's last 27 characters and "_"; its value named by the file's path.
    InstallObject o = db.Get(name31);
    EXPECT_STREQ(o.shareKey, "...EFGHIJKLMNOPQRSTUVWXYZ01234_");
    EXPECT_EQ(ObjectPathText(db.Find(o.shareKey)),
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\" + p.vendor + "\\Suite\\Shared Objects\\Shared Files\\" + file);
    // Lowered once per direction with the once-only option, written back each time.
    SetObjectFlags(id, MARK_RELEASE);
    EXPECT_EQ(UpdateSharedCount(id, -1, SHARING_REGISTRY | SHARE_ONCE | SHARE_WRITE_BACK), 4);
    EXPECT_EQ(UpdateSharedCount(id, -1, SHARING_REGISTRY | SHARE_ONCE | SHARE_WRITE_BACK), 4);
    EXPECT_EQ(p.Counter("Shared Files", file), 4u);
}

TEST(SharedObjectsTest, ContainersStayWhileAnotherProductCountsWhatTheyHold)
{
    EngineScope engine;
    SessionScope session;
    struct Row {
        const char* what;
        const char* counted; // "Shared Files" or "Shared Folders" value below the folder (relative), or none
        const char* kind;
        int sign;
    } const rows[] = {
        {"a file another product counts keeps the folder", "theirs.dll", "Shared Files", 1},
        {"a sub-folder counted without its backslash", "sub", "Shared Folders", 1},
        {"a file counted only in SharedDLLs keeps the folder", "theirs.dll", "SharedDLLs", 1},
        {"an unshared leftover fails the run", nullptr, nullptr, -1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        SharingProduct p;
        WriteFileBytes(p.folder / "app\\mine.dll", "mine");
        WriteFileBytes(p.folder / "app\\theirs.dll", "theirs");
        WriteFileBytes(p.folder / "app\\sub\\x.dat", "x");
        p.SetCounter("Shared Items", "placeholder", "1"); // the sharing tree exists
        if (r.counted != nullptr && strcmp(r.kind, "SharedDLLs") == 0) {
            p.SetDll(p.folder / "app\\" + r.counted, 1);
        } else if (r.counted != nullptr) {
            p.SetCounter(r.kind, p.folder / "app\\" + r.counted, "1");
        }
        TestDatabase db("TEST", "C:\\Source\\", UninstallCallback);
        ASSERT_EQ(db.Parse(p.Header() + "_dir=APP /_TARGETPATH \"" + ScriptPath(p.folder / "app") +
                           "\" /_REMOVABLE;\r\n_file=MINE /_PARENT APP /_TARGETPATH mine.dll /_REMOVABLE;\r\n"),
                  1);
        int result = RemoveAll(db.handle());
        EXPECT_EQ(result >= 0 ? 1 : -1, r.sign);
        EXPECT_FALSE(PathExists(p.folder / "app\\mine.dll"));
        EXPECT_TRUE(PathExists(p.folder / "app\\theirs.dll"));
    }
}

TEST(SharedObjectsTest, KeysAndItemsAreCountedByTheSamePathTextTheContainerSearchBuilds)
{
    EngineScope engine;
    SessionScope session;
    // A shared key whose own count goes to 0 still stays when something inside it is counted: the
    // search builds "<key's path>\<subkey>" (looked up with and without a trailing backslash) and
    // "<key's path>\<value>", the texts an object of another product is counted by.
    struct Row {
        const char* what;
        const char* kind;
        const char* below; // below the key's path, or none
        int sign;
    } const rows[] = {
        {"a subkey counted as a key object counts it (trailing backslash)", "Shared Keys", "\\Theirs\\", 1},
        {"a subkey counted without the backslash", "Shared Keys", "\\Theirs", 1},
        {"a value deeper down, counted as an item", "Shared Items", "\\Theirs\\Value", 1},
        {"nothing counted: the key that cannot go fails the run", nullptr, nullptr, -1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        SharingProduct p;
        std::string base = "Software\\" + p.vendor + "Keys";
        SetStringValue(HKEY_CURRENT_USER, base + "\\Settings\\Theirs", "Value", "x");
        TestDatabase db("TEST", "C:\\Source\\", UninstallCallback);
        ASSERT_EQ(db.Parse(p.Header() +
                           "_regkey=SHARING_HKEY /_REMOVABLE;\r\n"
                           "_regkey=SETTINGS /_PARENT HKEY_USER_SOFTWARE /_TARGETPATH \"" +
                           ScriptPath(base.substr(9)) + "\\\\Settings\" /_REMOVABLE /_SHARED;\r\n"),
                  1);
        std::string keyPath = ObjectPathText(db.Find("SETTINGS"));
        EXPECT_EQ(keyPath, "HKEY_CURRENT_USER\\SOFTWARE\\" + base.substr(9) + "\\Settings");
        EXPECT_EQ(ObjectPathText(db.Find("SETTINGS"), PATH_CONTAINER), keyPath + "\\");
        p.SetCounter("Shared Keys", keyPath + "\\", "1"); // the key itself, counted once: by this product
        if (r.kind != nullptr) {
            p.SetCounter(r.kind, keyPath + r.below, "1");
        }
        EXPECT_EQ(RemoveAll(db.handle()) >= 0 ? 1 : -1, r.sign);
        EXPECT_EQ(p.Counter("Shared Keys", keyPath + "\\"), 0u);
        EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, base + "\\Settings\\Theirs"));
        RemoveTestKey(HKEY_CURRENT_USER, base);
    }
}

TEST(SharedObjectsTest, ACountStoredInATypeThatCannotHoldOneIsReadAsZeroAndNeverRewritten)
{
    EngineScope engine;
    SessionScope session;
    SharingProduct p;
    std::string file = p.folder / "app\\common.dll";
    WriteFileBytes(file, "shared");
    p.SetCounter("Shared Files", file, "3");
    p.dlls.push_back(file);
    HKEY dlls = CreateRegKey(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY);
    const char text[] = "5"; // another program's value, of a type that holds no count
    RegSetValueExA(dlls, file.c_str(), 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(text), sizeof(text));
    TestDatabase db("TEST", "C:\\Source\\", UninstallCallback);
    ASSERT_EQ(db.Parse(p.Header() + "_dir=APP /_TARGETPATH \"" + ScriptPath(p.folder / "app") +
                       "\";\r\n_file=COMMON /_PARENT APP /_TARGETPATH common.dll /_REMOVABLE /_SHARED;\r\n"),
              1);
    EXPECT_GE(RemoveAll(db.handle()), 0); // the write-back that cannot move the value stops at once
    EXPECT_EQ(p.Counter("Shared Files", file), 2u);
    char stored[16] = {};
    DWORD size = sizeof(stored) - 1, type = 0;
    RegQueryValueExA(dlls, file.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(stored), &size);
    CloseRegKey(dlls);
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_STREQ(stored, "5");
    EXPECT_TRUE(PathExists(file));
}

TEST(SharedObjectsTest, ARemovalRunAgainAfterAnInterruptionLowersEachCountOnlyOnce)
{
    EngineScope engine;
    SessionScope session;
    SharingProduct p;
    CloseRegKey(CreateRegKey(HKEY_LOCAL_MACHINE, p.suite.c_str()));
    // Paths of any length are recorded each on its own: two of 600 characters.
    std::string deep = p.folder / "app\\" + std::string(280, 'd');
    std::vector<std::string> files = {p.folder / "app\\common.dll", deep + "\\" + std::string(300, 'a') + ".dll",
                                      deep + "\\" + std::string(300, 'b') + ".dll"};
    for (const std::string& f : files) {
        p.SetDll(f, 3);
    }
    ASSERT_GE(files[1].size(), 600u);
    std::string script = p.Header() + "_regkey=PARENT_HKEY /_REMOVABLE;\r\n_regkey=PROJECT_HKEY /_REMOVABLE;\r\n" +
                         "_dir=APP /_TARGETPATH \"" + ScriptPath(p.folder / "app") + "\" /_REMOVABLE;\r\n" +
                         "_dir=DEEP /_PARENT APP /_TARGETPATH " + std::string(280, 'd') + ";\r\n" +
                         "_file=COMMON /_PARENT APP /_TARGETPATH common.dll /_REMOVABLE /_SHAREDDLL;\r\n" +
                         "_file=LONGA /_PARENT DEEP /_TARGETPATH " + std::string(300, 'a') +
                         ".dll /_REMOVABLE /_SHAREDDLL;\r\n_file=LONGB /_PARENT DEEP /_TARGETPATH " +
                         std::string(300, 'b') + ".dll /_REMOVABLE /_SHAREDDLL;\r\n";
    std::string productKey = "HKEY_LOCAL_MACHINE\\" + p.suite;
    auto removeOnce = [&](UINT32 passes, bool complete) {
        TestDatabase db("TEST", "C:\\Source\\", UninstallCallback);
        ASSERT_EQ(db.Parse(script), 1);
        ASSERT_TRUE(ReleaseJournalOpen(productKey.c_str()));
        PrepareRemoval(session.context(), db.handle(), PREPARE_AGAIN | PREPARE_NO_IN_USE_TEST | PREPARE_EXPAND);
        SetDatabaseFlags(db.handle(), DATABASE_PROCESSED, 1);
        EXPECT_GE(ExecuteUninstall(session.context(), db.handle(), passes), 0);
        ReleaseJournalClose(complete);
    };
    removeOnce(PASS_QUERY | PASS_COMPONENTS, false); // ended after the counts were lowered
    for (const std::string& f : files) {
        EXPECT_EQ(p.Dll(f), 2u) << f.substr(f.size() - 20);
    }
    auto recorded = [&] {
        RegKeyHandle suite(OpenRegKeyRead(HKEY_LOCAL_MACHINE, p.suite.c_str()));
        DWORD size = 0;
        return RegQueryValueExA(suite.get(), "UninstallReleasedShares", nullptr, nullptr, nullptr, &size) ==
                       ERROR_SUCCESS
                   ? size
                   : 0;
    };
    EXPECT_GT(recorded(), 1250u); // three entries, two of them of 600 characters and more
    // The product's key is about to go: the record makes way only when it is all the key holds.
    SetStringValue(HKEY_LOCAL_MACHINE, p.suite, "Other", "1");
    ASSERT_TRUE(ReleaseJournalOpen(productKey.c_str()));
    ReleaseJournalYield(productKey.c_str());
    EXPECT_GT(recorded(), 1250u);
    ReleaseJournalClose(false);
    RemoveTestValue(RegKeyHandle(OpenRegKeyWrite(HKEY_LOCAL_MACHINE, p.suite.c_str())).get(), "Other");
    // Run again to the end, the product's key kept: the counts stand and the record goes with the
    // complete removal (a later removal of a new installation must lower them again).
    removeOnce(ALL_PASSES & ~PASS_REGKEYS, true);
    for (const std::string& f : files) {
        EXPECT_EQ(p.Dll(f), 2u) << f.substr(f.size() - 20);
    }
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, p.suite));
    EXPECT_EQ(recorded(), 0u);
    EXPECT_FALSE(ReleaseJournalOpen("HKEY_LOCAL_MACHINE\\SOFTWARE\\UninstNoSuchVendor\\Suite"));
}

TEST(SharedObjectsTest, ACounterWhoseCountThisRunNeverReadKeepsItsStoredCount)
{
    // A counter the script names by itself: no shared object of this run read its count, so the count
    // stored is another product's, and stays as it is.
    EngineScope engine;
    SessionScope session;
    SharingProduct p;
    std::string file = p.folder / "theirs.dll";
    p.SetCounter("Shared Files", file, "2");
    TestDatabase db("TEST", "C:\\Source\\", UninstallCallback);
    ASSERT_EQ(db.Parse(p.Header() +
                       "_regkey=SHARING_HKEY /_REMOVABLE;\r\n"
                       "_regkey=SHARING_HKEY_FILES /_PARENT SHARING_HKEY /_TARGETPATH \"Shared Files\";\r\n"
                       "_regitem=THEIRS /_PARENT SHARING_HKEY_FILES /_TARGETPATH \"" +
                       ScriptPath(file) + "\" /_REMOVABLE /_COUNTER;\r\n"),
              1);
    EXPECT_GE(RemoveAll(db.handle()), 0);
    EXPECT_EQ(p.Counter("Shared Files", file), 2u);
}
