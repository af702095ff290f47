#include "engine/release_journal.h"

#include "support/guards.h"
#include "support/plan_mode.h"
#include "support/strings.h"
#include "system/deletion_gate.h"
#include "system/protected_keys.h"

#include <string.h>

#include <string>
#include <vector>

namespace {

const char JOURNAL_VALUE[] = "UninstallReleasedShares";
// A record larger than this is not read: no product shares that many objects.
const DWORD LARGEST_RECORD = 4u << 20;

RegKeyHandle g_key;
std::string g_keyPath; // normalised
std::vector<std::string> g_entries;

// The predefined root a key path begins with, and the rest.
HKEY RootOf(const char* keyPath, const char** rest)
{
    static const struct {
        const char* name;
        HKEY key;
    } roots[] = {{"HKEY_LOCAL_MACHINE\\", HKEY_LOCAL_MACHINE},
                 {"HKEY_CURRENT_USER\\", HKEY_CURRENT_USER},
                 {"HKEY_CLASSES_ROOT\\", HKEY_CLASSES_ROOT},
                 {"HKEY_USERS\\", HKEY_USERS}};
    for (const auto& r : roots) {
        size_t n = strlen(r.name);
        if (_strnicmp(keyPath, r.name, n) == 0) {
            *rest = keyPath + n;
            return r.key;
        }
    }
    return nullptr;
}

void Load()
{
    g_entries.clear();
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(g_key.get(), JOURNAL_VALUE, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ || size > LARGEST_RECORD) {
        return;
    }
    std::vector<char> data(size + 2, '\0');
    if (RegQueryValueExA(g_key.get(), JOURNAL_VALUE, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
        ERROR_SUCCESS) {
        return;
    }
    for (size_t at = 0; at < size && data[at] != '\0';) {
        g_entries.push_back(data.data() + at);
        at += g_entries.back().size() + 1;
    }
}

void Store()
{
    std::string data;
    for (const std::string& e : g_entries) {
        data += e;
        data += '\0';
    }
    data += '\0';
    RegSetValueExA(g_key.get(), JOURNAL_VALUE, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                   static_cast<DWORD>(data.size()));
}

} // namespace

bool ReleaseJournalOpen(const char* keyPath)
{
    ReleaseJournalClose(false);
    if (PlanMode()) {
        return false; // a plan lowers no count, so it keeps no record of lowered ones
    }
    const char* rest = nullptr;
    HKEY root = keyPath != nullptr ? RootOf(keyPath, &rest) : nullptr;
    if (root == nullptr) {
        return false;
    }
    g_key.reset(OpenRegKeyWrite(root, rest));
    if (!g_key || !NormaliseKeyPath(keyPath, &g_keyPath)) {
        g_key.reset();
        return false;
    }
    Load();
    return true;
}

void ReleaseJournalClose(bool removalComplete)
{
    if (g_key && removalComplete) {
        GateDeleteRegValue(g_key.get(), g_keyPath.c_str(), JOURNAL_VALUE);
    }
    g_key.reset();
    g_keyPath.clear();
    g_entries.clear();
}

void ReleaseJournalYield(const char* keyPath)
{
    std::string key;
    if (!g_key || keyPath == nullptr || !NormaliseKeyPath(keyPath, &key) ||
        StrCompareNoCase(key.c_str(), g_keyPath.c_str()) != 0) {
        return;
    }
    DWORD subkeys = 1, values = 0;
    if (RegQueryInfoKeyA(g_key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) == ERROR_SUCCESS &&
        subkeys == 0 && values == 1 &&
        RegQueryValueExA(g_key.get(), JOURNAL_VALUE, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
        GateDeleteRegValue(g_key.get(), g_keyPath.c_str(), JOURNAL_VALUE);
    }
}

bool ReleaseJournalHas(const char* entry)
{
    for (const std::string& e : g_entries) {
        if (StrCompareNoCase(e.c_str(), entry) == 0) {
            return true;
        }
    }
    return false;
}

void ReleaseJournalAdd(const char* entry)
{
    if (g_key && !ReleaseJournalHas(entry)) {
        g_entries.push_back(entry);
        Store();
    }
}
