#include "script/object_walk.h"

#include "script/object_internal.h"

namespace {

// The object after (or before) value in the walk's direction that the mask takes; null at the end.
InstallObject* Step(const ObjectWalk* w, UINT_PTR value)
{
    for (UINT_PTR following = 0;; value = following) {
        int ok = w->forward ? ListNext(w->d->objects, value, &following, 0, 0)
                            : ListPrev(w->d->objects, value, &following, 0, 0);
        if (!ok) {
            return nullptr;
        }
        InstallObject* o = reinterpret_cast<InstallObject*>(following);
        if (w->mask == 0 || (o->flags & w->mask) != 0) {
            return o;
        }
    }
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

bool WalkBegin(ObjectWalk* w, ObjectDatabase* d, bool forward, UINT32 mask)
{
    w->d = d;
    w->forward = forward;
    w->mask = mask;
    w->object = nullptr;
    UINT_PTR value = 0;
    if (d == nullptr || !(forward ? ListFirst(d->objects, &value, 0) : ListLast(d->objects, &value, 0))) {
        return false;
    }
    InstallObject* first = reinterpret_cast<InstallObject*>(value);
    w->object = mask == 0 || (first->flags & mask) != 0 ? first : Step(w, value);
    return w->object != nullptr;
}

bool WalkBegin(ObjectWalk* w, DatabaseHandle db, bool forward, UINT32 mask)
{
    ObjectDatabase* d = nullptr;
    w->held = HoldDatabase(db, &d);
    return WalkBegin(w, d, forward, mask);
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
