#include "data/cdf.h"

#include "kit/cdf_writer.h"
#include "kit/testkit.h"

namespace {

const CdfVersion kVersions[] = {CdfVersion::V96a, CdfVersion::V96b, CdfVersion::V97a};

std::string VersionName(CdfVersion v)
{
    return v == CdfVersion::V96a ? "CDF96a" : v == CdfVersion::V96b ? "CDF96b" : "CDF97a";
}

// Reads an entry the way configuration discovery does: size first, then a buffer of that size. The
// buffer has a guard byte behind it.
bool ReadWhole(CdfArchive* archive, const std::string& name, std::string* content)
{
    UINT32 size = CdfEntrySize(archive, name.c_str());
    std::string buffer(size + 1, '\xbd');
    if (!CdfReadEntry(archive, name.c_str(), &buffer[0])) {
        return false;
    }
    if (buffer[size] != '\xbd') {
        ADD_FAILURE() << "the read wrote past the entry's size";
    }
    *content = buffer.substr(0, size);
    return true;
}

} // namespace

TEST(CdfTest, EveryVersionRoundTripsStoredAndCompressedEntriesFoundByName)
{
    TestFolder folder;
    const size_t sizes[] = {1, 32767, 32768, 32769, 100000, 3 * 1024 * 1024 + 5};
    for (CdfVersion version : kVersions) {
        SCOPED_TRACE(VersionName(version));
        CdfFile file(version);
        file.reserved = 0xdeadbeef;                  // free fields hold anything
        file.entryStreams.boundaryBase = 0xfffffff0; // boundaries that wrap around: only differences count
        for (size_t size : sizes) {
            file.Add("packed" + std::to_string(size), CdfSampleContent(size, static_cast<UINT32>(size)), true);
            file.Add("plain" + std::to_string(size), CdfSampleContent(size, static_cast<UINT32>(size) + 1), false)
                .extraFlags = 0xef; // every flag bit but the chunked one
        }
        file.Add("Empty.txt", "", true);
        // Names: the first of two that differ in case only wins; 35 characters fill the name field.
        file.Add("Struct.cfg", "[SSC first]", true);
        file.Add("STRUCT.CFG", "[SSC second one]", false);
        file.Add(std::string(35, 'N'), "name without terminator", false);
        const std::string path = folder / "SetUp.cdf";
        ASSERT_TRUE(file.Write(path));

        CdfArchive* archive = CdfOpen(path.c_str());
        ASSERT_NE(archive, nullptr);
        EXPECT_STREQ(archive->magic, VersionName(version).c_str());
        EXPECT_STREQ(archive->path, path.c_str());
        EXPECT_EQ(archive->entryCount, version == CdfVersion::V96a ? 256u : 2 * 6 + 4u);
        for (size_t size : sizes) {
            SCOPED_TRACE(size);
            std::string content;
            ASSERT_TRUE(ReadWhole(archive, "packed" + std::to_string(size), &content));
            EXPECT_TRUE(content == CdfSampleContent(size, static_cast<UINT32>(size)));
            ASSERT_TRUE(ReadWhole(archive, "plain" + std::to_string(size), &content));
            EXPECT_TRUE(content == CdfSampleContent(size, static_cast<UINT32>(size) + 1));
        }
        // An entry of size 0 looks absent to the size query, and reads without touching the buffer.
        EXPECT_EQ(CdfEntrySize(archive, "Empty.txt"), 0u);
        char untouched = '\xbd';
        EXPECT_EQ(CdfReadEntry(archive, "Empty.txt", &untouched), 1);
        EXPECT_EQ(untouched, '\xbd');
        std::string content;
        EXPECT_EQ(CdfEntrySize(archive, "struct.CFG"), 11u);
        ASSERT_TRUE(ReadWhole(archive, "struct.CFG", &content));
        EXPECT_EQ(content, "[SSC first]");
        ASSERT_TRUE(ReadWhole(archive, std::string(35, 'n'), &content));
        EXPECT_EQ(content, "name without terminator");
        EXPECT_EQ(CdfReadEntry(archive, "Version.txt", &content[0]), 0);
        // The empty slots of a "CDF96a" directory match only an empty name.
        EXPECT_EQ(CdfReadEntry(archive, "", &content[0]), version == CdfVersion::V96a ? 1 : 0);
        EXPECT_NE(CdfClose(archive), 0);
        // Closing released the file: it can be deleted now.
        EXPECT_TRUE(DeleteFileA(path.c_str()));
    }
}

TEST(CdfTest, DirectoriesHoldUpTo2000Entries)
{
    TestFolder folder;
    // 2000 entries are the most; "CDF96b" directory blocks hold at most 744 records.
    struct Case {
        CdfVersion version;
        int entries;
        bool opens;
    } const cases[] = {
        {CdfVersion::V97a, 2000, true},
        {CdfVersion::V97a, 2001, false},
        {CdfVersion::V96b, 744, true},
        {CdfVersion::V96b, 745, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entries);
        CdfFile file(c.version);
        for (int i = 0; i < c.entries; i++) {
            file.Add("e" + std::to_string(i), std::to_string(i), false);
        }
        ASSERT_TRUE(file.Write(folder / "many.cdf"));
        CdfArchive* archive = CdfOpen((folder / "many.cdf").c_str());
        EXPECT_EQ(archive != nullptr, c.opens);
        if (archive != nullptr) {
            std::string content;
            ASSERT_TRUE(ReadWhole(archive, "e" + std::to_string(c.entries - 1), &content));
            EXPECT_EQ(content, std::to_string(c.entries - 1));
            CdfClose(archive);
        }
    }
}

