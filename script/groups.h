#pragma once
// Program groups: choosing the database's current group, and finding or creating a group. Groups kept
// by Program Manager (database flag DATABASE_PROGMAN_GROUPS) are reached over DDE; all others are
// folders below the Programs folders of the Start menu.
#include "script/object_database.h"

// 1 when the group is present and became the database's current group: a Program Manager group must
// be among Program Manager's groups (it is shown, so that items can be deleted from it); a shell
// group must have its folder resolved.
int SelectGroup(ObjectId id);

// 1 when the group exists or, without checkOnly, was created: a Program Manager group by name (shown
// with select), a shell group as a folder below its parent Programs folder. With select the group is
// then marked found and becomes the current group.
int ResolveGroup(ObjectId id, int select, int checkOnly);
