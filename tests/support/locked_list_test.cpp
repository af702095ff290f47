#include "support/locked_list.h"

#include "kit/testkit.h"

namespace {

// The values of a list from first to last, walked the way the program walks lists.
std::vector<UINT_PTR> Forward(ListHandle list)
{
    std::vector<UINT_PTR> values;
    UINT_PTR v = 0;
    for (int ok = ListFirst(list, &v, 0); ok && values.size() <= ListCount(list); ok = ListNext(list, v, &v, 0, 0)) {
        values.push_back(v);
    }
    return values;
}

std::vector<UINT_PTR> Backward(ListHandle list)
{
    std::vector<UINT_PTR> values;
    UINT_PTR v = 0;
    for (int ok = ListLast(list, &v, 0); ok && values.size() <= ListCount(list); ok = ListPrev(list, v, &v, 0, 0)) {
        values.insert(values.begin(), v);
    }
    return values;
}

ListHandle MakeList(const std::vector<UINT_PTR>& keys)
{
    ListHandle list = ListCreate();
    for (UINT_PTR k : keys) {
        ListSetByKey(list, k, k, 0);
    }
    return list;
}

} // namespace

TEST(LockedListTest, NamedItemsCountUsesAndAreFoundByTheirValue)
{
    ListHandle list = ListCreate();
    EXPECT_EQ(ListSetByName(list, "alpha", 100), 1);
    EXPECT_EQ(ListSetByName(list, "alpha", 200), 1);
    EXPECT_EQ(ListCount(list), 1u);
    UINT_PTR v = 0;
    EXPECT_EQ(ListFindByName(list, "alpha", &v, 0), 1);
    EXPECT_EQ(v, 200u);
    EXPECT_EQ(ListFindByName(list, "ALPHA", &v, 0), 0); // names compare case-sensitively
    // A named item's key is its value.
    EXPECT_EQ(ListFindByKey(list, 200, &v, 0), 1);
    EXPECT_EQ(v, 200u);
    EXPECT_EQ(ListUseCount(list, 200), 2u);
    EXPECT_EQ(ListRemoveByKey(list, 200), 1);
    EXPECT_EQ(ListCount(list), 1u);
    EXPECT_EQ(ListRemoveByKey(list, 200), 1);
    EXPECT_EQ(ListCount(list), 0u);
    EXPECT_EQ(ListDestroy(list), 1);
}

TEST(LockedListTest, WalksStopAtTheEndsOrWrapAroundAndRemovalsKeepTheRingSound)
{
    struct Step {
        std::vector<UINT_PTR> keys;
        bool forward;
        UINT_PTR from;
        int wrap, ok;
        UINT_PTR value;
    } const steps[] = {
        {{10, 20, 30}, true, 30, 0, 0, 0},
        {{10, 20, 30}, true, 30, 1, 1, 10},
        {{10, 20, 30}, false, 10, 1, 1, 30},
        {{10, 20, 30}, true, 12345, 1, 0, 0}, // an absent current key
        {{5}, true, 5, 1, 1, 5},
    };
    for (const Step& s : steps) {
        ListHandle list = MakeList(s.keys);
        EXPECT_EQ(Forward(list), s.keys);
        EXPECT_EQ(Backward(list), s.keys);
        UINT_PTR v = 99;
        EXPECT_EQ(s.forward ? ListNext(list, s.from, &v, s.wrap, 0) : ListPrev(list, s.from, &v, s.wrap, 0), s.ok);
        EXPECT_EQ(v, s.value) << s.from;
        ListDestroy(list);
    }
    UINT_PTR v = 0;
    ListHandle empty = ListCreate();
    EXPECT_EQ(ListFirst(empty, &v, 0) + ListLast(empty, &v, 0), 0);
    EXPECT_EQ(ListDestroy(empty), 1);

    ListHandle list = MakeList({1, 2, 3, 4, 5});
    ListFindByKey(list, 3, &v, 0); // both cursors on 3
    EXPECT_EQ(ListRemoveByKey(list, 3), 1);
    EXPECT_EQ(ListRemoveByKey(list, 1), 1); // the first
    EXPECT_EQ(ListRemoveByKey(list, 5), 1); // the last
    EXPECT_EQ(Forward(list), (std::vector<UINT_PTR>{2, 4}));
    EXPECT_EQ(Backward(list), (std::vector<UINT_PTR>{2, 4}));
    EXPECT_EQ(ListNext(list, 4, &v, 1, 0), 1);
    EXPECT_EQ(v, 2u);
    ListDestroy(list);
}

