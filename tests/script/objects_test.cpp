#include "kit/database_kit.h"
#include "script/builtins.h"
#include "script/object_text.h"

namespace {

// The names of the database's objects in list order.
std::vector<std::string> Order(DatabaseHandle db)
{
    std::vector<std::string> names;
    ObjectDatabase* d = LockObjectDatabase(db);
    UINT_PTR v = 0;
    for (int ok = ListFirst(d->objects, &v, 0); ok; ok = ListNext(d->objects, v, &v, 0, 0)) {
        const char* name = reinterpret_cast<InstallObject*>(v)->name;
        if (!IsBuiltInObjectName(name)) {
            names.push_back(name);
        }
    }
    UnlockObjectDatabase(db);
    return names;
}

using Names = std::vector<std::string>;

} // namespace

TEST(ObjectsTest, AddingAgainKeepsTheObjectAndResetsItsMarks)
{
    EngineScope engine;
    TestDatabase db;
    ObjectId file = AddObject(db.handle(), "APPFILE", OBJECT_FILE | 0x3);
    InstallObject o = db.Get("APPFILE");
    EXPECT_EQ(o.flags, OBJECT_FILE); // only the type bits of the type

    ASSERT_EQ(SetObjectFlags(file, MARK_SELECTED | MARK_COMPONENT | OBJECT_REMOVABLE), 1);
    EXPECT_EQ(AddObject(db.handle(), "APPFILE", OBJECT_DIRECTORY), file);
    o = db.Get("APPFILE");
    EXPECT_EQ(o.flags & OBJECT_TYPE_MASK, OBJECT_FILE); // the first type stays
    EXPECT_EQ(o.flags & (MARK_SELECTED | MARK_COMPONENT), 0u);
    EXPECT_TRUE(o.flags & OBJECT_REMOVABLE);

    // Names: at most 31 characters, exact comparison, never empty.
    ObjectId longName = AddObject(db.handle(), "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789ABCD", OBJECT_FILE);
    EXPECT_EQ(db.Find("ABCDEFGHIJKLMNOPQRSTUVWXYZ01234"), longName);
    EXPECT_EQ(AddObject(db.handle(), "", OBJECT_FILE), 0u);

    // A built-in (read-only) object comes back unchanged and refuses every setter.
    ObjectId builtIn = AddObject(db.handle(), "WINDIR", OBJECT_DIRECTORY);
    InstallObject* b = LockObject(builtIn);
    b->state |= STATE_READ_ONLY;
    b->flags |= MARK_SELECTED;
    ReleaseObject(b);
    EXPECT_EQ(AddObject(db.handle(), "WINDIR", OBJECT_FILE), builtIn);
    EXPECT_TRUE(db.Get("WINDIR").flags & MARK_SELECTED);
    EXPECT_EQ(SetObjectFlags(builtIn, OBJECT_REMOVABLE), 0);
    EXPECT_EQ(SetObjectParent(builtIn, file), 0);
}

TEST(ObjectsTest, ParentsMoveWholeSubtreesBehindThemAndNeverFormACycle)
{
    EngineScope engine;
    TestDatabase db;
    DatabaseHandle h = db.handle();
    for (const char* name : {"A", "B", "C", "D"}) {
        AddObject(h, name, OBJECT_DIRECTORY);
    }
    ObjectId a = db.Find("A"), b = db.Find("B"), c = db.Find("C"), d = db.Find("D");
    ASSERT_EQ(SetObjectTargetPath(a, "C:\\Root"), 1);
    EXPECT_TRUE(db.Get("A").flags & OBJECT_ROOT_PATH);
    EXPECT_EQ(SetObjectParent(a, d), 1); // A below D: A moves behind D
    EXPECT_FALSE(db.Get("A").flags & OBJECT_ROOT_PATH);
    EXPECT_EQ(Order(h), (Names{"B", "C", "D", "A"}));
    EXPECT_EQ(SetObjectParent(b, a), 1);
    EXPECT_EQ(SetObjectParent(c, b), 1);
    EXPECT_EQ(Order(h), (Names{"D", "A", "B", "C"}));
    EXPECT_EQ(GetParentObject(c), b);

    // The same parent again: 0, but the subtree still moves to the end, touched flags as they were.
    AddObject(h, "E", OBJECT_DIRECTORY);
    InstallObject* cr = LockObject(c);
    cr->flags &= ~OBJECT_TOUCHED;
    ReleaseObject(cr);
    EXPECT_EQ(SetObjectParent(b, a), 0);
    EXPECT_EQ(Order(h), (Names{"D", "A", "E", "B", "C"}));
    EXPECT_FALSE(db.Get("C").flags & OBJECT_TOUCHED);

    // Below itself or below its own descendant: refused, nothing moves.
    EXPECT_EQ(SetObjectParent(a, a), 0);
    EXPECT_EQ(SetObjectParent(a, c), 0);
    EXPECT_EQ(GetParentObject(a), d);
    EXPECT_EQ(Order(h), (Names{"D", "A", "E", "B", "C"}));

    // Types: a file's parent must be a directory; a key's, a key.
    ObjectId file = AddObject(h, "F", OBJECT_FILE);
    ObjectId key = AddObject(h, "K", OBJECT_REGKEY);
    SetObjectParent(file, c);
    SetObjectParent(key, c);
    EXPECT_EQ(GetParentObject(file), c);
    EXPECT_EQ(GetParentObject(key), 0u);
    // Destroying a parent takes its subtree with it.
    EXPECT_EQ(DestroyObject(a), 1);
    EXPECT_EQ(Order(h), (Names{"D", "E"}));
    EXPECT_EQ(DestroyObject(a), 0);
}

