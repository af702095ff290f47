// The deletion gate on the real file system and registry of the prefix: paths judged as the system
// sees them, protected places and keys refused whatever the spelling, links never followed.
#include "system/deletion_gate.h"
#include "system/nt_files.h"
#include "system/system_state.h"

#include "kit/uninstall_kit.h"

namespace {

std::string Normalised(const std::string& path, GateVerdict* verdict)
{
    HeapText normal(GateNormalisePath(path.c_str(), verdict));
    return normal ? normal.get() : "";
}

bool Refused(const GateResult& r, GateVerdict verdict)
{
    return r.outcome == GATE_REFUSED && r.verdict == verdict;
}

} // namespace

TEST(GateTest, PathsAreJudgedAsTheSystemSeesThem)
{
    TestFolder folder;
    MakeTestTree(folder.path(), {"a long folder name\\", "a long folder name\\file.txt"});
    std::string longFolder = folder / "a long folder name";
    std::string alias = ShortForm(longFolder);
    struct Row {
        std::string path;
        GateVerdict verdict;
        std::string normal;
    } const rows[] = {
        {"victim.txt", GATE_NOT_FULL_PATH, ""},
        {"C:relative\\x", GATE_NOT_FULL_PATH, ""},
        {"C:\\x\\file.txt:stream", GATE_NOT_FULL_PATH, ""},
        {"C:\\x\\*.txt", GATE_NOT_FULL_PATH, ""},
        {"C:\\x\\NUL", GATE_DEVICE, ""},
        {"C:\\x\\com1.log", GATE_DEVICE, ""},
        {"C:\\x\\Con .txt", GATE_DEVICE, ""},
        {"\\\\.\\PhysicalDrive0", GATE_DEVICE, ""},
        {"\\\\?\\C:\\x", GATE_DEVICE, ""},
        {"C:\\users.", GATE_ALLOWED, "C:\\users"},
        {"C:/users/./x/../y. .", GATE_ALLOWED, "C:\\users\\y"},
        {"C:\\..\\..\\users", GATE_ALLOWED, "C:\\users"},
        {"\\\\server\\share\\dir\\", GATE_ALLOWED, "\\\\server\\share\\dir"},
        // This machine's shares are the places they reach, or refused.
        {"\\\\localhost\\c$\\users\\x", GATE_ALLOWED, "C:\\users\\x"},
        {"\\\\127.0.0.1\\C$\\windows", GATE_ALLOWED, "C:\\windows"},
        {"\\\\LOCALHOST\\Users\\x", GATE_THROUGH_LINK, ""},
        {alias + "\\file.txt", GATE_ALLOWED, longFolder + "\\file.txt"},
        {alias + "\\missing\\deeper", GATE_ALLOWED, longFolder + "\\missing\\deeper"},
    };
    ASSERT_NE(alias.find('~'), std::string::npos) << alias;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.path);
        GateVerdict verdict = GATE_PROTECTED;
        EXPECT_EQ(Normalised(r.path, &verdict), r.normal);
        EXPECT_EQ(verdict, r.verdict);
    }
    // What is refused is never touched.
    WriteFileBytes(folder / "victim.txt", "x");
    SetCurrentDirectoryA(folder.path().c_str());
    EXPECT_TRUE(Refused(GateDeleteFile("victim.txt", 0), GATE_NOT_FULL_PATH));
    EXPECT_TRUE(Refused(GateDeleteFolder("\\", GATE_RECURSIVE, nullptr), GATE_NOT_FULL_PATH));
    SetCurrentDirectoryA(WindowsPath().c_str());
    EXPECT_TRUE(PathExists(folder / "victim.txt"));
}

