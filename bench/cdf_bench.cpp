// Reads a compressed entry of 64 MiB from a container with CdfReadEntry, and inflates the same chunks
// with zlib straight from memory (the floor: no file, no container layer). The last line is the
// reader's throughput divided by the floor's.
#include "data/cdf.h"
#include "kit/cdf_writer.h"
#include "kit/testkit.h"

#include "bench_clock.h"

#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <zlib.h>

#include <string>
#include <vector>

namespace {

UINT32 Le32(const std::string& s, size_t at)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data()) + at;
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<UINT32>(p[3]) << 24);
}

// The floor: the entry's chunks inflated in memory, each with the previous chunk as dictionary.
bool InflateChunks(const std::string& stream, size_t size, unsigned char* out)
{
    size_t chunks = (size + 32767) / 32768;
    size_t at = (chunks + 1) * 4;
    z_stream z;
    memset(&z, 0, sizeof(z));
    inflateInit2(&z, -15);
    bool ok = true;
    for (size_t i = 0; i < chunks && ok; i++) {
        UINT32 length = Le32(stream, 4 * (i + 1)) - Le32(stream, 4 * i);
        inflateReset(&z);
        if (i != 0) {
            inflateSetDictionary(&z, out + (i - 1) * 32768, 32768);
        }
        size_t share = size - i * 32768 < 32768 ? size - i * 32768 : 32768;
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data() + at + 2));
        z.avail_in = length - 2;
        z.next_out = out + i * 32768;
        z.avail_out = static_cast<uInt>(share);
        ok = inflate(&z, Z_FINISH) == Z_STREAM_END && z.avail_out == 0;
        at += length;
    }
    inflateEnd(&z);
    return ok;
}

} // namespace

int main()
{
    const size_t size = 64u << 20;
    printf("building a container with a %u MiB compressed entry...\n", static_cast<unsigned>(size >> 20));
    fflush(stdout);
    std::string content = CdfSampleContent(size, 99);
    CdfStreamOptions options;
    std::string stream = CdfMakeStream(content, options);
    CdfFile file(CdfVersion::V97a);
    file.Add("big.bin", content, true);
    TestFolder folder;
    std::string path = folder / "bench.cdf";
    if (!file.Write(path)) {
        fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    printf("compressed: %.1f MiB in %zu chunks\n", stream.size() / 1048576.0, (size + 32767) / 32768);

    std::vector<unsigned char> out(size);
    double reader = 1e9, floor = 1e9;
    for (int round = 0; round < 5; round++) {
        double t0 = BenchNow();
        CdfArchive* archive = CdfOpen(path.c_str());
        bool ok = archive != nullptr && CdfEntrySize(archive, "big.bin") == size &&
                  CdfReadEntry(archive, "big.bin", out.data()) == 1;
        CdfClose(archive);
        double t1 = BenchNow();
        if (!ok || memcmp(out.data(), content.data(), size) != 0) {
            fprintf(stderr, "the reader did not give the content back\n");
            return 1;
        }
        memset(out.data(), 0, size);
        double t2 = BenchNow();
        ok = InflateChunks(stream, size, out.data());
        double t3 = BenchNow();
        if (!ok || memcmp(out.data(), content.data(), size) != 0) {
            fprintf(stderr, "the floor did not give the content back\n");
            return 1;
        }
        reader = t1 - t0 < reader ? t1 - t0 : reader;
        floor = t3 - t2 < floor ? t3 - t2 : floor;
    }
    double mib = size / 1048576.0;
    printf("cdf-reader:  %.1f MiB/s (%.3f s)\n", mib / reader, reader);
    printf("cdf-inflate: %.1f MiB/s (%.3f s)\n", mib / floor, floor);
    printf("cdf-read-vs-inflate: %.3f\n", floor / reader);
    return 0;
}
