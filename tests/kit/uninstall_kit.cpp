#include "kit/uninstall_kit.h"

#include "support/reg_keys.h"
#include "ui/message_box.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include <map>
#include <memory>
#include <set>
#include <sstream>

namespace {

// The bulk files come last in the script: the files pass goes from the last entry to the first.
std::string BulkScript(int files)
{
    std::string script = files > 0 ? "_dir=BULK /_PARENT APPDIR /_TARGETPATH bulk /_REMOVABLE;\r\n" : "";
    for (int i = 0; i < files; i++) {
        std::string n = std::to_string(i);
        script += "_file=BULK" + n + " /_PARENT BULK /_TARGETPATH f" + n + ".dat /_REMOVABLE;\r\n";
    }
    return script;
}

std::string ScriptOf(const WholeProductSpec& spec)
{
    std::string config = spec.container ? "SetUp.cdf" : "Struct.cfg";
    std::string uninstall = spec.uninstallObject ? " /_UNINSTALL \"%VENDOR%\" \"/KILL\"" : "";
    std::string productKey = spec.productKeyWithContents
                                 ? "_regkey=PRODUCT_HKEY /_REMOVABLE /_KILLCHILDREN;\r\n"
                                 : "_regkey=PRODUCT_HKEY /_REMOVABLE;\r\n"
                                   "_regitem=PV1 /_PARENT PRODUCT_HKEY /_TARGETPATH VERSION /_REMOVABLE;\r\n"
                                   "_regitem=PV2 /_PARENT PRODUCT_HKEY /_TARGETPATH REMOVE /_REMOVABLE;\r\n"
                                   "_regitem=PV3 /_PARENT PRODUCT_HKEY /_TARGETPATH PRODUCT /_REMOVABLE;\r\n";
    return "_regkey=PARENT_HKEY /_REMOVABLE;\r\n"
           "_regkey=PROJECT_HKEY /_REMOVABLE;\r\n" +
           productKey +
           "_dir=APPDIR /_TARGETPATH \"%FOLDER%\" /_REMOVABLE;\r\n"
           "_file=UNINST /_PARENT APPDIR /_TARGETPATH Uninst.exe /_REMOVABLE" +
           uninstall +
           ";\r\n"
           "_file=CONFIG /_PARENT APPDIR /_TARGETPATH " +
           config +
           " /_REMOVABLE;\r\n"
           "_group=PGROUP /_PARENT USERSTARTGROUPS /_TARGETPATH \"%VENDOR% Product\" /_REMOVABLE;\r\n"
           "_file=MAIN /_PARENT APPDIR /_TARGETPATH main.exe /_REMOVABLE /_GROUP PGROUP Main;\r\n"
           "_file=README /_PARENT APPDIR /_TARGETPATH readme.txt /_REMOVABLE /_GROUP USERDESKTOP Readme;\r\n"
           "_dir=BIN /_PARENT APPDIR /_TARGETPATH bin /_REMOVABLE;\r\n"
           "_dir=LIBDIR /_PARENT BIN /_TARGETPATH lib /_REMOVABLE;\r\n"
           "_file=CORE /_PARENT LIBDIR /_TARGETPATH core.dll /_REMOVABLE;\r\n"
           "_file=OCX /_PARENT BIN /_TARGETPATH unreg_ok.dll /_REMOVABLE /_OCX;\r\n"
           "_file=TOOL /_PARENT BIN /_TARGETPATH child_program.exe /_REMOVABLE "
           "/_UNREGISTER \"\\\"(OBJECTPATH SELF)\\\" 0 \\\"%MARKER%\\\"\";\r\n"
           "_file=SHARED /_PARENT BIN /_TARGETPATH shared.dll /_REMOVABLE /_SHAREDDLL;\r\n"
           "_file=COMMON /_PARENT BIN /_TARGETPATH common.dll /_REMOVABLE /_SHAREDDLL;\r\n"
           "_regkey=SETTINGS /_PARENT HKEY_USER_SOFTWARE /_TARGETPATH \"%VENDOR%Settings\\\\Window\" /_REMOVABLE;\r\n"
           "_regitem=WIDTH /_PARENT SETTINGS /_TARGETPATH Width /_REMOVABLE;\r\n"
           "_regitem=HEIGHT /_PARENT SETTINGS /_TARGETPATH Height /_REMOVABLE;\r\n" +
           spec.extraScript + BulkScript(spec.bulkFiles);
}

} // namespace

