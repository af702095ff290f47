#include "engine/removal_report.h"

#include "script/object_text.h"
#include "support/guards.h"
#include "support/plan_mode.h"
#include "support/report.h"

#include <stdio.h>

#include <set>

namespace {

NoteTally g_tally = {};

const char* TypeName(UINT32 type)
{
    switch (type) {
    case OBJECT_FILE:
        return "file";
    case OBJECT_DIRECTORY:
        return "folder";
    case OBJECT_GROUP:
        return "group";
    case OBJECT_REGKEY:
        return "registry key";
    case OBJECT_REGITEM:
        return "registry value";
    default:
        return "object";
    }
}

// The object's name, type and full path (known, or made here), then the outcome.
void Note(ObjectId id, const char* outcome, const char* known = nullptr)
{
    InstallObject* o = LockObject(id);
    if (o == nullptr) {
        return;
    }
    HeapText made(known == nullptr ? GetObjectPath(id, 0, nullptr, 0) : nullptr);
    const char* path = known != nullptr ? known : made ? made.get() : "(no path)";
    ReportLine("  %-31s %-14s %s: %s", ObjectNameOf(o), TypeName(ObjectType(o)), path, outcome);
    ReleaseObject(o);
}

} // namespace

void NoteRemoved(ObjectId id, const char* path)
{
    g_tally.removed++;
    if (ReportIsOpen()) {
        Note(id, PlanMode() ? "would go" : "removed", path);
    }
}

void NoteKept(ObjectId id, KeptReason reason, int count, const char* path)
{
    // An object kept in one pass (a shared file whose count stays) is passed over in the next as no
    // longer removable: its first reason is the one that counts.
    static std::set<ObjectId> kept;
    if (!kept.insert(id).second) {
        return;
    }
    g_tally.kept++;
    if (!ReportIsOpen()) {
        return;
    }
    char text[160];
    switch (reason) {
    case KEPT_NOT_REMOVABLE:
        Note(id, "kept: not removable and not covered by a folder, group or key that goes with its contents", path);
        break;
    case KEPT_STILL_COUNTED:
        snprintf(text, sizeof(text), "kept: still counted by other products (count %d)", count);
        Note(id, text, path);
        break;
    case KEPT_HOLDS_CONTENT:
        Note(id, "kept: holds content that stays or that other products share", path);
        break;
    case KEPT_MISSING:
        Note(id, "kept: does not exist", path);
        break;
    case KEPT_UNTIL_RESTART:
        Note(id,
             PlanMode() ? "goes at the next restart: in use now"
                        : "kept until the next restart: in use now, deleted then",
             path);
        break;
    case KEPT_UNLISTED_ITEMS:
        Note(id, "kept: Program Manager did not list all of its items", path);
        break;
    }
}

void NoteRefused(ObjectId id, const char* reason, const char* path)
{
    g_tally.refused++;
    if (ReportIsOpen()) {
        char text[160];
        snprintf(text, sizeof(text), "%s: %s", PlanMode() ? "refused" : "kept", reason);
        Note(id, text, path);
    }
}

void NoteEntryRefused(InstallObject* o, const char* entry, const char* reason)
{
    g_tally.refused++;
    ReportLine("  %-31s %-14s %s: %s: %s", ObjectNameOf(o), "Uninstall key", entry != nullptr ? entry : "",
               PlanMode() ? "refused" : "kept", reason);
}

void NoteInUse(ObjectId id)
{
    if (ReportIsOpen()) {
        Note(id, "in use: the removal would stop before it changed anything");
    }
}

void NoteAction(ObjectId id, const char* action, const char* path)
{
    if (ReportIsOpen()) {
        Note(id, action, path);
    }
}

NoteTally NotesSoFar()
{
    return g_tally;
}

void NoteFailed(ObjectId id, DWORD error, const char* path)
{
    g_tally.failed++;
    if (!ReportIsOpen()) {
        return;
    }
    char message[256], text[320];
    ReportErrorText(error, message, sizeof(message));
    snprintf(text, sizeof(text), "FAILED: error %lu, %s", static_cast<unsigned long>(error), message);
    Note(id, text, path);
}
