#include "data/discovery.h"

#include "data/cdf.h"
#include "data/config_text.h"
#include "engine/uninstall_callback.h"
#include "script/object_registry.h"
#include "script/script_parser.h"
#include "support/memory.h"
#include "support/strings.h"

#include <string.h>

namespace {

// Configuration texts larger than this are not read: no product's configuration comes near it.
const DWORD LARGEST_TEXT = 64u << 20;
const UINT32 VERSION_FILE_LIMIT = 259;

const char* DefaultName(UINT32 kind)
{
    switch (kind) {
    case FIND_STRUCTURE:
        return "Struct.cfg";
    case FIND_AUTORUN:
    case FIND_AUTORUN_OR_STRUCTURE:
        return "Autorun.cfg";
    default:
        return "";
    }
}

bool HasHeader(const char* bytes, UINT32 size, const char* header)
{
    return size >= 4 && memcmp(bytes, header, 4) == 0;
}

// The directory of the running program, with its trailing backslash.
char* ProgramDirectory()
{
    char path[MAX_PATH + 1] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        return nullptr;
    }
    PathCopyDirectory(path, sizeof(path), path);
    return MemCopyText(path);
}

// Reads a whole open file from its start; null when it is too large or a read falls short.
char* ReadWhole(HANDLE file, UINT32* size)
{
    *size = 0;
    DWORD high = 0;
    DWORD length = GetFileSize(file, &high);
    if (length == INVALID_FILE_SIZE || high != 0 || length > LARGEST_TEXT) {
        return nullptr;
    }
    char* text = static_cast<char*>(MemAlloc(length + 4));
    DWORD got = 0;
    if (text == nullptr || SetFilePointer(file, 0, nullptr, FILE_BEGIN) != 0 ||
        (length != 0 && (!ReadFile(file, text, length, &got, nullptr) || got != length))) {
        MemFree(text);
        return nullptr;
    }
    *size = length;
    return text;
}

// One search's fixed inputs and what it has found so far.
struct Search {
    const char* searchPath;
    UINT32 flags;
    UINT32 kind;
    UINT32 scriptBits;
    const char* version;
    char** outPath;
    UINT32* outFlags;
    char** outText;
    UINT32* outLength;
    bool textWanted;
    bool checkInstalled;
};

// The kind decision on a candidate's bytes; for an autorun text that names a structure file under
// kind 0x30, *nested receives the nested search's result (the outs then belong to it).
int Decide(const Search& s, const char* text, UINT32 size, const char* configPath, int* nested)
{
    *nested = 0;
    bool headerOnly = (s.flags & FIND_HEADER_ONLY) != 0;
    switch (s.kind) {
    case FIND_AUTORUN:
        if (!HasHeader(text, size, "[CFG")) {
            return FIND_NOT_FOUND;
        }
        return headerOnly || ResolveCfgStructure(text, size, s.scriptBits, configPath, nullptr, nullptr) ? FIND_OK
                                                                                                          : FIND_NOT_FOUND;
    case FIND_STRUCTURE:
    case FIND_AUTORUN_OR_STRUCTURE:
        if (HasHeader(text, size, "[SSC")) {
            return headerOnly || CheckScriptKind(text, size, s.scriptBits) ? FIND_OK : FIND_NOT_FOUND;
        }
        if (s.kind == FIND_AUTORUN_OR_STRUCTURE && HasHeader(text, size, "[CFG")) {
            char* name = nullptr;
            if (ResolveCfgStructure(text, size, s.scriptBits, configPath, nullptr, &name)) {
                *nested = FindConfiguration(s.searchPath, name, s.flags & ~FIND_AUTORUN, s.version, s.outPath,
                                            s.outFlags, s.outText, s.outLength);
                MemFree(name);
                return *nested;
            }
        }
        return FIND_NOT_FOUND;
    default:
        return FIND_OK;
    }
}

// A nested search that did not find leaves nothing behind in the outs.
void ClearOuts(const Search& s)
{
    if (s.outPath != nullptr) {
        MemFree(*s.outPath);
        *s.outPath = nullptr;
    }
    if (s.outText != nullptr) {
        MemFree(*s.outText);
        *s.outText = nullptr;
    }
    if (s.outLength != nullptr) {
        *s.outLength = 0;
    }
    if (s.outFlags != nullptr) {
        *s.outFlags &= ~FOUND_IN_CONTAINER;
    }
}

} // namespace

