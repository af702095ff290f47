// Each phase ended by force at each point of the handshake and of the removal, each point found from
// outside as a watcher finds it; afterwards nothing outside the product and nothing another product
// still counts is gone, phase 1 never told its caller of a success it did not have, and the removal is
// finished: by the phase that went on alone, by a second run, or (for the program phase 1 ran from) at
// the next restart.
#include "kit/uninstall_kit.h"
#include "ui/resource.h"

#include <tlhelp32.h>

namespace {

const int BULK_FILES = 1500;

// What the run leaves once the point was reached.
enum Afterwards {
    SECOND_RUN_NEEDED,  // a second run of the product's uninstaller finishes the removal
    REMOVED_ANYWAY,     // the phase that goes on alone removes everything
    PROGRAM_AT_RESTART, // everything went but the program phase 1 ran from and its folder: they go at the restart
};

struct FaultPoint {
    const char* what;
    bool phaseTwo; // the process ended: phase 2, else phase 1
    // Whether the point is reached, from what the watcher sees and the product's files; null: at the
    // final message.
    std::function<bool(const RunView&, const WholeProduct&)> reached;
    Afterwards afterwards;
};

bool SyncBackExists(const RunView& view)
{
    std::string name = "SyncBack_" + std::to_string(GetProcessId(view.phaseOne));
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
    if (mutex != nullptr) {
        CloseHandle(mutex);
    }
    return mutex != nullptr;
}

// Whether a process runs its own code: the loader has brought in kernel32. Before that it may still be
// suspended or in the system's start-up of it, which Wine does not always end cleanly by force.
bool RunsItsOwnCode(HANDLE process)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetProcessId(process));
    if (snapshot == INVALID_HANDLE_VALUE) {
        return false;
    }
    MODULEENTRY32 module;
    module.dwSize = sizeof(module);
    bool loaded = false;
    for (BOOL ok = Module32First(snapshot, &module); ok && !loaded; ok = Module32Next(snapshot, &module)) {
        loaded = lstrcmpiA(module.szModule, "kernel32.dll") == 0;
    }
    CloseHandle(snapshot);
    return loaded;
}

bool StepChecked(const RunView& view, int step)
{
    return view.checklist != nullptr && IsWindowVisible(GetDlgItem(view.checklist, IDC_CHECK_FIRST + step));
}

void RunFaults(const std::vector<FaultPoint>& points)
{
    for (const FaultPoint& point : points) {
        SCOPED_TRACE(point.what);
        printf("fault point: %s\n", point.what); // shown when the test runs out of time
        WholeProductSpec spec;
        spec.bulkFiles = BULK_FILES;
        // Where only the program waits at the end, nothing else stays, so its folder waits with it.
        spec.commonCountedElsewhere = point.afterwards != PROGRAM_AT_RESTART;
        WholeProduct product(spec);
        bool ended = false;
        HANDLE phaseTwo = nullptr;
        auto stopAt = [&](const RunView& view) -> HANDLE {
            phaseTwo = view.phaseTwo;
            if (ended || !point.reached || !point.reached(view, product)) {
                return nullptr;
            }
            ended = true;
            return point.phaseTwo ? view.phaseTwo : view.phaseOne;
        };
        auto atMessage = [&](HWND) {
            if (!point.reached && !ended) {
                ended = TerminateProcess(phaseTwo, 99) && WaitForSingleObject(phaseTwo, 5000) == WAIT_OBJECT_0;
            }
        };
        UninstallRun run = RunUninstaller(product.program(), "/KILL", true, stopAt, LOADED_MACHINE_WAIT_MS, atMessage);
        ASSERT_TRUE(ended) << "the point was never reached";
        // A phase 2 that ended before it told the outcome is never a success to phase 1's caller.
        if (point.phaseTwo) {
            EXPECT_EQ(run.phaseOneExit, 0u);
        }
        // Whatever the point: nothing of another product is gone, and the file another product still
        // counts stays with its count.
        for (const std::string& p : product.ForeignPaths()) {
            EXPECT_TRUE(PathExists(p)) << p;
        }
        if (spec.commonCountedElsewhere) {
            EXPECT_TRUE(PathExists(product.folder() + "bin\\common.dll"));
            EXPECT_GE(product.SharedCount("bin\\common.dll"), 1u);
        }
        if (point.afterwards == SECOND_RUN_NEEDED) {
            ASSERT_TRUE(PathExists(product.program())) << "no program left for a second run";
            UninstallRun second = RunUninstaller(product.program(), "/KILL");
            EXPECT_EQ(second.phaseOneExit, 1u);
            EXPECT_EQ(second.phaseTwoExit, 1u);
        }
        if (point.afterwards == PROGRAM_AT_RESTART) {
            EXPECT_GE(ScheduledForRestart(product.program()), 0);
            // The folder that holds only the program goes after it, or it could not go at all.
            EXPECT_GT(ScheduledForRestart(product.folder()), ScheduledForRestart(product.program()));
            EXPECT_EQ(product.CheckRemoved(),
                      product.program() + " still exists; " + product.folder() + " still exists; ");
        } else {
            EXPECT_EQ(product.CheckRemoved(), "");
        }
    }
}

} // namespace

TEST(FaultTest, PhaseOneEndedAtEachPointOfTheHandshake)
{
    RunFaults({
        {"phase 1 behind the Fixing UP dialog", false,
         [](const RunView& view, const WholeProduct&) { return view.fixup != nullptr; }, SECOND_RUN_NEEDED},
        // The copy goes on alone, and deletes the program phase 1 ran from at once.
        {"phase 1 once the copy answered", false,
         [](const RunView& view, const WholeProduct&) { return view.phaseTwo != nullptr && SyncBackExists(view); },
         REMOVED_ANYWAY},
        {"phase 1 while the copy removes the product", false,
         [](const RunView& view, const WholeProduct&) { return view.checklist != nullptr; }, REMOVED_ANYWAY},
    });
}

TEST(FaultTest, PhaseTwoEndedAtEachPointOfTheRemoval)
{
    RunFaults({
        {"phase 2 as soon as it runs", true,
         [](const RunView& view, const WholeProduct&) {
             return view.phaseTwo != nullptr && RunsItsOwnCode(view.phaseTwo);
         },
         SECOND_RUN_NEEDED},
        {"phase 2 when the checklist shows", true,
         [](const RunView& view, const WholeProduct&) { return view.checklist != nullptr; }, SECOND_RUN_NEEDED},
        {"phase 2 after the components pass", true,
         [](const RunView& view, const WholeProduct&) { return StepChecked(view, 0); }, SECOND_RUN_NEEDED},
        {"phase 2 half-way through the files pass", true,
         [](const RunView&, const WholeProduct& p) {
             return !PathExists(p.folder() + "bulk\\f" + std::to_string(BULK_FILES / 2) + ".dat");
         },
         SECOND_RUN_NEEDED},
        // Everything went but what waits for phase 1: it goes at the next restart.
        {"phase 2 at its final message, before it told phase 1 the outcome", true, nullptr, PROGRAM_AT_RESTART},
    });
}
