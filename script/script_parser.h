#pragma once
// The install script: the section "SSCRIPT" of a configuration text, made of object entries (a type
// word, '=', a name, switches, ';') and "_flags" entries. ParseScript applies every entry, in text
// order, to a database through its setters.
#include "script/object_database.h"

// 1 when at least one object entry created or declared again an object, else 0 (no text, no
// "SSCRIPT" section, or a database that cannot be locked). The database is held for the whole parse.
int ParseScript(DatabaseHandle db, const char* text, UINT32 size);
