#pragma once
// CDF container files: many named entries in one file, each stored plainly or as a chunked stream of
// compressed chunks. Read-only. Versions "CDF96a", "CDF96b" and "CDF97a" differ in the header and in
// how the directory (44-byte entry records at the end of the file) is coded.
#include <windows.h>

#pragma pack(push, 1)
// One entry record of the decoded directory.
struct CdfEntry {
    BYTE flags;         // CDF_ENTRY_CHUNKED set: the content is a chunked stream
    char name[35];      // zero-terminated within the field
    UINT32 dataOffset;  // where the content begins in the file
    UINT32 contentSize; // bytes the entry yields when read
};
#pragma pack(pop)
static_assert(sizeof(CdfEntry) == 44, "entry records are 44 bytes");

const BYTE CDF_ENTRY_CHUNKED = 0x10;
const UINT32 CDF_MAX_ENTRIES = 2000;
const UINT32 CDF_MAX_DIRECTORY_BLOCK = 32768; // decoded size of a "CDF96a"/"CDF96b" directory block

struct CdfArchive {
    char magic[8];
    char path[MAX_PATH];
    UINT32 directoryLength; // D: the directory is the last D bytes of the file
    BYTE* directory;        // decoded entry records, owned
    UINT32 entryCount;
    HANDLE file;
    UINT32 fileSize;
    const CdfEntry* entries[CDF_MAX_ENTRIES];
};

// Opens a container and decodes its whole directory. Null for a missing or unreadable file, a wrong
// magic, or a directory that is short, undecodable or breaks the limits (more than 2000 entries, a
// directory block of more than 32768 decoded bytes, a chunk of more than 65536 bytes, chunks that run
// past the file). Close with CdfClose.
CdfArchive* CdfOpen(const char* path);

// Content size of the first entry of that name (compared without regard to case), 0 when none.
UINT32 CdfEntrySize(const CdfArchive* archive, const char* name);

// Reads the whole content of the first entry of that name into dest, which holds CdfEntrySize bytes.
// 1 on success; 0 when the entry is absent, points past the file, or its chunks are short, too long
// or undecodable (dest may then hold part of the content).
int CdfReadEntry(CdfArchive* archive, const char* name, void* dest);

// Frees the directory, closes the file, frees the record. Non-zero when every release succeeded.
int CdfClose(CdfArchive* archive);
