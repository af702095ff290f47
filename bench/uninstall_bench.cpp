// The whole uninstall against the floor. For N = 2,000 and 20,000: a product of N files in N/20 folders,
// N/4 registry values and 20 shortcuts in a Start-menu group is staged, and the real program removes it
// with "/QUIET", started as a caller starts it: the benchmark waits until the last process of the
// program's tree has ended (phase 1 waits for the whole removal, phase 2 then deletes the program
// phase 1 ran from), looking at the count of its job's processes every few milliseconds, so that the
// watch costs the program nothing. Then the same payload is staged again and removed by a bare loop of
// DeleteFileA, RemoveDirectoryA and RegDeleteValueA. The last line is the ratio of the marginal cost per
// object (the slope between the two sizes) of the program to the floor's; the fixed pauses of the
// program (the handshake, start-up) do not grow with N and fall out of the slope. The line before it
// compares with a floor that also makes phase 1's in-use test (an open and a close of every file).
#include "kit/product_kit.h"
#include "kit/testkit.h"
#include "support/reg_keys.h"

#include "bench_clock.h"

#include <shlobj.h>
#include <stdio.h>
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

const int FILES_PER_FOLDER = 20;
const int FEW_FILES_PER_FOLDER = 4; // the folder-heavy shape
const int FILES_PER_VALUE = 4;
const int SHORTCUTS = 20;
const int MANY_SHORTCUTS = 80;

// The shape of a payload: files per folder and shortcuts.
struct Shape {
    int filesPerFolder = FILES_PER_FOLDER;
    int shortcuts = SHORTCUTS;
};

struct Payload {
    std::unique_ptr<ProductStage> stage;
    std::vector<std::string> files, folders, values, links;
    std::string key, group;
};

// The product: its files, folders, values and shortcuts on the machine and in its script.
std::unique_ptr<Payload> Stage(int n, Shape shape = Shape())
{
    const int perFolder = shape.filesPerFolder, shortcuts = shape.shortcuts;
    std::unique_ptr<Payload> p(new Payload);
    std::string script =
        "_regkey=PARENT_HKEY /_REMOVABLE;\r\n_regkey=PROJECT_HKEY /_REMOVABLE;\r\n"
        "_regkey=PRODUCT_HKEY /_REMOVABLE /_KILLCHILDREN;\r\n"
        "_dir=APPDIR /_TARGETPATH \"%FOLDER%\" /_REMOVABLE;\r\n"
        "_file=UNINST /_PARENT APPDIR /_TARGETPATH Uninst.exe /_REMOVABLE /_UNINSTALL \"%VENDOR%\" x;\r\n"
        "_file=CONFIG /_PARENT APPDIR /_TARGETPATH Struct.cfg /_REMOVABLE;\r\n"
        "_group=PGROUP /_PARENT USERSTARTGROUPS /_TARGETPATH \"%VENDOR%\" /_REMOVABLE;\r\n"
        "_regkey=BKEY /_PARENT HKEY_USER_SOFTWARE /_TARGETPATH \"%VENDOR%\" /_REMOVABLE;\r\n";
    for (int d = 0; d < n / perFolder; d++) {
        std::string ds = std::to_string(d);
        script += "_dir=D" + ds + " /_PARENT APPDIR /_TARGETPATH d" + ds + " /_REMOVABLE;\r\n";
        for (int f = 0; f < perFolder; f++) {
            int i = d * perFolder + f;
            std::string is = std::to_string(i);
            script += "_file=F" + is + " /_PARENT D" + ds + " /_TARGETPATH f" + is + ".dat /_REMOVABLE" +
                      (i < shortcuts ? " /_GROUP PGROUP L" + is : std::string()) + ";\r\n";
        }
    }
    for (int v = 0; v < n / FILES_PER_VALUE; v++) {
        script += "_regitem=V" + std::to_string(v) + " /_PARENT BKEY /_REMOVABLE;\r\n";
    }
    ProductSpec spec;
    spec.withProgram = true;
    spec.script = script;
    p->stage.reset(new ProductStage(spec));
    const std::string& folder = p->stage->folder();
    p->key = "Software\\" + p->stage->vendor();
    p->group = SpecialFolder(CSIDL_PROGRAMS) + p->stage->vendor() + "\\";
    CreateDirectoryA(p->group.c_str(), nullptr);
    HKEY key = CreateRegKey(HKEY_CURRENT_USER, p->key.c_str());
    for (int d = 0; d < n / perFolder; d++) {
        std::string dir = folder + "d" + std::to_string(d);
        CreateDirectoryA(dir.c_str(), nullptr);
        p->folders.push_back(dir);
        for (int f = 0; f < perFolder; f++) {
            int i = d * perFolder + f;
            std::string file = dir + "\\f" + std::to_string(i) + ".dat";
            WriteFileBytes(file, "installed content");
            p->files.push_back(file);
            if (i < shortcuts) {
                p->links.push_back(p->group + "L" + std::to_string(i) + ".lnk");
                MakeShortcut(p->links.back(), file);
            }
        }
    }
    for (int v = 0; v < n / FILES_PER_VALUE; v++) {
        p->values.push_back("V" + std::to_string(v));
        SetRegString(key, p->values.back().c_str(), "value");
    }
    CloseRegKey(key);
    return p;
}

