#pragma once
// The two-phase uninstall: phase 1 asks, checks and relocates the program; phase 2, in the relocated
// copy, removes the product. Non-zero when the chosen phase did its part.
#include "app/session.h"

int RunUninstall(UninstallSession* session);

// "/PLAN": phase 1's checks and preparation, then phase 2's removal with every object judged as the
// removal judges it and nothing changed; the report says what would go, stay or be refused and why, and
// the session's outcome is the one the removal would end with. 1 when the removal would remove everything.
int PlanUninstall(UninstallSession* session);
