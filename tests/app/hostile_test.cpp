// Scripts that a buggy or careless setup could write, and a product folder that a standard user can
// write into, removed by the real program: every sentinel outside the product stays, the product's own
// objects go, each refusal is reported with its reason, and the exit code says the run was incomplete.
#include "app/relocation.h"
#include "kit/uninstall_kit.h"

#include <aclapi.h>
#include <sddl.h>

namespace {

const DWORD EXIT_INCOMPLETE = 1603;

std::string Pid()
{
    return std::to_string(GetCurrentProcessId());
}

// One hostile entry: what the script says, what must stay outside the product (files, folders, and
// keys as "HKLM\\..." or "HKCU\\..."), the report line's object name or a path it holds, and what that line
// ends with.
struct Row {
    std::string script;
    std::vector<std::string> kept;
    std::string object, reason;
};

// Sentinels of the machine outside the product, made before the run and removed after it.
class Sentinels {
  public:
    void File(const std::string& path)
    {
        std::string folder = path.substr(0, path.rfind('\\'));
        if (!PathExists(folder)) {
            folders_.push_back(folder); // made for the sentinel, and removed with it
        }
        WriteFileBytes(path, "not the product's");
        files_.push_back(path);
    }
    void Key(HKEY root, const std::string& path)
    {
        SetStringValue(root, path, "keep", "1");
        keys_.push_back({root, path});
    }
    ~Sentinels()
    {
        for (const std::string& f : files_) {
            DeleteFileA(f.c_str());
        }
        for (const std::string& f : folders_) {
            RemoveDirectoryA(f.c_str());
        }
        for (const auto& k : keys_) {
            RemoveTestKey(k.first, k.second);
        }
    }

  private:
    std::vector<std::string> files_, folders_;
    std::vector<std::pair<HKEY, std::string>> keys_;
};

bool StillThere(const std::string& sentinel)
{
    if (sentinel.rfind("HKLM\\", 0) == 0) {
        return KeyExists(HKEY_LOCAL_MACHINE, sentinel.substr(5));
    }
    if (sentinel.rfind("HKCU\\", 0) == 0) {
        return KeyExists(HKEY_CURRENT_USER, sentinel.substr(5));
    }
    return PathExists(sentinel);
}

// The staged product whose script holds every row's lines.
WholeProductSpec SpecOf(const std::vector<Row>& rows)
{
    WholeProductSpec spec;
    for (const Row& r : rows) {
        spec.extraScript += r.script + "\r\n";
    }
    return spec;
}

// Every row's sentinels stayed, and the report's line of its object ends with its reason.
void ExpectEachRow(const std::vector<Row>& rows, const std::string& report)
{
    for (const Row& r : rows) {
        SCOPED_TRACE(r.object);
        for (const std::string& k : r.kept) {
            EXPECT_TRUE(StillThere(k)) << k;
        }
        std::string line = ReportLineOf(report, r.object);
        EXPECT_NE(line.find(": " + r.reason), std::string::npos) << line << "\n" << report;
    }
}

} // namespace