TEST(GateTest, ProtectedPlacesStayWhateverTheSpelling)
{
    std::string programData = SpecialFolder(CSIDL_COMMON_APPDATA);
    programData.pop_back();
    std::string temp = TempDirectory();
    std::string inTree = WindowsPath("\\Fonts\\uninst-test-") + std::to_string(GetCurrentProcessId());
    std::string deepInTree = WindowsPath("\\system32\\uninst-test-") + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(deepInTree.c_str(), nullptr);
    MakeTestTree(deepInTree + "\\", {"deeper\\", "deeper\\found.dll"});
    CreateDirectoryA(inTree.c_str(), nullptr);
    const std::string places[] = {inTree,
                                  deepInTree + "\\deeper",
                                  "C:\\",
                                  "C:\\\\users",
                                  ShortForm(programData),
                                  programData,
                                  WindowsPath(),
                                  WindowsPath("\\system32"),
                                  SpecialFolder(CSIDL_PROGRAM_FILES),
                                  SpecialFolder(CSIDL_PERSONAL),
                                  SpecialFolder(CSIDL_PROGRAMS),
                                  temp,
                                  temp + "..\\",
                                  SpecialFolder(CSIDL_PROFILE) + "AppData\\Local\\Temp\\..\\.."};
    for (const std::string& place : places) {
        SCOPED_TRACE(place);
        ASSERT_FALSE(place.empty());
        EXPECT_TRUE(Refused(GateDeleteFolder(place.c_str(), GATE_RECURSIVE, nullptr), GATE_PROTECTED));
        EXPECT_TRUE(Refused(GateScheduleDeletion(place.c_str()), GATE_PROTECTED));
        EXPECT_TRUE(PathExists(place));
    }
    RemoveDirectoryA(inTree.c_str());
    // What a wildcard found deep in such a tree stays too.
    EXPECT_TRUE(Refused(GateDeleteFile((deepInTree + "\\deeper\\found.dll").c_str(), GATE_FOUND), GATE_PROTECTED));
    DeleteFileA((deepInTree + "\\deeper\\found.dll").c_str());
    RemoveDirectoryA((deepInTree + "\\deeper").c_str());
    RemoveDirectoryA(deepInTree.c_str());
    // A product's own folder below a place goes; a file found (not named) in a place stays, a named one
    // goes.
    TestFolder product;
    MakeTestTree(product.path(), {"sub\\", "sub\\f.txt"});
    EXPECT_EQ(GateDeleteFolder((product / "sub").c_str(), GATE_RECURSIVE, nullptr).outcome, GATE_DONE);
    EXPECT_EQ(GateDeleteFile((product / "gone.txt").c_str(), GATE_FOUND).outcome, GATE_ABSENT);
    std::string found = temp + "uninst-found-" + std::to_string(GetCurrentProcessId()) + ".txt";
    WriteFileBytes(found, "x");
    EXPECT_TRUE(Refused(GateDeleteFile(found.c_str(), GATE_FOUND), GATE_PROTECTED));
    EXPECT_TRUE(PathExists(found));
    EXPECT_EQ(GateDeleteFile(found.c_str(), 0).outcome, GATE_DONE);
    EXPECT_FALSE(PathExists(found));
    GateRelease();
}

