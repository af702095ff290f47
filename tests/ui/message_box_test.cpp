// The message box as a user meets it: opened on one thread, driven from another.
#include "ui/dialog_texts.h"
#include "ui/dialogs.h"
#include "ui/message_box.h"

#include "kit/testkit.h"

namespace {

// The box has handled what it posted itself while it was made (its default button): a sent message is
// answered inside the box's next wait for a message, before the posted ones that wait returns; a second
// one is answered only once the box waits again, after it has handled them.
bool Settled(HWND box)
{
    DWORD_PTR answer = 0;
    return SendMessageTimeoutA(box, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer) != 0 &&
           SendMessageTimeoutA(box, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer) != 0;
}

// A box shown by show on a thread of its own, found by its caption once it is laid out.
struct Box {
    std::atomic<HWND> window{nullptr};
    std::atomic<int> result{-100};
    std::atomic<bool> done{false};
    HANDLE thread = nullptr;

    bool Open(const char* caption, std::function<int()> show)
    {
        thread = StartThread([=] {
            result = show();
            done = true;
        });
        for (int i = 0; i < 1000 && !done; i++) {
            HWND w = FindWindowA(nullptr, caption);
            if (w != nullptr && IsWindowVisible(w)) {
                window = w;
                return Settled(w);
            }
            Sleep(10);
        }
        return false;
    }
    bool Open(const char* text, const char* caption, UINT32 style, std::vector<const char*> labels = {})
    {
        return Open(caption != nullptr ? caption : "Error", [=] {
            HWND out = nullptr;
            std::vector<const char*> copy = labels;
            return ShowMessageBox(nullptr, text, caption, style, nullptr, copy.empty() ? nullptr : copy.data(), nullptr,
                                  nullptr, &out);
        });
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
        {"abort/retry/ignore, Abort", MB_ABORTRETRYIGNORE, 1, false, IDABORT},
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
        HWND target = c.key ? GetDlgItem(box.window, box.DefaultId()) : GetDlgItem(box.window, c.action);
        target = target != nullptr ? target : box.window.load();
        if (c.action == -1) {
            PostMessageA(box.window, WM_SYSCOMMAND, SC_CLOSE, 0);
        } else if (c.key) {
            PostMessageA(target, WM_KEYDOWN, static_cast<WPARAM>(c.action), 0);
            PostMessageA(target, WM_KEYUP, static_cast<WPARAM>(c.action), 0);
        } else {
            PostMessageA(target, BM_CLICK, 0, 0);
        }
        EXPECT_EQ(box.Close(), c.result);
    }
}

TEST(MessageBoxTest, LabelsDefaultsAndSizes)
{
    struct Case {
        const char* what;
        const char* text;
        const char* caption;
        UINT32 style;
        std::vector<const char*> labels;
        std::vector<std::string> buttons;
        int defaultId;
        int closed; // the answer of the close box
    } const cases[] = {
        {"help too", "Question", "Help too", MB_YESNO | MB_HELP | MB_ICONQUESTION, {}, {"Yes", "No", "Help"}, 1, IDNO},
        {"one override, then a null: only the first label changes",
         "x",
         "Overrides",
         MB_YESNOCANCEL,
         {"Ja", nullptr, "Never"},
         {"Ja", "No", "Cancel"},
         1,
         IDCANCEL},
        // The confirmation's style: the second button is the default however late the box is activated.
        {"the confirmation", "Remove?", "Confirm", 0x1124, {}, {"Yes", "No"}, 2, IDNO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Box box;
        ASSERT_TRUE(box.Open(c.text, c.caption, c.style, c.labels));
        SendMessageA(box.window, WM_ACTIVATE, WA_ACTIVE, 0);
        EXPECT_EQ(box.Buttons(), c.buttons);
        EXPECT_EQ(box.DefaultId(), c.defaultId);
        PostMessageA(box.window, WM_CLOSE, 0, 0);
        EXPECT_EQ(box.Close(), c.closed);
    }
    // A message of 100 KiB and a caption of one 500-character word: the box stays inside the work area.
    std::string message;
    while (message.size() < 100 * 1024) {
        message += "Some files can not be removed automatically, remove them by hand. ";
    }
    std::string caption(500, 'W');
    Box big;
    ASSERT_TRUE(big.Open(message.c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION | MB_SYSTEMMODAL));
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(big.window, GWL_STYLE)) & DS_SYSMODAL, static_cast<DWORD>(DS_SYSMODAL));
    RECT r, work;
    GetWindowRect(big.window, &r);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_TRUE(r.left >= work.left && r.top >= work.top && r.right <= work.right && r.bottom <= work.bottom);
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
    Box box;
    ASSERT_TRUE(box.Open("Table texts", [] { return UiMessageBox(nullptr, "Supprimer ?", "Table texts", MB_YESNO); }));
    EXPECT_EQ(box.Buttons(), (std::vector<std::string>{"Oui", "Non"}));
    PostMessageA(GetDlgItem(box.window, 1), BM_CLICK, 0, 0);
    EXPECT_EQ(box.Close(), IDYES);
    EXPECT_EQ(CheckPrivileges(nullptr, 0), 1);
    UiShutdown();
}