WholeProduct::WholeProduct(const WholeProductSpec& spec) : spec_(spec)
{
    ProductSpec p;
    p.container = spec.container;
    p.withProgram = true;
    p.script = ScriptOf(spec);
    size_t at = p.script.find("%MARKER%");
    p.script.replace(at, 8, ScriptPath(markerPath()));
    p.files = {{"main.exe", "main"},
               {"readme.txt", "read me"},
               {"bin\\lib\\core.dll", "core"},
               {"bin\\shared.dll", "shared"},
               {"bin\\common.dll", "common"}};
    for (int i = 0; i < spec.bulkFiles; i++) {
        p.files.push_back({"bulk\\f" + std::to_string(i) + ".dat", "bulk"});
    }
    stage_.reset(new ProductStage(p));
    const std::string& f = stage_->folder();
    CopyFileA((TestProgramFolder() + "unreg_ok.dll").c_str(), (f + "bin\\unreg_ok.dll").c_str(), FALSE);
    CopyFileA((TestProgramFolder() + "child_program.exe").c_str(), (f + "bin\\child_program.exe").c_str(), FALSE);
    SetFileAttributesA((f + "readme.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    WriteFileBytes(sibling_.path() + "other.txt", "another product's file");

    group_ = SpecialFolder(CSIDL_PROGRAMS) + vendor() + " Product\\";
    CreateDirectoryA(group_.c_str(), nullptr);
    MakeShortcut(group_ + "Main.lnk", f + "main.exe");
    foreignLink_ = group_ + "Other.lnk";
    MakeShortcut(foreignLink_, SpecialFolder(CSIDL_WINDOWS) + "notepad.exe");
    desktopLink_ = SpecialFolder(CSIDL_DESKTOPDIRECTORY) + vendor() + " Readme.lnk";
    MakeShortcut(desktopLink_, f + "readme.txt");

    SetDwordValue(HKEY_CURRENT_USER, "Software\\" + vendor() + "Settings\\Window", "Width", 640);
    SetDwordValue(HKEY_CURRENT_USER, "Software\\" + vendor() + "Settings\\Window", "Height", 480);
    HKEY library = CreateRegKey(HKEY_CURRENT_USER, LibraryKey(f + "bin\\unreg_ok.dll").c_str());
    CloseRegKey(library);
    SetDwordValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, f + "bin\\shared.dll", 1);
    SetDwordValue(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY, f + "bin\\common.dll", spec.commonCountedElsewhere ? 2 : 1);
}

WholeProduct::~WholeProduct()
{
    DeleteFileA((group_ + "Main.lnk").c_str());
    DeleteFileA(foreignLink_.c_str());
    RemoveDirectoryA(group_.c_str());
    DeleteFileA(desktopLink_.c_str());
    RemoveTestKey(HKEY_CURRENT_USER, ("Software\\" + vendor() + "Settings"));
    RemoveTestKey(HKEY_CURRENT_USER, LibraryKey(folder() + "bin\\unreg_ok.dll"));
    HKEY shared = OpenRegKeyWrite(HKEY_LOCAL_MACHINE, SHARED_DLLS_KEY);
    RemoveTestValue(shared, (folder() + "bin\\shared.dll"));
    RemoveTestValue(shared, (folder() + "bin\\common.dll"));
    CloseRegKey(shared);
    SetFileAttributesA((folder() + "readme.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

std::string WholeProduct::uninstallKey() const
{
    return "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + vendor();
}

std::vector<std::string> WholeProduct::ProductPaths() const
{
    const std::string& f = folder();
    std::vector<std::string> paths = {f + "Uninst.exe",
                                      stage_->configFile(),
                                      f + "main.exe",
                                      f + "readme.txt",
                                      f + "bin\\lib\\core.dll",
                                      f + "bin\\lib",
                                      f + "bin\\shared.dll",
                                      f + "bin\\unreg_ok.dll",
                                      f + "bin\\child_program.exe",
                                      group_ + "Main.lnk",
                                      desktopLink_};
    if (spec_.bulkFiles > 0) {
        paths.push_back(f + "bulk");
    }
    if (!spec_.commonCountedElsewhere) {
        paths.insert(paths.end(), {f + "bin\\common.dll", f + "bin", f});
    }
    return paths;
}

std::vector<std::string> WholeProduct::ForeignPaths() const
{
    return {sibling_.path() + "other.txt", foreignLink_};
}

bool WholeProduct::LibraryKeyExists() const
{
    return KeyExists(HKEY_CURRENT_USER, LibraryKey(folder() + "bin\\unreg_ok.dll"));
}

bool WholeProduct::UninstallKeyExists() const
{
    return KeyExists(HKEY_LOCAL_MACHINE, uninstallKey());
}

DWORD WholeProduct::SharedCount(const char* file) const
{
    long count = StoredCount(SHARED_DLLS_KEY, folder() + file);
    return count < 0 ? 0 : static_cast<DWORD>(count);
}

std::string WholeProduct::Check(bool removed) const
{
    std::string wrong;
    auto expect = [&](bool present, bool wanted, const std::string& what) {
        if (present != wanted) {
            wrong += what + (present ? " still exists; " : " is gone; ");
        }
    };
    for (const std::string& p : ProductPaths()) {
        expect(PathExists(p), !removed, p);
    }
    for (const std::string& p : ForeignPaths()) {
        expect(PathExists(p), true, p);
    }
    // The file another product still counts stays, and with it its folders.
    unsigned others = spec_.commonCountedElsewhere ? 1 : 0;
    expect(PathExists(folder() + "bin\\common.dll"), others > 0 || !removed, "the shared bin\\common.dll");
    for (const auto& count : {std::make_pair("bin\\shared.dll", removed ? 0u : 1u),
                              std::make_pair("bin\\common.dll", removed ? others : others + 1)}) {
        if (SharedCount(count.first) != count.second) {
            wrong += std::string(count.first) + " counted " + std::to_string(SharedCount(count.first)) + "; ";
        }
    }
    expect(KeyExists(HKEY_CURRENT_USER, "Software\\" + vendor() + "Settings\\Window"), !removed, "settings key");
    expect(KeyExists(HKEY_LOCAL_MACHINE, removed ? "SOFTWARE\\" + vendor() : stage_->productKey()), !removed,
           "product key");
    expect(UninstallKeyExists(), !removed, "Uninstall key");
    expect(LibraryKeyExists(), !removed, "the library's key");
    expect(PathExists(markerPath()), removed, "the uninstall program's marker");
    return wrong;
}

namespace {

ULONGLONG Created(HANDLE process)
{
    FILETIME creation = {}, exit = {}, kernel = {}, user = {};
    GetProcessTimes(process, &creation, &exit, &kernel, &user);
    return (static_cast<ULONGLONG>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime;
}

// The program file a process runs.
std::string ProgramOf(DWORD processId)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return "";
    }
    MODULEENTRY32 module;
    module.dwSize = sizeof(module);
    std::string path = Module32First(snapshot, &module) ? module.szExePath : "";
    CloseHandle(snapshot);
    return path;
}

// The processes below root (its children, their children, ...; only its children with childrenOnly),
// each opened; the caller closes them. A process made before root only has the number of one of them.
std::vector<HANDLE> Descendants(HANDLE root, bool childrenOnly = false)
{
    std::vector<PROCESSENTRY32> entries;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return {};
    }
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL ok = Process32First(snapshot, &entry); ok; ok = Process32Next(snapshot, &entry)) {
        entries.push_back(entry);
    }
    CloseHandle(snapshot);
    std::set<DWORD> family = {GetProcessId(root)};
    std::vector<HANDLE> found;
    ULONGLONG rootCreated = Created(root);
    for (size_t grown = 1; grown != 0;) {
        grown = 0;
        for (const PROCESSENTRY32& e : entries) {
            if (family.count(e.th32ParentProcessID) == 0 || family.count(e.th32ProcessID) != 0 ||
                (childrenOnly && e.th32ParentProcessID != GetProcessId(root))) {
                continue;
            }
            HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE | PROCESS_VM_READ,
                                         FALSE, e.th32ProcessID);
            if (process != nullptr && Created(process) < rootCreated) {
                CloseHandle(process);
                process = nullptr;
            }
            if (process != nullptr) {
                found.push_back(process);
                family.insert(e.th32ProcessID);
                grown++;
            }
        }
    }
    return found;
}

// The process that parent started (phase 2 of phase 1), once it exists.
HANDLE FindChild(HANDLE parent)
{
    std::vector<HANDLE> children = Descendants(parent, true);
    for (size_t i = 1; i < children.size(); i++) {
        CloseHandle(children[i]);
    }
    return children.empty() ? nullptr : children[0];
}

// A process below root that runs program, once it exists.
HANDLE FindDescendantRunning(HANDLE root, const std::string& program)
{
    HANDLE match = nullptr;
    for (HANDLE process : Descendants(root)) {
        if (match == nullptr && lstrcmpiA(ProgramOf(GetProcessId(process)).c_str(), program.c_str()) == 0) {
            match = process;
        } else {
            CloseHandle(process);
        }
    }
    return match;
}

// The text and style of a message box of another process, read from its parameters.
bool ReadBox(HANDLE process, HWND box, std::string* text, UINT* style)
{
    LONG_PTR at = GetWindowLongPtrA(box, DWLP_USER);
    MessageBoxParams params;
    SIZE_T read = 0;
    if (at == 0 || !ReadProcessMemory(process, reinterpret_cast<void*>(at), &params, sizeof(params), &read)) {
        return false;
    }
    *style = params.style;
    char chunk[64];
    text->clear();
    for (const char* p = params.text; p != nullptr; p += sizeof(chunk)) {
        if (!ReadProcessMemory(process, p, chunk, sizeof(chunk), &read) || read == 0) {
            break;
        }
        size_t n = strnlen(chunk, read);
        text->append(chunk, n);
        if (n < read || text->size() > 100000) {
            break;
        }
    }
    return true;
}

struct Watch {
    UninstallRun* run;
    std::string phaseOneProgram; // with a caller: what phase 1 runs, somewhere below the caller
    HANDLE processes[2];
    DWORD ids[2];
    bool answerYes;
    RunView view;
    std::function<void(HWND)> beforeAnswer;
    std::set<HWND> answered = {}, seen = {};
    std::map<HWND, int> unreadLooks = {};
};

BOOL CALLBACK LookAtWindow(HWND window, LPARAM param)
{
    Watch* w = reinterpret_cast<Watch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    int which = owner == w->ids[0] ? 0 : owner == w->ids[1] && w->ids[1] != 0 ? 1 : -1;
    char cls[64] = {};
    GetClassNameA(window, cls, sizeof(cls));
    if (which < 0 || !IsWindowVisible(window)) {
        return TRUE;
    }
    if (w->seen.insert(window).second) {
        w->run->windowsSeen++;
    }
    if (strcmp(cls, "#32770") != 0) {
        return TRUE;
    }
    if (GetDlgItem(window, 1029) != nullptr) {
        w->run->sawChecklist = true;
        w->view.checklist = window;
    } else if (GetDlgItem(window, 1037) != nullptr) {
        w->run->sawFixup = true;
        w->view.fixup = window;
    } else if (GetDlgItem(window, IDOK) != nullptr && w->answered.count(window) == 0) {
        // A box is answered once its text could be read (its parameters are set during its start-up),
        // or after half a second of looks without it.
        std::string text;
        UINT style = 0;
        bool read = ReadBox(w->processes[which], window, &text, &style);
        if (!read && ++w->unreadLooks[window] < 50) {
            return TRUE;
        }
        w->answered.insert(window);
        if (read) {
            w->run->messages.push_back(text);
            w->run->styles.push_back(style);
        }
        if (w->beforeAnswer) {
            w->beforeAnswer(window);
        }
        bool yesNo = (style & MB_TYPEMASK) == MB_YESNO;
        HWND button = GetDlgItem(window, yesNo && !w->answerYes ? IDCANCEL : IDOK);
        PostMessageA(button, BM_CLICK, 0, 0);
    }
    return TRUE;
}

} // namespace

