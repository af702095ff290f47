#include "system/shell_item.h"

#include "kit/testkit.h"
#include "support/startup.h"

namespace {

// COM joined for the test's thread, as the executor holds it for its run.
struct ComJoined {
    ComJoined() { ComAcquire(); }
    ~ComJoined() { ComRelease(); }
};

} // namespace

TEST(ShellTest, PathsResolveIntoItemsAndFoldersListTheirChildren)
{
    ComJoined com;
    TestFolder folder;
    MakeTestTree(folder.path(), {"Sub Folder\\", "Sub Folder\\deep\\", "Sub Folder\\deep\\x.txt", "\xc4pfel.txt",
                                 "hidden.txt", "plain"});
    SetFileAttributesA((folder / "hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);

    ShellItem base;
    ASSERT_EQ(ShellItemFromPath(&base, nullptr, folder.path().c_str()), 1);

    // Relative to a base, piece by piece, names with blanks and ANSI letters included.
    ShellItem file;
    ASSERT_EQ(ShellItemFromPath(&file, &base, "Sub Folder\\deep\\x.txt"), 1);
    EXPECT_EQ(std::string(file.path), folder / "Sub Folder\\deep\\x.txt");
    ShellItem apple;
    ASSERT_EQ(ShellItemChildByName(&base, "\xc4pfel.txt", &apple), 1);
    EXPECT_EQ(std::string(apple.path), folder / "\xc4pfel.txt");
    EXPECT_EQ(ShellItemChildByName(&base, "missing.txt", &apple), 0);

    ShellItemList* list = nullptr;
    ASSERT_EQ(ShellListChildren(&base, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN, &list), 1);
    EXPECT_EQ(list->count, 4u);
    ShellListFree(list);
    UINT32 count = 0;
    ASSERT_EQ(ShellItemBeginEnum(&base, SHCONTF_NONFOLDERS, 0), 1);
    EXPECT_EQ(ShellItemCountChildren(&base, &count), 1);
    EXPECT_EQ(count, 2u); // hidden.txt is left out without SHCONTF_INCLUDEHIDDEN
    ShellItemEndEnum(&base);

    // Another program adding and deleting files while the folder is listed never fails the listing.
    std::atomic<bool> stop(false);
    HANDLE churn = StartThread([&] {
        for (int i = 0; !stop; i = (i + 1) % 8) {
            std::string name = folder / ("churn" + std::to_string(i) + ".txt");
            WriteFileBytes(name, "x");
            DeleteFileA(name.c_str());
        }
    });
    int failed = 0;
    for (int i = 0; i < 100; i++) {
        ShellItemList* churned = nullptr;
        failed +=
            ShellListChildren(&base, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN, &churned) ? 0 : 1;
        ShellListFree(churned);
    }
    stop = true;
    EXPECT_TRUE(JoinThread(churn));
    EXPECT_EQ(failed, 0);
    ShellItemFree(&file);
    ShellItemFree(&base);
}
