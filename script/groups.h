#pragma once
// Program groups: finding or creating the folder of a group object below the Programs folders, and
// choosing the database's current group. Groups kept by Program Manager (database flag 0x2000) are
// not handled here yet: both operations answer 0 for them.
#include "script/object_database.h"

// 1 when the group is present (found, with a folder) and became the database's current group.
int SelectGroup(ObjectId id);

// 1 when the group's folder exists below its parent Programs folder or, without checkOnly, was
// created there. With select the group is then marked found and becomes the current group.
int ResolveGroup(ObjectId id, int select, int checkOnly);
