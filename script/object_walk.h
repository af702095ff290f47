#pragma once
// Walks over a database's objects that never begin again. The object that follows is taken only once
// the current one has been handled, so that the objects a handler adds (they join the end of the list)
// are still reached by a forward walk; dropping the current object steps over the objects that go
// with it (its descendants) before it is destroyed. The caller holds the database.
#include "script/object_database.h"

struct ObjectWalk {
    ObjectDatabase* d;
    bool forward;
    InstallObject* object; // the current object; null once the walk has ended
};

// The first object (the last one for a backward walk); false when there is none.
bool WalkBegin(ObjectWalk* w, ObjectDatabase* d, bool forward);
// On to the object after the current one; false at the end.
bool WalkNext(ObjectWalk* w);
// Destroys the current object (and its descendants) and goes on to the object that followed it.
bool WalkDrop(ObjectWalk* w);
