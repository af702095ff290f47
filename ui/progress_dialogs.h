#pragma once
// The two modeless progress dialogs: the "Fixing UP" dialog of phase 1 and the removal checklist of
// phase 2, driven by WM_PROGRESS messages that the executor's callback sends.
#include <windows.h>

const UINT WM_PROGRESS = 0x7FF0;

// WM_PROGRESS commands (wParam); lParam as noted.
const WPARAM PROGRESS_RANGE = 0x1;        // lParam: range, high word = maximum
const WPARAM PROGRESS_NAME = 0x2;         // lParam: a name for the status line
const WPARAM PROGRESS_CLOSE = 0x4;        // the dialog goes
const WPARAM PROGRESS_STEP_SIZE = 0x10;   // lParam: step size
const WPARAM PROGRESS_POSITION = 0x20;    // lParam: position
const WPARAM PROGRESS_CHECK = 0x1000000;  // lParam: step 0 to 4, its check mark shows
const WPARAM PROGRESS_STEP = 0x2000000;   // lParam: step 0 to 4, its label goes to the status line

// Open the dialogs (null when the layer is not started or the dialog cannot be made).
HWND OpenRemovalDialog(HWND owner);
HWND OpenFixupDialog(HWND owner);

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Spreads '@'-separated labels over the caption and the controls from 1035 on.
void SetDialogLabels(HWND dialog, const char* labels);
