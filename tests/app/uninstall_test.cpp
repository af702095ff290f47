// The real uninstaller, both phases, on whole products staged in the prefix, answered through its
// windows as a person would.
#include "kit/uninstall_kit.h"

namespace {

const UINT STYLE_CONFIRM = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2 | MB_SYSTEMMODAL;
const UINT STYLE_SUCCESS = MB_OK | MB_ICONASTERISK | MB_SYSTEMMODAL;
const UINT STYLE_NOT_ALL = MB_OK | MB_ICONEXCLAMATION | MB_SYSTEMMODAL;

// The folders for the program's copy that a run made in the temporary directory ("Uninst-" and 16 hex
// digits; other tests make folders there at the same time).
std::vector<std::string> NewTempEntries(const std::set<std::string>& before)
{
    std::vector<std::string> made;
    for (const std::string& name : FolderEntries(TempDirectory())) {
        if (before.count(name) == 0 && name.size() == 23 && name.rfind("Uninst-", 0) == 0) {
            made.push_back(name);
        }
    }
    return made;
}

std::string FolderOf(const std::string& path)
{
    return path.substr(0, path.find_last_of('\\') + 1);
}

} // namespace

TEST(UninstallTest, KillRemovesTheWholeProductFromANewFolderOfTheTemporaryDirectory)
{
    for (bool container : {false, true}) {
        // The second product's key loses its values one by one, then goes itself: the record of the
        // counts lowered (for its shared files) must not keep it. Nothing of it stays, so its folder,
        // which held phase 1's program, goes once phase 1 has ended.
        SCOPED_TRACE(container ? "configuration in a container, the product's key without _KILLCHILDREN, no file "
                                 "counted elsewhere"
                               : "plain configuration");
        WholeProductSpec spec;
        spec.container = container;
        spec.productKeyWithContents = !container;
        spec.commonCountedElsewhere = !container;
        WholeProduct product(spec);
        ASSERT_EQ(product.CheckUntouched(), "");
        std::set<std::string> before = FolderEntries(TempDirectory());
        UninstallRun run = RunUninstaller(product.program(), "/KILL");
        ASSERT_TRUE(run.started);
        EXPECT_EQ(run.phaseOneExit, 1u);
        EXPECT_EQ(run.phaseTwoExit, 1u);
        EXPECT_TRUE(run.sawFixup);
        EXPECT_TRUE(run.sawChecklist);
        EXPECT_EQ(run.styles, std::vector<UINT>{STYLE_SUCCESS}); // no question with "/KILL"
        EXPECT_EQ(product.CheckRemoved(), "");

        // Phase 2 ran from a copy alone in a folder that did not exist before; both go at the next
        // restart, the copy first.
        std::string folder = FolderOf(run.phaseTwoProgram);
        std::vector<std::string> made = NewTempEntries(before);
        ASSERT_EQ(made.size(), 1u);
        EXPECT_EQ(lstrcmpiA((TempDirectory() + made[0] + "\\").c_str(), folder.c_str()), 0) << folder;
        EXPECT_EQ(FolderEntries(folder).size(), 1u);
        int copyAt = ScheduledForRestart(run.phaseTwoProgram), folderAt = ScheduledForRestart(folder);
        EXPECT_GE(copyAt, 0);
        EXPECT_GT(folderAt, copyAt);
    }
}

TEST(UninstallTest, AnsweringNoOrFindingAFileInUseChangesNothing)
{
    struct Row {
        const char* what;
        bool answerYes;
        bool holdMain; // another program holds main.exe open
        UINT style;    // of the one message shown
    } const rows[] = {
        {"the answer No", false, false, STYLE_CONFIRM},
        {"a file in use during phase 1", true, true, MB_OK | MB_ICONEXCLAMATION | MB_SYSTEMMODAL},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        WholeProduct product;
        ProcessScope holder(r.holdMain ? RunHolder(product.folder() + "main.exe", 60000) : nullptr);
        std::set<std::string> before = FolderEntries(TempDirectory());
        UninstallRun run = RunUninstaller(product.program(), r.holdMain ? "/KILL" : "", r.answerYes);
        ASSERT_TRUE(run.started);
        EXPECT_EQ(run.phaseOneExit, 0u);
        EXPECT_FALSE(run.phaseTwoSeen);
        ASSERT_EQ(run.styles, std::vector<UINT>{r.style});
        if (r.holdMain) {
            EXPECT_TRUE(run.sawFixup);
            EXPECT_NE(run.messages[0].find(product.folder() + "main.exe"), std::string::npos) << run.messages[0];
        }
        holder.Terminate();
        EXPECT_EQ(product.CheckUntouched(), ""); // the Uninstall key too
        EXPECT_TRUE(NewTempEntries(before).empty());
    }
}

