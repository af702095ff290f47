// The worker thread that runs the executor, and the calling thread's wait for it.
#include "engine/executor.h"

#include "engine/session.h"
#include "support/guards.h"

DWORD WINAPI UninstallWorkerMain(void* passMask)
{
    UninstallSession* s = CurrentSession;
    if (s == nullptr) {
        return 0;
    }
    UINT32 mask = static_cast<UINT32>(reinterpret_cast<UINT_PTR>(passMask));
    int result = ExecuteUninstall(reinterpret_cast<UINT_PTR>(s->progressDialog), s->database, mask,
                                  static_cast<DeferredRemoval*>(s->deferred));
    return result >= 0 ? 1 : 0;
}

DWORD RunUninstallWorker(UINT32 passMask)
{
    KernelHandle worker(CreateThread(nullptr, 0, UninstallWorkerMain,
                                     reinterpret_cast<void*>(static_cast<UINT_PTR>(passMask)), 0, nullptr));
    if (!worker) {
        return 0; // no worker, no removal: never reported as one
    }
    // The worker talks to the dialogs of this thread with SendMessageA and waits for each answer: every
    // message is dispatched as soon as it is there, and the wait ends as soon as the worker has.
    HANDLE handle = worker.get();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
        if (MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0) {
            break;
        }
    }
    DWORD exitCode = 0;
    GetExitCodeThread(handle, &exitCode);
    return exitCode;
}
