#pragma once
// The program's own message box: an in-memory dialog template with the box's parameters behind it,
// laid out, drawn and answered by MessageBoxProc.
#include <windows.h>

#include "draw/font_object.h"

struct MessageBoxParams {
    FontObject* bodyFont;   // message text and unfocused button labels
    FontObject* buttonFont; // the focused button's label
    const char* text;
    const char* caption;
    UINT32 style;        // MB_ bits; bit 31 is the F1 latch
    const char** labels; // one per button, Help last
    HICON icon;          // cleared when it does not fit
    INT32 textLeft;      // written by the layout
    INT32 textTop;
    INT32 defaultButton; // control id, -1 for none
    HWND* windowOut;     // receives the box's window, or null
};

// Shows a modal box; the result is the button code (IDOK, IDYES, ...) or -1 when it could not be shown.
// labels: overrides of the built-in labels, ending with a null (may be null); fonts may be null (the
// system's message font is then used); windowOut receives the box's window while it is open.
int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT32 style, HICON icon, const char** labels,
                   FontObject* bodyFont, FontObject* buttonFont, HWND* windowOut);

INT_PTR CALLBACK MessageBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The parameters behind a template whose address WM_INITDIALOG brings.
MessageBoxParams* MessageBoxParamsOf(LPARAM templateAddress);

const UINT_PTR MESSAGE_BOX_HELP_TIMER = 110;
const int MESSAGE_BOX_HELP_ID = 9;

// The template's window style for a box style (MB_SYSTEMMODAL adds foreground and system-modal).
DWORD MessageBoxTemplateStyle(UINT32 style);
