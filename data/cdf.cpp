#include "data/cdf.h"

#include "data/cdf_chunk.h"
#include "support/memory.h"

#include <string.h>

namespace {

const char* const kMagics[] = {"CDF96a", "CDF96b", "CDF97a"};

UINT32 ReadLe32(const BYTE* p)
{
    return static_cast<UINT32>(p[0]) | (static_cast<UINT32>(p[1]) << 8) | (static_cast<UINT32>(p[2]) << 16) |
           (static_cast<UINT32>(p[3]) << 24);
}

bool ReadNext(HANDLE file, void* dest, UINT32 length)
{
    DWORD got = 0;
    return length == 0 || (ReadFile(file, dest, length, &got, nullptr) && got == length);
}

// Reads exactly length bytes at offset; false on a seek failure or a short read.
bool ReadAt(HANDLE file, UINT32 offset, void* dest, UINT32 length)
{
    // With a high word the low word counts as unsigned, so offsets from 2 GiB on work too.
    LONG high = 0;
    SetLastError(NO_ERROR);
    if (SetFilePointer(file, static_cast<LONG>(offset), &high, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR) {
        return false;
    }
    return ReadNext(file, dest, length);
}

// Reads a chunked stream that decodes to size bytes into dest. The stream starts at offset and may
// use at most available bytes of the file from there: a boundary table of K + 1 words, then K chunks
// back to back, chunk i the difference of boundaries i + 1 and i long and decoding to bytes
// i * 32768 up to min(size, (i + 1) * 32768). Each chunk decodes straight into its place in dest,
// with the previous chunk's output as its window.
//
// A chunk must yield exactly its share: one that yields fewer bytes would leave a gap of stale bytes
// in the content and give the next chunk a wrong window, so the stream counts as damaged.
bool ReadChunkedStream(HANDLE file, UINT32 offset, UINT32 available, BYTE* dest, UINT32 size)
{
    UINT32 chunks = static_cast<UINT32>((static_cast<UINT64>(size) + CDF_CHUNK_OUTPUT - 1) / CDF_CHUNK_OUTPUT);
    UINT64 tableBytes = (static_cast<UINT64>(chunks) + 1) * 4;
    if (tableBytes > available) {
        return false;
    }
    if (chunks != 0 && dest == nullptr) {
        return false;
    }
    BYTE* table = static_cast<BYTE*>(MemAlloc(static_cast<size_t>(tableBytes)));
    BYTE* input = static_cast<BYTE*>(MemAlloc(CDF_CHUNK_INPUT));
    bool ok = table != nullptr && input != nullptr && ReadAt(file, offset, table, static_cast<UINT32>(tableBytes));
    UINT64 used = tableBytes;
    for (UINT32 i = 0; ok && i < chunks; i++) {
        UINT32 from = ReadLe32(table + 4 * i);
        UINT32 to = ReadLe32(table + 4 * (i + 1));
        // Only the differences count, taken modulo 2^32 so that the first boundary may hold anything.
        // A negative one (huge as unsigned), one longer than a chunk may be, one too short for the
        // method word, or one that runs past the file damages the stream.
        UINT32 length = to - from;
        if (length < 2 || length > CDF_CHUNK_INPUT || used + length > available) {
            ok = false;
            break;
        }
        used += length;
        UINT32 place = i * CDF_CHUNK_OUTPUT;
        UINT32 share = size - place < CDF_CHUNK_OUTPUT ? size - place : CDF_CHUNK_OUTPUT;
        ok = ReadNext(file, input, length) &&
             CdfDecodeChunk(input, length, dest + place, share, i != 0 ? dest + place - CDF_CHUNK_OUTPUT : nullptr) ==
                 static_cast<int>(share);
    }
    MemFree(input);
    MemFree(table);
    return ok;
}

// "CDF97a": D, N and a reserved word behind the magic; the directory is a chunked stream.
bool LoadChunkedDirectory(CdfArchive* a)
{
    BYTE header[12];
    if (!ReadAt(a->file, 7, header, sizeof(header))) {
        return false;
    }
    a->directoryLength = ReadLe32(header);
    a->entryCount = ReadLe32(header + 4);
    if (a->entryCount > CDF_MAX_ENTRIES || a->directoryLength > a->fileSize) {
        return false;
    }
    UINT32 size = a->entryCount * sizeof(CdfEntry);
    a->directory = static_cast<BYTE*>(MemAlloc(size != 0 ? size : 4));
    if (a->directory == nullptr) {
        return false;
    }
    return ReadChunkedStream(a->file, a->fileSize - a->directoryLength, a->directoryLength, a->directory, size);
}

// "CDF96a" and "CDF96b": the directory is one chunk of D bytes. "CDF96a" always has 256 records behind
// a 4-byte prefix; "CDF96b" stores N.
bool LoadBlockDirectory(CdfArchive* a, bool fixed)
{
    BYTE header[8];
    if (!ReadAt(a->file, 7, header, fixed ? 2 : 8)) {
        return false;
    }
    a->directoryLength = static_cast<UINT32>(header[0] | (header[1] << 8));
    UINT32 prefix = 0;
    if (fixed) {
        a->entryCount = 256;
        prefix = 4;
    } else {
        a->entryCount = static_cast<UINT32>(header[2] | (header[3] << 8));
    }
    UINT32 size = prefix + a->entryCount * sizeof(CdfEntry);
    if (size > CDF_MAX_DIRECTORY_BLOCK || a->directoryLength > a->fileSize || a->directoryLength < 2) {
        return false;
    }
    a->directory = static_cast<BYTE*>(MemAlloc(size != 0 ? size : 4));
    BYTE* block = static_cast<BYTE*>(MemAlloc(a->directoryLength));
    bool ok = a->directory != nullptr && block != nullptr &&
              ReadAt(a->file, a->fileSize - a->directoryLength, block, a->directoryLength) &&
              CdfDecodeChunk(block, a->directoryLength, a->directory, size, nullptr) == static_cast<int>(size);
    MemFree(block);
    if (ok) {
        for (UINT32 i = 0; i < a->entryCount; i++) {
            a->entries[i] = reinterpret_cast<const CdfEntry*>(a->directory + prefix + i * sizeof(CdfEntry));
        }
    }
    return ok;
}

// The name of an entry as text: the field need not hold a terminator, so at most 35 bytes count.
void EntryName(const CdfEntry* entry, char (&name)[sizeof(CdfEntry::name) + 1])
{
    memcpy(name, entry->name, sizeof(entry->name));
    name[sizeof(entry->name)] = '\0';
}

const CdfEntry* FindEntry(const CdfArchive* archive, const char* name)
{
    if (archive == nullptr || name == nullptr) {
        return nullptr;
    }
    for (UINT32 i = 0; i < archive->entryCount; i++) {
        char entryName[sizeof(CdfEntry::name) + 1];
        EntryName(archive->entries[i], entryName);
        if (lstrcmpiA(entryName, name) == 0) {
            return archive->entries[i];
        }
    }
    return nullptr;
}

} // namespace

CdfArchive* CdfOpen(const char* path)
{
    if (path == nullptr || strlen(path) >= MAX_PATH) {
        return nullptr;
    }
    HANDLE file =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    CdfArchive* a = static_cast<CdfArchive*>(MemAlloc(sizeof(CdfArchive)));
    if (a == nullptr) {
        CloseHandle(file);
        return nullptr;
    }
    a->file = file;
    // Offsets in the format are 32-bit: a file of 4 GiB or more cannot be a container.
    DWORD high = 0;
    a->fileSize = GetFileSize(file, &high);
    char magic[8] = {};
    int version = -1;
    if (high == 0 && a->fileSize != INVALID_FILE_SIZE && ReadAt(file, 0, magic, 7)) {
        for (int v = 0; v < 3; v++) {
            if (strcmp(magic, kMagics[v]) == 0) {
                version = v;
                break;
            }
        }
    }
    bool ok = version >= 0;
    if (ok) {
        memcpy(a->magic, magic, sizeof(a->magic));
        memcpy(a->path, path, strlen(path) + 1);
        ok = version == 2 ? LoadChunkedDirectory(a) : LoadBlockDirectory(a, version == 0);
    }
    if (!ok) {
        CdfClose(a);
        return nullptr;
    }
    if (version == 2) {
        for (UINT32 i = 0; i < a->entryCount; i++) {
            a->entries[i] = reinterpret_cast<const CdfEntry*>(a->directory + i * sizeof(CdfEntry));
        }
    }
    return a;
}

UINT32 CdfEntrySize(const CdfArchive* archive, const char* name)
{
    const CdfEntry* entry = FindEntry(archive, name);
    return entry != nullptr ? entry->contentSize : 0;
}

int CdfReadEntry(CdfArchive* archive, const char* name, void* dest)
{
    const CdfEntry* entry = FindEntry(archive, name);
    if (entry == nullptr || entry->dataOffset > archive->fileSize) {
        return 0;
    }
    UINT32 available = archive->fileSize - entry->dataOffset;
    if (!(entry->flags & CDF_ENTRY_CHUNKED)) {
        if (entry->contentSize > available || (entry->contentSize != 0 && dest == nullptr)) {
            return 0;
        }
        return ReadAt(archive->file, entry->dataOffset, dest, entry->contentSize) ? 1 : 0;
    }
    if (dest == nullptr) {
        return 0;
    }
    return ReadChunkedStream(archive->file, entry->dataOffset, available, static_cast<BYTE*>(dest), entry->contentSize)
               ? 1
               : 0;
}

int CdfClose(CdfArchive* archive)
{
    if (archive == nullptr) {
        return 0;
    }
    BOOL ok = TRUE;
    if (archive->directory != nullptr) {
        ok = HeapFree(GetProcessHeap(), 0, archive->directory) && ok;
    }
    if (archive->file != nullptr && archive->file != INVALID_HANDLE_VALUE) {
        ok = CloseHandle(archive->file) && ok;
    }
    ok = HeapFree(GetProcessHeap(), 0, archive) && ok;
    return ok ? 1 : 0;
}
