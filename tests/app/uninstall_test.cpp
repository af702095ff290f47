// The real uninstaller, both phases, on whole products staged in the prefix.
#include "kit/testkit.h"
#include "kit/uninstall_kit.h"

#include <gtest/gtest.h>

TEST(UninstallTest, KillRemovesTheWholeProductAndNothingElse)
{
    WholeProduct product;
    ASSERT_EQ(product.CheckUntouched(), "");
    UninstallRun run = RunUninstaller(product.program(), "/KILL");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.phaseOneExit, 1u);
    EXPECT_TRUE(run.phaseTwoSeen);
    EXPECT_EQ(run.phaseTwoExit, 1u);
    EXPECT_TRUE(run.sawFixup);
    EXPECT_TRUE(run.sawChecklist);
    for (size_t i = 0; i < run.messages.size(); i++) {
        printf("message %zu: style %x: %s\n", i, run.styles[i], run.messages[i].c_str());
    }
    EXPECT_EQ(product.CheckRemoved(), "");
}
