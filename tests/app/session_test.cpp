// Sessions built for products staged in the Wine prefix, in-process and through the real program.
#include "app/session.h"
#include "kit/database_kit.h"
#include "kit/uninstall_kit.h"
#include "ui/dialog_texts.h"

namespace {

// A built session, ended like the program ends it.
struct BuiltSession {
    explicit BuiltSession(const std::string& commandLine)
        : session(BuildSession(GetModuleHandleA(nullptr), commandLine.c_str()))
    {
    }
    ~BuiltSession()
    {
        if (session != nullptr) {
            UiShutdown();
            FreeSession(session);
        }
    }
    UninstallSession* session;
};

std::string Quoted(const std::string& folder)
{
    return "\"" + folder + "\"";
}

} // namespace

TEST(SessionTest, AnInstalledProductGivesItsSession)
{
    for (bool container : {false, true}) {
        SCOPED_TRACE(container ? "container" : "plain file");
        ProductSpec spec;
        spec.container = container;
        spec.script =
            "_regitem=UN_LOCKED /_CONTENTS \"" + std::string(300, 'L') +
            "\";"
            "_regitem=UN_DLG_YES /_CONTENTS Ja;_regitem=UN_SUCCESS /_CONTENTS \"All gone from OBJECTPATH VERSION\";";
        ProductStage product(spec);
        BuiltSession built("/KILL " + Quoted(product.folder()));
        UninstallSession* s = built.session;
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(std::string(s->configFile), product.configFile());
        EXPECT_STREQ(s->title, "Staged Product"); // no "MAIN_TITLE": the "PRODUCT" value
        EXPECT_EQ(std::string(s->removeTarget), "HKEY_LOCAL_MACHINE\\" + product.productKey());
        EXPECT_EQ(strlen(s->lockedText), 259u);
        EXPECT_EQ(std::string(s->successText),
                  "All gone from HKEY_LOCAL_MACHINE\\" + product.productKey() + "\\VERSION");
        EXPECT_STREQ(s->confirmText, "Do You really want to remove the application ?"); // not overridden
        EXPECT_STREQ(UiText(UI_TEXT_BUTTON_YES), "Ja");                                 // handed to the dialog layer
    }
    // "MAIN_TITLE" wins over the "PRODUCT" value; the program's own folder is searched without a path.
    ProductSpec titled;
    titled.script = "_regitem=MAIN_TITLE /_CONTENTS \"Remove My Product\";";
    ProductStage product(titled);
    BuiltSession built(Quoted(product.folder()));
    ASSERT_NE(built.session, nullptr);
    EXPECT_STREQ(built.session->title, "Remove My Product");
}

TEST(SessionTest, EveryRefusalEndsWithoutASession)
{
    struct Case {
        const char* what;
        void (*change)(ProductSpec&);
    } const cases[] = {
        {"an update script", [](ProductSpec& s) { s.flags = "_UPDATE"; }},
        {"no marks", [](ProductSpec& s) { s.flags = "_REBOOT"; }},
        {"no VERSION", [](ProductSpec& s) { s.writeVersion = false; }},
        {"VERSION as a number", [](ProductSpec& s) { s.versionAsNumber = true; }},
        {"another version in the container",
         [](ProductSpec& s) {
             s.container = true;
             s.containerVersion = "2.0";
         }},
        {"a Version.txt of 300 bytes",
         [](ProductSpec& s) {
             s.container = true;
             s.containerVersion = std::string(300, '1');
         }},
        {"REMOVE names another file", [](ProductSpec& s) { s.remove = "C:\\Other\\Struct.cfg"; }},
        {"no REMOVE", [](ProductSpec& s) { s.writeRemove = false; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProductSpec spec;
        c.change(spec);
        ProductStage product(spec);
        BuiltSession built(Quoted(product.folder()));
        EXPECT_EQ(built.session, nullptr);
        EXPECT_EQ(UiInstance(), nullptr); // everything started was undone
    }
    TestFolder empty;
    BuiltSession none(Quoted(empty.path()));
    EXPECT_EQ(none.session, nullptr);
    EXPECT_EQ(EngineDatabaseRegistry(), 0u);
}

TEST(SessionTest, TheRealProgramFindsOrRefusesQuietly)
{
    // Refusals end the program with 0 and no window, started with the folder or from inside it.
    ProductSpec update;
    update.flags = "_UPDATE";
    update.withProgram = true;
    ProductStage refused(update);
    for (const std::string& line : {Quoted(refused.folder()), std::string()}) {
        SCOPED_TRACE(line);
        std::string program = line.empty() ? refused.program() : TestProgramFolder() + "Uninst.exe";
        UninstallRun run = RunUninstaller(program, line, true, nullptr, 30000);
        EXPECT_EQ(run.phaseOneExit, 0u);
        EXPECT_EQ(run.windowsSeen, 0u);
    }
}

TEST(SessionTest, AnInstalledProductIsTheOneWhoseRemoveValueNamesTheFile)
{
    EngineScope engine;
    ProductSpec spec;
    ProductStage product(spec);
    const std::string& text = product.scriptText();
    UINT32 size = static_cast<UINT32>(text.size());
    EXPECT_EQ(CheckInstalledProduct(text.data(), size, product.configFile().c_str()), 1);
    EXPECT_EQ(CheckInstalledProduct(text.data(), size, "C:\\Else\\Struct.cfg"), 0);
    EXPECT_EQ(CheckInstalledProduct("[SSCRIPT]_file=X;", 17, nullptr), 0); // no "REMOVE" value named
}

TEST(SessionTest, EveryNameOfTheFolderFindsTheProductAndAStartWithoutOneNamesWhereItLooked)
{
    ProductSpec spec;
    spec.withProgram = true;
    ProductStage product(spec);
    std::string shortFolder = ShortForm(product.folder());
    ASSERT_NE(shortFolder, product.folder()); // the prefix gives its long names 8.3 aliases
    {
        BuiltSession built(Quoted(shortFolder));
        ASSERT_NE(built.session, nullptr);
        EXPECT_EQ(std::string(built.session->configFile), product.configFile()); // one product, one name
    }
    // The real program started through its 8.3 path finds and removes the product.
    TestFolder empty, logs;
    UninstallRun run = RunUninstaller(ShortForm(product.program()), "/QUIET /LOG \"" + (logs / "run.log") + "\"");
    EXPECT_EQ(run.phaseOneExit, 0u) << ReadFileBytes(logs / "run.log");
    EXPECT_NE(ReadFileBytes(logs / "run.log").find("configuration " + product.configFile() + "\r\n"),
              std::string::npos);

    {
        BuiltSession none("/QUIET /LOG \"" + (logs / "r.log") + "\" " + Quoted(empty.path()));
        EXPECT_EQ(none.session, nullptr);
    }
    EXPECT_NE(ReadFileBytes(logs / "r.log").find("(configuration searched in " + empty.path() + ")"),
              std::string::npos);
}
