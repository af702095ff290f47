#include "kit/database_kit.h"

#include "engine/executor.h"
#include "engine/prepare.h"
#include "script/object_text.h"

#include <string.h>

int WINAPI TestProgressCallback(UINT_PTR, UINT_PTR, UINT_PTR, UINT32, UINT_PTR)
{
    return 0;
}

TestDatabase::TestDatabase(const char* name, const char* source, ProgressCallback callback)
    : db_(CreateObjectDatabase(name, source, callback))
{
}

TestDatabase::~TestDatabase()
{
    CloseObjectDatabase(db_);
}

int TestDatabase::Parse(const std::string& entries)
{
    std::string text = "[SSCRIPT]\r\n" + entries;
    return ParseScript(db_, text.data(), static_cast<UINT32>(text.size()));
}

InstallObject TestDatabase::Get(const char* name) const
{
    InstallObject copy;
    memset(&copy, 0, sizeof(copy));
    InstallObject* o = LockObject(Find(name));
    if (o != nullptr) {
        copy = *o;
        ReleaseObject(o);
    }
    return copy;
}

ObjectDatabase TestDatabase::State() const
{
    ObjectDatabase copy;
    memset(&copy, 0, sizeof(copy));
    ObjectDatabase* d = LockObjectDatabase(db_);
    if (d != nullptr) {
        copy = *d;
        UnlockObjectDatabase(db_);
    }
    return copy;
}

std::string ObjectPathText(ObjectId id, UINT32 mode)
{
    char* text = GetObjectPath(id, mode, nullptr, 0);
    std::string result = text != nullptr ? text : "(null)";
    FreeObjectText(text);
    return result;
}

namespace {
SessionScope* g_innermostScope = nullptr;
}

SessionScope::SessionScope() : previous(g_innermostScope)
{
    g_innermostScope = this;
}

SessionScope::~SessionScope()
{
    g_innermostScope = previous;
}

UINT_PTR ScopedSessionContext()
{
    return g_innermostScope != nullptr ? g_innermostScope->context() : 0;
}

int RemoveAll(DatabaseHandle db, UINT_PTR context)
{
    if (PrepareRemoval(context, db,
                       PREPARE_AGAIN | PREPARE_ASK_QUERIES | PREPARE_NO_IN_USE_TEST | PREPARE_EXPAND |
                           PREPARE_MASKS_FROM_TARGET) == -1) {
        return -1; // nothing goes, as in the program
    }
    SetDatabaseFlags(db, DATABASE_PROCESSED, 1);
    return ExecuteUninstall(context, db, ALL_PASSES);
}

namespace {

std::string NewSharingVendor()
{
    static LONG made = 0;
    return "UninstShare" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(InterlockedIncrement(&made));
}

} // namespace

SharingProduct::SharingProduct() : vendor(NewSharingVendor()), suite("SOFTWARE\\" + vendor + "\\Suite")
{
    RemoveTestKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\" + vendor); // left by an ended process with the same id
}

SharingProduct::~SharingProduct()
{
    RemoveTestKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\" + vendor);
    RegKeyHandle key(OpenRegKeyWrite(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY));
    for (const std::string& d : dlls) {
        RemoveTestValue(key.get(), d);
    }
}

std::string SharingProduct::Header() const
{
    return "_regkey=PARENT_HKEY /_TARGETPATH \"" + vendor + "\";\r\n_regkey=PROJECT_HKEY /_TARGETPATH Suite;\r\n";
}

void SharingProduct::SetDll(const std::string& path, DWORD count)
{
    dlls.push_back(path);
    SetDwordValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, path, count);
}

void SharingProduct::SetCounter(const char* kind, const std::string& path, const char* count)
{
    RegKeyHandle key(CreateRegKey(HKEY_LOCAL_MACHINE, CounterKey(kind).c_str()));
    SetRegString(key.get(), path.c_str(), count);
}

DWORD SharingProduct::Read(const std::string& keyPath, const std::string& name)
{
    long count = StoredCount(keyPath, name);
    return count < 0 ? 0 : static_cast<DWORD>(count);
}
