#pragma once
// The process-wide start-up counts: the engine's own (which owns the registry of object databases and
// the database lock) and the per-thread COM initialisation.
#include <windows.h>

#include "support/locked_list.h"

// The first call creates the database registry, joins COM for the calling thread and makes the
// database lock; later calls count. 1 on success, 0 on failure (nothing half-made is left).
int EngineStartup();

// Undoes one EngineStartup; 1 when this call ended the last one (the registry and the lock are gone).
int EngineShutdown();

// The list of named object databases and the lock that guards every database; 0 / null while the
// engine is not started.
ListHandle EngineDatabaseRegistry();
CRITICAL_SECTION* EngineDatabaseLock();

// Brackets a thread's use of COM: the first unreleased acquire of a thread calls CoInitialize, the
// matching last release CoUninitialize. ComRelease returns 0 when the thread holds no use.
int ComAcquire();
int ComRelease();
