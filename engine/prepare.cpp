#include "engine/prepare.h"

#include "engine/executor.h"
#include "engine/removal_report.h"
#include "engine/shared_objects.h"
#include "script/companions.h"
#include "script/groups.h"
#include "script/object_keys.h"
#include "script/object_text.h"
#include "script/object_walk.h"
#include "support/guards.h"
#include "support/report.h"
#include "support/startup.h"

namespace {

// The file flags whose component actions are pending: "_OCX", "_REGISTER", "_UNREGISTER",
// "_UNINSTALL", "_GROUP", "_SYSLIB"; of a removable file that cannot be tested, the last three.
const UINT32 COMPONENT_FLAGS = 0x97010000;
const UINT32 COMPONENT_FLAGS_UNTESTED = 0x94000000;
const int EVERY_OBJECT = -1;

// One preparation.
struct Preparation {
    UINT_PTR context;
    ObjectDatabase* d;
    UINT32 options;
    int count;
};

enum Walk { WALK_NEXT, WALK_DROP, WALK_ABORT };

int Tell(Preparation& p, UINT_PTR subject, UINT_PTR kind, UINT32 event, UINT_PTR code = 0)
{
    return DatabaseCallbackOf(p.d)(p.context, subject, kind, event, code);
}

void Report(Preparation& p, InstallObject* o)
{
    Tell(p, ObjectIdOf(o), 0, EVENT_OBJECT_DONE);
}

// A "_KEEPCONTENTS" value's present data becomes its contents.
void CaptureContents(InstallObject* o)
{
    HeapText text(ReadItemString(ObjectIdOf(o)));
    if (text) {
        SetObjectContents(ObjectIdOf(o), text.get());
    }
}

// Wildcards become the files they match, companions objects of their own. True when the object
// goes (a wildcard, once its matches are objects of their own).
bool Expand(Preparation& p, InstallObject* o)
{
    if (ObjectStateOf(o) & STATE_TARGET_MASK) {
        if (ExpandTargetMask(ObjectIdOf(o), (p.options & PREPARE_MASKS_FROM_TARGET) ? 0 : 1) > 0) {
            p.count++;
        }
        return true;
    }
    if (ObjectStateOf(o) & STATE_HAS_FRIENDS) {
        if (CreateFriendObjects(ObjectIdOf(o), static_cast<UINT32>(EVERY_OBJECT), 1) > 0) {
            p.count++;
        }
        ClearFriendExtensions(ObjectIdOf(o));
    }
    return false;
}

// Tests a removable file for being in use with one open for writing without sharing: a file that is
// not there is selected but not counted; a file another process holds (whatever its sharing) is in use.
// A file that cannot be written (read-only) is there and not in use; on any other answer a plain open
// for reading tells whether it is there. A file in use that other products still count is left to
// them; any other is told to the callback.
Walk TestFile(Preparation& p, InstallObject* o, const char* path, bool* counted)
{
    KernelHandle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD error = file ? ERROR_SUCCESS : GetLastError();
    file.reset();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        *counted = false;
        return WALK_NEXT;
    }
    if (error != ERROR_SUCCESS && error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) {
        KernelHandle read(
            CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!read) {
            *counted = false;
            return WALK_NEXT;
        }
    }
    if (ObjectFlagsOf(o) & COMPONENT_FLAGS) {
        MarkObject(o, MARK_COMPONENT);
    }
    if (error == ERROR_SHARING_VIOLATION) {
        bool leftToOthers =
            (ObjectFlagsOf(o) & OBJECT_SHARED) && UpdateSharedCount(ObjectIdOf(o), 0, DatabaseSharingModeOf(p.d)) > 1;
        if (!leftToOthers &&
            Tell(p, ObjectIdOf(o), OBJECT_FILE, EVENT_FILE_IN_USE, CODE_FILE_IN_USE) == CALLBACK_ABORT) {
            return WALK_ABORT;
        }
    }
    return WALK_NEXT;
}

