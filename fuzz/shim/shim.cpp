#include <windows.h>

#include <pthread.h>
#include <stdlib.h>
#include <unistd.h>
#include <ctype.h>
#include <strings.h>
#include <wchar.h>

#include <string>

namespace {

struct ShimFile {
    std::string path;
    const BYTE* data = nullptr;
    size_t size = 0;
};

ShimFile g_file;
DWORD g_lastError = 0;

struct OpenFile {
    const BYTE* data;
    size_t size;
    UINT64 position;
};

} // namespace

void ShimSetFile(const char* path, const void* data, size_t size)
{
    g_file.path = path;
    g_file.data = static_cast<const BYTE*>(data);
    g_file.size = size;
}

HANDLE GetProcessHeap()
{
    return reinterpret_cast<HANDLE>(1);
}

void* HeapAlloc(HANDLE, DWORD flags, SIZE_T size)
{
    // Like the process heap, a zero-size request gives a (unique) block.
    void* block = malloc(size != 0 ? size : 1);
    if (block != nullptr && (flags & HEAP_ZERO_MEMORY)) {
        memset(block, 0, size);
    }
    return block;
}

BOOL HeapFree(HANDLE, DWORD, void* block)
{
    free(block);
    return TRUE;
}

HANDLE CreateFileA(const char* path, DWORD, DWORD, void*, DWORD, DWORD, HANDLE)
{
    if (path == nullptr || g_file.path != path) {
        g_lastError = 2;
        return INVALID_HANDLE_VALUE;
    }
    return new OpenFile{g_file.data, g_file.size, 0};
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void*)
{
    OpenFile* f = static_cast<OpenFile*>(file);
    size_t left = f->position < f->size ? f->size - static_cast<size_t>(f->position) : 0;
    size_t n = toRead < left ? toRead : left;
    if (n != 0) {
        memcpy(buffer, f->data + f->position, n);
    }
    f->position += n;
    *read = static_cast<DWORD>(n);
    return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD)
{
    OpenFile* f = static_cast<OpenFile*>(file);
    int64_t target = distanceHigh != nullptr
                         ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                                static_cast<uint32_t>(distance))
                         : distance;
    if (target < 0) {
        g_lastError = 131;
        return INVALID_SET_FILE_POINTER;
    }
    f->position = static_cast<UINT64>(target);
    if (distanceHigh != nullptr) {
        *distanceHigh = static_cast<LONG>(f->position >> 32);
    }
    return static_cast<DWORD>(f->position);
}

DWORD GetFileSize(HANDLE file, DWORD* high)
{
    OpenFile* f = static_cast<OpenFile*>(file);
    if (high != nullptr) {
        *high = static_cast<DWORD>(static_cast<UINT64>(f->size) >> 32);
    }
    return static_cast<DWORD>(f->size);
}

BOOL FindClose(HANDLE)
{
    return TRUE; // nothing fuzzed enumerates folders
}

BOOL CloseHandle(HANDLE handle)
{
    delete static_cast<OpenFile*>(handle);
    return TRUE;
}

DWORD GetLastError()
{
    return g_lastError;
}

void SetLastError(DWORD error)
{
    g_lastError = error;
}

int lstrcmpiA(const char* a, const char* b)
{
    return strcasecmp(a, b);
}

void InitializeCriticalSection(CRITICAL_SECTION* cs)
{
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_t* m = new pthread_mutex_t;
    pthread_mutex_init(m, &attr);
    cs->mutex = m;
}

void EnterCriticalSection(CRITICAL_SECTION* cs)
{
    pthread_mutex_lock(static_cast<pthread_mutex_t*>(cs->mutex));
}

void LeaveCriticalSection(CRITICAL_SECTION* cs)
{
    pthread_mutex_unlock(static_cast<pthread_mutex_t*>(cs->mutex));
}

void DeleteCriticalSection(CRITICAL_SECTION* cs)
{
    pthread_mutex_destroy(static_cast<pthread_mutex_t*>(cs->mutex));
    delete static_cast<pthread_mutex_t*>(cs->mutex);
}

void Sleep(DWORD ms)
{
    usleep(ms * 1000);
}

DWORD GetCurrentThreadId()
{
    return static_cast<DWORD>(reinterpret_cast<uintptr_t>(pthread_self()));
}

LONG InterlockedCompareExchange(volatile LONG* target, LONG exchange, LONG comparand)
{
    return __sync_val_compare_and_swap(target, comparand, exchange);
}

LONG InterlockedExchange(volatile LONG* target, LONG value)
{
    return __sync_lock_test_and_set(target, value);
}

LONG InterlockedIncrement(volatile LONG* target)
{
    return __sync_add_and_fetch(target, 1);
}

