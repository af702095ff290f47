#include "app/relocation.h"

#include "support/module_path.h"
#include "support/strings.h"
#include "system/system_state.h"

#include <wincrypt.h>
#include <stdio.h>

#include <string>

namespace {

const int FOLDER_ATTEMPTS = 8;
const DWORD RANDOM_BYTES = 8;

// 16 hex digits from the system's cryptographic random source; false when it has none to give.
bool RandomName(char* out, size_t size)
{
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
        return false;
    }
    BYTE bytes[RANDOM_BYTES] = {};
    bool ok = CryptGenRandom(provider, RANDOM_BYTES, bytes) != FALSE;
    CryptReleaseContext(provider, 0);
    if (ok) {
        snprintf(out, size, "Uninst-%02x%02x%02x%02x%02x%02x%02x%02x", bytes[0], bytes[1], bytes[2], bytes[3], bytes[4],
                 bytes[5], bytes[6], bytes[7]);
    }
    return ok;
}

// A folder that did not exist before, made here.
char* NewFolder(const char* tempDirectory)
{
    for (int attempt = 0; attempt < FOLDER_ATTEMPTS; attempt++) {
        char name[32];
        if (!RandomName(name, sizeof(name))) {
            return nullptr;
        }
        HeapText folder(PathJoin(tempDirectory, name, false));
        if (folder && CreateDirectoryA(folder.get(), nullptr)) {
            return PathJoin(folder.get(), nullptr, false); // with its trailing backslash
        }
        if (!folder || GetLastError() != ERROR_ALREADY_EXISTS) {
            return nullptr;
        }
    }
    return nullptr;
}

} // namespace

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
    r->copy.reset(MakeTempFile(r->folder.get(), session->title));
    if (!r->copy) {
        RemoveDirectoryA(r->folder.get());
        r->folder.reset();
        return false;
    }
    return true;
}

void DropRelocation(Relocation* r)
{
    if (r->copy) {
        DeleteFileA(r->copy.get());
    }
    if (r->folder) {
        RemoveDirectoryA(r->folder.get());
    }
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
