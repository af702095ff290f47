#pragma once
// Loading the product's script: the structure configuration is fetched (as a plain file or from its
// container, which must hold the installed version) and parsed into a database.
#include "script/object_database.h"

// Where a product's script is looked up and which version its container must hold. configPath and
// configFile are the session's (the search path and the configuration file found; either may be null);
// version is the installed version (null or empty: any).
struct ScriptLocation {
    const char* configPath;
    const char* configFile;
    const char* version;
};

// 1 when the script at path was found and made at least one object.
int LoadScript(const ScriptLocation* location, DatabaseHandle db, const char* path);
