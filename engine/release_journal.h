#pragma once
// A record of the shared objects whose counts this product's removal has lowered already, kept in the
// product's own registry key while the removal runs. Counts are lowered in the components pass, long
// before the last files and keys go: a removal that is interrupted (the process killed, the machine
// turned off) and started again would otherwise lower them a second time and take another product's
// shared file along. A removal that completes deletes the record. Without an open record every count
// is lowered as usual.
#include <windows.h>

// Opens the record in the key at keyPath ("HKEY_LOCAL_MACHINE\SOFTWARE\...", the key of the product's
// "REMOVE" value); false when the key cannot be opened for writing.
bool ReleaseJournalOpen(const char* keyPath);

// Closes the record; with removalComplete it is deleted first.
void ReleaseJournalClose(bool removalComplete);

// The removal is about to delete the key at keyPath: when that is the record's key and the record is
// all it still holds, the record goes first, so that it never keeps the product's key (and with it its
// parents) from going. By then every count has been lowered, and a key that holds nothing else holds no
// "REMOVE" value either: no later run can find the product to lower them again.
void ReleaseJournalYield(const char* keyPath);

// Whether an entry is recorded, and recording one (written through at once).
bool ReleaseJournalHas(const char* entry);
void ReleaseJournalAdd(const char* entry);
