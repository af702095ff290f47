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
    EXPECT_FALSE(ComJoined());

    ASSERT_EQ(EngineStartup(), 1);
    ListHandle registry = EngineDatabaseRegistry();
    EXPECT_TRUE(ComJoined());

    ASSERT_EQ(EngineStartup(), 1);
    EXPECT_EQ(EngineDatabaseRegistry(), registry);
    EXPECT_EQ(EngineShutdown(), 0);
    EXPECT_TRUE(ComJoined());
    EXPECT_EQ(EngineShutdown(), 1);
    EXPECT_EQ(EngineDatabaseRegistry(), 0u);
    EXPECT_EQ(ListCount(registry), 0u); // the list itself is gone
    EXPECT_FALSE(ComJoined());
}
