#include "app/session.h"

#include "app/unattended.h"
#include "support/guards.h"
#include "support/memory.h"
#include "support/module_path.h"
#include "support/plan_mode.h"
#include "support/report.h"
#include "support/strings.h"
#include "ui/dialog_texts.h"

#include <string.h>

#include <string>

namespace {

struct BuiltInText {
    size_t field; // offset of the text field in UninstallSession
    const char* text;
};

const BuiltInText kBuiltInTexts[] = {
    {offsetof(UninstallSession, confirmText), "Do You really want to remove the application ?"},
    {offsetof(UninstallSession, successText), "Uninstall successfully completed !"},
    {offsetof(UninstallSession, notAllText),
     "Uninstall completed !\n\nSome files can not be removed automatically !\nYou should remove them "
     "manually..."},
    {offsetof(UninstallSession, lockedText),
     "The file \"%s\" is in use by another application...\n\nplease, close all Your applications and "
     "retry !"},
    {offsetof(UninstallSession, noPrivilegesText), "You have no privileges to remove this application!"},
    {offsetof(UninstallSession, fixupDialogText),
     "Fixing UP@Please, wait while Setup looking for@selected components...@Component:"},
    {offsetof(UninstallSession, removeDialogText),
     "@Unregister components@Destroy program group@Remove files@Remove folders@Remove registry keys"},
    {offsetof(UninstallSession, okText), "Ok"},
    {offsetof(UninstallSession, yesText), "Yes"},
    {offsetof(UninstallSession, noText), "No"},
    {offsetof(UninstallSession, title), "Uninstall"},
};

void CopyText(char* field, const char* text)
{
    lstrcpynA(field, text, SESSION_TEXT_SIZE);
}

// "/PLAN": from here on nothing is changed; without "/LOG" the plan goes to a file of the temporary
// directory. The relocated copy never plans: it was started to remove.
void StartPlan(UninstallSession* session)
{
    if (session->flags & SESSION_PHASE_TWO) {
        session->flags &= ~SESSION_PLAN;
    }
    if (!(session->flags & SESSION_PLAN)) {
        return;
    }
    PlanModeBegin();
    if (session->logPath == nullptr) {
        HeapText temp(GetTempDirectory());
        std::string path = std::string(temp ? temp.get() : "") + PLAN_FILE_NAME;
        session->logPath = temp ? MemCopyText(path.c_str()) : nullptr;
    }
}

} // namespace

UninstallSession* BuildSession(HINSTANCE instance, const char* commandLine, int* failureCode)
{
    if (failureCode != nullptr) {
        *failureCode = 0;
    }
    if (!UiStartup(instance)) {
        return nullptr;
    }
    UninstallSession* session = static_cast<UninstallSession*>(MemAlloc(sizeof(UninstallSession)));
    if (session == nullptr) {
        UiShutdown();
        return nullptr;
    }
    session->instance = instance;
    for (const BuiltInText& t : kBuiltInTexts) {
        CopyText(reinterpret_cast<char*>(session) + t.field, t.text);
    }

    char* pathArgument = nullptr;
    SessionReadCommandLine(session, commandLine, &pathArgument);
    StartPlan(session);
    ReportStart(session, commandLine);

    // A sharing word with a key path asks for the resynchronisation alone: no configuration is needed
    // and the built-in texts stay.
    if (!(session->flags & SESSION_PHASE_TWO) && (session->flags & SESSION_SHARING_PATH)) {
        MemFree(pathArgument);
        return session;
    }
    bool ok =
        LocateConfiguration(session, pathArgument) == 2 && LoadSessionTexts(session, session->configFile) == CONFIG_OK;
    MemFree(pathArgument);
    if (!ok) {
        ReportLine("no installed product found beside the program (configuration searched in %s)",
                   session->configPath != nullptr ? session->configPath : "the program's folder");
        session->outcome = OUTCOME_NOT_INSTALLED;
        int code = FinishRun(session, 0);
        if (failureCode != nullptr) {
            *failureCode = code;
        }
        FreeSession(session);
        UiShutdown();
        return nullptr;
    }
    ReportProduct(session);
    return session;
}

void FreeSession(UninstallSession* session)
{
    if (session == nullptr) {
        return;
    }
    MemFree(session->sharingArgument);
    MemFree(session->configPath);
    MemFree(session->configFile);
    MemFree(session->configDir);
    MemFree(session->removeTarget);
    MemFree(session->removeValue);
    MemFree(session->logPath);
    MemFree(session);
}

int ApplyDialogTexts(const UninstallSession* session)
{
    DialogTextBlock* block = static_cast<DialogTextBlock*>(MemAlloc(sizeof(DialogTextBlock)));
    if (block == nullptr) {
        return 0;
    }
    CopyText(block->text[UI_TEXT_REMOVE_LABELS], session->removeDialogText);
    CopyText(block->text[UI_TEXT_FIXUP_LABELS], session->fixupDialogText);
    CopyText(block->text[UI_TEXT_BUTTON_OK], session->okText);
    CopyText(block->text[UI_TEXT_BUTTON_YES], session->yesText);
    CopyText(block->text[UI_TEXT_BUTTON_NO], session->noText);
    int result = UiApplyTexts(block);
    MemFree(block);
    return result;
}
