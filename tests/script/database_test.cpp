#include "kit/database_kit.h"

TEST(DatabaseTest, DatabasesAreRegisteredByName)
{
    EXPECT_EQ(CreateObjectDatabase("MAIN", nullptr, TestProgressCallback), 0u); // no engine yet
    EngineScope engine;
    ASSERT_TRUE(engine.started);
    DatabaseHandle main = CreateObjectDatabase("MAIN", "C:\\App\\", TestProgressCallback);
    ASSERT_NE(main, 0u);
    EXPECT_EQ(FindObjectDatabase("MAIN"), main);
    EXPECT_EQ(FindObjectDatabase("main"), 0u);
    // A second creation under the same name gives the same database and adds nothing.
    EXPECT_EQ(CreateObjectDatabase("MAIN", "D:\\Other\\", TestProgressCallback), main);
    ObjectDatabase* d = LockObjectDatabase(main);
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->name, "MAIN");
    EXPECT_EQ(d->sharingMode, 0x30u);
    EXPECT_EQ(d->sourceCount, 1u);
    EXPECT_EQ(d->currentSource, 0);
    EXPECT_STREQ(d->sources[0], "C:\\App\\");
    EXPECT_EQ(d->lockCount, 1u); // this lock only: the creator let go
    UnlockObjectDatabase(main);

    EXPECT_EQ(CreateObjectDatabase("NOCALLBACK", nullptr, nullptr), 0u);
    EXPECT_EQ(CreateObjectDatabase("EMPTYSOURCE", "", TestProgressCallback), 0u);
    EXPECT_EQ(FindObjectDatabase("EMPTYSOURCE"), 0u); // the half-made database was closed again

    ObjectId file = AddObject(main, "APPFILE", OBJECT_FILE);
    ASSERT_NE(file, 0u);
    CloseObjectDatabase(main);
    EXPECT_EQ(FindObjectDatabase("MAIN"), 0u);
    EXPECT_EQ(LockObjectDatabase(main), nullptr);
    EXPECT_EQ(LockObject(file), nullptr);
    EXPECT_EQ(AddObject(main, "X", OBJECT_FILE), 0u);
    EXPECT_EQ(SetDatabaseFlags(main, DATABASE_REMOVE), 0);
}

TEST(DatabaseTest, FlagsSourcesAndVersionPolicy)
{
    EngineScope engine;
    TestDatabase db;
    struct Step {
        UINT32 bits;
        int set;
        UINT32 policyAfter;
    } const steps[] = {
        {DATABASE_KEEP_NEWEST, 1, 0x100},    {DATABASE_REPLACE_OLDEST, 1, 0x300}, // the two ordinary policies add up
        {DATABASE_KEEP_ALWAYS, 1, 0x800},                                         // an "always" one replaces them
        {DATABASE_KEEP_NEWEST, 1, 0x800},                                         // and is not overridden by them
        {DATABASE_REPLACE_ALWAYS, 1, 0x400},                                      // the later "always" wins
        {DATABASE_REPLACE_ALWAYS, 0, 0},     {DATABASE_REPLACE_OLDEST, 1, 0x200},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.bits);
        EXPECT_EQ(SetDatabaseFlags(db.handle(), s.bits, s.set), 1);
        EXPECT_EQ(db.State().flags & 0xf00, s.policyAfter);
    }
    SetDatabaseFlags(db.handle(), DATABASE_REMOVE | DATABASE_REBOOT);
    EXPECT_EQ(db.State().flags, 0x200u | DATABASE_REMOVE | DATABASE_REBOOT);

    for (int i = 1; i <= 5; i++) {
        EXPECT_EQ(AddDatabaseSource(db.handle(), ("D:\\Disk" + std::to_string(i) + "\\").c_str()), i);
    }
    EXPECT_EQ(AddDatabaseSource(db.handle(), ""), -1);
    EXPECT_EQ(AddDatabaseSource(db.handle(), nullptr), -1);
    ObjectDatabase state = db.State();
    EXPECT_EQ(state.sourceCount, 6u);
    EXPECT_EQ(state.currentSource, 5);
    // Objects remember the source entry that was current when they were declared.
    ObjectId file = AddObject(db.handle(), "LATE", OBJECT_FILE);
    EXPECT_EQ(db.Get("LATE").sourceIndex, 5);
    EXPECT_NE(file, 0u);
}

