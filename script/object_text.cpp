#include "script/object_text.h"

#include "script/expand.h"
#include "script/object_internal.h"
#include "script/text_builder.h"
#include "support/memory.h"
#include "support/strings.h"

#include <string.h>

char* DeliverObjectText(const char* text, size_t length, char* buffer, int size)
{
    if (buffer != nullptr && size != 0) {
        if (size < 0) {
            size_t capacity = static_cast<size_t>(-static_cast<INT64>(size));
            size_t n = length < capacity - 1 ? length : capacity - 1;
            memcpy(buffer, text, n);
            buffer[n] = '\0';
            return buffer;
        }
        if (length < static_cast<size_t>(size)) {
            memcpy(buffer, text, length);
            buffer[length] = '\0';
            return buffer;
        }
    }
    char* copy = static_cast<char*>(MemAlloc((length + 4) & ~static_cast<size_t>(3)));
    if (copy != nullptr) {
        memcpy(copy, text, length);
    }
    return copy;
}

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
    if (text == nullptr) {
        return nullptr;
    }
    char* result = DeliverObjectText(text, strlen(text), buffer, size);
    MemFree(text);
    return result;
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

// The own part an object contributes to a path: its expanded target path (a file: only the name),
// else its name. *root tells that the walk ends here; false with a null result: no path at all.
char* OwnPart(InstallObject* o, bool* root)
{
    *root = o->parent == 0;
    bool hasTarget = o->targetPath != nullptr && o->targetPath[0] != '\0';
    if (*root && !((o->flags & OBJECT_ROOT_PATH) && hasTarget)) {
        return nullptr;
    }
    char* text = hasTarget ? Expanded(o->id, o->targetPath) : MemCopyText(o->name);
    if (text != nullptr && ObjectType(o) == OBJECT_FILE && o->parent != 0) {
        char* name = MemCopyText(AfterLastBackslash(text));
        MemFree(text);
        text = name;
    }
    return text;
}

} // namespace

char* GetObjectLeafName(ObjectId id, int trim, char* buffer, int size)
{
    ClearBuffer(buffer, size);
    ObjectGuard guard(id);
    InstallObject* o = guard.object();
    if (o == nullptr) {
        return nullptr;
    }
    char* own = nullptr;
    if (o->targetPath != nullptr && o->targetPath[0] != '\0' && (o->parent != 0 || (o->flags & OBJECT_ROOT_PATH))) {
        own = Expanded(id, o->targetPath);
        if (own == nullptr) {
            return nullptr;
        }
    }
    const char* text = own != nullptr ? own : o->name;
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
    char* result = DeliverObjectText(text, length, buffer, size);
    MemFree(own);
    return result;
}

char* GetObjectPath(ObjectId id, UINT32 mode, char* buffer, int size)
{
    ClearBuffer(buffer, size);
    ObjectGuard guard(id);
    InstallObject* start = guard.object();
    if (start == nullptr) {
        return nullptr;
    }
    ObjectDatabase* d = guard.database();
    const UINT32 startType = ObjectType(start);
    TextBuilder out;
    UINT32 lastType = 0;
    bool ownPresent = false;
    UINT32 lastPlacedType = 0;
    UINT32 steps = ListCount(d->objects) + 1;
    for (InstallObject* o = start; o != nullptr && steps-- != 0;) {
        bool root = false;
        char* part = OwnPart(o, &root);
        if (part == nullptr) {
            return nullptr; // a chain without a root path has no path
        }
        UINT32 type = ObjectType(o);
        bool readOnly = (o->state & STATE_READ_ONLY) != 0;
        bool leftOut = (o == start && (mode & PATH_FOLDER)) || (o != start && !readOnly && (mode & PATH_BUILTIN_ONLY)) ||
                       (o != start && readOnly && (mode & PATH_BELOW_BUILTIN));
        size_t n = strlen(part);
        if (n != 0 && !leftOut) {
            if (lastType == 0) {
                out.Prepend(part, n);
            } else if (type == lastType && out.First() == '\\') {
                out.Prepend(part, part[n - 1] == '\\' ? n - 1 : n);
            } else {
                if (part[n - 1] != '\\') {
                    out.Prepend("\\", 1);
                }
                out.Prepend(part, n);
            }
            lastType = type;
            lastPlacedType = type;
            ownPresent = ownPresent || o == start;
        } else if (lastType == 0) {
            lastType = type;
        }
        MemFree(part);
        if (root) {
            break;
        }
        o = FindObjectIn(d, o->parent); // a parent that is not there ends the walk
    }
    if (mode & PATH_TRIM) {
        bool itemAlone = startType == OBJECT_REGITEM && lastPlacedType == OBJECT_REGITEM;
        while (!itemAlone && out.length() != 0 && out.First() == '\\') {
            out.DropFirst();
        }
        bool keepTrailing = startType == OBJECT_REGITEM && ownPresent;
        while (!keepTrailing && out.length() != 0 && out.Last() == '\\') {
            out.DropLast();
        }
    }
    if ((mode & PATH_CONTAINER) && out.length() != 0 && out.Last() != '\\' &&
        !((startType == OBJECT_FILE || startType == OBJECT_REGITEM) && ownPresent)) {
        out.Append("\\", 1);
    }
    if (out.failed()) {
        return nullptr;
    }
    return DeliverObjectText(out.text(), out.length(), buffer, size);
}

