// The message box as a user meets it: opened on one thread, driven from another.
#include "ui/dialog_texts.h"
#include "ui/dialogs.h"
#include "ui/message_box.h"

#include "kit/testkit.h"

#include <gtest/gtest.h>

#include <string.h>

#include <atomic>
#include <string>
#include <vector>

namespace {

// Whether the box's thread has handled what its start-up queued (focus, the default button): it
// answers a message of its own once it has.
// The box has handled what it posted itself while it was made (its default button): a sent message is
// answered inside the box's next wait for a message, before the posted ones that wait returns; a second
// one is answered only once the box waits again, after it has handled them.
bool Settled(HWND box)
{
    DWORD_PTR answer = 0;
    return SendMessageTimeoutA(box, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer) != 0 &&
           SendMessageTimeoutA(box, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer) != 0;
}

struct Box {
    std::atomic<HWND> window{nullptr};
    std::atomic<int> result{-100};
    std::atomic<bool> done{false};
    HANDLE thread = nullptr;

    // Opens the box on its own thread and waits until it is laid out.
    bool Open(const char* text, const char* caption, UINT32 style, std::vector<const char*> labels = {})
    {
        thread = StartThread([=] {
            HWND out = nullptr;
            std::vector<const char*> copy = labels;
            int r = ShowMessageBox(nullptr, text, caption, style, nullptr, copy.empty() ? nullptr : copy.data(),
                                   nullptr, nullptr, &out);
            result = r;
            done = true;
        });
        for (int i = 0; i < 1000 && !done; i++) {
            HWND w = FindWindowA(nullptr, caption != nullptr ? caption : "Error");
            if (w != nullptr && IsWindowVisible(w)) {
                window = w;
                return Settled(w);
            }
            Sleep(10);
        }
        return false;
    }

    int Close()
    {
        EXPECT_TRUE(JoinThread(thread));
        return result;
    }

    std::vector<std::string> Buttons() const
    {
        std::vector<std::string> texts;
        for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
            char text[128] = {};
            GetWindowTextA(child, text, sizeof(text));
            texts.push_back(text);
        }
        return texts;
    }

    int DefaultId() const { return LOWORD(SendMessageA(window, DM_GETDEFID, 0, 0)); }
};

RECT WorkArea()
{
    RECT work;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    return work;
}

} // namespace

TEST(MessageBoxTest, EveryWayOfAnsweringGivesItsResult)
{
    struct Case {
        const char* what;
        UINT32 style;
        int action; // a button id to click, or VK_RETURN / VK_ESCAPE as keys, or -1 for the close box
        bool key;
        int result;
    };
    std::vector<Case> cases = {
        {"yes/no, Enter", MB_YESNO, VK_RETURN, true, IDYES},
        {"yes/no, No", MB_YESNO, 2, false, IDNO},
        {"ok/cancel, Cancel", MB_OKCANCEL, 2, false, IDCANCEL},
        {"abort/retry/ignore, Abort", MB_ABORTRETRYIGNORE, 1, false, IDABORT},
        {"abort/retry/ignore, Retry", MB_ABORTRETRYIGNORE, 4, false, IDRETRY},
        {"abort/retry/ignore, Ignore", MB_ABORTRETRYIGNORE, 2, false, IDIGNORE},
        {"yes/no/cancel, No", MB_YESNOCANCEL, 7, false, IDNO},
        {"yes/no/cancel, Cancel", MB_YESNOCANCEL, 2, false, IDCANCEL},
        {"retry/cancel, Retry", MB_RETRYCANCEL, 1, false, IDRETRY},
        {"the confirmation: No is the default", 0x1124, VK_RETURN, true, IDNO},
    };
    // Escape and the close box give the last button's answer on every type; a type above
    // MB_RETRYCANCEL (shown with one OK button) counts as dismissed.
    const int lastAnswer[] = {IDOK, IDCANCEL, IDIGNORE, IDCANCEL, IDNO, IDCANCEL, IDCANCEL, IDCANCEL};
    for (UINT32 type = 0; type < 8; type++) {
        cases.push_back({"Escape", type, VK_ESCAPE, true, lastAnswer[type]});
        cases.push_back({"close box", type, -1, false, lastAnswer[type]});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.what << ", type " << (c.style & MB_TYPEMASK));
        Box box;
        ASSERT_TRUE(box.Open("Do You really want to remove the application ?", c.what, c.style));
        if (c.action == -1) {
            PostMessageA(box.window, WM_SYSCOMMAND, SC_CLOSE, 0);
        } else if (c.key) {
            HWND target = GetDlgItem(box.window, box.DefaultId());
            PostMessageA(target != nullptr ? target : box.window.load(), WM_KEYDOWN, static_cast<WPARAM>(c.action), 0);
            PostMessageA(target != nullptr ? target : box.window.load(), WM_KEYUP, static_cast<WPARAM>(c.action), 0);
        } else {
            PostMessageA(GetDlgItem(box.window, c.action), BM_CLICK, 0, 0);
        }
        EXPECT_EQ(box.Close(), c.result);
    }
}

