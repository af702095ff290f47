#pragma once
// The system's own bookkeeping that an uninstall touches: use counts kept in registry values (the
// shared DLL counts among them), the product's Uninstall key, removal of files at the next restart,
// and the probe of the user's right to change machine-wide settings.
#include <windows.h>

// Reads and steps a count kept in a registry value of type REG_SZ, REG_BINARY, REG_DWORD or
// REG_DWORD_BIG_ENDIAN, writing it back in the value's own type. With a null key the system's shared
// DLL counts are used. delta > 0 adds one, < 0 takes one (never below 0), 0 only reads; with
// deleteAtZero a count that reaches 0 deletes the value. A missing value raised is created as
// REG_DWORD 1. Returns the count after the call, at most COUNT_LIMIT. Counts are unsigned: a stored count
// beyond the limit (which no real sharing reaches) reads as the limit and is stepped as it stands.
UINT32 AdjustCounterValue(HKEY key, const char* valueName, int delta, int deleteAtZero);

const UINT32 COUNT_LIMIT = 0x7FFFFFFF;

// Brings a stored count (read as AdjustCounterValue reads it) to count: one step when it is one away,
// else one write of count in the value's own type (REG_DWORD for a new value); with deleteAtZero, 0
// deletes the value. Never a walk of steps, whatever the stored value says. The count after the call.
UINT32 BringCounterValue(HKEY key, const char* valueName, UINT32 count, int deleteAtZero);

// Deletes the product's key under the system's Uninstall key (through the deletion gate: one key
// directly below "Uninstall", never a path); 1 when it was deleted.
int DeleteUninstallKey(const char* name);

// Renames existingName to newName, or deletes it when newName is null, at the next restart. 1 when
// the request was recorded; a deletion goes through the deletion gate, which refuses paths through links.
int ScheduleRebootRename(const char* newName, const char* existingName);

// Takes back the last request to delete path at the next restart (a normalised full path, as the gate
// scheduled it), when the list holds one: for a deletion this run arranged as a safety net and then made
// itself. Other requests, and earlier ones for the same path, stay. 1 when one was taken back.
int WithdrawRestartDeletion(const char* path);

// The same request for the Windows family of systems: an entry in the "Rename" section of the given
// WININIT.INI. 0 without touching the file when the section has no room left for the entry.
int ScheduleRenameInIni(const char* iniPath, const char* newName, const char* existingName);

// 1 when the machine-wide CurrentVersion key opens for writing.
int CanOpenCurrentVersionKey();