TEST(LockedListTest, MoveReordersAndRepairsTheEnds)
{
    struct Case {
        UINT_PTR position;
        UINT_PTR key;
        std::vector<UINT_PTR> order;
        int result;
    } const cases[] = {
        {LIST_FRONT, 3, {3, 1, 2}, 1}, {LIST_FRONT, 2, {2, 1, 3}, 1}, {LIST_FRONT, 1, {1, 2, 3}, 0},
        {LIST_END, 1, {2, 3, 1}, 1},   {LIST_END, 2, {1, 3, 2}, 1},   {LIST_END, 3, {1, 2, 3}, 0},
        {1, 3, {1, 3, 2}, 1}, // the last behind the first
        {2, 1, {2, 1, 3}, 1}, // the first behind the second
        {1, 2, {1, 2, 3}, 0}, // already there
        {9, 2, {1, 2, 3}, 0}, // no such position
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "position " << c.position << " key " << c.key);
        ListHandle list = MakeList({1, 2, 3});
        EXPECT_EQ(ListMove(list, c.position, c.key), c.result);
        EXPECT_EQ(Forward(list), c.order);
        EXPECT_EQ(Backward(list), c.order);
        ListDestroy(list);
    }
}

TEST(LockedListTest, DestroyedAndUnknownHandlesGiveZero)
{
    ListHandle list = MakeList({1, 2});
    ASSERT_EQ(ListDestroy(list), 1);
    // Every call on a destroyed list, on a handle that never was a list and on the null handle fails
    // and clears the value it would give.
    const ListHandle handles[] = {list, reinterpret_cast<ListHandle>(&list), 0};
    for (ListHandle h : handles) {
        UINT_PTR v = 77, w = 77, x = 77;
        EXPECT_EQ(ListDestroy(h) + ListSetByName(h, "n", 4) + ListSetByKey(h, 1, 1, 0) + ListRemoveByKey(h, 1) +
                      ListFindByName(h, "n", &v, 0) + ListFindByKey(h, 1, &w, 1) + ListFirst(h, &x, 0) +
                      ListLast(h, &x, 0) + ListNext(h, 1, &x, 1, 0) + ListPrev(h, 2, &x, 1, 0) +
                      ListMove(h, LIST_END, 1),
                  0);
        EXPECT_EQ(v + w + x, 0u);
        EXPECT_EQ(ListCount(h) + ListUseCount(h, 1), 0u);
        ListUnlock(h, 1);
    }
}

TEST(LockedListTest, AnItemLockedTwiceBlocksAnotherThreadUntilBothUnlocks)
{
    ListHandle list = MakeList({1, 2});
    UINT_PTR v = 0;
    ASSERT_EQ(ListFindByKey(list, 1, &v, 1), 1);
    ASSERT_EQ(ListFirst(list, &v, 1), 1); // the same item, locked a second time
    ASSERT_EQ(v, 1u);

    std::atomic<bool> started(false), found(false);
    HANDLE other = StartThread([&] {
        started = true;
        ListUnlock(list, 1); // not the owner: no effect
        UINT_PTR w = 0;
        if (ListFindByKey(list, 1, &w, 1) == 1 && w == 1) {
            found = true;
        }
        ListUnlock(list, 1);
    });
    ASSERT_TRUE(WaitFor(started));
    // Meanwhile the list stays usable: other items, plain finds, counts.
    EXPECT_EQ(ListFindByKey(list, 2, &v, 1), 1);
    ListUnlock(list, 2);
    // Still waiting: the thread has not ended a while later.
    EXPECT_EQ(WaitForSingleObject(other, 100), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_FALSE(found.load());

    ListUnlock(list, 1);
    EXPECT_EQ(WaitForSingleObject(other, 100), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_FALSE(found.load()) << "one unlock of two released the item";

    ListUnlock(list, 1);
    EXPECT_TRUE(WaitFor(found));
    EXPECT_TRUE(JoinThread(other));
    ListDestroy(list);
}