TEST(DatabaseTest, AHeldDatabaseBlocksOtherThreadsUntilEveryLockIsReleased)
{
    EngineScope engine;
    TestDatabase db;
    ObjectId first = AddObject(db.handle(), "FIRST", OBJECT_FILE);
    ASSERT_NE(first, 0u);

    // Nested locks by one thread: two locks need two releases.
    ASSERT_NE(LockObjectDatabase(db.handle()), nullptr);
    ASSERT_NE(LockObject(first), nullptr);
    std::atomic<bool> started(false), added(false);
    HANDLE other = StartThread([&] {
        started = true;
        added = AddObject(db.handle(), "SECOND", OBJECT_FILE) != 0;
    });
    ASSERT_TRUE(WaitFor(started));
    // The holder itself goes on working on the database meanwhile.
    EXPECT_EQ(SetObjectFlags(first, OBJECT_REMOVABLE), 1);
    // Still waiting: the thread has not ended a while later.
    EXPECT_EQ(WaitForSingleObject(other, 100), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_FALSE(added.load());
    UnlockObjectDatabase(db.handle());
    EXPECT_EQ(WaitForSingleObject(other, 100), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_FALSE(added.load()) << "one release of two let the other thread in";
    UnlockObjectDatabase(db.handle());
    EXPECT_TRUE(WaitFor(added));
    EXPECT_TRUE(JoinThread(other));

    // FindObjectByFlags returns with the database held until ReleaseObject.
    ObjectId hit = FindObjectByFlags(db.handle(), 0, OBJECT_REMOVABLE);
    ASSERT_EQ(hit, first);
    std::atomic<bool> changed(false);
    HANDLE writer = StartThread([&] { changed = SetObjectFlags(first, OBJECT_QUERY) == 1; });
    EXPECT_EQ(WaitForSingleObject(writer, 100), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_FALSE(changed.load());
    ReleaseObject(LockObject(hit)); // a lock and its release...
    EXPECT_EQ(WaitForSingleObject(writer, 50), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_FALSE(changed.load());
    UnlockObjectDatabase(db.handle()); // ...and the one FindObjectByFlags left
    EXPECT_TRUE(JoinThread(writer));
    EXPECT_TRUE(changed.load());
    EXPECT_EQ(db.State().lockCount, 1u); // State() holds it while it copies
}

TEST(DatabaseTest, SharingKeyMovesOnlyWhileTheOldKeyCountsNothing)
{
    EngineScope engine;
    TestDatabase db;
    ObjectId a = AddObject(db.handle(), "KEY_A", OBJECT_REGKEY);
    ObjectId b = AddObject(db.handle(), "KEY_B", OBJECT_REGKEY);
    ObjectId item = AddObject(db.handle(), "ITEM", OBJECT_REGITEM);
    EXPECT_EQ(SetSharingKey(db.handle(), item, 0), 0); // only registry keys
    EXPECT_EQ(SetSharingKey(db.handle(), a, SHARING_DLL), 1);
    EXPECT_EQ(db.State().sharingKey, a);
    EXPECT_EQ(db.State().sharingMode, SHARING_DLL);
    EXPECT_TRUE(db.Get("KEY_A").state & STATE_SHARING_KEY);
    EXPECT_TRUE(db.Get("KEY_A").flags & OBJECT_TOUCHED);
    // The key has no children: it gives way.
    EXPECT_EQ(SetSharingKey(db.handle(), b, 0), 1);
    EXPECT_EQ(db.State().sharingKey, b);
    EXPECT_FALSE(db.Get("KEY_A").state & STATE_SHARING_KEY);
    EXPECT_EQ(db.State().sharingMode, SHARING_DLL); // no mode word: the mode stays
    // Once it counts children it stays.
    ASSERT_EQ(SetObjectParent(item, b), 1);
    EXPECT_EQ(SetSharingKey(db.handle(), a, SHARING_REGISTRY), 0);
    EXPECT_EQ(db.State().sharingKey, b);
    EXPECT_EQ(db.State().sharingMode, SHARING_DLL);
    // Without an object only the mode is set.
    EXPECT_EQ(SetSharingKey(db.handle(), 0, SHARING_REGISTRY), 1);
    EXPECT_EQ(db.State().sharingMode, SHARING_REGISTRY);
    EXPECT_EQ(SetSharingKey(db.handle(), 0, 0), 0);
    // Destroying the key clears it from the database.
    EXPECT_EQ(DestroyObject(b), 1);
    EXPECT_EQ(db.State().sharingKey, 0u);
    EXPECT_EQ(db.Find("ITEM"), 0u); // children go with their parent
}
