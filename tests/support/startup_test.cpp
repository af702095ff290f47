#include "support/startup.h"

#include "kit/testkit.h"

#include <objbase.h>

namespace {

// Whether COM is initialised on the calling thread, seen from outside: CoInitialize answers S_FALSE
// when it already was. The probe undoes its own call.
bool ComJoined()
{
    HRESULT hr = CoInitialize(nullptr);
    if (SUCCEEDED(hr)) {
        CoUninitialize();
    }
    return hr == S_FALSE;
}

} // namespace

TEST(EngineTest, StartupCountsAndTheLastShutdownTearsDown)
{
    EXPECT_EQ(EngineShutdown(), 0); // nothing started: nothing changes
    EXPECT_EQ(EngineDatabaseRegistry(), 0u);
    EXPECT_EQ(EngineDatabaseLock(), nullptr);
    EXPECT_FALSE(ComJoined());

    ASSERT_EQ(EngineStartup(), 1);
    ListHandle registry = EngineDatabaseRegistry();
    ASSERT_NE(registry, 0u);
    ASSERT_NE(EngineDatabaseLock(), nullptr);
    EXPECT_TRUE(ComJoined());
    EXPECT_EQ(ListSetByName(registry, "MAIN", 1), 1);

    ASSERT_EQ(EngineStartup(), 1);
    EXPECT_EQ(EngineDatabaseRegistry(), registry);
    EXPECT_EQ(EngineShutdown(), 0);
    EXPECT_EQ(EngineDatabaseRegistry(), registry);
    EXPECT_TRUE(ComJoined());
    EXPECT_EQ(EngineShutdown(), 1);
    EXPECT_EQ(EngineDatabaseRegistry(), 0u);
    EXPECT_EQ(ListCount(registry), 0u); // the list itself is gone
    EXPECT_FALSE(ComJoined());
    EXPECT_EQ(EngineShutdown(), 0);
}

TEST(EngineTest, ComIsJoinedOnceAndLeftOnTheLastReleaseOfItsOwnThread)
{
    ASSERT_EQ(ComAcquire(), 1);
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool checks[6] = {};
    // On a fresh thread, so that nothing else of the test program has touched COM there.
    HANDLE worker = StartThread([&] {
        checks[0] = ComRelease() == 0; // no use yet
        checks[1] = ComAcquire() == 1 && ComJoined();
        checks[2] = ComAcquire() == 1 && ComRelease() == 1 && ComJoined(); // one use left
        SetEvent(ready);
        WaitForSingleObject(go, 10000);
        checks[3] = ComRelease() == 1 && !ComJoined();
        checks[4] = ComRelease() == 0 && !ComJoined();
    });
    ASSERT_EQ(WaitForSingleObject(ready, 10000), WAIT_OBJECT_0);
    // This thread's release leaves the other thread's use alone, and the other way round.
    EXPECT_EQ(ComRelease(), 1);
    EXPECT_FALSE(ComJoined());
    SetEvent(go);
    ASSERT_TRUE(JoinThread(worker));
    for (int i = 0; i < 5; i++) {
        EXPECT_TRUE(checks[i]) << "check " << i;
    }
    EXPECT_EQ(ComRelease(), 0);
    CloseHandle(ready);
    CloseHandle(go);
}
