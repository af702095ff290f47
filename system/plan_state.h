#pragma once
// What a removal plan found would go, so that every later judgement sees the machine as the removal
// would have left it by then: a folder holds nothing once all that is in it would go, a key likewise,
// a count reads as the plan lowered it. Files and folders are named by their upper-case normalised
// paths, keys by the form the gate compares them in.
#include <windows.h>

#include <string>

void PlanFileGoes(const std::string& upperPath);
// Whether the file or folder, or a folder above it, would be gone.
bool PlanFileGone(const std::string& upperPath);

// A file the preparation found in use.
void PlanFileInUse(const std::string& upperPath);
bool PlanFileWasInUse(const std::string& upperPath);

void PlanKeyGoes(const std::string& keyPath);
// Whether the key, or a key above it, would be gone.
bool PlanKeyGone(const std::string& keyPath);
void PlanValueGoes(const std::string& keyPath, const char* valueName);
// Whether the value, or its key, would be gone.
bool PlanValueGone(const std::string& keyPath, const char* valueName);

// A count the plan would have written: true with *count when there is one.
bool PlanCountOf(const std::string& keyPath, const char* valueName, UINT32* count);
void PlanCountBecomes(const std::string& keyPath, const char* valueName, UINT32 count);

// The full path of the key a handle reached, in the form keys are compared in; empty for a root's own
// handle or when the system does not tell.
std::string PlanKeyPathOf(HKEY key);
