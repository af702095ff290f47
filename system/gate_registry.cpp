// The deletion gate for the registry: keys judged by their full path, walked without following a
// registry link, deleted through the handles that were checked.
#include "system/deletion_gate.h"

#include "support/guards.h"
#include "system/protected_keys.h"

#include <winternl.h>
#include <string.h>

#include <string>
#include <vector>

extern "C" NTSTATUS NTAPI NtDeleteKey(HANDLE key);

namespace {

// Keys nest at most this deep: a recursive deletion goes no further, whatever the registry holds.
const int KEY_DEPTH_LIMIT = 512;
const DWORD OPEN_THE_LINK_ITSELF = 0x8; // REG_OPTION_OPEN_LINK
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

GateResult Result(GateOutcome outcome, GateVerdict verdict = GATE_ALLOWED, DWORD error = ERROR_SUCCESS)
{
    return {outcome, verdict, error};
}

// A subkey opened as itself: a link is opened as the link, not as what it points to.
LONG OpenOwnKey(HKEY parent, const char* name, RegKeyHandle* out)
{
    return RegOpenKeyExA(parent, name, OPEN_THE_LINK_ITSELF, KEY_ALL_ACCESS, out->out());
}

bool IsLinkKey(HKEY key)
{
    DWORD type = 0;
    return RegQueryValueExA(key, "SymbolicLinkValue", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
           type == REG_LINK;
}

DWORD DeleteKeyHandle(HKEY key)
{
    NTSTATUS status = NtDeleteKey(key);
    return status >= 0 ? ERROR_SUCCESS : RtlNtStatusToDosError(status);
}

bool IsEmptyKey(HKEY key)
{
    DWORD subkeys = 1, values = 1;
    return RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                            nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys == 0 && values == 0;
}

std::vector<std::string> SubkeyNames(HKEY key)
{
    std::vector<std::string> names;
    for (DWORD i = 0;; i++) {
        char name[256];
        DWORD size = sizeof(name);
        if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            return names;
        }
        names.emplace_back(name, size);
    }
}

// Deletes every subkey of a key, depth first; links are deleted as links. The first error, or 0.
DWORD EmptyKey(HKEY key, int depth)
{
    if (depth > KEY_DEPTH_LIMIT) {
        return ERROR_BUFFER_OVERFLOW;
    }
    DWORD first = ERROR_SUCCESS;
    for (const std::string& name : SubkeyNames(key)) {
        RegKeyHandle child;
        LONG opened = OpenOwnKey(key, name.c_str(), &child);
        DWORD error = static_cast<DWORD>(opened);
        if (opened == ERROR_SUCCESS) {
            error = IsLinkKey(child.get()) ? ERROR_SUCCESS : EmptyKey(child.get(), depth + 1);
            error = error == ERROR_SUCCESS ? DeleteKeyHandle(child.get()) : error;
        }
        if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND && first == ERROR_SUCCESS) {
            first = error;
        }
    }
    return first;
}

std::vector<std::string> PartsOf(const char* path)
{
    std::vector<std::string> parts;
    for (const char* at = path; *at != '\0';) {
        const char* end = strchr(at, '\\');
        size_t n = end != nullptr ? static_cast<size_t>(end - at) : strlen(at);
        if (n != 0) {
            parts.emplace_back(at, n);
        }
        at += n + (end != nullptr ? 1 : 0);
    }
    return parts;
}

// The key along parts below parent, each step opened as itself: a link on the way is refused, a link at
// the end handed out as the key (*isLink). keys receives every key opened, the last one the target.
GateResult OpenKeyChain(HKEY parent, const std::vector<std::string>& parts, std::vector<RegKeyHandle>* keys,
                        bool* isLink)
{
    *isLink = false;
    HKEY at = parent;
    for (size_t i = 0; i < parts.size(); i++) {
        RegKeyHandle next;
        LONG opened = OpenOwnKey(at, parts[i].c_str(), &next);
        if (opened != ERROR_SUCCESS) {
            return opened == ERROR_FILE_NOT_FOUND ? Result(GATE_ABSENT) : Result(GATE_FAILED, GATE_ALLOWED, opened);
        }
        if (IsLinkKey(next.get())) {
            if (i + 1 < parts.size()) {
                return Result(GATE_REFUSED, GATE_THROUGH_LINK);
            }
            *isLink = true;
        }
        at = next.get();
        keys->push_back(std::move(next));
    }
    return Result(GATE_DONE);
}

