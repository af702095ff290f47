#include "data/cdf_chunk.h"

#include <string.h>
#include <zlib.h>

namespace {

// zlib's own blocks come from the process heap like every other block of the program.
voidpf HeapZalloc(voidpf, uInt items, uInt size)
{
    return HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(items) * size);
}

void HeapZfree(voidpf, voidpf block)
{
    HeapFree(GetProcessHeap(), 0, block);
}

const WORD METHOD_STORED = 0;
const WORD METHOD_DEFLATE = 8;

} // namespace

int CdfDecodeChunk(const void* chunk, UINT32 length, void* dest, UINT32 capacity, const void* previous)
{
    if (chunk == nullptr || dest == nullptr || length < 2 || capacity > CDF_CHUNK_OUTPUT) {
        return CDF_CHUNK_BAD;
    }
    const unsigned char* in = static_cast<const unsigned char*>(chunk);
    WORD method = static_cast<WORD>(in[0] | (in[1] << 8));
    UINT32 payload = length - 2;

    if (method == METHOD_STORED) {
        if (payload > capacity) {
            return CDF_CHUNK_BAD;
        }
        memcpy(dest, in + 2, payload);
        return static_cast<int>(payload);
    }
    if (method != METHOD_DEFLATE) {
        return CDF_CHUNK_BAD;
    }

    // Raw DEFLATE. The previous chunk's output is the preset dictionary, so references across the
    // chunk border resolve. Codes beyond the 286 literal/length and 30 distance codes of the format
    // are rejected, as zlib does: no DEFLATE compressor writes them.
    z_stream z;
    memset(&z, 0, sizeof(z));
    z.zalloc = HeapZalloc;
    z.zfree = HeapZfree;
    int r = inflateInit2(&z, -15);
    if (r != Z_OK) {
        return r == Z_MEM_ERROR ? CDF_CHUNK_NO_MEMORY : CDF_CHUNK_BAD;
    }
    int result = CDF_CHUNK_BAD;
    if (previous != nullptr) {
        r = inflateSetDictionary(&z, static_cast<const Bytef*>(previous), CDF_CHUNK_OUTPUT);
        if (r != Z_OK) {
            inflateEnd(&z);
            return r == Z_MEM_ERROR ? CDF_CHUNK_NO_MEMORY : CDF_CHUNK_BAD;
        }
    }
    z.next_in = const_cast<Bytef*>(in + 2);
    z.avail_in = payload;
    z.next_out = static_cast<Bytef*>(dest);
    z.avail_out = capacity;
    r = inflate(&z, Z_FINISH);
    if (r == Z_STREAM_END) {
        // Bytes behind the end of the stream are ignored.
        result = static_cast<int>(capacity - z.avail_out);
    } else if (r == Z_MEM_ERROR) {
        result = CDF_CHUNK_NO_MEMORY;
    }
    // Anything else: a data error, a stream cut short, or more output than the chunk's share.
    inflateEnd(&z);
    return result;
}