bool Removed(const Payload& p)
{
    return !PathExists(p.files.back()) && !PathExists(p.folders.back()) && !PathExists(p.links.back()) &&
           !PathExists(p.group);
}

// Runs the program with the argument text as a caller does and waits for its whole process tree; its
// phase 1 exit code, or STILL_ACTIVE when it did not end within ten minutes.
DWORD RunWhole(const std::string& program, const std::string& arguments)
{
    const DWORD LOOK_MS = 2, LIMIT_MS = 600000;
    KernelHandle job(CreateJobObjectA(nullptr, nullptr));
    std::string line = "\"" + program + "\" " + arguments;
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!job || !CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                                &si, &pi)) {
        return STILL_ACTIVE;
    }
    KernelHandle process(pi.hProcess), thread(pi.hThread);
    AssignProcessToJobObject(job.get(), process.get());
    ResumeThread(thread.get());
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info = {};
    for (DWORD start = GetTickCount(); GetTickCount() - start < LIMIT_MS;) {
        Sleep(LOOK_MS);
        if (!QueryInformationJobObject(job.get(), JobObjectBasicAccountingInformation, &info, sizeof(info), nullptr) ||
            info.ActiveProcesses == 0) {
            break;
        }
    }
    WaitForSingleObject(process.get(), LIMIT_MS);
    DWORD exitCode = STILL_ACTIVE;
    GetExitCodeProcess(process.get(), &exitCode);
    return exitCode;
}

// The program's time for a payload of n files. With profile, the program also writes its report (a line
// per object, written at once) to the temporary folder, and the time of each pass is shown from it; the
// timed runs write none.
double Program(int n, bool profile = false, Shape shape = Shape(), double* componentsMs = nullptr)
{
    std::unique_ptr<Payload> p = Stage(n, shape);
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    std::string log = std::string(temp) + "uninst-bench-" + std::to_string(GetCurrentProcessId()) + ".log";
    DeleteFileA(log.c_str());
    double start = BenchNow();
    DWORD exitCode = RunWhole(p->stage->program(), profile ? "/QUIET /LOG \"" + log + "\"" : "/QUIET");
    double time = BenchNow() - start;
    if (exitCode != 0 || !Removed(*p)) {
        fprintf(stderr, "the program did not remove the product (it ended with %lu)\n", exitCode);
        exit(1);
    }
    std::string report = profile ? ReadFileBytes(log) : std::string();
    for (size_t at = 0, end; (end = report.find("\r\n", at)) != std::string::npos; at = end + 2) {
        std::string line = report.substr(at, end - at);
        if (line.find(" pass: ") != std::string::npos && componentsMs == nullptr) {
            printf("  %d files, %s\n", n, line.c_str());
        }
        size_t ms = line.find(" objects in ");
        if (componentsMs != nullptr && line.rfind("components pass: ", 0) == 0 && ms != std::string::npos) {
            *componentsMs = atof(line.c_str() + ms + 12);
        }
    }
    if (getenv("BENCH_KEEP_REPORT") == nullptr) {
        DeleteFileA(log.c_str());
    }
    return time;
}

