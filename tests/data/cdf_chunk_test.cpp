#include "data/cdf_chunk.h"
#include "kit/testkit.h"

#include "kit/cdf_writer.h"

namespace {

std::string Method(WORD method, const std::string& payload)
{
    std::string chunk;
    chunk.push_back(static_cast<char>(method & 0xff));
    chunk.push_back(static_cast<char>(method >> 8));
    return chunk + payload;
}

int Decode(const std::string& chunk, std::vector<char>& out, UINT32 capacity, const void* previous = nullptr)
{
    out.assign(CDF_CHUNK_OUTPUT + 16, '\xbd');
    return CdfDecodeChunk(chunk.data(), static_cast<UINT32>(chunk.size()), out.data(), capacity, previous);
}

} // namespace

TEST(CdfChunkTest, StoredChunksAndUnknownMethods)
{
    std::vector<char> out;
    EXPECT_EQ(Decode(Method(0, ""), out, CDF_CHUNK_OUTPUT), 0);
    EXPECT_EQ(Decode(Method(0, "hello"), out, CDF_CHUNK_OUTPUT), 5);
    EXPECT_EQ(std::string(out.data(), 6), "hello\xbd");
    EXPECT_EQ(Decode(Method(0, "hello"), out, 4), CDF_CHUNK_BAD); // more than the share
    EXPECT_EQ(out[0], '\xbd');
    // Unknown methods, and a chunk without its method word, write nothing.
    for (WORD method : {1, 9, 0x0800, 0xffff}) {
        SCOPED_TRACE(method);
        EXPECT_EQ(Decode(Method(method, "hello"), out, CDF_CHUNK_OUTPUT), CDF_CHUNK_BAD);
        EXPECT_EQ(out[0], '\xbd');
    }
    EXPECT_EQ(Decode(std::string("\x08", 1), out, CDF_CHUNK_OUTPUT), CDF_CHUNK_BAD);
    EXPECT_EQ(CdfDecodeChunk("\x00\x00hello", 7, nullptr, 10, nullptr), CDF_CHUNK_BAD);
}

TEST(CdfChunkTest, DeflateChunksReadThePreviousChunkAndStayInTheirShare)
{
    // A full chunk of 32768 bytes compressed with the previous chunk as dictionary: its references
    // reach back across the border.
    std::string content = CdfSampleContent(2 * CDF_CHUNK_OUTPUT, 8);
    std::string first = content.substr(0, CDF_CHUNK_OUTPUT), rest = content.substr(CDF_CHUNK_OUTPUT);
    CdfStreamOptions options;
    std::string second = CdfMakeChunk(rest, first, options);
    std::vector<char> out;
    ASSERT_EQ(Decode(second, out, CDF_CHUNK_OUTPUT, first.data()), static_cast<int>(CDF_CHUNK_OUTPUT));
    EXPECT_EQ(std::string(out.data(), CDF_CHUNK_OUTPUT), rest);
    EXPECT_EQ(out[CDF_CHUNK_OUTPUT], '\xbd');
    // Without the previous chunk the references point before the start of the data.
    EXPECT_EQ(Decode(second, out, CDF_CHUNK_OUTPUT), CDF_CHUNK_BAD);
    // One byte less room than the chunk yields: refused, and nothing is written past the room.
    EXPECT_EQ(Decode(second, out, CDF_CHUNK_OUTPUT - 1, first.data()), CDF_CHUNK_BAD);
    EXPECT_EQ(out[CDF_CHUNK_OUTPUT - 1], '\xbd');
    // Cut short: refused; junk behind the end of the stream: ignored.
    EXPECT_EQ(Decode(second.substr(0, second.size() - 2), out, CDF_CHUNK_OUTPUT, first.data()), CDF_CHUNK_BAD);
    std::string alone = CdfMakeChunk("abcde", "", options);
    EXPECT_EQ(Decode(alone + "trailing junk", out, CDF_CHUNK_OUTPUT), 5);
    EXPECT_EQ(std::string(out.data(), 6), "abcde\xbd");
}
