#pragma once
// Walks over a database's objects that never begin again. The object that follows is taken only once
// the current one has been handled, so that the objects a handler adds (they join the end of the list)
// are still reached by a forward walk; dropping the current object steps over the objects that go
// with it (its descendants) before it is destroyed. A walk may keep to the objects whose flags share a
// bit with a mask (a type, or a pass of the executor). Begun from a database record, the caller holds
// the database; begun from a handle, the walk holds it for as long as it lives.
#include "script/object_database.h"

struct ObjectWalk {
    ObjectDatabase* d = nullptr;
    bool forward = true;
    UINT32 mask = 0;                 // 0: every object
    InstallObject* object = nullptr; // the current object; null once the walk has ended
    HeldDatabase held;               // the lock a walk begun from a handle holds
};

// The first object (the last one for a backward walk) of the mask; false when there is none.
bool WalkBegin(ObjectWalk* w, ObjectDatabase* d, bool forward, UINT32 mask = 0);
bool WalkBegin(ObjectWalk* w, DatabaseHandle db, bool forward, UINT32 mask = 0);
// On to the next object of the mask after the current one; false at the end.
bool WalkNext(ObjectWalk* w);
// Destroys the current object (and its descendants) and goes on to the object that followed it.
bool WalkDrop(ObjectWalk* w);
