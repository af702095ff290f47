#include "script/expand.h"

#include "data/config_text.h"
#include "script/object_internal.h"
#include "script/object_text.h"
#include "script/text_builder.h"
#include "support/memory.h"
#include "support/strings.h"
#include "support/registry.h"

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
};

bool MayResolve()
{
    return t_depth <= EXPAND_DEPTH_LIMIT && t_budget > 0;
}

enum Keyword { KW_NONE, KW_PATH, KW_DIR, KW_SOURCE, KW_FILE, KW_INFO, KW_WINDIR, KW_WINSYS, KW_PROGFILES };

struct KeywordInfo {
    const char* word;
    Keyword keyword;
    bool takesObject;
};

const KeywordInfo kKeywords[] = {
    {"OBJECTPATH", KW_PATH, true},   {"OBJECTDIR", KW_DIR, true},   {"OBJECTSOURCE", KW_SOURCE, true},
    {"OBJECTFILE", KW_FILE, true},   {"INFOSTR", KW_INFO, true},    {"WINDIR", KW_WINDIR, false},
    {"WINSYS", KW_WINSYS, false},    {"PROGFILES", KW_PROGFILES, false},
};

bool IsContainerType(UINT32 type)
{
    return type == OBJECT_DIRECTORY || type == OBJECT_GROUP || type == OBJECT_REGKEY;
}

// A replacement with its two join flags: whether it joins what precedes it as a path part, and
// whether the text that follows it joins it so.
struct Replacement {
    char* text;
    bool joinsBefore;
    bool joinsAfter;
};

char* WithBackslash(char* text)
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

char* SystemFolder(UINT32 (*get)(char*, UINT32))
{
    UINT32 needed = get(nullptr, 0);
    char* text = needed != 0 ? static_cast<char*>(MemAlloc(needed + 4)) : nullptr;
    if (text != nullptr && get(text, needed + 4) == 0) {
        MemFree(text);
        text = nullptr;
    }
    return text;
}

// The system folders are the values of the built-in objects of the same names, read once when the
// database was made; a database without them asks the system.
char* SystemFolderOf(ObjectDatabase* d, const char* name, UINT32 (*get)(char*, UINT32))
{
    UINT_PTR value = 0;
    if (ListFindByName(d->objects, name, &value, 0)) {
        InstallObject* o = reinterpret_cast<InstallObject*>(value);
        if ((o->state & STATE_READ_ONLY) && o->targetPath != nullptr && o->targetPath[0] != '\0') {
            return WithBackslash(MemCopyText(o->targetPath));
        }
    }
    return SystemFolder(get);
}

