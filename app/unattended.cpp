#include "app/unattended.h"

#include "support/guards.h"
#include "support/report.h"
#include "system/deletion_gate.h"
#include "ui/dialogs.h"

#include <stdio.h>
#include <string.h>

namespace {

// The program's file version from its own version resource ("?" without one).
void ProgramVersion(char* text, size_t size)
{
    snprintf(text, size, "?");
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(VS_VERSION_INFO), MAKEINTRESOURCEA(16)); // RT_VERSION
    HGLOBAL loaded = found != nullptr ? LoadResource(nullptr, found) : nullptr;
    const BYTE* data = loaded != nullptr ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    DWORD resourceSize = found != nullptr ? SizeofResource(nullptr, found) : 0;
    for (DWORD at = 0; data != nullptr && at + sizeof(VS_FIXEDFILEINFO) <= resourceSize; at += 4) {
        VS_FIXEDFILEINFO info;
        memcpy(&info, data + at, sizeof(info));
        if (info.dwSignature == 0xFEEF04BD) {
            snprintf(text, size, "%d.%d.%d.%d", HIWORD(info.dwFileVersionMS), LOWORD(info.dwFileVersionMS),
                     HIWORD(info.dwFileVersionLS), LOWORD(info.dwFileVersionLS));
            return;
        }
    }
}

const char* OutcomeText(UINT32 outcome)
{
    switch (outcome) {
    case OUTCOME_DECLINED:
        return "declined by the user";
    case OUTCOME_FAILED:
        return "failed or incomplete";
    case OUTCOME_ANOTHER_RUNNING:
        return "another uninstall of the product is running";
    case OUTCOME_REMOVED:
        return "everything removed";
    case OUTCOME_REMOVED_AT_RESTART:
        return "everything removed, a restart completes it";
    case OUTCOME_NOT_INSTALLED:
        return "no installed product found";
    default:
        return "no uninstall";
    }
}

} // namespace

int UnattendedExitCode(UINT32 outcome, int result)
{
    switch (outcome) {
    case OUTCOME_NONE:
        return result;
    case OUTCOME_REMOVED:
        return EXIT_QUIET_OK;
    case OUTCOME_ANOTHER_RUNNING:
        return EXIT_QUIET_ANOTHER_RUNNING;
    case OUTCOME_REMOVED_AT_RESTART:
        return EXIT_QUIET_RESTART_NEEDED;
    case OUTCOME_NOT_INSTALLED:
        return EXIT_QUIET_NOT_INSTALLED;
    default:
        return EXIT_QUIET_FAILED;
    }
}

bool Unattended(const UninstallSession* session)
{
    return (session->flags & SESSION_QUIET) != 0;
}

int ShowOrReport(const UninstallSession* session, const char* text, UINT style)
{
    if (ReportIsOpen()) {
        // One report line: the message's line ends become blanks.
        char line[SESSION_TEXT_SIZE];
        lstrcpynA(line, text, sizeof(line));
        for (char* c = line; *c != '\0'; c++) {
            *c = (*c == '\r' || *c == '\n') ? ' ' : *c;
        }
        ReportLine("message: %s", line);
    }
    if (Unattended(session)) {
        return IDOK;
    }
    return UiMessageBox(nullptr, text, session->title, style);
}

char* PhaseTwoArguments(const UninstallSession* session)
{
    const char* dir = session->configDir != nullptr ? session->configDir : "";
    const char* log = session->logPath;
    size_t size = (strlen(dir) + (log != nullptr ? strlen(log) : 0) + MAX_PATH) & ~static_cast<size_t>(3);
    HeapText text(static_cast<char*>(MemAlloc(size)));
    if (!text) {
        return nullptr;
    }
    int n = snprintf(text.get(), size, "%lu \"%s\"%s", static_cast<unsigned long>(GetCurrentProcessId()), dir,
                     Unattended(session) ? " /QUIET" : "");
    if (n > 0 && log != nullptr && static_cast<size_t>(n) < size) {
        snprintf(text.get() + n, size - static_cast<size_t>(n), " /LOG \"%s\"", log);
    }
    return text.release();
}

void ReportStart(const UninstallSession* session, const char* commandLine)
{
    // The report is written with the uninstaller's rights: the gate opens only a plain file reached
    // without links, never a device.
    GateVerdict refused = GATE_ALLOWED;
    HANDLE file = session->logPath != nullptr ? GateOpenForAppend(session->logPath, &refused) : nullptr;
    if (file == nullptr) {
        return;
    }
    ReportAttach(file);
    char version[32];
    ProgramVersion(version, sizeof(version));
    SYSTEMTIME now;
    GetLocalTime(&now);
    ReportLine("");
    ReportLine("Uninst %s: phase %d, process %lu, started %04u-%02u-%02u %02u:%02u:%02u", version,
               (session->flags & SESSION_PHASE_TWO) ? 2 : 1, static_cast<unsigned long>(GetCurrentProcessId()),
               now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
    ReportLine("command line: %s", commandLine != nullptr ? commandLine : "");
}

void ReportProduct(const UninstallSession* session)
{
    ReportLine("product: %s, version %s, configuration %s", session->title, session->version,
               session->configFile != nullptr ? session->configFile : "(none)");
}

int FinishRun(UninstallSession* session, int result)
{
    bool plan = (session->flags & SESSION_PLAN) != 0;
    int code = Unattended(session) || plan ? UnattendedExitCode(session->outcome, result) : result;
    ReportLine("%s: %s, exit code %d", plan ? "result the removal would have" : "result", OutcomeText(session->outcome),
               code);
    ReportClose();
    return code;
}
