#pragma once
// The words for administrators: "/QUIET" (no window in either phase) and "/LOG" with a report path
// (both phases append what they did and why to one plain-text report), and the exit codes that
// deployment tools understand.
#include "engine/session.h"

// Exit codes with "/QUIET".
const int EXIT_QUIET_OK = 0;                 // everything removed
const int EXIT_QUIET_FAILED = 1603;          // the removal failed or was incomplete
const int EXIT_QUIET_NOT_INSTALLED = 1605;   // no installed product beside the program
const int EXIT_QUIET_ANOTHER_RUNNING = 1618; // another uninstall of the same product is running
const int EXIT_QUIET_RESTART_NEEDED = 3010;  // everything removed, but a file goes at the next restart

// True with "/QUIET": no window is shown.
bool Unattended(const UninstallSession* session);

// Shows a message of the uninstall with the session's title (unless quiet) and writes it to the report.
int ShowOrReport(const UninstallSession* session, const char* text, UINT style);

// Phase 2's command line: phase 1's process id, the configuration folder in double quotes, then the
// administrator's words; a new heap text, or null.
char* PhaseTwoArguments(const UninstallSession* session);

// The report's first lines for this process: the program and its version, the phase, the process id,
// the local time and the command line. Opens the report that "/LOG" names; nothing without one.
void ReportStart(const UninstallSession* session, const char* commandLine);

// The product's line: its title, version and configuration file.
void ReportProduct(const UninstallSession* session);

// The exit code an outcome maps to with "/QUIET".
int UnattendedExitCode(UINT32 outcome, int result);

// "/PLAN" without "/LOG": the plan goes to this file of the temporary directory.
const char PLAN_FILE_NAME[] = "UninstPlan.log";

// The exit code of the process: with "/QUIET" (or for a plan) the one its outcome maps to, else result
// as it stands. Written to the report as its last line, with the outcome; the report is closed.
int FinishRun(UninstallSession* session, int result);
