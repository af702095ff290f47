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

typedef unsigned int UINT;
typedef DWORD REGSAM;
typedef void* LPSECURITY_ATTRIBUTES;
typedef char* LPSTR;

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

HANDLE CreateFileA(const char* path, DWORD access, DWORD share, void* security, DWORD disposition, DWORD attributes,
                   HANDLE templateFile);
BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void* overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method);
DWORD GetFileSize(HANDLE file, DWORD* high);
BOOL CloseHandle(HANDLE handle);
// Writes go to one buffer in memory, whatever the handle: ShimWritten gives it, ShimClearWritten empties it.
BOOL WriteFile(HANDLE file, const void* data, DWORD toWrite, DWORD* written, void* overlapped);
const char* ShimWritten(size_t* size);
void ShimClearWritten();
#define FORMAT_MESSAGE_FROM_SYSTEM 0x1000u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x200u
// The stand-in knows no message: 0, as for an unknown code.
DWORD FormatMessageA(DWORD flags, const void* source, DWORD id, DWORD language, char* buffer, DWORD size,
                     void* arguments);
BOOL FindClose(HANDLE handle);
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

// The registry of the stand-in is empty: every key is missing.
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u)))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000003u)))
#define KEY_READ 0x20019u
#define KEY_ALL_ACCESS 0xF003Fu
#define REG_OPTION_NON_VOLATILE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_NO_MORE_ITEMS 259L
#define LOCALE_SYSTEM_DEFAULT 0x0800u
#define NORM_IGNORECASE 0x1u
#define NORM_IGNOREKANATYPE 0x10000u
#define NORM_IGNOREWIDTH 0x20000u
#define CSTR_LESS_THAN 1
#define CSTR_EQUAL 2
#define CSTR_GREATER_THAN 3

LONG RegOpenKeyExA(HKEY key, const char* path, DWORD options, REGSAM access, HKEY* result);
LONG RegCreateKeyExA(HKEY key, const char* path, DWORD reserved, char* cls, DWORD options, REGSAM access,
                     LPSECURITY_ATTRIBUTES security, HKEY* result, DWORD* disposition);
LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);
LONG RegSetValueExA(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* size, DWORD* reserved, char* cls, DWORD* clsSize,
                   void* time);
LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* size, DWORD* reserved, DWORD* type, BYTE* data,
                   DWORD* dataSize);
LONG RegDeleteKeyA(HKEY key, const char* path);
LONG RegDeleteValueA(HKEY key, const char* name);
LONG RegFlushKey(HKEY key);
UINT GetWindowsDirectoryA(char* buffer, UINT size);
UINT GetSystemDirectoryA(char* buffer, UINT size);
char* CharUpperA(char* text);
#define CP_ACP 0
// Conversions between the ANSI code page (here: bytes as they are) and wide text.
int WideCharToMultiByte(UINT codePage, DWORD flags, const wchar_t* text, int length, char* out, int size,
                        const char* defaultChar, int* usedDefault);
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* text, int length, wchar_t* out, int size);
int CompareStringA(DWORD locale, DWORD flags, const char* a, int aLength, const char* b, int bLength);