TEST(CdfTest, DamagedFilesAreRefused)
{
    TestFolder folder;
    const std::string path = folder / "bad.cdf";
    const std::string big = CdfSampleContent(100000, 3);

    // Damage that keeps the open from succeeding.
    struct OpenCase {
        const char* what;
        CdfVersion version;
        void (*damage)(CdfFile&);
    } const openCases[] = {
        {"seventh byte not zero", CdfVersion::V96a, [](CdfFile& f) { f.magicEnd = 'x'; }},
        {"directory longer than the file", CdfVersion::V97a, [](CdfFile& f) { f.directoryLengthDelta = 1 << 20; }},
        {"more records claimed", CdfVersion::V97a, [](CdfFile& f) { f.entryCountDelta = 1; }},
        {"directory chunk beyond 65536 bytes", CdfVersion::V97a,
         [](CdfFile& f) { f.directoryStream.chunkPadding = 65536; }},
        {"negative boundary difference", CdfVersion::V97a,
         [](CdfFile& f) { f.directoryStream.reverseBoundary = true; }},
        {"last chunk past the end", CdfVersion::V97a, [](CdfFile& f) { f.directoryStream.lastChunkExtra = 8; }},
    };
    for (const OpenCase& c : openCases) {
        SCOPED_TRACE(std::string(c.what) + " " + VersionName(c.version));
        CdfFile file(c.version);
        file.Add("Struct.cfg", "[SSC]", false);
        c.damage(file);
        ASSERT_TRUE(file.Write(path));
        EXPECT_EQ(CdfOpen(path.c_str()), nullptr);
    }
    EXPECT_EQ(CdfOpen((folder / "missing.cdf").c_str()), nullptr);
    for (const char* bytes : {"", "CDF97", "CDF97a", "CDF96b\0\x05", "cdf97a\0..............."}) {
        ASSERT_TRUE(WriteFileBytes(path, std::string(bytes, strlen(bytes) + (bytes[0] == 'C' ? 2 : 0))));
        EXPECT_EQ(CdfOpen(path.c_str()), nullptr);
    }

    // Damage inside one entry: the archive opens, that entry's read fails, the others still read.
    struct ReadCase {
        const char* what;
        bool chunkedOnly;
        void (*damage)(CdfFile&, CdfFileEntry&);
    } const readCases[] = {
        {"chunk beyond 65536 bytes", true, [](CdfFile& f, CdfFileEntry&) { f.entryStreams.chunkPadding = 65536; }},
        {"negative boundary difference", true,
         [](CdfFile& f, CdfFileEntry&) { f.entryStreams.reverseBoundary = true; }},
        {"last chunk past the end", true, [](CdfFile& f, CdfFileEntry&) { f.entryStreams.lastChunkExtra = 1 << 16; }},
        {"data offset past the end", false,
         [](CdfFile&, CdfFileEntry& e) { e.overrideOffset = true, e.offset = 0x7ffffff0; }},
        {"size beyond the file", false, [](CdfFile&, CdfFileEntry& e) { e.overrideSize = true, e.size = 0xffffffff; }},
        {"chunk yields less than its share", true,
         [](CdfFile&, CdfFileEntry& e) { e.overrideSize = true, e.size = 100001; }},
        {"stored chunk beyond 65536 bytes", true,
         [](CdfFile& f, CdfFileEntry&) { f.entryStreams.storedChunks = true, f.entryStreams.chunkPadding = 32767; }},
    };
    for (CdfVersion version : kVersions) {
        for (bool stored : {false, true}) {
            for (const ReadCase& c : readCases) {
                if (stored && c.chunkedOnly) {
                    continue;
                }
                SCOPED_TRACE(std::string(c.what) + " " + VersionName(version) + (stored ? " stored" : ""));
                CdfFile file(version);
                file.Add("Version.txt", "1.0", true);
                CdfFileEntry& bad = file.Add("Struct.cfg", big, !stored);
                c.damage(file, bad);
                ASSERT_TRUE(file.Write(path));
                CdfArchive* archive = CdfOpen(path.c_str());
                ASSERT_NE(archive, nullptr);
                // A buffer of the size the entry claims (at most 1 MiB) with a fault right behind it.
                UINT32 claimed = CdfEntrySize(archive, "Struct.cfg");
                GuardedBytes buffer(std::string(claimed < (1u << 20) ? claimed : (1u << 20), '\0'));
                EXPECT_EQ(CdfReadEntry(archive, "Struct.cfg", buffer.data()), 0);
                CdfClose(archive);
            }
        }
    }

    // Chunks padded behind their DEFLATE stream but within 65536 bytes are sound.
    CdfFile padded(CdfVersion::V97a);
    padded.entryStreams.chunkPadding = 30000;
    padded.directoryStream.chunkPadding = 100;
    padded.Add("Struct.cfg", big, true);
    ASSERT_TRUE(padded.Write(path));
    CdfArchive* archive = CdfOpen(path.c_str());
    ASSERT_NE(archive, nullptr);
    std::string content;
    EXPECT_TRUE(ReadWhole(archive, "Struct.cfg", &content));
    EXPECT_TRUE(content == big);
    CdfClose(archive);
}
