#pragma once
// The places an uninstall never removes, whatever a product's script says: drive and share roots, the
// Windows and system folders, the program-files folders and their common files, the user's profile,
// the temporary folder, and the Start menu, its Programs and Startup folders and the desktop, common
// and per user.
#include <windows.h>

// True when path is one of those places (without regard to case or a trailing backslash). The shell
// layer refuses to delete such a path, also inside a folder it deletes recursively.
bool ShellPathIsProtected(const char* path);

// True when removing path would take one of those places with it: it is one, or it holds one.
bool PathHoldsSystemLocation(const char* path);