LONG InterlockedDecrement(volatile LONG* target)
{
    return __sync_sub_and_fetch(target, 1);
}

char* lstrcpynA(char* dest, const char* src, int size)
{
    if (size <= 0) {
        return dest;
    }
    int i = 0;
    for (; i < size - 1 && src[i] != '\0'; i++) {
        dest[i] = src[i];
    }
    dest[i] = '\0';
    return dest;
}

LONG RegCloseKey(HKEY)
{
    return ERROR_SUCCESS;
}

void CoTaskMemFree(void* block)
{
    free(block);
}

LONG RegOpenKeyExA(HKEY, const char*, DWORD, REGSAM, HKEY* result)
{
    *result = nullptr;
    return ERROR_FILE_NOT_FOUND;
}

LONG RegCreateKeyExA(HKEY, const char*, DWORD, char*, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, HKEY* result, DWORD*)
{
    *result = nullptr;
    return ERROR_FILE_NOT_FOUND;
}

LONG RegQueryValueExA(HKEY, const char*, DWORD*, DWORD*, BYTE*, DWORD*)
{
    return ERROR_FILE_NOT_FOUND;
}

LONG RegSetValueExA(HKEY, const char*, DWORD, DWORD, const BYTE*, DWORD)
{
    return ERROR_FILE_NOT_FOUND;
}

LONG RegEnumKeyExA(HKEY, DWORD, char*, DWORD*, DWORD*, char*, DWORD*, void*)
{
    return ERROR_NO_MORE_ITEMS;
}

LONG RegEnumValueA(HKEY, DWORD, char*, DWORD*, DWORD*, DWORD*, BYTE*, DWORD*)
{
    return ERROR_NO_MORE_ITEMS;
}

LONG RegDeleteKeyA(HKEY, const char*)
{
    return ERROR_FILE_NOT_FOUND;
}

LONG RegDeleteValueA(HKEY, const char*)
{
    return ERROR_FILE_NOT_FOUND;
}

LONG RegFlushKey(HKEY)
{
    return ERROR_SUCCESS;
}

UINT GetWindowsDirectoryA(char* buffer, UINT size)
{
    return static_cast<UINT>(strlen(lstrcpynA(buffer, "C:\\WINDOWS", static_cast<int>(size))));
}

UINT GetSystemDirectoryA(char* buffer, UINT size)
{
    return static_cast<UINT>(strlen(lstrcpynA(buffer, "C:\\WINDOWS\\system32", static_cast<int>(size))));
}

// As Win32's: a pointer whose high bits are zero carries one character and gets it back upper-cased.
char* CharUpperA(char* text)
{
    UINT_PTR single = reinterpret_cast<UINT_PTR>(text);
    if (single <= 0xFFFF) {
        return reinterpret_cast<char*>(static_cast<UINT_PTR>(toupper(static_cast<int>(single & 0xFF))));
    }
    for (char* p = text; *p != '\0'; p++) {
        *p = static_cast<char>(toupper(static_cast<unsigned char>(*p)));
    }
    return text;
}

int WideCharToMultiByte(UINT, DWORD, const wchar_t* text, int length, char* out, int size, const char*, int*)
{
    int n = length < 0 ? static_cast<int>(wcslen(text)) + 1 : length;
    if (out == nullptr || size == 0) {
        return n;
    }
    if (size < n) {
        return 0;
    }
    for (int i = 0; i < n; i++) {
        out[i] = text[i] < 0x100 ? static_cast<char>(text[i]) : '?';
    }
    return n;
}

int MultiByteToWideChar(UINT, DWORD, const char* text, int length, wchar_t* out, int size)
{
    int n = length < 0 ? static_cast<int>(strlen(text)) + 1 : length;
    if (out == nullptr || size == 0) {
        return n;
    }
    if (size < n) {
        return 0;
    }
    for (int i = 0; i < n; i++) {
        out[i] = static_cast<unsigned char>(text[i]);
    }
    return n;
}

int CompareStringA(DWORD, DWORD, const char* a, int, const char* b, int)
{
    int r = strcasecmp(a, b);
    return r < 0 ? CSTR_LESS_THAN : r > 0 ? CSTR_GREATER_THAN : CSTR_EQUAL;
}

namespace {
std::string g_written;
}

BOOL WriteFile(HANDLE, const void* data, DWORD toWrite, DWORD* written, void*)
{
    g_written.append(static_cast<const char*>(data), toWrite);
    if (written != nullptr) {
        *written = toWrite;
    }
    return TRUE;
}

const char* ShimWritten(size_t* size)
{
    *size = g_written.size();
    return g_written.data();
}

void ShimClearWritten()
{
    g_written.clear();
}

DWORD FormatMessageA(DWORD, const void*, DWORD, DWORD, char*, DWORD, void*)
{
    return 0;
}