// The time of a plan of the same payload: phase 1 alone, every object judged, nothing changed.
double Plan(int n, bool profile = false)
{
    std::unique_ptr<Payload> p = Stage(n);
    std::string log = TempDirectory() + "uninst-bench-plan-" + std::to_string(GetCurrentProcessId()) + ".log";
    double start = BenchNow();
    DWORD exitCode = RunWhole(p->stage->program(), "/PLAN /QUIET /LOG \"" + log + "\"");
    double time = BenchNow() - start;
    std::string report = ReadFileBytes(log);
    DeleteFileA(log.c_str());
    if (exitCode != 0 || !PathExists(p->files.back()) || !PathExists(p->links.back())) {
        fprintf(stderr, "the plan did not end well, or changed the product (it ended with %lu):\n", exitCode);
        for (size_t at = 0, end; (end = report.find("\r\n", at)) != std::string::npos; at = end + 2) {
            std::string line = report.substr(at, end - at);
            if (line.find(": would go") == std::string::npos) {
                fprintf(stderr, "%s\n", line.c_str());
            }
        }
        exit(1);
    }
    for (size_t at = 0, end; profile && (end = report.find("\r\n", at)) != std::string::npos; at = end + 2) {
        std::string line = report.substr(at, end - at);
        if (line.find(" pass: ") != std::string::npos) {
            printf("  plan, %d files, %s\n", n, line.c_str());
        }
    }
    return time;
}

// The plan's marginal cost per object against the removal's, each the better of two runs.
void PlanFigures(int small, int large)
{
    double planSmall = 1e9, planLarge = 1e9, removalSmall = 1e9, removalLarge = 1e9;
    for (int round = 0; round < 2; round++) {
        planSmall = std::min(planSmall, Plan(small));
        removalSmall = std::min(removalSmall, Program(small));
        planLarge = std::min(planLarge, Plan(large));
        removalLarge = std::min(removalLarge, Program(large));
    }
    Plan(large, true);
    printf("plan: %d files %.3f s, %d files %.3f s; removal %.3f s and %.3f s\n", small, planSmall, large, planLarge,
           removalSmall, removalLarge);
    printf("plan-vs-removal: %.2f\n", (planLarge - planSmall) / (removalLarge - removalSmall));
}

// The in-use test's calls for every file, as phase 1 makes them: opened for writing without sharing,
// closed. Timed apart from the floor, which is the deletion alone.
double InUseOpens(const Payload& p)
{
    double start = BenchNow();
    for (const std::string& f : p.files) {
        HANDLE file = CreateFileA(f.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
        }
    }
    return BenchNow() - start;
}

double Floor(int n, double* opens, Shape shape = Shape())
{
    std::unique_ptr<Payload> p = Stage(n, shape);
    *opens = InUseOpens(*p);
    double start = BenchNow();
    for (const std::string& l : p->links) {
        DeleteFileA(l.c_str());
    }
    RemoveDirectoryA(p->group.c_str());
    for (const std::string& f : p->files) {
        DeleteFileA(f.c_str());
    }
    for (const std::string& d : p->folders) {
        RemoveDirectoryA(d.c_str());
    }
    HKEY key = OpenRegKeyWrite(HKEY_CURRENT_USER, p->key.c_str());
    for (const std::string& v : p->values) {
        RegDeleteValueA(key, v.c_str());
    }
    CloseRegKey(key);
    RegDeleteKeyA(HKEY_CURRENT_USER, p->key.c_str());
    double time = BenchNow() - start;
    if (!Removed(*p)) {
        fprintf(stderr, "the floor did not remove the product\n");
        exit(1);
    }
    return time;
}

