#include "app/modes.h"
#include "kit/testkit.h"
#include "app/session.h"
#include "support/startup.h"
#include "ui/dialog_texts.h"

namespace {

struct SessionBlock {
    UninstallSession* session;
    SessionBlock() : session(static_cast<UninstallSession*>(MemAlloc(sizeof(UninstallSession)))) {}
    ~SessionBlock()
    {
        MemFree(session->sharingArgument);
        MemFree(session->logPath);
        MemFree(session);
    }
};

struct CommandCase {
    std::string line;
    UINT32 flags;
    UINT32 parent;
    const char* sharing; // null: none
    std::string path;    // "": none
};

} // namespace

TEST(CommandLineTest, WordsNumbersAndPathsFillTheSession)
{
    const std::string longPath = "C:\\" + std::string(32 * 1024, 'p');
    const std::string longWord = "/" + std::string(32 * 1024, 'W');
    const CommandCase cases[] = {
        {"", 0, 0, nullptr, ""},
        {"/KILL \"C:\\App\\\"", SESSION_KILL, 0, nullptr, "C:\\App\\"},
        {"1234 \"C:\\App\\\"", SESSION_PHASE_TWO, 1234, nullptr, "C:\\App\\"},
        {"\"C:\\App\\\" 1234", SESSION_PHASE_TWO, 1234, nullptr, "C:\\App\\"},
        {"/DLLSHARING \"HKEY_LOCAL_MACHINE\\Software\\Products\"",
         SESSION_SHARING | SESSION_SHARING_PATH | SESSION_DLL_SHARING, 0, "HKEY_LOCAL_MACHINE\\Software\\Products", ""},
        {"/DOUBLESHARING \"K\"", SESSION_SHARING | SESSION_SHARING_PATH | 0x30, 0, "K", ""},
        {"/REGSHARING /DLLSHARING", SESSION_SHARING | SESSION_REG_SHARING, 0, nullptr, ""}, // second ignored
        {"/REGSHARING \"A\" /DLLSHARING \"B\"", SESSION_SHARING | SESSION_SHARING_PATH | SESSION_REG_SHARING, 0, "A",
         "B"},
        {"1234 /DLLSHARING", SESSION_PHASE_TWO | SESSION_SHARING | SESSION_DLL_SHARING, 1234, nullptr, ""},
        {"/kill", 0, 0, nullptr, ""},            // words are upper case
        {"\"C:\\App", 0, 0, nullptr, "C:\\App"}, // an unterminated quote runs to the end
        {"//KILL", 0, 0, nullptr, ""},           // an empty word ends the line
        {"C:\\App\\", 0, 0, nullptr, "C"},       // an unquoted path ends at ':'
        {"\"" + longPath + "\"", 0, 0, nullptr, longPath},
        {longWord + " /KILL", SESSION_KILL, 0, nullptr, ""},
        {"999999999999 /KILL", SESSION_KILL, 0, nullptr, "999999999999"}, // no number: a value
    };
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.line.substr(0, 80));
        SessionBlock block;
        ASSERT_NE(block.session, nullptr);
        char* path = reinterpret_cast<char*>(1);
        SessionReadCommandLine(block.session, c.line.c_str(), &path);
        EXPECT_EQ(block.session->flags, c.flags);
        EXPECT_EQ(block.session->parentProcessId, c.parent);
        if (c.sharing == nullptr) {
            EXPECT_EQ(block.session->sharingArgument, nullptr);
        } else {
            ASSERT_NE(block.session->sharingArgument, nullptr);
            EXPECT_STREQ(block.session->sharingArgument, c.sharing);
        }
        if (c.path.empty()) {
            EXPECT_EQ(path, nullptr);
        } else {
            ASSERT_NE(path, nullptr);
            EXPECT_EQ(std::string(path), c.path);
        }
        MemFree(path);
    }
}

TEST(CommandLineTest, TheFirstReportPathCounts)
{
    const struct {
        const char* line;
        const char* log;
    } cases[] = {
        {"/QUIET /LOG \"C:\\Logs\\first.log\" /LOG \"C:\\Logs\\second.log\"", "C:\\Logs\\first.log"},
        {"/LOG C:\\Logs\\x.log /LOG D:\\y.log", "C:\\Logs\\x.log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        SessionBlock block;
        ASSERT_NE(block.session, nullptr);
        char* path = nullptr;
        SessionReadCommandLine(block.session, c.line, &path);
        ASSERT_NE(block.session->logPath, nullptr);
        EXPECT_STREQ(block.session->logPath, c.log);
        MemFree(path);
    }
}

TEST(CommandLineTest, ModesFollowTheFlags)
{
    char key[] = "HKEY_LOCAL_MACHINE\\Software\\Products";
    char target[] = "HKEY_LOCAL_MACHINE\\Software\\Maker\\Product";
    struct Case {
        UINT32 flags;
        bool resync;
        const char* resyncKey;
        UINT32 kinds;
        bool uninstall;
    } const cases[] = {
        {0, false, nullptr, 0, true},
        {SESSION_PHASE_TWO, false, nullptr, 0, true},
        // A sharing word without a key: resync over the product's own key, then uninstall.
        {SESSION_SHARING | SESSION_DLL_SHARING, true, target, 0x10, true},
        // With a key: the resynchronisation alone.
        {SESSION_SHARING | SESSION_SHARING_PATH | 0x30, true, key, 0x30, false},
        // The relocated copy never resynchronises.
        {SESSION_PHASE_TWO | SESSION_SHARING | SESSION_SHARING_PATH | 0x10, false, nullptr, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        UninstallSession session = {};
        session.flags = c.flags | SESSION_KILL;
        session.sharingArgument = key;
        session.removeTarget = target;
        SessionModePlan plan = SessionPlanModes(&session);
        EXPECT_EQ(plan.resync, c.resync);
        if (c.resync) {
            EXPECT_EQ(plan.resyncKey, c.resyncKey);
            EXPECT_EQ(plan.resyncKinds, c.kinds);
        }
        EXPECT_EQ(plan.uninstall, c.uninstall);
    }
}

TEST(CommandLineTest, BuildSessionKeepsBuiltInTextsForAResyncAlone)
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    UninstallSession* session = BuildSession(instance, "/DOUBLESHARING \"HKEY_LOCAL_MACHINE\\Software\\P\"");
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->flags, SESSION_SHARING | SESSION_SHARING_PATH | 0x30u);
    // The built-in texts are in place; the one for a file in use keeps its single %s.
    EXPECT_STREQ(session->title, "Uninstall");
    EXPECT_STREQ(strstr(session->lockedText, "%"), "%s\" is in use by another application...\n\nplease, close "
                                                   "all Your applications and retry !");
    EXPECT_EQ(UiInstance(), instance); // the dialog layer runs while the session does

    UiShutdown();
    MemFree(session->sharingArgument);
    MemFree(session);
    EXPECT_EQ(EngineDatabaseRegistry(), 0u);
}

TEST(CommandLineTest, BuildSessionWithoutAConfigurationUndoesEverything)
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    const char* lines[] = {"", "/KILL", "1234 \"C:\\App\\\"", "/DLLSHARING", "1234 /DLLSHARING \"K\""};
    for (const char* line : lines) {
        SCOPED_TRACE(line);
        EXPECT_EQ(BuildSession(instance, line), nullptr);
        EXPECT_EQ(UiInstance(), nullptr);
        EXPECT_EQ(EngineDatabaseRegistry(), 0u);
    }
    EXPECT_EQ(BuildSession(nullptr, "/DLLSHARING \"K\""), nullptr); // the dialog layer needs an instance
}
