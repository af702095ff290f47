#include "engine/registration.h"

#include "engine/removal_report.h"
#include "script/object_text.h"
#include "support/guards.h"
#include "support/plan_mode.h"
#include "support/reg_keys.h"
#include "system/process.h"

#include <string>

namespace {

// The entry point a self-registering library exports to take itself out of the system.
typedef HRESULT(STDAPICALLTYPE* UnregisterEntry)(void);

// Where a library's dependencies are looked for: its own folder and the system folder, never the
// current or the temporary folder. Older systems without these flags refuse them; they get the
// altered search path, which starts in the library's own folder.
const DWORD SAFE_SEARCH = 0x00000100 /* LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR */ | 0x00000800 /* ..._SYSTEM32 */;

HMODULE LoadByFullPath(const char* path)
{
    HMODULE module = LoadLibraryExA(path, nullptr, SAFE_SEARCH);
    if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
        module = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    return module;
}

// Unregisters one library: false when it cannot be loaded or its entry point reports a failure; a
// library without the entry point counts as done.
bool Unregister(const char* path)
{
    HMODULE module = LoadByFullPath(path);
    if (module == nullptr) {
        return false;
    }
    bool done = true;
    FARPROC entry = GetProcAddress(module, "DllUnregisterServer");
    if (entry != nullptr) {
        UnregisterEntry call = reinterpret_cast<UnregisterEntry>(reinterpret_cast<void (*)(void)>(entry));
        done = call() == S_OK;
        if (done) {
            FlushRegistry();
        }
    }
    FreeLibrary(module);
    Sleep(0);
    return done;
}

// Runs a command line and waits for it to end: its exit code, or -1 when it could not be started.
DWORD RunAndWait(const char* commandLine)
{
    KernelHandle process(StartCommand(commandLine, 0));
    if (!process) {
        return static_cast<DWORD>(-1);
    }
    DWORD exitCode = static_cast<DWORD>(-1);
    WaitForSingleObject(process.get(), INFINITE);
    if (!GetExitCodeProcess(process.get(), &exitCode)) {
        exitCode = static_cast<DWORD>(-1);
    }
    process.reset();
    Sleep(0);
    return exitCode;
}

} // namespace

int RegisterServers(ListHandle list, HWND progressWindow, UINT progressMessage, int registering)
{
    (void)progressWindow;
    (void)progressMessage;
    if (registering) {
        return 0; // the uninstaller never registers
    }
    UINT_PTR id = 0;
    int ok = ListFirst(list, &id, 0);
    int result = ok ? 1 : 0;
    for (; ok; ok = ListNext(list, id, &id, 0, 0)) {
        HeapText path(GetObjectPathInto(id, nullptr, 0));
        if (!path) {
            return result; // an object without a path ends the walk
        }
        if (PlanMode()) {
            NoteAction(id, "would be unregistered (its DllUnregisterServer called)", path.get());
        } else if (!Unregister(path.get())) {
            result = 0;
        }
    }
    return result;
}

int RunObjectPrograms(ListHandle list, HWND progressWindow, UINT progressMessage, int registering)
{
    (void)progressWindow;
    (void)progressMessage;
    if (registering) {
        return 0;
    }
    UINT_PTR id = 0;
    int ok = ListFirst(list, &id, 0);
    int result = ok ? 1 : 0;
    for (; ok; ok = ListNext(list, id, &id, 0, 0)) {
        // The command line as the script gives it after expansion; its program is the one it names.
        HeapText command(GetObjectUnregisterText(id, nullptr, 0));
        HeapText path(command ? GetObjectPathInto(id, nullptr, 0) : nullptr);
        if (!command || !path) {
            return result;
        }
        if (PlanMode()) {
            std::string action = std::string("would be run: ") + command.get();
            NoteAction(id, action.c_str(), path.get());
        } else if (RunAndWait(command.get()) != 0) {
            result = 0;
        }
    }
    return result;
}
