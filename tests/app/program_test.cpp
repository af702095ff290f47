// The real uninstaller, started as a process of its own under Wine.
#include "kit/uninstall_kit.h"

#include <shellapi.h>
#include <string.h>
#include <zlib.h>

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

TEST(ProgramTest, TheProgramShipsStrippedWithItsSymbolsBesideIt)
{
    const std::string folders[] = {TestProgramFolder(), TestProgramFolder() + "..\\i686\\"};
    for (const std::string& folder : folders) {
        SCOPED_TRACE(folder);
        std::string program = ReadFileBytes(folder + "Uninst.exe"),
                    symbols = ReadFileBytes(folder + "Uninst.exe.debug");
        ASSERT_GT(program.size(), 0u);
        EXPECT_LE(program.size(), 1024u * 1024u);
        // The symbols are beside it, and the program's debug link names them with their checksum.
        EXPECT_EQ(program.find(".debug_info"), std::string::npos);
        EXPECT_NE(symbols.find(".debug_info"), std::string::npos);
        size_t link = program.find(std::string("Uninst.exe.debug\0", 17));
        ASSERT_NE(link, std::string::npos);
        size_t at = (link + 17 + 3) & ~static_cast<size_t>(3);
        ASSERT_LE(at + 4, program.size());
        uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(symbols.data()), static_cast<uInt>(symbols.size()));
        UINT32 stored = 0;
        memcpy(&stored, program.data() + at, 4);
        EXPECT_EQ(stored, static_cast<UINT32>(crc));
        // The stack protector is in: its guard is among the symbols.
        EXPECT_NE(symbols.find("__stack_chk_guard"), std::string::npos);
        // A random base and no execution of data, the version and the manifest kept.
        const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(program.data());
        ASSERT_LT(static_cast<size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS32), program.size());
        const IMAGE_NT_HEADERS32* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(program.data() + dos->e_lfanew);
        // The field stands at the same place in both headers.
        WORD characteristics = nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC
                                   ? reinterpret_cast<const IMAGE_NT_HEADERS64*>(nt)->OptionalHeader.DllCharacteristics
                                   : nt->OptionalHeader.DllCharacteristics;
        EXPECT_EQ(characteristics & (IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE | IMAGE_DLLCHARACTERISTICS_NX_COMPAT),
                  IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE | IMAGE_DLLCHARACTERISTICS_NX_COMPAT);
        EXPECT_EQ(nt->FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED, 0);
        HMODULE image = LoadLibraryExA((folder + "Uninst.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(image, nullptr);
        EXPECT_NE(FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)), nullptr); // the manifest
        EXPECT_NE(FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16)), nullptr); // the version
        FreeLibrary(image);
    }
}
