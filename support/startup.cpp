#include "support/startup.h"

#include <objbase.h>

namespace {

// Guards are plain interlocked words (-1 free): the taker of a guard sees 0 after its increment.
volatile LONG g_engineGuard = -1;
UINT32 g_engineCount = 0;
ListHandle g_databaseRegistry = 0;
CRITICAL_SECTION g_databaseLock;

volatile LONG g_comGuard = -1;
ListHandle g_comThreads = 0; // one item per thread: key and value are the thread id
UINT32 g_comCount = 0;

// The engine guard is a busy spin: its holder never waits for another thread.
void TakeEngineGuard()
{
    while (InterlockedIncrement(&g_engineGuard) != 0) {
        InterlockedDecrement(&g_engineGuard);
    }
}

void TakeComGuard()
{
    while (InterlockedIncrement(&g_comGuard) != 0) {
        InterlockedDecrement(&g_comGuard);
        Sleep(5);
    }
}

} // namespace

int EngineStartup()
{
    TakeEngineGuard();
    int result = 0;
    if (g_databaseRegistry == 0) {
        g_databaseRegistry = ListCreate();
        if (g_databaseRegistry != 0) {
            if (ComAcquire()) {
                InitializeCriticalSection(&g_databaseLock);
                g_engineCount++;
                result = 1;
            } else {
                ListDestroy(g_databaseRegistry);
                g_databaseRegistry = 0;
            }
        }
    } else if (ComAcquire()) {
        g_engineCount++;
        result = 1;
    }
    InterlockedDecrement(&g_engineGuard);
    return result;
}

int EngineShutdown()
{
    TakeEngineGuard();
    int result = 0;
    if (g_databaseRegistry != 0) {
        g_engineCount--;
        ComRelease();
        if (g_engineCount == 0) {
            ListDestroy(g_databaseRegistry);
            g_databaseRegistry = 0;
            DeleteCriticalSection(&g_databaseLock);
            result = 1;
        }
    }
    InterlockedDecrement(&g_engineGuard);
    return result;
}

ListHandle EngineDatabaseRegistry()
{
    return g_databaseRegistry;
}

CRITICAL_SECTION* EngineDatabaseLock()
{
    return g_databaseRegistry != 0 ? &g_databaseLock : nullptr;
}

int ComAcquire()
{
    TakeComGuard();
    int result = 0;
    if (g_comThreads == 0) {
        g_comThreads = ListCreate();
    }
    if (g_comThreads != 0) {
        UINT_PTR thread = GetCurrentThreadId();
        UINT32 uses = ListUseCount(g_comThreads, thread);
        bool joined = true;
        if (uses == 0) {
            HRESULT hr = CoInitialize(nullptr);
            joined = hr == S_OK || hr == S_FALSE;
        }
        if (joined) {
            if (ListSetByKey(g_comThreads, thread, thread, 0)) {
                g_comCount++;
                result = 1;
            } else if (uses == 0) {
                CoUninitialize();
            }
        }
        if (g_comCount == 0) {
            ListDestroy(g_comThreads);
            g_comThreads = 0;
        }
    }
    InterlockedDecrement(&g_comGuard);
    return result;
}

int ComRelease()
{
    TakeComGuard();
    int result = 0;
    if (g_comThreads != 0) {
        UINT_PTR thread = GetCurrentThreadId();
        UINT32 uses = ListUseCount(g_comThreads, thread);
        if (uses != 0 && ListRemoveByKey(g_comThreads, thread)) {
            g_comCount--;
            if (uses == 1) {
                CoUninitialize();
            }
            result = 1;
        }
        if (g_comCount == 0) {
            ListDestroy(g_comThreads);
            g_comThreads = 0;
        }
    }
    InterlockedDecrement(&g_comGuard);
    return result;
}
