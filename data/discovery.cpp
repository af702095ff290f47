#include "data/discovery.h"

#include "data/cdf.h"
#include "data/config_text.h"
#include "support/guards.h"
#include "support/module_path.h"
#include "support/strings.h"

#include <string.h>

#include <utility>

namespace {

// Configuration texts larger than this are not read: no product's configuration comes near it.
const DWORD LARGEST_TEXT = 64u << 20;
// A container's "Version.txt" of this size or more is no version.
const UINT32 VERSION_FILE_LIMIT = 259;
const UINT32 HEADER_SIZE = 4;
const UINT32 NAME_SIZE = MAX_PATH + 1;

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
    return size >= HEADER_SIZE && memcmp(bytes, header, HEADER_SIZE) == 0;
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
    HeapText text(static_cast<char*>(MemAlloc(length + 4)));
    DWORD got = 0;
    if (!text || SetFilePointer(file, 0, nullptr, FILE_BEGIN) != 0 ||
        (length != 0 && (!ReadFile(file, text.get(), length, &got, nullptr) || got != length))) {
        return nullptr;
    }
    *size = length;
    return text.release();
}

// One search's fixed inputs.
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
    InstalledProductTest installed;
};

bool IsInstalled(const Search& s, const char* text, UINT32 size, const char* path)
{
    return s.installed != nullptr && s.installed(text, size, path) == 1;
}

// Where one search looks and what it looks for.
struct Patterns {
    char dir[NAME_SIZE];
    char containerPattern[NAME_SIZE];
    char filePattern[NAME_SIZE];
    char wantedName[NAME_SIZE];
};

// What a search has found so far: its result, the name of the file or container, the text kept for
// the caller.
struct Outcome {
    int result = FIND_NOT_FOUND;
    char foundName[NAME_SIZE] = {};
    HeapText keptText;
    UINT32 keptSize = 0;

    void Found(int r, const char* name)
    {
        result = r;
        lstrcpynA(foundName, name, sizeof(foundName));
    }
    void Keep(HeapText& text, UINT32 size)
    {
        keptText = std::move(text);
        keptSize = size;
    }
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
        return headerOnly || ResolveCfgStructure(text, size, s.scriptBits, configPath, nullptr, nullptr)
                   ? FIND_OK
                   : FIND_NOT_FOUND;
    case FIND_STRUCTURE:
    case FIND_AUTORUN_OR_STRUCTURE:
        if (HasHeader(text, size, "[SSC")) {
            return headerOnly || CheckScriptKind(text, size, s.scriptBits) ? FIND_OK : FIND_NOT_FOUND;
        }
        if (s.kind == FIND_AUTORUN_OR_STRUCTURE && HasHeader(text, size, "[CFG")) {
            HeapText name;
            if (ResolveCfgStructure(text, size, s.scriptBits, configPath, nullptr, name.out())) {
                *nested = FindConfiguration(s.searchPath, name.get(), s.flags & ~FIND_AUTORUN, s.version, s.outPath,
                                            s.outFlags, s.outText, s.outLength, s.installed);
                return *nested;
            }
        }
        return FIND_NOT_FOUND;
    default:
        return FIND_OK;
    }
}

// Empties the outs: a nested search that did not find leaves nothing behind in them.
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

// The enumeration of one pattern; entries that are folders are passed over.
class Entries {
  public:
    Entries(const char* dir, const char* pattern)
    {
        HeapText full(PathJoin(dir, pattern, false));
        if (full) {
            find_.reset(FindFirstFileA(full.get(), &found_));
        }
    }