TEST(UninstallTest, WhatCannotGoIsReportedAndAProductWithoutUninstallEntryKeepsTheKey)
{
    // A folder of the product that holds a file the product did not install: it stays, and the user
    // is told that not everything could be removed.
    {
        WholeProduct product;
        WriteFileBytes(product.folder() + "bin\\lib\\notes.txt", "the user's own notes");
        UninstallRun run = RunUninstaller(product.program(), "/KILL");
        EXPECT_EQ(run.phaseOneExit, 0u); // the whole removal's outcome: not everything went
        EXPECT_EQ(run.phaseTwoExit, 0u);
        EXPECT_EQ(run.styles, std::vector<UINT>{STYLE_NOT_ALL});
        EXPECT_TRUE(PathExists(product.folder() + "bin\\lib\\notes.txt"));
        EXPECT_FALSE(PathExists(product.folder() + "bin\\lib\\core.dll"));
    }
    // No file names the Uninstall key: everything else goes, the key stays.
    {
        WholeProductSpec spec;
        spec.uninstallObject = false;
        WholeProduct product(spec);
        UninstallRun run = RunUninstaller(product.program(), "/KILL");
        EXPECT_EQ(run.phaseTwoExit, 1u);
        EXPECT_EQ(product.CheckRemoved(), "Uninstall key still exists; ");
    }
}

TEST(UninstallTest, APreparationThatFailsRemovesNothingAndSaysSo)
{
    // A removable object without a path: nothing can be known to go. Found by phase 1, or by phase 2
    // in a script that changed since phase 1 read it: the product stays whole, its Uninstall key too.
    const std::string noPath = "_dir=NOROOT /_SOURCE nowhere;\r\n"
                               "_file=NOPATH /_PARENT NOROOT /_TARGETPATH x.txt /_REMOVABLE;\r\n";
    for (bool inPhaseTwo : {false, true}) {
        SCOPED_TRACE(inPhaseTwo ? "phase 2" : "phase 1");
        WholeProductSpec spec;
        spec.extraScript = inPhaseTwo ? "" : noPath;
        WholeProduct product(spec);
        auto change = [&](const RunView& view) -> HANDLE {
            static bool changed = false;
            if (inPhaseTwo && view.phaseTwo != nullptr && !changed) {
                changed = true;
                DWORD id = GetProcessId(view.phaseTwo);
                SuspendProcess(id, true);
                WriteFileBytes(product.stage().configFile(), product.stage().scriptText() + noPath);
                SuspendProcess(id, false);
            }
            return nullptr;
        };
        TestFolder reports;
        std::string report = reports / "removal.log";
        UninstallRun run = RunUninstaller(product.program(), "/QUIET /LOG \"" + report + "\"", true, change);
        EXPECT_EQ(run.phaseOneExit, 1603u);
        EXPECT_EQ(run.phaseTwoSeen, inPhaseTwo);
        std::string text = ReadFileBytes(report);
        EXPECT_NE(text.find("NOPATH                          cannot be removed: no path"), std::string::npos) << text;
        EXPECT_NE(text.find("ends: the removal could not be prepared; nothing was changed"), std::string::npos) << text;
        EXPECT_EQ(product.CheckUntouched(), "");
    }
}