TEST(HostileTest, NothingOutsideTheProductIsTouchedWhateverTheScriptSays)
{
    TestFolder outside;
    MakeTestTree(outside.path(), {"linked\\", "linked\\keep.txt", "escape\\", "escape\\keep.txt"});
    Sentinels s;
    const std::string p = Pid();
    std::string profile = SpecialFolder(CSIDL_PROFILE);
    const std::string users = profile.substr(0, profile.rfind('\\', profile.size() - 2)); // "C:\users"
    std::string programData = SpecialFolder(CSIDL_COMMON_APPDATA);
    programData.pop_back();
    const std::string marker = outside / "tool.marker";
    const std::string protectedKey = "kept: protected registry key", protectedPlace = "kept: protected location";
    const std::string userFile = users + "\\uninst-sentinel-" + p + ".txt";
    const std::string kill = "\" /_REMOVABLE /_KILLCHILDREN;";
    const std::vector<Row> rows = {
        {"_regkey=HK1 /_PARENT HKEY_CURRENT_USER /_TARGETPATH Software /_REMOVABLE /_KILLCHILDREN;",
         {"HKCU\\Software\\UninstSentinel" + p},
         "HK1",
         protectedKey},
        {"_regkey=HK3 /_PARENT HKEY_SOFTWARE /_TARGETPATH \"Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\" "
         "/_REMOVABLE /_KILLCHILDREN;",
         {"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\UninstSentinel" + p},
         "HK3",
         protectedKey},
        {"_file=BADUN /_PARENT APPDIR /_TARGETPATH badun.txt /_REMOVABLE /_UNINSTALL \"..\\\\Run\" x;",
         {"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"},
         "BADUN",
         "kept: not an entry of the Uninstall key"},
        {"_dir=PD1 /_TARGETPATH \"C:\\\\users." + kill, {userFile}, "PD1", protectedPlace},
        {"_dir=PD2 /_TARGETPATH \"" + ScriptPath("C:\\\\users") + kill, {userFile}, "PD2", protectedPlace},
        {"_dir=PD3 /_TARGETPATH \"" + ScriptPath(ShortForm(programData)) + kill,
         {programData + "\\uninst-sentinel-" + p + ".txt"},
         "PD3",
         protectedPlace},
        {"_file=ND1 /_TARGETPATH victim.txt /_REMOVABLE;",
         {SpecialFolder(CSIDL_DESKTOPDIRECTORY) + "victim.txt", WindowsPath("\\victim.txt")},
         "ND1",
         "kept: not a full path"},
        {"_dir=UNC1 /_TARGETPATH \"" + ScriptPath("\\\\localhost\\" + users.substr(0, 1) + "$" + users.substr(2)) +
             kill,
         {userFile},
         "UNC1",
         protectedPlace},
        {"_dir=KP1 /_TARGETPATH \"" + ScriptPath(users + "\\Public") + kill,
         {users + "\\Public\\uninst-sentinel-" + p + ".txt"},
         "KP1",
         protectedPlace},
        // Found files: a wildcard in a protected folder.
        {"_dir=WINDOWS2 /_TARGETPATH \"" + ScriptPath(WindowsPath("")) +
             "\";\r\n_file=WW /_PARENT WINDOWS2 /_TARGETMASK \"uninst-sentinel-*.ini\" /_REMOVABLE;",
         {WindowsPath("\\uninst-sentinel-" + p + ".ini")},
         WindowsPath("\\uninst-sentinel-" + p + ".ini"),
         protectedPlace},
        // Links out of the product's folder.
        {"_dir=LK /_PARENT APPDIR /_TARGETPATH linked /_REMOVABLE /_KILLCHILDREN;\r\n"
         "_file=LKF /_PARENT LK /_TARGETPATH keep.txt /_REMOVABLE;",
         {outside / "linked\\keep.txt"},
         "LKF",
         "kept: reached through a link"},
        {"_dir=TREE /_PARENT APPDIR /_TARGETPATH tree /_REMOVABLE /_KILLCHILDREN;",
         {outside / "escape\\keep.txt"},
         "TREE",
         "kept: reached through a link"},
        {"_file=DATS /_PARENT APPDIR /_TARGETMASK \"*.dat\" /_REMOVABLE;", {}, "APPDIR_A.DAT", "removed"},
        // A program whose path holds a blank, and a shorter one that would be run instead of it.
        {"_file=TOOLX /_PARENT APPDIR /_TARGETPATH toolx.exe /_REMOVABLE /_UNREGISTER \"C:\\\\My Prod " + p +
             "\\\\tool.exe 0 " + ScriptPath(marker) + "\";",
         {marker},
         "TOOLX",
         "removed"},
        // A name that would make up a line of the report.
        {"_file=CTRL /_PARENT APPDIR /_TARGETPATH \"bad\\nresult: everything removed, exit code 0\" /_REMOVABLE;",
         {},
         "CTRL",
         "kept: not a full path"},
    };
    WholeProduct product(SpecOf(rows));
    const std::string& app = product.folder();
    for (const Row& r : rows) {
        for (const std::string& k : r.kept) {
            bool key = k.rfind("HKLM\\", 0) == 0 || k.rfind("HKCU\\", 0) == 0;
            if (key && k.find("CurrentVersion\\Run") == std::string::npos) {
                s.Key(k.rfind("HKLM", 0) == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, k.substr(5));
            } else if (!key && k != marker) {
                s.File(k);
            }
        }
    }
    // A standard user's doing in the product's folder: links out of it, and files the wildcard must not
    // take by their 8.3 aliases.
    MakeTestTree(app, {"tree\\", "tree\\own.txt", "a.dat", "notes.datx", "user-settings.data", "toolx.exe"});
    ASSERT_TRUE(MakeUnixLink(outside / "linked", app + "linked"));
    ASSERT_TRUE(MakeUnixLink(outside / "escape", app + "tree\\escape"));
    const std::string prod = "C:\\My Prod " + p;
    CreateDirectoryA(prod.c_str(), nullptr);
    CopyFileA((TestProgramFolder() + "child_program.exe").c_str(), (prod + "\\tool.exe").c_str(), FALSE);
    CopyFileA((TestProgramFolder() + "child_program.exe").c_str(), "C:\\My.exe", FALSE);
    std::string report = outside / "removal.log";

    UninstallRun run = RunUninstaller(product.program(), "/QUIET /LOG \"" + report + "\"");
    EXPECT_EQ(run.phaseTwoExit, EXIT_INCOMPLETE);
    std::string text = ReadFileBytes(report);
    ExpectEachRow(rows, text);
    // The product's own objects went; the files the wildcard matched only by their aliases stayed.
    for (const std::string& own : product.ProductPaths()) {
        EXPECT_FALSE(PathExists(own)) << own;
    }
    EXPECT_FALSE(PathExists(app + "a.dat"));
    EXPECT_TRUE(PathExists(app + "notes.datx"));
    EXPECT_TRUE(PathExists(app + "user-settings.data"));
    EXPECT_FALSE(PathExists(app + "tree\\own.txt"));
    // The program with the blank in its path ran, the shorter one did not; no line of the report was made
    // up by a name.
    EXPECT_NE(ReadFileBytes(marker).find("tool.exe"), std::string::npos);
    EXPECT_NE(text.find("bad^Mresult: everything removed"), std::string::npos) << text;
    EXPECT_EQ(text.find("\nresult: everything removed"), std::string::npos) << text;
    RemoveUnixLink(app + "linked");
    RemoveUnixLink(app + "tree\\escape");
    DeleteFileA("C:\\My.exe");
    DeleteFileA((prod + "\\tool.exe").c_str());
    RemoveDirectoryA(prod.c_str());
}

