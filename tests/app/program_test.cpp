// The real uninstaller, started as a process of its own under Wine.
#include "kit/uninstall_kit.h"

#include <shellapi.h>

TEST(ProgramTest, BothBuildsAreGuiPrograms)
{
    // The program beside the tests is of their own build; the shipped one is the 32-bit build beside it.
    const std::pair<std::string, DWORD> builds[] = {
        {TestProgramFolder() + "Uninst.exe", sizeof(void*) == 8 ? SCS_64BIT_BINARY : SCS_32BIT_BINARY},
        {TestProgramFolder() + "..\\i686\\Uninst.exe", SCS_32BIT_BINARY}};
    for (const auto& build : builds) {
        SCOPED_TRACE(build.first);
        DWORD type = 99;
        EXPECT_TRUE(GetBinaryTypeA(build.first.c_str(), &type));
        EXPECT_EQ(type, build.second);
        // A windowed program: "PE" in the low word, the Windows version it needs in the high one (0 for a
        // console program).
        SHFILEINFOA info;
        DWORD_PTR kind = SHGetFileInfoA(build.first.c_str(), 0, &info, sizeof(info), SHGFI_EXETYPE);
        EXPECT_EQ(LOWORD(kind), 0x4550);
        EXPECT_NE(HIWORD(kind), 0);
    }
}

TEST(ProgramTest, WithoutAProductConfigurationItEndsQuietlyWithZero)
{
    const std::string exe = TestProgramFolder() + "Uninst.exe";
    const std::string lines[] = {
        "",
        "/KILL",
        "1234 \"C:\\NoSuchProduct\\\"",
        "/DLLSHARING",
        "/DLLSHARING \"HKEY_LOCAL_MACHINE\\Software\\NoSuchList\"",
        // As long as a command line may be (32767 characters with the program's path).
        std::string(32000, 'x'),
        "\"" + std::string(31000, 'q') + "\" /" + std::string(300, 'W'),
    };
    for (const std::string& line : lines) {
        SCOPED_TRACE(line.substr(0, 60));
        UninstallRun run = RunUninstaller(exe, line, true, nullptr, 30000);
        EXPECT_EQ(run.phaseOneExit, 0u); // a run ended at the time-out gives 98
        EXPECT_EQ(run.windowsSeen, 0u);
    }
}