TEST(ObjectsTest, TextSettersFollowTheirRules)
{
    EngineScope engine;
    TestDatabase db;
    DatabaseHandle h = db.handle();
    ObjectId dir = AddObject(h, "APPDIR", OBJECT_DIRECTORY);
    ObjectId lib = AddObject(h, "LIBRT", OBJECT_FILE);
    ObjectId tool = AddObject(h, "TOOL", OBJECT_FILE);
    SetObjectTargetPath(dir, "C:\\App");
    SetObjectParent(lib, dir);
    SetObjectParent(tool, dir);
    EXPECT_EQ(SetObjectTargetPath(lib, "sys\\LIBRT32.DLL"), 1);
    EXPECT_EQ(SetObjectTargetPath(tool, "bin\\Tool.Main.exe"), 1);

    // "_SYSLIB" without a name: the file's own name with its first character replaced.
    EXPECT_EQ(SetObjectSysLib(lib, nullptr), 1);
    EXPECT_STREQ(db.Get("LIBRT").sysLibName, "_IBRT32.DLL");
    EXPECT_TRUE(db.Get("LIBRT").flags & OBJECT_SYSLIB);
    EXPECT_EQ(SetObjectRegister(lib, "/s"), 0); // a system library is not registered

    // Register, unregister, uninstall.
    EXPECT_EQ(SetObjectRegister(tool, "/regserver"), 1);
    EXPECT_EQ(SetObjectUnregister(tool, "/unregserver"), 1);
    EXPECT_EQ(SetObjectSysLib(tool, nullptr), 0); // a registered file is no system library
    EXPECT_EQ(SetObjectUninstall(tool, nullptr, "/uninstall"), 1);
    InstallObject t = db.Get("TOOL");
    EXPECT_EQ(t.flags & (OBJECT_REGISTER | OBJECT_UNREGISTER | OBJECT_UNINSTALL), OBJECT_UNINSTALL);
    EXPECT_STREQ(t.contents, "Tool.Main"); // the file's name without its extension
    EXPECT_STREQ(t.registerText, "/uninstall");
    EXPECT_EQ(SetObjectRegister(tool, "/again"), 0);
    EXPECT_EQ(SetObjectUninstall(tool, "setup.exe", ""), 1); // empty arguments: both texts go
    t = db.Get("TOOL");
    EXPECT_EQ(t.contents, nullptr);
    EXPECT_EQ(t.registerText, nullptr);
    EXPECT_FALSE(t.flags & OBJECT_UNINSTALL);

    // Shares, contents, masks.
    EXPECT_EQ(SetObjectShared(lib, "SHARED_COUNTER_WITH_A_VERY_LONG_NAME", 1), 1);
    EXPECT_STREQ(db.Get("LIBRT").shareKey, "SHARED_COUNTER_WITH_A_VERY_LONG");
    EXPECT_TRUE(db.Get("LIBRT").state & STATE_SHARED_DLL);
    EXPECT_EQ(SetObjectShared(dir, nullptr, 1), 1);
    EXPECT_FALSE(db.Get("APPDIR").state & STATE_SHARED_DLL); // only files are shared DLLs
    EXPECT_EQ(SetObjectTargetMask(tool, "*.txt"), 1);
    EXPECT_TRUE(db.Get("TOOL").state & STATE_TARGET_MASK);
    EXPECT_EQ(SetObjectTargetPath(tool, "plain.txt"), 1);
    EXPECT_FALSE(db.Get("TOOL").state & STATE_TARGET_MASK);
}

TEST(ObjectsTest, LeafNamesFollowTheBufferConvention)
{
    EngineScope engine;
    TestDatabase db;
    DatabaseHandle h = db.handle();
    ObjectId dir = AddObject(h, "APPDIR", OBJECT_DIRECTORY);
    ObjectId file = AddObject(h, "APPFILE", OBJECT_FILE);
    ObjectId key = AddObject(h, "APPKEY", OBJECT_REGKEY);
    SetObjectTargetPath(dir, "\\Program Files\\App\\");
    SetObjectParent(file, dir);
    SetObjectTargetPath(file, "bin\\main.exe");

    struct Case {
        ObjectId id;
        int trim;
        const char* leaf;
    } const cases[] = {
        {dir, 0, "\\Program Files\\App\\"}, // a root path
        {dir, 1, "Program Files\\App"},
        {file, 0, "main.exe"}, // a file gives only its name
        {key, 0, "APPKEY"},    // no target path: the name
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.leaf);
        char* heap = GetObjectLeafName(c.id, c.trim, nullptr, 0);
        ASSERT_NE(heap, nullptr);
        EXPECT_STREQ(heap, c.leaf);
        FreeObjectText(heap);
        char buffer[64];
        EXPECT_EQ(GetObjectLeafName(c.id, c.trim, buffer, sizeof(buffer)), buffer);
        EXPECT_STREQ(buffer, c.leaf);
    }
}