// After the key went: each key along the path that is now empty goes too, while the gate allows it.
void ClimbKeys(std::vector<RegKeyHandle>& keys, const std::string& parentPath, const std::vector<std::string>& parts)
{
    for (size_t i = keys.size() - 1; i-- > 0;) {
        std::string path = parentPath;
        for (size_t j = 0; j <= i; j++) {
            path += "\\" + parts[j];
        }
        keys[i + 1].reset();
        if (GateJudgeKey(path.c_str()) != GATE_ALLOWED || !IsEmptyKey(keys[i].get()) ||
            DeleteKeyHandle(keys[i].get()) != ERROR_SUCCESS) {
            return;
        }
    }
}

} // namespace

GateVerdict GateJudgeKey(const char* keyPath)
{
    std::string normal;
    if (!NormaliseKeyPath(keyPath, &normal)) {
        return GATE_NOT_FULL_PATH;
    }
    return KeyIsProtected(normal) ? GATE_PROTECTED_KEY : GATE_ALLOWED;
}

GateResult GateDeleteRegValue(HKEY key, const char* valueName)
{
    if (key == nullptr || valueName == nullptr) {
        return Result(GATE_FAILED, GATE_ALLOWED, ERROR_INVALID_PARAMETER);
    }
    LONG r = RegDeleteValueA(key, valueName);
    if (r == ERROR_SUCCESS) {
        return Result(GATE_DONE);
    }
    return r == ERROR_FILE_NOT_FOUND ? Result(GATE_ABSENT) : Result(GATE_FAILED, GATE_ALLOWED, r);
}

GateResult GateDeleteRegKey(HKEY parent, const char* parentPath, const char* relPath, UINT32 options)
{
    std::vector<std::string> parts = PartsOf(relPath != nullptr ? relPath : "");
    std::string base;
    if (parent == nullptr || !NormaliseKeyPath(parentPath, &base) || parts.empty()) {
        return Result(GATE_REFUSED, GATE_NOT_FULL_PATH);
    }
    std::string path = base;
    for (const std::string& part : parts) {
        path += "\\" + part;
    }
    GateVerdict verdict = GateJudgeKey(path.c_str());
    if (verdict != GATE_ALLOWED) {
        return Result(GATE_REFUSED, verdict);
    }
    std::vector<RegKeyHandle> keys;
    bool isLink = false;
    GateResult chain = OpenKeyChain(parent, parts, &keys, &isLink);
    if (chain.outcome != GATE_DONE) {
        return chain;
    }
    HKEY key = keys.back().get();
    DWORD error = ERROR_SUCCESS;
    if (!isLink && !(options & GATE_RECURSIVE) && !IsEmptyKey(key)) {
        error = ERROR_DIR_NOT_EMPTY; // a key that is not empty goes only with everything in it
    } else if (!isLink && (options & GATE_RECURSIVE)) {
        error = EmptyKey(key, 0);
    }
    error = error == ERROR_SUCCESS ? DeleteKeyHandle(key) : error;
    if (error != ERROR_SUCCESS) {
        return Result(GATE_FAILED, GATE_ALLOWED, error);
    }
    if (options & GATE_CLIMB) {
        ClimbKeys(keys, base, parts);
    }
    return Result(GATE_DONE);
}

GateResult GateDeleteUninstallEntry(const char* name)
{
    if (name != nullptr && name[0] == '\\') {
        name++;
    }
    if (name == nullptr || name[0] == '\0' || strchr(name, '\\') != nullptr) {
        return Result(GATE_REFUSED, GATE_NOT_UNINSTALL_ENTRY);
    }
    RegKeyHandle uninstall(OpenRegKeyWrite(HKEY_LOCAL_MACHINE, kUninstallKey));
    if (!uninstall) {
        return Result(GATE_ABSENT);
    }
    // The entry with its values; one that holds keys of its own stays.
    std::vector<RegKeyHandle> keys;
    bool isLink = false;
    GateResult opened = OpenKeyChain(uninstall.get(), {name}, &keys, &isLink);
    if (opened.outcome != GATE_DONE) {
        return opened;
    }
    DWORD error = DeleteKeyHandle(keys.back().get());
    return error == ERROR_SUCCESS ? Result(GATE_DONE) : Result(GATE_FAILED, GATE_ALLOWED, error);
}
