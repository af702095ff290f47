#pragma once
// The registry seen through objects: a key or item object becomes a root key (its nearest built-in
// ancestor's) and a path below it. Results are Win32 error codes (0 = success); 2 for a wrong or
// missing object, 3 when no root key can be found. keyOut and mustCloseOut are filled only on success
// and only when both are given (the key is then the caller's, to be closed when mustClose is 1);
// otherwise any key opened is closed again.
#include "script/object_database.h"

LONG OpenObjectKey(ObjectId keyObject, const char* subPath, const char* valueName, REGSAM access, DWORD* type,
                   BYTE* data, DWORD* size, HKEY* keyOut, int* mustCloseOut);
LONG OpenObjectKeyRead(ObjectId keyObject, const char* subPath, const char* valueName, DWORD* type, BYTE* data,
                       DWORD* size, HKEY* keyOut, int* mustCloseOut);
LONG QueryItemValue(ObjectId itemObject, REGSAM access, DWORD* type, BYTE* data, DWORD* size, HKEY* keyOut,
                    int* mustCloseOut);
LONG QueryItemValueRead(ObjectId itemObject, DWORD* type, BYTE* data, DWORD* size, HKEY* keyOut, int* mustCloseOut);

// The item's value as a new heap text (REG_SZ, or REG_EXPAND_SZ unexpanded), or null.
char* ReadItemString(ObjectId itemObject);