namespace {

// One look for a phase that has not been seen yet: the child of the process before it (phase 1 below
// a caller: the process below it that runs the uninstaller).
void FindPhase(Watch& w, int which, HANDLE parent)
{
    if (w.processes[which] != nullptr || parent == nullptr) {
        return;
    }
    w.processes[which] = which == 0 ? FindDescendantRunning(parent, w.phaseOneProgram) : FindChild(parent);
    if (w.processes[which] != nullptr) {
        w.ids[which] = GetProcessId(w.processes[which]);
        if (which == 0) {
            w.view.phaseOne = w.processes[0];
        } else {
            w.run->phaseTwoSeen = true;
            w.view.phaseTwo = w.processes[1];
        }
    }
}

bool Ended(HANDLE process)
{
    return process == nullptr || WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
}

// Watches a started process (phase 1, or a caller that starts phase 1, callerStarts naming its
// program) and what it starts until all of it has ended or the time is up; atCallerEnd runs the moment
// a caller ends.
UninstallRun WatchRun(HANDLE started, const std::string& callerStarts, bool answerYes,
                      std::function<HANDLE(const RunView&)> stopAt, DWORD timeoutMs,
                      std::function<void(HWND)> beforeAnswer, std::function<void()> atCallerEnd)
{
    UninstallRun run;
    run.started = true;
    bool isCaller = !callerStarts.empty();
    Watch w = {&run,
               callerStarts,
               {isCaller ? nullptr : started, nullptr},
               {isCaller ? 0 : GetProcessId(started), 0},
               answerYes,
               {isCaller ? nullptr : started, nullptr, nullptr, nullptr},
               beforeAnswer};
    bool callerEnded = !isCaller;
    for (DWORD start = GetTickCount();; Sleep(10)) {
        // Each phase is looked for once more after the process before it has ended: it starts it first.
        bool startedDone = Ended(started);
        if (!callerEnded && startedDone) {
            callerEnded = true;
            atCallerEnd();
        }
        if (isCaller) {
            FindPhase(w, 0, started);
        }
        bool oneDone = startedDone && (!isCaller || Ended(w.processes[0]));
        FindPhase(w, 1, w.processes[0]);
        if (w.processes[1] != nullptr && run.phaseTwoProgram.empty()) {
            run.phaseTwoProgram = ProgramOf(w.ids[1]); // once it runs: a suspended process has no modules yet
        }
        w.view.fixup = w.view.checklist = nullptr;
        EnumWindows(LookAtWindow, reinterpret_cast<LPARAM>(&w));
        HANDLE victim = stopAt ? stopAt(w.view) : nullptr;
        if (victim != nullptr) {
            TerminateProcess(victim, 99);
            WaitForSingleObject(victim, 5000);
            run.killed = true;
        }
        if (oneDone && Ended(w.processes[1])) {
            break;
        }
        if (GetTickCount() - start > timeoutMs) {
            // Everything the run started goes, so that nothing of it outlives the test.
            for (HANDLE process : Descendants(started)) {
                TerminateProcess(process, 98);
                CloseHandle(process);
            }
            for (HANDLE process : {started, w.processes[0], w.processes[1]}) {
                if (process != nullptr) {
                    TerminateProcess(process, 98);
                }
            }
            break;
        }
    }
    for (int i = 0; i < 2; i++) {
        if (w.processes[i] != nullptr) {
            WaitForSingleObject(w.processes[i], 5000);
            GetExitCodeProcess(w.processes[i], i == 0 ? &run.phaseOneExit : &run.phaseTwoExit);
            CloseHandle(w.processes[i]);
        }
    }
    return run;
}

} // namespace

