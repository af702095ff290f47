#include "script/object_text.h"

#include "script/object_internal.h"
#include "support/memory.h"

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

char* GetObjectLeafName(ObjectId id, int trim, char* buffer, int size)
{
    if (buffer != nullptr && size != 0) {
        buffer[0] = '\0';
    }
    ObjectGuard guard(id);
    InstallObject* o = guard.object();
    if (o == nullptr) {
        return nullptr;
    }
    const char* text = o->name;
    if (o->targetPath != nullptr && o->targetPath[0] != '\0' && (o->parent != 0 || (o->flags & OBJECT_ROOT_PATH))) {
        text = o->targetPath;
    }
    if (ObjectType(o) == OBJECT_FILE) {
        const char* slash = strrchr(text, '\\');
        if (slash != nullptr) {
            text = slash + 1;
        }
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
