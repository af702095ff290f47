#pragma once
// The registry keys an uninstall never deletes, empties or recurses into, whatever a product's script
// says: the hive roots and each user's root; everything of the machine's hive outside SOFTWARE
// (SYSTEM, SAM, SECURITY, HARDWARE, ...) and the current configuration; the software keys themselves
// (HKLM\SOFTWARE, its WOW6432Node, HKCU\Software) and what the system keeps there (Microsoft, Classes,
// Policies, Microsoft\Windows\CurrentVersion and its Uninstall, Run, SharedDLLs, ... keys, Windows NT's
// CurrentVersion, ...); the classes roots (HKCR, SOFTWARE\Classes of either hive) and the system's
// classes there (CLSID, Interface, TypeLib, AppID, "*", Directory, Folder, the common file types);
// each user's own system keys (Control Panel, Environment, Console, ...). Keys below them that belong
// to a product stay removable.
#include <windows.h>

#include <string>

// The key path normalised: the root by its long name ("HKEY_LOCAL_MACHINE"; "HKLM" and the other short
// forms are taken), the subkeys without empty parts or a trailing backslash. False for a path without a
// known root.
bool NormaliseKeyPath(const char* keyPath, std::string* out);

// Whether a normalised key path names a protected key (or one that holds one).
bool KeyIsProtected(const std::string& normalisedKeyPath);
