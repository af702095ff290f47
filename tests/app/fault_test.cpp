// Each phase ended by force at each point of the handshake and of the removal, each point found from
// outside as a watcher finds it; afterwards nothing outside the product and nothing another product
// still counts is gone, and a second run finishes the removal.
#include "kit/testkit.h"
#include "kit/uninstall_kit.h"
#include "ui/resource.h"

#include <gtest/gtest.h>

namespace {

const int BULK_FILES = 1500;

struct FaultPoint {
    const char* what;
    bool phaseTwo; // the process ended: phase 2, else phase 1
    // Whether the point is reached, from what the watcher sees and the product's files.
    std::function<bool(const RunView&, const WholeProduct&)> reached;
    bool secondRunNeeded; // false: the run goes on without the phase that was ended, to the end
};

bool SyncBackExists()
{
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, "SyncBack");
    if (mutex != nullptr) {
        CloseHandle(mutex);
    }
    return mutex != nullptr;
}

bool StepChecked(const RunView& view, int step)
{
    return view.checklist != nullptr && IsWindowVisible(GetDlgItem(view.checklist, IDC_CHECK_FIRST + step));
}

void RunFaults(const std::vector<FaultPoint>& points)
{
    for (const FaultPoint& point : points) {
        SCOPED_TRACE(point.what);
        WholeProductSpec spec;
        spec.bulkFiles = BULK_FILES;
        WholeProduct product(spec);
        bool ended = false;
        auto stopAt = [&](const RunView& view) -> HANDLE {
            if (ended || !point.reached(view, product)) {
                return nullptr;
            }
            ended = true;
            return point.phaseTwo ? view.phaseTwo : view.phaseOne;
        };
        UninstallRun run = RunUninstaller(product.program(), "/KILL", true, stopAt);
        ASSERT_TRUE(ended) << "the point was never reached";

        // Whatever the point: nothing of another product is gone, and the file another product still
        // counts stays with its count.
        for (const std::string& p : product.ForeignPaths()) {
            EXPECT_TRUE(PathExists(p)) << p;
        }
        EXPECT_TRUE(PathExists(product.folder() + "bin\\common.dll"));
        EXPECT_GE(product.SharedCount("bin\\common.dll"), 1u);
        size_t left = 0;
        for (const std::string& p : product.ProductPaths()) {
            left += PathExists(p) ? 1 : 0;
        }
        printf("[ POINT    ] %s: phase 1 exit %lu, phase 2 exit %lu; %zu of %zu product paths left, Uninstall key %s, "
               "common.dll counted %lu\n",
               point.what, run.phaseOneExit, run.phaseTwoExit, left, product.ProductPaths().size(),
               product.CheckRemoved().find("Uninstall key stays") != std::string::npos ? "kept" : "gone",
               product.SharedCount("bin\\common.dll"));
        if (point.secondRunNeeded) {
            ASSERT_TRUE(PathExists(product.program())) << "no program left for a second run";
            UninstallRun second = RunUninstaller(product.program(), "/KILL");
            EXPECT_EQ(second.phaseTwoExit, 1u);
        }
        EXPECT_EQ(product.CheckRemoved(), "");
    }
}

} // namespace

TEST(FaultTest, PhaseOneEndedAtEachPointOfTheHandshake)
{
    RunFaults({
        {"phase 1 behind the Fixing UP dialog", false,
         [](const RunView& view, const WholeProduct&) { return view.fixup != nullptr; }, true},
        // The copy runs on: the abandoned "Sync" lets it go on at once.
        {"phase 1 once the copy answered with SyncBack", false,
         [](const RunView& view, const WholeProduct&) { return view.phaseTwo != nullptr && SyncBackExists(); }, false},
    });
}

TEST(FaultTest, PhaseTwoEndedAtEachPointOfTheRemoval)
{
    RunFaults({
        {"phase 2 as soon as it exists", true,
         [](const RunView& view, const WholeProduct&) { return view.phaseTwo != nullptr; }, true},
        {"phase 2 when the checklist shows", true,
         [](const RunView& view, const WholeProduct&) { return view.checklist != nullptr; }, true},
        {"phase 2 after the components pass", true,
         [](const RunView& view, const WholeProduct&) { return StepChecked(view, 0); }, true},
        {"phase 2 half-way through the files pass", true,
         [](const RunView&, const WholeProduct& p) {
             return !PathExists(p.folder() + "bulk\\f" + std::to_string(BULK_FILES / 2) + ".dat");
         },
         true},
    });
}
