#pragma once
// The places an uninstall never removes, whatever a product's script says: drive and share roots; the
// Windows folder and what the system keeps in it (System32, SysWOW64, WinSxS, Fonts, ... as whole
// trees); both program-files folders and their common files; the shared data folder (ProgramData) and
// its own folders; the Users folder, every profile (the ProfileList's and the current user's) and the
// known folders of each (Desktop, Documents, Downloads, the AppData roots, the Start menu, its
// Programs and Startup folders); the temporary folder. A place that is reached through a link counts
// under the path the link leads to as well. A product's own folders below them stay removable.
//
// The places are found once per process. Paths are compared as the gate hands them over: normalised
// long paths, without a trailing backslash; letter case does not matter.
#include <windows.h>

// A folder that may not be deleted: it is a protected place, holds one, or lies in a protected tree.
bool PlaceIsProtected(const char* folder);

// A folder whose files go only when the script names them: it is a protected place or lies in a
// protected tree (wildcard matches and walks leave its files alone).
bool PlaceKeepsFoundFiles(const char* folder);

// A file the system keeps in a protected place or tree, by its name: the files of "drivers\etc"
// (hosts, ...) and of the registry's hive folder, the Windows folder's ini files, boot, paging and
// hive files. Such a file stays even when a script names it.
bool PlaceIsSystemFile(const char* file);

// The drive or share root of a normalised path ("C:", "\\server\share"): its length, or 0.
size_t PlaceRootLength(const char* path);
