#include "app/unattended.h"

#include "support/guards.h"
#include "support/report.h"
#include "ui/dialogs.h"

#include <stdio.h>
#include <string.h>

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
