#pragma once
// The maintenance mode: rebuilds the shared reference counts of every product that a registry key
// lists. kinds holds SESSION_DLL_SHARING and/or SESSION_REG_SHARING; the session answers the products'
// "_QUERY" objects.
#include "engine/session.h"

int ResyncSharing(UninstallSession* session, const char* keyPath, UINT32 kinds);