int FindConfiguration(const char* searchPath, const char* fileNameArg, UINT32 flags, const char* version, char** outPath,
                      UINT32* outFlags, char** outText, UINT32* outLength)
{
    if (outPath != nullptr) {
        *outPath = nullptr;
    }
    if (outFlags != nullptr) {
        *outFlags &= ~FOUND_IN_CONTAINER;
    }
    if (outText != nullptr) {
        *outText = nullptr;
    }
    if (outLength != nullptr) {
        *outLength = 0;
    }
    Search s = {searchPath, flags, flags & FIND_KIND_MASK, flags & SCRIPT_KIND_MASK, version,
                outPath,    outFlags, outText, outLength,
                outText != nullptr && outLength != nullptr && !(flags & FIND_NO_OUTPUT),
                (flags & FIND_INSTALLED) != 0 && (flags & FIND_STRUCTURE) != 0};

    // The directory, and the last components of the search path and of the file name.
    char dir[MAX_PATH + 1] = {}, baseName[MAX_PATH + 1] = {}, fileName[MAX_PATH + 1] = {};
    if (searchPath != nullptr && searchPath[0] != '\0') {
        if (!PathCopyDirectory(dir, sizeof(dir), searchPath) || !PathCopyFileName(baseName, sizeof(baseName), searchPath)) {
            return FIND_NOT_FOUND;
        }
    }
    if (dir[0] == '\0') {
        char* own = ProgramDirectory();
        if (own == nullptr) {
            return FIND_NOT_FOUND;
        }
        lstrcpynA(dir, own, sizeof(dir));
        MemFree(own);
    }
    if (fileNameArg != nullptr && !PathCopyFileName(fileName, sizeof(fileName), fileNameArg)) {
        return FIND_NOT_FOUND;
    }
    char containerPattern[MAX_PATH + 1], filePattern[MAX_PATH + 1], wantedName[MAX_PATH + 1];
    lstrcpynA(containerPattern, baseName[0] != '\0' ? baseName : "*.*", sizeof(containerPattern));
    lstrcpynA(filePattern, fileName[0] != '\0' ? fileName : baseName[0] != '\0' ? baseName : "*.*", sizeof(filePattern));
    lstrcpynA(wantedName, fileName[0] != '\0' ? fileName : DefaultName(s.kind), sizeof(wantedName));

    int result = FIND_NOT_FOUND;
    char foundName[MAX_PATH + 1] = {};
    char* keptText = nullptr;
    UINT32 keptSize = 0;

    // Stage 1: plain files.
    char* pattern = PathJoin(dir, filePattern, false);
    WIN32_FIND_DATAA found;
    HANDLE find = pattern != nullptr ? FindFirstFileA(pattern, &found) : INVALID_HANDLE_VALUE;
    MemFree(pattern);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                continue;
            }
            char* path = PathJoin(dir, found.cFileName, false);
            HANDLE file = path != nullptr ? CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                        FILE_ATTRIBUTE_NORMAL, nullptr)
                                          : INVALID_HANDLE_VALUE;
            char header[4] = {};
            DWORD got = 0;
            if (file == INVALID_HANDLE_VALUE || !ReadFile(file, header, 4, &got, nullptr) || got != 4) {
                if (file != INVALID_HANDLE_VALUE) {
                    CloseHandle(file);
                }
                MemFree(path);
                continue;
            }
            char* text = nullptr;
            UINT32 size = 0;
            bool needsText = !(flags & FIND_HEADER_ONLY) &&
                             (s.kind == FIND_AUTORUN || s.kind == FIND_STRUCTURE || s.kind == FIND_AUTORUN_OR_STRUCTURE) &&
                             (HasHeader(header, 4, "[SSC") || HasHeader(header, 4, "[CFG"));
            if (s.kind == FIND_AUTORUN_OR_STRUCTURE && HasHeader(header, 4, "[CFG")) {
                needsText = true; // an autorun text is always read for the structure file it names
            }
            if (needsText) {
                text = ReadWhole(file, &size);
            }
            int nested = 0;
            result = text != nullptr ? Decide(s, text, size, path, &nested)
                                     : Decide(s, header, needsText ? 0 : 4, path, &nested);
            if (nested == FIND_OK) {
                // The structure file named by an autorun text was found; the outs are its.
                MemFree(text);
                CloseHandle(file);
                MemFree(path);
                FindClose(find);
                return FIND_OK;
            }
            if (nested != 0) {
                ClearOuts(s);
            }
            if (result != FIND_OK) {
                result = FIND_NOT_FOUND;
            }
            if (result != FIND_OK && HasHeader(header, 4, "CDF9")) {
                // A file name that names a container: stage 2 looks inside it for the default name.
                if (StrCompareNoCase(found.cFileName, filePattern) == 0 ||
                    StrCompareNoCase(found.cAlternateFileName, filePattern) == 0) {
                    lstrcpynA(containerPattern, filePattern, sizeof(containerPattern));
                    if (StrCompareNoCase(wantedName, filePattern) == 0) {
                        lstrcpynA(wantedName, DefaultName(s.kind), sizeof(wantedName));
                    }
                }
            }
            if (result == FIND_OK) {
                if ((s.textWanted || s.checkInstalled) && text == nullptr) {
                    text = ReadWhole(file, &size);
                    if (text == nullptr) {
                        result = FIND_NOT_FOUND;
                    }
                }
                if (result == FIND_OK && s.checkInstalled && !CheckInstalledProduct(text, size, path)) {
                    result = FIND_NOT_FOUND;
                }
                if (result == FIND_OK) {
                    lstrcpynA(foundName, found.cFileName, sizeof(foundName));
                }
            }
            if (result == FIND_OK && s.textWanted) {
                keptText = text;
                keptSize = size;
                text = nullptr;
            }
            MemFree(text);
            CloseHandle(file);
            MemFree(path);
        } while (result != FIND_OK && wantedName[0] != '\0' && FindNextFileA(find, &found));
        FindClose(find);
    }

    // Stage 2: inside containers.
    if (result != FIND_OK && wantedName[0] != '\0') {
        result = FIND_NOT_FOUND;
        pattern = PathJoin(dir, containerPattern, false);
        find = pattern != nullptr ? FindFirstFileA(pattern, &found) : INVALID_HANDLE_VALUE;
        MemFree(pattern);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    continue;
                }
                char* path = PathJoin(dir, found.cFileName, false);
                CdfArchive* archive = path != nullptr ? CdfOpen(path) : nullptr;
                UINT32 size = archive != nullptr ? CdfEntrySize(archive, wantedName) : 0;
                char* text = size != 0 && size <= LARGEST_TEXT ? static_cast<char*>(MemAlloc(size + 4)) : nullptr;
                if (text == nullptr || !CdfReadEntry(archive, wantedName, text)) {
                    MemFree(text);
                    CdfClose(archive);
                    MemFree(path);
                    continue;
                }
                int nested = 0;
                int r = Decide(s, text, size, path, &nested);
                if (nested == FIND_OK) {
                    MemFree(text);
                    CdfClose(archive);
                    MemFree(path);
                    FindClose(find);
                    MemFree(keptText);
                    return FIND_OK;
                }
                if (nested != 0) {
                    ClearOuts(s);
                    if (result == FIND_WRONG_VERSION && outFlags != nullptr) {
                        *outFlags |= FOUND_IN_CONTAINER; // an earlier container's outcome stands
                    }
                }
                if (r != FIND_OK) {
                    r = FIND_NOT_FOUND;
                }
                if (r == FIND_OK && s.checkInstalled && !CheckInstalledProduct(text, size, path)) {
                    r = FIND_NOT_FOUND;
                }
                if (r == FIND_OK && version != nullptr && version[0] != '\0') {
                    // The container's setup data must be of the installed version.
                    r = FIND_WRONG_VERSION;
                    UINT32 versionSize = CdfEntrySize(archive, "Version.txt");
                    char stored[VERSION_FILE_LIMIT + 1] = {};
                    if (versionSize != 0 && versionSize < VERSION_FILE_LIMIT &&
                        CdfReadEntry(archive, "Version.txt", stored) && strcmp(stored, version) == 0) {
                        r = FIND_OK;
                    }
                }
                if (r != FIND_NOT_FOUND) {
                    result = r;
                    lstrcpynA(foundName, found.cFileName, sizeof(foundName));
                    if (outFlags != nullptr) {
                        *outFlags |= FOUND_IN_CONTAINER;
                    }
                    MemFree(keptText);
                    keptText = nullptr;
                    if (s.textWanted) {
                        keptText = text;
                        keptSize = size;
                        text = nullptr;
                    }
                }
                MemFree(text);
                CdfClose(archive);
                MemFree(path);
            } while (result != FIND_OK && wantedName[0] != '\0' && FindNextFileA(find, &found));
            FindClose(find);
        }
    }

    if (result != FIND_NOT_FOUND && !(flags & FIND_NO_OUTPUT)) {
        if (outPath != nullptr) {
            *outPath = PathJoin(dir, foundName, false);
            if (*outPath == nullptr) {
                result = FIND_NOT_FOUND;
                if (outFlags != nullptr) {
                    *outFlags &= ~FOUND_IN_CONTAINER;
                }
            }
        }
        if (result != FIND_NOT_FOUND && keptText != nullptr && outText != nullptr && outLength != nullptr) {
            *outText = keptText;
            *outLength = keptSize;
            keptText = nullptr;
        }
    }
    MemFree(keptText);
    return result;
}

