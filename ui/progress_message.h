#pragma once
// The private message through which the executor's callback drives the progress dialogs, from the
// worker thread with SendMessageA: the dialogs carry the commands out on the thread that owns them.
#include <windows.h>

const UINT WM_PROGRESS = 0x7FF0;

// WM_PROGRESS commands (wParam); lParam as noted.
const WPARAM PROGRESS_RANGE = 0x1;       // lParam: range, high word = maximum
const WPARAM PROGRESS_NAME = 0x2;        // lParam: a name for the status line
const WPARAM PROGRESS_CLOSE = 0x4;       // the dialog goes
const WPARAM PROGRESS_STEP_SIZE = 0x10;  // lParam: step size
const WPARAM PROGRESS_POSITION = 0x20;   // lParam: position
const WPARAM PROGRESS_CHECK = 0x1000000; // lParam: step 0 to 4, its check mark shows
const WPARAM PROGRESS_STEP = 0x2000000;  // lParam: step 0 to 4, its label goes to the status line

// The checklist steps: 0 "Unregister components" to 4 "Remove registry keys".
const LPARAM PROGRESS_LAST_STEP = 4;
