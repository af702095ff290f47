#include "support/report.h"

#include "support/guards.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace {

const size_t LINE_LIMIT = 4096;
HANDLE g_report = nullptr;

} // namespace

bool ReportOpen(const char* path)
{
    ReportClose();
    if (path == nullptr || path[0] == '\0') {
        return false;
    }
    // A read-only report stays as it is (the system refuses it anyway, except to an administrator of
    // some file systems, who should not get it either).
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
        return false;
    }
    // Appending only: every write lands at the end, also when both phases have the report open.
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    g_report = file;
    return true;
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
    memcpy(line + length, "\r\n", 2);
    DWORD written = 0;
    WriteFile(g_report, line, static_cast<DWORD>(length + 2), &written, nullptr);
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
