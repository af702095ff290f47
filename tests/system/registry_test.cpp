
#include "kit/testkit.h"
#include "system/deletion_gate.h"

TEST(RegistryTest, KeysOpenWithTolerantPathsAndCountTheirEntries)
{
    const std::string base = "Software\\UninstTest" + std::to_string(GetCurrentProcessId());
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
    EXPECT_EQ(GateDeleteRegValue(write, "Name").outcome, GATE_DONE);
    EXPECT_EQ(GateDeleteRegValue(write, "Name").outcome, GATE_ABSENT);
    EXPECT_EQ(CountRegValues(write), 1);
    EXPECT_NE(FlushRegistry(), -1);
    CloseRegKey(write);

    EXPECT_EQ(OpenRegKeyRead(HKEY_CURRENT_USER, (base + "\\Missing").c_str()), nullptr);
    EXPECT_EQ(OpenRegKeyRead(nullptr, "x"), nullptr);
    EXPECT_EQ(CreateRegKey(HKEY_CURRENT_USER, nullptr), nullptr);
    EXPECT_EQ(CountRegSubKeys(nullptr), -1);
    EXPECT_EQ(CloseRegKey(nullptr), 0);
    EXPECT_EQ(CloseRegKey(HKEY_LOCAL_MACHINE), 1);                      // predefined roots are never closed...
    EXPECT_NE(OpenRegKeyRead(HKEY_LOCAL_MACHINE, "SOFTWARE"), nullptr); // ...and stay usable
    RemoveTestKey(HKEY_CURRENT_USER, base);
}
