#pragma once
// Shared by the deletion gate and the protected places; not for other modules: paths as the system
// sees them.
#include "system/deletion_gate.h"

#include <string>

// The path normalised as the system would (separators, "." and "..", trailing dots and spaces) with its
// 8.3 aliases expanded, without a trailing backslash (a root keeps its own: "C:\", "\\server\share\").
// False, with *verdict telling why, for a path that is not fully qualified or names a device.
bool NormalisePath(const char* path, std::string* out, GateVerdict* verdict);

// The path in upper case, for comparisons that ignore case.
std::string UpperPath(const std::string& path);

// The path the system reached when it opened handle, into *reached: with its drive or share
// ("C:\Dir\Name"), or without ("\Dir\Name"). False when the system cannot tell (older systems).
bool ReachedPath(HANDLE handle, bool withVolume, std::string* reached);

// Whether the handle's object was reached by path, with no link on the way: the path the system
// reached is the normalised path asked for.
bool ReachedByPath(HANDLE handle, const std::string& path);