UninstallRun RunUninstaller(const std::string& program, const std::string& arguments, bool answerYes,
                            std::function<HANDLE(const RunView&)> stopAt, DWORD timeoutMs,
                            std::function<void(HWND)> beforeAnswer)
{
    HANDLE phaseOne = StartProgram(program, arguments);
    if (phaseOne == nullptr) {
        return UninstallRun();
    }
    // The watch closes phase 1's handle with its own.
    return WatchRun(phaseOne, "", answerYes, stopAt, timeoutMs, beforeAnswer, nullptr);
}

UninstallRun RunThroughCaller(const std::string& caller, const std::string& arguments, const std::string& program,
                              std::function<void()> atCallerEnd)
{
    HANDLE started = StartProgram(caller, arguments);
    if (started == nullptr) {
        return UninstallRun();
    }
    UninstallRun run = WatchRun(started, program, true, nullptr, LOADED_MACHINE_WAIT_MS, nullptr, atCallerEnd);
    CloseHandle(started);
    return run;
}

void SuspendProcess(DWORD processId, bool suspend)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return;
    }
    THREADENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL ok = Thread32First(snapshot, &entry); ok; ok = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != processId) {
            continue;
        }
        HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
        if (thread != nullptr) {
            suspend ? SuspendThread(thread) : ResumeThread(thread);
            CloseHandle(thread);
        }
    }
    CloseHandle(snapshot);
}

