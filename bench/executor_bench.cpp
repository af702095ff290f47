// The executor against the floor. For N = 2,000 and 20,000: a product of N files in N/20 folders and N/4
// registry values under one key is described by a script, prepared as phase 2 prepares it and removed
// by ExecuteUninstall with every pass, without a dialog; then the same tree is made again and removed
// by a bare loop of DeleteFileA, RemoveDirectoryA and RegDeleteValueA. The last line is the ratio of
// the marginal cost per object (the slope between the two sizes) of the executor to the floor's.
// With BENCH_PASSES set, the preparation and each pass print their own times (where the time goes);
// with BENCH_SMALL set, the larger size is 4,000 (a quick look).
#include "engine/executor.h"
#include "engine/prepare.h"
#include "kit/database_kit.h"
#include "kit/testkit.h"
#include "support/reg_keys.h"
#include "support/startup.h"

#include "bench_clock.h"

#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const int FILES_PER_FOLDER = 20;
const int FILES_PER_VALUE = 4;

struct Tree {
    std::vector<std::string> files, folders, values;
    std::string key;
};

// Makes the files, folders and values of a product of n files below root; the script that describes
// them goes to script.
Tree MakeProduct(const std::string& root, int n, std::string* script)
{
    Tree t;
    t.key = "Software\\UninstBench" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(root.c_str(), nullptr);
    *script = "_dir=ROOT /_TARGETPATH \"" + ScriptPath(root) + "\" /_REMOVABLE;\r\n";
    for (int d = 0; d < n / FILES_PER_FOLDER; d++) {
        std::string folder = root + "\\d" + std::to_string(d);
        CreateDirectoryA(folder.c_str(), nullptr);
        t.folders.push_back(folder);
        *script +=
            "_dir=D" + std::to_string(d) + " /_PARENT ROOT /_TARGETPATH d" + std::to_string(d) + " /_REMOVABLE;\r\n";
        for (int f = 0; f < FILES_PER_FOLDER; f++) {
            int i = d * FILES_PER_FOLDER + f;
            std::string file = folder + "\\f" + std::to_string(i) + ".dat";
            WriteFileBytes(file, "installed content");
            t.files.push_back(file);
            *script += "_file=F" + std::to_string(i) + " /_PARENT D" + std::to_string(d) + " /_TARGETPATH f" +
                       std::to_string(i) + ".dat /_REMOVABLE;\r\n";
        }
    }
    t.folders.push_back(root);
    HKEY key = CreateRegKey(HKEY_CURRENT_USER, t.key.c_str());
    *script += "_regkey=BKEY /_PARENT HKEY_USER_SOFTWARE /_TARGETPATH \"" + ScriptPath(t.key.substr(9)) +
               "\" /_REMOVABLE;\r\n";
    for (int v = 0; v < n / FILES_PER_VALUE; v++) {
        std::string name = "V" + std::to_string(v);
        SetRegString(key, name.c_str(), "value");
        t.values.push_back(name);
        *script += "_regitem=" + name + " /_PARENT BKEY /_REMOVABLE;\r\n";
    }
    CloseRegKey(key);
    return t;
}

bool Gone(const Tree& t)
{
    HKEY key = OpenRegKeyRead(HKEY_CURRENT_USER, t.key.c_str());
    CloseRegKey(key);
    return key == nullptr && GetFileAttributesA(t.folders.back().c_str()) == INVALID_FILE_ATTRIBUTES;
}

// The executor's time for a product of n files.
double Executor(const std::string& root, int n)
{
    std::string script;
    Tree t = MakeProduct(root, n, &script);
    TestDatabase db("BENCH");
    db.Parse(script);
    double start = BenchNow();
    PrepareRemoval(0, db.handle(), 0x3023);
    SetDatabaseFlags(db.handle(), DATABASE_PROCESSED, 1);
    int result = 0;
    if (getenv("BENCH_PASSES") != nullptr) {
        printf("  prepare %.3f\n", BenchNow() - start);
        const UINT32 passes[] = {PASS_QUERY,   PASS_COMPONENTS, PASS_GROUPS, PASS_FILES,
                                 PASS_FOLDERS, PASS_REGITEMS,   PASS_REGKEYS};
        for (UINT32 pass : passes) {
            double t = BenchNow();
            result |= ExecuteUninstall(0, db.handle(), pass);
            printf("  pass %x %.3f\n", pass, BenchNow() - t);
        }
    } else {
        result = ExecuteUninstall(0, db.handle(), ALL_PASSES);
    }
    double time = BenchNow() - start;
    if (result < 0 || !Gone(t)) {
        fprintf(stderr, "the executor did not remove the product (result %d)\n", result);
        exit(1);
    }
    return time;
}

// The bare loop's time for the same tree.
double Floor(const std::string& root, int n)
{
    std::string script;
    Tree t = MakeProduct(root, n, &script);
    double start = BenchNow();
    for (const std::string& f : t.files) {
        DeleteFileA(f.c_str());
    }
    for (const std::string& d : t.folders) {
        RemoveDirectoryA(d.c_str());
    }
    HKEY key = OpenRegKeyWrite(HKEY_CURRENT_USER, t.key.c_str());
    for (const std::string& v : t.values) {
        RegDeleteValueA(key, v.c_str());
    }
    CloseRegKey(key);
    RegDeleteKeyA(HKEY_CURRENT_USER, t.key.c_str());
    double time = BenchNow() - start;
    if (!Gone(t)) {
        fprintf(stderr, "the floor did not remove the product\n");
        exit(1);
    }
    return time;
}

} // namespace

int main()
{
    EngineScope engine;
    TestFolder scratch;
    const int small = 2000, large = getenv("BENCH_SMALL") != nullptr ? 4000 : 20000;
    // Each figure is the better of two runs, the floor and the executor taking turns.
    double executorSmall = 1e9, floorSmall = 1e9, executorLarge = 1e9, floorLarge = 1e9;
    for (int round = 0; round < 2; round++) {
        floorSmall = std::min(floorSmall, Floor(scratch / "product", small));
        executorSmall = std::min(executorSmall, Executor(scratch / "product", small));
        floorLarge = std::min(floorLarge, Floor(scratch / "product", large));
        executorLarge = std::min(executorLarge, Executor(scratch / "product", large));
    }
    printf("executor: %d files %.3f s, %d files %.3f s\n", small, executorSmall, large, executorLarge);
    printf("floor:    %d files %.3f s, %d files %.3f s\n", small, floorSmall, large, floorLarge);
    double objects = (large - small) * (1.0 + 1.0 / FILES_PER_FOLDER + 1.0 / FILES_PER_VALUE);
    printf("marginal cost per object: executor %.1f us, floor %.1f us\n",
           (executorLarge - executorSmall) / objects * 1e6, (floorLarge - floorSmall) / objects * 1e6);
    printf("executor-vs-floor: %.2f\n", (executorLarge - executorSmall) / (floorLarge - floorSmall));
    return 0;
}