// Starting and ending one program that does nothing, under the same system: the better of five.
double EmptyProcess()
{
    double best = 1e9;
    for (int i = 0; i < 5; i++) {
        double start = BenchNow();
        RunWhole(TestProgramFolder() + "child_program.exe", "0");
        best = std::min(best, BenchNow() - start);
    }
    return best;
}

// The other shapes: folders of four files against the floor, and the components pass with many
// shortcuts against the usual number.
void ShortcutFigures(int small)
{
    Shape many;
    many.shortcuts = MANY_SHORTCUTS;
    double usual = 1e9, more = 1e9;
    for (int round = 0; round < 2; round++) {
        double ms = 0;
        Program(small, true, Shape(), &ms);
        usual = std::min(usual, ms);
        Program(small, true, many, &ms);
        more = std::min(more, ms);
    }
    printf("components pass: %d shortcuts %.0f ms, %d shortcuts %.0f ms\n", SHORTCUTS, usual, MANY_SHORTCUTS, more);
    printf("shortcuts-growth: %.2f\n", more / std::max(usual, 1.0));
}

void ShapeFigures(int small, int large)
{
    Shape few;
    few.filesPerFolder = FEW_FILES_PER_FOLDER;
    double programSmall = 1e9, programLarge = 1e9, floorSmall = 1e9, floorLarge = 1e9, opens = 0;
    for (int round = 0; round < 2; round++) {
        programSmall = std::min(programSmall, Program(small, false, few));
        floorSmall = std::min(floorSmall, Floor(small, &opens, few));
        programLarge = std::min(programLarge, Program(large, false, few));
        floorLarge = std::min(floorLarge, Floor(large, &opens, few));
    }
    printf("%d files per folder: program %.3f s and %.3f s, floor %.3f s and %.3f s\n", FEW_FILES_PER_FOLDER,
           programSmall, programLarge, floorSmall, floorLarge);
    printf("folders-vs-deletes: %.2f\n", (programLarge - programSmall) / (floorLarge - floorSmall));
    ShortcutFigures(small);
}

// The fixed part on its own: a product of one file, no folder of its own and no shortcut, removed by the
// program, against an empty program started and ended; the better of five each.
void FixedFigures()
{
    double best = 1e9;
    for (int i = 0; i < 5; i++) {
        ProductSpec spec;
        spec.withProgram = true;
        spec.script = "_regkey=PRODUCT_HKEY /_REMOVABLE;\r\n"
                      "_dir=APPDIR /_TARGETPATH \"%FOLDER%\" /_REMOVABLE;\r\n"
                      "_file=UNINST /_PARENT APPDIR /_TARGETPATH Uninst.exe /_REMOVABLE /_UNINSTALL \"%VENDOR%\" x;\r\n"
                      "_file=CONFIG /_PARENT APPDIR /_TARGETPATH Struct.cfg /_REMOVABLE;\r\n"
                      "_file=ONE /_PARENT APPDIR /_TARGETPATH one.dat /_REMOVABLE;\r\n";
        spec.files.push_back({"one.dat", "installed content"});
        ProductStage stage(spec);
        double start = BenchNow();
        DWORD exitCode = RunWhole(stage.program(), "/QUIET");
        double time = BenchNow() - start;
        if (exitCode != 0 || PathExists(stage.folder() + "one.dat")) {
            fprintf(stderr, "the program did not remove the product (it ended with %lu)\n", exitCode);
            exit(1);
        }
        best = std::min(best, time);
    }
    double linked = 1e9, components = 1e9;
    for (int i = 0; i < 3; i++) {
        double ms = 0;
        Program(FILES_PER_FOLDER, true, Shape(), &ms);
        components = std::min(components, ms);
        linked = std::min(linked, Program(FILES_PER_FOLDER));
    }
    double process = EmptyProcess();
    printf("a product of one file: %.3f s; of %d files with %d shortcuts: %.3f s (components pass %.0f ms)\n", best,
           FILES_PER_FOLDER, SHORTCUTS, linked, components);
    printf("an empty program started and ended: %.3f s\n", process);
    printf("one-file-vs-process: %.2f\n", best / process);
}

} // namespace

