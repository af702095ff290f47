#include "support/report.h"

#include "support/guards.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace {

const size_t LINE_LIMIT = 4096;
HANDLE g_report = nullptr;

} // namespace

void ReportAttach(HANDLE file)
{
    ReportClose();
    g_report = file;
}

void ReportClose()
{
    if (g_report != nullptr) {
        CloseHandle(g_report);
        g_report = nullptr;
    }
}

bool ReportIsOpen()
{
    return g_report != nullptr;
}

void ReportLine(const char* format, ...)
{
    if (g_report == nullptr) {
        return;
    }
    char line[LINE_LIMIT + 3];
    va_list arguments;
    va_start(arguments, format);
    int n = vsnprintf(line, LINE_LIMIT + 1, format, arguments);
    va_end(arguments);
    if (n < 0) {
        return;
    }
    size_t length = static_cast<size_t>(n) < LINE_LIMIT ? static_cast<size_t>(n) : LINE_LIMIT;
    // A control character from a name or a text is written in caret notation ("^J" for a line feed), so
    // that nothing in a line can end it or make up a line of its own.
    char escaped[2 * LINE_LIMIT + 3];
    size_t out = 0;
    for (size_t i = 0; i < length; i++) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        if (c < 0x20 || c == 0x7F) {
            escaped[out++] = '^';
            escaped[out++] = c == 0x7F ? '?' : static_cast<char>(c + 0x40);
        } else {
            escaped[out++] = static_cast<char>(c);
        }
    }
    memcpy(escaped + out, "\r\n", 2);
    DWORD written = 0;
    WriteFile(g_report, escaped, static_cast<DWORD>(out + 2), &written, nullptr);
}

void ReportErrorText(DWORD error, char* buffer, DWORD size)
{
    if (size == 0) {
        return;
    }
    buffer[0] = '\0';
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, buffer,
                             size, nullptr);
    while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n' || buffer[n - 1] == ' ' || buffer[n - 1] == '.')) {
        buffer[--n] = '\0';
    }
    if (n == 0) {
        snprintf(buffer, size, "unknown error");
    }
}
