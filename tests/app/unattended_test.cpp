// Unattended removals of staged products with the real program: no window from start to end, the
// report of both phases, the exit codes that deployment tools read.
#include "kit/uninstall_kit.h"
#include "support/report.h"

#include "system/deletion_gate.h"

namespace {

// Holds files open, or runs programs of the product, from the moment phase 2 runs: phase 1 found
// nothing in use.
struct HoldInPhaseTwo {
    std::vector<std::string> files;
    std::vector<HANDLE> holders;
    std::vector<std::string> programs; // run while phase 2 works: the system refuses their deletion
    HANDLE operator()(const RunView& view)
    {
        if (view.phaseTwo != nullptr && holders.empty()) {
            for (const std::string& f : files) {
                holders.push_back(RunHolder(f, 60000));
            }
            for (const std::string& program : programs) {
                std::string held = TempDirectory() + "uninst-held-" + std::to_string(GetCurrentProcessId()) + ".txt";
                holders.push_back(RunHolder(held, 60000, program));
            }
        }
        return nullptr;
    }
    ~HoldInPhaseTwo()
    {
        for (HANDLE h : holders) {
            ProcessScope ended(h);
        }
    }
};

} // namespace

TEST(UnattendedTest, QuietRemovalsShowNoWindowAndReportBothPhases)
{
    // Two products removed at once: each run completes on its own.
    WholeProduct product, second;
    TestFolder reports;
    std::string report = reports / "removal.log";
    UninstallRun runs[2];
    HANDLE threads[2] = {
        StartThread([&] { runs[0] = RunUninstaller(product.program(), "/QUIET /LOG \"" + report + "\""); }),
        StartThread([&] { runs[1] = RunUninstaller(second.program(), "/QUIET"); })};
    for (int i = 0; i < 2; i++) {
        ASSERT_TRUE(JoinThread(threads[i], 2 * LOADED_MACHINE_WAIT_MS));
        EXPECT_EQ(runs[i].windowsSeen, 0u);
        EXPECT_EQ(runs[i].phaseOneExit, 0u);
        EXPECT_EQ(runs[i].phaseTwoExit, 0u);
    }
    EXPECT_EQ(product.CheckRemoved(), "");
    EXPECT_EQ(second.CheckRemoved(), "");

    std::string text = ReadFileBytes(report);
    for (const char* expected : {"Uninst 1.0.0.0: phase 1, process ", "Uninst 1.0.0.0: phase 2, process ",
                                 "product: Staged Product, version ", "phase 1 ends: the copy removed the product",
                                 "phase 2 ends: everything removed", "result: everything removed, exit code 0\r\n"}) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    }
    EXPECT_NE(ReportLineOf(text, "MAIN").find(product.folder() + "main.exe: removed"), std::string::npos) << text;
    EXPECT_NE(ReportLineOf(text, "COMMON").find("kept: still counted by other products (count 1)"), std::string::npos)
        << text;
    EXPECT_NE(ReportLineOf(text, "WIDTH").find("registry value"), std::string::npos) << text;
    // Every line ends in CR LF.
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), std::count(text.begin(), text.end(), '\r'));
}

TEST(UnattendedTest, TheReportSaysWhyEachThingStayed)
{
    WholeProductSpec spec;
    spec.extraScript = "_file=MISSING /_PARENT APPDIR /_TARGETPATH missing.txt /_REMOVABLE;\r\n"
                       "_file=KEEPME /_PARENT APPDIR /_TARGETPATH keepme.txt;\r\n";
    WholeProduct product(spec);
    WriteFileBytes(product.folder() + "bin\\lib\\notes.txt", "the user's own notes");
    TestFolder reports;
    std::string report = reports / "removal.log";
    HoldInPhaseTwo hold = {{product.folder() + "main.exe"}, {}};
    UninstallRun run = RunUninstaller(product.program(), "/QUIET /LOG \"" + report + "\"", true, std::ref(hold));
    ASSERT_EQ(hold.holders.size(), 1u);
    ASSERT_NE(hold.holders[0], nullptr);
    EXPECT_EQ(run.phaseTwoExit, 1603u); // the folder with the foreign file could not go
    std::string text = ReadFileBytes(report);
    EXPECT_NE(ReportLineOf(text, "MAIN").find("kept until the next restart: in use now"), std::string::npos) << text;
    EXPECT_GE(ScheduledForRestart(product.folder() + "main.exe"), 0);
    EXPECT_NE(ReportLineOf(text, "COMMON").find("kept: still counted by other products (count 1)"), std::string::npos);
    // Each reason word for word, at the end of its line.
    const std::pair<const char*, const char*> reasons[] = {
        {"MAIN", "kept until the next restart: in use now, deleted then"},
        {"COMMON", "kept: still counted by other products (count 1)"},
        {"MISSING", "kept: does not exist"},
        {"KEEPME", "kept: not removable and not covered by a folder, group or key that goes with its contents"},
        {"BIN", "kept: holds content that stays or that other products share"},
        {"LIBDIR", "FAILED: error 145, Directory is not empty"},
        {"WIDTH", "removed"},
    };
    for (const auto& r : reasons) {
        std::string line = ReportLineOf(text, r.first);
        size_t n = strlen(r.second) + 3; // ": " and the CR
        EXPECT_TRUE(line.size() >= n && line.compare(line.size() - n, n, std::string(": ") + r.second + "\r") == 0)
            << r.first << ": " << line;
    }
    EXPECT_NE(text.find("result: failed or incomplete, exit code 1603"), std::string::npos);
    EXPECT_TRUE(PathExists(product.folder() + "bin\\lib\\notes.txt"));
}

