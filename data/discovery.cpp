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

namespace {

// Where one search looks and what it looks for.
struct Patterns {
    char dir[MAX_PATH + 1];
    char containerPattern[MAX_PATH + 1];
    char filePattern[MAX_PATH + 1];
    char wantedName[MAX_PATH + 1];
};

// What a search has found so far: its result, the name of the file or container, the text kept for
// the caller.
struct Outcome {
    int result = FIND_NOT_FOUND;
    char foundName[MAX_PATH + 1] = {};
    char* keptText = nullptr;
    UINT32 keptSize = 0;

    ~Outcome() { MemFree(keptText); }
    void Found(int r, const char* name)
    {
        result = r;
        lstrcpynA(foundName, name, sizeof(foundName));
    }
    void Keep(char** text, UINT32 size)
    {
        MemFree(keptText);
        keptText = *text;
        keptSize = size;
        *text = nullptr;
    }
};

// The enumeration of one pattern; entries that are folders are passed over.
class Entries {
public:
    Entries(const char* dir, const char* pattern)
    {
        char* full = PathJoin(dir, pattern, false);
        find_ = full != nullptr ? FindFirstFileA(full, &found_) : INVALID_HANDLE_VALUE;
        MemFree(full);
        first_ = true;
    }
    ~Entries()
    {
        if (find_ != INVALID_HANDLE_VALUE) {
            FindClose(find_);
        }
    }
    Entries(const Entries&) = delete;
    Entries& operator=(const Entries&) = delete;

