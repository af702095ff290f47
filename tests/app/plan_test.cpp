// The removal plan with the real program: everything a removal would judge, nothing it would change;
// the plan of a staged product and the real removal of the same product agree object by object.
#include "kit/uninstall_kit.h"

#include <map>
#include <sstream>

namespace {

bool Contains(std::string text, std::string part)
{
    CharUpperBuffA(&text[0], static_cast<DWORD>(text.size()));
    CharUpperBuffA(&part[0], static_cast<DWORD>(part.size()));
    return text.find(part) != std::string::npos;
}

// What the machine holds of a product, as text: every file and folder below the given roots (name,
// attributes, size, last write), every key below the given keys (values with their types and data),
// the shared counts and restart deletions that name the product's folder.
struct Snapshot {
    std::map<std::string, std::string> entries;

    void AddFiles(const std::string& path)
    {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
            return;
        }
        std::ostringstream text;
        text << std::hex << data.dwFileAttributes << " " << data.nFileSizeLow << " "
             << data.ftLastWriteTime.dwLowDateTime << data.ftLastWriteTime.dwHighDateTime;
        entries["file " + path] = text.str();
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            return;
        }
        std::string folder = path.back() == '\\' ? path : path + "\\";
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
        for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
            if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0) {
                AddFiles(folder + found.cFileName);
            }
        }
        if (search != INVALID_HANDLE_VALUE) {
            FindClose(search);
        }
    }

    // The values of an open key whose names contain within ("" for all).
    void AddValues(HKEY key, const std::string& name, const std::string& within = "")
    {
        for (DWORD i = 0;; i++) {
            char value[1024];
            BYTE data[4096];
            DWORD valueSize = sizeof(value), dataSize = sizeof(data), type = 0;
            if (RegEnumValueA(key, i, value, &valueSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) {
                return;
            }
            std::string v(value, valueSize);
            if (within.empty() || Contains(v, within)) {
                entries["value " + name + "\\" + v] =
                    std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), dataSize);
            }
        }
    }

    void AddKey(HKEY root, const std::string& path)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return;
        }
        entries["key " + path] = "";
        AddValues(key, path);
        for (DWORD i = 0;; i++) {
            char sub[256];
            DWORD size = sizeof(sub);
            if (RegEnumKeyExA(key, i, sub, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
                break;
            }
            AddKey(root, path + "\\" + sub);
        }
        RegCloseKey(key);
    }

    // The restart list's entries that name within.
    void AddRestartEntries(const std::string& within)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                          &key) != ERROR_SUCCESS) {
            return;
        }
        std::vector<char> data(1 << 20);
        DWORD size = static_cast<DWORD>(data.size()), type = 0;
        if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                             &size) == ERROR_SUCCESS) {
            for (size_t at = 0; at < size && data[at] != '\0'; at += strlen(&data[at]) + 1) {
                if (Contains(&data[at], within)) {
                    entries["restart " + std::string(&data[at])] = "";
                }
            }
        }
        RegCloseKey(key);
    }
};

Snapshot TakeSnapshot(const WholeProduct& product, const std::string& temp)
{
    Snapshot s;
    for (const std::string& path : product.ProductPaths()) {
        s.AddFiles(path);
    }
    for (const std::string& path : product.ForeignPaths()) {
        s.AddFiles(path);
    }
    s.AddFiles(product.folder());
    s.AddFiles(temp);
    s.AddKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\" + product.vendor());
    s.AddKey(HKEY_CURRENT_USER, "SOFTWARE\\" + product.vendor() + "Settings");
    s.AddKey(HKEY_LOCAL_MACHINE, product.uninstallKey());
    s.AddKey(HKEY_CURRENT_USER, LibraryKey(product.folder() + "bin\\unreg_ok.dll"));
    HKEY shared = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, 0, KEY_READ, &shared) == ERROR_SUCCESS) {
        s.AddValues(shared, "SharedDLLs", product.folder());
        RegCloseKey(shared);
    }
    s.AddRestartEntries(product.folder());
    return s;
}

std::string Differences(const Snapshot& before, const Snapshot& after)
{
    std::string text;
    for (const auto& e : before.entries) {
        auto found = after.entries.find(e.first);
        if (found == after.entries.end()) {
            text += "gone: " + e.first + "\n";
        } else if (found->second != e.second) {
            text += "changed: " + e.first + "\n";
        }
    }
    for (const auto& e : after.entries) {
        if (before.entries.count(e.first) == 0) {
            text += "new: " + e.first + "\n";
        }
    }
    return text;
}