TEST(UnattendedTest, EachExitCodeComesFromARealRun)
{
    // 3010: everything went, but files in use go at the next restart, and after them the folder that
    // holds nothing else.
    {
        WholeProduct product;
        const std::string lib = product.folder() + "bin\\lib";
        HoldInPhaseTwo hold = {{product.folder() + "main.exe", lib + "\\core.dll"}, {}};
        UninstallRun run = RunUninstaller(product.program(), "/QUIET", true, std::ref(hold));
        EXPECT_EQ(run.phaseOneExit, 3010u); // the caller gets the whole removal's code
        EXPECT_EQ(run.phaseTwoExit, 3010u);
        EXPECT_GE(ScheduledForRestart(product.folder() + "main.exe"), 0);
        EXPECT_GT(ScheduledForRestart(lib), ScheduledForRestart(lib + "\\core.dll"));
        EXPECT_GE(ScheduledForRestart(lib + "\\core.dll"), 0);
    }
    // 3010 too for a file whose deletion the system refuses with "access denied" (a program runs from
    // it): it goes at the next restart.
    {
        WholeProduct product;
        const std::string tool = product.folder() + "bin\\child_program.exe";
        HoldInPhaseTwo hold = {{}, {}, {tool}};
        UninstallRun run = RunUninstaller(product.program(), "/QUIET", true, std::ref(hold));
        ASSERT_EQ(hold.holders.size(), 1u);
        ASSERT_NE(hold.holders[0], nullptr);
        EXPECT_EQ(run.phaseTwoExit, 3010u);
        EXPECT_GE(ScheduledForRestart(tool), 0);
    }
    // 1603: a file in use during phase 1 stops it without a message.
    {
        WholeProduct product;
        ProcessScope holder(RunHolder(product.folder() + "main.exe", 60000));
        UninstallRun run = RunUninstaller(product.program(), "/QUIET");
        EXPECT_EQ(run.phaseOneExit, 1603u);
        EXPECT_EQ(run.windowsSeen, 0u);
        EXPECT_FALSE(run.phaseTwoSeen);
        holder.Terminate();
        EXPECT_EQ(product.CheckUntouched(), "");
    }
    // 1603 when a shortcut of the product on the desktop cannot be read: another program holds it.
    {
        WholeProduct product;
        ProcessScope holder(RunHolder(product.desktopLink(), 60000));
        EXPECT_EQ(RunUninstaller(product.program(), "/QUIET").phaseOneExit, 1603u);
        EXPECT_TRUE(PathExists(product.desktopLink()));
    }
    // 1605: no installed product beside the program; without "/QUIET" the code stays 0.
    {
        TestFolder empty;
        ASSERT_TRUE(CopyFileA((TestProgramFolder() + "Uninst.exe").c_str(), (empty / "Uninst.exe").c_str(), FALSE));
        std::string report = empty / "report.log";
        EXPECT_EQ(RunUninstaller(empty / "Uninst.exe", "/QUIET /LOG \"" + report + "\"").phaseOneExit, 1605u);
        EXPECT_NE(ReadFileBytes(report).find("no installed product found beside the program"), std::string::npos);
        EXPECT_EQ(RunUninstaller(empty / "Uninst.exe", "/KILL").phaseOneExit, 0u);
    }
}

TEST(UnattendedTest, AReportThatCannotBeWrittenNeverStopsTheRemoval)
{
    TestFolder folder;
    WriteFileBytes(folder / "readonly.log", "kept as it is\r\n");
    SetFileAttributesA((folder / "readonly.log").c_str(), FILE_ATTRIBUTE_READONLY);
    const std::string longPath = folder.path() + std::string(2000 - folder.path().size(), 'r');
    for (const std::string& path : {folder / "missing\\report.log", folder / "readonly.log", longPath}) {
        SCOPED_TRACE(path.substr(0, 80));
        GateVerdict verdict = GATE_PROTECTED;
        EXPECT_EQ(GateOpenForAppend(path.c_str(), &verdict), nullptr);
        EXPECT_EQ(verdict, GATE_ALLOWED); // not refused: the system cannot open it
        EXPECT_FALSE(ReportIsOpen());
        ReportLine("nowhere to go");
    }
    EXPECT_FALSE(PathExists(folder / "missing"));
    EXPECT_EQ(ReadFileBytes(folder / "readonly.log"), "kept as it is\r\n");
    SetFileAttributesA((folder / "readonly.log").c_str(), FILE_ATTRIBUTE_NORMAL);

    // The real program with a report in a folder that does not exist: removed as without one.
    WholeProduct product;
    UninstallRun run = RunUninstaller(product.program(), "/QUIET /LOG \"" + (folder / "missing\\report.log") + "\"");
    EXPECT_EQ(run.phaseTwoExit, 0u);
    EXPECT_EQ(product.CheckRemoved(), "");
    // A "/LOG" without a path is passed over.
    WholeProduct second;
    EXPECT_EQ(RunUninstaller(second.program(), "/QUIET /LOG").phaseTwoExit, 0u);
    EXPECT_EQ(second.CheckRemoved(), "");
}