// A removable object: checked, its path built, its marks set by type, a file tested for use.
Walk SelectRemovable(Preparation& p, InstallObject* o)
{
    SetObjectStateBits(o, STATE_CHECKED_REMOVABLE);
    HeapText path(GetObjectPathInto(ObjectIdOf(o), nullptr, 0));
    if (!path) {
        // A removable object without a path: nothing can be known to go, so nothing goes.
        ReportLine("  %-31s cannot be removed: no path can be made for it; the removal stops before any change",
                   ObjectNameOf(o));
        return WALK_ABORT;
    }
    bool counted = true;
    switch (ObjectType(o)) {
    case OBJECT_FILE:
        MarkObject(o, (ObjectFlagsOf(o) & OBJECT_SHARED) ? MARK_RELEASE : 0);
        MarkObject(o, (ObjectFlagsOf(o) & COMPONENT_FLAGS_UNTESTED) ? MARK_COMPONENT : 0);
        if (p.options & PREPARE_NO_IN_USE_TEST) {
            MarkObject(o, (ObjectFlagsOf(o) & COMPONENT_FLAGS) ? MARK_COMPONENT : 0);
        } else if (TestFile(p, o, path.get(), &counted) == WALK_ABORT) {
            return WALK_ABORT;
        }
        break;
    case OBJECT_REGITEM:
        if (ObjectFlagsOf(o) & OBJECT_COUNTER) {
            ClearObjectStateBits(o, STATE_COUNT_RAISED | STATE_COUNT_LOWERED); // may be raised and lowered once again
        }
        // fall through
    case OBJECT_DIRECTORY:
    case OBJECT_GROUP:
    case OBJECT_REGKEY:
        MarkObject(o, (ObjectFlagsOf(o) & OBJECT_SHARED) ? MARK_RELEASE : 0);
        break;
    default:
        counted = false;
        break;
    }
    p.count += counted ? 1 : 0;
    MarkObject(o, MARK_SELECTED);
    Report(p, o);
    return WALK_NEXT;
}

// One object of the second walk.
Walk PrepareObject(Preparation& p, InstallObject* o)
{
    if (ObjectStateOf(o) & STATE_READ_ONLY) {
        Report(p, o);
        return WALK_NEXT;
    }
    if ((p.options & PREPARE_EXPAND) && Expand(p, o)) {
        return WALK_DROP;
    }
    if (ObjectFlagsOf(o) & OBJECT_SHARED) {
        UpdateSharedCount(ObjectIdOf(o), 0, DatabaseSharingModeOf(p.d));
    }
    if (ObjectFlagsOf(o) & MARK_SELECTED) {
        return WALK_NEXT;
    }
    if (ObjectFlagsOf(o) & OBJECT_QUERY) {
        int answer =
            (p.options & PREPARE_ASK_QUERIES) ? Tell(p, ObjectIdOf(o), ObjectType(o), EVENT_QUERY) : CALLBACK_KEEP;
        UnmarkObject(o, OBJECT_QUERY);
        if (answer == CALLBACK_ABORT) {
            return WALK_ABORT;
        }
        if (answer == CALLBACK_DROP) {
            return WALK_DROP;
        }
    }
    if (!(ObjectFlagsOf(o) & OBJECT_TOUCHED) || (ObjectFlagsOf(o) & OBJECT_DELETE)) {
        if (p.options & PREPARE_KEEP_UNTOUCHED) {
            Report(p, o);
            return WALK_NEXT;
        }
        return WALK_DROP;
    }
    if (!(ObjectFlagsOf(o) & OBJECT_REMOVABLE)) {
        MarkObject(o, MARK_SELECTED);
        if (ObjectType(o) == OBJECT_FILE && (ObjectFlagsOf(o) & COMPONENT_FLAGS)) {
            MarkObject(o, MARK_COMPONENT);
        }
        MarkObject(o, (ObjectFlagsOf(o) & OBJECT_SHARED) ? MARK_RELEASE : 0);
        Report(p, o);
        return WALK_NEXT;
    }
    return SelectRemovable(p, o);
}