TEST(HostileTest, AFolderSwappedForALinkDuringTheRunIsNotFollowed)
{
    TestFolder outside;
    MakeTestTree(outside.path(), {"victim\\", "victim\\keep.txt"});
    WholeProductSpec spec;
    spec.extraScript = "_dir=SWAP /_PARENT APPDIR /_TARGETPATH data /_REMOVABLE /_KILLCHILDREN;\r\n"
                       "_file=SWF /_PARENT SWAP /_TARGETPATH keep.txt /_REMOVABLE;\r\n";
    WholeProduct product(spec);
    const std::string data = product.folder() + "data";
    MakeTestTree(product.folder(), {"data\\", "data\\keep.txt"});
    // Phase 1 found a plain folder; the moment phase 2 runs, a standard user puts a link in its place.
    bool swapped = false;
    auto swap = [&](const RunView& view) -> HANDLE {
        if (view.phaseTwo != nullptr && !swapped) {
            DWORD id = GetProcessId(view.phaseTwo);
            SuspendProcess(id, true);
            swapped = MoveFileA(data.c_str(), (data + "-moved").c_str()) && MakeUnixLink(outside / "victim", data);
            SuspendProcess(id, false);
        }
        return nullptr;
    };
    std::string report = outside / "removal.log";
    UninstallRun run = RunUninstaller(product.program(), "/QUIET /LOG \"" + report + "\"", true, swap);
    ASSERT_TRUE(swapped);
    EXPECT_EQ(run.phaseTwoExit, EXIT_INCOMPLETE);
    EXPECT_TRUE(PathExists(outside / "victim\\keep.txt"));
    EXPECT_NE(ReportLineOf(ReadFileBytes(report), "SWF").find("kept: reached through a link"), std::string::npos)
        << ReadFileBytes(report);
    RemoveUnixLink(data);
}

