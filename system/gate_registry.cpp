// The deletion gate for the registry: keys judged by their full path, walked without following a
// registry link, deleted through the handles that were checked.
#include "system/deletion_gate.h"

#include "support/guards.h"
#include "support/plan_mode.h"
#include "support/strings.h"
#include "system/plan_state.h"
#include "system/protected_keys.h"

#include <sddl.h>
#include <winternl.h>
#include <string.h>

#include <string>
#include <vector>

extern "C" NTSTATUS NTAPI NtDeleteKey(HANDLE key);
extern "C" NTSTATUS NTAPI NtQueryKey(HANDLE key, int informationClass, void* information, ULONG length,
                                     ULONG* resultLength);

namespace {

// Keys nest at most this deep: a recursive deletion goes no further, whatever the registry holds.
const int KEY_DEPTH_LIMIT = 512;
const DWORD OPEN_THE_LINK_ITSELF = 0x8; // REG_OPTION_OPEN_LINK
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kSharedCounts[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const int KEY_NAME_INFORMATION_CLASS = 3; // KeyNameInformation: the key's full name in the registry
const ULONG KEY_NAME_LIMIT = 64 * 1024;

// The current user's account, as the registry names its hive below HKEY_USERS ("S-1-5-21-...").
const std::string& OwnAccount()
{
    static const std::string account = [] {
        std::string text;
        HANDLE opened = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) {
            return text;
        }
        KernelHandle token(opened);
        BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
        DWORD size = 0;
        char* sid = nullptr;
        if (GetTokenInformation(token.get(), TokenUser, user, sizeof(user), &size) &&
            ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid)) {
            text = sid;
            LocalFree(sid);
        }
        return text;
    }();
    return account;
}

// The registry's own name of a key ("\REGISTRY\MACHINE\SOFTWARE\...") as a key path of the roots
// the scripts use ("HKEY_LOCAL_MACHINE\SOFTWARE\..."), in upper case.
std::string AsRootPath(const std::string& name)
{
    std::string upper(name);
    CharUpperBuffA(&upper[0], static_cast<DWORD>(upper.size()));
    const std::string machine = "\\REGISTRY\\MACHINE", users = "\\REGISTRY\\USER";
    if (upper.compare(0, machine.size(), machine) == 0) {
        return "HKEY_LOCAL_MACHINE" + upper.substr(machine.size());
    }
    if (upper.compare(0, users.size(), users) != 0) {
        return std::string();
    }
    std::string own = "\\" + OwnAccount();
    CharUpperBuffA(&own[0], static_cast<DWORD>(own.size()));
    std::string rest = upper.substr(users.size());
    if (OwnAccount().empty() || rest.compare(0, own.size(), own) != 0) {
        return "HKEY_USERS" + rest;
    }
    rest = rest.substr(own.size());
    if (rest.compare(0, 8, "_CLASSES") == 0) {
        return "HKEY_CURRENT_USER\\SOFTWARE\\CLASSES" + rest.substr(8);
    }
    return "HKEY_CURRENT_USER" + rest;
}

// A key path in the form keys are compared in: upper case; the classes of either hive under
// HKEY_CLASSES_ROOT; the 32-bit view's WOW6432Node left out (the system's own redirection of a
// 32-bit program, which a script never names).
std::string Comparable(const std::string& path)
{
    std::string upper(path);
    if (!upper.empty()) {
        CharUpperBuffA(&upper[0], static_cast<DWORD>(upper.size()));
    }
    for (const char* classes : {"HKEY_LOCAL_MACHINE\\SOFTWARE\\CLASSES", "HKEY_CURRENT_USER\\SOFTWARE\\CLASSES"}) {
        size_t n = strlen(classes);
        if (upper.compare(0, n, classes) == 0 && (upper.size() == n || upper[n] == '\\')) {
            upper = "HKEY_CLASSES_ROOT" + upper.substr(n);
        }
    }
    for (size_t at; (at = upper.find("\\WOW6432NODE")) != std::string::npos &&
                    (at + 12 == upper.size() || upper[at + 12] == '\\');) {
        upper.erase(at, 12);
    }
    return upper;
}

bool IsPredefined(HKEY key)
{
    return (reinterpret_cast<ULONG_PTR>(key) & 0x80000000) != 0 &&
           reinterpret_cast<ULONG_PTR>(key) >= reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT);
}

