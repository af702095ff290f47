#include "kit/database_kit.h"
#include "script/text_expansion.h"
#include "script/object_text.h"

namespace {

std::string Expand(const TestDatabase& db, const char* context, const std::string& text)
{
    std::string copy = text;
    char* out = ExpandText(db.Find(context), &copy[0], 0);
    std::string result = out != nullptr ? out : "(null)";
    MemFree(out);
    return result;
}

// A folder of the system's with its trailing backslash.
std::string SystemFolder(UINT(WINAPI* get)(char*, UINT))
{
    char path[MAX_PATH] = {};
    get(path, sizeof(path));
    return std::string(path) + "\\";
}

} // namespace

TEST(PathsTest, PathsWalkTheParentsWithEveryMode)
{
    EngineScope engine;
    TestDatabase db;
    ASSERT_EQ(db.Parse("_dir=WINROOT /_TARGETPATH \"C:\\\\WINDOWS\\\\\";"
                       "_dir=SYSDIR /_PARENT WINROOT /_TARGETPATH system;"
                       "_file=F /_PARENT SYSDIR /_TARGETPATH x\\\\tool.dll;"
                       "_dir=SUB /_PARENT SYSDIR /_TARGETPATH \"\\\\sub\\\\\";"
                       "_file=G /_PARENT SUB /_TARGETPATH g.txt;"
                       "_regkey=SOFT /_TARGETPATH \"HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\\";"
                       "_regkey=VENDOR /_PARENT SOFT /_TARGETPATH Vendor;"
                       "_regkey=APP /_PARENT VENDOR /_TARGETPATH App;"
                       "_regitem=VERSION /_PARENT APP;"
                       "_regitem=LONE /_TARGETPATH \"\\\\Lone\\\\\";"
                       "_dir=FLOATING;_file=BELOW /_PARENT FLOATING;"),
              1);
    // The built-in root is simulated: WINROOT and SOFT stand for "WINDIR" and "HKEY_SOFTWARE".
    for (const char* builtIn : {"WINROOT", "SOFT"}) {
        InstallObject* o = LockObject(db.Find(builtIn));
        o->state |= STATE_READ_ONLY;
        ReleaseObject(o);
    }
    struct Case {
        const char* name;
        UINT32 mode;
        const char* path;
    } const cases[] = {
        {"F", 0, "C:\\WINDOWS\\system\\tool.dll"},
        {"F", PATH_FOLDER, "C:\\WINDOWS\\system\\"},
        {"F", PATH_BELOW_BUILTIN, "system\\tool.dll"},
        {"F", PATH_BUILTIN_ONLY, "C:\\WINDOWS\\tool.dll"},
        {"SYSDIR", PATH_CONTAINER, "C:\\WINDOWS\\system\\"},
        {"G", 0, "C:\\WINDOWS\\system\\sub\\g.txt"}, // no double backslash
        {"SUB", PATH_TRIM, "C:\\WINDOWS\\system\\sub"},
        {"SUB", PATH_BELOW_BUILTIN | PATH_TRIM, "system\\sub"},
        {"VERSION", 0, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\App\\VERSION"},
        {"VERSION", PATH_CONTAINER, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\App\\VERSION"}, // an item ends in itself
        {"APP", PATH_CONTAINER, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\App\\"},
        {"VERSION", PATH_FOLDER | PATH_BELOW_BUILTIN | PATH_TRIM, "Vendor\\App"},
        {"LONE", PATH_TRIM, "\\Lone\\"}, // a lone registry item keeps its backslashes
        {"FLOATING", 0, "(null)"},       // no root path: no path at all
        {"BELOW", PATH_FOLDER, "(null)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.mode));
        EXPECT_EQ(db.Path(c.name, c.mode), c.path);
    }
    // A system library lies on disk under its system-library name.
    ASSERT_EQ(db.Parse("_file=LIB /_PARENT SYSDIR /_TARGETPATH LIBRT32.DLL /_SYSLIB;"), 1);
    char* disk = GetObjectDiskPath(db.Find("LIB"), nullptr, 0);
    ASSERT_NE(disk, nullptr);
    EXPECT_STREQ(disk, "C:\\WINDOWS\\system\\_IBRT32.DLL");
    FreeObjectText(disk);
    // Paths are never cached: a parent's new target shows at once.
    SetObjectTargetPath(db.Find("SYSDIR"), "system32");
    EXPECT_EQ(db.Path("F"), "C:\\WINDOWS\\system32\\tool.dll");
}

TEST(PathsTest, TextsExpandReferencesWithTheJoinRule)
{
    EngineScope engine;
    TestDatabase db;
    ASSERT_EQ(db.Parse("_dir=APPDIR /_TARGETPATH \"C:\\\\App\";"
                       "_file=TOOL /_PARENT APPDIR /_TARGETPATH \"Bin\\\\tool.exe\" /_SOURCE \"disk1\\\\\";"
                       "_regkey=KEY /_TARGETPATH \"HKEY_CURRENT_USER\\\\Software\";"
                       "_regitem=ITEM /_PARENT KEY /_CONTENTS \"value of INFOSTR SELF\";"
                       "_regitem=NOTE /_PARENT KEY /_CONTENTS \"see OBJECTFILE TOOL\";"),
              1);
    const std::string windows = SystemFolder(GetWindowsDirectoryA);
    struct Case {
        const char* context;
        std::string text;
        std::string expanded;
    } const cases[] = {
        {"TOOL", "(WINDIR)\\system", windows + "system"},
        {"TOOL", "(WINSYS)drivers", SystemFolder(GetSystemDirectoryA) + "drivers"},
        {"TOOL", "OBJECTPATH NOSUCH\\x", "OBJECTPATH NOSUCH\\x"},
        {"TOOL", "(OBJECTDIR SELF)readme.txt", "C:\\App\\readme.txt"},
        {"TOOL", "(OBJECTPATH APPDIR)data", "C:\\App\\data"},
        {"TOOL", "OBJECTPATH APPDIR\\data", "OBJECTPATH APPDIR\\data"}, // the backslash escapes: APPDIRdata
        {"TOOL", "OBJECTPATH APPDIR data", "C:\\App\\ data"},           // a blank keeps the text apart
        {"TOOL", "run OBJECTPATH SELF /s", "run C:\\App\\tool.exe /s"},
        {"TOOL", "OBJECTSOURCE SELF", "C:\\Source\\disk1\\tool.exe"},
        {"ITEM", "OBJECTDIR SELF", "HKEY_CURRENT_USER\\Software\\"},
        {"NOTE", "INFOSTR NOTE, done", "see tool.exe, done"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Expand(db, c.context, c.text), c.expanded);
    }
    // A text that names itself many times over ends: the work, not only the depth, is bounded.
    std::string many;
    for (int i = 0; i < 12; i++) {
        many += "INFOSTR SELF ";
    }
    SetObjectContents(db.Find("ITEM"), many.c_str());
    std::string wide = Expand(db, "ITEM", "INFOSTR SELF"); // without the bound: 12^8 expansions
    EXPECT_NE(wide.find("INFOSTR SELF"), std::string::npos);

    // Sizes: the same pointer back when nothing changes; written back when it fits; cut when negative.
    char room[64] = "(OBJECTDIR SELF)x";
    EXPECT_EQ(ExpandText(db.Find("TOOL"), room, sizeof(room)), room);
    EXPECT_STREQ(room, "C:\\App\\x");
    char cut[] = "(OBJECTDIR SELF)x";
    EXPECT_EQ(ExpandText(db.Find("TOOL"), cut, -5), cut);
    EXPECT_STREQ(cut, "C:\\A");

    // Stored texts expand lazily: accessors see the current state; ExpandObjectTexts makes it stay.
    char* contents = GetObjectContentsText(db.Find("NOTE"), nullptr, 0);
    EXPECT_STREQ(contents, "see tool.exe");
    FreeObjectText(contents);
    SetObjectTargetPath(db.Find("TOOL"), "other.exe");
    contents = GetObjectContentsText(db.Find("NOTE"), nullptr, 0);
    EXPECT_STREQ(contents, "see other.exe");
    FreeObjectText(contents);
    ExpandObjectTexts(db.Find("NOTE"));
    EXPECT_STREQ(db.Get("NOTE").contents, "see other.exe");
    EXPECT_TRUE(db.Get("NOTE").state & STATE_EXPANDED);
}
