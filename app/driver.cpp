// The two-phase uninstall. The uninstaller lives in the folder it has to delete, so phase 1 (the
// program the user started) asks, checks that nothing is in use, copies the program into a new folder
// of the temporary directory and starts the copy; phase 2 (the copy) waits until phase 1 has ended and
// removes the product behind the removal checklist.
#include "app/driver.h"

#include "app/relocation.h"
#include "app/unattended.h"
#include "engine/executor.h"
#include "engine/prepare.h"
#include "engine/release_journal.h"
#include "engine/uninstall_callback.h"
#include "script/load_script.h"
#include "script/object_text.h"
#include "support/guards.h"
#include "support/module_path.h"
#include "support/report.h"
#include "system/deletion_gate.h"
#include "system/process.h"
#include "system/system_state.h"
#include "ui/dialogs.h"
#include "ui/progress_dialogs.h"

#include <stdio.h>
#include <string.h>

namespace {

const DWORD HANDSHAKE_TIMEOUT_MS = 10000;
const DWORD HANDSHAKE_POLL_MS = 10;
const DWORD PARENT_GONE_PAUSE_MS = 300;
const DWORD BEFORE_WORKER_MS = 10;
const DWORD AFTER_FIXUP_MS = 10;
const DWORD AFTER_CHECKLIST_MS = 100;
const UINT32 PHASE_TWO_PREPARATION =
    PREPARE_AGAIN | PREPARE_ASK_QUERIES | PREPARE_NO_IN_USE_TEST | PREPARE_EXPAND | PREPARE_MASKS_FROM_TARGET; // 0x3023
const UINT STYLE_NO_PRIVILEGES = MB_OK | MB_ICONHAND | MB_SYSTEMMODAL;
const UINT STYLE_CONFIRM = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2 | MB_SYSTEMMODAL;
const UINT STYLE_SUCCESS = MB_OK | MB_ICONASTERISK | MB_SYSTEMMODAL;
const UINT STYLE_NOT_ALL = MB_OK | MB_ICONEXCLAMATION | MB_SYSTEMMODAL;

// One uninstall of a product at a time: a mutex named after its configuration file. Phase 1 creates it
// and phase 2 opens it before phase 1 ends, so that it exists from the first question to the last
// removal. False when it exists already: another uninstall of the product runs.
bool ClaimProduct(UninstallSession* s)
{
    char upper[MAX_PATH * 2] = {};
    lstrcpynA(upper, s->configFile != nullptr ? s->configFile : "", sizeof(upper));
    CharUpperA(upper);
    UINT32 hash = 2166136261u; // FNV-1a
    for (const char* c = upper; *c != '\0'; c++) {
        hash = (hash ^ static_cast<unsigned char>(*c)) * 16777619u;
    }
    char name[40];
    snprintf(name, sizeof(name), "UninstProduct_%08X", static_cast<unsigned>(hash));
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
    bool exists = GetLastError() == ERROR_ALREADY_EXISTS;
    if (mutex == nullptr) {
        return true; // no mutex, no guard: the uninstall goes on as without one
    }
    if (exists && !(s->flags & SESSION_PHASE_TWO)) {
        CloseHandle(mutex);
        return false;
    }
    s->productMutex = mutex; // held until this process ends
    return true;
}

// Closes a database when the scope ends, and forgets it in the session.
struct SessionDatabase {
    UninstallSession* session;
    ~SessionDatabase()
    {
        if (session->database != 0) {
            CloseObjectDatabase(session->database);
            session->database = 0;
        }
    }
};

// The "UNINSTALL" database with the product's script, or 0.
DatabaseHandle LoadUninstallDatabase(UninstallSession* s)
{
    if (s->configFile == nullptr || s->configDir == nullptr || s->configFile[0] == '\0' || s->configDir[0] == '\0') {
        return 0;
    }
    DatabaseHandle db = CreateObjectDatabase("UNINSTALL", s->configDir, UninstallCallback);
    ScriptLocation location = {s->configPath, s->configFile, s->version};
    if (db != 0 && !LoadScript(&location, db, s->configFile)) {
        CloseObjectDatabase(db);
        db = 0;
    }
    return db;
}

// The name of the product's Uninstall key: the contents of the first "_UNINSTALL" file, or null.
char* UninstallKeyName(DatabaseHandle db)
{
    ObjectId id = FindObjectByFlags(db, 0, OBJECT_UNINSTALL);
    if (id == 0) {
        return nullptr;
    }
    char* name = GetObjectContentsText(id, nullptr, 0);
    UnlockObjectDatabase(db); // the lock FindObjectByFlags left
    return name;
}

// Runs the worker with a progress dialog of this thread around it: the worker's exit code.
DWORD RunBehindDialog(UninstallSession* s, HWND (*open)(HWND), UINT32 passMask, DWORD pauseAfter)
{
    s->progressDialog = Unattended(s) ? nullptr : open(nullptr);
    Sleep(BEFORE_WORKER_MS);
    DWORD ok = RunUninstallWorker(passMask);
    if (s->progressDialog != nullptr) {
        SendMessageA(s->progressDialog, WM_PROGRESS, PROGRESS_CLOSE, 0);
        s->progressDialog = nullptr;
    }
    Sleep(pauseAfter);
    return ok;
}

// Phase 1's query pass: the database loaded, the files tested for use behind the "Fixing UP" dialog.
// Null when the removal may go on (*keyName receives the product's Uninstall key name), else why
// phase 1 stops.
const char* QueryProduct(UninstallSession* s, HeapText* keyName)
{
    SessionDatabase database = {s};
    s->database = LoadUninstallDatabase(s);
    if (s->database == 0) {
        return "the product's script could not be loaded";
    }
    bool prepared = RunBehindDialog(s, OpenFixupDialog, PASS_QUERY, AFTER_FIXUP_MS) != 0;
    if (s->flags & SESSION_FILE_IN_USE) {
        return "a file is in use";
    }
    if (!prepared) {
        return "the removal could not be prepared; nothing was changed";
    }
    keyName->reset(UninstallKeyName(s->database));
    return nullptr;
}

// Polls for "SyncBack", which phase 2 creates once it runs, for at most the handshake's time.
void AwaitCopy()
{
    DWORD start = GetTickCount();
    for (;;) {
        KernelHandle syncBack(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, "SyncBack"));
        if (syncBack) {
            return;
        }
        DWORD error = GetLastError();
        if ((error != ERROR_INVALID_NAME && error != ERROR_FILE_NOT_FOUND) ||
            GetTickCount() - start >= HANDSHAKE_TIMEOUT_MS) {
            return;
        }
        Sleep(HANDSHAKE_POLL_MS);
    }
}

