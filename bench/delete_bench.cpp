// Creates a tree of 10,000 files in 500 folders and removes it with ShellItemDelete from the top; then
// creates it again and removes it with a plain loop of DeleteFileA and RemoveDirectoryA (the floor).
// The last line is the shell's time divided by the floor's.
#include "system/shell_item.h"
#include "kit/testkit.h"
#include "support/startup.h"

#include "bench_clock.h"

#include <stdio.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

// 500 folders in two levels (20 x 25), 20 files in each.
void MakeTree(const std::string& root, std::vector<std::string>* folders, std::vector<std::string>* files)
{
    CreateDirectoryA(root.c_str(), nullptr);
    for (int a = 0; a < 20; a++) {
        std::string top = root + "\\group " + std::to_string(a);
        CreateDirectoryA(top.c_str(), nullptr);
        for (int b = 0; b < 25; b++) {
            std::string folder = top + "\\folder " + std::to_string(b);
            CreateDirectoryA(folder.c_str(), nullptr);
            folders->push_back(folder);
            for (int f = 0; f < 20; f++) {
                std::string file = folder + "\\file " + std::to_string(f) + ".dat";
                WriteFileBytes(file, "some installed content");
                files->push_back(file);
            }
        }
        folders->push_back(top);
    }
    folders->push_back(root);
}

} // namespace

int main()
{
    ComAcquire();
    TestFolder scratch;
    std::string root = scratch / "tree";
    std::vector<std::string> folders, files;

    MakeTree(root, &folders, &files);
    // Where the shell's time goes: resolving every item of the tree (attributes and three names each)
    // without deleting anything.
    double tList = BenchNow();
    size_t listed = 0;
    for (const std::string& d : folders) {
        ShellItem folder;
        ShellItemList* list = nullptr;
        if (ShellItemFromPath(&folder, nullptr, d.c_str()) &&
            ShellListChildren(&folder, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN, &list)) {
            listed += list->count;
            ShellListFree(list);
        }
        ShellItemFree(&folder);
    }
    double resolving = BenchNow() - tList;
    double t0 = BenchNow();
    ShellItem item;
    bool ok = ShellItemFromPath(&item, nullptr, root.c_str()) && ShellItemDelete(&item, 1);
    double shell = BenchNow() - t0;
    if (!ok || GetFileAttributesA(root.c_str()) != INVALID_FILE_ATTRIBUTES) {
        fprintf(stderr, "the shell did not remove the tree\n");
        return 1;
    }

    folders.clear();
    files.clear();
    MakeTree(root, &folders, &files);
    double t1 = BenchNow();
    for (const std::string& f : files) {
        DeleteFileA(f.c_str());
    }
    for (const std::string& d : folders) {
        RemoveDirectoryA(d.c_str());
    }
    double floor = BenchNow() - t1;
    if (GetFileAttributesA(root.c_str()) != INVALID_FILE_ATTRIBUTES) {
        fprintf(stderr, "the plain loop did not remove the tree\n");
        return 1;
    }
    printf("shell-delete: %zu files, %zu folders in %.3f s\n", files.size(), folders.size(), shell);
    printf("shell-resolve-only: %zu items listed in %.3f s\n", listed, resolving);
    printf("plain-delete: %.3f s\n", floor);
    printf("shell-delete-vs-floor: %.2f\n", shell / floor);
    ComRelease();
    return 0;
}
