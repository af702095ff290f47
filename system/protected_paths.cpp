#include "system/protected_paths.h"

#include "support/guards.h"
#include "support/strings.h"

#include <shlobj.h>
#include <string.h>

namespace {

const int MAX_PLACES = 32;

struct Places {
    int count;
    char path[MAX_PLACES][MAX_PATH + 1];
};

Places g_places;
volatile LONG g_placesState = 0; // 0 not made, 1 being made, 2 made

// Adds a place without its trailing backslashes; empty texts are no place.
void Add(Places& p, const char* path)
{
    if (p.count >= MAX_PLACES || path == nullptr || path[0] == '\0') {
        return;
    }
    char* to = p.path[p.count];
    lstrcpynA(to, path, MAX_PATH + 1);
    size_t n = strlen(to);
    while (n > 0 && to[n - 1] == '\\') {
        to[--n] = '\0';
    }
    if (n != 0) {
        p.count++;
    }
}

void AddRegistryFolders(Places& p)
{
    RegKeyHandle key(OpenRegKeyRead(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion"));
    const char* const names[] = {"ProgramFilesDir", "ProgramFilesDir (x86)", "ProgramW6432Dir",
                                 "CommonFilesDir",  "CommonFilesDir (x86)",  "CommonW6432Dir"};
    for (const char* name : names) {
        char value[MAX_PATH + 1] = {};
        DWORD size = MAX_PATH, type = 0;
        if (key &&
            RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
            (type == REG_SZ || type == REG_EXPAND_SZ)) {
            Add(p, value);
        }
    }
}

void MakePlaces(Places& p)
{
    char path[MAX_PATH + 1];
    if (GetWindowsDirectoryA(path, MAX_PATH) != 0) {
        Add(p, path);
    }
    if (GetSystemDirectoryA(path, MAX_PATH) != 0) {
        Add(p, path);
    }
    if (GetTempPathA(MAX_PATH, path) != 0) {
        Add(p, path);
    }
    AddRegistryFolders(p);
    const int folders[] = {CSIDL_PROFILE,        CSIDL_STARTMENU,        CSIDL_COMMON_STARTMENU,
                           CSIDL_PROGRAMS,       CSIDL_COMMON_PROGRAMS,  CSIDL_STARTUP,
                           CSIDL_COMMON_STARTUP, CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY};
    for (int folder : folders) {
        if (SHGetSpecialFolderPathA(nullptr, path, folder, FALSE)) {
            Add(p, path);
        }
    }
}

// The places, made once per process (any thread may be first).
const Places& ThePlaces()
{
    for (;;) {
        LONG state = InterlockedCompareExchange(&g_placesState, 1, 0);
        if (state == 2) {
            return g_places;
        }
        if (state == 0) {
            Places made = {};
            MakePlaces(made);
            g_places = made;
            InterlockedExchange(&g_placesState, 2);
            return g_places;
        }
        Sleep(0); // another thread is making them
    }
}

// The path without trailing backslashes, into out; false when it does not fit.
bool Trimmed(const char* path, char* out, size_t size)
{
    size_t n = strlen(path);
    while (n > 0 && path[n - 1] == '\\') {
        n--;
    }
    if (n >= size) {
        return false;
    }
    memcpy(out, path, n);
    out[n] = '\0';
    return true;
}

// Drive roots ("C:", "C:\") and share roots ("\\server\share").
bool IsRoot(const char* trimmed)
{
    size_t n = strlen(trimmed);
    if (n == 0 || (n <= 2 && trimmed[n - 1] == ':')) {
        return true;
    }
    if (trimmed[0] == '\\' && trimmed[1] == '\\') {
        int separators = 0;
        for (size_t i = 2; i < n; i++) {
            separators += trimmed[i] == '\\' ? 1 : 0;
        }
        return separators <= 1;
    }
    return false;
}

// True when place lies in folder (both trimmed): folder is a leading part of it that ends at a
// backslash.
bool Holds(const char* folder, const char* place)
{
    size_t n = strlen(folder);
    if (strlen(place) <= n || place[n] != '\\') {
        return false;
    }
    char head[MAX_PATH + 1];
    memcpy(head, place, n);
    head[n] = '\0';
    return StrCompareNoCase(head, folder) == 0;
}

bool Check(const char* path, bool orHolds)
{
    char trimmed[MAX_PATH + 1];
    if (path == nullptr) {
        return true; // no path: nothing to delete
    }
    if (!Trimmed(path, trimmed, sizeof(trimmed))) {
        return false; // longer than any place: neither one of them nor holding one
    }
    if (IsRoot(trimmed)) {
        return true;
    }
    const Places& p = ThePlaces();
    for (int i = 0; i < p.count; i++) {
        if (StrCompareNoCase(p.path[i], trimmed) == 0 || (orHolds && Holds(trimmed, p.path[i]))) {
            return true;
        }
    }
    return false;
}

} // namespace

bool ShellPathIsProtected(const char* path)
{
    return Check(path, false);
}

bool PathHoldsSystemLocation(const char* path)
{
    return Check(path, true);
}