void ReplayRestartDeletions(const std::string& folder)
{
    const char* list = "PendingFileRenameOperations";
    RegKeyHandle key(OpenRegKeyWrite(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager"));
    DWORD size = 0, type = 0;
    RegQueryValueExA(key.get(), list, nullptr, &type, nullptr, &size);
    std::string data(size + 2, '\0');
    RegQueryValueExA(key.get(), list, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size);
    std::vector<std::string> strings;
    for (size_t at = 0; at < size && at < data.size(); at += strings.back().size() + 1) {
        strings.push_back(data.c_str() + at);
    }
    std::string kept;
    const std::string below = "\\??\\" + folder;
    for (size_t i = 0; i + 1 < strings.size(); i += 2) {
        const std::string& source = strings[i];
        if (!strings[i + 1].empty() || _strnicmp(source.c_str(), below.c_str(), below.size()) != 0) {
            kept += source + '\0' + strings[i + 1] + '\0';
            continue;
        }
        std::string path = source.substr(4);
        if (!DeleteFileA(path.c_str())) {
            RemoveDirectoryA(path.c_str());
        }
    }
    if (kept.empty()) {
        RegDeleteValueA(key.get(), list);
    } else {
        kept += '\0';
        RegSetValueExA(key.get(), list, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                       static_cast<DWORD>(kept.size()));
    }
}

int ScheduledForRestart(const std::string& path)
{
    HKEY key = OpenRegKeyRead(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager");
    DWORD size = 0, type = 0;
    RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, nullptr, &size);
    std::string data(size + 2, '\0');
    RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size);
    CloseRegKey(key);
    std::string wanted = path;
    if (wanted.size() > 3 && wanted.back() == '\\') {
        wanted.pop_back();
    }
    int position = 0;
    for (size_t at = 0; at < data.size(); position++) {
        std::string entry = data.c_str() + at;
        std::string trimmed = entry.rfind("\\??\\", 0) == 0 ? entry.substr(4) : entry;
        if (trimmed.size() > 3 && trimmed.back() == '\\') {
            trimmed.pop_back();
        }
        if (!entry.empty() && lstrcmpiA(trimmed.c_str(), wanted.c_str()) == 0) {
            return position;
        }
        at += entry.size() + 1;
    }
    return -1;
}

std::set<std::string> FolderEntries(const std::string& folder)
{
    std::set<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &found);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileA(find, &found)) {
        if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0) {
            names.insert(found.cFileName);
        }
    }
    if (find != INVALID_HANDLE_VALUE) {
        FindClose(find);
    }
    return names;
}

std::string ReportLineOf(const std::string& report, const std::string& what)
{
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("  " + what + " ", 0) == 0 ||
            (what.find('\\') != std::string::npos && line.find(what) != std::string::npos)) {
            return line;
        }
    }
    return "";
}
