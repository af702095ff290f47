#pragma once
// Test-only stand-in for the few Win32 calls of the container reader, the chunk decoder and the
// tokenizer, so that the product's own source files build natively for the fuzzers. Files live in
// memory: ShimSetFile names the bytes that CreateFileA then opens.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t UINT32;
typedef int32_t INT32;
typedef uint64_t UINT64;
typedef int32_t LONG;
typedef int BOOL;
typedef size_t SIZE_T;
typedef uintptr_t UINT_PTR;
typedef void* HANDLE;
typedef const void* LPCVOID;
typedef int64_t INT64;
typedef void* HKEY;
typedef void* HINSTANCE;
typedef void* HWND;

#define WINAPI
#define ERROR_SUCCESS 0L

// A recursive lock, as a Win32 critical section is.
struct CRITICAL_SECTION {
    void* mutex;
};

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define GENERIC_READ 0x80000000u
#define FILE_SHARE_READ 1u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define FILE_BEGIN 0u
#define HEAP_ZERO_MEMORY 0x8u
#define NO_ERROR 0u
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define INVALID_FILE_SIZE 0xFFFFFFFFu
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu

void ShimSetFile(const char* path, const void* data, size_t size);

HANDLE GetProcessHeap();
void* HeapAlloc(HANDLE heap, DWORD flags, SIZE_T size);
BOOL HeapFree(HANDLE heap, DWORD flags, void* block);

HANDLE CreateFileA(const char* path, DWORD access, DWORD share, void* security, DWORD disposition,
                   DWORD attributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void* overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method);
DWORD GetFileSize(HANDLE file, DWORD* high);
BOOL CloseHandle(HANDLE handle);
DWORD GetLastError();
void SetLastError(DWORD error);
int lstrcmpiA(const char* a, const char* b);

void InitializeCriticalSection(CRITICAL_SECTION* cs);
void EnterCriticalSection(CRITICAL_SECTION* cs);
void LeaveCriticalSection(CRITICAL_SECTION* cs);
void DeleteCriticalSection(CRITICAL_SECTION* cs);
void Sleep(DWORD ms);
DWORD GetCurrentThreadId();
LONG InterlockedCompareExchange(volatile LONG* target, LONG exchange, LONG comparand);
LONG InterlockedExchange(volatile LONG* target, LONG value);
LONG InterlockedIncrement(volatile LONG* target);
LONG InterlockedDecrement(volatile LONG* target);
char* lstrcpynA(char* dest, const char* src, int size);
LONG RegCloseKey(HKEY key);
void CoTaskMemFree(void* block);
