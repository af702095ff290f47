// The preparation's growth. A script of N objects (files in folders of 20, every third file "_DELETE",
// which the preparation drops) is prepared as phase 2 prepares it, for N = 20,000 and 200,000; the
// files are not on the disk, so each in-use test is one failed open. The last line is the ratio of the
// two times: 10 for a preparation linear in the objects, 100 for one that walks again after each drop.
#include "engine/prepare.h"
#include "kit/database_kit.h"
#include "support/startup.h"

#include "bench_clock.h"

#include <stdio.h>
#include <windows.h>

#include <string>

namespace {

const int FILES_PER_FOLDER = 20;
const int DROPPED_EVERY = 3;

std::string Script(int n)
{
    std::string script = "_dir=ROOT /_TARGETPATH \"C:\\\\uninst-bench-absent\" /_REMOVABLE;\r\n";
    for (int i = 0; i < n; i++) {
        std::string id = std::to_string(i);
        if (i % FILES_PER_FOLDER == 0) {
            script += "_dir=D" + id + " /_PARENT ROOT /_TARGETPATH d" + id + " /_REMOVABLE;\r\n";
            continue;
        }
        std::string folder = std::to_string(i - i % FILES_PER_FOLDER);
        script += "_file=F" + id + " /_PARENT D" + folder + " /_TARGETPATH f" + id + ".dat" +
                  (i % DROPPED_EVERY == 0 ? " /_DELETE" : " /_REMOVABLE") + ";\r\n";
    }
    return script;
}

// The preparation's time for n objects.
double Prepare(int n)
{
    TestDatabase db("BENCH");
    db.Parse(Script(n));
    double start = BenchNow();
    int count = PrepareRemoval(0, db.handle(), PREPARE_AGAIN | PREPARE_EXPAND | PREPARE_MASKS_FROM_TARGET);
    double time = BenchNow() - start;
    if (count < 0) {
        fprintf(stderr, "the preparation failed\n");
        return -1;
    }
    printf("prepare: %d objects %.3f s (%.2f us per object)\n", n, time, time / n * 1e6);
    return time;
}

} // namespace

int main()
{
    EngineScope engine;
    double small = Prepare(20000), large = Prepare(200000);
    if (small <= 0 || large <= 0) {
        return 1;
    }
    printf("prepare-growth: %.2f\n", large / small);
    return 0;
}
