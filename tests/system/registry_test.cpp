#include "support/reg_keys.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A key of its own under HKEY_CURRENT_USER and under HKEY_LOCAL_MACHINE\SOFTWARE, removed afterwards.
class RegistryFixture : public testing::Test {
  protected:
    void SetUp() override
    {
        base = "Software\\UninstTest" + std::to_string(GetCurrentProcessId());
        machineBase = "SOFTWARE\\UninstTest" + std::to_string(GetCurrentProcessId());
    }
    void TearDown() override
    {
        DeleteRegKeyTree(HKEY_CURRENT_USER, base.c_str(), 0, 1);
        DeleteRegKeyTree(HKEY_LOCAL_MACHINE, machineBase.c_str(), 0, 1);
    }
    bool KeyExists(HKEY root, const std::string& path)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(key);
        return true;
    }
    std::string base, machineBase;
};

} // namespace

TEST_F(RegistryFixture, KeysOpenWithTolerantPathsAndCountTheirEntries)
{
    HKEY made = CreateRegKey(HKEY_CURRENT_USER, ("\\" + base + "\\Vendor").c_str());
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(CountRegSubKeys(made), 0);
    EXPECT_EQ(CountRegValues(made), 0);
    EXPECT_EQ(SetRegString(made, "Name", "Value"), 1);
    EXPECT_EQ(SetRegString(made, "Empty", nullptr), 1);
    EXPECT_EQ(SetRegString(made, nullptr, "x"), 0);
    EXPECT_EQ(CountRegValues(made), 2);
    CloseRegKey(CreateRegKey(made, "Sub1"));
    CloseRegKey(CreateRegKey(made, "Sub2"));
    EXPECT_EQ(CountRegSubKeys(made), 2);
    EXPECT_EQ(CloseRegKey(made), 1);

    HKEY read = OpenRegKeyRead(HKEY_CURRENT_USER, ("\\" + base + "\\Vendor\\").c_str());
    ASSERT_NE(read, nullptr);
    char data[16] = {};
    DWORD size = sizeof(data), type = 0;
    ASSERT_EQ(RegQueryValueExA(read, "Empty", nullptr, &type, reinterpret_cast<BYTE*>(data), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 1u);                             // the terminator is counted
    EXPECT_EQ(SetRegString(read, "Denied", "x"), 0); // opened for reading only
    CloseRegKey(read);
    HKEY write = OpenRegKeyWrite(HKEY_CURRENT_USER, (base + "\\Vendor").c_str());
    ASSERT_NE(write, nullptr);
    EXPECT_EQ(DeleteRegValue(write, "Name"), 1);
    EXPECT_EQ(DeleteRegValue(write, "Name"), 0);
    EXPECT_EQ(CountRegValues(write), 1);
    CloseRegKey(write);

    EXPECT_EQ(OpenRegKeyRead(HKEY_CURRENT_USER, (base + "\\Missing").c_str()), nullptr);
    EXPECT_EQ(OpenRegKeyRead(nullptr, "x"), nullptr);
    EXPECT_EQ(CreateRegKey(HKEY_CURRENT_USER, nullptr), nullptr);
    EXPECT_EQ(CountRegSubKeys(nullptr), -1);
    EXPECT_EQ(CloseRegKey(nullptr), 0);
    EXPECT_EQ(CloseRegKey(HKEY_LOCAL_MACHINE), 1);                      // predefined roots are never closed...
    EXPECT_NE(OpenRegKeyRead(HKEY_LOCAL_MACHINE, "SOFTWARE"), nullptr); // ...and stay usable
}

TEST_F(RegistryFixture, TreesAreDeletedWithTheirEmptiedParents)
{
    const std::string app = machineBase + "\\Vendor\\Suite\\App";
    HKEY key = CreateRegKey(HKEY_LOCAL_MACHINE, (app + "\\Deep\\Deeper").c_str());
    ASSERT_NE(key, nullptr);
    SetRegString(key, "v", "1");
    CloseRegKey(key);
    key = CreateRegKey(HKEY_LOCAL_MACHINE, app.c_str());
    SetRegString(key, "Version", "1.0");
    CloseRegKey(key);
    key = CreateRegKey(HKEY_LOCAL_MACHINE, (machineBase + "\\Vendor\\Other").c_str());
    CloseRegKey(key);

    // Not recursive: a key with a value stays.
    EXPECT_EQ(DeleteRegKeyTree(HKEY_LOCAL_MACHINE, app.c_str(), 1, 0), 0);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, app));
    // Recursive with empty parents: App with everything below, then Suite, which became empty; Vendor
    // still holds Other and stays.
    EXPECT_EQ(DeleteRegKeyTree(HKEY_LOCAL_MACHINE, ("\\" + app + "\\").c_str(), 1, 1), 1);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, machineBase + "\\Vendor\\Suite"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, machineBase + "\\Vendor\\Other"));
    EXPECT_EQ(DeleteRegKeyTree(HKEY_LOCAL_MACHINE, app.c_str(), 1, 1), 0); // already gone
    // Without deleteEmptyParents only the key goes.
    EXPECT_EQ(DeleteRegKeyTree(HKEY_LOCAL_MACHINE, (machineBase + "\\Vendor\\Other").c_str(), 0, 1), 1);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, machineBase + "\\Vendor"));
    // An empty path deletes nothing, not even the parent it is relative to.
    HKEY vendor = OpenRegKeyWrite(HKEY_LOCAL_MACHINE, (machineBase + "\\Vendor").c_str());
    EXPECT_EQ(DeleteRegKeyTree(vendor, "", 1, 1), 0);
    EXPECT_EQ(DeleteRegKeyTree(vendor, "\\", 1, 1), 0);
    CloseRegKey(vendor);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, machineBase + "\\Vendor"));
    EXPECT_EQ(DeleteRegKeyTree(nullptr, "x", 1, 1), 0);
    EXPECT_NE(FlushRegistry(), -1);
}