int main()
{
    if (getenv("BENCH_SHORTCUTS") != nullptr) { // the shortcut-heavy shape alone
        ShortcutFigures(2000);
        return 0;
    }
    if (getenv("BENCH_FIXED") != nullptr) { // the fixed part alone
        FixedFigures();
        return 0;
    }
    if (getenv("BENCH_SHAPES") != nullptr) { // the other shapes alone
        ShapeFigures(2000, getenv("BENCH_SMALL") != nullptr ? 4000 : 20000);
        return 0;
    }
    const int small = 2000, large = getenv("BENCH_SMALL") != nullptr ? 4000 : 20000;
    if (getenv("BENCH_PLAN") != nullptr) { // the plan's figures alone
        PlanFigures(small, large);
        return 0;
    }
    // Each figure is the better of two runs, the program and the floor taking turns: a machine shared
    // with others slows single runs by a tenth and more. The floor with the in-use test is the better of
    // its runs as a whole (its opens and deletions timed in the same run).
    double programSmall = 1e9, floorSmall = 1e9, programLarge = 1e9, floorLarge = 1e9;
    double carefulSmall = 1e9, carefulLarge = 1e9;
    for (int round = 0; round < 2; round++) {
        double opens = 0, deletions = 0;
        programSmall = std::min(programSmall, Program(small));
        deletions = Floor(small, &opens);
        floorSmall = std::min(floorSmall, deletions);
        carefulSmall = std::min(carefulSmall, deletions + opens);
        programLarge = std::min(programLarge, Program(large));
        deletions = Floor(large, &opens);
        floorLarge = std::min(floorLarge, deletions);
        carefulLarge = std::min(carefulLarge, deletions + opens);
    }
    printf("where the time goes, from the report of one more run (its lines cost a write each):\n");
    Program(large, true);
    printf("program: %d files %.3f s, %d files %.3f s\n", small, programSmall, large, programLarge);
    printf("floor:   %d files %.3f s, %d files %.3f s\n", small, floorSmall, large, floorLarge);
    double objects = (large - small) * (1.0 + 1.0 / FILES_PER_FOLDER + 1.0 / FILES_PER_VALUE);
    double fixed =
        programSmall - floorSmall - (programLarge - programSmall - (floorLarge - floorSmall)) / (large - small) * small;
    double process = EmptyProcess();
    printf("fixed part of the program (handshake, start-up): %.2f s; an empty program started and ended: %.3f s\n",
           fixed, process);
    printf("fixed-vs-process: %.2f\n", fixed / process);
    printf("marginal cost per object: program %.1f us, floor %.1f us\n", (programLarge - programSmall) / objects * 1e6,
           (floorLarge - floorSmall) / objects * 1e6);
    double carefulSlope = carefulLarge - carefulSmall;
    printf("the floor with phase 1's in-use test (an open and a close per file): %.1f us per object\n",
           carefulSlope / objects * 1e6);
    printf("against the floor of the deletions alone: %.2f\n",
           (programLarge - programSmall) / (floorLarge - floorSmall));
    printf("uninstall-vs-floor: %.2f\n", (programLarge - programSmall) / carefulSlope);
    ShapeFigures(small, large);
    PlanFigures(small, large);
    // The figure that counts: the marginal cost per object against the deletions alone.
    printf("uninstall-vs-deletes: %.2f\n", (programLarge - programSmall) / (floorLarge - floorSmall));
    (void)fixed;
    return 0;
}
