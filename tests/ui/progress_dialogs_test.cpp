// The progress dialogs opened on a thread of their own, as the driver's main thread does, and driven
// with WM_PROGRESS from another, as the executor's callback does.
#include "ui/dialog_texts.h"
#include "ui/progress_dialogs.h"
#include "ui/resource.h"

#include "kit/testkit.h"

#include <commctrl.h>

namespace {

struct DialogThread {
    std::atomic<HWND> dialog{nullptr};
    std::atomic<bool> opened{false};
    HANDLE thread = nullptr;

    explicit DialogThread(bool removal)
    {
        thread = StartThread([this, removal] {
            HWND d = removal ? OpenRemovalDialog(nullptr) : OpenFixupDialog(nullptr);
            dialog = d;
            opened = true;
            // Pumps until the dialog is gone, as the driver's main thread does.
            MSG msg;
            while (d != nullptr && IsWindow(d)) {
                while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                    if (!IsDialogMessageA(d, &msg)) {
                        TranslateMessage(&msg);
                        DispatchMessageA(&msg);
                    }
                }
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            }
        });
        WaitFor(opened);
    }
    ~DialogThread() { JoinThread(thread); }

    std::string Text(int id) const
    {
        char text[600] = {};
        GetDlgItemTextA(dialog, id, text, sizeof(text));
        return text;
    }
    // Names and positions that come in quick succession are shown at the next tick: the text once it
    // is the one expected, or the last one seen after a second.
    std::string TextWhen(int id, const std::string& expected) const
    {
        std::string text;
        for (int waited = 0; (text = Text(id)) != expected && waited < 1000; waited += 5) {
            Sleep(5);
        }
        return text;
    }
    LRESULT Send(WPARAM command, LPARAM value) const { return SendMessageA(dialog, WM_PROGRESS, command, value); }
};

} // namespace

TEST(ProgressDialogsTest, TheRemovalChecklistFollowsEveryCommand)
{
    EXPECT_EQ(OpenRemovalDialog(nullptr), nullptr); // the layer is not started
    ASSERT_EQ(UiStartup(GetModuleHandleA(nullptr)), 1);
    {
        DialogThread d(true);
        ASSERT_NE(d.dialog.load(), nullptr);
        EXPECT_EQ(d.Text(1035), "Unregister components");
        EXPECT_EQ(d.Text(1039), "Remove registry keys");
        for (int step = 0; step < 5; step++) {
            HWND mark = GetDlgItem(d.dialog, IDC_CHECK_FIRST + step);
            EXPECT_FALSE(IsWindowVisible(mark));
            // Each check mark sits on the line of its label: their middles within two pixels.
            RECT markAt, labelAt;
            GetWindowRect(mark, &markAt);
            GetWindowRect(GetDlgItem(d.dialog, IDC_LABEL_FIRST + step), &labelAt);
            EXPECT_NEAR((markAt.top + markAt.bottom) / 2.0, (labelAt.top + labelAt.bottom) / 2.0, 2.0) << step;
        }
        EXPECT_EQ(d.Send(PROGRESS_STEP, 2), 1);
        EXPECT_EQ(d.Text(IDC_STATUS_REMOVAL), "Remove files:"); // not padded: the name must stay in sight
        EXPECT_EQ(d.Send(PROGRESS_NAME, reinterpret_cast<LPARAM>("C:\\App\\main.exe")), 1);
        EXPECT_EQ(d.TextWhen(IDC_STATUS_REMOVAL, "Remove files: C:\\App\\main.exe"), "Remove files: C:\\App\\main.exe");
        // One line that shortens a long path in its middle, so the file name always shows.
        LONG style = GetWindowLongA(GetDlgItem(d.dialog, IDC_STATUS_REMOVAL), GWL_STYLE);
        EXPECT_EQ(style & (SS_TYPEMASK | SS_ELLIPSISMASK), SS_LEFT | SS_PATHELLIPSIS);
        // Offered without a round trip: the newest name and position show within a tick, and always
        // before the next command; a dialog that is not the one opened last takes no offers.
        for (int i = 1; i <= 500; i++) {
            ASSERT_TRUE(ProgressOffer(d.dialog, i % 250, ("offered" + std::to_string(i)).c_str()));
        }
        EXPECT_EQ(d.TextWhen(IDC_STATUS_REMOVAL, "Remove files: offered500"), "Remove files: offered500");
        HWND bar = GetDlgItem(d.dialog, IDC_PROGRESS);
        EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 0);
        ProgressOffer(d.dialog, 7, "just before the check");
        EXPECT_FALSE(ProgressOffer(GetDesktopWindow(), 1, "elsewhere"));
        EXPECT_EQ(d.Send(PROGRESS_CHECK, 2), 1);
        EXPECT_EQ(d.Text(IDC_STATUS_REMOVAL), "Remove files: just before the check");
        EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 7);
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(d.dialog, IDC_CHECK_FIRST + 2)));
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(d.dialog, IDC_CHECK_FIRST + 3)));
        HWND dialog = d.dialog;
        d.Send(PROGRESS_CLOSE, 0); // the dialog is gone before its answer can be read back
        EXPECT_FALSE(IsWindow(dialog));
        EXPECT_FALSE(ProgressOffer(dialog, 1, "after the close"));
    }
    UiShutdown();
}

TEST(ProgressDialogsTest, TheFixingUpDialogTakesItsLabelsFromTheTextTable)
{
    ASSERT_EQ(UiStartup(GetModuleHandleA(nullptr)), 1);
    {
        DialogThread d(false);
        EXPECT_EQ(d.Text(1035), "Please, wait while Setup looking for");
        d.Send(PROGRESS_NAME, reinterpret_cast<LPARAM>("MAINEXE"));
        EXPECT_EQ(d.TextWhen(IDC_STATUS_FIXUP, "Component: MAINEXE"), "Component: MAINEXE");
        d.Send(PROGRESS_CLOSE, 0);
    }
    // Configuration texts reach the dialog; a label text of 40 elements sets what exists.
    DialogTextBlock* block = new DialogTextBlock();
    strcpy(block->text[UI_TEXT_FIXUP_LABELS], "Suche@Bitte warten@@Teil:");
    std::string many = "Entfernen";
    for (int i = 0; i < 40; i++) {
        many += "@Schritt " + std::to_string(i);
    }
    strcpy(block->text[UI_TEXT_REMOVE_LABELS], many.substr(0, 259).c_str());
    UiApplyTexts(block);
    delete block;
    {
        DialogThread d(false);
        char caption[64] = {};
        GetWindowTextA(d.dialog, caption, sizeof(caption));
        EXPECT_STREQ(caption, "Suche");
        EXPECT_EQ(d.Text(1035), "Bitte warten");
        d.Send(PROGRESS_NAME, reinterpret_cast<LPARAM>("X"));
        EXPECT_EQ(d.TextWhen(IDC_STATUS_FIXUP, "Teil: X"), "Teil: X");
        d.Send(PROGRESS_CLOSE, 0);
    }
    {
        DialogThread d(true);
        EXPECT_EQ(d.Text(1035), "Schritt 0");
        EXPECT_EQ(d.Text(1039), "Schritt 4");
        d.Send(PROGRESS_CLOSE, 0);
    }
    UiShutdown();
}
