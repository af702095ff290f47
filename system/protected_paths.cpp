#include "system/protected_paths.h"

#include "support/guards.h"
#include "system/gate_paths.h"

#include <shlobj.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

// What the system keeps in the Windows folder: these folders never go.
const char* const kWindowsPlaces[] = {"addins",
                                      "appcompat",
                                      "apppatch",
                                      "AppReadiness",
                                      "assembly",
                                      "Boot",
                                      "Branding",
                                      "Cursors",
                                      "debug",
                                      "Downloaded Program Files",
                                      "en-US",
                                      "Globalization",
                                      "Help",
                                      "IME",
                                      "ImmersiveControlPanel",
                                      "INF",
                                      "L2Schemas",
                                      "LiveKernelReports",
                                      "Logs",
                                      "Media",
                                      "Microsoft.NET",
                                      "Offline Web Pages",
                                      "Panther",
                                      "PLA",
                                      "PolicyDefinitions",
                                      "Prefetch",
                                      "Provisioning",
                                      "Registration",
                                      "rescache",
                                      "Resources",
                                      "SchCache",
                                      "schemas",
                                      "security",
                                      "ServiceProfiles",
                                      "ServiceState",
                                      "servicing",
                                      "Setup",
                                      "ShellNew",
                                      "SKB",
                                      "SoftwareDistribution",
                                      "Speech",
                                      "System",
                                      "SystemApps",
                                      "SystemResources",
                                      "Tasks",
                                      "Temp",
                                      "tracing",
                                      "twain_32",
                                      "Vss",
                                      "Web",
                                      "Installer",
                                      "Fonts",
                                      "command",
                                      "syswow64",
                                      "system32",
                                      "winsxs"};
// ... and these not, with everything in them.
const char* const kWindowsTrees[] = {"system32",  "syswow64", "sysnative", "winsxs",        "Fonts",
                                     "servicing", "assembly", "Installer", "Microsoft.NET", "Boot"};

// The known folders of a profile, below the profile folder (current and older layouts).
const char* const kProfilePlaces[] = {"Desktop",
                                      "Documents",
                                      "Downloads",
                                      "Music",
                                      "Pictures",
                                      "Videos",
                                      "Favorites",
                                      "Links",
                                      "Contacts",
                                      "Saved Games",
                                      "Searches",
                                      "Templates",
                                      "AppData",
                                      "AppData\\Roaming",
                                      "AppData\\Local",
                                      "AppData\\LocalLow",
                                      "AppData\\Local\\Temp",
                                      "AppData\\Local\\Microsoft",
                                      "AppData\\Roaming\\Microsoft",
                                      "AppData\\Roaming\\Microsoft\\Windows",
                                      "AppData\\Roaming\\Microsoft\\Windows\\Start Menu",
                                      "AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs",
                                      "AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup",
                                      "My Documents",
                                      "Application Data",
                                      "Local Settings",
                                      "Local Settings\\Application Data",
                                      "Local Settings\\Temp",
                                      "Start Menu",
                                      "Start Menu\\Programs",
                                      "Start Menu\\Programs\\Startup",
                                      "Recent",
                                      "SendTo",
                                      "NetHood",
                                      "PrintHood",
                                      "Cookies"};

// Special folders of the current user and of all users.
const int kSpecialFolders[] = {CSIDL_PROFILE,
                               CSIDL_DESKTOPDIRECTORY,
                               CSIDL_PERSONAL,
                               CSIDL_MYPICTURES,
                               CSIDL_MYMUSIC,
                               CSIDL_MYVIDEO,
                               CSIDL_APPDATA,
                               CSIDL_LOCAL_APPDATA,
                               CSIDL_STARTMENU,
                               CSIDL_PROGRAMS,
                               CSIDL_STARTUP,
                               CSIDL_TEMPLATES,
                               CSIDL_FAVORITES,
                               CSIDL_SENDTO,
                               CSIDL_RECENT,
                               CSIDL_NETHOOD,
                               CSIDL_PRINTHOOD,
                               CSIDL_COOKIES,
                               CSIDL_INTERNET_CACHE,
                               CSIDL_HISTORY,
                               CSIDL_ADMINTOOLS,
                               CSIDL_FONTS,
                               CSIDL_WINDOWS,
                               CSIDL_SYSTEM,
                               CSIDL_SYSTEMX86,
                               CSIDL_PROGRAM_FILES,
                               CSIDL_PROGRAM_FILESX86,
                               CSIDL_PROGRAM_FILES_COMMON,
                               CSIDL_PROGRAM_FILES_COMMONX86,
                               CSIDL_COMMON_APPDATA,
                               CSIDL_COMMON_DESKTOPDIRECTORY,
                               CSIDL_COMMON_DOCUMENTS,
                               CSIDL_COMMON_STARTMENU,
                               CSIDL_COMMON_PROGRAMS,
                               CSIDL_COMMON_STARTUP,
                               CSIDL_COMMON_TEMPLATES,
                               CSIDL_COMMON_ADMINTOOLS,
                               CSIDL_COMMON_MUSIC,
                               CSIDL_COMMON_PICTURES,
                               CSIDL_COMMON_VIDEO,
                               CSIDL_COMMON_FAVORITES};

