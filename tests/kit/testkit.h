#pragma once
// Helpers shared by the test programs, and what every test program includes.
#include "support/guards.h"
#include "support/memory.h"
#include "support/reg_keys.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <shlobj.h>
#include <string.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

// The folder of the running test program, with its trailing backslash. The uninstaller and the other
// programs of the build sit in the same folder.
std::string TestProgramFolder();

// Starts a program with the argument text behind its quoted path: its process handle, or null.
HANDLE StartProgram(const std::string& program, const std::string& arguments);

// Bytes placed at the very end of a readable page, with an inaccessible page right behind them: a
// reader that goes one byte past the end faults at once instead of reading what happens to follow.
class GuardedBytes {
  public:
    GuardedBytes(const void* bytes, size_t length);
    explicit GuardedBytes(const std::string& text) : GuardedBytes(text.data(), text.size()) {}
    ~GuardedBytes();
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;

    char* data() const { return data_; }
    UINT32 size() const { return static_cast<UINT32>(size_); }

  private:
    void* base_ = nullptr;
    char* data_ = nullptr;
    size_t size_ = 0;
};

// A folder of its own under the temporary directory of the Wine prefix, removed with everything in
// it when the object goes.
class TestFolder {
  public:
    TestFolder();
    ~TestFolder();
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    // The folder with its trailing backslash, and a path inside it.
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + name; }

  private:
    std::string path_;
};

// Writes bytes to a file (replacing it), making the folders on its way; false on failure.
bool WriteFileBytes(const std::string& path, const std::string& bytes);

bool PathExists(const std::string& path);
bool KeyExists(HKEY root, const std::string& path);
// A file's bytes ("" when it cannot be read).
std::string ReadFileBytes(const std::string& path);

// Makes folders (entries that end in a backslash) and files (holding "content of " and their entry)
// below root, which ends in a backslash, in the order given.
void MakeTestTree(const std::string& root, const std::vector<std::string>& entries);

// A shell link (shortcut) at link that points at target; false on failure.
bool MakeShortcut(const std::string& link, const std::string& target);

// The path of a special folder (CSIDL_...), with its trailing backslash.
std::string SpecialFolder(int csidl);

// The Windows folder followed by below ("\\Fonts"), and a path's short form (the path itself when the
// system gives none).
std::string WindowsPath(const std::string& below = "");
std::string ShortForm(const std::string& path);

// A path as a script writes it in double quotes: each backslash doubled (values are read with escapes).
std::string ScriptPath(const std::string& path);

// The Unix path of a path in the prefix, through Wine's own export; empty elsewhere.
std::string ToUnixPath(const std::string& windowsPath);

// A path of this machine's own files (a Unix path) as a program in the prefix can reach it.
std::string FromUnixPath(const std::string& unixPath);

// Runs a program of the Unix side (Wine starts it directly) and waits until the file watched appears
// (or goes); false when it does not within ten seconds.
bool RunUnixTool(const char* program, const std::string& arguments, const std::string& watched, bool appears);

// A Unix symbolic link at link (a path in the prefix) to target, and its removal: the only kind of link
// to a folder that Wine can make and report (as a reparse point).
bool MakeUnixLink(const std::string& target, const std::string& link);
bool RemoveUnixLink(const std::string& link);

// A registry symbolic link at linkPath below root (HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE) that leads
// to targetPath below the same root.
bool MakeRegistryLink(HKEY root, const std::string& linkPath, const std::string& targetPath);

// The registry key that a copy of the self-registering test library at libraryPath deletes when it
// is unregistered (below HKEY_CURRENT_USER).
std::string LibraryKey(const std::string& libraryPath);

// Clean-up of a test's own registry entries: a key with everything in it, and a value.
void RemoveTestKey(HKEY root, const std::string& path);
void RemoveTestValue(HKEY key, const std::string& name);

// The system's shared DLL counts, below HKEY_LOCAL_MACHINE.
extern const char SHARED_DLLS_KEY[];
// Sets a REG_DWORD value, making the key on its way.
void SetDwordValue(HKEY root, const std::string& key, const std::string& name, DWORD value);
void SetStringValue(HKEY root, const std::string& key, const std::string& name, const std::string& text);
// A count as stored below HKEY_LOCAL_MACHINE: a REG_DWORD, or the number a REG_SZ holds; -1 when there
// is no such value.
long StoredCount(const std::string& key, const std::string& name);

// The prefix's temporary directory, with its trailing backslash.
std::string TempDirectory();

// A process handle that is ended and closed when the scope ends (or when Terminate is called).
class ProcessScope {
  public:
    explicit ProcessScope(HANDLE process) : process_(process) {}
    ~ProcessScope() { Terminate(); }
    ProcessScope(const ProcessScope&) = delete;
    ProcessScope& operator=(const ProcessScope&) = delete;
    void Terminate();

  private:
    HANDLE process_;
};

// How long a test waits for something that a busy machine (a build on every core) makes slow: a
// process to start and answer, a file to be held.
const DWORD LOADED_MACHINE_WAIT_MS = 120000;

// Starts the test build's child program holding path open without sharing for ms milliseconds, and
// returns its process handle once the holder says it holds the file (null when it could not).
// With program, that copy of the child program is the one started (it then runs from that file); how
// "read" holds it open for reading only, sharing everything.
HANDLE RunHolder(const std::string& path, DWORD ms, const std::string& program = "", const char* how = "hold");

// Waits until flag is set, at most timeoutMs; false when it was not.
bool WaitFor(const std::atomic<bool>& flag, DWORD timeoutMs = 10000);

// Runs fn on a new Win32 thread; the caller waits for the handle and closes it.
HANDLE StartThread(std::function<void()> fn);

// Waits for a thread started by StartThread and closes it; false when it did not end within timeoutMs.
bool JoinThread(HANDLE thread, DWORD timeoutMs = 20000);
