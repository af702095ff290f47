#include "app/handshake.h"

#include "app/relocation.h"

#include <stdio.h>
#include <string.h>

namespace {

const DWORD ANSWER_POLL_MS = 10;
const UINT32 OUTCOME_RECORD_MARK = 0x554E4F43; // "UNOC": an outcome was written

struct OutcomeRecord {
    UINT32 mark;
    UINT32 outcome;
};

void Name(char* out, size_t size, const char* base, DWORD phaseOneId)
{
    snprintf(out, size, "%s_%lu", base, static_cast<unsigned long>(phaseOneId));
}

// Serves this thread's windows (a broadcast must never wait for phase 1) until one of the handles is
// signalled or timeoutMs have passed; the WaitForMultipleObjects-style answer.
DWORD WaitServing(DWORD count, const HANDLE* handles, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        DWORD left = timeoutMs == INFINITE ? INFINITE : (elapsed >= timeoutMs ? 0 : timeoutMs - elapsed);
        DWORD r = MsgWaitForMultipleObjects(count, handles, FALSE, left, QS_ALLINPUT);
        if (r != WAIT_OBJECT_0 + count) {
            return r;
        }
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
    }
}

// The copy's answer: "SyncBack_<id>" exists. False when the copy ended first or the limit passed.
bool AwaitAnswer(Handshake* h, HANDLE copy, DWORD limitMs)
{
    char name[48];
    Name(name, sizeof(name), "SyncBack", GetCurrentProcessId());
    DWORD start = GetTickCount();
    for (;;) {
        h->syncBack.reset(OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name));
        if (h->syncBack) {
            return true;
        }
        if (GetTickCount() - start >= limitMs || WaitServing(1, &copy, ANSWER_POLL_MS) != WAIT_TIMEOUT) {
            return false;
        }
    }
}

} // namespace

bool HandshakeOffer(Handshake* h)
{
    char sync[48], result[48];
    Name(sync, sizeof(sync), "Sync", GetCurrentProcessId());
    Name(result, sizeof(result), "SyncResult", GetCurrentProcessId());
    // Only administrators, the system and this user reach them: the copy, which may run with a standard
    // user's rights, and nobody else.
    PSECURITY_DESCRIPTOR security = RelocationObjectSecurity();
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), security, FALSE};
    h->result.reset(
        CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0, sizeof(OutcomeRecord), result));
    bool made = h->result && GetLastError() != ERROR_ALREADY_EXISTS;
    if (made) {
        h->sync.reset(CreateMutexA(&attributes, TRUE, sync)); // owned until this process ends
        made = h->sync && GetLastError() != ERROR_ALREADY_EXISTS;
    }
    LocalFree(security);
    return made;
}

UninstallOutcome HandshakeAwaitOutcome(Handshake* h, HANDLE copy, DWORD answerLimitMs, const char** why)
{
    if (!AwaitAnswer(h, copy, answerLimitMs)) {
        *why = "the copy ended, or never answered, before it took over; nothing was removed";
        return OUTCOME_FAILED;
    }
    // The copy releases "SyncBack" once the outcome is written; one that ends without doing so
    // abandons it.
    HANDLE handles[2] = {h->syncBack.get(), copy};
    DWORD r = WaitServing(2, handles, INFINITE);
    if (r != WAIT_OBJECT_0) {
        *why = "the copy ended before it told the outcome of the removal";
        return OUTCOME_FAILED;
    }
    ReleaseMutex(h->syncBack.get());
    OutcomeRecord record = {};
    void* view = MapViewOfFile(h->result.get(), FILE_MAP_READ, 0, 0, sizeof(record));
    if (view != nullptr) {
        memcpy(&record, view, sizeof(record));
        UnmapViewOfFile(view);
    }
    if (record.mark != OUTCOME_RECORD_MARK || record.outcome > OUTCOME_REMOVED_AT_RESTART) {
        *why = "the copy told no outcome of the removal";
        return OUTCOME_FAILED;
    }
    return static_cast<UninstallOutcome>(record.outcome);
}

bool HandshakeJoin(Handshake* h, DWORD phaseOneId)
{
    char sync[48], syncBack[48], result[48];
    Name(sync, sizeof(sync), "Sync", phaseOneId);
    Name(syncBack, sizeof(syncBack), "SyncBack", phaseOneId);
    Name(result, sizeof(result), "SyncResult", phaseOneId);
    h->parent.reset(OpenProcess(SYNCHRONIZE, FALSE, phaseOneId));
    h->sync.reset(OpenMutexA(SYNCHRONIZE, FALSE, sync));
    h->result.reset(OpenFileMappingA(FILE_MAP_WRITE, FALSE, result));
    if (!h->parent || !h->sync || !h->result) {
        return false;
    }
    h->syncBack.reset(CreateMutexA(nullptr, TRUE, syncBack)); // tells phase 1 that the copy runs
    return h->syncBack && GetLastError() != ERROR_ALREADY_EXISTS;
}

bool HandshakeDeliver(Handshake* h, UninstallOutcome outcome, DWORD waitMs)
{
    OutcomeRecord record = {OUTCOME_RECORD_MARK, static_cast<UINT32>(outcome)};
    void* view = MapViewOfFile(h->result.get(), FILE_MAP_WRITE, 0, 0, sizeof(record));
    if (view != nullptr) {
        memcpy(view, &record, sizeof(record));
        UnmapViewOfFile(view);
    }
    ReleaseMutex(h->syncBack.get());
    HANDLE parent = h->parent.get();
    return parent != nullptr && WaitServing(1, &parent, waitMs) == WAIT_OBJECT_0;
}