    const WIN32_FIND_DATAA* Next()
    {
        if (find_ == INVALID_HANDLE_VALUE) {
            return nullptr;
        }
        for (;;) {
            if (!first_ && !FindNextFileA(find_, &found_)) {
                return nullptr;
            }
            first_ = false;
            if (!(found_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                return &found_;
            }
        }
    }

private:
    HANDLE find_;
    WIN32_FIND_DATAA found_;
    bool first_;
};

// A heap text and a file or container that go with the scope.
struct HeapText {
    char* text = nullptr;
    ~HeapText() { MemFree(text); }
};

// Stage 1, one plain file. Returns true when a nested search (an autorun text naming its structure
// file) found: the outs are then that search's and nothing more is to be done.
bool ExaminePlainFile(const Search& s, Patterns& p, const WIN32_FIND_DATAA& entry, Outcome& o)
{
    HeapText path;
    path.text = PathJoin(p.dir, entry.cFileName, false);
    HANDLE file = path.text != nullptr ? CreateFileA(path.text, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                     FILE_ATTRIBUTE_NORMAL, nullptr)
                                       : INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    char header[4] = {};
    DWORD got = 0;
    if (!ReadFile(file, header, 4, &got, nullptr) || got != 4) {
        CloseHandle(file);
        return false;
    }
    HeapText text;
    UINT32 size = 0;
    bool structureKind = s.kind == FIND_AUTORUN || s.kind == FIND_STRUCTURE || s.kind == FIND_AUTORUN_OR_STRUCTURE;
    bool configHeader = HasHeader(header, 4, "[SSC") || HasHeader(header, 4, "[CFG");
    // An autorun text is always read for the structure file it names.
    bool needsText = structureKind && configHeader &&
                     (!(s.flags & FIND_HEADER_ONLY) || (s.kind == FIND_AUTORUN_OR_STRUCTURE && HasHeader(header, 4, "[CFG")));
    if (needsText) {
        text.text = ReadWhole(file, &size);
    }
    int nested = 0;
    int result = text.text != nullptr ? Decide(s, text.text, size, path.text, &nested)
                                      : Decide(s, header, needsText ? 0 : 4, path.text, &nested);
    if (nested == FIND_OK) {
        CloseHandle(file);
        return true;
    }
    if (nested != 0) {
        ClearOuts(s);
    }
    if (result != FIND_OK) {
        result = FIND_NOT_FOUND;
        // A file name that names a container: stage 2 looks inside it for the default name.
        if (HasHeader(header, 4, "CDF9") && (StrCompareNoCase(entry.cFileName, p.filePattern) == 0 ||
                                             StrCompareNoCase(entry.cAlternateFileName, p.filePattern) == 0)) {
            lstrcpynA(p.containerPattern, p.filePattern, sizeof(p.containerPattern));
            if (StrCompareNoCase(p.wantedName, p.filePattern) == 0) {
                lstrcpynA(p.wantedName, DefaultName(s.kind), sizeof(p.wantedName));
            }
        }
    }
    if (result == FIND_OK && (s.textWanted || s.checkInstalled) && text.text == nullptr) {
        text.text = ReadWhole(file, &size);
        if (text.text == nullptr) {
            result = FIND_NOT_FOUND;
        }
    }
    if (result == FIND_OK && s.checkInstalled && !CheckInstalledProduct(text.text, size, path.text)) {
        result = FIND_NOT_FOUND;
    }
    o.result = result;
    if (result == FIND_OK) {
        o.Found(result, entry.cFileName);
        if (s.textWanted) {
            o.Keep(&text.text, size);
        }
    }
    CloseHandle(file);
    return false;
}

// Stage 2, one container. Returns true when a nested search found (the outs are its).
bool ExamineContainer(const Search& s, const Patterns& p, const WIN32_FIND_DATAA& entry, Outcome& o)
{
    HeapText path;
    path.text = PathJoin(p.dir, entry.cFileName, false);
    CdfArchive* archive = path.text != nullptr ? CdfOpen(path.text) : nullptr;
    UINT32 size = archive != nullptr ? CdfEntrySize(archive, p.wantedName) : 0;
    HeapText text;
    text.text = size != 0 && size <= LARGEST_TEXT ? static_cast<char*>(MemAlloc(size + 4)) : nullptr;
    if (text.text == nullptr || !CdfReadEntry(archive, p.wantedName, text.text)) {
        CdfClose(archive);
        return false;
    }
    int nested = 0;
    int r = Decide(s, text.text, size, path.text, &nested);
    if (nested == FIND_OK) {
        CdfClose(archive);
        return true;
    }
    if (nested != 0) {
        ClearOuts(s);
        if (o.result == FIND_WRONG_VERSION && s.outFlags != nullptr) {
            *s.outFlags |= FOUND_IN_CONTAINER; // an earlier container's outcome stands
        }
    }
    if (r != FIND_OK) {
        r = FIND_NOT_FOUND;
    }
    if (r == FIND_OK && s.checkInstalled && !CheckInstalledProduct(text.text, size, path.text)) {
        r = FIND_NOT_FOUND;
    }
    if (r == FIND_OK && s.version != nullptr && s.version[0] != '\0') {
        // The container's setup data must be of the installed version.
        r = FIND_WRONG_VERSION;
        UINT32 versionSize = CdfEntrySize(archive, "Version.txt");
        char stored[VERSION_FILE_LIMIT + 1] = {};
        if (versionSize != 0 && versionSize < VERSION_FILE_LIMIT && CdfReadEntry(archive, "Version.txt", stored) &&
            strcmp(stored, s.version) == 0) {
            r = FIND_OK;
        }
    }
    // Only a container that holds the configuration replaces what an earlier one gave.
    if (r != FIND_NOT_FOUND) {
        o.Found(r, entry.cFileName);
        if (s.outFlags != nullptr) {
            *s.outFlags |= FOUND_IN_CONTAINER;
        }
        MemFree(o.keptText);
        o.keptText = nullptr;
        if (s.textWanted) {
            o.Keep(&text.text, size);
        }
    }
    CdfClose(archive);
    return false;
}

} // namespace

int FindConfiguration(const char* searchPath, const char* fileNameArg, UINT32 flags, const char* version, char** outPath,
                      UINT32* outFlags, char** outText, UINT32* outLength)
{
    Search s = {searchPath, flags, flags & FIND_KIND_MASK, flags & SCRIPT_KIND_MASK, version,
                outPath,    outFlags, outText, outLength,
                outText != nullptr && outLength != nullptr && !(flags & FIND_NO_OUTPUT),
                (flags & FIND_INSTALLED) != 0 && (flags & FIND_STRUCTURE) != 0};
    if (outPath != nullptr) {
        *outPath = nullptr;
    }
    if (outText != nullptr) {
        *outText = nullptr;
    }
    if (outLength != nullptr) {
        *outLength = 0;
    }
    if (outFlags != nullptr) {
        *outFlags &= ~FOUND_IN_CONTAINER;
    }

    // The directory, and the last components of the search path and of the file name.
    Patterns p = {};
    char baseName[MAX_PATH + 1] = {}, fileName[MAX_PATH + 1] = {};
    if (searchPath != nullptr && searchPath[0] != '\0') {
        if (!PathCopyDirectory(p.dir, sizeof(p.dir), searchPath) || !PathCopyFileName(baseName, sizeof(baseName), searchPath)) {
            return FIND_NOT_FOUND;
        }
    }
    if (p.dir[0] == '\0') {
        char* own = ProgramDirectory();
        if (own == nullptr) {
            return FIND_NOT_FOUND;
        }
        lstrcpynA(p.dir, own, sizeof(p.dir));
        MemFree(own);
    }
    if (fileNameArg != nullptr && !PathCopyFileName(fileName, sizeof(fileName), fileNameArg)) {
        return FIND_NOT_FOUND;
    }
    lstrcpynA(p.containerPattern, baseName[0] != '\0' ? baseName : "*.*", sizeof(p.containerPattern));
    lstrcpynA(p.filePattern, fileName[0] != '\0' ? fileName : baseName[0] != '\0' ? baseName : "*.*", sizeof(p.filePattern));
    lstrcpynA(p.wantedName, fileName[0] != '\0' ? fileName : DefaultName(s.kind), sizeof(p.wantedName));

    Outcome o;
    // Stage 1: plain files; going on only while nothing is found and a name is wanted.
    {
        Entries entries(p.dir, p.filePattern);
        for (const WIN32_FIND_DATAA* e = entries.Next(); e != nullptr; e = entries.Next()) {
            if (ExaminePlainFile(s, p, *e, o)) {
                return FIND_OK;
            }
            if (o.result == FIND_OK || p.wantedName[0] == '\0') {
                break;
            }
        }
    }
    // Stage 2: inside containers.
    if (o.result != FIND_OK && p.wantedName[0] != '\0') {
        o.result = FIND_NOT_FOUND;
        Entries entries(p.dir, p.containerPattern);
        for (const WIN32_FIND_DATAA* e = entries.Next(); e != nullptr; e = entries.Next()) {
            if (ExamineContainer(s, p, *e, o)) {
                return FIND_OK;
            }
            if (o.result == FIND_OK) {
                break;
            }
        }
    }

    if (o.result != FIND_NOT_FOUND && !(flags & FIND_NO_OUTPUT)) {
        if (outPath != nullptr) {
            *outPath = PathJoin(p.dir, o.foundName, false);
            if (*outPath == nullptr) {
                o.result = FIND_NOT_FOUND;
                if (outFlags != nullptr) {
                    *outFlags &= ~FOUND_IN_CONTAINER;
                }
            }
        }
        if (o.result != FIND_NOT_FOUND && o.keptText != nullptr && outText != nullptr && outLength != nullptr) {
            *outText = o.keptText;
            *outLength = o.keptSize;
            o.keptText = nullptr;
        }
    }
    return o.result;
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
