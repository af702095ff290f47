// The executor on real files, folders and registry entries, databases loaded from script texts.
#include "engine/executor.h"
#include "engine/prepare.h"
#include "kit/database_kit.h"
#include "kit/testkit.h"
#include "support/reg_keys.h"
#include "support/report.h"
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Escaped(const std::string& path)
{
    std::string out;
    for (char c : path) {
        out += c == '\\' ? "\\\\" : std::string(1, c);
    }
    return out;
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

TEST(ExecutorTest, Smoke)
{
    EngineScope engine;
    TestFolder folder;
    CreateDirectoryA((folder / "app").c_str(), nullptr);
    CreateDirectoryA((folder / "app\\bin").c_str(), nullptr);
    WriteFileBytes(folder / "app\\bin\\main.exe", "main");
    WriteFileBytes(folder / "app\\bin\\lib.dll", "lib");
    SetFileAttributesA((folder / "app\\bin\\lib.dll").c_str(), FILE_ATTRIBUTE_READONLY);
    std::string key = "SOFTWARE\\UninstExec" + std::to_string(GetCurrentProcessId());
    HKEY k = CreateRegKey(HKEY_CURRENT_USER, (key + "\\App").c_str());
    SetRegString(k, "V1", "one");
    CloseRegKey(k);
    TestDatabase db("EXEC", "C:\\Source\\");
    std::string script = "_dir=APPDIR /_TARGETPATH \"" + Escaped(folder.path()) +
                         "app\" /_REMOVABLE;\r\n"
                         "_dir=BIN /_PARENT APPDIR /_TARGETPATH bin /_REMOVABLE;\r\n"
                         "_file=MAIN /_PARENT BIN /_TARGETPATH main.exe /_REMOVABLE;\r\n"
                         "_file=LIB /_PARENT BIN /_TARGETPATH lib.dll /_REMOVABLE;\r\n"
                         "_regkey=APPKEY /_PARENT HKEY_USER_SOFTWARE /_TARGETPATH \"UninstExec" +
                         std::to_string(GetCurrentProcessId()) +
                         "\\\\App\" /_REMOVABLE;\r\n"
                         "_regitem=V1 /_PARENT APPKEY /_REMOVABLE;\r\n";
    ASSERT_EQ(db.Parse(script), 1);
    ReportOpen((folder / "report.txt").c_str());
    int prepared = PrepareRemoval(0, db.handle(), 0x3023);
    printf("prepared %d\n", prepared);
    SetDatabaseFlags(db.handle(), DATABASE_PROCESSED, 1);
    int result = ExecuteUninstall(0, db.handle(), ALL_PASSES);
    printf("result %d\n", result);
    ReportClose();
    std::ifstream in(folder / "report.txt");
    std::stringstream ss;
    ss << in.rdbuf();
    printf("%s\n", ss.str().c_str());
    EXPECT_GE(result, 0);
    EXPECT_FALSE(Exists(folder / "app\\bin\\main.exe"));
    EXPECT_FALSE(Exists(folder / "app\\bin\\lib.dll"));
    EXPECT_FALSE(Exists(folder / "app"));
    HKEY opened = OpenRegKeyRead(HKEY_CURRENT_USER, key.c_str());
    EXPECT_EQ(opened, nullptr);
    CloseRegKey(opened);
    DeleteRegKeyTree(HKEY_CURRENT_USER, key.c_str(), 0, 1);
}
