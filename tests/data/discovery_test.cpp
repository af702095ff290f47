#include "data/discovery.h"

#include "kit/cdf_writer.h"
#include "kit/database_kit.h"

namespace {

const char kRemoveScript[] = "[SSCRIPT]\r\n_flags=_REMOVE;\r\n_file=X;\r\n";

struct Found {
    int result;
    std::string path; // "" when none
    UINT32 flags;
    std::string text;
};

Found Find(const std::string& searchPath, const char* fileName, UINT32 flags, const char* version = nullptr)
{
    Found f = {0, "", 0, ""};
    char* path = nullptr;
    char* text = nullptr;
    UINT32 length = 0;
    f.flags = FOUND_IN_CONTAINER; // cleared by every search
    f.result = FindConfiguration(searchPath.c_str(), fileName, flags, version, &path, &f.flags, &text, &length);
    f.path = path != nullptr ? path : "";
    f.text = text != nullptr ? std::string(text, length) : "";
    MemFree(path);
    MemFree(text);
    return f;
}

} // namespace

TEST(DiscoveryTest, PlainFilesAndContainersOfEveryKind)
{
    EngineScope engine;
    TestFolder folder;
    // Hundreds of unrelated files, a file named like a container that is none, an unreadable one.
    for (int i = 0; i < 300; i++) {
        WriteFileBytes(folder / ("data" + std::to_string(i) + ".bin"), "unrelated " + std::to_string(i));
    }
    WriteFileBytes(folder / "Fake.cdf", "CDF97a but nothing behind it");
    HANDLE locked = CreateFileA((folder / "locked.cfg").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);

    // A plain structure text under any name.
    WriteFileBytes(folder / "product setup.txt", kRemoveScript);
    Found f = Find(folder.path(), nullptr, FIND_STRUCTURE | SCRIPT_REMOVE);
    EXPECT_EQ(f.result, FIND_OK);
    EXPECT_EQ(f.path, folder / "product setup.txt");
    EXPECT_EQ(f.text, kRemoveScript);
    // Marks must match exactly; the header alone decides with FIND_HEADER_ONLY.
    EXPECT_EQ(Find(folder.path(), nullptr, FIND_STRUCTURE | SCRIPT_UPDATE).result, FIND_NOT_FOUND);
    DeleteFileA((folder / "product setup.txt").c_str());

    // In a container: the entry of the default name, the container's path, the out flag; the version.
    CdfFile cdf(CdfVersion::V96b);
    cdf.Add("Struct.cfg", kRemoveScript, true);
    cdf.Add("Version.txt", "3.1", false);
    ASSERT_TRUE(cdf.Write(folder / "SetUp.cdf"));
    f = Find(folder.path(), nullptr, FIND_STRUCTURE | SCRIPT_REMOVE, "3.1");
    EXPECT_EQ(f.result, FIND_OK);
    EXPECT_EQ(f.path, folder / "SetUp.cdf");
    EXPECT_EQ(f.flags, FOUND_IN_CONTAINER);
    EXPECT_EQ(f.text, kRemoveScript);
    f = Find(folder.path(), nullptr, FIND_STRUCTURE | SCRIPT_REMOVE, "3.2");
    EXPECT_EQ(f.result, FIND_WRONG_VERSION);
    EXPECT_EQ(f.path, folder / "SetUp.cdf");
    // A search path that names the container, or a file name that does.
    EXPECT_EQ(Find(folder / "SetUp.cdf", nullptr, FIND_STRUCTURE | SCRIPT_REMOVE, "3.1").result, FIND_OK);
    EXPECT_EQ(Find(folder.path(), "SETUP.CDF", FIND_STRUCTURE | SCRIPT_REMOVE, "3.1").result, FIND_OK);

    // Autorun texts name the structure file beside them; one that names itself is refused.
    WriteFileBytes(folder / "Struct.cfg", kRemoveScript);
    WriteFileBytes(folder / "Autorun.cfg", "[CFG]\r\n__structure=DEFAULT\r\n");
    f = Find(folder.path(), nullptr, FIND_AUTORUN_OR_STRUCTURE | SCRIPT_REMOVE);
    EXPECT_EQ(f.result, FIND_OK);
    EXPECT_EQ(f.path, folder / "Struct.cfg");
    WriteFileBytes(folder / "Autorun.cfg", "[CFG]\r\n__structure=AUTORUN\r\n");
    EXPECT_EQ(Find(folder / "Autorun.cfg", nullptr, FIND_AUTORUN | SCRIPT_REMOVE).result, FIND_NOT_FOUND);
    WriteFileBytes(folder / "Autorun.cfg", "[CFG]\r\n__structure=\"other.ssc\"\r\n");
    WriteFileBytes(folder / "other.ssc", kRemoveScript);
    EXPECT_EQ(Find(folder / "Autorun.cfg", nullptr, FIND_AUTORUN | SCRIPT_REMOVE).result, FIND_OK);
    CloseHandle(locked);
}

TEST(DiscoveryTest, ScriptKindsAndInstalledProducts)
{
    struct Case {
        const char* script;
        UINT32 bits;
        int result;
    } const cases[] = {
        {"[SSCRIPT]_flags=_REMOVE;", SCRIPT_REMOVE, 1},
        {"[SSCRIPT]_flags=_UPDATE _REMOVE;", SCRIPT_REMOVE, 0},
        {"[SSCRIPT]_flags=_REBOOT _dir=X _REMOVE;", SCRIPT_REMOVE, 1}, // values run on behind "_flags"
        {"[SSCRIPT]_flags=_REBOOT KEY=_REMOVE;", SCRIPT_REMOVE, 0},    // "KEY=_REMOVE" is one value
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        EXPECT_EQ(CheckScriptKind(c.script, static_cast<UINT32>(strlen(c.script)), c.bits), c.result);
    }

    // The installed-product test is the caller's: only the file it accepts is found.
    TestFolder folder;
    WriteFileBytes(folder / "a.cfg", kRemoveScript);
    WriteFileBytes(folder / "b.cfg", kRemoveScript);
    static std::string accepted;
    accepted = folder / "b.cfg";
    InstalledProductTest onlyB = [](const char* text, UINT32 size, const char* path) {
        return text != nullptr && size != 0 && accepted == path ? 1 : 0;
    };
    char* path = nullptr;
    UINT32 flags = FIND_STRUCTURE | FIND_INSTALLED | SCRIPT_REMOVE;
    EXPECT_EQ(
        FindConfiguration(folder.path().c_str(), nullptr, flags, nullptr, &path, nullptr, nullptr, nullptr, onlyB),
        FIND_OK);
    EXPECT_EQ(std::string(path != nullptr ? path : ""), accepted);
    MemFree(path);
}
