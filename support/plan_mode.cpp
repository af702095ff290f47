#include "support/plan_mode.h"

namespace {

// Set once, before any work begins, and only read afterwards.
bool g_planMode = false;

} // namespace

void PlanModeBegin()
{
    g_planMode = true;
}

bool PlanMode()
{
    return g_planMode;
}
