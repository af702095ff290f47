#include "script/text_expansion.h"

#include "data/config_text.h"
#include "script/object_internal.h"
#include "script/object_text.h"
#include "script/text_builder.h"
#include "support/guards.h"
#include "support/strings.h"

#include <string.h>

namespace {

// References nest through "INFOSTR" (a text that names a text): beyond this depth they are left as
// written, so a text that names itself ends, with a bounded result.
const int EXPAND_DEPTH_LIMIT = 8;
// A text may also name many texts that each name many others: one outermost expansion makes at most
// this many nested ones, after which further references are left as written too.
const int EXPAND_CALL_BUDGET = 4096;
thread_local int t_depth = 0;
thread_local int t_budget = 0;

struct DepthScope {
    DepthScope()
    {
        if (t_depth++ == 0) {
            t_budget = EXPAND_CALL_BUDGET;
        }
        t_budget--;
    }
    ~DepthScope() { t_depth--; }
    DepthScope(const DepthScope&) = delete;
    DepthScope& operator=(const DepthScope&) = delete;
};

bool MayResolve()
{
    return t_depth <= EXPAND_DEPTH_LIMIT && t_budget > 0;
}

enum KeywordKind { KEYWORD_OBJECT, KEYWORD_WINDIR, KEYWORD_WINSYS, KEYWORD_PROGFILES };

struct KeywordInfo {
    const char* word;
    KeywordKind kind;
    ReferenceKeyword reference; // for the keywords that name an object
};

const KeywordInfo kKeywords[] = {
    {"OBJECTPATH", KEYWORD_OBJECT, REFERENCE_PATH},     {"OBJECTDIR", KEYWORD_OBJECT, REFERENCE_DIR},
    {"OBJECTSOURCE", KEYWORD_OBJECT, REFERENCE_SOURCE}, {"OBJECTFILE", KEYWORD_OBJECT, REFERENCE_FILE},
    {"INFOSTR", KEYWORD_OBJECT, REFERENCE_INFO},        {"WINDIR", KEYWORD_WINDIR, REFERENCE_PATH},
    {"WINSYS", KEYWORD_WINSYS, REFERENCE_PATH},         {"PROGFILES", KEYWORD_PROGFILES, REFERENCE_PATH},
};

const KeywordInfo* FindKeyword(const char* word)
{
    for (const KeywordInfo& info : kKeywords) {
        if (strcmp(word, info.word) == 0) {
            return &info;
        }
    }
    return nullptr;
}

char* SystemFolder(UINT32 (*get)(char*, UINT32))
{
    UINT32 needed = get(nullptr, 0);
    HeapText text(needed != 0 ? static_cast<char*>(MemAlloc(needed + 4)) : nullptr);
    if (!text || get(text.get(), needed + 4) == 0) {
        return nullptr;
    }
    return text.release();
}

// The system folders are the values of the built-in objects of the same names, read once when the
// database was made; a database without them asks the system.
Replacement SystemFolderOf(ObjectDatabase* d, KeywordKind kind)
{
    static const struct {
        KeywordKind kind;
        const char* name;
        UINT32 (*get)(char*, UINT32);
    } folders[] = {{KEYWORD_WINDIR, "WINDIR", GetWindowsDir},
                   {KEYWORD_WINSYS, "WINSYS", GetSystemDir},
                   {KEYWORD_PROGFILES, "PROGFILES", GetProgramFilesDir}};
    Replacement r = {nullptr, false, true};
    for (const auto& f : folders) {
        if (f.kind != kind) {
            continue;
        }
        UINT_PTR value = 0;
        if (ListFindByName(d->objects, f.name, &value, 0)) {
            InstallObject* o = reinterpret_cast<InstallObject*>(value);
            if ((o->state & STATE_READ_ONLY) && o->targetPath != nullptr && o->targetPath[0] != '\0') {
                r.text = WithTrailingBackslash(MemCopyText(o->targetPath));
                return r;
            }
        }
        r.text = SystemFolder(f.get);
    }
    return r;
}

// Adds a piece to the output; with join, as the next path part: exactly one backslash between, unless
// either side has a blank there.
void Join(TextBuilder& out, const char* piece, size_t length, bool join)
{
    if (length == 0) {
        return;
    }
    if (join && out.length() != 0) {
        char last = out.Last(), first = piece[0];
        if (last == '\\' && first == '\\') {
            out.DropLast();
        } else if (last != ' ' && last != '\\' && first != ' ' && first != '\\') {
            out.Append("\\", 1);
        }
    }
    out.Append(piece, length);
}

char* Deliver(const char* result, size_t length, char* text, int size, bool changed)
{
    if (size == 0) {
        return DeliverObjectText(result, length, nullptr, 0);
    }
    if (!changed && size > 0 && strlen(text) < static_cast<size_t>(size)) {
        return text;
    }
    if (size > 0 && length >= static_cast<size_t>(size)) {
        return DeliverObjectText(result, length, nullptr, 0); // does not fit: a new text, buffer untouched
    }
    size_t capacity = size > 0 ? static_cast<size_t>(size) : static_cast<size_t>(-static_cast<INT64>(size));
    size_t n = length < capacity - 1 ? length : capacity - 1;
    memmove(text, result, n);
    text[n] = '\0';
    return text;
}

// One expansion in progress: the text, its cursor, the output and the literal run not yet copied.
struct Expansion {
    Expansion(HeldObject& g, ReferenceResolver r, char* t) : guard(g), resolve(r), text(t), length(strlen(t)) {}
    HeldObject& guard;
    ReferenceResolver resolve;
    char* text;
    size_t length;
    ConfigText ct = {};
    TextBuilder out;
    bool changed = false;
    bool joinRun = false; // the run behind the last replacement joins it as a path part
    UINT32 runStart = 0;
};

// The object a reference names: "SELF" or an object of the context's database; null when the word
// cannot be read or names nothing.
InstallObject* ReadTarget(Expansion& e)
{
    char name[OBJECT_NAME_SIZE];
    if (ConfigTextReadValue(&e.ct, name, sizeof(name), CONFIG_TEXT_ESCAPES) <= 0) {
        return nullptr;
    }
    if (strcmp(name, "SELF") == 0) {
        return e.guard.object();
    }
    UINT_PTR value = 0;
    return ListFindByName(e.guard.database()->objects, name, &value, 0) ? reinterpret_cast<InstallObject*>(value)
                                                                        : nullptr;
}

// The keyword read at wordStart and what it stands for; nothing replaced when it is no keyword or
// cannot be resolved.
Replacement ResolveKeyword(Expansion& e, const char* word)
{
    Replacement none = {nullptr, false, false};
    const KeywordInfo* k = FindKeyword(word);
    if (k == nullptr || !MayResolve()) {
        return none;
    }
    if (k->kind != KEYWORD_OBJECT) {
        return SystemFolderOf(e.guard.database(), k->kind);
    }
    InstallObject* target = ReadTarget(e);
    return target != nullptr ? e.resolve(k->reference, target) : none;
}

// Puts the literal run before a replacement and the replacement into the output. "(KEYWORD ...)": the
// parenthesis before the reference goes, and so does the character after it.
void Place(Expansion& e, UINT32 wordStart, Replacement& r)
{
    UINT32 runEnd = wordStart;
    if (runEnd > e.runStart && e.text[runEnd - 1] == '(') {
        runEnd--;
        if (e.ct.cursor < e.length) {
            e.ct.cursor++;
        }
    }
    Join(e.out, e.text + e.runStart, runEnd - e.runStart, e.joinRun);
    Join(e.out, r.text, strlen(r.text), r.joinsBefore);
    MemFree(r.text);
    e.joinRun = r.joinsAfter;
    e.runStart = e.ct.cursor;
    e.changed = true;
}

// Scans for words that begin with an upper-case letter and replaces the references among them.
void Scan(Expansion& e)
{
    while (e.ct.cursor < e.length) {
        while (e.ct.cursor < e.length && !(e.text[e.ct.cursor] >= 'A' && e.text[e.ct.cursor] <= 'Z')) {
            e.ct.cursor++;
        }
        if (e.ct.cursor >= e.length) {
            return;
        }
        UINT32 wordStart = e.ct.cursor;
        char word[OBJECT_NAME_SIZE];
        if (ConfigTextReadValue(&e.ct, word, sizeof(word), CONFIG_TEXT_ESCAPES) < 0) {
            return; // the rest is literal
        }
        if (e.ct.cursor == wordStart) {
            e.ct.cursor++;
            continue;
        }
        Replacement r = ResolveKeyword(e, word);
        if (r.text != nullptr) {
            Place(e, wordStart, r);
        }
    }
}

} // namespace

