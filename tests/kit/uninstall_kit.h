#pragma once
// The whole uninstall from outside, as a user meets it: a product staged in the prefix with everything
// an installation leaves (files in nested folders, a read-only file, shortcuts in a Start-menu group and
// on the desktop, registry keys and values, shared files counted in SharedDLLs, a self-registering
// library, an uninstall program, the Uninstall key), things around it that are not the product's, and
// the real uninstaller started from the product's folder, its dialogs answered through their windows.
#include "kit/product_kit.h"

#include <windows.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

struct WholeProductSpec {
    bool container = false;             // the configuration inside "SetUp.cdf"
    bool uninstallObject = true;        // a file names the product's Uninstall key ("_UNINSTALL")
    std::string extraScript;            // more entries ("%FOLDER%", "%VENDOR%" as in ProductSpec)
    int bulkFiles = 0;                  // files "bulk\f<i>.dat" that the files pass removes before the others
    bool productKeyWithContents = true; // the product's key goes with its contents ("_KILLCHILDREN"), else
                                        // its values go one by one and then the key
    bool commonCountedElsewhere = true; // another product counts "bin\\common.dll", which therefore stays;
                                        // else nothing stays and the product's folder goes too
};

class WholeProduct {
  public:
    explicit WholeProduct(const WholeProductSpec& spec = WholeProductSpec());
    ~WholeProduct();
    WholeProduct(const WholeProduct&) = delete;
    WholeProduct& operator=(const WholeProduct&) = delete;

    ProductStage& stage() { return *stage_; }
    const std::string& folder() const { return stage_->folder(); }
    std::string program() const { return stage_->program(); }
    const std::string& vendor() const { return stage_->vendor(); }
    std::string title() const { return "Staged Product"; }
    std::string uninstallKey() const;
    const std::string& desktopLink() const { return desktopLink_; }

    // Paths of the product that an uninstall removes, and of things that must stay.
    std::vector<std::string> ProductPaths() const;
    std::vector<std::string> ForeignPaths() const;
    // Descriptions of what is wrong after a complete uninstall ("" when everything is as it should be),
    // and after none ("" when the product is whole).
    std::string Check(bool removed) const;
    std::string CheckRemoved() const { return Check(true); }
    std::string CheckUntouched() const { return Check(false); }
    // The registry of the self-registering library and the SharedDLLs counts of the shared files.
    bool LibraryKeyExists() const;
    bool UninstallKeyExists() const;
    DWORD SharedCount(const char* file) const;
    std::string markerPath() const { return sibling_.path() + "unregistered.marker"; }

  private:
    WholeProductSpec spec_;
    TestFolder sibling_; // another product's folder beside this one
    std::unique_ptr<ProductStage> stage_;
    std::string group_, desktopLink_, foreignLink_;
};

// What a run of the real uninstaller showed and did.
struct UninstallRun {
    bool started = false;
    DWORD phaseOneExit = STILL_ACTIVE;
    bool phaseTwoSeen = false;
    DWORD phaseTwoExit = STILL_ACTIVE;
    bool sawFixup = false, sawChecklist = false;
    std::vector<std::string> messages; // the texts of the message boxes, in the order they appeared
    std::vector<UINT> styles;
    bool killed = false;
    size_t windowsSeen = 0;      // visible top-level windows of either phase, of any kind
    std::string phaseTwoProgram; // the program file phase 2 runs from
};

// What a watcher sees while the uninstaller runs, for tests that end a phase at a chosen point.
struct RunView {
    HANDLE phaseOne, phaseTwo; // null until started / seen
    HWND fixup, checklist;     // the progress dialogs while they are open
};

// Starts the program with the argument text and watches both phases until they have ended (or
// timeoutMs): message boxes are answered (a Yes/No box with answerYes, any other with its first
// button), each after beforeAnswer (when given) has seen it; stopAt, when given, is asked at every look
// and returns the process to terminate (or null).
UninstallRun RunUninstaller(const std::string& program, const std::string& arguments, bool answerYes = true,
                            std::function<HANDLE(const RunView&)> stopAt = nullptr,
                            DWORD timeoutMs = LOADED_MACHINE_WAIT_MS, std::function<void(HWND)> beforeAnswer = nullptr);

// As Add/Remove Programs does: a caller (Wine's "uninstaller --remove <key>") runs the product's
// UninstallString (program, phase 1) and waits for that process alone, perhaps through a process of its
// own in between. The uninstaller's dialogs are answered (Yes and OK); atCallerEnd runs the moment the
// caller has ended, before anything else is looked at.
UninstallRun RunThroughCaller(const std::string& caller, const std::string& arguments, const std::string& program,
                              std::function<void()> atCallerEnd);

// Stops (or lets go on) every thread of a process, so that what it shows holds still.
void SuspendProcess(DWORD processId, bool suspend);

// Where path stands among the removals pending for the next restart: its position, or -1.
int ScheduledForRestart(const std::string& path);

// The next restart as far as deletions go: the pending deletions of paths below folder are carried out
// as the system carries them out at boot, by their paths, following whatever links lie on them now.
// Their entries leave the list; other entries stay.
void ReplayRestartDeletions(const std::string& folder);

// The line of a "/LOG" report that names an object (by its name in the script), or that holds a path;
// "" when there is none.
std::string ReportLineOf(const std::string& report, const std::string& what);

// The names in a folder (with its trailing backslash): in the temporary directory, what a run left there.
std::set<std::string> FolderEntries(const std::string& folder);
