#pragma once
// A removal plan: the whole removal is walked and every deletion judged as the removal judges it, but
// nothing on the machine is changed (no file, folder, registry value or key, count, restart entry,
// process or library). Each layer that would change something asks PlanMode() first; once switched on,
// the mode lasts until the process ends.

void PlanModeBegin();
bool PlanMode();