TEST(UninstallTest, APhaseTwoThatNeverGetsSyncRemovesNothing)
{
    WholeProduct product;
    std::string copy = TempDirectory() + "uninst_phase2_" + std::to_string(GetCurrentProcessId()) + ".exe";
    ASSERT_TRUE(CopyFileA(product.program().c_str(), copy.c_str(), FALSE));
    // Started as phase 2 by a parent that is alive but never made "Sync" (this test).
    std::string arguments = std::to_string(GetCurrentProcessId()) + " \"" + product.folder() + "\"";
    UninstallRun run = RunUninstaller(copy, arguments);
    EXPECT_EQ(run.phaseOneExit, 0u);
    EXPECT_EQ(run.windowsSeen, 0u);
    EXPECT_EQ(product.CheckUntouched(), ""); // the Uninstall key stays: the product can still be removed
    DeleteFileA(copy.c_str());
}

TEST(UninstallTest, ASecondStartWhileOneRunsLeavesItAlone)
{
    WholeProduct product;
    TestFolder elsewhere;
    std::string second = elsewhere / "Uninst.exe";
    ASSERT_TRUE(CopyFileA(product.program().c_str(), second.c_str(), FALSE));
    std::vector<DWORD> secondExits;
    // While phase 2 works, the uninstaller is started again for the same product, quietly and not.
    // The same product named in other letter case is the same product.
    std::string upper = product.folder();
    CharUpperBuffA(&upper[0], static_cast<DWORD>(upper.size()));
    auto startAgain = [&](const RunView& view) -> HANDLE {
        if (view.checklist != nullptr && secondExits.empty()) {
            // The first uninstall holds still meanwhile: the product stays installed, and claimed.
            DWORD first = GetProcessId(view.phaseTwo);
            SuspendProcess(first, true);
            for (const std::string& words : {"\"" + product.folder() + "\" /QUIET",
                                             "\"" + product.folder() + "\" /KILL", "\"" + upper + "\" /QUIET"}) {
                UninstallRun again = RunUninstaller(second, words, true, nullptr, 20000);
                secondExits.push_back(again.phaseTwoSeen ? 9999 : again.phaseOneExit);
                secondExits.push_back(static_cast<DWORD>(again.windowsSeen));
            }
            SuspendProcess(first, false);
        }
        return nullptr;
    };
    UninstallRun run = RunUninstaller(product.program(), "/KILL", true, startAgain);
    // Quietly: "another uninstall is running"; without the word: it ends at once, without a window.
    EXPECT_EQ(secondExits, (std::vector<DWORD>{1618, 0, 0, 0, 1618, 0}));
    EXPECT_EQ(run.phaseTwoExit, 1u);
    EXPECT_EQ(product.CheckRemoved(), "");
}

TEST(UninstallTest, TheCallersWaitCoversTheWholeRemoval)
{
    // Started as Add/Remove Programs starts it: Wine's own client runs the product's UninstallString and
    // waits for that process alone. The moment it returns, the product and its Uninstall key are gone
    // (but for the program phase 1 ran from, which goes right after it) and the exit code was the
    // removal's; quietly too, with the code of an incomplete removal.
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof(system));
    const std::string client = std::string(system) + "\\uninstaller.exe";
    for (bool quiet : {false, true}) {
        SCOPED_TRACE(quiet ? "/QUIET, a file of the user's in the product's folder" : "answered through its windows");
        WholeProduct product;
        if (quiet) {
            WriteFileBytes(product.folder() + "bin\\lib\\notes.txt", "the user's own notes");
            RegKeyHandle key(OpenRegKeyWrite(HKEY_LOCAL_MACHINE, product.uninstallKey().c_str()));
            SetRegString(key.get(), "UninstallString", ("\"" + product.program() + "\" /QUIET").c_str());
        }
        std::string atReturn;
        bool keyAtReturn = true;
        UninstallRun run = RunThroughCaller(client, "--remove " + product.vendor(), product.program(), [&] {
            keyAtReturn = product.UninstallKeyExists();
            atReturn = product.CheckRemoved();
        });
        EXPECT_TRUE(run.phaseTwoSeen);
        EXPECT_FALSE(keyAtReturn);
        if (quiet) {
            EXPECT_EQ(run.phaseOneExit, 1603u);
            EXPECT_TRUE(PathExists(product.folder() + "bin\\lib\\notes.txt"));
        } else {
            EXPECT_EQ(run.phaseOneExit, 1u);
            EXPECT_TRUE(atReturn.empty() || atReturn == product.program() + " still exists; ") << atReturn;
            EXPECT_EQ(product.CheckRemoved(), "");
        }
    }
}
