// The uninstaller's entry: build the session, publish it, run the mode it asks for. Every start-up
// failure ends the process with exit code 0 and no message.
#include "app/modes.h"
#include "app/session.h"
#include "system/process.h"
#include "ui/dialog_texts.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    (void)previous;
    (void)show;
    // Before anything else loads a library on demand: only the system folder is searched.
    RestrictLibrarySearch();
    UninstallSession* session = BuildSession(instance, commandLine);
    if (session == nullptr) {
        return 0;
    }
    CurrentSession = session;
    int result = SessionRun(session);
    UiShutdown();
    return result;
}
