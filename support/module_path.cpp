#include "support/module_path.h"

#include "support/guards.h"

#include <string.h>

namespace {

const DWORD PATH_GROWTH = MAX_PATH; // the module path's buffer grows by this much at a time
const size_t TEMP_NAME_ROOM = 40;   // prefix, unique number, ".tmp" and the terminator

} // namespace

char* GetModulePath()
{
    DWORD size = PATH_GROWTH;
    HeapText path(static_cast<char*>(MemAlloc(size)));
    while (path) {
        DWORD n = GetModuleFileNameA(nullptr, path.get(), size);
        if (n == 0) {
            return nullptr;
        }
        if (n + 1 < size) {
            return path.release();
        }
        // Cut short: try again with more room.
        size += PATH_GROWTH;
        path.reset(static_cast<char*>(MemAlloc(size)));
    }
    return nullptr;
}

char* GetTempDirectory()
{
    char local[MAX_PATH] = {};
    DWORD n = GetTempPathA(sizeof(local), local);
    if (n < 1) {
        return nullptr;
    }
    HeapText directory(static_cast<char*>(MemAlloc((static_cast<size_t>(n) + 8) & ~static_cast<size_t>(3))));
    if (!directory) {
        return nullptr;
    }
    if (n + 1 < sizeof(local)) {
        memcpy(directory.get(), local, n + 1);
    } else {
        DWORD again = GetTempPathA(n + 1, directory.get());
        if (again == 0 || again > n) {
            return nullptr;
        }
    }
    size_t length = strlen(directory.get());
    if (length == 0 || directory.get()[length - 1] != '\\') {
        directory.get()[length] = '\\'; // the block has room for one more character and the terminator
        directory.get()[length + 1] = '\0';
    }
    return directory.release();
}

char* MakeTempFile(const char* directory, const char* prefix)
{
    if (directory == nullptr) {
        return nullptr;
    }
    size_t size = (strlen(directory) + TEMP_NAME_ROOM) & ~static_cast<size_t>(3);
    if (size < MAX_PATH) {
        size = MAX_PATH;
    }
    HeapText path(static_cast<char*>(MemAlloc(size)));
    if (!path || GetTempFileNameA(directory, prefix != nullptr ? prefix : "", 0, path.get()) == 0) {
        return nullptr;
    }
    return path.release();
}
