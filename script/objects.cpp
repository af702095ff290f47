// Install objects: creation, destruction, lookups and the setters the script loader calls.
#include "script/object_database.h"

#include "script/companions.h"
#include "script/object_internal.h"
#include "script/object_text.h"
#include "support/memory.h"

#include <string.h>

namespace {

// Objects of the sharing tree itself, never counted in the shared-object registry.
const char* const kNoShareCountNames[] = {"SHARING_HKEY_FILES",  "SHARING_HKEY_ITEMS", "SHARING_HKEY_DIRS",
                                          "SHARING_HKEY_GROUPS", "SHARING_HKEY_KEYS",  "PARENT_HKEY",
                                          "PROJECT_HKEY",        "PROJECT_LOCATION"};

// The bits SetObjectFlags lets through: the three work marks and touched, "_SHARED" to "_UNINSTALL"
// but for the root-path and group bits that only their setters set, and the pass-through bit.
const UINT32 OBJECT_SETTABLE_FLAGS = 0x20ffe00f;

// Predefined registry roots are never closed.
const char* const kRootKeyNames[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS"};

// The parent type each type expects.
UINT32 ExpectedParentType(UINT32 type)
{
    switch (type) {
    case OBJECT_FILE:
    case OBJECT_DIRECTORY:
        return OBJECT_DIRECTORY;
    case OBJECT_GROUP:
        return OBJECT_GROUP;
    case OBJECT_REGKEY:
    case OBJECT_REGITEM:
        return OBJECT_REGKEY;
    default:
        return 0;
    }
}

// The leaf form cut at the last '.' behind the last backslash: a name for program items and for the
// program of an uninstall command.
void LeafWithoutExtension(ObjectId id, char* out, int size)
{
    out[0] = '\0';
    GetObjectLeafName(id, 0, out, -size);
    char* slash = strrchr(out, '\\');
    char* dot = strrchr(slash != nullptr ? slash : out, '.');
    if (dot != nullptr) {
        *dot = '\0';
    }
}

} // namespace

InstallObject* FindObjectIn(ObjectDatabase* d, ObjectId id)
{
    UINT_PTR value = 0;
    return d != nullptr && id != 0 && ListFindByKey(d->objects, id, &value, 0) ? reinterpret_cast<InstallObject*>(value)
                                                                               : nullptr;
}

bool ReplaceObjectText(char** field, const char* text)
{
    MemFree(*field);
    *field = nullptr;
    if (text == nullptr || text[0] == '\0') {
        return true;
    }
    *field = MemCopyText(text);
    return *field != nullptr;
}

void CopyObjectName(char* field, const char* text)
{
    lstrcpynA(field, text != nullptr ? text : "", OBJECT_NAME_SIZE);
}

ObjectId AddObject(DatabaseHandle db, const char* name, UINT32 type)
{
    if (name == nullptr) {
        return 0;
    }
    ObjectDatabase* d = nullptr;
    HeldDatabase held = HoldDatabase(db, &d);
    if (d == nullptr) {
        return 0;
    }
    char shortName[OBJECT_NAME_SIZE];
    CopyObjectName(shortName, name);
    ObjectId result = 0;
    UINT_PTR value = 0;
    if (shortName[0] != '\0' && ListFindByName(d->objects, shortName, &value, 0)) {
        // Declared again: the same object, with its executor marks and its source reset.
        InstallObject* o = reinterpret_cast<InstallObject*>(value);
        if (!(o->state & STATE_READ_ONLY)) {
            // A file that a walk has passed goes to the end of the list, where the walk reaches it again
            // (files are handled alone in their pass: their order among themselves means nothing).
            bool walked = (o->flags & MARK_SELECTED) || (o->state & STATE_CHECKED_REMOVABLE);
            if (walked && ObjectType(o) == OBJECT_FILE) {
                ListMove(d->objects, LIST_END, o->id);
            }
            o->flags &= ~(MARK_SELECTED | MARK_COMPONENT);
            o->state &= ~(STATE_CHECKED_REMOVABLE | STATE_COUNT_RAISED | STATE_COUNT_LOWERED);
            o->sourceIndex = d->currentSource;
            MemFree(o->source);
            o->source = nullptr;
        }
        result = o->id;
    } else if (shortName[0] != '\0') {
        InstallObject* o = static_cast<InstallObject*>(MemAlloc(sizeof(InstallObject)));
        if (o != nullptr) {
            o->id = reinterpret_cast<ObjectId>(o);
            o->sourceIndex = d->currentSource;
            o->database = db;
            o->flags = type & OBJECT_TYPE_MASK;
            o->state = STATE_EXPANDED;
            for (const char* n : kNoShareCountNames) {
                if (strcmp(shortName, n) == 0) {
                    o->state |= STATE_NO_SHARE_COUNT;
                }
            }
            memcpy(o->name, shortName, sizeof(shortName));
            if (ListSetByName(d->objects, o->name, o->id)) {
                result = o->id;
            } else {
                MemFree(o);
            }
        }
    }
    return result;
}

int DestroyObject(ObjectId id)
{
    HeldObject guard(id);
    InstallObject* o = guard.object();
    ObjectDatabase* d = guard.database();
    if (o == nullptr) {
        return 0;
    }
    FreeFriendList(o);
    if (o->children != 0) {
        UINT_PTR child = 0;
        while (ListFirst(o->children, &child, 0)) {
            if (!DestroyObject(child)) {
                break;
            }
        }
        ListDestroy(o->children);
        o->children = 0;
    }
    InstallObject* parent = FindObjectIn(d, o->parent);
    if (parent != nullptr && parent->children != 0) {
        ListRemoveByKey(parent->children, id);
    }
    if (o->handle != 0) {
        UINT32 type = ObjectType(o);
        if (type == OBJECT_REGKEY) {
            bool root = false;
            for (const char* n : kRootKeyNames) {
                root = root || strcmp(o->name, n) == 0;
            }
            if (!root) {
                RegCloseKey(reinterpret_cast<HKEY>(o->handle));
            }
        } else if (type == OBJECT_GROUP) {
            MemFree(reinterpret_cast<void*>(o->handle)); // the folder's ID list copy
        }
        o->handle = 0;
    }
    if (d->sharingKey == id) {
        d->sharingKey = 0;
    }
    if (d->currentGroup == id) {
        d->currentGroup = 0;
    }
    ListRemoveByKey(d->objects, id);
    MemFree(o->source);
    MemFree(o->targetPath);
    MemFree(o->contents);
    MemFree(o->registerText);
    MemFree(o->unregisterText);
    MemFree(o);
    return 1;
}

ObjectId FindObjectByName(DatabaseHandle db, const char* name)
{
    if (name == nullptr || name[0] == '\0') {
        return 0;
    }
    ObjectDatabase* d = nullptr;
    HeldDatabase held = HoldDatabase(db, &d);
    UINT_PTR value = 0;
    if (d != nullptr) {
        ListFindByName(d->objects, name, &value, 0);
    }
    return value;
}

ObjectId FindObjectByFlags(DatabaseHandle db, ObjectId afterId, UINT32 mask)
{
    ObjectDatabase* d = nullptr;
    HeldDatabase held = HoldDatabase(db, &d);
    if (d == nullptr) {
        return 0;
    }
    UINT_PTR value = 0;
    int ok = afterId == 0 ? ListFirst(d->objects, &value, 0) : ListNext(d->objects, afterId, &value, 0, 0);
    for (; ok; ok = ListNext(d->objects, value, &value, 0, 0)) {
        if ((reinterpret_cast<InstallObject*>(value)->flags & mask) == mask) {
            held.release(); // the database stays held until ReleaseObject
            return value;
        }
    }
    return 0;
}

ObjectId GetAncestorObject(ObjectId id, int toBuiltIn)
{
    HeldObject guard(id);
    InstallObject* o = guard.object();
    if (o == nullptr) {
        return 0;
    }
    UINT32 expected = ExpectedParentType(ObjectType(o));
    ObjectDatabase* d = guard.database();
    // Parents never form a cycle, but the walk is bounded all the same.
    UINT32 steps = ListCount(d->objects);
    for (InstallObject* a = FindObjectIn(d, o->parent); a != nullptr && steps-- != 0; a = FindObjectIn(d, a->parent)) {
        if (ObjectType(a) != expected) {
            return 0;
        }
        if (!toBuiltIn || (a->state & STATE_READ_ONLY)) {
            return a->id;
        }
    }
    return 0;
}

ObjectId GetParentObject(ObjectId id)
{
    return GetAncestorObject(id, 0);
}

int SetObjectSource(ObjectId id, const char* text)
{
    HeldObject guard(id);
    InstallObject* o = guard.writable();
    if (o == nullptr) {
        return 0;
    }
    o->flags |= OBJECT_TOUCHED;
    o->sourceIndex = guard.database()->currentSource;
    o->state &= ~STATE_EXPANDED;
    return ReplaceObjectText(&o->source, text) ? 1 : 0;
}

int SetObjectParent(ObjectId id, ObjectId parentId)
{
    HeldObject guard(id);
    InstallObject* o = guard.writable();
    ObjectDatabase* d = guard.database();
    InstallObject* parent = o != nullptr ? FindObjectIn(d, parentId) : nullptr;
    if (parent == nullptr) {
        return 0;
    }
    // An object cannot stand below itself: a parent that is the object or one of its descendants
    // would make a cycle, so it is refused.
    UINT32 steps = ListCount(d->objects);
    for (InstallObject* a = parent; a != nullptr && steps-- != 0; a = FindObjectIn(d, a->parent)) {
        if (a == o) {
            return 0;
        }
    }
    o->flags |= OBJECT_TOUCHED;
    int result = 0;
    if (o->parent != parentId) {
        InstallObject* old = FindObjectIn(d, o->parent);
        if (old != nullptr && old->children != 0) {
            ListRemoveByKey(old->children, id);
        }
        o->parent = 0;
        if (parent->children == 0) {
            parent->children = ListCreate();
        }
        if (parent->children != 0 && ListSetByKey(parent->children, id, id, 0)) {
            o->parent = parentId;
            o->flags &= ~OBJECT_ROOT_PATH;
            result = 1;
        }
    }
    // The object and its whole subtree follow at the end of the object list, so that every object
    // stands after its parent.
    ListMove(d->objects, LIST_END, id);
    if (o->children != 0) {
        UINT_PTR child = 0;
        for (int ok = ListFirst(o->children, &child, 0); ok; ok = ListNext(o->children, child, &child, 0, 0)) {
            InstallObject* c = FindObjectIn(d, child);
            if (c == nullptr) {
                continue;
            }
            UINT32 touched = c->flags & OBJECT_TOUCHED;
            SetObjectParent(child, id);
            c->flags = (c->flags & ~OBJECT_TOUCHED) | touched;
        }
    }
    return result;
}

int SetObjectFlags(ObjectId id, UINT32 bits)
{
    HeldObject guard(id);
    InstallObject* o = guard.writable();
    if (o == nullptr) {
        return 0;
    }
    UINT32 type = ObjectType(o);
    DatabaseHandle db = guard.database()->handle;
    // "_SETUP", "_EXE" and "_STRUCTURE" belong to one file at a time: the last one to get them.
    if (type == OBJECT_FILE) {
        const UINT32 uniqueMarks[] = {OBJECT_SETUP, OBJECT_EXE, OBJECT_STRUCTURE};
        for (UINT32 unique : uniqueMarks) {
            if (!(bits & unique)) {
                continue;
            }
            ObjectId holder;
            while ((holder = FindObjectByFlags(db, 0, unique | OBJECT_FILE)) != 0) {
                InstallObject* h = FindObjectIn(guard.database(), holder);
                h->flags &= ~unique;
                ReleaseObject(h);
            }
        }
    }
    bits &= OBJECT_SETTABLE_FLAGS;
    if (type != OBJECT_REGITEM) {
        bits &= ~(OBJECT_COUNTER | OBJECT_KEEPCONTENTS);
    } else if (bits & OBJECT_KEEPCONTENTS) {
        bits |= OBJECT_EXTENDED;
    }
    if (type != OBJECT_FILE) {
        bits &= ~(OBJECT_STRUCTURE | OBJECT_DELETE);
    } else if (bits & (OBJECT_STRUCTURE | OBJECT_DELETE)) {
        bits |= OBJECT_EXTENDED;
    }
    o->flags |= bits | OBJECT_TOUCHED;
    return 1;
}

int SetObjectShared(ObjectId id, const char* shareKey, int dll)
{
    HeldObject guard(id);
    InstallObject* o = guard.writable();
    if (o == nullptr) {
        return 0;
    }
    CopyObjectName(o->shareKey, shareKey);
    o->flags |= OBJECT_TOUCHED | OBJECT_SHARED | OBJECT_EXTENDED;
    o->state &= ~STATE_SHARE_WITHOUT_KEY;
    if (dll && ObjectType(o) == OBJECT_FILE) {
        o->state |= STATE_SHARED_DLL;
    }
    return 1;
}

int SetObjectContents(ObjectId id, const char* text)
{
    HeldObject guard(id);
    InstallObject* o = guard.writable();
    if (o == nullptr || (o->flags & OBJECT_UNINSTALL)) {
        return 0;
    }
    o->flags |= OBJECT_TOUCHED;
    o->state &= ~STATE_EXPANDED;
    return ReplaceObjectText(&o->contents, text) ? 1 : 0;
}

namespace {

int SetComponentText(ObjectId id, const char* text, bool unregister)
{
    HeldObject guard(id);
    InstallObject* o = guard.writable();
    if (o == nullptr || ObjectType(o) != OBJECT_FILE || (o->flags & (OBJECT_SYSLIB | OBJECT_UNINSTALL))) {
        return 0;
    }
    o->flags |= OBJECT_TOUCHED;
    char** field = unregister ? &o->unregisterText : &o->registerText;
    if (!ReplaceObjectText(field, text)) {
        return 0;
    }
    if (*field != nullptr) {
        o->flags |= unregister ? OBJECT_UNREGISTER : OBJECT_REGISTER;
        o->state &= ~STATE_EXPANDED;
    }
    return 1;
}

} // namespace

int SetObjectRegister(ObjectId id, const char* text)
{
    return SetComponentText(id, text, false);
}

int SetObjectUnregister(ObjectId id, const char* text)
{
    return SetComponentText(id, text, true);
}

int SetObjectUninstall(ObjectId id, const char* program, const char* arguments)
{
    HeldObject guard(id);
    InstallObject* o = guard.writable();
    if (o == nullptr || ObjectType(o) != OBJECT_FILE) {
        return 0;
    }
    // The command's two texts go, and with them the mark that there is a command: a mark without its
    // program would make the executor run nothing.
    o->flags = (o->flags & ~(OBJECT_REGISTER | OBJECT_UNREGISTER | OBJECT_UNINSTALL)) | OBJECT_TOUCHED;
    ReplaceObjectText(&o->contents, nullptr);
    ReplaceObjectText(&o->registerText, nullptr);
    if (arguments == nullptr || arguments[0] == '\0') {
        return 1;
    }
    // Without a program, the file itself runs: its name without the extension.
    char leaf[MAX_PATH];
    if (program == nullptr) {
        LeafWithoutExtension(id, leaf, sizeof(leaf));
        program = leaf;
    }
    if (ReplaceObjectText(&o->contents, program) && o->contents != nullptr &&
        ReplaceObjectText(&o->registerText, arguments)) {
        o->flags |= OBJECT_UNINSTALL;
        o->state &= ~STATE_EXPANDED;
        return 1;
    }
    ReplaceObjectText(&o->contents, nullptr);
    ReplaceObjectText(&o->registerText, nullptr);
    return 0;
}

int SetObjectTargetPath(ObjectId id, const char* text)
{
    HeldObject guard(id);
    InstallObject* o = guard.writable();
    if (o == nullptr) {
        return 0;
    }
    o->flags = (o->flags & ~OBJECT_ROOT_PATH) | OBJECT_TOUCHED;
    o->state &= ~STATE_TARGET_MASK;
    if (!ReplaceObjectText(&o->targetPath, text)) {
        return 0;
    }
    if (o->targetPath != nullptr) {
        if (o->parent == 0) {
            o->flags |= OBJECT_ROOT_PATH;
        }
        o->state &= ~STATE_EXPANDED;
    }
    return 1;
}

int SetObjectTargetMask(ObjectId id, const char* text)
{
    HeldObject guard(id);
    InstallObject* o = guard.writable();
    if (o == nullptr || ObjectType(o) != OBJECT_FILE) {
        return 0;
    }
    o->flags |= OBJECT_TOUCHED;
    int result = SetObjectTargetPath(id, text);
    if (o->targetPath != nullptr) {
        o->flags |= OBJECT_EXTENDED;
        o->state |= STATE_TARGET_MASK;
    }
    return result;
}

int SetObjectSysLib(ObjectId id, const char* name)
{
    HeldObject guard(id);
    InstallObject* o = guard.writable();
    if (o == nullptr || ObjectType(o) != OBJECT_FILE ||
        (o->flags & (OBJECT_REGISTER | OBJECT_UNREGISTER | OBJECT_OCX))) {
        return 0;
    }
    o->flags |= OBJECT_TOUCHED;
    if (name != nullptr && name[0] != '\0') {
        CopyObjectName(o->sysLibName, name);
    } else {
        // The system library's own name with its first character replaced: LIBRT32.DLL, _IBRT32.DLL.
        char leaf[MAX_PATH] = {};
        GetObjectLeafName(id, 0, leaf, -static_cast<int>(sizeof(leaf)));
        CopyObjectName(o->sysLibName, leaf);
        o->sysLibName[0] = '_';
    }
    o->flags |= OBJECT_SYSLIB;
    return 1;
}

int SetObjectGroup(ObjectId id, const char* groupName, const char* itemName, const char* iconName, int iconIndex)
{
    HeldObject guard(id);
    InstallObject* o = guard.writable();
    if (o == nullptr) {
        return 0;
    }
    o->flags |= OBJECT_TOUCHED;
    int result = 0;
    if (groupName != nullptr && groupName[0] != '\0') {
        CopyObjectName(o->groupName, groupName);
        o->flags |= OBJECT_GROUPED;
        if (itemName != nullptr && itemName[0] != '\0') {
            CopyObjectName(o->itemName, itemName);
        } else {
            // The file's name, cut to 31 characters, without its extension.
            LeafWithoutExtension(id, o->itemName, OBJECT_NAME_SIZE);
        }
        result = o->itemName[0] != '\0' ? 1 : 0;
    }
    if (iconName != nullptr && iconName[0] != '\0') {
        UINT_PTR icon = 0;
        if (ListFindByName(guard.database()->objects, iconName, &icon, 0)) {
            CopyObjectName(o->iconName, iconName);
            o->iconIndex = iconIndex;
            o->state |= STATE_HAS_ICON;
            result = 1;
        }
    }
    return result;
}

ObjectId ObjectIdOf(const InstallObject* o)
{
    return o->id;
}

const char* ObjectNameOf(const InstallObject* o)
{
    return o->name;
}

UINT32 ObjectType(const InstallObject* o)
{
    return o->flags & OBJECT_TYPE_MASK;
}

UINT32 ObjectFlagsOf(const InstallObject* o)
{
    return o->flags;
}

void MarkObject(InstallObject* o, UINT32 bits)
{
    o->flags |= bits;
}

void UnmarkObject(InstallObject* o, UINT32 bits)
{
    o->flags &= ~bits;
}

UINT32 ObjectStateOf(const InstallObject* o)
{
    return o->state;
}

void SetObjectStateBits(InstallObject* o, UINT32 bits)
{
    o->state |= bits;
}

void ClearObjectStateBits(InstallObject* o, UINT32 bits)
{
    o->state &= ~bits;
}

ObjectId ObjectParentOf(const InstallObject* o)
{
    return o->parent;
}

const char* ObjectShareKeyOf(const InstallObject* o)
{
    return o->shareKey;
}

void SetObjectShareKeyName(InstallObject* o, const char* name)
{
    CopyObjectName(o->shareKey, name);
}

const char* ObjectContentsOf(const InstallObject* o)
{
    return o->contents;
}

const char* ObjectGroupNameOf(const InstallObject* o)
{
    return o->groupName;
}

UINT32 ObjectFolderIdOf(const InstallObject* o)
{
    return o->folderId;
}

HKEY ObjectKeyOf(const InstallObject* o)
{
    return ObjectType(o) == OBJECT_REGKEY ? reinterpret_cast<HKEY>(o->handle) : nullptr;
}

void SetObjectKeyHandle(InstallObject* o, HKEY key)
{
    o->handle = reinterpret_cast<UINT_PTR>(key);
}

LPCITEMIDLIST ObjectGroupIdList(const InstallObject* o)
{
    return ObjectType(o) == OBJECT_GROUP ? reinterpret_cast<LPCITEMIDLIST>(o->handle) : nullptr;
}

void ForgetGroupFolder(ObjectDatabase* d, InstallObject* o, bool ownsIdList)
{
    if (ownsIdList && o->handle != 0) {
        MemFree(reinterpret_cast<void*>(o->handle));
    }
    o->handle = 0;
    o->folderId = 0;
    if (d->currentGroup == o->id) {
        d->currentGroup = 0;
    }
}

bool ChildFirst(const InstallObject* o, ObjectId* child)
{
    return o->children != 0 && ListFirst(o->children, child, 0) != 0;
}

bool ChildNext(const InstallObject* o, ObjectId* child)
{
    return o->children != 0 && ListNext(o->children, *child, child, 0, 0) != 0;
}

UINT32 DatabaseObjectCount(const ObjectDatabase* d)
{
    return ListCount(d->objects);
}

InstallObject* FindHeldObject(ObjectDatabase* d, ObjectId id)
{
    return FindObjectIn(d, id);
}

InstallObject* FindHeldObjectByName(ObjectDatabase* d, const char* name)
{
    UINT_PTR value = 0;
    return d != nullptr && name != nullptr && name[0] != '\0' && ListFindByName(d->objects, name, &value, 0)
               ? reinterpret_cast<InstallObject*>(value)
               : nullptr;
}

DatabaseHandle DatabaseHandleOf(const ObjectDatabase* d)
{
    return d->handle;
}

UINT32 DatabaseFlagsOf(const ObjectDatabase* d)
{
    return d->flags;
}

ObjectId DatabaseSharingKeyOf(const ObjectDatabase* d)
{
    return d->sharingKey;
}

UINT32 DatabaseSharingModeOf(const ObjectDatabase* d)
{
    return d->sharingMode;
}

ProgressCallback DatabaseCallbackOf(const ObjectDatabase* d)
{
    return d->callback;
}

ObjectId DatabaseCurrentGroupOf(const ObjectDatabase* d)
{
    return d->currentGroup;
}
