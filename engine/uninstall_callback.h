#pragma once
// The per-object callback every database of the uninstaller is made with: the executor reports each
// pass and object through it, and it drives the progress dialog.
#include "script/object_database.h"

int WINAPI UninstallCallback(UINT_PTR context, UINT_PTR object, UINT_PTR value, UINT32 event, UINT_PTR extra);
