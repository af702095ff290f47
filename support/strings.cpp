#include "support/strings.h"

#include "support/memory.h"

#include <string.h>

char* StrUpper(char* text)
{
    if (text != nullptr) {
        CharUpperA(text);
    }
    return text;
}

int StrCompareNoCase(const char* a, const char* b)
{
    if (a == nullptr) {
        return b == nullptr ? 0 : -1;
    }
    if (b == nullptr) {
        return 1;
    }
    int r =
        CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE | NORM_IGNOREKANATYPE | NORM_IGNOREWIDTH, a, -1, b, -1);
    switch (r) {
    case CSTR_LESS_THAN:
        return -1;
    case CSTR_GREATER_THAN:
        return 1;
    default:
        return 0; // equal, or the comparison itself failed
    }
}

namespace {

char UpperChar(char c)
{
    LPSTR single = reinterpret_cast<LPSTR>(static_cast<UINT_PTR>(static_cast<unsigned char>(c)));
    return static_cast<char>(reinterpret_cast<UINT_PTR>(CharUpperA(single)));
}

// '*' and '?' over the whole name, without regard to case; a star gives back what it took when the rest
// does not match.
bool Glob(const char* name, const char* mask, size_t maskLength)
{
    const char* end = mask + maskLength;
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name != '\0') {
        if (mask < end && *mask == '*') {
            star = mask++;
            resume = name;
        } else if (mask < end && (*mask == '?' || UpperChar(*mask) == UpperChar(*name))) {
            mask++;
            name++;
        } else if (star != nullptr) {
            mask = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (mask < end && *mask == '*') {
        mask++;
    }
    return mask == end;
}

} // namespace

bool NameMatchesMask(const char* name, const char* mask)
{
    if (name == nullptr || mask == nullptr) {
        return false;
    }
    size_t n = strlen(mask);
    bool noExtension = strchr(name, '.') == nullptr;
    if (strcmp(mask, "*.*") == 0) {
        return true;
    }
    if (n >= 2 && mask[n - 2] == '.' && mask[n - 1] == '*') {
        return Glob(name, mask, n) || (noExtension && Glob(name, mask, n - 2));
    }
    if (n >= 1 && mask[n - 1] == '.') {
        return noExtension && Glob(name, mask, n - 1);
    }
    return Glob(name, mask, n);
}

bool PathCopyFileName(char* dest, size_t destSize, const char* path)
{
    if (dest == nullptr || destSize == 0) {
        return false;
    }
    dest[0] = '\0';
    if (path == nullptr) {
        return true;
    }
    const char* slash = strrchr(path, '\\');
    const char* name = slash != nullptr ? slash + 1 : path;
    size_t length = strlen(name);
    if (length >= destSize) {
        return false;
    }
    memcpy(dest, name, length + 1);
    return true;
}

bool PathCopyDirectory(char* dest, size_t destSize, const char* path)
{
    if (dest == nullptr || destSize == 0) {
        return false;
    }
    if (path == nullptr) {
        dest[0] = '\0';
        return true;
    }
    const char* slash = strrchr(path, '\\');
    size_t keep = slash != nullptr ? static_cast<size_t>(slash - path) + 1 : 0;
    if (keep >= destSize) {
        dest[0] = '\0';
        return false;
    }
    // Terminate first, then copy backwards, so that dest may be path itself.
    dest[keep] = '\0';
    for (size_t i = keep; i > 0; i--) {
        dest[i - 1] = path[i - 1];
    }
    return true;
}

namespace {

// The UNC root "\\server\share\": copying stops at the second backslash behind the server; a ':'
// on the way fails.
bool CopyUncRoot(char* dest, size_t destSize, const char* path)
{
    size_t o = 2;
    memcpy(dest, "\\\\", 2);
    int separators = 0;
    for (size_t i = 2; path[i] != '\0' && o + 2 < destSize; i++) {
        if (path[i] == ':') {
            return false;
        }
        if (path[i] == '\\' && ++separators == 2) {
            break;
        }
        dest[o++] = path[i];
    }
    if (separators == 0 || o + 2 >= destSize) {
        return false;
    }
    dest[o++] = '\\';
    dest[o] = '\0';
    return true;
}

} // namespace

bool PathCopyRoot(char* dest, size_t destSize, const char* path)
{
    if (dest == nullptr || destSize == 0) {
        return false;
    }
    dest[0] = '\0';
    if (path == nullptr || destSize < 4) {
        return false;
    }
    size_t at = strcspn(path, ":\\");
    if (path[at] == ':' && at > 0 && at + 3 < destSize) {
        memcpy(dest, path, at);
        memcpy(dest + at, ":\\", 3);
        return true;
    }
    if (path[0] == '\\' && path[1] == '\\' && CopyUncRoot(dest, destSize, path)) {
        return true;
    }
    dest[0] = '\0';
    return false;
}

char* PathJoin(const char* first, const char* second, bool dirOfFirst)
{
    if (first == nullptr && second == nullptr) {
        return nullptr;
    }
    size_t firstLength = first != nullptr ? strlen(first) : 0;
    size_t secondLength = second != nullptr ? strlen(second) : 0;
    size_t n = firstLength + secondLength;
    if (n == 0) {
        return nullptr;
    }
    // Room for both parts, one separator and the terminator, rounded to a multiple of four.
    size_t size = (n + 9) & ~static_cast<size_t>(3);
    char* joined = static_cast<char*>(MemAlloc(size));
    if (joined == nullptr) {
        return nullptr;
    }
    size_t length = 0;
    if (first != nullptr) {
        memcpy(joined, first, firstLength + 1);
        if (dirOfFirst) {
            PathCopyDirectory(joined, size, joined);
        }
        length = strlen(joined);
        if (length != 0 && joined[length - 1] != '\\') {
            joined[length++] = '\\';
            joined[length] = '\0';
        }
    }
    if (second == nullptr) {
        return joined;
    }
    if (length != 0) {
        bool endsInSlash = joined[length - 1] == '\\';
        bool startsWithSlash = second[0] == '\\';
        if (endsInSlash && startsWithSlash) {
            joined[--length] = '\0';
        } else if (!endsInSlash && !startsWithSlash) {
            joined[length++] = '\\';
        }
    }
    memcpy(joined + length, second, secondLength + 1);
    return joined;
}

char* MakePathTag(char* dest, const char* path)
{
    if (dest == nullptr) {
        return dest;
    }
    const size_t most = PATH_TAG_SIZE - 1;
    size_t used = 0;
    if (path == nullptr) {
        path = "";
    }
    // The initials: the first character after the start and after every backslash.
    bool takeNext = true;
    for (const char* p = path; *p != '\0'; p++) {
        if (*p == '\\') {
            takeNext = true;
        } else if (takeNext) {
            if (used < most) {
                dest[used++] = *p;
            }
            takeNext = false;
        }
    }
    if (used < most) {
        dest[used++] = '_';
    }
    const char* slash = strrchr(path, '\\');
    for (const char* p = slash != nullptr ? slash + 1 : path; *p != '\0' && used < most; p++) {
        dest[used++] = *p;
    }
    dest[used] = '\0';
    return StrUpper(dest);
}

char* WideToAnsi(const wchar_t* text)
{
    if (text == nullptr) {
        return nullptr;
    }
    int needed = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return nullptr;
    }
    char* out = static_cast<char*>(MemAlloc((static_cast<size_t>(needed) + 8) & ~static_cast<size_t>(3)));
    if (out != nullptr && WideCharToMultiByte(CP_ACP, 0, text, -1, out, needed, nullptr, nullptr) == 0) {
        MemFree(out);
        out = nullptr;
    }
    return out;
}

wchar_t* AnsiToWide(const char* text)
{
    if (text == nullptr) {
        return nullptr;
    }
    int needed = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (needed <= 0) {
        return nullptr;
    }
    wchar_t* out = static_cast<wchar_t*>(MemAlloc((2 * static_cast<size_t>(needed) + 16) & ~static_cast<size_t>(3)));
    if (out != nullptr && MultiByteToWideChar(CP_ACP, 0, text, -1, out, needed) == 0) {
        MemFree(out);
        out = nullptr;
    }
    return out;
}
