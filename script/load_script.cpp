#include "script/load_script.h"

#include "data/discovery.h"
#include "script/script_parser.h"
#include "support/memory.h"
#include "support/strings.h"

int LoadScript(const UninstallSession* session, DatabaseHandle db, const char* path)
{
    if (session == nullptr || db == 0 || path == nullptr || path[0] == '\0') {
        return 0;
    }
    char* text = nullptr;
    UINT32 length = 0;
    int found;
    // The session's own configuration file is looked up by name in the configuration's directory.
    if (session->configPath != nullptr && session->configFile != nullptr &&
        StrCompareNoCase(session->configFile, path) == 0) {
        found = FindConfiguration(session->configPath, path, FIND_STRUCTURE | FIND_HEADER_ONLY, session->version,
                                  nullptr, nullptr, &text, &length);
    } else {
        found = FindConfiguration(path, nullptr, FIND_STRUCTURE | FIND_HEADER_ONLY, session->version, nullptr, nullptr,
                                  &text, &length);
    }
    int result = found == FIND_OK ? ParseScript(db, text, length) : 0;
    MemFree(text);
    return result;
}
