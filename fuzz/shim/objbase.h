#pragma once
// Test-only: the COM calls the fuzzed modules make are in windows.h of the stand-in.
#include <windows.h>
