// What waits for phase 1: the program it runs from cannot be deleted while it runs, nor the folders
// that hold it. Phase 1 stays until the removal's outcome is known, so that whoever started it waits
// for the whole removal; these few go once it has ended.
#include "engine/executor_internal.h"
#include "engine/removal_report.h"
#include "support/guards.h"
#include "support/plan_mode.h"
#include "support/report.h"
#include "support/strings.h"
#include "system/system_state.h"

namespace {

std::string Normalised(const char* path)
{
    GateVerdict verdict;
    HeapText normal(path != nullptr ? GateNormalisePath(path, &verdict) : nullptr);
    return normal ? normal.get() : std::string();
}

// Whether a path may lead to the file at program: its last name is the program's, or may be read as it
// (a short name; trailing dots and blanks, which the system drops). The full judgement is made only then.
bool MayName(const char* path, const std::string& program)
{
    std::string leaf(path);
    leaf.erase(0, leaf.find_last_of("\\/") + 1);
    if (leaf.find('~') != std::string::npos) {
        return true;
    }
    while (!leaf.empty() && (leaf.back() == '.' || leaf.back() == ' ')) {
        leaf.pop_back();
    }
    return StrCompareNoCase(leaf.c_str(), program.c_str() + program.find_last_of('\\') + 1) == 0;
}

// Whether something that waits for phase 1 lies inside the folder: only such a folder can hold nothing
// else, and only then is it listed.
bool HoldsWaiting(const std::string& folder, const DeferredRemoval& d)
{
    std::string inside = folder + "\\";
    for (const DeferredItem& item : d.items) {
        if (item.path.size() > inside.size() &&
            StrCompareNoCase(item.path.substr(0, inside.size()).c_str(), inside.c_str()) == 0) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> WaitingPaths(const DeferredRemoval& d)
{
    std::vector<std::string> paths;
    for (const DeferredItem& item : d.items) {
        paths.push_back(item.path);
    }
    return paths;
}

void Line(const DeferredItem& item, const char* outcome)
{
    ReportLine("  %-31s %-14s %s: %s", item.name.c_str(), item.folder ? "folder" : "file", item.path.c_str(), outcome);
}

} // namespace

bool FileWaitsForCaller(Executor& x, InstallObject* o, const char* path)
{
    if (x.deferred == nullptr || x.deferred->program.empty() || !MayName(path, x.deferred->program)) {
        return false;
    }
    std::string file = Normalised(path);
    if (file.empty() || StrCompareNoCase(file.c_str(), x.deferred->program.c_str()) != 0) {
        return false;
    }
    x.deferred->items.push_back({ObjectNameOf(o), false, file, std::string(), false});
    return true;
}

bool FolderWaitsForCaller(Executor& x, InstallObject* o, const char* path, const char* climbStop)
{
    if (x.deferred == nullptr || x.deferred->items.empty()) {
        return false;
    }
    std::string folder = Normalised(path);
    if (folder.empty() || !HoldsWaiting(folder, *x.deferred) ||
        !FolderHoldsOnly(folder + "\\", WaitingPaths(*x.deferred))) {
        return false;
    }
    x.deferred->items.push_back({ObjectNameOf(o), true, folder, climbStop != nullptr ? climbStop : "", false});
    return true;
}

void ScheduleDeferredRemoval(DeferredRemoval* deferred)
{
    for (DeferredItem& item : deferred->items) {
        item.scheduled = GateScheduleDeletion(item.path.c_str()).outcome == GATE_DONE;
    }
}

DeferredOutcome FinishDeferredRemoval(DeferredRemoval* deferred)
{
    DeferredOutcome outcome = DEFERRED_GONE;
    for (DeferredItem& item : deferred->items) {
        GateResult r = item.folder ? GateDeleteFolder(item.path.c_str(), item.climbStop.empty() ? 0 : GATE_CLIMB,
                                                      item.climbStop.c_str())
                                   : GateDeleteFile(item.path.c_str(), 0);
        if (r.outcome == GATE_DONE || r.outcome == GATE_ABSENT) {
            if (item.scheduled) {
                WithdrawRestartDeletion(item.path.c_str()); // the safety net is not needed
            }
            Line(item, r.outcome == GATE_DONE ? (PlanMode() ? "would go" : "removed") : "kept: does not exist");
            continue;
        }
        if (r.outcome != GATE_REFUSED && !item.scheduled) {
            GateResult later = GateScheduleDeletion(item.path.c_str());
            item.scheduled = later.outcome == GATE_DONE;
            r = later.outcome == GATE_REFUSED ? later : r;
        }
        if (r.outcome == GATE_REFUSED) {
            outcome = DEFERRED_KEPT;
            Line(item, (std::string("kept: ") + GateVerdictText(r.verdict)).c_str());
        } else if (item.scheduled) {
            outcome = outcome == DEFERRED_GONE ? DEFERRED_AT_RESTART : outcome;
            Line(item, "kept until the next restart: in use now, deleted then");
        } else {
            outcome = DEFERRED_KEPT;
            char message[256], text[320];
            ReportErrorText(r.error, message, sizeof(message));
            snprintf(text, sizeof(text), "FAILED: error %lu, %s", static_cast<unsigned long>(r.error), message);
            Line(item, text);
        }
    }
    GateRelease();
    deferred->items.clear();
    return outcome;
}