Replacement Resolve(Keyword keyword, InstallObject* target, ObjectDatabase* d)
{
    Replacement r = {nullptr, false, false};
    UINT32 type = target != nullptr ? ObjectType(target) : 0;
    switch (keyword) {
    case KW_PATH:
        r.text = GetObjectPath(target->id, 0, nullptr, 0);
        if (r.text != nullptr && IsContainerType(type)) {
            r.text = WithBackslash(r.text);
            r.joinsAfter = r.text != nullptr && r.text[0] != '\0';
        }
        break;
    case KW_DIR:
        if (type == OBJECT_FILE || type == OBJECT_REGITEM) {
            r.text = GetObjectPath(target->id, 0x40000, nullptr, 0);
        } else if (IsContainerType(type)) {
            r.text = GetObjectPath(target->id, 0, nullptr, 0);
        }
        r.text = WithBackslash(r.text);
        r.joinsAfter = r.text != nullptr && r.text[0] != '\0';
        break;
    case KW_SOURCE:
        if (type == OBJECT_FILE) {
            r.text = GetObjectSourcePath(target->id, 1, nullptr, 0);
        }
        break;
    case KW_FILE:
        r.text = GetObjectLeafName(target->id, 1, nullptr, 0);
        r.joinsBefore = true;
        r.joinsAfter = type != OBJECT_FILE && type != OBJECT_REGITEM;
        break;
    case KW_INFO:
        r.text = GetObjectContentsText(target->id, nullptr, 0);
        break;
    case KW_WINDIR:
        r.text = SystemFolderOf(d, "WINDIR", GetWindowsDir);
        r.joinsAfter = true;
        break;
    case KW_WINSYS:
        r.text = SystemFolderOf(d, "WINSYS", GetSystemDir);
        r.joinsAfter = true;
        break;
    case KW_PROGFILES:
        r.text = SystemFolderOf(d, "PROGFILES", GetProgramFilesDir);
        r.joinsAfter = true;
        break;
    default:
        break;
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
    if (!changed) {
        if (size > 0 && strlen(text) < static_cast<size_t>(size)) {
            return text;
        }
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

} // namespace

char* ExpandText(ObjectId context, char* text, int size)
{
    if (text == nullptr) {
        return nullptr;
    }
    ObjectGuard guard(context);
    InstallObject* self = guard.object();
    if (self == nullptr) {
        return nullptr;
    }
    DepthScope depth;
    size_t length = strlen(text);
    ConfigText ct;
    if (length == 0 || !ConfigTextOpen(text, static_cast<UINT32>(length), 0, &ct)) {
        return Deliver("", 0, text, size, false);
    }
    TextBuilder out;
    bool changed = false;
    bool joinRun = false; // the run behind the last replacement joins it as a path part
    UINT32 runStart = 0;
    while (ct.cursor < length) {
        while (ct.cursor < length && !(text[ct.cursor] >= 'A' && text[ct.cursor] <= 'Z')) {
            ct.cursor++;
        }
        if (ct.cursor >= length) {
            break;
        }
        UINT32 wordStart = ct.cursor;
        char word[OBJECT_NAME_SIZE];
        if (ConfigTextReadValue(&ct, word, sizeof(word), CONFIG_TEXT_ESCAPES) < 0) {
            break; // the rest is literal
        }
        if (ct.cursor == wordStart) {
            ct.cursor++;
            continue;
        }
        const KeywordInfo* k = nullptr;
        for (const KeywordInfo& info : kKeywords) {
            if (strcmp(word, info.word) == 0) {
                k = &info;
            }
        }
        if (k == nullptr || !MayResolve()) {
            continue;
        }
        InstallObject* target = nullptr;
        if (k->takesObject) {
            char name[OBJECT_NAME_SIZE];
            if (ConfigTextReadValue(&ct, name, sizeof(name), CONFIG_TEXT_ESCAPES) <= 0) {
                continue;
            }
            if (strcmp(name, "SELF") == 0) {
                target = self;
            } else {
                UINT_PTR value = 0;
                if (ListFindByName(guard.database()->objects, name, &value, 0)) {
                    target = reinterpret_cast<InstallObject*>(value);
                }
            }
            if (target == nullptr) {
                continue;
            }
        }
        Replacement r = Resolve(k->keyword, target, guard.database());
        if (r.text == nullptr) {
            continue;
        }
        // "(KEYWORD ...)": the parenthesis before the reference goes, and so does the character after it.
        UINT32 runEnd = wordStart;
        if (runEnd > runStart && text[runEnd - 1] == '(') {
            runEnd--;
            if (ct.cursor < length) {
                ct.cursor++;
            }
        }
        Join(out, text + runStart, runEnd - runStart, joinRun);
        Join(out, r.text, strlen(r.text), r.joinsBefore);
        MemFree(r.text);
        joinRun = r.joinsAfter;
        runStart = ct.cursor;
        changed = true;
    }
    if (!changed) {
        return Deliver(text, length, text, size, false);
    }
    Join(out, text + runStart, length - runStart, joinRun);
    if (out.failed()) {
        return nullptr;
    }
    return Deliver(out.text(), out.length(), text, size, true);
}

void ExpandObjectTexts(ObjectId id)
{
    ObjectGuard guard(id);
    InstallObject* o = guard.object();
    if (o == nullptr || (o->state & STATE_EXPANDED)) {
        return;
    }
    char** texts[] = {&o->source, &o->targetPath, &o->contents, &o->registerText, &o->unregisterText};
    for (char** field : texts) {
        if (*field == nullptr || (*field)[0] == '\0') {
            continue;
        }
        char* expanded = ExpandText(id, *field, static_cast<int>(strlen(*field) + 1));
        if (expanded != nullptr && expanded != *field) {
            MemFree(*field);
            *field = expanded;
        }
    }
    o->state |= STATE_EXPANDED;
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
    HKEY key = OpenRegKeyRead(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\");
    if (key == nullptr) {
        return 0;
    }
    char path[MAX_PATH + 1] = {};
    DWORD bytes = MAX_PATH, type = 0;
    LONG r = RegQueryValueExA(key, "ProgramFilesDir", nullptr, &type, reinterpret_cast<BYTE*>(path), &bytes);
    CloseRegKey(key);
    // A value of another type than a string counts as absent.
    if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return 0;
    }
    return DeliverFolder(path, buffer, size);
}
