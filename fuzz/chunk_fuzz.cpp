// Decodes the input as one chunk. The first byte picks the room for the output and whether a window
// of a previous chunk is given.
#include "data/cdf_chunk.h"

#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    static BYTE window[CDF_CHUNK_OUTPUT];
    static bool windowReady = false;
    if (!windowReady) {
        for (UINT32 i = 0; i < CDF_CHUNK_OUTPUT; i++) {
            window[i] = static_cast<BYTE>("setup data "[i % 11] ^ (i >> 9));
        }
        windowReady = true;
    }
    UINT32 capacity = (data[0] & 0x80) ? CDF_CHUNK_OUTPUT : (data[0] & 0x7f) * 256u + 1;
    const BYTE* previous = (data[0] & 1) ? window : nullptr;
    BYTE* out = static_cast<BYTE*>(malloc(capacity));
    int r = CdfDecodeChunk(data + 1, static_cast<UINT32>(size - 1), out, capacity, previous);
    if (r > static_cast<int>(capacity) || r < CDF_CHUNK_BAD) {
        abort();
    }
    free(out);
    return 0;
}
