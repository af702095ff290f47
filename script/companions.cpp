#include "script/companions.h"

#include "script/object_internal.h"
#include "support/memory.h"

#include <string.h>

void FreeFriendList(InstallObject* o)
{
    if (o->friends != 0) {
        UINT_PTR record = 0;
        while (ListFirst(o->friends, &record, 0)) {
            ListRemoveByKey(o->friends, record);
            MemFree(reinterpret_cast<void*>(record));
        }
        ListDestroy(o->friends);
        o->friends = 0;
    }
    o->state &= ~STATE_HAS_FRIENDS;
}

int AddFriendExtension(ObjectId id, const FriendExtension* record)
{
    if (record == nullptr) {
        return 0;
    }
    HeldObject guard(id);
    InstallObject* o = guard.writable();
    if (o == nullptr) {
        return 0;
    }
    char extension[OBJECT_NAME_SIZE];
    memcpy(extension, record->extension, sizeof(extension));
    extension[OBJECT_NAME_SIZE - 1] = '\0';
    const char* rest = extension;
    while (*rest == '.') {
        rest++;
    }
    if (*rest == '\0' || !(record->mode & (FRIEND_DELETE | FRIEND_SATELLITE)) ||
        (o->flags & (OBJECT_TYPE_MASK | OBJECT_DELETE)) != OBJECT_FILE) {
        return 0;
    }
    FriendExtension* copy = static_cast<FriendExtension*>(MemAlloc(sizeof(FriendExtension)));
    if (copy == nullptr) {
        return 0;
    }
    copy->mode = record->mode & (FRIEND_DELETE | FRIEND_SATELLITE);
    if (copy->mode > 1 && (record->mode & FRIEND_NEIGHBOUR)) {
        copy->mode |= FRIEND_NEIGHBOUR;
    }
    copy->extension[0] = '.';
    lstrcpynA(copy->extension + 1, rest, OBJECT_NAME_SIZE - 1);

    UINT_PTR existing = 0;
    bool added = false;
    if (o->friends == 0) {
        o->friends = ListCreate();
    }
    if (o->friends != 0 && !ListFindByName(o->friends, copy->extension, &existing, 0)) {
        added = ListSetByName(o->friends, copy->extension, reinterpret_cast<UINT_PTR>(copy)) != 0;
    }
    if (!added) {
        MemFree(copy);
        if (o->friends != 0 && ListCount(o->friends) == 0) {
            ListDestroy(o->friends);
            o->friends = 0;
        }
        return 0;
    }
    o->flags |= OBJECT_EXTENDED | OBJECT_TOUCHED;
    o->state |= STATE_HAS_FRIENDS;
    return 1;
}

void ClearFriendExtensions(ObjectId id)
{
    HeldObject guard(id);
    if (guard.object() != nullptr) {
        FreeFriendList(guard.object());
    }
}
