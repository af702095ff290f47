#include "system/plan_state.h"

#include "support/guards.h"

#include <string.h>

#include <unordered_map>
#include <unordered_set>

namespace {

struct PlanState {
    CRITICAL_SECTION lock;
    std::unordered_set<std::string> files;
    std::unordered_set<std::string> inUse;
    std::unordered_set<std::string> keys;
    std::unordered_set<std::string> values;         // key path, a newline, the value's name upper-cased
    std::unordered_map<std::string, UINT32> counts; // the same names
    PlanState() { InitializeCriticalSection(&lock); }
};

PlanState& State()
{
    static PlanState state;
    return state;
}

std::string ValueEntry(const std::string& keyPath, const char* valueName)
{
    std::string entry = keyPath + "\n" + (valueName != nullptr ? valueName : "");
    CharUpperBuffA(&entry[0], static_cast<DWORD>(entry.size()));
    return entry;
}

// Whether the path or a container above it (each prefix ending before a backslash) is in the set. The
// path itself is the usual answer, and is asked first.
bool InOrBelow(const std::unordered_set<std::string>& set, const std::string& path)
{
    if (set.empty()) {
        return false;
    }
    if (set.count(path) != 0) {
        return true;
    }
    std::string prefix;
    for (size_t end = path.rfind('\\'); end != std::string::npos && end > 0; end = path.rfind('\\', end - 1)) {
        prefix.assign(path, 0, end);
        if (set.count(prefix) != 0) {
            return true;
        }
    }
    return false;
}

} // namespace

void PlanFileGoes(const std::string& upperPath)
{
    PlanState& s = State();
    CriticalSectionScope scope(&s.lock);
    s.files.insert(upperPath);
}

bool PlanFileGone(const std::string& upperPath)
{
    PlanState& s = State();
    CriticalSectionScope scope(&s.lock);
    return InOrBelow(s.files, upperPath);
}

void PlanFileInUse(const std::string& upperPath)
{
    PlanState& s = State();
    CriticalSectionScope scope(&s.lock);
    s.inUse.insert(upperPath);
}

bool PlanFileWasInUse(const std::string& upperPath)
{
    PlanState& s = State();
    CriticalSectionScope scope(&s.lock);
    return s.inUse.count(upperPath) != 0;
}

void PlanKeyGoes(const std::string& keyPath)
{
    PlanState& s = State();
    CriticalSectionScope scope(&s.lock);
    s.keys.insert(keyPath);
}

bool PlanKeyGone(const std::string& keyPath)
{
    PlanState& s = State();
    CriticalSectionScope scope(&s.lock);
    return InOrBelow(s.keys, keyPath);
}

void PlanValueGoes(const std::string& keyPath, const char* valueName)
{
    PlanState& s = State();
    CriticalSectionScope scope(&s.lock);
    std::string entry = ValueEntry(keyPath, valueName);
    s.values.insert(entry);
    s.counts.erase(entry);
}

bool PlanValueGone(const std::string& keyPath, const char* valueName)
{
    PlanState& s = State();
    CriticalSectionScope scope(&s.lock);
    return s.values.count(ValueEntry(keyPath, valueName)) != 0 || InOrBelow(s.keys, keyPath);
}

bool PlanCountOf(const std::string& keyPath, const char* valueName, UINT32* count)
{
    PlanState& s = State();
    CriticalSectionScope scope(&s.lock);
    auto found = s.counts.find(ValueEntry(keyPath, valueName));
    if (found == s.counts.end()) {
        return false;
    }
    *count = found->second;
    return true;
}

void PlanCountBecomes(const std::string& keyPath, const char* valueName, UINT32 count)
{
    PlanState& s = State();
    CriticalSectionScope scope(&s.lock);
    std::string entry = ValueEntry(keyPath, valueName);
    s.values.erase(entry);
    s.counts[entry] = count;
}