TEST(MessageBoxTest, LabelsDefaultsAndSizes)
{
    const RECT work = WorkArea();
    {
        Box box;
        ASSERT_TRUE(box.Open("Question", "Help too", MB_YESNO | MB_HELP | MB_ICONQUESTION));
        EXPECT_EQ(box.Buttons(), (std::vector<std::string>{"Yes", "No", "Help"}));
        EXPECT_EQ(box.DefaultId(), 1);
        PostMessageA(box.window, WM_CLOSE, 0, 0);
        EXPECT_EQ(box.Close(), IDNO);
    }
    {
        Box box; // the confirmation's style: the second button is the default, and stays so however late
                 // the box is activated
        ASSERT_TRUE(box.Open("Remove?", "Confirm", 0x1124));
        EXPECT_EQ(box.DefaultId(), 2);
        SendMessageA(box.window, WM_ACTIVATE, WA_ACTIVE, 0);
        EXPECT_EQ(box.DefaultId(), 2);
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(box.window, GWL_STYLE)) & DS_SYSMODAL,
                  static_cast<DWORD>(DS_SYSMODAL));
        PostMessageA(box.window, WM_CLOSE, 0, 0);
        box.Close();
    }
    {
        Box box; // one override, then a null: only the first label changes
        ASSERT_TRUE(box.Open("x", "Overrides", MB_YESNOCANCEL, {"Ja", nullptr, "Never"}));
        EXPECT_EQ(box.Buttons(), (std::vector<std::string>{"Ja", "No", "Cancel"}));
        PostMessageA(box.window, WM_CLOSE, 0, 0);
        EXPECT_EQ(box.Close(), IDCANCEL);
    }
    {
        Box box; // an empty message still makes a box
        ASSERT_TRUE(box.Open("", "Empty", MB_OKCANCEL));
        EXPECT_EQ(box.Buttons(), (std::vector<std::string>{"Ok", "Cancel"}));
        PostMessageA(box.window, WM_CLOSE, 0, 0);
        EXPECT_EQ(box.Close(), IDCANCEL);
    }
    {
        Box box; // no caption: "Error"
        ASSERT_TRUE(box.Open(nullptr, nullptr, MB_OK));
        char caption[32] = {};
        GetWindowTextA(box.window, caption, sizeof(caption));
        EXPECT_STREQ(caption, "Error");
        PostMessageA(box.window, WM_CLOSE, 0, 0);
        box.Close();
    }
    // A message of 100 KiB and a caption of one 500-character word: the box stays inside the work area.
    std::string message;
    while (message.size() < 100 * 1024) {
        message += "Some files can not be removed automatically, remove them by hand. ";
    }
    std::string caption(500, 'W');
    Box big;
    ASSERT_TRUE(big.Open(message.c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION));
    RECT r;
    GetWindowRect(big.window, &r);
    EXPECT_LE(r.right - r.left, work.right - work.left);
    EXPECT_LE(r.bottom - r.top, work.bottom - work.top);
    EXPECT_GE(r.left, work.left);
    EXPECT_GE(r.top, work.top);
    PostMessageA(big.window, WM_CLOSE, 0, 0);
    EXPECT_EQ(big.Close(), IDOK);
}

