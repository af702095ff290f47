#include "system/system_state.h"

#include "kit/uninstall_kit.h"

namespace {

struct Value {
    DWORD type;
    std::vector<BYTE> data;
    bool exists;
};

Value Read(HKEY key, const char* name)
{
    Value v = {0, std::vector<BYTE>(300), false};
    DWORD size = static_cast<DWORD>(v.data.size());
    v.exists = RegQueryValueExA(key, name, nullptr, &v.type, v.data.data(), &size) == ERROR_SUCCESS;
    v.data.resize(v.exists ? size : 0);
    return v;
}

} // namespace

TEST(SystemStateTest, CountsAreSteppedInTheirOwnType)
{
    HKEY key =
        CreateRegKey(HKEY_CURRENT_USER, ("Software\\UninstCounts" + std::to_string(GetCurrentProcessId())).c_str());
    struct Case {
        const char* what;
        DWORD type;
        std::vector<BYTE> data;
        int delta;
        int deleteAtZero;
        UINT32 result;
        std::vector<BYTE> after; // empty: the value is gone
    } const cases[] = {
        {"text 3 lowered", REG_SZ, {'3', 0}, -1, 0, 2, {'2', 0}},
        {"text with blanks raised", REG_SZ, {' ', '9', 'x', 0}, 1, 0, 10, {'1', '0', 0}},
        {"dword 1 lowered, deleted at zero", REG_DWORD, {1, 0, 0, 0}, -1, 1, 0, {}},
        {"big-endian 1 raised", REG_DWORD_BIG_ENDIAN, {0, 0, 0, 1}, 5, 0, 2, {0, 0, 0, 2}},
        {"binary of two bytes", REG_BINARY, {0x05, 0x01}, 1, 0, 262, {0x06, 0x01}},
        {"binary of six bytes", REG_BINARY, {1, 0, 0, 0, 9, 9}, 1, 0, 2, {2, 0, 0, 0}},
        {"expandable text is no count", REG_EXPAND_SZ, {'4', 0}, -1, 1, 0, {'4', 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RegSetValueExA(key, "Count", 0, c.type, c.data.data(), static_cast<DWORD>(c.data.size()));
        EXPECT_EQ(AdjustCounterValue(key, "Count", c.delta, c.deleteAtZero), c.result);
        Value v = Read(key, "Count");
        if (c.after.empty()) {
            EXPECT_FALSE(v.exists);
        } else {
            ASSERT_TRUE(v.exists);
            EXPECT_EQ(v.type, c.type);
            EXPECT_EQ(v.data, c.after);
        }
        RegDeleteValueA(key, "Count");
    }
    // A missing value: raising creates it as REG_DWORD 1; lowering or reading creates nothing.
    EXPECT_EQ(AdjustCounterValue(key, "Missing", -1, 0), 0u);
    EXPECT_FALSE(Read(key, "Missing").exists);
    EXPECT_EQ(AdjustCounterValue(key, "Missing", 1, 0), 1u);
    Value created = Read(key, "Missing");
    EXPECT_EQ(created.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(created.data, (std::vector<BYTE>{1, 0, 0, 0}));
    CloseRegKey(key);
    RemoveTestKey(HKEY_CURRENT_USER, ("Software\\UninstCounts" + std::to_string(GetCurrentProcessId())));
}

TEST(SystemStateTest, RestartRemovalIsRecorded)
{
    TestFolder folder;
    std::string file = folder / "temporary copy.exe";
    ASSERT_TRUE(WriteFileBytes(file, "MZ"));
    // This system records a deletion at restart among the pending file operations.
    ASSERT_EQ(ScheduleRebootRename(nullptr, file.c_str()), 1);
    EXPECT_GE(ScheduledForRestart(file), 0);
    EXPECT_EQ(ScheduleRebootRename(nullptr, nullptr), 0);

    // The Windows family keeps the requests in the "Rename" section of WININIT.INI.
    std::string ini = folder / "WININIT.INI";
    ASSERT_TRUE(WriteFileBytes(ini, "[Rename]\r\nC:\\old.txt=C:\\older.txt\r\n[Other]\r\nx=y\r\n"));
    EXPECT_EQ(ScheduleRenameInIni(ini.c_str(), nullptr, "C:\\TEMP\\UNI1.TMP"), 1);
    EXPECT_EQ(ScheduleRenameInIni(ini.c_str(), nullptr, "C:\\TEMP\\UNI2.TMP"), 1);
    EXPECT_EQ(ScheduleRenameInIni(ini.c_str(), "C:\\new.dll", "C:\\TEMP\\X.TMP"), 1);
    char section[1024] = {};
    DWORD n = GetPrivateProfileSectionA("Rename", section, sizeof(section), ini.c_str());
    std::vector<std::string> lines;
    for (const char* p = section; p < section + n && *p != '\0'; p += strlen(p) + 1) {
        lines.push_back(p);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"C:\\old.txt=C:\\older.txt", "NUL=C:\\TEMP\\UNI1.TMP",
                                               "NUL=C:\\TEMP\\UNI2.TMP", "C:\\new.dll=C:\\TEMP\\X.TMP"}));
}