// Starts the relocated copy suspended with phase 2's command line, creates "Sync" (owned until this
// process ends), lets the copy run and waits for it to answer. 1 when the copy was started, else 0.
int HandOver(UninstallSession* s, const Relocation& r)
{
    HeapText arguments(PhaseTwoArguments(s));
    HANDLE thread = nullptr;
    KernelHandle process(arguments ? StartProcess(r.copy.get(), arguments.get(), CREATE_SUSPENDED, &thread) : nullptr);
    KernelHandle threadGuard(thread);
    if (!process) {
        return 0;
    }
    s->syncMutex = CreateMutexA(nullptr, TRUE, "Sync"); // abandoned when this process ends
    ResumeThread(thread);
    if (s->syncMutex != nullptr) {
        AwaitCopy();
    }
    return 1;
}

// Ends phase 1 or 2 with an outcome and the reason in the report; the phase's result.
int End(UninstallSession* s, UninstallOutcome outcome, const char* why, int result)
{
    s->outcome = outcome;
    ReportLine("phase %d ends: %s", (s->flags & SESSION_PHASE_TWO) ? 2 : 1, why);
    return result;
}

int PhaseOne(UninstallSession* s)
{
    if (!CheckPrivileges(nullptr, 0)) {
        ShowOrReport(s, s->noPrivilegesText, STYLE_NO_PRIVILEGES);
        return End(s, OUTCOME_FAILED, "no administrator rights", 0);
    }
    if (!ClaimProduct(s)) {
        // Its dialogs are on the screen already; this start leaves it alone.
        return End(s, OUTCOME_ANOTHER_RUNNING, "another uninstall of this product is running", 0);
    }
    if (!(s->flags & SESSION_KILL) && !Unattended(s) &&
        UiMessageBox(nullptr, s->confirmText, s->title, STYLE_CONFIRM) != IDYES) {
        return End(s, OUTCOME_DECLINED, "the user answered No", 0);
    }
    // The temporary folder is made only once nothing is in use, so that a phase 1 that stops (or is
    // stopped) before leaves nothing behind.
    HeapText keyName;
    if (const char* why = QueryProduct(s, &keyName)) {
        return End(s, OUTCOME_FAILED, why, 0);
    }
    Relocation r;
    if (!MakeRelocation(s, &r)) {
        return End(s, OUTCOME_FAILED, "no folder for the program's copy in the temporary directory", 0);
    }
    if (!CopyProgram(&r)) {
        return End(s, OUTCOME_FAILED, "the program could not be copied", 0);
    }
    if (HandOver(s, r) == 0) {
        return End(s, OUTCOME_FAILED, "the copy could not be started", 0);
    }
    return End(s, OUTCOME_HANDED_OVER, "the copy took over", 1);
}

