#include "script/object_walk.h"

#include "script/object_internal.h"

namespace {

// The object after (or before) value in the walk's direction; null at the end.
InstallObject* Step(const ObjectWalk* w, UINT_PTR value)
{
    UINT_PTR following = 0;
    int ok = w->forward ? ListNext(w->d->objects, value, &following, 0, 0)
                        : ListPrev(w->d->objects, value, &following, 0, 0);
    return ok ? reinterpret_cast<InstallObject*>(following) : nullptr;
}

// True when o is below ancestor (a child, a child's child, ...).
bool IsBelow(ObjectDatabase* d, const InstallObject* o, ObjectId ancestor)
{
    UINT32 steps = ListCount(d->objects); // no chain of parents is longer, unless it runs in a circle
    for (InstallObject* up = FindObjectIn(d, o->parent); up != nullptr && steps-- > 0;
         up = FindObjectIn(d, up->parent)) {
        if (up->id == ancestor) {
            return true;
        }
    }
    return false;
}

} // namespace

bool WalkBegin(ObjectWalk* w, ObjectDatabase* d, bool forward)
{
    w->d = d;
    w->forward = forward;
    UINT_PTR value = 0;
    int ok = d != nullptr && (forward ? ListFirst(d->objects, &value, 0) : ListLast(d->objects, &value, 0));
    w->object = ok ? reinterpret_cast<InstallObject*>(value) : nullptr;
    return w->object != nullptr;
}

bool WalkNext(ObjectWalk* w)
{
    w->object = w->object != nullptr ? Step(w, w->object->id) : nullptr;
    return w->object != nullptr;
}

bool WalkDrop(ObjectWalk* w)
{
    InstallObject* dropped = w->object;
    if (dropped == nullptr) {
        return false;
    }
    InstallObject* following = Step(w, dropped->id);
    while (following != nullptr && IsBelow(w->d, following, dropped->id)) {
        following = Step(w, following->id);
    }
    DestroyObject(dropped->id);
    w->object = following;
    return following != nullptr;
}
