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
