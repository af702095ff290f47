#include "kit/cdf_writer.h"

#include "kit/testkit.h"

#include <string.h>
#include <zlib.h>

namespace {

void Put16(std::string& out, UINT32 v)
{
    out.push_back(static_cast<char>(v & 0xff));
    out.push_back(static_cast<char>((v >> 8) & 0xff));
}

void Put32(std::string& out, UINT32 v)
{
    Put16(out, v & 0xffff);
    Put16(out, v >> 16);
}

const size_t CHUNK = 32768;

std::string Deflate(const std::string& data, const std::string& dictionary, int level)
{
    z_stream z;
    memset(&z, 0, sizeof(z));
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    if (!dictionary.empty()) {
        deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(dictionary.data()),
                             static_cast<uInt>(dictionary.size()));
    }
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

} // namespace

std::string CdfMakeChunk(const std::string& data, const std::string& dictionary, const CdfStreamOptions& options)
{
    std::string chunk;
    if (options.storedChunks) {
        Put16(chunk, 0);
        chunk += data;
    } else {
        Put16(chunk, 8);
        chunk += Deflate(data, dictionary, options.level);
    }
    chunk.append(options.chunkPadding, '\x5a');
    return chunk;
}

std::string CdfMakeStream(const std::string& content, const CdfStreamOptions& options)
{
    size_t chunks = (content.size() + CHUNK - 1) / CHUNK;
    std::vector<std::string> parts;
    for (size_t i = 0; i < chunks; i++) {
        std::string dictionary = i == 0 ? std::string() : content.substr((i - 1) * CHUNK, CHUNK);
        parts.push_back(CdfMakeChunk(content.substr(i * CHUNK, CHUNK), dictionary, options));
    }
    std::string stream;
    UINT32 boundary = options.boundaryBase;
    std::vector<UINT32> table{boundary};
    for (const std::string& part : parts) {
        boundary += static_cast<UINT32>(part.size());
        table.push_back(boundary);
    }
    if (options.reverseBoundary && table.size() > 1) {
        table[1] = table[0] - 4;
    }
    if (chunks != 0) {
        table.back() += static_cast<UINT32>(options.lastChunkExtra);
    }
    for (UINT32 b : table) {
        Put32(stream, b);
    }
    for (const std::string& part : parts) {
        stream += part;
    }
    return stream;
}

std::string CdfSampleContent(size_t size, UINT32 seed)
{
    static const char* const words[] = {"setup",  "file",   "folder",    "registry", "key",
                                        "value",  "shared", "count",     "product",  "install",
                                        "remove", "group",  "link",      "DLL",      "C:\\Program Files\\",
                                        "=",      "\r\n",   "[SSCRIPT]", "_DEST",    "42"};
    std::string out;
    out.reserve(size + 32);
    UINT32 state = seed * 2654435761u + 1;
    while (out.size() < size) {
        state = state * 1103515245u + 12345u;
        out += words[(state >> 16) % 20];
        state = state * 1103515245u + 12345u;
        if ((state >> 16) % 4 == 0) {
            out.push_back(static_cast<char>('a' + (state >> 20) % 26)); // some noise
        }
        out.push_back(' ');
    }
    out.resize(size);
    return out;
}

CdfFileEntry& CdfFile::Add(const std::string& name, const std::string& content, bool compressed)
{
    CdfFileEntry entry;
    entry.name = name;
    entry.content = content;
    entry.compressed = compressed;
    entries_.push_back(entry);
    return entries_.back();
}

std::string CdfFile::Build() const
{
    static const char* const magics[] = {"CDF96a", "CDF96b", "CDF97a"};
    std::string file = magics[static_cast<int>(version_)];
    file.push_back(magicEnd);
    size_t headerSize = version_ == CdfVersion::V96a ? 9 : version_ == CdfVersion::V96b ? 15 : 19;
    file.append(headerSize - file.size(), '\0');

    // The contents, then the directory records.
    std::string records;
    for (const CdfFileEntry& e : entries_) {
        UINT32 offset = static_cast<UINT32>(file.size());
        file += e.compressed ? CdfMakeStream(e.content, entryStreams) : e.content;
        records.push_back(static_cast<char>((e.compressed ? 0x10 : 0) | e.extraFlags));
        char name[35] = {};
        memcpy(name, e.name.data(), e.name.size() < sizeof(name) ? e.name.size() : sizeof(name));
        records.append(name, sizeof(name));
        Put32(records, e.overrideOffset ? e.offset : offset);
        Put32(records, e.overrideSize ? e.size : static_cast<UINT32>(e.content.size()));
    }

    std::string directory;
    UINT32 count = static_cast<UINT32>(entries_.size());
    if (version_ == CdfVersion::V97a) {
        directory = CdfMakeStream(records, directoryStream);
    } else {
        std::string block = records;
        if (version_ == CdfVersion::V96a) {
            block.resize(256 * 44, '\0'); // always 256 slots behind a 4-byte prefix
            block = std::string("\x01\x02\x03\x04", 4) + block;
        }
        CdfStreamOptions single = directoryStream;
        single.storedChunks = !compressDirectory;
        directory = CdfMakeChunk(block, std::string(), single);
    }
    UINT32 length = static_cast<UINT32>(directory.size()) + static_cast<UINT32>(directoryLengthDelta);
    count += static_cast<UINT32>(entryCountDelta);
    std::string header;
    if (version_ == CdfVersion::V97a) {
        Put32(header, length);
        Put32(header, count);
        Put32(header, reserved);
    } else {
        Put16(header, length);
        if (version_ == CdfVersion::V96b) {
            Put16(header, count);
            Put32(header, reserved);
        }
    }
    file.replace(7, header.size(), header);
    return file + directory;
}

bool CdfFile::Write(const std::string& path) const
{
    return WriteFileBytes(path, Build());
}