TEST(MessageBoxTest, ButtonCaptionsComeFromTheTextTable)
{
    ASSERT_EQ(UiStartup(GetModuleHandleA(nullptr)), 1);
    DialogTextBlock* block = new DialogTextBlock();
    strcpy(block->text[UI_TEXT_BUTTON_YES], "Oui");
    strcpy(block->text[UI_TEXT_BUTTON_NO], "Non");
    UiApplyTexts(block);
    delete block;
    std::atomic<int> result{-100};
    HANDLE thread = StartThread([&] { result = UiMessageBox(nullptr, "Supprimer ?", "Table texts", MB_YESNO); });
    HWND window = nullptr;
    for (int i = 0; i < 500 && window == nullptr; i++) {
        Sleep(10);
        window = FindWindowA(nullptr, "Table texts");
    }
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(Settled(window));
    char yes[16] = {}, no[16] = {};
    GetWindowTextA(GetDlgItem(window, 1), yes, sizeof(yes));
    GetWindowTextA(GetDlgItem(window, 2), no, sizeof(no));
    EXPECT_STREQ(yes, "Oui");
    EXPECT_STREQ(no, "Non");
    PostMessageA(GetDlgItem(window, 1), BM_CLICK, 0, 0);
    EXPECT_TRUE(JoinThread(thread));
    EXPECT_EQ(result, IDYES);
    EXPECT_EQ(CheckPrivileges(nullptr, 0), 1);
    UiShutdown();
}

namespace {

std::atomic<int> g_helpAsked{0};

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && LOWORD(wParam) == MESSAGE_BOX_HELP_ID) {
        g_helpAsked++;
        return 1; // help was given: the box may go
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

TEST(MessageBoxTest, HelpGoesToTheOwnerWhichMayCloseTheBox)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = OwnerProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "UninstTestOwner";
    RegisterClassA(&wc);
    std::atomic<HWND> box{nullptr};
    std::atomic<int> result{-100};
    std::atomic<bool> done{false};
    // The owner and its box live on one thread, as the driver's progress dialog and its boxes do.
    HANDLE thread = StartThread([&] {
        HWND owner = CreateWindowExA(0, "UninstTestOwner", "Owner", WS_OVERLAPPEDWINDOW, 10, 10, 300, 200, nullptr,
                                     nullptr, GetModuleHandleA(nullptr), nullptr);
        HWND out = nullptr;
        result = ShowMessageBox(owner, "Need help?", "With help", MB_OKCANCEL | MB_HELP, nullptr, nullptr, nullptr,
                                nullptr, &out);
        done = true;
        DestroyWindow(owner);
    });
    for (int i = 0; i < 500 && box.load() == nullptr; i++) {
        Sleep(10);
        HWND w = FindWindowA(nullptr, "With help");
        if (w != nullptr && IsWindowVisible(w)) {
            box = w;
        }
    }
    ASSERT_NE(box.load(), nullptr);
    ASSERT_TRUE(Settled(box));
    EXPECT_NE(GetDlgItem(box, MESSAGE_BOX_HELP_ID), nullptr);
    // The Help button asks the owner; its non-zero answer closes the box as Escape would.
    PostMessageA(GetDlgItem(box, MESSAGE_BOX_HELP_ID), BM_CLICK, 0, 0);
    EXPECT_TRUE(JoinThread(thread));
    EXPECT_TRUE(done.load());
    EXPECT_EQ(g_helpAsked.load(), 1);
    EXPECT_EQ(result.load(), IDCANCEL);
}