// Phase 2's handshake: "Sync" opened, "SyncBack" created, both waits. False on a time-out or when phase
// 1 is not there.
bool AwaitParent(UninstallSession* s)
{
    KernelHandle parent(OpenProcess(SYNCHRONIZE, FALSE, s->parentProcessId));
    if (!parent) {
        return false;
    }
    KernelHandle sync(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, "Sync"));
    if (!sync) {
        return false;
    }
    ClaimProduct(s); // before phase 1 ends, so that the claim never lapses
    KernelHandle syncBack(CreateMutexA(nullptr, TRUE, "SyncBack")); // tells phase 1 that the copy runs
    if (!syncBack) {
        return false;
    }
    // Phase 1 never releases "Sync": the wait ends when its thread ends and the mutex is abandoned.
    if (WaitForSingleObject(sync.get(), HANDSHAKE_TIMEOUT_MS) == WAIT_TIMEOUT) {
        return false;
    }
    sync.reset();
    syncBack.reset();
    if (WaitForSingleObject(parent.get(), HANDSHAKE_TIMEOUT_MS) == WAIT_TIMEOUT) {
        return false;
    }
    parent.reset();
    Sleep(PARENT_GONE_PAUSE_MS);
    return true;
}

// Phase 2's removal: the preparation, the product's Uninstall key (kept by phase 1 until now), every
// pass behind the removal checklist. True when everything could be removed; *why tells why not when
// nothing was changed.
bool RemoveProduct(UninstallSession* s, const char** why)
{
    SessionDatabase database = {s};
    s->database = LoadUninstallDatabase(s);
    if (s->database == 0) {
        *why = "the product's script could not be loaded; nothing was changed";
        return false;
    }
    // Prepared before anything changes: a preparation that fails leaves the product as it is, its
    // Uninstall key too.
    if (PrepareRemoval(0, s->database, PHASE_TWO_PREPARATION) == -1) {
        *why = "the removal could not be prepared; nothing was changed";
        s->outcome = OUTCOME_FAILED;
        return false;
    }
    HeapText keyName(UninstallKeyName(s->database));
    if (keyName && GateDeleteUninstallEntry(keyName.get()).outcome == GATE_REFUSED) {
        ReportLine("the Uninstall key \"%s\" is kept: %s", keyName.get(), GateVerdictText(GATE_NOT_UNINSTALL_ENTRY));
    }
    SetDatabaseFlags(s->database, DATABASE_PROCESSED, 1);
    if (Unattended(s)) {
        SetDatabaseFlags(s->database, DATABASE_DELETE_AT_RESTART, 1); // nobody to ask to close a program
    }
    ReleaseJournalOpen(s->removeTarget);
    bool ok = RunBehindDialog(s, OpenRemovalDialog, ALL_PASSES, AFTER_CHECKLIST_MS) != 0;
    ReleaseJournalClose(ok);
    ObjectDatabase* d = LockObjectDatabase(s->database);
    bool restart = d != nullptr && (d->flags & DATABASE_RESTART_PENDING);
    if (d != nullptr) {
        UnlockObjectDatabase(s->database);
    }
    s->outcome = !ok ? OUTCOME_FAILED : restart ? OUTCOME_REMOVED_AT_RESTART : OUTCOME_REMOVED;
    return ok;
}

int PhaseTwo(UninstallSession* s)
{
    if (!AwaitParent(s)) {
        return End(s, OUTCOME_FAILED, "phase 1 did not hand over in time; nothing was removed", 0);
    }
    const char* why = nullptr;
    bool ok = RemoveProduct(s, &why);
    ShowOrReport(s, ok ? s->successText : s->notAllText, ok ? STYLE_SUCCESS : STYLE_NOT_ALL);
    if (!ok) {
        return End(s, OUTCOME_FAILED, why != nullptr ? why : "not everything could be removed", 0);
    }
    if (s->outcome == OUTCOME_REMOVED_AT_RESTART) {
        return End(s, OUTCOME_REMOVED_AT_RESTART, "removed; what was in use goes at the next restart", -1);
    }
    return End(s, OUTCOME_REMOVED, "everything removed", -1);
}

} // namespace

int RunUninstall(UninstallSession* session)
{
    if (session == nullptr) {
        return 0;
    }
    return (session->flags & SESSION_PHASE_TWO) ? PhaseTwo(session) : PhaseOne(session);
}
