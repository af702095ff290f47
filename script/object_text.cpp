// The texts of objects: paths built from parent chains, leaf names, source paths, and the expansion of
// references inside the stored texts, which in turn asks for paths and texts of the objects named.
#include "script/object_text.h"

#include "script/object_internal.h"
#include "script/text_builder.h"
#include "script/text_expansion.h"
#include "support/guards.h"
#include "support/strings.h"

#include <string.h>

#include <utility>

void FreeObjectText(char* text)
{
    MemFree(text);
}

namespace {

// A buffer given with a size is emptied before any work.
void ClearBuffer(char* buffer, int size)
{
    if (buffer != nullptr && size != 0) {
        buffer[0] = '\0';
    }
}

// Delivers a heap text by the buffer convention and frees it; null stays null.
char* DeliverOwned(char* text, char* buffer, int size)
{
    HeapText owned(text);
    return owned ? DeliverObjectText(owned.get(), strlen(owned.get()), buffer, size) : nullptr;
}

// A stored text expanded in the context of its object: a new heap text, or null.
char* Expanded(ObjectId id, const char* text)
{
    return ExpandText(id, const_cast<char*>(text), 0);
}

// The part of a text behind its last backslash.
const char* AfterLastBackslash(const char* text)
{
    const char* slash = strrchr(text, '\\');
    return slash != nullptr ? slash + 1 : text;
}

bool IsContainerType(UINT32 type)
{
    return type == OBJECT_DIRECTORY || type == OBJECT_GROUP || type == OBJECT_REGKEY;
}

// The own part an object contributes to a path: its expanded target path (a file: only the name),
// else its name. *root tells that the walk ends here; false with a null result: no path at all.
char* OwnPart(InstallObject* o, bool* root)
{
    *root = o->parent == 0;
    bool hasTarget = o->targetPath != nullptr && o->targetPath[0] != '\0';
    if (*root && !((o->flags & OBJECT_ROOT_PATH) && hasTarget)) {
        return nullptr;
    }
    HeapText text(hasTarget ? Expanded(o->id, o->targetPath) : MemCopyText(o->name));
    if (text && ObjectType(o) == OBJECT_FILE && o->parent != 0) {
        return MemCopyText(AfterLastBackslash(text.get()));
    }
    return text.release();
}

// One walk of a path from an object up through its parents.
struct PathWalk {
    InstallObject* start = nullptr;
    UINT32 mode = 0;
    TextBuilder out;
    UINT32 lastType = 0;       // type of the last part placed (or, before any, of the first left out)
    UINT32 lastPlacedType = 0; // type of the last part really placed
    bool ownPresent = false;   // the start object's own part was placed
};

// Whether the mode leaves an object's own part out.
bool LeftOut(const PathWalk& w, const InstallObject* o)
{
    bool readOnly = (o->state & STATE_READ_ONLY) != 0;
    if (o == w.start) {
        return (w.mode & PATH_FOLDER) != 0;
    }
    return readOnly ? (w.mode & PATH_BELOW_BUILTIN) != 0 : (w.mode & PATH_BUILTIN_ONLY) != 0;
}

// Puts an object's part in front of the path: a backslash between, unless the part ends in one; two
// parts of the same type where the path already begins with one meet without a doubled backslash.
void PlacePart(PathWalk& w, const InstallObject* o, const char* part)
{
    size_t n = strlen(part);
    UINT32 type = ObjectType(o);
    if (n == 0 || LeftOut(w, o)) {
        if (w.lastType == 0) {
            w.lastType = type;
        }
        return;
    }
    if (w.lastType == 0) {
        w.out.Prepend(part, n);
    } else if (type == w.lastType && w.out.First() == '\\') {
        w.out.Prepend(part, part[n - 1] == '\\' ? n - 1 : n);
    } else {
        if (part[n - 1] != '\\') {
            w.out.Prepend("\\", 1);
        }
        w.out.Prepend(part, n);
    }
    w.lastType = w.lastPlacedType = type;
    w.ownPresent = w.ownPresent || o == w.start;
}

// Trims and completes a walked path as the mode asks.
void FinishPath(PathWalk& w)
{
    UINT32 startType = ObjectType(w.start);
    bool fileOrItemPart = (startType == OBJECT_FILE || startType == OBJECT_REGITEM) && w.ownPresent;
    if (w.mode & PATH_TRIM) {
        // A registry item alone keeps its leading backslashes, and its trailing ones when present.
        bool itemAlone = startType == OBJECT_REGITEM && w.lastPlacedType == OBJECT_REGITEM;
        while (!itemAlone && w.out.length() != 0 && w.out.First() == '\\') {
            w.out.DropFirst();
        }
        bool keepTrailing = startType == OBJECT_REGITEM && w.ownPresent;
        while (!keepTrailing && w.out.length() != 0 && w.out.Last() == '\\') {
            w.out.DropLast();
        }
    }
    if ((w.mode & PATH_CONTAINER) && w.out.length() != 0 && w.out.Last() != '\\' && !fileOrItemPart) {
        w.out.Append("\\", 1);
    }
}

} // namespace

