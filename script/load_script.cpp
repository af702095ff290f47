#include "script/load_script.h"

#include "data/discovery.h"
#include "script/script_parser.h"
#include "support/guards.h"
#include "support/strings.h"

int LoadScript(const ScriptLocation* location, DatabaseHandle db, const char* path)
{
    if (location == nullptr || db == 0 || path == nullptr || path[0] == '\0') {
        return 0;
    }
    HeapText text;
    UINT32 length = 0;
    const UINT32 flags = FIND_STRUCTURE | FIND_HEADER_ONLY;
    int found;
    // The session's own configuration file is looked up by name in the configuration's directory.
    if (location->configPath != nullptr && location->configFile != nullptr &&
        StrCompareNoCase(location->configFile, path) == 0) {
        found = FindConfiguration(location->configPath, path, flags, location->version, nullptr, nullptr, text.out(),
                                  &length);
    } else {
        found = FindConfiguration(path, nullptr, flags, location->version, nullptr, nullptr, text.out(), &length);
    }
    return found == FIND_OK ? ParseScript(db, text.get(), length) : 0;
}