    const WIN32_FIND_DATAA* Next()
    {
        while (find_) {
            if (!first_ && !FindNextFileA(find_.get(), &found_)) {
                return nullptr;
            }
            first_ = false;
            if (!(found_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                return &found_;
            }
        }
        return nullptr;
    }

  private:
    FindHandle find_;
    WIN32_FIND_DATAA found_ = {};
    bool first_ = true;
};

// A file name that names a container: stage 2 looks inside it for the kind's default name.
void NoteNamedContainer(const Search& s, Patterns& p, const WIN32_FIND_DATAA& entry)
{
    if (StrCompareNoCase(entry.cFileName, p.filePattern) == 0 ||
        StrCompareNoCase(entry.cAlternateFileName, p.filePattern) == 0) {
        lstrcpynA(p.containerPattern, p.filePattern, sizeof(p.containerPattern));
        if (StrCompareNoCase(p.wantedName, p.filePattern) == 0) {
            lstrcpynA(p.wantedName, DefaultName(s.kind), sizeof(p.wantedName));
        }
    }
}

// Whether a plain file's whole text is needed for the kind decision: an autorun text is always read
// for the structure file it names; a structure text unless the header alone decides.
bool DecisionNeedsText(const Search& s, const char* header)
{
    bool structureKind = s.kind == FIND_AUTORUN || s.kind == FIND_STRUCTURE || s.kind == FIND_AUTORUN_OR_STRUCTURE;
    bool configHeader = HasHeader(header, HEADER_SIZE, "[SSC") || HasHeader(header, HEADER_SIZE, "[CFG");
    bool namesStructure = s.kind == FIND_AUTORUN_OR_STRUCTURE && HasHeader(header, HEADER_SIZE, "[CFG");
    return structureKind && configHeader && (!(s.flags & FIND_HEADER_ONLY) || namesStructure);
}

// Stage 1, one plain file. Returns true when a nested search (an autorun text naming its structure
// file) found: the outs are then that search's and nothing more is to be done.
bool ExaminePlainFile(const Search& s, Patterns& p, const WIN32_FIND_DATAA& entry, Outcome& o)
{
    HeapText path(PathJoin(p.dir, entry.cFileName, false));
    KernelHandle file(path ? CreateFileA(path.get(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr)
                           : INVALID_HANDLE_VALUE);
    char header[HEADER_SIZE] = {};
    DWORD got = 0;
    if (!file || !ReadFile(file.get(), header, HEADER_SIZE, &got, nullptr) || got != HEADER_SIZE) {
        return false;
    }
    HeapText text;
    UINT32 size = 0;
    bool needsText = DecisionNeedsText(s, header);
    if (needsText) {
        text.reset(ReadWhole(file.get(), &size));
    }
    int nested = 0;
    int result = text ? Decide(s, text.get(), size, path.get(), &nested)
                      : Decide(s, header, needsText ? 0 : HEADER_SIZE, path.get(), &nested);
    if (nested == FIND_OK) {
        return true;
    }
    if (nested != 0) {
        ClearOuts(s);
    }
    if (result != FIND_OK) {
        result = FIND_NOT_FOUND;
        if (HasHeader(header, HEADER_SIZE, "CDF9")) {
            NoteNamedContainer(s, p, entry);
        }
    }
    if (result == FIND_OK && (s.textWanted || s.checkInstalled) && !text) {
        text.reset(ReadWhole(file.get(), &size));
        if (!text) {
            result = FIND_NOT_FOUND;
        }
    }
    if (result == FIND_OK && s.checkInstalled && !IsInstalled(s, text.get(), size, path.get())) {
        result = FIND_NOT_FOUND;
    }
    o.result = result;
    if (result == FIND_OK) {
        o.Found(result, entry.cFileName);
        if (s.textWanted) {
            o.Keep(text, size);
        }
    }
    return false;
}

// A container's setup data must be of the installed version: FIND_OK when its "Version.txt" holds
// exactly version, else FIND_WRONG_VERSION.
int CheckContainerVersion(CdfArchive* archive, const char* version)
{
    UINT32 versionSize = CdfEntrySize(archive, "Version.txt");
    char stored[VERSION_FILE_LIMIT + 1] = {};
    if (versionSize != 0 && versionSize < VERSION_FILE_LIMIT && CdfReadEntry(archive, "Version.txt", stored) &&
        strcmp(stored, version) == 0) {
        return FIND_OK;
    }
    return FIND_WRONG_VERSION;
}

// Closes a container when the scope ends.
struct OpenContainer {
    CdfArchive* archive;
    ~OpenContainer() { CdfClose(archive); }
};

// Stage 2, one container. Returns true when a nested search found (the outs are its).
bool ExamineContainer(const Search& s, const Patterns& p, const WIN32_FIND_DATAA& entry, Outcome& o)
{
    HeapText path(PathJoin(p.dir, entry.cFileName, false));
    OpenContainer container = {path ? CdfOpen(path.get()) : nullptr};
    UINT32 size = container.archive != nullptr ? CdfEntrySize(container.archive, p.wantedName) : 0;
    HeapText text(size != 0 && size <= LARGEST_TEXT ? static_cast<char*>(MemAlloc(size + 4)) : nullptr);
    if (!text || !CdfReadEntry(container.archive, p.wantedName, text.get())) {
        return false;
    }
    int nested = 0;
    int r = Decide(s, text.get(), size, path.get(), &nested);
    if (nested == FIND_OK) {
        return true;
    }
    if (nested != 0) {
        ClearOuts(s);
        if (o.result == FIND_WRONG_VERSION && s.outFlags != nullptr) {
            *s.outFlags |= FOUND_IN_CONTAINER; // an earlier container's outcome stands
        }
    }
    if (r != FIND_OK || (s.checkInstalled && !IsInstalled(s, text.get(), size, path.get()))) {
        r = FIND_NOT_FOUND;
    }
    if (r == FIND_OK && s.version != nullptr && s.version[0] != '\0') {
        r = CheckContainerVersion(container.archive, s.version);
    }
    // Only a container that holds the configuration replaces what an earlier one gave.
    if (r != FIND_NOT_FOUND) {
        o.Found(r, entry.cFileName);
        if (s.outFlags != nullptr) {
            *s.outFlags |= FOUND_IN_CONTAINER;
        }
        o.keptText.reset();
        if (s.textWanted) {
            o.Keep(text, size);
        }
    }
    return false;
}

// The directory, the container and file patterns and the wanted name of a search; false when the
// paths given do not fit or the program's own directory cannot be had.
bool MakePatterns(const Search& s, const char* fileNameArg, Patterns* p)
{
    char baseName[NAME_SIZE] = {}, fileName[NAME_SIZE] = {};
    if (s.searchPath != nullptr && s.searchPath[0] != '\0') {
        if (!PathCopyDirectory(p->dir, sizeof(p->dir), s.searchPath) ||
            !PathCopyFileName(baseName, sizeof(baseName), s.searchPath)) {
            return false;
        }
    }
    if (p->dir[0] == '\0') {
        HeapText program(GetModulePath());
        if (!program || !PathCopyDirectory(p->dir, sizeof(p->dir), program.get())) {
            return false;
        }
    }
    if (fileNameArg != nullptr && !PathCopyFileName(fileName, sizeof(fileName), fileNameArg)) {
        return false;
    }
    const char* base = baseName[0] != '\0' ? baseName : "*.*";
    lstrcpynA(p->containerPattern, base, sizeof(p->containerPattern));
    lstrcpynA(p->filePattern, fileName[0] != '\0' ? fileName : base, sizeof(p->filePattern));
    lstrcpynA(p->wantedName, fileName[0] != '\0' ? fileName : DefaultName(s.kind), sizeof(p->wantedName));
    return true;
}

// Stage 1: plain files, going on only while nothing is found and a name is wanted. True when a nested
// search found.
bool SearchPlainFiles(const Search& s, Patterns& p, Outcome& o)
{
    Entries entries(p.dir, p.filePattern);
    for (const WIN32_FIND_DATAA* e = entries.Next(); e != nullptr; e = entries.Next()) {
        if (ExaminePlainFile(s, p, *e, o)) {
            return true;
        }
        if (o.result == FIND_OK || p.wantedName[0] == '\0') {
            break;
        }
    }
    return false;
}

// Stage 2: inside containers. True when a nested search found.
bool SearchContainers(const Search& s, const Patterns& p, Outcome& o)
{
    o.result = FIND_NOT_FOUND;
    Entries entries(p.dir, p.containerPattern);
    for (const WIN32_FIND_DATAA* e = entries.Next(); e != nullptr; e = entries.Next()) {
        if (ExamineContainer(s, p, *e, o)) {
            return true;
        }
        if (o.result == FIND_OK) {
            break;
        }
    }
    return false;
}

// Hands the path and the text found to the caller.
int Deliver(const Search& s, const Patterns& p, Outcome& o)
{
    if (o.result == FIND_NOT_FOUND || (s.flags & FIND_NO_OUTPUT)) {
        return o.result;
    }
    if (s.outPath != nullptr) {
        *s.outPath = PathJoin(p.dir, o.foundName, false);
        if (*s.outPath == nullptr) {
            if (s.outFlags != nullptr) {
                *s.outFlags &= ~FOUND_IN_CONTAINER;
            }
            return FIND_NOT_FOUND;
        }
    }
    if (o.keptText && s.outText != nullptr && s.outLength != nullptr) {
        *s.outLength = o.keptSize;
        *s.outText = o.keptText.release();
    }
    return o.result;
}

} // namespace

int FindConfiguration(const char* searchPath, const char* fileNameArg, UINT32 flags, const char* version,
                      char** outPath, UINT32* outFlags, char** outText, UINT32* outLength,
                      InstalledProductTest installed)
{
    Search s = {searchPath,
                flags,
                flags & FIND_KIND_MASK,
                flags & SCRIPT_KIND_MASK,
                version,
                outPath,
                outFlags,
                outText,
                outLength,
                outText != nullptr && outLength != nullptr && !(flags & FIND_NO_OUTPUT),
                (flags & FIND_INSTALLED) != 0 && (flags & FIND_STRUCTURE) != 0,
                installed};
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
    Patterns p = {};
    if (!MakePatterns(s, fileNameArg, &p)) {
        return FIND_NOT_FOUND;
    }
    Outcome o;
    if (SearchPlainFiles(s, p, o)) {
        return FIND_OK;
    }
    if (o.result != FIND_OK && p.wantedName[0] != '\0' && SearchContainers(s, p, o)) {
        return FIND_OK;
    }
    return Deliver(s, p, o);
}

namespace {

// The structure file that one "__structure" value names.
void ApplyStructureValue(const char* value, const char* configPath, char* name, size_t size)
{
    if (strcmp(value, "DEFAULT") == 0) {
        lstrcpynA(name, "Struct.cfg", static_cast<int>(size));
    } else if (strcmp(value, "AUTORUN") == 0) {
        name[0] = '\0';
        if (configPath != nullptr) {
            PathCopyFileName(name, size, configPath);
        }
        if (name[0] == '\0') {
            lstrcpynA(name, "Autorun.cfg", static_cast<int>(size));
        }
    } else {
        lstrcpynA(name, value, static_cast<int>(size));
    }
}

// Opens a text and puts its cursor behind the header of section; false when there is none.
bool OpenSection(const char* text, UINT32 size, const char* section, ConfigText* ct)
{
    if (text == nullptr || size == 0 || !ConfigTextOpen(text, size, 0, ct)) {
        return false;
    }
    int at = ConfigTextFindSection(ct, section);
    if (at < 0) {
        return false;
    }
    ct->cursor = static_cast<UINT32>(at);
    return true;
}

} // namespace

int ResolveCfgStructure(const char* text, UINT32 size, UINT32 scriptBits, const char* configPath, const char* version,
                        char** outName)
{
    if (outName != nullptr) {
        *outName = nullptr;
    }
    ConfigText ct;
    if (!OpenSection(text, size, "CFG", &ct)) {
        return 0;
    }
    char name[MAX_PATH] = "Struct.cfg";
    char key[MAX_PATH];
    while (ConfigTextReadKey(&ct, key, sizeof(key)) >= 0) {
        char value[MAX_PATH];
        if (strcmp(key, "__structure") == 0 &&
            ConfigTextReadValue(&ct, value, sizeof(value), CONFIG_TEXT_ESCAPES) >= 0) {
            ApplyStructureValue(value, configPath, name, sizeof(name));
        }
    }
    if (name[0] == '\0') {
        return 0;
    }
    if (configPath != nullptr && FindConfiguration(configPath, name, scriptBits | FIND_STRUCTURE, version, nullptr,
                                                   nullptr, nullptr, nullptr) != FIND_OK) {
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
    if (!OpenSection(text, size, "SSCRIPT", &ct)) {
        return 0;
    }
    UINT32 marks = 0;
    char key[MAX_PATH];
    while (ConfigTextReadKey(&ct, key, sizeof(key)) >= 0) {
        if (strcmp(key, "_flags") != 0) {
            continue;
        }
        // The value reader also takes the key=value items that follow as words: marks are collected up
        // to the first '/', ';' or '[' at a word's start.
        char word[MAX_PATH];
        while (ConfigTextNextWord(&ct, word, sizeof(word), CONFIG_TEXT_ESCAPES)) {
            if (strcmp(word, "_UPDATE") == 0) {
                marks |= SCRIPT_UPDATE;
            } else if (strcmp(word, "_REMOVE") == 0) {
                marks |= SCRIPT_REMOVE;
            }
        }
    }
    return marks == (scriptBits & SCRIPT_KIND_MASK) ? 1 : 0;
}
