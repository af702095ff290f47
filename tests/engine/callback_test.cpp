// The uninstaller's callback: what a whole run sends to a real removal checklist, the file-in-use
// message, and the preparation's test of files in use.
#include "engine/executor.h"
#include "engine/prepare.h"
#include "engine/uninstall_callback.h"
#include "kit/database_kit.h"
#include "ui/dialog_texts.h"
#include "ui/progress_dialogs.h"
#include "ui/resource.h"

#include <commctrl.h>

#include <algorithm>
#include <iterator>

namespace {

// What the checklist received, one entry per WM_PROGRESS: the command and its value (a name's text).
std::vector<std::string> g_received;
WNDPROC g_dialogProc = nullptr;

// Names and positions are offered to the checklist, not sent; what was shown of them is recorded with
// each check mark: the status line and the bar's position.
LRESULT CALLBACK Recording(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_PROGRESS) {
        return CallWindowProcA(g_dialogProc, window, message, wParam, lParam);
    }
    std::string value = wParam == PROGRESS_NAME ? reinterpret_cast<const char*>(lParam) : std::to_string(lParam);
    g_received.push_back(std::to_string(wParam) + ":" + value);
    LRESULT result = CallWindowProcA(g_dialogProc, window, message, wParam, lParam);
    if (wParam == PROGRESS_CHECK) {
        char status[300] = {};
        GetDlgItemTextA(window, IDC_STATUS_REMOVAL, status, sizeof(status));
        LRESULT position = SendDlgItemMessageA(window, IDC_PROGRESS, PBM_GETPOS, 0, 0);
        g_received.push_back(std::string("shown:") + status + "@" + std::to_string(position));
    }
    return result;
}

std::string Cmd(WPARAM command, const std::string& value)
{
    return std::to_string(command) + ":" + value;
}

} // namespace

TEST(CallbackTest, TheLockedTextIsNeverAFormat)
{
    struct Row {
        const char* text;
        const char* path;
        const char* message;
    } const rows[] = {
        {"The file \"%s\" is in use", "C:\\A\\b.dll", "The file \"C:\\A\\b.dll\" is in use"},
        {"%n%s%s%99999d", "C:\\x", "%nC:\\x%s%99999d"}, // the first %s is the path; the rest as written
        {"no place for the path", "C:\\x", "no place for the path"},
        {"%s", nullptr, "unknown"},
        {"100%% sure: %s %%s %d %", "C:\\x", "100% sure: C:\\x %s %d %"}, // "%%" is a percent sign
        {"", "C:\\x", ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        HeapText message(FormatLockedText(r.text, r.path));
        ASSERT_TRUE(message);
        EXPECT_STREQ(message.get(), r.message);
    }
    std::string longPath(2000, 'p');
    HeapText sized(FormatLockedText("[%s]", longPath.c_str()));
    EXPECT_EQ(std::string(sized.get()), "[" + longPath + "]"); // sized by the path's real length
}

TEST(CallbackTest, AWholeRunReportsEveryPassAndObjectToTheChecklist)
{
    EngineScope engine;
    ASSERT_EQ(UiStartup(GetModuleHandleA(nullptr)), 1);
    SessionScope session;
    TestFolder folder;
    WriteFileBytes(folder / "a.txt", "a");
    WriteFileBytes(folder / "b.txt", "b");
    TestDatabase db("TEST", "C:\\Source\\", UninstallCallback);
    ASSERT_EQ(db.Parse("_dir=APP /_TARGETPATH \"" + ScriptPath(folder.path()) +
                       "app\" /_REMOVABLE;\r\n"
                       "_file=A /_TARGETPATH \"" +
                       ScriptPath(folder.path()) +
                       "a.txt\" /_REMOVABLE;\r\n"
                       "_file=B /_TARGETPATH \"" +
                       ScriptPath(folder.path()) + "b.txt\" /_REMOVABLE;\r\n"),
              1);
    PrepareRemoval(session.context(), db.handle(), 0x3023);
    SetDatabaseFlags(db.handle(), DATABASE_PROCESSED, 1);
    HWND dialog = OpenRemovalDialog(nullptr);
    ASSERT_NE(dialog, nullptr);
    g_received.clear();
    g_dialogProc =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrA(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Recording)));
    int range = CountObjectsWithFlags(db.handle(), PASS_FILES | MARK_SELECTED); // every selected object counts
    session.session.database = db.handle();
    session.session.progressDialog = dialog;
    EXPECT_EQ(RunUninstallWorker(&session.session, ALL_PASSES), 1u); // the calling thread pumps while the worker runs
    SendMessageA(dialog, WM_PROGRESS, PROGRESS_CLOSE, 0);
    EXPECT_FALSE(PathExists(folder / "a.txt"));

    // The files pass: its range (high word), its step, step size 1, position 0, then its check mark,
    // by which the last file handled (the first in the script) and the count of files are shown.
    std::vector<std::string> files = {Cmd(PROGRESS_RANGE, std::to_string(range << 16)),
                                      Cmd(PROGRESS_STEP, "2"),
                                      Cmd(PROGRESS_STEP_SIZE, "1"),
                                      Cmd(PROGRESS_POSITION, "0"),
                                      Cmd(PROGRESS_CHECK, "2"),
                                      "shown:Remove files: a.txt@2"};
    auto at = std::search(g_received.begin(), g_received.end(), files.begin(), files.end());
    EXPECT_NE(at, g_received.end()) << "the files pass was not reported as expected";
    // The registry-items pass sends neither a range nor a step: its step size follows the folders'
    // check mark directly.
    std::vector<std::string> items = {Cmd(PROGRESS_CHECK, "3"), Cmd(PROGRESS_STEP_SIZE, "1"),
                                      Cmd(PROGRESS_POSITION, "0")};
    std::vector<std::string> commands;
    std::copy_if(g_received.begin(), g_received.end(), std::back_inserter(commands),
                 [](const std::string& r) { return r.rfind("shown:", 0) != 0; });
    EXPECT_NE(std::search(commands.begin(), commands.end(), items.begin(), items.end()), commands.end())
        << ::testing::PrintToString(g_received);
    // Every checklist step but the registry items' began and was checked.
    for (int step = 0; step <= 4; step++) {
        EXPECT_NE(std::find(g_received.begin(), g_received.end(), Cmd(PROGRESS_STEP, std::to_string(step))),
                  g_received.end());
        EXPECT_NE(std::find(g_received.begin(), g_received.end(), Cmd(PROGRESS_CHECK, std::to_string(step))),
                  g_received.end());
    }
    UiShutdown();
}

