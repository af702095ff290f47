#pragma once
// Object databases for tests: the engine started for the life of a scope, databases made from script
// texts, and a short way to read an object's record.
#include "engine/session.h"
#include "kit/testkit.h"
#include "script/object_database.h"
#include "script/object_internal.h" // the tests look into the records
#include "script/script_parser.h"
#include "support/startup.h"

#include <string>

int WINAPI TestProgressCallback(UINT_PTR context, UINT_PTR object, UINT_PTR value, UINT32 event, UINT_PTR extra);

// Starts the engine (and with it the database registry) and shuts it down again.
struct EngineScope {
    EngineScope() { started = EngineStartup() == 1; }
    ~EngineScope()
    {
        if (started) {
            EngineShutdown();
        }
    }
    bool started;
};

// A zero-filled session for the life of a scope, as the program's is: the uninstaller's callback is
// given it as its context. Scopes nest; the innermost one is the kit's default context.
struct SessionScope {
    UninstallSession session = {};
    SessionScope* previous;
    SessionScope();
    ~SessionScope();
    UINT_PTR context() { return reinterpret_cast<UINT_PTR>(&session); }
};

// The innermost SessionScope's session as a callback context; 0 outside every scope.
UINT_PTR ScopedSessionContext();

// Prepares the database as phase 2 does and runs every pass of the executor: its result.
int RemoveAll(DatabaseHandle db, UINT_PTR context = ScopedSessionContext());

// An object's path as a string, "(null)" when it has none.
std::string ObjectPathText(ObjectId id, UINT32 mode = 0);

// A database that is closed when the object goes.
class TestDatabase {
  public:
    explicit TestDatabase(const char* name = "TEST", const char* source = "C:\\Source\\",
                          ProgressCallback callback = TestProgressCallback);
    ~TestDatabase();
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    DatabaseHandle handle() const { return db_; }
    // Parses "[SSCRIPT]" followed by the entries; returns ParseScript's result.
    int Parse(const std::string& entries);
    ObjectId Find(const char* name) const { return FindObjectByName(db_, name); }
    // The path of an object by name, as ObjectPathText gives it.
    std::string Path(const char* name, UINT32 mode = 0) const { return ObjectPathText(Find(name), mode); }
    // A copy of the object's record (zeroed when there is no such object).
    InstallObject Get(const char* name) const;
    ObjectDatabase State() const;

  private:
    DatabaseHandle db_;
};

// A product's place in the registry (HKEY_LOCAL_MACHINE\SOFTWARE\<vendor>\Suite) with its shared-object
// registry below "Shared Objects", a folder for its files, and the SharedDLLs values it made; all
// removed again when it goes.
struct SharingProduct {
    TestFolder folder;
    std::string vendor;
    std::string suite;
    std::vector<std::string> dlls;

    SharingProduct();
    ~SharingProduct();
    // The script's entries that name the product's keys.
    std::string Header() const;
    void SetDll(const std::string& path, DWORD count);
    void SetCounter(const char* kind, const std::string& path, const char* count);
    // Counts as stored; 0 when there is none.
    DWORD Dll(const std::string& path) const { return Read(SHARED_DLLS_KEY, path); }
    DWORD Counter(const char* kind, const std::string& path) const { return Read(CounterKey(kind), path); }
    std::string CounterKey(const char* kind) const { return suite + "\\Shared Objects\\" + kind; }
    bool HasSharingTree() const { return KeyExists(HKEY_LOCAL_MACHINE, suite + "\\Shared Objects"); }
    static DWORD Read(const std::string& keyPath, const std::string& name);
};
