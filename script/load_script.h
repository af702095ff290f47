#pragma once
// Loading the product's script: the structure configuration is fetched (as a plain file or from its
// container, which must hold the session's version) and parsed into a database.
#include "app/session.h"
#include "script/object_database.h"

// 1 when the script was found and made at least one object.
int LoadScript(const UninstallSession* session, DatabaseHandle db, const char* path);
