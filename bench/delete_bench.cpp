// Creates a tree of 10,000 files in 500 folders and removes it through the deletion gate from the top
// (every entry opened relative to its folder without following links, checked and deleted); then
// creates it again and removes it with a plain loop of DeleteFileA and RemoveDirectoryA (the floor).
// The last line is the gate's time divided by the floor's.
#include "system/deletion_gate.h"
#include "kit/testkit.h"

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
    TestFolder scratch;
    std::string root = scratch / "tree";
    std::vector<std::string> folders, files;

    MakeTree(root, &folders, &files);
    double t0 = BenchNow();
    GateResult r = GateDeleteFolder(root.c_str(), GATE_RECURSIVE, nullptr);
    double gate = BenchNow() - t0;
    if (r.outcome != GATE_DONE || GetFileAttributesA(root.c_str()) != INVALID_FILE_ATTRIBUTES) {
        fprintf(stderr, "the gate did not remove the tree\n");
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
    printf("gate-delete: %zu files, %zu folders in %.3f s\n", files.size(), folders.size(), gate);
    printf("plain-delete: %.3f s\n", floor);
    printf("tree-delete-vs-floor: %.2f\n", gate / floor);
    return 0;
}
