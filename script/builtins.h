#pragma once
// The built-in objects every database starts with: the special folders, the registry roots, the
// Windows, program-files and system folders, and the product's registry keys and values that the
// script completes. They are the variables that texts refer to.
#include "script/object_database.h"

// Creates the 35 built-in objects in a database that the caller holds; false when one of them could
// not be made (the caller then closes the database).
bool CreateBuiltInObjects(ObjectDatabase* d);

// True for the names of the built-in objects.
bool IsBuiltInObjectName(const char* name);
