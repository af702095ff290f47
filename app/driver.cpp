// The two-phase uninstall. The uninstaller lives in the folder it has to delete, so phase 1 (the
// program the user started) asks, checks that nothing is in use, copies the program into a new folder
// of the temporary directory and starts the copy; phase 2 (the copy) removes the product behind the
// removal checklist while phase 1 waits, tells phase 1 the outcome (which phase 1 ends with, so that
// whoever started it waits for the whole removal), and deletes the program phase 1 ran from once it has
// ended.
#include "app/driver.h"

#include "app/handshake.h"
#include "app/relocation.h"
#include "app/unattended.h"
#include "engine/executor.h"
#include "engine/prepare.h"
#include "engine/release_journal.h"
#include "engine/removal_report.h"
#include "engine/uninstall_callback.h"
#include "script/load_script.h"
#include "script/object_text.h"
#include "support/guards.h"
#include "support/module_path.h"
#include "support/report.h"
#include "system/access_rights.h"
#include "system/deletion_gate.h"
#include "system/process.h"
#include "system/system_state.h"
#include "ui/dialogs.h"
#include "ui/progress_dialogs.h"

#include <stdio.h>
#include <string.h>

#include <string>

namespace {

// Phase 1 waits this long at most for the copy to answer (a loaded machine may start it late); for the
// outcome it waits as long as the copy lives. Phase 2 waits this long at most for phase 1 to end.
const DWORD COPY_ANSWER_LIMIT_MS = 5 * 60 * 1000;
const DWORD PHASE_ONE_END_LIMIT_MS = 60 * 1000;
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
// removal. False when it exists already: another uninstall of the product runs, or (*squatter names it)
// an account that no uninstall runs under took the name first.
bool ClaimProduct(UninstallSession* s, std::string* squatter = nullptr)
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
    PSECURITY_DESCRIPTOR security = RelocationObjectSecurity();
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), security, FALSE};
    HANDLE mutex = CreateMutexA(&attributes, FALSE, name);
    DWORD error = GetLastError();
    LocalFree(security);
    bool exists = error == ERROR_ALREADY_EXISTS || (mutex == nullptr && error == ERROR_ACCESS_DENIED);
    if (mutex == nullptr && !exists) {
        return true; // no mutex, no guard: the uninstall goes on as without one
    }
    if (exists && !(s->flags & SESSION_PHASE_TWO)) {
        char owner[300] = {};
        bool trusted = false;
        if (squatter != nullptr && (mutex == nullptr || !AccessObjectOwner(mutex, owner, sizeof(owner), &trusted))) {
            *squatter = "an account that does not let this one see it";
        } else if (squatter != nullptr && !trusted) {
            *squatter = owner;
        }
        if (mutex != nullptr) {
            CloseHandle(mutex);
        }
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
    // The pauses let a dialog show before the work and vanish after it: without one, none.
    s->progressDialog = Unattended(s) || (s->flags & SESSION_PLAN) ? nullptr : open(nullptr);
    bool shown = s->progressDialog != nullptr;
    Sleep(shown ? BEFORE_WORKER_MS : 0);
    DWORD ok = RunUninstallWorker(s, passMask);
    if (s->progressDialog != nullptr) {
        SendMessageA(s->progressDialog, WM_PROGRESS, PROGRESS_CLOSE, 0);
        s->progressDialog = nullptr;
    }
    Sleep(shown ? pauseAfter : 0);
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

// Whether the removal must run with a standard user's rights: this program runs with an administrator's,
// and others than administrators can change the configuration (or the container that holds it) that the
// removal follows. The report says which file and why.
bool RunsWithStandardRights(const UninstallSession* s)
{
    if (!AccessRunsElevated() || s->configFile == nullptr || !GateOthersCanChange(s->configFile)) {
        return false;
    }
    ReportLine("the configuration %s can be changed by others than administrators: the removal runs with a "
               "standard user's rights",
               s->configFile);
    return true;
}

// Starts the relocated copy suspended with phase 2's command line, lets it run and waits for the
// outcome of its removal. The outcome, or OUTCOME_FAILED with *why.
UninstallOutcome HandOver(UninstallSession* s, const Relocation& r, const char** why)
{
    Handshake h;
    if (!HandshakeOffer(&h)) {
        *why = "the hand-over to the copy could not be prepared; nothing was removed";
        return OUTCOME_FAILED;
    }
    HeapText arguments(PhaseTwoArguments(s));
    HANDLE thread = nullptr;
    bool standard = RunsWithStandardRights(s);
    KernelHandle process(!arguments ? nullptr
                         : standard
                             ? StartProcessWithStandardRights(r.copy.get(), arguments.get(), CREATE_SUSPENDED, &thread)
                             : StartProcess(r.copy.get(), arguments.get(), CREATE_SUSPENDED, &thread));
    KernelHandle threadGuard(thread);
    if (!process) {
        *why = "the copy could not be started; nothing was removed";
        return OUTCOME_FAILED;
    }
    ResumeThread(thread);
    ReportLine("phase 1 waits for the copy, process %lu", static_cast<unsigned long>(GetProcessId(process.get())));
    return HandshakeAwaitOutcome(&h, process.get(), COPY_ANSWER_LIMIT_MS, why);
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
    std::string squatter;
    if (!ClaimProduct(s, &squatter)) {
        // Its dialogs are on the screen already; this start leaves it alone.
        std::string why = squatter.empty() ? std::string("another uninstall of this product is running")
                                           : "the name this product's uninstall claims is held by " + squatter +
                                                 ", not by an administrator";
        return End(s, OUTCOME_ANOTHER_RUNNING, why.c_str(), 0);
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
    const char* why = nullptr; // set when the copy told no outcome
    UninstallOutcome outcome = HandOver(s, r, &why);
    bool removed = outcome == OUTCOME_REMOVED || outcome == OUTCOME_REMOVED_AT_RESTART;
    if (why == nullptr) {
        why = removed ? "the copy removed the product" : "the copy could not remove everything";
    }
    return End(s, outcome, why, removed ? 1 : 0);
}

// Phase 2's removal: the preparation, the product's Uninstall key, every pass behind the removal
// checklist; what waits for phase 1 goes to *deferred. True when everything could be removed; *why
// tells why not when nothing was changed.
bool RemoveProduct(UninstallSession* s, DeferredRemoval* deferred, const char** why)
{
    SessionDatabase database = {s};
    s->database = LoadUninstallDatabase(s);
    if (s->database == 0) {
        *why = "the product's script could not be loaded; nothing was changed";
        return false;
    }
    // Prepared before anything changes: a preparation that fails leaves the product as it is, its
    // Uninstall key too.
    if (PrepareRemoval(reinterpret_cast<UINT_PTR>(s), s->database, PHASE_TWO_PREPARATION) == -1) {
        *why = "the removal could not be prepared; nothing was changed";
        s->outcome = OUTCOME_FAILED;
        return false;
    }
    HeapText keyName(UninstallKeyName(s->database));
    GateResult entry = keyName ? GateDeleteUninstallEntry(keyName.get()) : GateResult{GATE_ABSENT, GATE_ALLOWED, 0};
    if (entry.outcome == GATE_REFUSED) {
        ReportLine("the Uninstall key \"%s\" is kept: %s", keyName.get(), GateVerdictText(GATE_NOT_UNINSTALL_ENTRY));
    } else if (entry.outcome == GATE_DONE && (s->flags & SESSION_PLAN)) {
        ReportLine("the Uninstall key \"%s\" would go", keyName.get());
    }
    SetDatabaseFlags(s->database, DATABASE_PROCESSED, 1);
    if (Unattended(s) || (s->flags & SESSION_PLAN)) {
        SetDatabaseFlags(s->database, DATABASE_DELETE_AT_RESTART, 1); // nobody to ask to close a program
    }
    ReleaseJournalOpen(s->removeTarget);
    s->deferred = deferred;
    bool ok = RunBehindDialog(s, OpenRemovalDialog, ALL_PASSES, AFTER_CHECKLIST_MS) != 0;
    s->deferred = nullptr;
    ReleaseJournalClose(ok);
    ObjectDatabase* d = LockObjectDatabase(s->database);
    bool restart = d != nullptr && (DatabaseFlagsOf(d) & DATABASE_RESTART_PENDING);
    if (d != nullptr) {
        UnlockObjectDatabase(s->database);
    }
    s->outcome = !ok ? OUTCOME_FAILED : restart ? OUTCOME_REMOVED_AT_RESTART : OUTCOME_REMOVED;
    return ok;
}

// The program phase 1 runs from (normalised), while it runs; empty when it has ended.
std::string PhaseOneProgram(const UninstallSession* s)
{
    typedef BOOL(WINAPI * ImageNameFunction)(HANDLE, DWORD, LPSTR, PDWORD);
    ImageNameFunction imageName = reinterpret_cast<ImageNameFunction>(reinterpret_cast<void (*)(void)>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryFullProcessImageNameA")));
    const DWORD QUERY_LIMITED_INFORMATION = 0x1000; // PROCESS_QUERY_LIMITED_INFORMATION
    KernelHandle parent(OpenProcess(QUERY_LIMITED_INFORMATION, FALSE, s->parentProcessId));
    char path[MAX_PATH * 2] = {};
    DWORD size = sizeof(path);
    GateVerdict verdict;
    HeapText normal(parent && imageName != nullptr && imageName(parent.get(), 0, path, &size)
                        ? GateNormalisePath(path, &verdict)
                        : nullptr);
    return normal ? normal.get() : std::string();
}

int PhaseTwo(UninstallSession* s)
{
    Handshake h;
    if (!HandshakeJoin(&h, s->parentProcessId)) {
        return End(s, OUTCOME_FAILED, "no phase 1 waits for this copy; nothing was removed", 0);
    }
    ClaimProduct(s); // before phase 1 ends, so that the claim never lapses
    if (!AccessRunsElevated()) {
        ReportLine("phase 2 runs with a standard user's rights");
    }
    DeferredRemoval deferred;
    deferred.program = PhaseOneProgram(s);
    const char* why = nullptr;
    bool ok = RemoveProduct(s, &deferred, &why);
    ScheduleDeferredRemoval(&deferred); // should this process be ended before phase 1 is
    // The final message is shown while phase 1 still waits: the caller's wait ends when the user has
    // read how the removal ended.
    ShowOrReport(s, ok ? s->successText : s->notAllText, ok ? STYLE_SUCCESS : STYLE_NOT_ALL);
    UninstallOutcome outcome = ok ? static_cast<UninstallOutcome>(s->outcome) : OUTCOME_FAILED;
    bool phaseOneEnded = HandshakeDeliver(&h, outcome, PHASE_ONE_END_LIMIT_MS);
    DeferredOutcome waited = DEFERRED_GONE;
    if (!deferred.items.empty()) {
        ReportLine(phaseOneEnded ? "phase 1 has ended: the program it ran from goes now"
                                 : "phase 1 has not ended: the program it runs from goes at the next restart");
        waited = FinishDeferredRemoval(&deferred);
    }
    if (!ok || waited == DEFERRED_KEPT) {
        return End(s, OUTCOME_FAILED, why != nullptr ? why : "not everything could be removed", 0);
    }
    if (outcome == OUTCOME_REMOVED_AT_RESTART || waited == DEFERRED_AT_RESTART) {
        return End(s, OUTCOME_REMOVED_AT_RESTART, "removed; what was in use goes at the next restart", -1);
    }
    return End(s, OUTCOME_REMOVED, "everything removed", -1);
}

// The message that ends a plan shown in a window: what would go, stay and be refused, the exit code and
// where the plan is.
void ShowPlanSummary(const UninstallSession* s)
{
    NoteTally tally = NotesSoFar();
    char text[1024];
    snprintf(text, sizeof(text),
             "Nothing was changed. The removal would:\n\n  remove %u objects\n  keep %u\n  be refused %u"
             "\n  fail on %u\n\nand end with exit code %d.\n\nThe plan, object by object: %s",
             tally.removed, tally.kept, tally.refused, tally.failed, UnattendedExitCode(s->outcome, 0),
             s->logPath != nullptr && ReportIsOpen() ? s->logPath : "(no report could be written)");
    UiMessageBox(nullptr, text, s->title, STYLE_SUCCESS);
}

// The outcome a removal would end with, from what the plan met.
UninstallOutcome PlannedOutcome(const UninstallSession* s, bool ok, DeferredOutcome waited, const char** why)
{
    if (s->flags & SESSION_FILE_IN_USE) {
        *why = "a file is in use: the removal would stop in phase 1 and change nothing";
        return OUTCOME_FAILED;
    }
    if (!ok || waited == DEFERRED_KEPT) {
        *why = *why != nullptr ? *why : "the removal would not remove everything";
        return OUTCOME_FAILED;
    }
    if (s->outcome == OUTCOME_REMOVED_AT_RESTART || waited == DEFERRED_AT_RESTART) {
        *why = "the removal would remove everything, what is in use at the next restart";
        return OUTCOME_REMOVED_AT_RESTART;
    }
    *why = "the removal would remove everything";
    return OUTCOME_REMOVED;
}

} // namespace

int PlanUninstall(UninstallSession* s)
{
    if (s == nullptr) {
        return 0;
    }
    ReportLine("plan: what a removal would do on this machine; nothing is changed");
    if (!CheckPrivileges(nullptr, 0)) {
        return End(s, OUTCOME_FAILED, "no administrator rights: the removal would not start", 0);
    }
    // Phase 1's part: the files in use are each named, and the plan goes on.
    HeapText keyName;
    const char* why = QueryProduct(s, &keyName);
    if (why != nullptr && !(s->flags & SESSION_FILE_IN_USE)) {
        return End(s, OUTCOME_FAILED, why, 0);
    }
    RunsWithStandardRights(s);
    // Phase 2's part: the program phase 1 runs from waits for phase 1 to end, as this one would.
    DeferredRemoval deferred;
    HeapText own(GetModulePath());
    GateVerdict verdict;
    HeapText normal(own ? GateNormalisePath(own.get(), &verdict) : nullptr);
    deferred.program = normal ? normal.get() : "";
    why = nullptr;
    bool ok = RemoveProduct(s, &deferred, &why);
    ScheduleDeferredRemoval(&deferred);
    DeferredOutcome waited = deferred.items.empty() ? DEFERRED_GONE : FinishDeferredRemoval(&deferred);
    UninstallOutcome outcome = PlannedOutcome(s, ok, waited, &why);
    int result = End(s, outcome, why, outcome == OUTCOME_REMOVED || outcome == OUTCOME_REMOVED_AT_RESTART ? 1 : 0);
    if (!Unattended(s)) {
        ShowPlanSummary(s);
    }
    return result;
}

int RunUninstall(UninstallSession* session)
{
    if (session == nullptr) {
        return 0;
    }
    return (session->flags & SESSION_PHASE_TWO) ? PhaseTwo(session) : PhaseOne(session);
}