TEST(CallbackTest, AFileInUseStopsThePreparationUnlessItIsTheProgramItself)
{
    EngineScope engine;
    SessionScope session;
    session.session.flags = SESSION_QUIET; // the callback answers without a window
    TestFolder folder;
    WriteFileBytes(folder / "held.dll", "held");
    std::string self = TestProgramFolder() + "engine_tests.exe";
    struct Row {
        const char* what;
        std::string path;
        const char* hold; // how another process holds it (see child_program), or null
        int result;
        DWORD sharedCount; // in SharedDLLs, for a file declared "_SHAREDDLL"; 0: not shared
    } const rows[] = {
        {"a file held by another process", folder / "held.dll", "hold", -1, 0},
        {"a file another process reads, sharing everything", folder / "held.dll", "read", -1, 0},
        {"the same file, free", folder / "held.dll", nullptr, 1, 0},
        {"the running program's own file", self, nullptr, 1, 0},
        {"a file that is not there", folder / "missing.dll", nullptr, 0, 0},
        {"a held shared file that only this product counts", folder / "held.dll", "hold", -1, 1},
        {"a held shared file that another product counts too", folder / "held.dll", "hold", 1, 2},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        session.session.flags &= ~SESSION_FILE_IN_USE;
        KernelHandle holder;
        if (r.hold != nullptr) {
            holder.reset(RunHolder(r.path, 5000, "", r.hold));
            ASSERT_TRUE(holder);
        }
        if (r.sharedCount != 0) {
            SetDwordValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, r.path, r.sharedCount);
        }
        TestDatabase db("TEST", "C:\\Source\\", UninstallCallback);
        ASSERT_EQ(db.Parse("_file=F /_TARGETPATH \"" + ScriptPath(r.path) + "\" /_REMOVABLE" +
                           (r.sharedCount != 0 ? " /_SHAREDDLL" : "") + ";\r\n"),
                  1);
        EXPECT_EQ(PrepareRemoval(session.context(), db.handle(), 0), r.result);
        RemoveTestValue(RegKeyHandle(OpenRegKeyWrite(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY)).get(), r.path);
        EXPECT_EQ((session.session.flags & SESSION_FILE_IN_USE) != 0, r.result < 0);
        if (holder) {
            TerminateProcess(holder.get(), 0);
            WaitForSingleObject(holder.get(), 5000);
        }
    }
}