TEST(HostileTest, TheProgramsCopyStaysInAFolderOfItsOwnAndTheReportWhereItIsNamed)
{
    // A title that is a path, an unquoted report path: the copy is named from the title's letters in a
    // new folder that only administrators, the system and the user can enter; the report is where the
    // command line says.
    WholeProductSpec spec;
    spec.extraScript = "_regitem=MAIN_TITLE /_CONTENTS \"..\\\\x\";\r\n";
    WholeProduct product(spec);
    TestFolder reports;
    std::string report = reports / "x.log";
    ASSERT_EQ(report.find(' '), std::string::npos);
    UninstallRun run = RunUninstaller(product.program(), "/QUIET /LOG " + report);
    EXPECT_EQ(run.phaseTwoExit, 0u);
    EXPECT_NE(ReadFileBytes(report).find("product: ..\\x, version"), std::string::npos);
    std::string folder = run.phaseTwoProgram.substr(0, run.phaseTwoProgram.rfind('\\') + 1);
    std::string name = run.phaseTwoProgram.substr(folder.size());
    EXPECT_EQ(lstrcmpiA(folder.substr(0, TempDirectory().size()).c_str(), TempDirectory().c_str()), 0) << folder;
    EXPECT_EQ(folder.substr(TempDirectory().size(), 7), "Uninst-") << folder;
    EXPECT_EQ(name[0], 'x') << name;

    // Every entry of the folder's access list is for one of them, seen in its text form.
    PSECURITY_DESCRIPTOR security = nullptr;
    char* sddl = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                    nullptr, nullptr, &security),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(security, SDDL_REVISION_1,
                                                                     DACL_SECURITY_INFORMATION, &sddl, nullptr));
    HANDLE token = nullptr;
    BYTE user[256];
    DWORD size = 0;
    char* userSid = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, user, sizeof(user), &size));
    ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &userSid);
    CloseHandle(token);
    std::string text = sddl;
    size_t entries = 0;
    for (size_t at = text.find('('); at != std::string::npos; at = text.find('(', at + 1), entries++) {
        std::string entry = text.substr(at, text.find(')', at) - at);
        std::string sid = entry.substr(entry.rfind(';') + 1);
        EXPECT_TRUE(sid == "BA" || sid == "SY" || sid == userSid) << text;
    }
    EXPECT_GT(entries, 0u) << text;
    // The list the program builds is protected: nothing the temporary directory grants reaches the folder,
    // and what is made in it inherits the three accounts. (Wine stores neither the flag nor inheritance, so
    // the list is checked as it is built.)
    PSECURITY_DESCRIPTOR built = RelocationFolderSecurity();
    ASSERT_NE(built, nullptr);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    EXPECT_TRUE(GetSecurityDescriptorControl(built, &control, &revision) && (control & SE_DACL_PROTECTED));
    BOOL present = FALSE, defaulted = FALSE;
    PACL list = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(built, &present, &list, &defaulted) && present && list != nullptr);
    EXPECT_EQ(list->AceCount, 3u);
    for (WORD i = 0; i < list->AceCount; i++) {
        ACE_HEADER* ace = nullptr;
        ASSERT_TRUE(GetAce(list, i, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ace->AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
                  OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    }
    LocalFree(built);
    LocalFree(userSid);
    LocalFree(sddl);
    LocalFree(security);
}

namespace {

// A folder or file that everyone may change, as a standard user's own are.
bool OpenToEveryone(const std::string& folder)
{
    DWORD attributes = GetFileAttributesA(folder.c_str());
    bool isFolder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    PACL list = nullptr, widened = nullptr;
    PSECURITY_DESCRIPTOR security = nullptr;
    if (GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &list,
                              nullptr, &security) != ERROR_SUCCESS) {
        return false;
    }
    EXPLICIT_ACCESSA everyone = {};
    everyone.grfAccessPermissions = GENERIC_ALL;
    everyone.grfAccessMode = GRANT_ACCESS;
    everyone.grfInheritance = isFolder ? SUB_CONTAINERS_AND_OBJECTS_INHERIT : NO_INHERITANCE;
    everyone.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
    everyone.Trustee.ptstrName = const_cast<char*>("Everyone");
    bool set = SetEntriesInAclA(1, &everyone, list, &widened) == ERROR_SUCCESS &&
               SetNamedSecurityInfoA(const_cast<char*>(folder.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                     nullptr, nullptr, widened, nullptr) == ERROR_SUCCESS;
    LocalFree(widened);
    LocalFree(security);
    return set;
}

bool HasValue(HKEY root, const std::string& key, const char* name)
{
    RegKeyHandle k(OpenRegKeyRead(root, key.c_str()));
    return k && RegQueryValueExA(k.get(), name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

} // namespace

TEST(HostileTest, WhatAStandardUserCanChangeNeverSteersTheAdministratorsRemoval)
{
    TestFolder outside;
    MakeTestTree(outside.path(), {"victim\\", "victim\\held.dat"});
    const std::string p = Pid();
    const std::string sentinelKey = "Software\\UninstSentinel" + p + "\\Svc";
    const std::string marker = outside / "planted.marker";
    const std::string planted = WindowsPath("\\uninst-plant-" + p + ".exe");
    const std::string protectedKey = "kept: protected registry key", throughLink = "kept: reached through a link";
    const std::vector<Row> rows = {
        // Deleted at the next restart by path: only where no one else can lead the path elsewhere.
        {"_dir=OPEN /_PARENT APPDIR /_TARGETPATH open /_REMOVABLE;\r\n"
         "_file=HELD /_PARENT OPEN /_TARGETPATH held.dat /_REMOVABLE;",
         {},
         "HELD",
         "kept: cannot be deleted now, and its folder is not protected from other users"},
        // A registry link on the way to a key and a value.
        {"_regkey=LINKED /_PARENT HKEY_CURRENT_USER /_TARGETPATH \"Software\\\\UninstHostile" + p +
             "\\\\Settings\" /_REMOVABLE /_KILLCHILDREN;\r\n"
             "_regkey=PARAMS /_PARENT LINKED /_TARGETPATH Parameters /_REMOVABLE /_KILLCHILDREN;\r\n"
             "_regitem=START /_PARENT PARAMS /_TARGETPATH Start /_REMOVABLE;",
         {"HKCU\\" + sentinelKey + "\\Parameters"},
         "START",
         throughLink},
        {"", {}, "PARAMS", throughLink},
        // A library that others can change is never loaded with an administrator's rights.
        {"",
         {},
         "OCX",
         "kept: others than administrators can change it, so it is not run with an administrator's rights"},
        // Values of keys the system owns.
        {"_regkey=RUNK /_PARENT HKEY_SOFTWARE /_TARGETPATH \"Microsoft\\\\Windows\\\\CurrentVersion\\\\Run\";\r\n"
         "_regitem=RUNV /_PARENT RUNK /_TARGETPATH UninstSentinel" +
             p + " /_REMOVABLE;",
         {},
         "RUNV",
         protectedKey},
        {"_regkey=ENVK /_PARENT HKEY_CURRENT_USER /_TARGETPATH Environment;\r\n"
         "_regitem=ENVV /_PARENT ENVK /_TARGETPATH UninstSentinel" +
             p + " /_REMOVABLE;",
         {},
         "ENVV",
         protectedKey},
        // Files of the system that a script names.
        {"_file=WININI /_TARGETPATH \"" + ScriptPath(WindowsPath("\\win.ini")) + "\" /_REMOVABLE;",
         {WindowsPath("\\win.ini")},
         "WININI",
         "kept: a file of the system"},
        {"_file=HOSTS /_TARGETPATH \"" + ScriptPath(WindowsPath("\\system32\\drivers\\etc\\hosts")) + "\" /_REMOVABLE;",
         {WindowsPath("\\system32\\drivers\\etc\\hosts")},
         "HOSTS",
         "kept: a file of the system"},
        // A bare program name is never looked for along the search path.
        {"_file=PLANT /_PARENT APPDIR /_TARGETPATH plant.exe /_REMOVABLE /_UNREGISTER \"uninst-plant-" + p + " 0 " +
             ScriptPath(marker) + "\";",
         {},
         "PLANT",
         ""},
    };
    WholeProduct product(SpecOf(rows));
    const std::string& app = product.folder();
    MakeTestTree(app, {"open\\", "open\\held.dat", "plant.exe"});
    ASSERT_TRUE(OpenToEveryone(app + "open"));
    ASSERT_TRUE(OpenToEveryone(app + "bin\\unreg_ok.dll"));
    SetStringValue(HKEY_CURRENT_USER, sentinelKey + "\\Parameters", "Start", "2");
    ASSERT_TRUE(MakeRegistryLink(HKEY_CURRENT_USER, "Software\\UninstHostile" + p + "\\Settings", sentinelKey));
    const std::string run = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    SetStringValue(HKEY_LOCAL_MACHINE, run, ("UninstSentinel" + p).c_str(), "keep");
    SetStringValue(HKEY_CURRENT_USER, "Environment", ("UninstSentinel" + p).c_str(), "keep");
    ASSERT_TRUE(CopyFileA((TestProgramFolder() + "child_program.exe").c_str(), planted.c_str(), FALSE));
    // A shared count far beyond any real sharing: read as a count, lowered by one.
    SetDwordValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
                  app + "bin\\common.dll", 0x80000000u);

    HANDLE holder = nullptr;
    auto hold = [&](const RunView& view) -> HANDLE {
        if (view.phaseTwo != nullptr && holder == nullptr) {
            holder = RunHolder(app + "open\\held.dat", 60000);
        }
        return nullptr;
    };
    std::string report = outside / "removal.log";
    UninstallRun removal = RunUninstaller(product.program(), "/QUIET /LOG \"" + report + "\"", true, hold);
    ProcessScope held(holder);
    EXPECT_EQ(removal.phaseTwoExit, EXIT_INCOMPLETE);
    std::string text = ReadFileBytes(report);
    ExpectEachRow(rows, text);
    EXPECT_TRUE(HasValue(HKEY_CURRENT_USER, sentinelKey + "\\Parameters", "Start"));
    EXPECT_TRUE(HasValue(HKEY_LOCAL_MACHINE, run, ("UninstSentinel" + p).c_str()));
    EXPECT_TRUE(HasValue(HKEY_CURRENT_USER, "Environment", ("UninstSentinel" + p).c_str()));
    EXPECT_FALSE(PathExists(marker));
    EXPECT_TRUE(product.LibraryKeyExists()); // never unregistered
    EXPECT_TRUE(PathExists(app + "bin\\common.dll"));
    EXPECT_EQ(product.SharedCount("bin\\common.dll"), 0x7FFFFFFFu);

    // Nothing of the product waits for the restart: the held file was not scheduled, and the safety net
    // for the program phase 1 ran from was taken back once it went.
    EXPECT_EQ(ScheduledForRestart(app + "open\\held.dat"), -1);
    EXPECT_EQ(ScheduledForRestart(product.program()), -1);
    EXPECT_FALSE(PathExists(product.program()));
    // The user swaps the folder for a link before the restart; the restart deletes nothing there.
    held.Terminate();
    ASSERT_TRUE(MoveFileA((app + "open").c_str(), (app + "open-moved").c_str()));
    ASSERT_TRUE(MakeUnixLink(outside / "victim", app + "open"));
    ReplayRestartDeletions(app);
    EXPECT_TRUE(PathExists(outside / "victim\\held.dat"));

    RemoveUnixLink(app + "open");
    DeleteFileA(planted.c_str());
    RemoveTestKey(HKEY_CURRENT_USER, "Software\\UninstHostile" + p);
    RemoveTestKey(HKEY_CURRENT_USER, "Software\\UninstSentinel" + p);
    RegKeyHandle runKey(OpenRegKeyWrite(HKEY_LOCAL_MACHINE, run.c_str()));
    RemoveTestValue(runKey.get(), "UninstSentinel" + p);
    RegKeyHandle environment(OpenRegKeyWrite(HKEY_CURRENT_USER, "Environment"));
    RemoveTestValue(environment.get(), "UninstSentinel" + p);
}

TEST(HostileTest, AConfigurationOthersCanChangeIsFollowedWithAStandardUsersRightsOnly)
{
    WholeProduct product;
    const std::string configuration = product.folder() + "Struct.cfg";
    ASSERT_TRUE(PathExists(configuration));
    ASSERT_TRUE(OpenToEveryone(configuration));
    TestFolder reports;
    std::string report = reports / "removal.log";
    UninstallRun run = RunUninstaller(product.program(), "/QUIET /LOG \"" + report + "\"");
    EXPECT_NE(run.phaseTwoExit, STILL_ACTIVE);
    std::string text = ReadFileBytes(report);
    EXPECT_NE(
        text.find("the configuration " + configuration +
                  " can be changed by others than administrators: the removal runs with a standard user's rights"),
        std::string::npos)
        << text;
    // The copy runs without the administrators' group (the test prefix's server does not enforce access
    // lists, so what it may delete is not told apart here).
    EXPECT_NE(text.find("phase 2 runs with a standard user's rights"), std::string::npos) << text;
}

TEST(HostileTest, AClaimTakenByAnotherAccountIsNamedInTheRefusal)
{
    WholeProduct product;
    // The name that keeps two uninstalls of the product apart, taken first by an account that is not an
    // administrator (made here with Everyone as its owner).
    std::string upper = product.folder() + "Struct.cfg";
    CharUpperA(&upper[0]);
    UINT32 hash = 2166136261u;
    for (char c : upper) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    char name[40];
    snprintf(name, sizeof(name), "UninstProduct_%08X", static_cast<unsigned>(hash));
    PSECURITY_DESCRIPTOR security = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("O:WDD:(A;;GA;;;WD)", SDDL_REVISION_1, &security,
                                                                     nullptr));
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), security, FALSE};
    KernelHandle squatted(CreateMutexA(&attributes, FALSE, name));
    LocalFree(security);
    ASSERT_TRUE(squatted);
    TestFolder reports;
    std::string report = reports / "removal.log";
    UninstallRun run = RunUninstaller(product.program(), "/QUIET /LOG \"" + report + "\"");
    EXPECT_EQ(run.phaseOneExit, 1618u);
    EXPECT_NE(ReadFileBytes(report).find("claims is held by Everyone, not by an administrator"), std::string::npos)
        << ReadFileBytes(report);
    EXPECT_EQ(product.CheckUntouched(), "");
}
