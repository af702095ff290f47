// The sharing resynchronisation over products staged in the prefix and listed in a registry key: counts
// rebuilt from every product that shares an object, and products moved from one scheme to the other.
#include "app/resync.h"
#include "kit/database_kit.h"
#include "kit/uninstall_kit.h"

#include <memory>

namespace {

// A list key and products that share one file, all removed again.
struct SharingSetup : SharingProduct {
    std::string file = folder / "common.dll";
    std::string list = "SOFTWARE\\" + vendor + "List";
    std::vector<std::unique_ptr<ProductStage>> products;

    SharingSetup()
    {
        WriteFileBytes(file, "shared");
        dlls.push_back(file);
    }
    ~SharingSetup() { RemoveTestKey(HKEY_LOCAL_MACHINE, list); }
    // A product listed under name whose script shares the file; all products count under one sharing key.
    void AddProduct(const char* name, const char* switches)
    {
        ProductSpec spec;
        spec.script = "_regkey=PARENT_HKEY /_TARGETPATH \"" + vendor +
                      "\";\r\n_regkey=SHARING_HKEY /_SHAREKEY;\r\n"
                      "_file=COMMON /_TARGETPATH \"" +
                      ScriptPath(file) + "\" /_REMOVABLE " + switches + ";\r\n";
        products.emplace_back(new ProductStage(spec));
        List(name, products.back()->configFile());
    }
    void List(const char* name, const std::string& path) { SetStringValue(HKEY_LOCAL_MACHINE, list, name, path); }
    std::string ListPath() const { return "HKEY_LOCAL_MACHINE\\" + list; }
    // -1 when there is no value.
    long StoredDll() const { return StoredCount(SHARED_DLLS_KEY, file); }
    long StoredCounter() const { return StoredCount(CounterKey("Shared Files"), file); }
};

} // namespace

TEST(ResyncTest, CountsAreRebuiltFromEveryListedProduct)
{
    EngineScope engine;
    SessionScope session; // the program's session, which the uninstaller's callback answers from
    struct Row {
        const char* what;
        int products;
        const char* switches;
        UINT32 mode;
        DWORD dllBefore;             // 0: none
        const char* counterBefore;   // none
        long dllAfter, counterAfter; // -1: no value
        bool counterKeyAfter;
    } const rows[] = {
        {"one product: its file counted once", 1, "/_SHAREDDLL", 0, 0, nullptr, 1, -1, false},
        {"two products with counts 1 and 1 give 2", 2, "/_SHAREDDLL", 0, 1, nullptr, 2, -1, false},
        {"to registry sharing: SharedDLLs left, counters set", 2, "/_SHARED", SHARING_REGISTRY, 2, nullptr, -1, 2,
         true},
        {"to DLL sharing: counters and their emptied key go", 2, "/_SHARED", SHARING_DLL, 0, "2", 2, -1, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        SharingSetup s;
        if (r.dllBefore != 0) {
            s.SetDll(s.file, r.dllBefore);
        }
        if (r.counterBefore != nullptr) {
            s.SetCounter("Shared Files", s.file, r.counterBefore);
        }
        for (int i = 0; i < r.products; i++) {
            s.AddProduct(("Product" + std::to_string(i)).c_str(), r.switches);
        }
        EXPECT_EQ(ResyncSharing(&session.session, s.ListPath().c_str(), r.mode), 1);
        EXPECT_EQ(s.StoredDll(), r.dllAfter);
        EXPECT_EQ(s.StoredCounter(), r.counterAfter);
        EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, s.CounterKey("Shared Files")), r.counterKeyAfter);
        EXPECT_TRUE(PathExists(s.file)); // counts change, files never
        EXPECT_EQ(FindObjectDatabase("SYNC000"), 0u);
    }
}

TEST(ResyncTest, ListsThatNameNoProductAreReadAndSkipped)
{
    EngineScope engine;
    SessionScope session;
    SharingSetup s;
    CloseRegKey(CreateRegKey(HKEY_LOCAL_MACHINE, s.list.c_str()));
    EXPECT_EQ(ResyncSharing(&session.session, s.ListPath().c_str(), 0), 1); // an empty list
    s.List("Folder", s.folder.path());
    s.List("Missing", s.folder / "missing.cfg");
    SetDwordValue(HKEY_LOCAL_MACHINE, s.list, "Number", 7);
    EXPECT_EQ(ResyncSharing(&session.session, s.ListPath().c_str(), 0), 1);
    EXPECT_EQ(s.StoredDll(), -1); // nothing was counted
    // A list below HKEY_LOCAL_MACHINE may be named without its root; a list that is not there fails.
    EXPECT_EQ(ResyncSharing(&session.session, s.list.c_str(), 0), 1);
    EXPECT_EQ(ResyncSharing(&session.session, "HKEY_LOCAL_MACHINE\\SOFTWARE\\NoSuchList", 0), 0);
    EXPECT_EQ(ResyncSharing(&session.session, "", 0), 0);
    EXPECT_EQ(ResyncSharing(&session.session, nullptr, 0), 0);
}

TEST(ResyncTest, TheRealProgramRebuildsTheCountsOfItsList)
{
    SharingSetup s;
    s.AddProduct("One", "/_SHAREDDLL");
    s.AddProduct("Two", "/_SHAREDDLL");
    UninstallRun run = RunUninstaller(TestProgramFolder() + "Uninst.exe", "/DLLSHARING \"" + s.ListPath() + "\"");
    EXPECT_EQ(run.phaseOneExit, 1u);
    EXPECT_EQ(run.windowsSeen, 0u);
    EXPECT_EQ(s.StoredDll(), 2);
}
