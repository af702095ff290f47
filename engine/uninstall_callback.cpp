#include "engine/uninstall_callback.h"

#include "engine/executor.h"
#include "engine/registration.h"
#include "engine/removal_report.h"
#include "engine/session.h"
#include "engine/shared_objects.h"
#include "script/object_text.h"
#include "support/guards.h"
#include "support/module_path.h"
#include "support/plan_mode.h"
#include "support/report.h"
#include "support/strings.h"
#include "system/deletion_gate.h"
#include "ui/dialogs.h"
#include "ui/progress_dialogs.h"

#include <string.h>

#include <string>

namespace {

// The pacing that gives the progress dialog time to paint: at the start of a pass, after each object,
// at its end.
const DWORD PASS_BEGIN_PAUSE_MS = 50;
const DWORD OBJECT_PAUSE_MS = 0;
const DWORD PASS_END_PAUSE_MS = 200;
const int NAME_SIZE = 260;

// The checklist step of a pass, or -1 for a pass without one.
int ChecklistStep(UINT_PTR pass)
{
    switch (pass) {
    case PASS_COMPONENTS:
        return 0;
    case PASS_GROUPS:
        return 1;
    case PASS_FILES:
        return 2;
    case PASS_FOLDERS:
        return 3;
    case PASS_REGKEYS:
        return 4;
    default:
        return -1;
    }
}

// The pass under way, for its line in the report: its objects and when it began.
struct PassClock {
    UINT_PTR objects;
    DWORD startedAt;
} g_pass;

const char* PassName(UINT_PTR pass)
{
    switch (pass) {
    case PASS_QUERY:
        return "query";
    case PASS_COMPONENTS:
        return "components";
    case PASS_GROUPS:
        return "program groups";
    case PASS_FILES:
        return "files";
    case PASS_FOLDERS:
        return "folders";
    case PASS_REGITEMS:
        return "registry values";
    case PASS_REGKEYS:
        return "registry keys";
    default:
        return "preparation"; // the removal preparation reports itself as pass 0
    }
}

void Send(HWND dialog, WPARAM command, LPARAM value)
{
    SendMessageA(dialog, WM_PROGRESS, command, value);
}

void PassBegins(UninstallSession* s, UINT_PTR count, UINT_PTR pass)
{
    g_pass = {count, GetTickCount()};
    HWND dialog = s->progressDialog;
    if (dialog == nullptr) {
        return;
    }
    // The registry-items pass sends neither: the bar keeps the folders' range, its position restarts.
    if (pass != PASS_REGITEMS) {
        Send(dialog, PROGRESS_RANGE, static_cast<LPARAM>((count & 0xFFFF) << 16));
        int step = ChecklistStep(pass);
        if (step >= 0) {
            Send(dialog, PROGRESS_STEP, step);
        }
    }
    s->progressCount = 0;
    Send(dialog, PROGRESS_STEP_SIZE, 1);
    Send(dialog, PROGRESS_POSITION, 0);
    Sleep(PASS_BEGIN_PAUSE_MS);
}

void ObjectDone(UninstallSession* s, ObjectId id)
{
    HWND dialog = s->progressDialog;
    if (dialog == nullptr) {
        return;
    }
    char name[NAME_SIZE] = {};
    if (GetObjectLeafName(id, 0, name, -NAME_SIZE) == nullptr || name[0] == '\0') {
        lstrcpynA(name, "unknown", sizeof(name));
    }
    s->progressCount++;
    // Offered, not sent: a round trip to the dialog's thread for every object would cost more than
    // removing the object.
    if (!ProgressOffer(dialog, static_cast<LPARAM>(s->progressCount), name)) {
        Send(dialog, PROGRESS_POSITION, static_cast<LPARAM>(s->progressCount));
        Send(dialog, PROGRESS_NAME, reinterpret_cast<LPARAM>(name));
    }
    if (OBJECT_PAUSE_MS != 0) {
        Sleep(OBJECT_PAUSE_MS);
    }
}

void PassEnds(UninstallSession* s, UINT_PTR pass)
{
    ReportLine("%s pass: %lu objects in %lu ms", PassName(pass), static_cast<unsigned long>(g_pass.objects),
               static_cast<unsigned long>(GetTickCount() - g_pass.startedAt));
    HWND dialog = s->progressDialog;
    if (dialog == nullptr) {
        return;
    }
    int step = ChecklistStep(pass);
    if (step >= 0) {
        Send(dialog, PROGRESS_CHECK, step);
    }
    Sleep(PASS_END_PAUSE_MS);
}

} // namespace

char* FormatLockedText(const char* lockedText, const char* path)
{
    // The text is the product's: its first "%s" is the path, "%%" is a percent sign, and every other
    // '%' is shown as written (it is never a format).
    const char* text = lockedText != nullptr ? lockedText : "";
    const char* name = path != nullptr ? path : "unknown";
    std::string message;
    bool pathPlaced = false;
    for (const char* c = text; *c != '\0'; c++) {
        if (c[0] == '%' && c[1] == 's' && !pathPlaced) {
            message += name;
            pathPlaced = true;
            c++;
        } else if (c[0] == '%' && c[1] == '%') {
            message += '%';
            c++;
        } else {
            message += *c;
        }
    }
    return MemCopyText(message.c_str());
}

int FileInUse(UninstallSession* s, ObjectId file)
{
    HeapText path(GetObjectPath(file, 0, nullptr, 0));
    HeapText own(GetModulePath());
    if (path && own && StrCompareNoCase(path.get(), own.get()) == 0) {
        return 0; // the running program is not in the way
    }
    if (PlanMode()) {
        // A plan names every file in use, and goes on to show what the removal would do once they are free.
        NoteInUse(file);
        if (path) {
            GatePlanInUse(path.get());
        }
        s->flags |= SESSION_FILE_IN_USE;
        return 0;
    }
    HeapText message(FormatLockedText(s->lockedText, path ? path.get() : nullptr));
    if (s->progressDialog != nullptr && message) {
        UiMessageBox(s->progressDialog, message.get(), s->title, MB_OK | MB_ICONEXCLAMATION | MB_SYSTEMMODAL);
    }
    if (message) {
        ReportLine("%s", message.get());
    }
    s->flags |= SESSION_FILE_IN_USE;
    return CALLBACK_ABORT;
}

int WINAPI UninstallCallback(UINT_PTR context, UINT_PTR subject, UINT_PTR kind, UINT32 event, UINT_PTR code)
{
    UninstallSession* s = reinterpret_cast<UninstallSession*>(context);
    if (s == nullptr) {
        return CALLBACK_ABORT;
    }
    if (code == CODE_FILE_IN_USE && (s->progressDialog != nullptr || (s->flags & SESSION_QUIET) || PlanMode())) {
        return FileInUse(s, subject);
    }
    if (code != 0) {
        return 1;
    }
    switch (event) {
    case EVENT_PASS_BEGIN:
        PassBegins(s, subject, kind);
        return 1;
    case EVENT_OBJECT_DONE:
        ObjectDone(s, subject);
        return 1;
    case EVENT_PASS_END:
        PassEnds(s, kind);
        return 1;
    case EVENT_UNREGISTER_LIST:
        return RegisterServers(static_cast<ListHandle>(subject), nullptr, 0, 0) ? 0 : CALLBACK_ABORT;
    case EVENT_RUN_LIST:
        return RunObjectPrograms(static_cast<ListHandle>(subject), nullptr, 0, 0) ? 0 : CALLBACK_ABORT;
    case EVENT_QUERY:
        return AnswerQueryEvent(subject);
    case 0x200000:
        return 0;
    default:
        return 1;
    }
}
