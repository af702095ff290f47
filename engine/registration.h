#pragma once
// Component unregistration: the libraries of "_OCX" files take themselves out of the system through
// their "DllUnregisterServer", and the "_UNREGISTER" command lines of files run to their end.
#include "support/locked_list.h"

#include <windows.h>

// Loads each library of the list (object ids) by its full path and calls its "DllUnregisterServer"
// when it has one: 1 when every library loaded and every call returned S_OK. The walk goes on after a
// failure. Only the unregistering direction exists (registering must be 0).
int RegisterServers(ListHandle list, HWND progressWindow, UINT progressMessage, int registering);

// Runs each list object's "_UNREGISTER" command line and waits for it: 1 when every program ran and
// ended with exit code 0. An object without a command line or path ends the walk.
int RunObjectPrograms(ListHandle list, HWND progressWindow, UINT progressMessage, int registering);
