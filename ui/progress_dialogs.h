#pragma once
// The two modeless progress dialogs: the "Fixing UP" dialog of phase 1 and the removal checklist of
// phase 2, driven by WM_PROGRESS messages that the executor's callback sends.
#include "ui/progress_message.h"

#include <windows.h>

// Open the dialogs (null when the layer is not started or the dialog cannot be made).
HWND OpenRemovalDialog(HWND owner);
HWND OpenFixupDialog(HWND owner);

// A name and a position offered from another thread without waiting for the dialog: the newest of
// each is shown within 40 ms, and always before any WM_PROGRESS command that follows. False when the
// dialog is not the one opened last (send PROGRESS_POSITION and PROGRESS_NAME instead).
bool ProgressOffer(HWND dialog, LPARAM position, const char* name);

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Spreads '@'-separated labels over the caption and the controls from 1035 on.
void SetDialogLabels(HWND dialog, const char* labels);
