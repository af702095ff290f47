#include "data/cdf_chunk.h"
#include "kit/testkit.h"

#include "kit/cdf_writer.h"

namespace {

// A DEFLATE bit writer of our own: fixed-Huffman and hand-made blocks, independent of zlib's encoder.
class Bits {
  public:
    // Plain values go in least significant bit first...
    void Put(UINT32 value, int count)
    {
        for (int i = 0; i < count; i++) {
            PutBit((value >> i) & 1);
        }
    }
    // ...Huffman codes most significant bit first.
    void PutCode(UINT32 code, int length)
    {
        for (int i = length - 1; i >= 0; i--) {
            PutBit((code >> i) & 1);
        }
    }
    void Literal(unsigned char c)
    {
        if (c < 144) {
            PutCode(0x30 + c, 8);
        } else {
            PutCode(0x190 + (c - 144), 9);
        }
    }
    void EndOfBlock() { PutCode(0, 7); }
    // A match of length 3 to 10 (codes 257 to 264, no extra bits) at a distance of 97 to 128 (code 13,
    // five extra bits) or anything the caller spells out.
    void Match(UINT32 length, UINT32 distance)
    {
        PutCode(length - 3 + 1, 7);
        PutCode(13, 5);
        Put(distance - 97, 5);
    }
    std::string bytes() const { return out_; }

  private:
    void PutBit(UINT32 bit)
    {
        if (used_ == 0) {
            out_.push_back('\0');
        }
        out_.back() = static_cast<char>(out_.back() | (bit << used_));
        used_ = (used_ + 1) % 8;
    }
    std::string out_;
    int used_ = 0;
};

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

TEST(CdfChunkTest, StoredAndHandMadeChunks)
{
    std::vector<char> out;
    EXPECT_EQ(Decode(Method(0, ""), out, CDF_CHUNK_OUTPUT), 0);
    EXPECT_EQ(Decode(Method(0, "hello"), out, CDF_CHUNK_OUTPUT), 5);
    EXPECT_EQ(std::string(out.data(), 5), "hello");
    EXPECT_EQ(Decode(Method(0, "hello"), out, 4), CDF_CHUNK_BAD); // more than the share
    EXPECT_EQ(out[0], '\xbd');

    // A DEFLATE stream that is one stored block yields exactly that block; bytes behind it are ignored.
    std::string stored = std::string("\x01\x05\x00\xfa\xff", 5) + "abcde" + "trailing junk";
    EXPECT_EQ(Decode(Method(8, stored), out, CDF_CHUNK_OUTPUT), 5);
    EXPECT_EQ(std::string(out.data(), 6), "abcde\xbd");
    // A stored block whose length and complement disagree.
    EXPECT_EQ(Decode(Method(8, std::string("\x01\x05\x00\xfa\xfe", 5) + "abcde"), out, CDF_CHUNK_OUTPUT),
              CDF_CHUNK_BAD);

    // Unknown methods write nothing.
    for (WORD method : {1, 9, 0x0800, 0xffff}) {
        SCOPED_TRACE(method);
        EXPECT_EQ(Decode(Method(method, stored), out, CDF_CHUNK_OUTPUT), CDF_CHUNK_BAD);
        EXPECT_EQ(out[0], '\xbd');
    }
    EXPECT_EQ(Decode(std::string("\x08", 1), out, CDF_CHUNK_OUTPUT), CDF_CHUNK_BAD); // no method word
    EXPECT_EQ(CdfDecodeChunk(stored.data(), 7, nullptr, 10, nullptr), CDF_CHUNK_BAD);

    // Fixed Huffman: literals and a match inside the chunk.
    Bits fixed;
    fixed.Put(1, 1); // final block
    fixed.Put(1, 2); // fixed codes
    for (unsigned char c : std::string("0123456789")) {
        fixed.Literal(c);
    }
    fixed.Literal(0xe9); // a nine-bit literal
    fixed.EndOfBlock();
    EXPECT_EQ(Decode(Method(8, fixed.bytes()), out, CDF_CHUNK_OUTPUT), 11);
    EXPECT_EQ(std::string(out.data(), 11), "0123456789\xe9");
    // The same stream cut short is refused.
    std::string cut = fixed.bytes().substr(0, fixed.bytes().size() - 2);
    EXPECT_EQ(Decode(Method(8, cut), out, CDF_CHUNK_OUTPUT), CDF_CHUNK_BAD);
    // Block type 3 does not exist.
    EXPECT_EQ(Decode(Method(8, std::string("\x07\x00", 2)), out, CDF_CHUNK_OUTPUT), CDF_CHUNK_BAD);
}

TEST(CdfChunkTest, BackReferencesReadThePreviousChunk)
{
    // The previous chunk of the stream: 32768 bytes whose last hundred are recognisable.
    std::string previous = CdfSampleContent(CDF_CHUNK_OUTPUT, 7);
    Bits bits;
    bits.Put(1, 1);
    bits.Put(1, 2);
    bits.Match(10, 100); // the chunk starts with a reference 100 bytes back
    bits.Literal('!');
    bits.EndOfBlock();
    std::string chunk = Method(8, bits.bytes());
    std::vector<char> out;
    ASSERT_EQ(Decode(chunk, out, CDF_CHUNK_OUTPUT, previous.data()), 11);
    EXPECT_EQ(std::string(out.data(), 11), previous.substr(CDF_CHUNK_OUTPUT - 100, 10) + "!");
    // Without the previous chunk the reference points before the start of the data.
    EXPECT_EQ(Decode(chunk, out, CDF_CHUNK_OUTPUT), CDF_CHUNK_BAD);

    // zlib's own encoder, with the previous chunk as dictionary: a full chunk of 32768 bytes.
    std::string content = CdfSampleContent(2 * CDF_CHUNK_OUTPUT, 8);
    CdfStreamOptions options;
    std::string second = CdfMakeChunk(content.substr(CDF_CHUNK_OUTPUT), content.substr(0, CDF_CHUNK_OUTPUT), options);
    ASSERT_EQ(Decode(second, out, CDF_CHUNK_OUTPUT, content.data()), static_cast<int>(CDF_CHUNK_OUTPUT));
    EXPECT_EQ(std::string(out.data(), CDF_CHUNK_OUTPUT), content.substr(CDF_CHUNK_OUTPUT));
    EXPECT_EQ(out[CDF_CHUNK_OUTPUT], '\xbd');
    // One byte less room than the chunk yields: refused, and nothing is written past the room.
    EXPECT_EQ(Decode(second, out, CDF_CHUNK_OUTPUT - 1, content.data()), CDF_CHUNK_BAD);
    EXPECT_EQ(out[CDF_CHUNK_OUTPUT - 1], '\xbd');
}

TEST(CdfChunkTest, CodeCountsBeyondTheFormatAreRefused)
{
    // A dynamic block header asking for 288 literal/length and 32 distance codes.
    Bits bits;
    bits.Put(1, 1);
    bits.Put(2, 2);  // dynamic codes
    bits.Put(31, 5); // HLIT: 257 + 31 = 288
    bits.Put(31, 5); // HDIST: 1 + 31 = 32
    bits.Put(15, 4); // HCLEN: 19 code length codes
    for (int i = 0; i < 19; i++) {
        bits.Put(i < 2 ? 1 : 0, 3);
    }
    bits.Put(0, 32);
    std::vector<char> out;
    EXPECT_EQ(Decode(Method(8, bits.bytes()), out, CDF_CHUNK_OUTPUT), CDF_CHUNK_BAD);
}
