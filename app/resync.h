#pragma once
// The maintenance mode: rebuilds the shared reference counts of every product that a registry key
// lists. kinds holds SESSION_DLL_SHARING and/or SESSION_REG_SHARING.
#include <windows.h>

int ResyncSharing(const char* keyPath, UINT32 kinds);
