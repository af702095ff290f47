#pragma once
// The mode choice of the program once the session is built: the sharing resynchronisation, the
// uninstall (phase 1, or phase 2 in the relocated copy), or the first followed by the second.
#include "app/session.h"

struct SessionModePlan {
    bool resync;           // run the sharing resynchronisation first
    const char* resyncKey; // the key that lists the products (may be null)
    UINT32 resyncKinds;    // SESSION_DLL_SHARING and/or SESSION_REG_SHARING
    bool uninstall;        // then run the uninstall phase
};

// What the session's flags ask for. A sharing word without a key path resynchronises over the key
// that holds this product's "REMOVE" value and then uninstalls; the relocated copy never resyncs.
SessionModePlan SessionPlanModes(const UninstallSession* session);

// Runs the plan: 1 when the uninstall phase did its part (or, for a resynchronisation alone, what
// the resynchronisation answered), else 0.
int SessionRun(UninstallSession* session);
