#pragma once
// The dialog layer's entries: the message box with captions from the text table, the privilege test,
// window placement and the two progress dialogs.
#include <windows.h>

// Shows the program's message box with the button captions of the text table.
int UiMessageBox(HWND owner, const char* text, const char* caption, UINT32 style);

// 1 when the user may change machine-wide settings; with showMessage a refusal is shown.
int CheckPrivileges(HWND window, int showMessage);

// Centres the window on its owner (or the screen, then topmost): the result of SetWindowPos.
BOOL PositionWindow(HWND window, int placement);