// The shared data folder's own folders, below it.
const char* const kCommonDataPlaces[] = {"Microsoft",
                                         "Microsoft\\Windows",
                                         "Microsoft\\Windows\\Start Menu",
                                         "Microsoft\\Windows\\Start Menu\\Programs",
                                         "Package Cache",
                                         "Application Data",
                                         "Desktop",
                                         "Documents",
                                         "Start Menu",
                                         "Templates"};

const char kProfileList[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

struct Places {
    std::vector<std::string> exact; // upper case, normalised, no trailing backslash
    std::vector<std::string> trees;
};

Places* g_places = nullptr;
volatile LONG g_placesState = 0; // 0 not made, 1 being made, 2 made

// Adds a place in its normalised form, and where it is reached through a link, also the place the link
// leads to.
void Add(std::vector<std::string>& to, const std::string& path)
{
    std::string normal;
    GateVerdict verdict;
    if (path.empty() || !NormalisePath(path.c_str(), &normal, &verdict) ||
        PlaceRootLength(normal.c_str()) == normal.size()) {
        return;
    }
    to.push_back(UpperPath(normal));
    DWORD attributes = GetFileAttributesA(normal.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return;
    }
    KernelHandle place(CreateFileA(normal.c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    std::string reached;
    std::string target;
    if (place && ReachedPath(place.get(), true, &reached) && NormalisePath(reached.c_str(), &target, &verdict)) {
        to.push_back(UpperPath(target));
    }
}

std::string Joined(const std::string& folder, const char* name)
{
    return folder.empty() ? std::string() : folder + (folder.back() == '\\' ? "" : "\\") + name;
}

std::string ExpandedValue(HKEY key, const char* name)
{
    char value[MAX_PATH * 2] = {};
    char expanded[MAX_PATH * 2] = {};
    DWORD size = sizeof(value) - 1, type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return std::string();
    }
    DWORD n = ExpandEnvironmentStringsA(value, expanded, sizeof(expanded));
    return n != 0 && n <= sizeof(expanded) ? std::string(expanded) : std::string(value);
}

void AddProfile(Places& p, const std::string& profile)
{
    Add(p.exact, profile);
    for (const char* name : kProfilePlaces) {
        Add(p.exact, Joined(profile, name));
    }
}

// Every profile the system knows, the Users folder and the default and public profiles.
void AddProfiles(Places& p)
{
    RegKeyHandle list(OpenRegKeyRead(HKEY_LOCAL_MACHINE, kProfileList));
    if (!list) {
        return;
    }
    std::string users = ExpandedValue(list.get(), "ProfilesDirectory");
    Add(p.exact, users);
    for (const char* name : {"Default", "Public", "AllUsersProfile"}) {
        std::string profile = ExpandedValue(list.get(), name);
        if (!profile.empty() && profile.find('\\') == std::string::npos) {
            profile = Joined(users, profile.c_str());
        }
        if (!profile.empty()) {
            AddProfile(p, profile);
        }
    }
    for (DWORD i = 0;; i++) {
        char sid[MAX_PATH];
        DWORD size = sizeof(sid);
        if (RegEnumKeyExA(list.get(), i, sid, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        RegKeyHandle entry(OpenRegKeyRead(list.get(), sid));
        std::string profile = entry ? ExpandedValue(entry.get(), "ProfileImagePath") : std::string();
        if (!profile.empty()) {
            AddProfile(p, profile);
        }
    }
}

void AddProgramFolders(Places& p)
{
    RegKeyHandle key(OpenRegKeyRead(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion"));
    for (const char* name : {"ProgramFilesDir", "ProgramFilesDir (x86)", "ProgramW6432Dir", "CommonFilesDir",
                             "CommonFilesDir (x86)", "CommonW6432Dir"}) {
        if (key) {
            Add(p.exact, ExpandedValue(key.get(), name));
        }
    }
}

void MakePlaces(Places& p)
{
    char path[MAX_PATH + 1];
    if (GetTempPathA(MAX_PATH, path) != 0) {
        Add(p.exact, path);
    }
    for (int folder : kSpecialFolders) {
        if (SHGetSpecialFolderPathA(nullptr, path, folder, FALSE)) {
            Add(p.exact, path);
        }
    }
    if (SHGetSpecialFolderPathA(nullptr, path, CSIDL_PROFILE, FALSE)) {
        AddProfile(p, path);
    }
    if (SHGetSpecialFolderPathA(nullptr, path, CSIDL_COMMON_APPDATA, FALSE)) {
        for (const char* name : kCommonDataPlaces) {
            Add(p.exact, Joined(path, name));
        }
    }
    if (GetWindowsDirectoryA(path, MAX_PATH) != 0) {
        for (const char* name : kWindowsPlaces) {
            Add(p.exact, Joined(path, name));
        }
        for (const char* name : kWindowsTrees) {
            Add(p.trees, Joined(path, name));
        }
    }
    if (GetSystemDirectoryA(path, MAX_PATH) != 0) {
        Add(p.trees, path);
    }
    AddProgramFolders(p);
    AddProfiles(p);
}

// The places, made once per process (any thread may be first).
const Places& ThePlaces()
{
    for (;;) {
        LONG state = InterlockedCompareExchange(&g_placesState, 1, 0);
        if (state == 2) {
            return *g_places;
        }
        if (state == 0) {
            Places* made = new Places;
            MakePlaces(*made);
            g_places = made;
            InterlockedExchange(&g_placesState, 2);
            return *g_places;
        }
        Sleep(0); // another thread is making them
    }
}

// Whether inner lies in outer (both upper case, without trailing backslashes).
bool Inside(const std::string& inner, const std::string& outer)
{
    return inner.size() > outer.size() && inner[outer.size()] == '\\' && inner.compare(0, outer.size(), outer) == 0;
}

bool InTree(const Places& p, const std::string& upper)
{
    for (const std::string& tree : p.trees) {
        if (upper == tree || Inside(upper, tree)) {
            return true;
        }
    }
    return false;
}

} // namespace

bool PlaceIsSystemFile(const char* file)
{
    static const char* const names[] = {"WIN.INI",      "SYSTEM.INI",   "BOOT.INI",     "NTLDR",        "BOOTMGR",
                                        "NTDETECT.COM", "PAGEFILE.SYS", "HIBERFIL.SYS", "SWAPFILE.SYS", "CONFIG.SYS",
                                        "AUTOEXEC.BAT", "IO.SYS",       "MSDOS.SYS",    "NTUSER.DAT",   "NTUSER.INI",
                                        "USRCLASS.DAT", "DESKTOP.INI",  "BOOTSECT.BAK", "SYSTEM.DAT",   "USER.DAT"};
    // Folders whose every file is the system's.
    static const char* const folders[] = {"\\DRIVERS\\ETC", "\\SYSTEM32\\CONFIG", "\\SYSWOW64\\CONFIG"};
    std::string upper = file != nullptr ? UpperPath(file) : std::string();
    size_t slash = upper.rfind('\\');
    if (slash == std::string::npos) {
        return false;
    }
    std::string folder = upper.substr(0, slash), name = upper.substr(slash + 1);
    for (const char* f : folders) {
        size_t n = strlen(f);
        if (folder.size() >= n && folder.compare(folder.size() - n, n, f) == 0) {
            return true;
        }
    }
    for (const char* n : names) {
        if (name == n || (name.compare(0, strlen(n), n) == 0 && name.compare(0, 10, "NTUSER.DAT") == 0)) {
            return true; // the hive's logs too ("NTUSER.DAT.LOG1")
        }
    }
    return false;
}

size_t PlaceRootLength(const char* path)
{
    if (path == nullptr) {
        return 0;
    }
    size_t n = strlen(path);
    if (n >= 3 && path[1] == ':' && path[2] == '\\') {
        return 3;
    }
    if (n < 5 || path[0] != '\\' || path[1] != '\\') {
        return 0;
    }
    const char* server = strchr(path + 2, '\\');
    const char* share = server != nullptr ? strchr(server + 1, '\\') : nullptr;
    return share != nullptr ? static_cast<size_t>(share - path) + 1 : n;
}

bool PlaceIsProtected(const char* folder)
{
    if (folder == nullptr || PlaceRootLength(folder) >= strlen(folder)) {
        return true; // a root, or no path at all
    }
    const Places& p = ThePlaces();
    std::string upper = UpperPath(folder);
    if (InTree(p, upper)) {
        return true;
    }
    for (const std::string& place : p.exact) {
        if (upper == place || Inside(place, upper)) {
            return true;
        }
    }
    for (const std::string& tree : p.trees) {
        if (Inside(tree, upper)) {
            return true;
        }
    }
    return false;
}

bool PlaceKeepsFoundFiles(const char* folder)
{
    if (folder == nullptr || PlaceRootLength(folder) >= strlen(folder)) {
        return true;
    }
    const Places& p = ThePlaces();
    std::string upper = UpperPath(folder);
    if (InTree(p, upper)) {
        return true;
    }
    for (const std::string& place : p.exact) {
        if (upper == place) {
            return true;
        }
    }
    return false;
}
