#pragma once
// The removal report: a plain-text file (ANSI, CRLF lines) that both phases of an uninstall append to
// when the command line names one. Each line is written to the file at once, so a report survives a
// process that is killed. A report that cannot be opened is no report: nothing else changes.
#include <windows.h>

// Makes an open file (opened for appending; the report owns it from now on) the report.
void ReportAttach(HANDLE file);
void ReportClose();
bool ReportIsOpen();

// Appends one line made from a printf format (at most 4,096 characters; longer lines are cut). Control
// characters are written as "^" and a letter ("^J", "^M", "^?"), so a line is always one line.
void ReportLine(const char* format, ...);

// The system's message text for an error code, without its line end, into buffer.
void ReportErrorText(DWORD error, char* buffer, DWORD size);
