// Opens the input as a container and reads every entry it names.
#include "data/cdf.h"

#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ShimSetFile("fuzz.cdf", data, size);
    CdfArchive* archive = CdfOpen("fuzz.cdf");
    if (archive == nullptr) {
        return 0;
    }
    for (UINT32 i = 0; i < archive->entryCount; i++) {
        char name[sizeof(CdfEntry::name) + 1] = {};
        memcpy(name, archive->entries[i]->name, sizeof(CdfEntry::name));
        UINT32 length = CdfEntrySize(archive, name);
        if (length > (16u << 20)) {
            continue; // a claim the caller could not allocate for either
        }
        // An exact-size block: AddressSanitizer sees any write past the entry's size.
        BYTE* buffer = static_cast<BYTE*>(malloc(length != 0 ? length : 1));
        CdfReadEntry(archive, name, buffer);
        free(buffer);
    }
    CdfClose(archive);
    return 0;
}