// The second walk, first to last, once: what it adds is reached at the end, what it drops goes on the
// way.
bool SelectionWalk(Preparation& p)
{
    ObjectWalk w;
    for (bool more = WalkBegin(&w, p.d, true); more;) {
        Walk step = PrepareObject(p, w.object);
        if (step == WALK_ABORT) {
            return false;
        }
        more = step == WALK_DROP ? WalkDrop(&w) : WalkNext(&w);
    }
    return true;
}

// The final walk: only keys that exist (their handles opened below their parents') and groups that are
// found stay selected.
void FindContainers(Preparation& p)
{
    ObjectWalk w;
    for (bool more = WalkBegin(&w, p.d, true); more; more = WalkNext(&w)) {
        InstallObject* o = w.object;
        if (!(ObjectFlagsOf(o) & MARK_SELECTED) || (ObjectStateOf(o) & STATE_READ_ONLY)) {
            continue;
        }
        if (ObjectType(o) == OBJECT_REGKEY && ObjectKeyOf(o) == nullptr) {
            UnmarkObject(o, MARK_SELECTED);
            InstallObject* parent = ObjectParentOf(o) != 0 ? LockObject(ObjectParentOf(o)) : nullptr;
            HeapText path(parent != nullptr && ObjectKeyOf(parent) != nullptr
                              ? GetObjectLeafName(ObjectIdOf(o), 0, nullptr, 0)
                              : nullptr);
            HKEY key = path ? OpenRegKeyWrite(ObjectKeyOf(parent), path.get()) : nullptr;
            ReleaseObject(parent);
            SetObjectKeyHandle(o, key);
            MarkObject(o, key != nullptr ? MARK_SELECTED : 0);
        } else if (ObjectType(o) == OBJECT_GROUP &&
                   ((DatabaseFlagsOf(p.d) & DATABASE_PROGMAN_GROUPS) || ObjectGroupIdList(o) == nullptr)) {
            UnmarkObject(o, MARK_SELECTED);
            MarkObject(o, ResolveGroup(ObjectIdOf(o), 0, 1) ? MARK_SELECTED : 0);
        }
    }
}

} // namespace

int PrepareRemoval(UINT_PTR context, DatabaseHandle db, UINT32 options)
{
    ObjectDatabase* d = nullptr;
    HeldDatabase held = HoldDatabase(db, &d);
    if (d == nullptr || !ComAcquire()) {
        return -1;
    }
    Preparation p = {context, d, options, 0};
    Tell(p, static_cast<UINT_PTR>(CountObjectsWithFlags(db, static_cast<UINT32>(EVERY_OBJECT))), 0, EVENT_PASS_BEGIN);
    if ((DatabaseFlagsOf(d) & DATABASE_PROCESSED) && !(options & PREPARE_AGAIN)) {
        ComRelease();
        return 0;
    }
    ObjectWalk w;
    for (bool more = WalkBegin(&w, d, true); more; more = WalkNext(&w)) {
        InstallObject* o = w.object;
        if (ObjectType(o) == OBJECT_REGITEM && (ObjectFlagsOf(o) & OBJECT_KEEPCONTENTS) &&
            !(ObjectStateOf(o) & STATE_READ_ONLY)) {
            CaptureContents(o);
        }
    }
    int result = -1;
    if (SelectionWalk(p)) {
        if (!(options & PREPARE_NO_FINAL_WALK)) {
            FindContainers(p);
        }
        if (!(options & PREPARE_KEEP_FLAGS)) {
            SetDatabaseFlags(db, DATABASE_PREPARED_BITS, 1);
        }
        result = p.count;
    }
    Tell(p, 0, 0, EVENT_PASS_END);
    ComRelease();
    return result;
}
