// The real uninstaller, started as a process of its own under Wine.
#include "kit/uninstall_kit.h"

namespace {

// Machine and subsystem of a PE file, read from its headers.
bool ReadPeKind(const std::string& path, WORD* machine, WORD* subsystem)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    IMAGE_DOS_HEADER dos = {};
    IMAGE_NT_HEADERS32 nt = {};
    DWORD got = 0;
    bool ok = ReadFile(file, &dos, sizeof(dos), &got, nullptr) && got == sizeof(dos) &&
              dos.e_magic == IMAGE_DOS_SIGNATURE &&
              SetFilePointer(file, dos.e_lfanew, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
              ReadFile(file, &nt, sizeof(nt), &got, nullptr) && got == sizeof(nt) && nt.Signature == IMAGE_NT_SIGNATURE;
    CloseHandle(file);
    if (ok) {
        *machine = nt.FileHeader.Machine;
        // The subsystem sits at the same offset in the 32- and 64-bit optional headers.
        *subsystem = nt.OptionalHeader.Subsystem;
    }
    return ok;
}

} // namespace

TEST(ProgramTest, BothBuildsAreGuiPrograms)
{
    WORD machine = 0, subsystem = 0;
    ASSERT_TRUE(ReadPeKind(TestProgramFolder() + "Uninst.exe", &machine, &subsystem));
    // The program beside the tests is of their own build.
#ifdef _WIN64
    EXPECT_EQ(machine, IMAGE_FILE_MACHINE_AMD64);
#else
    EXPECT_EQ(machine, IMAGE_FILE_MACHINE_I386);
#endif
    EXPECT_EQ(subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    // The shipped program is the 32-bit build beside this one.
    ASSERT_TRUE(ReadPeKind(TestProgramFolder() + "..\\i686\\Uninst.exe", &machine, &subsystem));
    EXPECT_EQ(machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
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
