#pragma once
// The registry, on key handles and text paths (deletions go through the deletion gate of system/). Paths are relative
// to the key they are opened from; one leading backslash is skipped and, when opening, one trailing backslash dropped.
// The four predefined roots are used by value and never closed.
#include <windows.h>

HKEY CreateRegKey(HKEY parent, const char* path);    // created or opened, KEY_ALL_ACCESS; 0 on failure
HKEY OpenRegKeyWrite(HKEY parent, const char* path); // KEY_ALL_ACCESS; 0 on failure
HKEY OpenRegKeyRead(HKEY parent, const char* path);  // KEY_READ; 0 on failure
int CloseRegKey(HKEY key);                           // 1 when closed (a predefined root counts as closed)
int CountRegSubKeys(HKEY key);                       // -1 for no key or a failed first enumeration
int CountRegValues(HKEY key);

int SetRegString(HKEY key, const char* valueName, const char* text); // REG_SZ; null text writes ""
LONG FlushRegistry();

bool IsPredefinedRegKey(HKEY key);
