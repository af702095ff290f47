#include "system/shell_item.h"

#include "kit/testkit.h"
#include "support/startup.h"
#include "support/strings.h"

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
    ShellItemFree(&file);
    ShellItemFree(&base);
}

TEST(ShellTest, RootsAreFound)
{
    struct RootCase {
        const char* path;
        const char* root;
        int exists;
    } const roots[] = {
        {"C:\\Program Files\\App", "C:\\", 1},
        {"Q:\\nothing", "Q:\\", 0},
        {"\\\\srv\\share\\dir\\file", "\\\\srv\\share\\", 0},
        {"\\\\srv:x\\share", "", 0},
    };
    for (const RootCase& c : roots) {
        SCOPED_TRACE(c.path);
        char dest[MAX_PATH];
        memset(dest, 'x', sizeof(dest));
        EXPECT_EQ(PathRootExists(dest, c.path), c.exists);
        EXPECT_STREQ(dest, c.root);
    }
}

TEST(ShellTest, LinksAreListedReadAndDeleted)
{
    ComJoined com;
    TestFolder folder;
    MakeTestTree(folder.path(), {"app.exe", "not a link.lnk", "sub\\", "readme.txt"});
    ASSERT_TRUE(MakeShortcut(folder / "My App.lnk", folder / "app.exe")); // as setup makes them

    ShellItem base;
    ASSERT_EQ(ShellItemFromPath(&base, nullptr, folder.path().c_str()), 1);
    ShellItemList* links = nullptr;
    ASSERT_EQ(ShellListLinks(&base, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &links), 1);
    ShellItem* link = nullptr;
    int folders = 0;
    for (UINT32 i = 0; i < links->count; i++) {
        if (links->children[i]->link != nullptr) {
            EXPECT_EQ(link, nullptr) << "only the real link loads";
            link = links->children[i];
        } else {
            folders++;
        }
    }
    EXPECT_EQ(folders, 1); // "sub" stays; app.exe, readme.txt and the fake .lnk are dropped
    ASSERT_NE(link, nullptr);
    EXPECT_STREQ(link->inFolderName, "My App");

    ShellLinkInfo* info = nullptr;
    ASSERT_EQ(ShellLinkReadInfo(link, &info), 1);
    EXPECT_EQ(std::string(info->targetPath), folder / "app.exe");
    EXPECT_STREQ(info->iconLocation, info->targetPath); // no icon of its own: the target's
    ShellLinkInfoFree(link, &info);
    EXPECT_EQ(info, nullptr);

    std::string linkPath = link->path;
    EXPECT_EQ(ShellDeleteLink(link), 1);
    EXPECT_FALSE(PathExists(linkPath));
    EXPECT_TRUE(PathExists(folder / "app.exe"));
    ShellListFree(links);
    ShellItemFree(&base);
}
