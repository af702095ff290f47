#pragma once
// The per-object callback every database of the uninstaller is made with: it turns the executor's
// events into messages to the progress dialog, hands the collected component lists to the
// unregistration, tells the user about a file in use, and answers "_QUERY" objects.
#include "script/object_database.h"

// The context of every call is the uninstall session (an UninstallSession*) that the executor or the
// preparation was given; without one the callback stops whatever asks.
int WINAPI UninstallCallback(UINT_PTR context, UINT_PTR subject, UINT_PTR kind, UINT32 event, UINT_PTR code);

// The file-in-use message: the product's text with its first "%s" replaced by the path ("unknown"
// without one) and each "%%" by a percent sign; every other '%' stays as written. A new heap text, or
// null.
char* FormatLockedText(const char* lockedText, const char* path);
