#include "app/relocation.h"

#include "support/module_path.h"
#include "support/strings.h"
#include "system/deletion_gate.h"
#include "system/system_state.h"

#include <sddl.h>
#include <ntsecapi.h>
#include <stdio.h>
#include <string.h>

#include <string>

namespace {

const int FOLDER_ATTEMPTS = 8;
const DWORD RANDOM_BYTES = 8;

// 16 hex digits from the system's random source (the one its cryptographic providers draw on, without
// loading them); false when it has none to give.
bool RandomName(char* out, size_t size)
{
    BYTE bytes[RANDOM_BYTES] = {};
    if (!RtlGenRandom(bytes, RANDOM_BYTES)) {
        return false;
    }
    snprintf(out, size, "Uninst-%02x%02x%02x%02x%02x%02x%02x%02x", bytes[0], bytes[1], bytes[2], bytes[3], bytes[4],
             bytes[5], bytes[6], bytes[7]);
    return true;
}

// Administrators, the system and the user who runs the uninstall have full access, inherited by what
// is made inside; nobody else has any (the temporary folder may be open to others).
const char PRIVATE_FOLDER_ACCESS[] = "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;FA;;;%s)";
// The same for a named object: whoever else made one of the name first is found out by its owner.
const char PRIVATE_OBJECT_ACCESS[] = "D:P(A;;GA;;;BA)(A;;GA;;;SY)(A;;GA;;;%s)";

// The security of what the given access list (with %s for the user) describes: a heap block
// (LocalFree), or null.
PSECURITY_DESCRIPTOR PrivateSecurity(const char* access)
{
    KernelHandle token;
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) {
        return nullptr;
    }
    token.reset(opened);
    BYTE buffer[512];
    DWORD size = 0;
    char* sid = nullptr;
    if (!GetTokenInformation(token.get(), TokenUser, buffer, sizeof(buffer), &size) ||
        !ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
        return nullptr;
    }
    std::string text = access;
    text.replace(text.find("%s"), 2, sid);
    LocalFree(sid);
    PSECURITY_DESCRIPTOR security = nullptr;
    return ConvertStringSecurityDescriptorToSecurityDescriptorA(text.c_str(), SDDL_REVISION_1, &security, nullptr)
               ? security
               : nullptr;
}

// A folder that did not exist before, made here with an access list of its own.
char* NewFolder(const char* tempDirectory)
{
    PSECURITY_DESCRIPTOR security = RelocationFolderSecurity();
    if (security == nullptr) {
        return nullptr;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), security, FALSE};
    char* made = nullptr;
    for (int attempt = 0; attempt < FOLDER_ATTEMPTS; attempt++) {
        char name[32];
        if (!RandomName(name, sizeof(name))) {
            return nullptr;
        }
        HeapText folder(PathJoin(tempDirectory, name, false));
        if (folder && CreateDirectoryA(folder.get(), &attributes)) {
            made = PathJoin(folder.get(), nullptr, false); // with its trailing backslash
            break;
        }
        if (!folder || GetLastError() != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    LocalFree(security);
    return made;
}

// The name GetTempFileNameA starts the copy's name with: the title's first characters that can stand
// in a file name, never a path ("..\x" gives "x"); "Uni" when none can.
void CopyPrefix(const char* title, char* prefix, size_t size)
{
    size_t n = 0;
    for (const char* c = title != nullptr ? title : ""; *c != '\0' && n + 1 < size; c++) {
        if (static_cast<unsigned char>(*c) > ' ' && strchr("\\/:*?\"<>|.", *c) == nullptr) {
            prefix[n++] = *c;
        }
    }
    prefix[n] = '\0';
    if (n == 0) {
        lstrcpynA(prefix, "Uni", static_cast<int>(size));
    }
}

} // namespace

PSECURITY_DESCRIPTOR RelocationObjectSecurity()
{
    return PrivateSecurity(PRIVATE_OBJECT_ACCESS);
}

PSECURITY_DESCRIPTOR RelocationFolderSecurity()
{
    return PrivateSecurity(PRIVATE_FOLDER_ACCESS);
}

bool MakeRelocation(const UninstallSession* session, Relocation* r)
{
    r->module.reset(GetModulePath());
    HeapText temp(GetTempDirectory());
    if (!r->module || !temp) {
        return false;
    }
    r->folder.reset(NewFolder(temp.get()));
    if (!r->folder) {
        return false;
    }
    char prefix[4];
    CopyPrefix(session->title, prefix, sizeof(prefix));
    r->copy.reset(MakeTempFile(r->folder.get(), prefix));
    if (!r->copy) {
        GateDeleteFolder(r->folder.get(), 0, nullptr);
        r->folder.reset();
        return false;
    }
    return true;
}

bool CopyProgram(const Relocation* r)
{
    KernelHandle target(CreateFileA(r->copy.get(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    KernelHandle source(target ? CreateFileA(r->module.get(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr)
                               : INVALID_HANDLE_VALUE);
    if (!target || !source) {
        return false;
    }
    DWORD size = GetFileSize(source.get(), nullptr);
    HeapPtr<BYTE> bytes(size != INVALID_FILE_SIZE && size != 0 ? static_cast<BYTE*>(MemAlloc(size)) : nullptr);
    DWORD read = 0, written = 0;
    bool copied = bytes && ReadFile(source.get(), bytes.get(), size, &read, nullptr) && read == size &&
                  WriteFile(target.get(), bytes.get(), size, &written, nullptr) && written == size;
    target.reset();
    source.reset();
    // The copy goes at the next restart, and then its folder, which is empty by then.
    ScheduleRebootRename(nullptr, r->copy.get());
    std::string folder = r->folder.get(); // named without its trailing backslash
    if (folder.size() > 1 && folder.back() == '\\') {
        folder.pop_back();
    }
    ScheduleRebootRename(nullptr, folder.c_str());
    return copied;
}