char* GetObjectPathInto(ObjectId id, char* buffer, int size)
{
    return GetObjectPath(id, 0, buffer, size);
}

char* GetObjectDiskPath(ObjectId id, char* buffer, int size)
{
    ClearBuffer(buffer, size);
    ObjectGuard guard(id);
    InstallObject* o = guard.object();
    if (o == nullptr) {
        return nullptr;
    }
    if (ObjectType(o) != OBJECT_FILE || !(o->flags & OBJECT_SYSLIB) || (o->state & STATE_EXECUTOR_10)) {
        return GetObjectPath(id, 0, buffer, size);
    }
    char* folder = GetObjectPath(id, PATH_FOLDER, nullptr, 0);
    char* path = folder != nullptr ? PathJoin(folder, o->sysLibName, false) : nullptr;
    MemFree(folder);
    return DeliverOwned(path, buffer, size);
}

char* GetObjectSourcePath(ObjectId id, int withFile, char* buffer, int size)
{
    ClearBuffer(buffer, size);
    ObjectGuard guard(id);
    InstallObject* o = guard.object();
    if (o == nullptr || ObjectType(o) != OBJECT_FILE) {
        return nullptr;
    }
    ObjectDatabase* d = guard.database();
    char* leaf = GetObjectLeafName(id, 0, nullptr, 0);
    char* source = o->source != nullptr && o->source[0] != '\0' ? Expanded(id, o->source) : nullptr;
    const char* fileName = leaf != nullptr ? leaf : "";
    char* folder = nullptr;
    if (source != nullptr) {
        size_t n = strlen(source);
        if (n != 0 && source[n - 1] != '\\') {
            // The source names a file: its name stands for the object's.
            const char* name = AfterLastBackslash(source);
            fileName = name;
            folder = static_cast<char*>(MemAlloc(n + 4));
            if (folder != nullptr) {
                memcpy(folder, source, static_cast<size_t>(name - source));
            }
        } else {
            folder = MemCopyText(source);
        }
    }
    TextBuilder out;
    if (o->sourceIndex >= 0 && static_cast<UINT32>(o->sourceIndex) < d->sourceCount && d->sources[o->sourceIndex] != nullptr) {
        const char* root = d->sources[o->sourceIndex];
        out.Append(root, strlen(root));
    }
    auto join = [&out](const char* piece) {
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
    };
    if (folder != nullptr) {
        join(folder);
    }
    if (withFile) {
        join(fileName);
    } else if (out.length() != 0 && out.Last() != '\\') {
        out.Append("\\", 1);
    }
    char* result = nullptr;
    if (!out.failed() && out.length() != 0) {
        result = DeliverObjectText(out.text(), out.length(), buffer, size);
    }
    MemFree(folder);
    MemFree(source);
    MemFree(leaf);
    return result;
}

namespace {

char* ObjectText(ObjectId id, char* InstallObject::*field, char* buffer, int size)
{
    ClearBuffer(buffer, size);
    ObjectGuard guard(id);
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
