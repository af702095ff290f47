#pragma once
// One chunk of a CDF container's compressed content: a 16-bit method word (0 stored, 8 raw DEFLATE)
// and its payload, decoding to at most 32768 bytes. Chunks of one chunked stream share a window: a
// back-reference may reach into the previous chunk's 32768 decoded bytes.
#include <windows.h>

const UINT32 CDF_CHUNK_OUTPUT = 32768; // decoded bytes of every chunk of a stream but the last
const UINT32 CDF_CHUNK_INPUT = 65536;  // longest chunk the reader accepts

const int CDF_CHUNK_NO_MEMORY = -1;
const int CDF_CHUNK_BAD = -2;

// Decodes the chunk of length bytes into dest, which has room for capacity bytes (at most 32768).
// previous, when not null, holds the 32768 decoded bytes of the chunk before this one in the same
// stream; DEFLATE back-references that reach before the chunk's start read them.
// Returns the number of bytes decoded; CDF_CHUNK_NO_MEMORY; or CDF_CHUNK_BAD for an unknown method,
// a malformed or truncated DEFLATE stream, or output that would pass capacity (dest then holds
// nothing meaningful, but nothing was written past capacity). Keeps no state between calls.
int CdfDecodeChunk(const void* chunk, UINT32 length, void* dest, UINT32 capacity, const void* previous);