int ResolveCfgStructure(const char* text, UINT32 size, UINT32 scriptBits, const char* configPath,
                        const char* version, char** outName)
{
    if (outName != nullptr) {
        *outName = nullptr;
    }
    ConfigText ct;
    if (text == nullptr || size == 0 || !ConfigTextOpen(text, size, 0, &ct)) {
        return 0;
    }
    int section = ConfigTextFindSection(&ct, "CFG");
    if (section < 0) {
        return 0;
    }
    ct.cursor = static_cast<UINT32>(section);
    char name[MAX_PATH] = "Struct.cfg";
    char key[MAX_PATH];
    while (ConfigTextReadKey(&ct, key, sizeof(key)) >= 0) {
        if (strcmp(key, "__structure") != 0) {
            continue;
        }
        char value[MAX_PATH];
        if (ConfigTextReadValue(&ct, value, sizeof(value), CONFIG_TEXT_ESCAPES) < 0) {
            continue;
        }
        if (strcmp(value, "DEFAULT") == 0) {
            lstrcpynA(name, "Struct.cfg", sizeof(name));
        } else if (strcmp(value, "AUTORUN") == 0) {
            name[0] = '\0';
            if (configPath != nullptr) {
                PathCopyFileName(name, sizeof(name), configPath);
            }
            if (name[0] == '\0') {
                lstrcpynA(name, "Autorun.cfg", sizeof(name));
            }
        } else {
            lstrcpynA(name, value, sizeof(name));
        }
    }
    if (name[0] == '\0') {
        return 0;
    }
    if (configPath != nullptr &&
        FindConfiguration(configPath, name, scriptBits | FIND_STRUCTURE, version, nullptr, nullptr, nullptr, nullptr) !=
            FIND_OK) {
        return 0;
    }
    if (outName != nullptr) {
        *outName = MemCopyText(name);
        if (*outName == nullptr) {
            return 0;
        }
    }
    return 1;
}