char* GetObjectLeafName(ObjectId id, int trim, char* buffer, int size)
{
    ClearBuffer(buffer, size);
    HeldObject guard(id);
    InstallObject* o = guard.object();
    if (o == nullptr) {
        return nullptr;
    }
    HeapText own;
    if (o->targetPath != nullptr && o->targetPath[0] != '\0' && (o->parent != 0 || (o->flags & OBJECT_ROOT_PATH))) {
        own.reset(Expanded(id, o->targetPath));
        if (!own) {
            return nullptr;
        }
    }
    const char* text = own ? own.get() : o->name;
    if (ObjectType(o) == OBJECT_FILE) {
        text = AfterLastBackslash(text);
    }
    size_t length = strlen(text);
    if (trim && length != 0) {
        if (text[0] == '\\') {
            text++;
            length--;
        }
        if (length != 0 && text[length - 1] == '\\') {
            length--;
        }
    }
    return DeliverObjectText(text, length, buffer, size);
}

char* GetObjectPath(ObjectId id, UINT32 mode, char* buffer, int size)
{
    ClearBuffer(buffer, size);
    HeldObject guard(id);
    if (guard.object() == nullptr) {
        return nullptr;
    }
    ObjectDatabase* d = guard.database();
    PathWalk w;
    w.start = guard.object();
    w.mode = mode;
    // Parents never form a cycle, but the walk is bounded all the same.
    UINT32 steps = ListCount(d->objects) + 1;
    for (InstallObject* o = w.start; o != nullptr && steps-- != 0; o = FindObjectIn(d, o->parent)) {
        bool root = false;
        HeapText part(OwnPart(o, &root));
        if (!part) {
            return nullptr; // a chain without a root path has no path
        }
        PlacePart(w, o, part.get());
        if (root) {
            break; // a parent that is not there ends the walk as well
        }
    }
    FinishPath(w);
    if (w.out.failed()) {
        return nullptr;
    }
    return DeliverObjectText(w.out.text(), w.out.length(), buffer, size);
}

char* GetObjectPathInto(ObjectId id, char* buffer, int size)
{
    return GetObjectPath(id, 0, buffer, size);
}

char* GetObjectDiskPath(ObjectId id, char* buffer, int size)
{
    ClearBuffer(buffer, size);
    HeldObject guard(id);
    InstallObject* o = guard.object();
    if (o == nullptr) {
        return nullptr;
    }
    // A system library lies under its system-library name until it has been checked as removable.
    if (ObjectType(o) != OBJECT_FILE || !(o->flags & OBJECT_SYSLIB) || (o->state & STATE_CHECKED_REMOVABLE)) {
        return GetObjectPath(id, 0, buffer, size);
    }
    HeapText folder(GetObjectPath(id, PATH_FOLDER, nullptr, 0));
    return DeliverOwned(folder ? PathJoin(folder.get(), o->sysLibName, false) : nullptr, buffer, size);
}

namespace {

// Joins a piece of a source path: exactly one backslash between.
void JoinSourcePiece(TextBuilder& out, const char* piece)
{
    size_t n = strlen(piece);
    if (n == 0) {
        return;
    }
    if (out.length() != 0 && out.Last() == '\\' && piece[0] == '\\') {
        out.DropLast();
    } else if (out.length() != 0 && out.Last() != '\\' && piece[0] != '\\') {
        out.Append("\\", 1);
    }
    out.Append(piece, n);
}

// The source folder of a file and the name its source gives it (its own leaf name unless the source
// names a file).
struct SourceParts {
    HeapText leaf;
    HeapText folder;
    const char* fileName;
};

void SplitSource(InstallObject* o, SourceParts* parts)
{
    parts->leaf.reset(GetObjectLeafName(o->id, 0, nullptr, 0));
    parts->fileName = parts->leaf ? parts->leaf.get() : "";
    if (o->source == nullptr || o->source[0] == '\0') {
        return;
    }
    HeapText source(Expanded(o->id, o->source));
    if (!source) {
        return;
    }
    size_t n = strlen(source.get());
    if (n == 0 || source.get()[n - 1] == '\\') {
        parts->folder = std::move(source);
        return;
    }
    // The source names a file: its name stands for the object's.
    const char* name = AfterLastBackslash(source.get());
    size_t folderLength = static_cast<size_t>(name - source.get());
    parts->folder.reset(static_cast<char*>(MemAlloc(n + 4)));
    if (parts->folder) {
        memcpy(parts->folder.get(), source.get(), folderLength);
    }
    parts->leaf.reset(MemCopyText(name));
    parts->fileName = parts->leaf ? parts->leaf.get() : "";
}

} // namespace

