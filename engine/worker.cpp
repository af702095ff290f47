// The worker thread that runs the executor, and the calling thread's wait for it.
#include "engine/executor.h"

#include "support/guards.h"

namespace {

// What the worker is given: the session and the passes.
struct WorkerJob {
    UninstallSession* session;
    UINT32 passMask;
};

DWORD WINAPI UninstallWorkerMain(void* param)
{
    const WorkerJob* job = static_cast<const WorkerJob*>(param);
    UninstallSession* s = job->session;
    int result = ExecuteUninstall(reinterpret_cast<UINT_PTR>(s), s->database, job->passMask,
                                  static_cast<DeferredRemoval*>(s->deferred));
    return result >= 0 ? 1 : 0;
}

} // namespace

DWORD RunUninstallWorker(UninstallSession* session, UINT32 passMask)
{
    if (session == nullptr) {
        return 0;
    }
    WorkerJob job = {session, passMask}; // the thread is waited for before the job goes
    KernelHandle worker(CreateThread(nullptr, 0, UninstallWorkerMain, &job, 0, nullptr));
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
