#pragma once
// Writes CDF containers for tests: every version, stored and compressed entries, and on request the
// damaged forms that the reader must refuse. Compressed content is a chunked stream of raw DEFLATE
// chunks, each compressed with the previous chunk as preset dictionary, so back-references really
// cross chunk borders.
//
//   CdfFile file(CdfVersion::V97a);
//   file.Add("Struct.cfg", text, /*compressed*/ true);
//   file.Write("C:\\...\\SetUp.cdf");
#include <windows.h>

#include <string>
#include <vector>

enum class CdfVersion { V96a, V96b, V97a };

struct CdfFileEntry {
    std::string name;
    std::string content;
    bool compressed = false;
    BYTE extraFlags = 0; // flag bits besides the chunked bit (unused by the format)
    // Damage: values written into the record instead of the true ones.
    bool overrideOffset = false;
    UINT32 offset = 0;
    bool overrideSize = false;
    UINT32 size = 0;
};

struct CdfStreamOptions {
    int level = 6;                // zlib compression level
    bool storedChunks = false;    // method 0 chunks instead of DEFLATE
    UINT32 boundaryBase = 0;      // value of the first boundary (only differences count)
    UINT32 chunkPadding = 0;      // junk bytes behind each chunk's DEFLATE stream (counted in its length)
    bool reverseBoundary = false; // damage: the second boundary lies before the first
    INT32 lastChunkExtra = 0;     // damage: added to the last boundary (the last chunk claims more)
};

class CdfFile {
  public:
    explicit CdfFile(CdfVersion version) : version_(version) {}

    CdfFileEntry& Add(const std::string& name, const std::string& content, bool compressed);

    CdfStreamOptions entryStreams;    // how compressed entries are chunked
    CdfStreamOptions directoryStream; // how the "CDF97a" directory is chunked
    UINT32 reserved = 0;              // the reserved header word
    char magicEnd = '\0';             // the byte behind the magic text
    bool compressDirectory = true;    // "CDF96a"/"CDF96b": DEFLATE (else stored) directory block
    INT32 entryCountDelta = 0;        // damage: added to the stored entry count
    INT32 directoryLengthDelta = 0;   // damage: added to the stored directory length

    std::string Build() const;
    bool Write(const std::string& path) const;

  private:
    CdfVersion version_;
    std::vector<CdfFileEntry> entries_;
};

// One chunk: method word and payload; DEFLATE with the given preset dictionary (may be empty).
std::string CdfMakeChunk(const std::string& data, const std::string& dictionary, const CdfStreamOptions& options);

// A chunked stream: boundary table and chunks.
std::string CdfMakeStream(const std::string& content, const CdfStreamOptions& options);

// Deterministic text-like content of the given size: words of a small vocabulary, compressible about
// three to one, as setup data is.
std::string CdfSampleContent(size_t size, UINT32 seed);