TEST(GateTest, TreesGoWithoutFollowingLinksAndHeldFoldersCannotBeSwapped)
{
    TestFolder folder;
    std::string deep = "tree\\a b\\";
    std::vector<std::string> entries = {"tree\\",    "tree\\ro.txt",      "tree\\sys.txt", "tree\\a b\\",
                                        "outside\\", "outside\\keep.txt", "empty\\",       "victim.txt"};
    for (int i = 0; i < 12; i++) {
        deep += "d" + std::to_string(i) + "\\";
        entries.push_back(deep);
    }
    entries.push_back(deep + "last.txt");
    MakeTestTree(folder.path(), entries);
    SetFileAttributesA((folder / "tree\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA((folder / "tree\\sys.txt").c_str(), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN);
    std::string tree = folder / "tree";
    EXPECT_EQ(GateDeleteFolder(tree.c_str(), 0, nullptr).error, static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    EXPECT_TRUE(PathExists(folder / (deep + "last.txt")));

    // Links inside the tree, to a folder, to an empty folder and to a file: what they lead to stays.
    ASSERT_TRUE(MakeUnixLink(folder / "outside", folder / "tree\\link"));
    ASSERT_TRUE(MakeUnixLink(folder / "empty", folder / "tree\\void"));
    ASSERT_TRUE(MakeUnixLink(folder / "victim.txt", folder / "tree\\a b\\file link.txt"));
    // Anything reached through the link is refused, and so is the link as a folder of its own.
    for (const char* below : {"tree\\link\\keep.txt", "tree\\link"}) {
        SCOPED_TRACE(below);
        EXPECT_TRUE(Refused(GateDeleteFile((folder / below).c_str(), 0), GATE_THROUGH_LINK));
        EXPECT_TRUE(Refused(GateScheduleDeletion((folder / below).c_str()), GATE_THROUGH_LINK));
    }
    EXPECT_TRUE(Refused(GateDeleteFolder((folder / "tree\\link").c_str(), GATE_RECURSIVE, nullptr), GATE_THROUGH_LINK));
    EXPECT_TRUE(Refused(GateDeleteFolder(tree.c_str(), GATE_RECURSIVE, nullptr), GATE_THROUGH_LINK));
    for (const char* kept : {"outside\\keep.txt", "empty", "victim.txt"}) {
        EXPECT_TRUE(PathExists(folder / kept)) << kept;
    }
    EXPECT_FALSE(PathExists(folder / "tree\\ro.txt"));
    EXPECT_FALSE(PathExists(folder / (deep + "last.txt")));
    RemoveUnixLink(folder / "tree\\link");
    RemoveUnixLink(folder / "tree\\void");
    RemoveUnixLink(folder / "tree\\a b\\file link.txt");
    EXPECT_EQ(GateDeleteFolder(tree.c_str(), GATE_RECURSIVE, nullptr).outcome, GATE_DONE);
    EXPECT_FALSE(PathExists(tree));

    // A folder the gate deleted in stays held: it cannot be renamed away (and a link put in its place)
    // until the gate lets go.
    MakeTestTree(folder.path(), {"held\\", "held\\a.txt", "held\\b.txt"});
    EXPECT_EQ(GateDeleteFile((folder / "held\\a.txt").c_str(), 0).outcome, GATE_DONE);
    EXPECT_FALSE(MoveFileA((folder / "held").c_str(), (folder / "moved").c_str()));
    GateRelease();
    EXPECT_TRUE(MoveFileA((folder / "held").c_str(), (folder / "moved").c_str()));

    // The climb: the folder, then each parent left empty, never the stop or above it.
    MakeTestTree(folder.path(), {"a\\", "a\\keep.txt", "a\\b\\", "a\\b\\c\\", "a\\b\\c\\d\\"});
    EXPECT_EQ(GateDeleteFolder((folder / "a\\b\\c\\d").c_str(), GATE_CLIMB, folder.path().c_str()).outcome, GATE_DONE);
    EXPECT_FALSE(PathExists(folder / "a\\b"));
    EXPECT_TRUE(PathExists(folder / "a\\keep.txt"));
    DeleteFileA((folder / "a\\keep.txt").c_str());
    MakeTestTree(folder.path(), {"a\\b\\"});
    EXPECT_EQ(GateDeleteFolder((folder / "a\\b").c_str(), GATE_CLIMB, (folder / "a").c_str()).outcome, GATE_DONE);
    EXPECT_TRUE(PathExists(folder / "a"));
    EXPECT_EQ(GateDeleteFolder((folder / "missing").c_str(), 0, nullptr).outcome, GATE_ABSENT);
    // A file whose path leads to a folder deletes an empty folder at most, never a tree.
    MakeTestTree(folder.path(), {"named\\", "named\\in.txt", "hollow\\"});
    EXPECT_NE(GateDeleteFile((folder / "named").c_str(), 0).outcome, GATE_DONE);
    EXPECT_TRUE(PathExists(folder / "named\\in.txt"));
    EXPECT_EQ(GateDeleteFile((folder / "hollow").c_str(), 0).outcome, GATE_DONE);
    EXPECT_FALSE(PathExists(folder / "hollow"));

    // Restart deletions of what is plain are recorded under the normalised path.
    WriteFileBytes(folder / "later.txt", "x");
    EXPECT_EQ(GateScheduleDeletion((folder.path() + ".\\\\later.txt").c_str()).outcome, GATE_DONE);
    EXPECT_GE(ScheduledForRestart(folder / "later.txt"), 0);
    // Taken back once it is not needed: that entry alone, the list's pairs whole.
    WriteFileBytes(folder / "other.txt", "x");
    EXPECT_EQ(GateScheduleDeletion((folder / "later.txt").c_str()).outcome, GATE_DONE);
    EXPECT_EQ(GateScheduleDeletion((folder / "other.txt").c_str()).outcome, GATE_DONE);
    EXPECT_EQ(WithdrawRestartDeletion((folder / "later.txt").c_str()), 1);
    EXPECT_GE(ScheduledForRestart(folder / "later.txt"), 0);
    EXPECT_EQ(ScheduledForRestart(folder / "other.txt") % 2, 0); // still a path to delete, not a new name
    EXPECT_EQ(WithdrawRestartDeletion((folder / "later.txt").c_str()), 1);
    EXPECT_EQ(ScheduledForRestart(folder / "later.txt"), -1);
    EXPECT_EQ(WithdrawRestartDeletion((folder / "later.txt").c_str()), 0);

    // The same path below another drive's root is another place: a link from this drive to it is a link.
    const std::string name = "uninst-volume-" + std::to_string(GetCurrentProcessId());
    MakeTestTree("U:\\", {name + "\\", name + "\\f.txt"});
    ASSERT_TRUE(MakeUnixLink("U:\\" + name, "C:\\" + name));
    EXPECT_TRUE(Refused(GateDeleteFile(("C:\\" + name + "\\f.txt").c_str(), 0), GATE_THROUGH_LINK));
    EXPECT_TRUE(PathExists("U:\\" + name + "\\f.txt"));
    RemoveUnixLink("C:\\" + name);
    DeleteFileA(("U:\\" + name + "\\f.txt").c_str());
    RemoveDirectoryA(("U:\\" + name).c_str());
    GateRelease();
}

TEST(GateTest, ReportsOpenOnlyAsPlainFilesReachedWithoutLinks)
{
    TestFolder folder;
    MakeTestTree(folder.path(), {"real\\", "target.txt", "twice.log"});
    ASSERT_TRUE(MakeUnixLink(folder / "real", folder / "linked"));
    ASSERT_TRUE(CreateHardLinkA((folder / "real\\other name.log").c_str(), (folder / "twice.log").c_str(), nullptr));
    ASSERT_TRUE(MakeUnixLink(folder / "target.txt", folder / "file link.log"));
    struct Row {
        std::string path;
        GateVerdict verdict;
    } const rows[] = {
        {"NUL", GATE_NOT_FULL_PATH},
        {folder / "NUL", GATE_DEVICE},
        {folder / "con.log", GATE_DEVICE},
        {folder / "linked\\report.log", GATE_THROUGH_LINK},
        {folder / "file link.log", GATE_THROUGH_LINK},
        {folder / "twice.log", GATE_THROUGH_LINK}, // a second name of it lies elsewhere
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.path);
        GateVerdict verdict = GATE_ALLOWED;
        EXPECT_EQ(GateOpenForAppend(r.path.c_str(), &verdict), nullptr);
        EXPECT_EQ(verdict, r.verdict);
    }
    EXPECT_FALSE(PathExists(folder / "real\\report.log"));
    EXPECT_EQ(ReadFileBytes(folder / "target.txt"), "content of target.txt");
    GateVerdict verdict = GATE_PROTECTED;
    HANDLE report = GateOpenForAppend((folder / "report.log").c_str(), &verdict);
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(verdict, GATE_ALLOWED);
    CloseHandle(report);
    EXPECT_TRUE(PathExists(folder / "report.log"));
    RemoveUnixLink(folder / "linked");
    RemoveUnixLink(folder / "file link.log");
    GateRelease();
}

TEST(GateTest, KeysTheSystemOwnsStayAndRegistryLinksAreNeverFollowed)
{
    struct Row {
        const char* path;
        GateVerdict verdict;
    } const judged[] = {
        {"HKEY_CURRENT_USER", GATE_PROTECTED_KEY},
        {"HKCU\\\\software\\", GATE_PROTECTED_KEY},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE", GATE_PROTECTED_KEY},
        {"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Vendor", GATE_PROTECTED_KEY},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion", GATE_PROTECTED_KEY},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", GATE_PROTECTED_KEY},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID", GATE_PROTECTED_KEY},
        {"HKEY_CLASSES_ROOT\\.txt", GATE_PROTECTED_KEY},
        {"HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\Policies", GATE_PROTECTED_KEY},
        {"HKEY_USERS\\S-1-5-21-0-0-0-1000_Classes\\Interface", GATE_PROTECTED_KEY},
        {"HKEY_CURRENT_USER\\Control Panel", GATE_PROTECTED_KEY},
        {"HKCU\\environment", GATE_PROTECTED_KEY},
        {"HKEY_USERS\\S-1-5-21-0-0-0-1000\\Console", GATE_PROTECTED_KEY},
        {"Software\\Vendor", GATE_NOT_FULL_PATH},
        {"HKEY_CURRENT_USER\\Software\\Vendor", GATE_ALLOWED},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vendor", GATE_ALLOWED},
        {"HKEY_CLASSES_ROOT\\CLSID\\{00000000-0000-0000-0000-000000000001}", GATE_ALLOWED},
    };
    for (const Row& r : judged) {
        EXPECT_EQ(GateJudgeKey(r.path), r.verdict) << r.path;
    }
    EXPECT_TRUE(Refused(GateDeleteRegKey(HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "Software", GATE_RECURSIVE),
                        GATE_PROTECTED_KEY));
    EXPECT_TRUE(
        Refused(GateDeleteRegKey(HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "", GATE_RECURSIVE), GATE_NOT_FULL_PATH));
    for (const char* name : {"", "\\", "..\\Run", "Vendor\\Sub"}) {
        EXPECT_TRUE(Refused(GateDeleteUninstallEntry(name), GATE_NOT_UNINSTALL_ENTRY)) << name;
    }

    // A product key holding a link to a key outside it, and a link of its own name.
    const std::string base = "Software\\UninstGate" + std::to_string(GetCurrentProcessId());
    const std::string sentinel = base + "Sentinel\\Deep";
    SetStringValue(HKEY_CURRENT_USER, sentinel, "keep", "1");
    SetStringValue(HKEY_CURRENT_USER, base + "\\App\\Tree\\Sub", "v", "1");
    ASSERT_TRUE(MakeRegistryLink(HKEY_CURRENT_USER, base + "\\App\\Tree\\Escape", base + "Sentinel"));
    ASSERT_TRUE(MakeRegistryLink(HKEY_CURRENT_USER, base + "\\Linked", base + "Sentinel"));
    RegKeyHandle parent(OpenRegKeyWrite(HKEY_CURRENT_USER, base.c_str()));
    std::string parentPath = "HKEY_CURRENT_USER\\" + base;
    EXPECT_TRUE(
        Refused(GateDeleteRegKey(parent.get(), parentPath.c_str(), "Linked\\Deep", GATE_RECURSIVE), GATE_THROUGH_LINK));
    EXPECT_EQ(GateDeleteRegKey(parent.get(), parentPath.c_str(), "Linked", GATE_RECURSIVE).outcome, GATE_DONE);
    EXPECT_EQ(GateDeleteRegKey(parent.get(), parentPath.c_str(), "App\\Tree", 0).error,
              static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    EXPECT_EQ(GateDeleteRegKey(parent.get(), parentPath.c_str(), "App\\Tree", GATE_RECURSIVE | GATE_CLIMB).outcome,
              GATE_DONE);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, sentinel));        // what the links led to is whole
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, base + "\\App")); // emptied, climbed
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, base));            // the parent stays
    EXPECT_EQ(GateDeleteRegKey(parent.get(), parentPath.c_str(), "App", 0).outcome, GATE_ABSENT);
    // The climb stops at a key the rules protect, even an empty one.
    const std::string guarded = "Software\\RegisteredApplications";
    bool guardedExisted = KeyExists(HKEY_CURRENT_USER, guarded);
    SetStringValue(HKEY_CURRENT_USER, guarded + base.substr(8) + "\\Sub", "v", "1");
    EXPECT_EQ(GateDeleteRegKey(HKEY_CURRENT_USER, "HKEY_CURRENT_USER", (guarded + base.substr(8) + "\\Sub").c_str(),
                               GATE_RECURSIVE | GATE_CLIMB)
                  .outcome,
              GATE_DONE);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, guarded + base.substr(8)));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, guarded));
    if (!guardedExisted) {
        RegDeleteKeyA(HKEY_CURRENT_USER, guarded.c_str());
    }

    // Keys opened by their path through a link (the preparation opens them so): nothing below them goes,
    // no value of theirs either.
    SetStringValue(HKEY_CURRENT_USER, base + "Sentinel\\Deep\\Parameters", "Start", "2");
    ASSERT_TRUE(MakeRegistryLink(HKEY_CURRENT_USER, base + "\\Settings", base + "Sentinel\\Deep"));
    RegKeyHandle settings(OpenRegKeyWrite(HKEY_CURRENT_USER, (base + "\\Settings").c_str()));
    RegKeyHandle parameters(OpenRegKeyWrite(HKEY_CURRENT_USER, (base + "\\Settings\\Parameters").c_str()));
    const std::string settingsPath = parentPath + "\\Settings";
    EXPECT_TRUE(Refused(GateDeleteRegKey(settings.get(), settingsPath.c_str(), "Parameters", GATE_RECURSIVE),
                        GATE_THROUGH_LINK));
    EXPECT_TRUE(Refused(GateDeleteRegValue(settings.get(), settingsPath.c_str(), "keep"), GATE_THROUGH_LINK));
    EXPECT_TRUE(Refused(GateDeleteRegValue(parameters.get(), (settingsPath + "\\Parameters").c_str(), "Start"),
                        GATE_THROUGH_LINK));
    RegKeyHandle deep(OpenRegKeyRead(HKEY_CURRENT_USER, (base + "Sentinel\\Deep\\Parameters").c_str()));
    EXPECT_EQ(RegQueryValueExA(deep.get(), "Start", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    // Values of keys the system owns stay; a product's own value goes.
    SetStringValue(HKEY_CURRENT_USER, "Environment", base.substr(9), "1");
    RegKeyHandle environment(OpenRegKeyWrite(HKEY_CURRENT_USER, "Environment"));
    EXPECT_TRUE(Refused(GateDeleteRegValue(environment.get(), "HKCU\\Environment", base.substr(9).c_str()),
                        GATE_PROTECTED_KEY));
    RemoveTestValue(environment.get(), base.substr(9));
    SetStringValue(HKEY_CURRENT_USER, base, "own", "1");
    EXPECT_EQ(GateDeleteRegValue(parent.get(), parentPath.c_str(), "own").outcome, GATE_DONE);
    // A key that holds a value named as a link's target, but is no link, is an ordinary key.
    SetStringValue(HKEY_CURRENT_USER, base + "\\Plain\\Inner", "v", "1");
    RegKeyHandle plain(OpenRegKeyWrite(HKEY_CURRENT_USER, (base + "\\Plain").c_str()));
    const wchar_t fakeTarget[] = L"\\Registry\\Machine\\Software";
    ASSERT_EQ(RegSetValueExW(plain.get(), L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(fakeTarget),
                             sizeof(fakeTarget) - sizeof(wchar_t)),
              ERROR_SUCCESS);
    plain.reset();
    EXPECT_EQ(GateDeleteRegKey(parent.get(), parentPath.c_str(), "Plain", GATE_RECURSIVE).outcome, GATE_DONE);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, base + "\\Plain"));
    settings.reset();
    parameters.reset();
    deep.reset();
    environment.reset();
    parent.reset();
    RemoveTestKey(HKEY_CURRENT_USER, base);
    RemoveTestKey(HKEY_CURRENT_USER, base + "Sentinel");
}

