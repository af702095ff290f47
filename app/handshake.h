#pragma once
// The hand-over between the two phases of one uninstall. Whoever started the uninstaller (Add/Remove
// Programs, a deployment tool, a script) waits for phase 1 alone and reads its exit code, so phase 1
// stays until phase 2 has removed the product and tells it the outcome:
//
//   1. phase 1 makes "Sync_<id>" (owned, abandoned when it ends) and "SyncResult_<id>" (the outcome's
//      place), <id> being its process id, and starts the copy with that id on its command line;
//   2. phase 2 opens both, makes "SyncBack_<id>" owned (its appearance tells phase 1 that the copy
//      runs) and removes the product;
//   3. phase 2 writes the outcome and releases "SyncBack_<id>"; phase 1 takes it, reads the outcome and
//      ends with it; phase 2, once phase 1 has ended, deletes the program phase 1 ran from.
//
// The names carry phase 1's id, so two uninstalls at once never meet. A phase 2 that ends without
// writing an outcome abandons "SyncBack_<id>", which phase 1 takes as a failure; a phase 1 that ends
// early abandons "Sync_<id>" and phase 2 goes on alone.
#include "engine/session.h"
#include "support/guards.h"

struct Handshake {
    KernelHandle sync;     // "Sync_<id>"
    KernelHandle syncBack; // "SyncBack_<id>"
    KernelHandle result;   // "SyncResult_<id>": a file mapping of the outcome
    KernelHandle parent;   // phase 2: phase 1's process
};

// Phase 1, before the copy is started: false when the named objects cannot be made here (or already
// exist: another program made them).
bool HandshakeOffer(Handshake* h);

// Phase 1, the copy started: waits for its answer while it lives (at most answerLimitMs), then for the
// outcome of the removal, however long that takes, keeping this thread's windows served. The outcome,
// or OUTCOME_FAILED with *why telling why.
UninstallOutcome HandshakeAwaitOutcome(Handshake* h, HANDLE copy, DWORD answerLimitMs, const char** why);

// Phase 2: joins phase 1 of this uninstall (its id from the command line) and tells it that the copy
// runs. False when there is no such phase 1 waiting.
bool HandshakeJoin(Handshake* h, DWORD phaseOneId);

// Phase 2: hands phase 1 the outcome of the removal, and waits (at most waitMs) for it to end. True
// when it has ended.
bool HandshakeDeliver(Handshake* h, UninstallOutcome outcome, DWORD waitMs);