int CheckScriptKind(const char* text, UINT32 size, UINT32 scriptBits)
{
    ConfigText ct;
    if (text == nullptr || size == 0 || !ConfigTextOpen(text, size, 0, &ct)) {
        return 0;
    }
    int section = ConfigTextFindSection(&ct, "SSCRIPT");
    if (section < 0) {
        return 0;
    }
    ct.cursor = static_cast<UINT32>(section);
    UINT32 marks = 0;
    char key[MAX_PATH];
    while (ConfigTextReadKey(&ct, key, sizeof(key)) >= 0) {
        if (strcmp(key, "_flags") != 0) {
            continue;
        }
        char value[MAX_PATH];
        for (;;) {
            UINT32 before = ct.cursor;
            int n = ConfigTextReadValue(&ct, value, sizeof(value), CONFIG_TEXT_ESCAPES);
            if (n < 0 || (n == 0 && ct.cursor == before)) {
                break;
            }
            if (strcmp(value, "_UPDATE") == 0) {
                marks |= SCRIPT_UPDATE;
            } else if (strcmp(value, "_REMOVE") == 0) {
                marks |= SCRIPT_REMOVE;
            }
        }
    }
    return marks == (scriptBits & SCRIPT_KIND_MASK) ? 1 : 0;
}

int CheckInstalledProduct(const char* text, UINT32 size, const char* path)
{
    if (text == nullptr || size == 0) {
        return 0;
    }
    DatabaseHandle db = CreateObjectDatabase("MAIN_INSTALLED", nullptr, UninstallCallback);
    if (db == 0) {
        return 0;
    }
    ParseScript(db, text, size);
    char* remove = ReadItemString(FindObjectByName(db, "REMOVE"));
    int result = remove != nullptr && (path == nullptr || StrCompareNoCase(remove, path) == 0) ? 1 : 0;
    MemFree(remove);
    CloseObjectDatabase(db);
    return result;
}