// The full path of the key a handle reached, in the form keys are compared in; empty when the system
// does not tell, or for a root's own handle.
std::string ReachedKeyPath(HKEY key)
{
    if (IsPredefined(key)) {
        return std::string();
    }
    std::vector<BYTE> buffer(1024);
    for (int attempt = 0; attempt < 2; attempt++) {
        ULONG needed = 0;
        NTSTATUS status =
            NtQueryKey(key, KEY_NAME_INFORMATION_CLASS, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status >= 0) {
            ULONG bytes = *reinterpret_cast<ULONG*>(buffer.data());
            bytes = bytes < buffer.size() - sizeof(ULONG) ? bytes : static_cast<ULONG>(buffer.size() - sizeof(ULONG));
            std::wstring name(reinterpret_cast<wchar_t*>(buffer.data() + sizeof(ULONG)), bytes / sizeof(wchar_t));
            HeapText text(WideToAnsi(name.c_str()));
            return text ? Comparable(AsRootPath(text.get())) : std::string();
        }
        if (needed == 0 || needed > KEY_NAME_LIMIT) {
            break;
        }
        buffer.resize(needed + sizeof(wchar_t));
    }
    return std::string();
}

// Whether the handle reached the key at keyPath (a normalised key path), with no registry link on the
// way.
bool ReachedByKeyPath(HKEY key, const std::string& keyPath)
{
    if (IsPredefined(key)) {
        return keyPath.find('\\') == std::string::npos; // a root is reached by its own handle
    }
    std::string reached = ReachedKeyPath(key);
    return !reached.empty() && reached == Comparable(keyPath);
}

GateResult Result(GateOutcome outcome, GateVerdict verdict = GATE_ALLOWED, DWORD error = ERROR_SUCCESS)
{
    return {outcome, verdict, error};
}

// A subkey opened as itself: a link is opened as the link, not as what it points to.
LONG OpenOwnKey(HKEY parent, const char* name, RegKeyHandle* out)
{
    return RegOpenKeyExA(parent, name, OPEN_THE_LINK_ITSELF, KEY_ALL_ACCESS, out->out());
}

// Whether a key opened as itself is a registry link: it names a target in its "SymbolicLinkValue", and
// opened the ordinary way it leads elsewhere (an ordinary key may hold a value of that name too).
bool IsLinkKey(HKEY parent, const char* name, HKEY key)
{
    DWORD type = 0;
    if (RegQueryValueExA(key, "SymbolicLinkValue", nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS ||
        type != REG_LINK) {
        return false;
    }
    RegKeyHandle followed;
    if (RegOpenKeyExA(parent, name, 0, KEY_QUERY_VALUE, followed.out()) != ERROR_SUCCESS) {
        return true; // a link that leads nowhere
    }
    std::string own = ReachedKeyPath(key);
    return own.empty() || own != ReachedKeyPath(followed.get());
}

DWORD DeleteKeyHandle(HKEY key)
{
    if (PlanMode()) {
        std::string path = ReachedKeyPath(key);
        if (path.empty()) {
            return ERROR_ACCESS_DENIED; // a root is never deleted
        }
        PlanKeyGoes(path);
        return ERROR_SUCCESS;
    }
    NTSTATUS status = NtDeleteKey(key);
    return status >= 0 ? ERROR_SUCCESS : RtlNtStatusToDosError(status);
}

// For a plan: whether everything in the key would be gone by now.
bool HoldsOnlyWhatGoes(HKEY key)
{
    std::string path = ReachedKeyPath(key);
    if (path.empty()) {
        return false;
    }
    for (DWORD i = 0;; i++) {
        char name[256];
        DWORD size = sizeof(name);
        LONG r = RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (r != ERROR_SUCCESS || !PlanKeyGone(Comparable(path + "\\" + std::string(name, size)))) {
            return false;
        }
    }
    for (DWORD i = 0;; i++) {
        char name[16384];
        DWORD size = sizeof(name);
        LONG r = RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_NO_MORE_ITEMS) {
            return true;
        }
        if (r != ERROR_SUCCESS || !PlanValueGone(path, name)) {
            return false;
        }
    }
}

