#include "kit/database_kit.h"

TEST(DatabaseTest, DatabasesAreRegisteredByName)
{
    EXPECT_EQ(CreateObjectDatabase("MAIN", nullptr, TestProgressCallback), 0u); // no engine yet
    EngineScope engine;
    DatabaseHandle main = CreateObjectDatabase("MAIN", "C:\\App\\", TestProgressCallback);
    EXPECT_EQ(FindObjectDatabase("MAIN"), main);
    EXPECT_EQ(FindObjectDatabase("main"), 0u);
    // A second creation under the same name gives the same database and adds nothing.
    EXPECT_EQ(CreateObjectDatabase("MAIN", "D:\\Other\\", TestProgressCallback), main);
    ObjectDatabase* d = LockObjectDatabase(main);
    EXPECT_EQ(d->sourceCount, 1u);
    EXPECT_STREQ(d->sources[0], "C:\\App\\");
    EXPECT_EQ(d->lockCount, 1u); // this lock only: the creator let go
    UnlockObjectDatabase(main);

    EXPECT_EQ(CreateObjectDatabase("EMPTYSOURCE", "", TestProgressCallback), 0u);
    EXPECT_EQ(FindObjectDatabase("EMPTYSOURCE"), 0u); // the half-made database was closed again

    ObjectId file = AddObject(main, "APPFILE", OBJECT_FILE);
    CloseObjectDatabase(main);
    EXPECT_EQ(FindObjectDatabase("MAIN"), 0u);
    EXPECT_EQ(LockObjectDatabase(main), nullptr);
    EXPECT_EQ(LockObject(file), nullptr);
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
    EXPECT_TRUE(db.Get("KEY_A").state & STATE_SHARING_KEY);
    // The key has no children: it gives way.
    EXPECT_EQ(SetSharingKey(db.handle(), b, 0), 1);
    EXPECT_EQ(db.State().sharingKey, b);
    EXPECT_EQ(db.State().sharingMode, SHARING_DLL); // no mode word: the mode stays
    // Once it counts children it stays.
    ASSERT_EQ(SetObjectParent(item, b), 1);
    EXPECT_EQ(SetSharingKey(db.handle(), a, SHARING_REGISTRY), 0);
    EXPECT_EQ(db.State().sharingKey, b);
    // Without an object only the mode is set.
    EXPECT_EQ(SetSharingKey(db.handle(), 0, SHARING_REGISTRY), 1);
    EXPECT_EQ(db.State().sharingMode, SHARING_REGISTRY);
    // Destroying the key clears it from the database.
    EXPECT_EQ(DestroyObject(b), 1);
    EXPECT_EQ(db.State().sharingKey, 0u);
}