char* ExpandReferences(ObjectId context, char* text, int size, ReferenceResolver resolve)
{
    if (text == nullptr) {
        return nullptr;
    }
    HeldObject guard(context);
    if (guard.object() == nullptr) {
        return nullptr;
    }
    DepthScope depth;
    Expansion e(guard, resolve, text);
    if (e.length == 0 || !ConfigTextOpen(text, static_cast<UINT32>(e.length), 0, &e.ct)) {
        return Deliver("", 0, text, size, false);
    }
    Scan(e);
    if (!e.changed) {
        return Deliver(text, e.length, text, size, false);
    }
    Join(e.out, text + e.runStart, e.length - e.runStart, e.joinRun);
    if (e.out.failed()) {
        return nullptr;
    }
    return Deliver(e.out.text(), e.out.length(), text, size, true);
}

char* WithTrailingBackslash(char* text)
{
    if (text == nullptr) {
        return nullptr;
    }
    size_t n = strlen(text);
    if (n == 0 || text[n - 1] == '\\') {
        return text; // empty, or already ending in one
    }
    char* longer = PathJoin(text, nullptr, false);
    MemFree(text);
    return longer;
}

namespace {

// Copies a folder path with a trailing backslash into buffer: the length, or the size needed.
UINT32 DeliverFolder(const char* path, char* buffer, UINT32 size)
{
    size_t n = strlen(path);
    bool slash = n != 0 && path[n - 1] == '\\';
    UINT32 needed = static_cast<UINT32>(n + (slash ? 0 : 1) + 1);
    if (n == 0) {
        return 0;
    }
    if (buffer == nullptr || size < needed) {
        return needed;
    }
    memcpy(buffer, path, n);
    if (!slash) {
        buffer[n++] = '\\';
    }
    buffer[n] = '\0';
    return static_cast<UINT32>(n);
}

} // namespace

UINT32 GetWindowsDir(char* buffer, UINT32 size)
{
    char path[MAX_PATH + 1];
    UINT n = GetWindowsDirectoryA(path, sizeof(path));
    return n != 0 && n < sizeof(path) ? DeliverFolder(path, buffer, size) : 0;
}

UINT32 GetSystemDir(char* buffer, UINT32 size)
{
    char path[MAX_PATH + 1];
    UINT n = GetSystemDirectoryA(path, sizeof(path));
    return n != 0 && n < sizeof(path) ? DeliverFolder(path, buffer, size) : 0;
}

UINT32 GetProgramFilesDir(char* buffer, UINT32 size)
{
    RegKeyHandle key(OpenRegKeyRead(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"));
    if (!key) {
        return 0;
    }
    char path[MAX_PATH + 1] = {};
    DWORD bytes = MAX_PATH, type = 0;
    LONG r = RegQueryValueExA(key.get(), "ProgramFilesDir", nullptr, &type, reinterpret_cast<BYTE*>(path), &bytes);
    // A value of another type than a string counts as absent.
    if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return 0;
    }
    return DeliverFolder(path, buffer, size);
}