// The temporary directory of the programs this test starts, for as long as it lives: what a plan
// leaves there is seen apart from what other tests do meanwhile.
class PrivateTemp {
  public:
    PrivateTemp()
    {
        for (const char* name : {"TMP", "TEMP"}) {
            char value[MAX_PATH] = {};
            GetEnvironmentVariableA(name, value, sizeof(value));
            saved_.push_back(value);
            SetEnvironmentVariableA(name, folder_.path().c_str());
        }
    }
    ~PrivateTemp()
    {
        SetEnvironmentVariableA("TMP", saved_[0].c_str());
        SetEnvironmentVariableA("TEMP", saved_[1].c_str());
    }
    const std::string& path() const { return folder_.path(); }

  private:
    TestFolder folder_;
    std::vector<std::string> saved_;
};

// The object lines of a report: the verdict of each object (by its name in the script and its path),
// as the real removal words it: a plan's "would go" reads as "removed", its "refused: " as "kept: ".
// What a plan adds besides (actions, what a folder would still hold, files in use) is left out.
std::map<std::string, std::string> Verdicts(const std::string& report)
{
    std::map<std::string, std::string> verdicts;
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        size_t split = line.find(": ", 48);
        if (line.rfind("  ", 0) != 0 || split == std::string::npos) {
            continue;
        }
        std::string object = line.substr(0, split), verdict = line.substr(split + 2);
        if (verdict.rfind("would be ", 0) == 0 || verdict.rfind("would still hold", 0) == 0 ||
            verdict.rfind("in use: ", 0) == 0) {
            continue;
        }
        if (verdict == "would go") {
            verdict = "removed";
        } else if (verdict.rfind("refused: ", 0) == 0) {
            verdict = "kept: " + verdict.substr(9);
        } else if (verdict == "goes at the next restart: in use now") {
            verdict = "kept until the next restart: in use now, deleted then";
        }
        verdicts[object] = verdict;
    }
    return verdicts;
}

// A product with something of each verdict: files and keys that go, a shared file another product
// still counts, a missing file, one the script does not let go, a user's file in a product folder, a
// folder of the system the script names, an Uninstall entry that is not one.
WholeProductSpec EveryVerdict()
{
    WholeProductSpec spec;
    spec.extraScript =
        "_file=MISSING /_PARENT APPDIR /_TARGETPATH missing.txt /_REMOVABLE;\r\n"
        "_file=KEEPME /_PARENT APPDIR /_TARGETPATH keepme.txt;\r\n"
        "_dir=SYSDIR /_TARGETPATH \"C:\\\\windows\\\\system32\" /_REMOVABLE /_KILLCHILDREN;\r\n"
        "_file=BADUN /_PARENT APPDIR /_TARGETPATH badun.txt /_REMOVABLE /_UNINSTALL \"..\\\\Run\" x;\r\n";
    return spec;
}

void AddUserFiles(const WholeProduct& product)
{
    WriteFileBytes(product.folder() + "keepme.txt", "kept by the script");
    WriteFileBytes(product.folder() + "badun.txt", "names a key that is not an Uninstall entry");
    WriteFileBytes(product.folder() + "bin\\lib\\notes.txt", "the user's own notes");
}

} // namespace

