// The uninstaller's entry: build the session, publish it, run the mode it asks for. Every start-up
// failure ends the process with exit code 0 and no message.
#include "app/modes.h"
#include "app/session.h"
#include "app/unattended.h"
#include "system/process.h"
#include "ui/dialog_texts.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    (void)previous;
    (void)show;
    // Before anything else loads a library on demand: only the system folder is searched.
    RestrictLibrarySearch();
    int failureCode = 0;
    UninstallSession* session = BuildSession(instance, commandLine, &failureCode);
    if (session == nullptr) {
        return failureCode;
    }
    int result = FinishRun(session, SessionRun(session));
    UiShutdown();
    return result;
}
