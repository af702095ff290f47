#include "system/shell_item.h"
#include "kit/database_kit.h"
#include "script/object_keys.h"
#include "script/object_text.h"

#include <iterator>
#include <sstream>

TEST(BuiltInsTest, EveryDatabaseStartsWithTheBuiltInObjectsInOrder)
{
    EngineScope engine;
    TestDatabase db;
    // The built-in objects, in the order every database holds them.
    std::istringstream order("STARTMENU USERSTARTMENU STARTGROUPS USERSTARTGROUPS DESKTOP USERDESKTOP "
                             "HKEY_CLASSES_ROOT HKEY_USERS HKEY_LOCAL_MACHINE HKEY_SOFTWARE HKEY_CURRENT_USER "
                             "HKEY_USER_SOFTWARE WINDIR PROGFILES WINSYS PARENT_HKEY PROJECT_HKEY SHARING_HKEY "
                             "PRODUCT_HKEY GROUP USER COMPANY EXE DIR SOURCE PRODUCT VERSION PROJECT PROJECT_DIR "
                             "REMOVE SETUP LANGUAGE PROGMAN_GROUP PRODUCT_LOCATION PROJECT_LOCATION");
    std::vector<std::string> expected{std::istream_iterator<std::string>(order), {}};
    std::vector<std::string> names;
    ObjectDatabase* d = LockObjectDatabase(db.handle());
    UINT_PTR v = 0;
    for (int ok = ListFirst(d->objects, &v, 0); ok; ok = ListNext(d->objects, v, &v, 0, 0)) {
        names.push_back(reinterpret_cast<InstallObject*>(v)->name);
    }
    UnlockObjectDatabase(db.handle());
    EXPECT_EQ(names, expected);

    // Read-only roots and the product objects the script completes.
    InstallObject groups = db.Get("STARTGROUPS");
    ASSERT_NE(groups.handle, 0u);
    ShellItem folder, programs;
    ASSERT_EQ(ShellItemFromIdList(&folder, nullptr, reinterpret_cast<LPCITEMIDLIST>(groups.handle)), 1);
    ASSERT_EQ(ShellItemFromSpecialFolder(&programs, SHELL_COMMON_PROGRAMS), 1);
    EXPECT_STREQ(folder.path, programs.path);
    ShellItemFree(&folder);
    ShellItemFree(&programs);
    // Every database names each special folder as the shell does, the later ones too (a process asks
    // the shell once).
    TestDatabase second;
    const std::pair<const char*, UINT32> specials[] = {
        {"STARTMENU", SHELL_COMMON_STARTMENU},  {"USERSTARTMENU", SHELL_USER_STARTMENU},
        {"STARTGROUPS", SHELL_COMMON_PROGRAMS}, {"USERSTARTGROUPS", SHELL_USER_PROGRAMS},
        {"DESKTOP", SHELL_COMMON_DESKTOP},      {"USERDESKTOP", SHELL_USER_DESKTOP}};
    for (const TestDatabase* each : {&db, &second}) {
        for (const auto& special : specials) {
            SCOPED_TRACE(special.first);
            InstallObject o = each->Get(special.first);
            ShellItem named, asked;
            ASSERT_EQ(ShellItemFromIdList(&named, nullptr, reinterpret_cast<LPCITEMIDLIST>(o.handle)), 1);
            ASSERT_EQ(ShellItemFromSpecialFolder(&asked, special.second), 1);
            EXPECT_STREQ(named.path, asked.path);
            ShellItemFree(&named);
            ShellItemFree(&asked);
        }
    }
    EXPECT_EQ(db.Get("VERSION").flags, OBJECT_REGITEM | OBJECT_QUERY);

    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof(windows));
    EXPECT_EQ(db.Path("WINDIR"), std::string(windows) + "\\");
    // A product key not yet given a path by the script: HKEY_LOCAL_MACHINE\SOFTWARE\PARENT_HKEY...
    EXPECT_EQ(db.Path("VERSION"), "HKEY_LOCAL_MACHINE\\SOFTWARE\\PARENT_HKEY\\PROJECT_HKEY\\PRODUCT_HKEY\\VERSION");
    // The script cannot change the read-only ones; it completes the others.
    EXPECT_EQ(db.Parse("_dir=WINDIR /_TARGETPATH x;_regkey=PARENT_HKEY /_TARGETPATH Vendor;"), 1);
    EXPECT_EQ(db.Path("WINDIR"), std::string(windows) + "\\");
    EXPECT_EQ(db.Path("PROJECT_HKEY"), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\PROJECT_HKEY");
}

TEST(BuiltInsTest, TheProductTreeIsReadFromTheRegistry)
{
    EngineScope engine;
    const std::string vendor = "UninstVendor" + std::to_string(GetCurrentProcessId());
    const std::string app = "SOFTWARE\\" + vendor + "\\Suite\\App";
    SetStringValue(HKEY_LOCAL_MACHINE, app, "VERSION", "2.5");
    SetStringValue(HKEY_LOCAL_MACHINE, app, "REMOVE", "C:\\Program Files\\App\\Struct.cfg");
    SetDwordValue(HKEY_LOCAL_MACHINE, app, "SETUP", 7);

    TestDatabase db;
    ASSERT_EQ(
        db.Parse("_regkey=PARENT_HKEY /_TARGETPATH " + vendor +
                 ";_regkey=PROJECT_HKEY /_TARGETPATH Suite;"
                 "_regkey=PRODUCT_HKEY /_TARGETPATH App;_regitem=PRODUCT /_CONTENTS \"My App OBJECTFILE VERSION\";"),
        1);
    EXPECT_EQ(db.Path("VERSION"), "HKEY_LOCAL_MACHINE\\SOFTWARE\\" + vendor + "\\Suite\\App\\VERSION");

    char version[258] = {};
    DWORD size = sizeof(version), type = 0;
    EXPECT_EQ(QueryItemValueRead(db.Find("VERSION"), &type, reinterpret_cast<BYTE*>(version), &size, nullptr, nullptr),
              0);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_STREQ(version, "2.5");
    char* remove = ReadItemString(db.Find("REMOVE"));
    ASSERT_NE(remove, nullptr);
    EXPECT_STREQ(remove, "C:\\Program Files\\App\\Struct.cfg");
    MemFree(remove);
    EXPECT_EQ(ReadItemString(db.Find("SETUP")), nullptr); // a REG_DWORD is no string

    // A product key that does not exist: the error of the failed open.
    RemoveTestKey(HKEY_LOCAL_MACHINE, ("SOFTWARE\\" + vendor));
    EXPECT_EQ(QueryItemValueRead(db.Find("VERSION"), &type, nullptr, &size, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
}