bool IsEmptyKey(HKEY key)
{
    if (PlanMode()) {
        return HoldsOnlyWhatGoes(key);
    }
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
            error = IsLinkKey(key, name.c_str(), child.get()) ? ERROR_SUCCESS : EmptyKey(child.get(), depth + 1);
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
        if (IsLinkKey(at, parts[i].c_str(), next.get())) {
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

// The key judged last for the deletion of its values, by its handle and the path it was opened at.
struct JudgedKey {
    CRITICAL_SECTION lock;
    HKEY key = nullptr;
    std::string path;
    std::string reached; // the key the handle reached, once allowed: the path it was opened at
    GateVerdict verdict = GATE_ALLOWED;
    JudgedKey() { InitializeCriticalSection(&lock); }
};

JudgedKey& LastJudgedKey()
{
    static JudgedKey judged;
    return judged;
}

// reached: the path the key's handle reached, when the caller knows it (for a plan).
GateResult DeleteValue(HKEY key, const char* valueName, const std::string* reached = nullptr)
{
    if (PlanMode()) {
        std::string path = reached != nullptr ? *reached : ReachedKeyPath(key);
        LONG r = RegQueryValueExA(key, valueName, nullptr, nullptr, nullptr, nullptr);
        if (r != ERROR_SUCCESS || PlanValueGone(path, valueName)) {
            return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND ? Result(GATE_ABSENT)
                                                                   : Result(GATE_FAILED, GATE_ALLOWED, r);
        }
        PlanValueGoes(path, valueName);
        return Result(GATE_DONE);
    }
    LONG r = RegDeleteValueA(key, valueName);
    if (r == ERROR_SUCCESS) {
        return Result(GATE_DONE);
    }
    return r == ERROR_FILE_NOT_FOUND ? Result(GATE_ABSENT) : Result(GATE_FAILED, GATE_ALLOWED, r);
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

GateResult GateDeleteRegValue(HKEY key, const char* keyPath, const char* valueName)
{
    if (key == nullptr || valueName == nullptr || keyPath == nullptr) {
        return Result(GATE_REFUSED, GATE_NOT_FULL_PATH);
    }
    // A value goes from a key that could go itself, reached by its own path. The values of one key come
    // one after the other: the key is judged once for them, until the gate lets go of what it holds.
    JudgedKey& judged = LastJudgedKey();
    CriticalSectionScope scope(&judged.lock);
    if (judged.key != key || judged.path != keyPath) {
        std::string path;
        GateVerdict verdict = !NormaliseKeyPath(keyPath, &path) ? GATE_NOT_FULL_PATH
                              : KeyIsProtected(path)            ? GATE_PROTECTED_KEY
                              : !ReachedByKeyPath(key, path)    ? GATE_THROUGH_LINK
                                                                : GATE_ALLOWED;
        judged.key = key;
        judged.path = keyPath;
        judged.reached = verdict == GATE_ALLOWED ? Comparable(path) : std::string();
        judged.verdict = verdict;
    }
    return judged.verdict != GATE_ALLOWED ? Result(GATE_REFUSED, judged.verdict)
                                          : DeleteValue(key, valueName, &judged.reached);
}

void GateForgetKeys()
{
    JudgedKey& judged = LastJudgedKey();
    CriticalSectionScope scope(&judged.lock);
    judged.key = nullptr;
    judged.path.clear();
}

GateResult GateDeleteCount(HKEY key, const char* valueName)
{
    if (key == nullptr || valueName == nullptr) {
        return Result(GATE_FAILED, GATE_ALLOWED, ERROR_INVALID_PARAMETER);
    }
    std::string reached = ReachedKeyPath(key);
    if (reached.empty()) {
        return Result(GATE_REFUSED, GATE_PROTECTED_KEY);
    }
    if (reached != Comparable(kSharedCounts) && KeyIsProtected(reached)) {
        return Result(GATE_REFUSED, GATE_PROTECTED_KEY);
    }
    return DeleteValue(key, valueName);
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
    // The parent was opened by its path: a registry link on the way led it elsewhere.
    if (!ReachedByKeyPath(parent, base)) {
        return Result(GATE_REFUSED, GATE_THROUGH_LINK);
    }
    if (PlanMode() && PlanKeyGone(Comparable(path))) {
        return Result(GATE_ABSENT);
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

std::string PlanKeyPathOf(HKEY key)
{
    return ReachedKeyPath(key);
}
