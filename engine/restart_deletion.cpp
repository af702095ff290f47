// Unattended removals cannot ask the user to close a program: what is in use when the removal reaches
// it is deleted at the next restart instead, and a folder that then holds nothing else goes after it.
#include "engine/executor_internal.h"
#include "engine/removal_report.h"
#include "support/guards.h"
#include "support/strings.h"

#include <string.h>

namespace {

// The errors of a file that another program holds open or runs.
bool InUse(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_USER_MAPPED_FILE;
}

// Arranges the deletion at the next restart; true when the object is dealt with (scheduled, or refused
// by the gate and reported as such).
bool Schedule(Executor& x, InstallObject* o, std::string path)
{
    GateResult r = GateScheduleDeletion(path.c_str());
    if (r.outcome == GATE_REFUSED) {
        Refuse(x, o, r.verdict);
        return true;
    }
    if (r.outcome != GATE_DONE) {
        return false;
    }
    x.restartPaths.push_back(std::move(path));
    SetDatabaseFlags(DatabaseHandleOf(x.d), DATABASE_RESTART_PENDING, 1);
    KeepObject(o);
    NoteKept(ObjectIdOf(o), KEPT_UNTIL_RESTART);
    return true;
}

} // namespace

bool FolderHoldsOnly(const std::string& folder, const std::vector<std::string>& paths)
{
    WIN32_FIND_DATAA found;
    FindHandle find(FindFirstFileA((folder + "*").c_str(), &found));
    if (!find) {
        return false;
    }
    bool any = false;
    do {
        if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0) {
            continue;
        }
        std::string entry = folder + found.cFileName;
        if (GatePlanGone(entry.c_str())) {
            continue; // a plan's folder still holds what would be gone by now
        }
        bool listed = false;
        for (const std::string& p : paths) {
            listed = listed || StrCompareNoCase(p.c_str(), entry.c_str()) == 0;
        }
        if (!listed) {
            return false;
        }
        any = true;
    } while (FindNextFileA(find.get(), &found));
    return any;
}

bool FileGoesAtRestart(Executor& x, InstallObject* o, const char* path, DWORD error)
{
    if (x.d == nullptr || !(DatabaseFlagsOf(x.d) & DATABASE_DELETE_AT_RESTART) || path == nullptr || !InUse(error)) {
        return false;
    }
    return Schedule(x, o, path);
}

bool FolderGoesAtRestart(Executor& x, InstallObject* o, const char* path)
{
    if (x.d == nullptr || !(DatabaseFlagsOf(x.d) & DATABASE_DELETE_AT_RESTART) || path == nullptr ||
        x.restartPaths.empty()) {
        return false;
    }
    std::string folder = path;
    if (folder.empty() || folder.back() != '\\') {
        folder += '\\';
    }
    if (!FolderHoldsOnly(folder, x.restartPaths)) {
        return false;
    }
    folder.pop_back();
    return Schedule(x, o, folder);
}
