#include "app/modes.h"

#include "app/driver.h"
#include "app/resync.h"

SessionModePlan SessionPlanModes(const UninstallSession* session)
{
    SessionModePlan plan = {};
    UINT32 flags = session->flags;
    bool phaseTwo = (flags & SESSION_PHASE_TWO) != 0;
    if ((flags & SESSION_SHARING) && !phaseTwo) {
        plan.resync = true;
        plan.resyncKey = (flags & SESSION_SHARING_PATH) ? session->sharingArgument : session->removeTarget;
        plan.resyncKinds = flags & SESSION_SHARING_KINDS;
    }
    plan.uninstall = phaseTwo || !(flags & SESSION_SHARING_PATH);
    return plan;
}

int SessionRun(UninstallSession* session)
{
    if (session->flags & SESSION_PLAN) {
        return PlanUninstall(session); // a plan changes nothing: the counts are not resynchronised either
    }
    SessionModePlan plan = SessionPlanModes(session);
    int result = 0;
    if (plan.resync) {
        result = ResyncSharing(session, plan.resyncKey, plan.resyncKinds);
    }
    if (plan.uninstall) {
        result = RunUninstall(session) != 0 ? 1 : 0;
    }
    return result;
}
