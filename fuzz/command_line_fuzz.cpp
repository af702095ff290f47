// Reads the input as the program's command line: the parent's process id, quoted and plain paths,
// "KILL", "QUIET", "/LOG" with its value and the sharing words. What it keeps is text of the line,
// and the flags agree with what was kept.
#include "app/command_line.h"
#include "support/memory.h"

#include <stdlib.h>
#include <string.h>

#include <initializer_list>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The program's command line is a C string: an exact-size copy with its terminator.
    char* line = static_cast<char*>(malloc(size + 1));
    memcpy(line, data, size);
    line[size] = '\0';
    UninstallSession* session = static_cast<UninstallSession*>(calloc(1, sizeof(UninstallSession)));
    char* path = nullptr;
    SessionReadCommandLine(session, line, &path);
    for (const char* kept : {path, session->logPath, session->sharingArgument}) {
        if (kept != nullptr && strlen(kept) > size) {
            abort();
        }
    }
    bool sharing = (session->flags & SESSION_SHARING) != 0;
    if ((session->sharingArgument != nullptr && !sharing) ||
        ((session->flags & SESSION_SHARING_PATH) != 0) != (session->sharingArgument != nullptr) ||
        (!(session->flags & SESSION_PHASE_TWO) && session->parentProcessId != 0)) {
        abort();
    }
    MemFree(path);
    MemFree(session->logPath);
    MemFree(session->sharingArgument);
    free(session);
    free(line);
    return 0;
}
