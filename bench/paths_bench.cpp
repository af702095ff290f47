// A database of file objects under a directory tree of depth 6, parsed from a generated script; every
// object's full path is built and a typical contents text expanded. The last line is the growth of
// that work from 2,000 to 20,000 objects.
#include "bench_clock.h"
#include "kit/database_kit.h"
#include "script/text_expansion.h"
#include "script/object_text.h"
#include "support/memory.h"

#include <stdio.h>

#include <string>
#include <vector>

namespace {

std::string MakeScript(int files)
{
    std::string s = "[SSCRIPT]\r\n_dir=D0 /_TARGETPATH \"(PROGFILES)Maker\\\\App\";\r\n";
    char line[512];
    // A tree of depth 6: each level has four folders below every folder of the level above, up to
    // 1,365 folders; files are spread over the deepest level.
    std::vector<std::string> level = {"D0"}, deepest;
    int made = 0;
    for (int depth = 1; depth <= 6 && made < files / 8; depth++) {
        std::vector<std::string> next;
        for (const std::string& parent : level) {
            for (int k = 0; k < 4 && made < files / 8; k++) {
                std::string name = parent + "_" + std::to_string(k);
                snprintf(line, sizeof(line), "_dir=%s /_PARENT %s /_TARGETPATH \"level %d-%d\";\r\n", name.c_str(),
                         parent.c_str(), depth, k);
                s += line;
                next.push_back(name);
                made++;
            }
        }
        deepest = next;
        level = next;
    }
    for (int i = 0; i < files; i++) {
        snprintf(line, sizeof(line),
                 "_file=F%d /_PARENT %s /_TARGETPATH \"file %d.dll\" /_CONTENTS \"(OBJECTDIR SELF)readme.txt for "
                 "OBJECTFILE SELF in (WINDIR)system32\";\r\n",
                 i, deepest[static_cast<size_t>(i) % deepest.size()].c_str(), i);
        s += line;
    }
    return s;
}

double Measure(int files, int rounds, size_t* checked)
{
    std::string script = MakeScript(files);
    DatabaseHandle db = CreateObjectDatabase("PATHS", "C:\\Source\\", TestProgressCallback);
    ParseScript(db, script.data(), static_cast<UINT32>(script.size()));
    std::vector<ObjectId> ids;
    for (int i = 0; i < files; i++) {
        ids.push_back(FindObjectByName(db, ("F" + std::to_string(i)).c_str()));
    }
    double best = 1e9;
    for (int r = 0; r < rounds; r++) {
        size_t total = 0;
        double t0 = BenchNow();
        for (ObjectId id : ids) {
            char* path = GetObjectPath(id, 0, nullptr, 0);
            char* text = GetObjectContentsText(id, nullptr, 0);
            total += (path != nullptr ? strlen(path) : 0) + (text != nullptr ? strlen(text) : 0);
            FreeObjectText(path);
            FreeObjectText(text);
        }
        double t = BenchNow() - t0;
        best = t < best ? t : best;
        *checked = total;
    }
    CloseObjectDatabase(db);
    return best;
}

} // namespace

int main()
{
    EngineScope engine;
    size_t smallChars = 0, largeChars = 0;
    double small = Measure(2000, 5, &smallChars);
    double large = Measure(20000, 3, &largeChars);
    printf("paths-2k:  %.4f s (%zu characters of paths and texts)\n", small, smallChars);
    printf("paths-20k: %.4f s (%zu characters of paths and texts)\n", large, largeChars);
    printf("paths-growth: %.2f\n", large / small);
    return 0;
}
