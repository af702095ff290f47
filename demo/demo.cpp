// The demo: a sample product staged in the prefix as its installation left it, the real uninstaller
// started from the product's folder with "/KILL" on the display, pictures of the "Fixing UP" dialog,
// of the removal checklist half-way through the files pass and of the final message, and what was on
// the machine before and after.
//
//   uninst_demo.exe <Unix folder for the pictures>
//   uninst_demo.exe --stage <Unix folder>   stages the product and leaves it installed; the path of its
//                                           uninstaller goes to <folder>/staged-program
//
// The uninstaller beside it is the one shown, so the driver is built for the same machine as the program
// (they then see the same registry and file system).
#include "kit/testkit.h"
#include "kit/uninstall_kit.h"

#include <stdio.h>
#include <string.h>

#include <string>

namespace {

const int DEMO_BULK_FILES = 3000;
const DWORD FIXUP_PAINTED_MS = 120;

// Takes a picture of the whole display with ImageMagick's import; false when none came.
bool Picture(const std::string& unixFolder, const char* name)
{
    std::string target = unixFolder + "/" + name + ".png";
    std::string partial = unixFolder + "/" + name + ".part.png";
    std::string arguments = "-c \"import -window root '" + partial + "' && mv '" + partial + "' '" + target + "'\"";
    std::string watched = FromUnixPath(target);
    DeleteFileA(watched.c_str());
    bool taken = RunUnixTool("/bin/sh", arguments, watched, true);
    printf("  picture %s.png %s\n", name, taken ? "taken" : "NOT taken");
    return taken;
}

void PrintMachine(const WholeProduct& product, const char* when)
{
    printf("\n%s:\n", when);
    for (const std::string& p : product.ProductPaths()) {
        printf("  %-8s %s (the product's)\n", PathExists(p) ? "present" : "absent", p.c_str());
    }
    for (const std::string& p : product.ForeignPaths()) {
        printf("  %-8s %s (not the product's)\n", PathExists(p) ? "present" : "absent", p.c_str());
    }
    printf("  %-8s %s (another product counts it)\n",
           PathExists(product.folder() + "bin\\common.dll") ? "present" : "absent",
           (product.folder() + "bin\\common.dll").c_str());
    printf("  SharedDLLs counts: bin\\shared.dll %lu, bin\\common.dll %lu\n", product.SharedCount("bin\\shared.dll"),
           product.SharedCount("bin\\common.dll"));
    printf("  %-8s HKEY_LOCAL_MACHINE\\%s (its Uninstall key)\n", product.UninstallKeyExists() ? "present" : "absent",
           product.uninstallKey().c_str());
}

} // namespace

// Stages the product for a removal by hand, and ends without undoing the stage.
int StageOnly(const std::string& unixFolder)
{
    WholeProductSpec spec;
    spec.bulkFiles = DEMO_BULK_FILES;
    WholeProduct* product = new WholeProduct(spec); // never deleted: that would remove it again
    bool written = WriteFileBytes(FromUnixPath(unixFolder + "/staged-program"), product->program());
    printf("A sample product staged in %s, its uninstaller %s\n", product->folder().c_str(),
           product->program().c_str());
    fflush(stdout);
    ExitProcess(written ? 0 : 1);
}

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "--stage") == 0) {
        return StageOnly(argv[2]);
    }
    if (argc < 2) {
        fprintf(stderr, "usage: uninst_demo <Unix folder for the pictures> | --stage <Unix folder>\n");
        return 2;
    }
    std::string pictures = argv[1];
    WholeProductSpec spec;
    spec.bulkFiles = DEMO_BULK_FILES;
    WholeProduct product(spec);
    printf("A sample product staged in %s: %d files in nested folders, a read-only file, shortcuts in a\n"
           "Start-menu group and on the desktop, registry keys and values, shared files counted in SharedDLLs,\n"
           "a self-registering library, an uninstall program, its Uninstall key.\n",
           product.folder().c_str(), DEMO_BULK_FILES + 9);
    PrintMachine(product, "Before");

    bool fixupTaken = false, checklistTaken = false, messageTaken = false;
    std::string half = product.folder() + "bulk\\f" + std::to_string(DEMO_BULK_FILES / 2) + ".dat";
    // Each picture is taken with the phase on the display held still.
    DWORD fixupSince = 0;
    auto watch = [&](const RunView& view) -> HANDLE {
        if (view.fixup != nullptr && fixupSince == 0) {
            fixupSince = GetTickCount();
        }
        // The dialog painted whole: its labels, status line and bar.
        if (!fixupTaken && view.fixup != nullptr && GetTickCount() - fixupSince >= FIXUP_PAINTED_MS) {
            DWORD id = GetProcessId(view.phaseOne);
            SuspendProcess(id, true);
            fixupTaken = Picture(pictures, "fixing-up");
            SuspendProcess(id, false);
        }
        if (!checklistTaken && view.checklist != nullptr && view.phaseTwo != nullptr && !PathExists(half)) {
            DWORD id = GetProcessId(view.phaseTwo);
            SuspendProcess(id, true);
            checklistTaken = Picture(pictures, "checklist");
            SuspendProcess(id, false);
        }
        return nullptr;
    };
    auto beforeAnswer = [&](HWND) {
        Sleep(200); // painted
        messageTaken = messageTaken || Picture(pictures, "final-message");
    };
    printf("\nRunning \"%s\" /KILL\n", product.program().c_str());
    DWORD start = GetTickCount();
    UninstallRun run = RunUninstaller(product.program(), "/KILL", true, watch, 120000, beforeAnswer);
    printf("  phase 1 ended with %lu, phase 2 (%s) with %lu, after %.1f s\n", run.phaseOneExit,
           run.phaseTwoProgram.c_str(), run.phaseTwoExit, (GetTickCount() - start) / 1000.0);
    for (const std::string& message : run.messages) {
        printf("  the message: \"%s\"\n", message.c_str());
    }
    PrintMachine(product, "After");
    std::string wrong = product.CheckRemoved();
    printf("\n%s\n", wrong.empty() ? "The product is gone; everything else is as it was."
                                   : ("Not as expected: " + wrong).c_str());
    printf("The program's copy and its folder go at the next restart: %s\n",
           ScheduledForRestart(run.phaseTwoProgram) >= 0 ? "scheduled" : "NOT scheduled");
    return wrong.empty() && fixupTaken && checklistTaken && messageTaken ? 0 : 1;
}
