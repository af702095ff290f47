#pragma once
// The two-phase uninstall: phase 1 asks, checks and relocates the program; phase 2, in the relocated
// copy, removes the product. Non-zero when the chosen phase did its part.
#include "app/session.h"

int RunUninstall(UninstallSession* session);
