// Parses generated scripts of 2,000 and 20,000 objects into fresh databases and walks every object
// with GetObjectLeafName and GetParentObject. The last line is the growth of the parse time from 2k
// to 20k objects: 10 for a parse whose cost per object does not grow with the script.
#include "kit/database_kit.h"
#include "script/object_text.h"

#include "bench_clock.h"

#include <stdio.h>
#include <windows.h>

#include <string>

namespace {

// A product of about n objects: a tree of folders with files (some shared, registered or grouped),
// registry keys with values, program items.
std::string MakeScript(int n)
{
    std::string s =
        "[SSCRIPT]\r\n_flags=_REMOVE;\r\n_dir=APPDIR /_TARGETPATH \"C:\\\\Program Files\\\\Maker\\\\App\";\r\n"
        "_regkey=APPKEY /_TARGETPATH \"Software\\\\Maker\\\\App\" /_SHAREKEY _DOUBLESHARING;\r\n";
    int made = 2, folder = 0;
    char line[512];
    while (made < n) {
        // One folder of twenty files, then one registry key with ten values.
        snprintf(line, sizeof(line), "_dir=DIR%d /_PARENT %s /_TARGETPATH \"sub %d\" /_REMOVABLE;\r\n", folder,
                 folder == 0 ? "APPDIR" : ("DIR" + std::to_string(folder / 2)).c_str(), folder);
        s += line;
        made++;
        for (int i = 0; i < 20 && made < n; i++, made++) {
            snprintf(line, sizeof(line),
                     "_file=F%d_%d /_PARENT DIR%d /_TARGETPATH \"file %d.dat\" /_SOURCE \"disk1\\\\f%d.dat\"%s%s;\r\n",
                     folder, i, folder, i, i, i % 5 == 0 ? " /_SHAREDDLL" : "",
                     i % 7 == 0 ? " /_GROUP \"Maker App\" \"Item\" /_REGISTER \"/s\"" : "");
            s += line;
        }
        snprintf(line, sizeof(line), "_regkey=K%d /_PARENT APPKEY /_TARGETPATH \"Key %d\";\r\n", folder, folder);
        s += line;
        made++;
        for (int i = 0; i < 10 && made < n; i++, made++) {
            snprintf(line, sizeof(line), "_regitem=V%d_%d /_PARENT K%d /_TARGETPATH Value%d /_CONTENTS \"%d\";\r\n",
                     folder, i, folder, i, i);
            s += line;
        }
        folder++;
    }
    return s;
}

struct Figures {
    double parse, walk;
    int objects;
};

Figures Measure(int n, int rounds)
{
    std::string script = MakeScript(n);
    Figures best = {1e9, 1e9, 0};
    for (int r = 0; r < rounds; r++) {
        DatabaseHandle db = CreateObjectDatabase("BENCH", "C:\\Source\\", TestProgressCallback);
        double t0 = BenchNow();
        ParseScript(db, script.data(), static_cast<UINT32>(script.size()));
        double t1 = BenchNow();
        ObjectDatabase* d = LockObjectDatabase(db);
        UINT_PTR v = 0;
        int objects = 0;
        char leaf[MAX_PATH];
        for (int ok = ListFirst(d->objects, &v, 0); ok; ok = ListNext(d->objects, v, &v, 0, 0)) {
            GetObjectLeafName(v, 0, leaf, sizeof(leaf));
            GetParentObject(v);
            objects++;
        }
        UnlockObjectDatabase(db);
        double t2 = BenchNow();
        CloseObjectDatabase(db);
        best.parse = t1 - t0 < best.parse ? t1 - t0 : best.parse;
        best.walk = t2 - t1 < best.walk ? t2 - t1 : best.walk;
        best.objects = objects;
    }
    return best;
}

} // namespace

int main()
{
    EngineScope engine;
    Figures small = Measure(2000, 5);
    Figures large = Measure(20000, 3);
    // A tenfold step beyond the caches, where the cost per object no longer depends on whether the
    // whole database fits in them.
    Figures huge = Measure(200000, 1);
    printf("script-2k:   %d objects  parse %.4f s  walk %.4f s\n", small.objects, small.parse, small.walk);
    printf("script-20k:  %d objects  parse %.4f s  walk %.4f s\n", large.objects, large.parse, large.walk);
    printf("script-200k: %d objects  parse %.4f s  walk %.4f s\n", huge.objects, huge.parse, huge.walk);
    printf("script-parse-growth-20k-200k: %.2f\n", huge.parse / large.parse);
    printf("script-walk-growth: %.2f\n", large.walk / small.walk);
    printf("script-parse-growth: %.2f\n", large.parse / small.parse);
    return 0;
}