TEST(PlanTest, APlanChangesNothingAndSaysWhatTheRemovalWouldDo)
{
    WholeProduct product(EveryVerdict());
    AddUserFiles(product);
    PrivateTemp temp;
    // A file in use: the removal would stop before changing anything, and the plan names it.
    HANDLE holder = RunHolder(product.folder() + "readme.txt", 60000);
    ASSERT_NE(holder, nullptr);
    ProcessScope held(holder);
    Snapshot before = TakeSnapshot(product, temp.path());
    ASSERT_GT(before.entries.size(), 20u);

    // With a window, and without /LOG: no question, no progress, one message that sums the plan up.
    UninstallRun run = RunUninstaller(product.program(), "/PLAN");
    held.Terminate();
    EXPECT_EQ(run.phaseOneExit, 1603u);
    EXPECT_FALSE(run.phaseTwoSeen);
    EXPECT_FALSE(run.sawFixup || run.sawChecklist);
    std::string plan = temp.path() + "UninstPlan.log";
    ASSERT_EQ(run.messages.size(), 1u);
    for (const char* expected : {"Nothing was changed.", "exit code 1603", "be refused 2", plan.c_str()}) {
        EXPECT_NE(run.messages[0].find(expected), std::string::npos) << expected << "\n" << run.messages[0];
    }
    Snapshot after = TakeSnapshot(product, temp.path());
    after.entries.erase("file " + plan);
    before.entries.erase("file " + temp.path()); // the plan's file is new in it
    after.entries.erase("file " + temp.path());
    EXPECT_EQ(Differences(before, after), "");
    EXPECT_EQ(product.CheckUntouched(), "");
    EXPECT_EQ(FolderEntries(temp.path()), std::set<std::string>({"UninstPlan.log"}));

    std::string text = ReadFileBytes(plan);
    const std::pair<const char*, const char*> lines[] = {
        {"README", "in use: the removal would stop before it changed anything"},
        {"MAIN", "would go"},
        {"COMMON", "kept: still counted by other products (count 1)"},
        {"OCX", "would be unregistered"},
        {"TOOL", "would be run: "},
        {"SYSDIR", "refused: protected location"},
        {"BADUN", "refused: not an entry of the Uninstall key"},
        {"LIBDIR", "would still hold: notes.txt"},
    };
    for (const auto& l : lines) {
        EXPECT_NE(text.find(std::string("  ") + l.first), std::string::npos) << l.first << "\n" << text;
    }
    std::istringstream report(text);
    std::set<std::string> found;
    for (std::string line; std::getline(report, line);) {
        for (const auto& l : lines) {
            if (line.rfind(std::string("  ") + l.first + " ", 0) == 0 && line.find(l.second) != std::string::npos) {
                found.insert(l.first);
            }
        }
    }
    EXPECT_EQ(found.size(), sizeof(lines) / sizeof(lines[0])) << text;
    EXPECT_NE(text.find("the Uninstall key \"" + product.vendor() + "\" would go"), std::string::npos) << text;
    EXPECT_NE(text.find("result the removal would have: failed or incomplete, exit code 1603"), std::string::npos);
}

namespace {

// The plan's verdicts and exit code against those of the real removal that follows it.
std::string PlanAgainstRemoval(const WholeProduct& product, DWORD* planCode, std::set<std::string>* words)
{
    TestFolder reports;
    std::string plan = reports / "plan.log", removal = reports / "removal.log";
    UninstallRun planned = RunUninstaller(product.program(), "/PLAN /QUIET /LOG \"" + plan + "\"");
    EXPECT_EQ(planned.windowsSeen, 0u);
    EXPECT_EQ(product.CheckUntouched(), "");
    UninstallRun removed = RunUninstaller(product.program(), "/QUIET /LOG \"" + removal + "\"");
    *planCode = planned.phaseOneExit;
    EXPECT_EQ(removed.phaseOneExit, planned.phaseOneExit);
    std::map<std::string, std::string> before = Verdicts(ReadFileBytes(plan)), after = Verdicts(ReadFileBytes(removal));
    EXPECT_GT(after.size(), 15u);
    std::string differences;
    for (const auto& v : after) {
        auto p = before.find(v.first);
        std::string said = p != before.end() ? p->second : "(no line)";
        if (said != v.second) {
            differences += v.first + ": plan " + said + ", removal " + v.second + "\n";
        }
        words->insert(v.second.substr(0, v.second.find(" (count")));
    }
    for (const auto& v : before) {
        if (after.count(v.first) == 0) {
            differences += v.first + ": plan " + v.second + ", removal (no line)\n";
        }
    }
    return differences;
}

} // namespace

TEST(PlanTest, ThePlanIsWhatTheRemovalThenDoes)
{
    // A product with something of each verdict: the user's file and the refusals make it incomplete.
    std::set<std::string> words;
    DWORD code = 0;
    {
        WholeProduct product(EveryVerdict());
        AddUserFiles(product);
        EXPECT_EQ(PlanAgainstRemoval(product, &code, &words), "");
        EXPECT_EQ(code, 1603u);
    }
    for (const char* word :
         {"removed", "kept: still counted by other products", "kept: does not exist",
          "kept: not removable and not covered by a folder, group or key that goes with its contents",
          "kept: holds content that stays or that other products share", "kept: protected location",
          "FAILED: error 145, Directory is not empty"}) {
        EXPECT_EQ(words.count(word), 1u) << word;
    }
    // A product that goes whole: its folder waits for the program phase 1 runs from, and goes with it.
    WholeProductSpec whole;
    whole.commonCountedElsewhere = false;
    WholeProduct product(whole);
    EXPECT_EQ(PlanAgainstRemoval(product, &code, &words), "");
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(product.CheckRemoved(), "");
}
