#include "system/protected_keys.h"

#include <string.h>

#include <vector>

namespace {

struct RootName {
    const char* longName;
    const char* shortName;
};

const RootName kRoots[] = {{"HKEY_LOCAL_MACHINE", "HKLM"},
                           {"HKEY_CURRENT_USER", "HKCU"},
                           {"HKEY_CLASSES_ROOT", "HKCR"},
                           {"HKEY_USERS", "HKU"},
                           {"HKEY_CURRENT_CONFIG", "HKCC"}};

// Below a software key (HKLM\SOFTWARE, its WOW6432Node, a user's Software), in upper case.
const char* const kSoftwareKeys[] = {"MICROSOFT",
                                     "POLICIES",
                                     "CLIENTS",
                                     "REGISTEREDAPPLICATIONS",
                                     "ODBC",
                                     "WINE",
                                     "POLICIES\\MICROSOFT",
                                     "MICROSOFT\\WINDOWS",
                                     "MICROSOFT\\WINDOWS\\CURRENTVERSION",
                                     "MICROSOFT\\WINDOWS NT",
                                     "MICROSOFT\\WINDOWS NT\\CURRENTVERSION",
                                     "MICROSOFT\\ACTIVE SETUP",
                                     "MICROSOFT\\ACTIVE SETUP\\INSTALLED COMPONENTS",
                                     "MICROSOFT\\CRYPTOGRAPHY",
                                     "MICROSOFT\\INTERNET EXPLORER",
                                     "MICROSOFT\\.NETFRAMEWORK",
                                     "MICROSOFT\\OLE",
                                     "MICROSOFT\\COM3",
                                     "MICROSOFT\\CTF",
                                     "MICROSOFT\\SHARED TOOLS",
                                     "MICROSOFT\\WINDOWS SCRIPT HOST",
                                     "MICROSOFT\\WINDOWS DEFENDER",
                                     "MICROSOFT\\WINDOWS\\CURRENTVERSION\\UNINSTALL",
                                     "MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUN",
                                     "MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUNONCE",
                                     "MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUNONCEEX",
                                     "MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUNSERVICES",
                                     "MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUNSERVICESONCE",
                                     "MICROSOFT\\WINDOWS\\CURRENTVERSION\\SHAREDDLLS",
                                     "MICROSOFT\\WINDOWS\\CURRENTVERSION\\APP PATHS",
                                     "MICROSOFT\\WINDOWS\\CURRENTVERSION\\EXPLORER",
                                     "MICROSOFT\\WINDOWS\\CURRENTVERSION\\POLICIES",
                                     "MICROSOFT\\WINDOWS\\CURRENTVERSION\\SHELL EXTENSIONS",
                                     "MICROSOFT\\WINDOWS\\CURRENTVERSION\\INSTALLER",
                                     "MICROSOFT\\WINDOWS\\CURRENTVERSION\\SETUP",
                                     "MICROSOFT\\WINDOWS\\CURRENTVERSION\\INTERNET SETTINGS",
                                     "MICROSOFT\\WINDOWS\\CURRENTVERSION\\WINDOWSUPDATE",
                                     "MICROSOFT\\WINDOWS\\CURRENTVERSION\\AUTHENTICATION",
                                     "MICROSOFT\\WINDOWS\\CURRENTVERSION\\GROUP POLICY",
                                     "MICROSOFT\\WINDOWS\\CURRENTVERSION\\COMPONENT BASED SERVICING",
                                     "MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\WINLOGON",
                                     "MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\PROFILELIST",
                                     "MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\FONTS",
                                     "MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\IMAGE FILE EXECUTION OPTIONS",
                                     "MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\APPCOMPATFLAGS",
                                     "MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\SVCHOST",
                                     "MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\WINDOWS"};

// Below a classes root (HKCR, SOFTWARE\Classes of either hive): the system's own classes and types.
const char* const kClassesKeys[] = {"CLSID",
                                    "INTERFACE",
                                    "TYPELIB",
                                    "APPID",
                                    "RECORD",
                                    "COMPONENT CATEGORIES",
                                    "*",
                                    "ALLFILESYSTEMOBJECTS",
                                    "DIRECTORY",
                                    "DRIVE",
                                    "FOLDER",
                                    "NETWORK",
                                    "UNKNOWN",
                                    "INSTALLER",
                                    "SYSTEMFILEASSOCIATIONS",
                                    "APPLICATIONS",
                                    "PROTOCOLS",
                                    "MIME",
                                    "EXEFILE",
                                    "DLLFILE",
                                    "TXTFILE",
                                    "LNKFILE",
                                    "BATFILE",
                                    "CMDFILE",
                                    "COMFILE",
                                    "INIFILE",
                                    "INFFILE",
                                    "REGFILE",
                                    "HTMLFILE",
                                    "HTTP",
                                    "HTTPS",
                                    "FTP",
                                    "MAILTO",
                                    "FILE",
                                    ".EXE",
                                    ".DLL",
                                    ".COM",
                                    ".BAT",
                                    ".CMD",
                                    ".LNK",
                                    ".TXT",
                                    ".INI",
                                    ".INF",
                                    ".REG",
                                    ".SYS",
                                    ".HTM",
                                    ".HTML",
                                    ".URL",
                                    ".ZIP",
                                    ".MSI",
                                    ".VBS",
                                    ".JS",
                                    ".XML",
                                    ".JPG",
                                    ".PNG",
                                    ".GIF",
                                    ".BMP",
                                    ".ICO",
                                    ".SCR",
                                    ".CPL",
                                    ".MSC",
                                    ".PS1"};

// Directly below a user's root.
const char* const kUserKeys[] = {
    "CONTROL PANEL", "ENVIRONMENT", "CONSOLE", "KEYBOARD LAYOUT",      "PRINTERS", "NETWORK",
    "APPEVENTS",     "IDENTITIES",  "SYSTEM",  "VOLATILE ENVIRONMENT", "EUDC",     "SESSION INFORMATION"};

typedef std::vector<std::string> Parts;

template <size_t N>
bool Listed(const char* const (&list)[N], const std::string& name)
{
    for (const char* entry : list) {
        if (name == entry) {
            return true;
        }
    }
    return false;
}

std::string Joined(const Parts& parts, size_t from)
{
    std::string text;
    for (size_t i = from; i < parts.size(); i++) {
        text += (i > from ? "\\" : "") + parts[i];
    }
    return text;
}

bool ClassesProtected(const Parts& p, size_t at)
{
    if (at >= p.size()) {
        return true;
    }
    if (p[at] == "WOW6432NODE") {
        return ClassesProtected(p, at + 1);
    }
    return p.size() == at + 1 && Listed(kClassesKeys, p[at]);
}

bool SoftwareProtected(const Parts& p, size_t at)
{
    if (at >= p.size()) {
        return true;
    }
    if (p[at] == "CLASSES") {
        return ClassesProtected(p, at + 1);
    }
    if (p[at] == "WOW6432NODE") {
        return SoftwareProtected(p, at + 1);
    }
    return Listed(kSoftwareKeys, Joined(p, at));
}

bool UserProtected(const Parts& p, size_t at)
{
    if (at >= p.size()) {
        return true;
    }
    if (p[at] == "SOFTWARE") {
        return SoftwareProtected(p, at + 1);
    }
    return p.size() == at + 1 && Listed(kUserKeys, p[at]);
}

bool EndsWith(const std::string& text, const char* tail)
{
    size_t n = strlen(tail);
    return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

} // namespace

bool NormaliseKeyPath(const char* keyPath, std::string* out)
{
    if (keyPath == nullptr) {
        return false;
    }
    Parts parts;
    for (const char* at = keyPath; *at != '\0';) {
        const char* end = strchr(at, '\\');
        size_t n = end != nullptr ? static_cast<size_t>(end - at) : strlen(at);
        if (n != 0) {
            parts.emplace_back(at, n);
        }
        at += n + (end != nullptr ? 1 : 0);
    }
    if (parts.empty()) {
        return false;
    }
    for (const RootName& root : kRoots) {
        if (_stricmp(parts[0].c_str(), root.longName) == 0 || _stricmp(parts[0].c_str(), root.shortName) == 0) {
            parts[0] = root.longName;
            *out = Joined(parts, 0);
            return true;
        }
    }
    return false;
}

bool KeyIsProtected(const std::string& normalisedKeyPath)
{
    std::string upper(normalisedKeyPath);
    CharUpperBuffA(&upper[0], static_cast<DWORD>(upper.size()));
    Parts p;
    for (size_t at = 0; at <= upper.size();) {
        size_t end = upper.find('\\', at);
        end = end == std::string::npos ? upper.size() : end;
        p.push_back(upper.substr(at, end - at));
        at = end + 1;
    }
    if (p.size() < 2) {
        return true; // a root
    }
    const std::string& root = p[0];
    if (root == "HKEY_LOCAL_MACHINE") {
        // Everything of the machine's hive but its software belongs to the system.
        return p[1] != "SOFTWARE" || SoftwareProtected(p, 2);
    }
    if (root == "HKEY_CURRENT_USER") {
        return UserProtected(p, 1);
    }
    if (root == "HKEY_CLASSES_ROOT") {
        return ClassesProtected(p, 1);
    }
    if (root == "HKEY_USERS") {
        if (p.size() == 2) {
            return true; // a user's root
        }
        return EndsWith(p[1], "_CLASSES") ? ClassesProtected(p, 2) : UserProtected(p, 2);
    }
    return true; // the current configuration, or a root this list does not know
}