TEST(GateTest, TheTestPrefixKeepsToItself)
{
    // A test that goes wrong can only harm the prefix (and the build tree it lies in): its user folders
    // are its own, and no drive leads to this machine's root.
    for (int csidl :
         {CSIDL_DESKTOPDIRECTORY, CSIDL_PERSONAL, CSIDL_MYPICTURES, CSIDL_MYMUSIC, CSIDL_MYVIDEO, CSIDL_TEMPLATES}) {
        std::string folder = SpecialFolder(csidl);
        DWORD attributes = GetFileAttributesA(folder.c_str());
        EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES) << folder;
        EXPECT_FALSE(attributes & FILE_ATTRIBUTE_REPARSE_POINT) << folder;
    }
    DWORD drives = GetLogicalDrives();
    for (char letter = 'A'; letter <= 'Z'; letter++) {
        if (drives & (1u << (letter - 'A'))) {
            EXPECT_NE(ToUnixPath(std::string(1, letter) + ":\\"), "/") << letter;
        }
    }
}

TEST(GateTest, ADriveThatMapsAFolderIsThatFolderAndALinkBehindItStaysALink)
{
    // A drive defined as SUBST and a network drive define it: by a folder of another drive, by a share's
    // folder. (Wine keeps the definitions, but opens no file through such a drive, so the handles below
    // are opened by the folder's own path and judged as reached through the drive.)
    TestFolder folder;
    MakeTestTree(folder.path(), {"mapped\\", "mapped\\f.txt", "elsewhere\\", "elsewhere\\f.txt"});
    ASSERT_TRUE(MakeUnixLink(folder / "elsewhere", folder / "linked"));
    char letter = 'Q';
    while (letter < 'Z' && (GetLogicalDrives() & (1u << (letter - 'A')))) {
        letter++;
    }
    const std::string drive = std::string(1, letter) + ":";
    const std::wstring wideDrive(drive.begin(), drive.end());
    auto wide = [](const std::string& text) { return std::wstring(text.begin(), text.end()); };
    KernelHandle file(CreateFileA((folder / "mapped\\f.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    KernelHandle behindLink(CreateFileA((folder / "elsewhere\\f.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file && behindLink);

    ASSERT_TRUE(DefineDosDeviceA(0, drive.c_str(), (folder / "mapped").c_str()));
    EXPECT_EQ(NtDriveTarget(wideDrive[0]), wide(folder / "mapped"));
    EXPECT_TRUE(NtReachedByPath(file.get(), wideDrive + L"\\f.txt"));
    EXPECT_FALSE(NtReachedByPath(file.get(), wideDrive + L"\\other.txt"));
    DefineDosDeviceA(DDD_REMOVE_DEFINITION, drive.c_str(), nullptr);
    ASSERT_TRUE(DefineDosDeviceA(0, drive.c_str(), (folder / "linked").c_str()));
    EXPECT_FALSE(NtReachedByPath(behindLink.get(), wideDrive + L"\\f.txt")); // the link on the way
    DefineDosDeviceA(DDD_REMOVE_DEFINITION, drive.c_str(), nullptr);

    const std::string redirected = "\\Device\\LanmanRedirector\\;" + drive + "0000000000012345\\server\\share\\sub";
    ASSERT_TRUE(DefineDosDeviceA(DDD_RAW_TARGET_PATH, drive.c_str(), redirected.c_str()));
    EXPECT_EQ(NtDriveTarget(wideDrive[0]), L"\\\\server\\share\\sub");
    DefineDosDeviceA(DDD_REMOVE_DEFINITION, drive.c_str(), nullptr);
    EXPECT_EQ(NtDriveTarget(L'C'), L""); // a volume of its own
    EXPECT_EQ(NtDriveTarget(wideDrive[0]), L"");
    file.reset();
    behindLink.reset();
    RemoveUnixLink(folder / "linked");
}