char* GetObjectSourcePath(ObjectId id, int withFile, char* buffer, int size)
{
    ClearBuffer(buffer, size);
    HeldObject guard(id);
    InstallObject* o = guard.object();
    if (o == nullptr || ObjectType(o) != OBJECT_FILE) {
        return nullptr;
    }
    ObjectDatabase* d = guard.database();
    SourceParts parts;
    SplitSource(o, &parts);
    TextBuilder out;
    if (o->sourceIndex >= 0 && static_cast<UINT32>(o->sourceIndex) < d->sourceCount &&
        d->sources[o->sourceIndex] != nullptr) {
        out.Append(d->sources[o->sourceIndex], strlen(d->sources[o->sourceIndex]));
    }
    if (parts.folder) {
        JoinSourcePiece(out, parts.folder.get());
    }
    if (withFile) {
        JoinSourcePiece(out, parts.fileName);
    } else if (out.length() != 0 && out.Last() != '\\') {
        out.Append("\\", 1);
    }
    if (out.failed() || out.length() == 0) {
        return nullptr;
    }
    return DeliverObjectText(out.text(), out.length(), buffer, size);
}

namespace {

char* ObjectText(ObjectId id, char* InstallObject::*field, char* buffer, int size)
{
    ClearBuffer(buffer, size);
    HeldObject guard(id);
    InstallObject* o = guard.object();
    if (o == nullptr || o->*field == nullptr) {
        return nullptr;
    }
    return DeliverOwned(Expanded(id, o->*field), buffer, size);
}

} // namespace

char* GetObjectContentsText(ObjectId id, char* buffer, int size)
{
    return ObjectText(id, &InstallObject::contents, buffer, size);
}

char* GetObjectRegisterText(ObjectId id, char* buffer, int size)
{
    return ObjectText(id, &InstallObject::registerText, buffer, size);
}

char* GetObjectUnregisterText(ObjectId id, char* buffer, int size)
{
    return ObjectText(id, &InstallObject::unregisterText, buffer, size);
}

namespace {

// What a reference to an object stands for.
Replacement ResolveObjectReference(ReferenceKeyword keyword, InstallObject* target)
{
    Replacement r = {nullptr, false, false};
    UINT32 type = ObjectType(target);
    switch (keyword) {
    case REFERENCE_PATH:
        r.text = GetObjectPath(target->id, 0, nullptr, 0);
        if (r.text != nullptr && IsContainerType(type)) {
            r.text = WithTrailingBackslash(r.text);
            r.joinsAfter = r.text != nullptr && r.text[0] != '\0';
        }
        break;
    case REFERENCE_DIR:
        if (type == OBJECT_FILE || type == OBJECT_REGITEM) {
            r.text = GetObjectPath(target->id, PATH_FOLDER, nullptr, 0);
        } else if (IsContainerType(type)) {
            r.text = GetObjectPath(target->id, 0, nullptr, 0);
        }
        r.text = WithTrailingBackslash(r.text);
        r.joinsAfter = r.text != nullptr && r.text[0] != '\0';
        break;
    case REFERENCE_SOURCE:
        r.text = type == OBJECT_FILE ? GetObjectSourcePath(target->id, 1, nullptr, 0) : nullptr;
        break;
    case REFERENCE_FILE:
        r.text = GetObjectLeafName(target->id, 1, nullptr, 0);
        r.joinsBefore = true;
        r.joinsAfter = type != OBJECT_FILE && type != OBJECT_REGITEM;
        break;
    case REFERENCE_INFO:
        r.text = GetObjectContentsText(target->id, nullptr, 0);
        break;
    }
    return r;
}

} // namespace

char* ExpandText(ObjectId context, char* text, int size)
{
    return ExpandReferences(context, text, size, ResolveObjectReference);
}

void ExpandObjectTexts(ObjectId id)
{
    HeldObject guard(id);
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
