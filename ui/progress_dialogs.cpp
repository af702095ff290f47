#include "ui/progress_dialogs.h"

#include "support/guards.h"
#include "support/memory.h"
#include "ui/dialog_texts.h"
#include "ui/dialogs.h"
#include "ui/resource.h"

#include <commctrl.h>
#include <string.h>

namespace {

const int STATUS_WIDTH = 260; // status lines are padded with blanks to this many characters

// The executor reports every object it handles, and updating the controls for each of them costs
// more than removing the object: names and positions are taken at once, and shown at most this often
// (always at once when the last showing is older).
const DWORD SHOW_INTERVAL_MS = 40;
const UINT_PTR SHOW_TIMER = 1;
const UINT_PTR MAILBOX_TIMER = 2;

struct ProgressDialogState {
    int statusId;
    char labels[UI_TEXT_SIZE];
    // What is still to be shown: the newest name and position, since the last showing.
    bool namePending, positionPending, timerSet;
    char name[STATUS_WIDTH + 1];
    WPARAM position;
    DWORD lastShown;
};

// The newest name and position offered from another thread for the dialog that holds the mailbox (the
// one opened last): the offering thread does not wait for the dialog, which collects them with a timer.
struct ProgressMailbox {
    CRITICAL_SECTION lock;
    HWND dialog;
    bool namePending, positionPending;
    char name[STATUS_WIDTH + 1];
    LPARAM position;
    ProgressMailbox() : dialog(nullptr), namePending(false), positionPending(false), name(), position(0)
    {
        InitializeCriticalSection(&lock);
    }
};

ProgressMailbox& Mailbox()
{
    static ProgressMailbox mailbox;
    return mailbox;
}

void ClaimMailbox(HWND dialog, bool claim)
{
    ProgressMailbox& m = Mailbox();
    CriticalSectionScope held(&m.lock);
    if (claim) {
        m.dialog = dialog;
        m.namePending = m.positionPending = false;
    } else if (m.dialog == dialog) {
        m.dialog = nullptr;
    }
}

// Moves what the mailbox holds for this dialog into what the dialog is still to show.
void CollectMailbox(HWND dialog, ProgressDialogState* state)
{
    ProgressMailbox& m = Mailbox();
    CriticalSectionScope held(&m.lock);
    if (m.dialog != dialog) {
        return;
    }
    if (m.namePending) {
        memcpy(state->name, m.name, sizeof(state->name));
        state->namePending = true;
    }
    if (m.positionPending) {
        state->position = static_cast<WPARAM>(m.position);
        state->positionPending = true;
    }
    m.namePending = m.positionPending = false;
}

HWND Open(HWND owner, int statusId, int labelSlot, int templateNumber)
{
    HINSTANCE instance = UiInstance();
    if (instance == nullptr) {
        return nullptr;
    }
    ProgressDialogState* state = static_cast<ProgressDialogState*>(MemAlloc(sizeof(ProgressDialogState)));
    if (state == nullptr) {
        return nullptr;
    }
    state->statusId = statusId;
    lstrcpynA(state->labels, UiText(labelSlot), sizeof(state->labels));
    UiLoadCommonControls();
    HWND dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(UiNumberValue(templateNumber)), owner,
                                     ProgressDialogProc, reinterpret_cast<LPARAM>(state));
    if (dialog == nullptr) {
        MemFree(state);
    }
    return dialog;
}

// The status line. It is one line that shortens a path too long for it in its middle (the control's
// path ellipsis), so it is not padded: blanks behind the name would make the name part of a longer
// last path component and push it out of sight.
void SetStatus(HWND dialog, int statusId, const char* text, size_t length)
{
    char line[STATUS_WIDTH * 2 + 2];
    if (length > sizeof(line) - 1) {
        length = sizeof(line) - 1;
    }
    memcpy(line, text, length);
    line[length] = '\0';
    SetDlgItemTextA(dialog, statusId, line);
}

void SetDialogButtons(HWND dialog)
{
    const struct {
        int id;
        int slot;
    } buttons[] = {{IDOK, UI_TEXT_DIALOG_OK}, {IDCANCEL, UI_TEXT_DIALOG_CANCEL}, {IDC_BROWSE, UI_TEXT_DIALOG_BROWSE}};
    for (const auto& b : buttons) {
        if (GetDlgItem(dialog, b.id) != nullptr) {
            SetDlgItemTextA(dialog, b.id, UiText(b.slot));
        }
    }
}

// The status line keeps its text up to and including its first ':', then a blank and the name (at
// most 260 characters of it).
void ShowName(HWND dialog, ProgressDialogState* state, const char* name)
{
    char current[STATUS_WIDTH * 2 + 2] = {};
    GetDlgItemTextA(dialog, state->statusId, current, sizeof(current));
    char* colon = strchr(current, ':');
    size_t keep = colon != nullptr ? static_cast<size_t>(colon - current) + 1 : strlen(current);
    char line[STATUS_WIDTH * 3 + 2];
    memcpy(line, current, keep);
    line[keep] = ' ';
    size_t n = strnlen(name != nullptr ? name : "", STATUS_WIDTH);
    memcpy(line + keep + 1, name != nullptr ? name : "", n);
    SetStatus(dialog, state->statusId, line, keep + 1 + n);
}

// A checklist step: its check mark shows (PROGRESS_CHECK) or its label with a ':' goes to the status
// line (PROGRESS_STEP). Steps other than 0 to 4 are ignored.
void ShowStep(HWND dialog, ProgressDialogState* state, WPARAM command, LPARAM value)
{
    if (value < 0 || value > PROGRESS_LAST_STEP) {
        return;
    }
    int step = static_cast<int>(value);
    if (command == PROGRESS_CHECK) {
        HWND mark = GetDlgItem(dialog, IDC_CHECK_FIRST + step);
        if (mark != nullptr) {
            ShowWindow(mark, SW_SHOWNORMAL);
            InvalidateRect(mark, nullptr, TRUE);
            UpdateWindow(mark);
        }
    } else if (GetDlgItem(dialog, IDC_LABEL_FIRST + step) != nullptr) {
        char label[STATUS_WIDTH + 2] = {};
        GetDlgItemTextA(dialog, IDC_LABEL_FIRST + step, label, STATUS_WIDTH);
        size_t n = strlen(label);
        label[n++] = ':';
        SetStatus(dialog, state->statusId, label, n);
    }
}

// Sends a command to the progress bar when the dialog has one.
void ToBar(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
    if (bar != nullptr) {
        SendMessageA(bar, message, wParam, lParam);
    }
}

// Shows the pending name and position.
void ShowPending(HWND dialog, ProgressDialogState* state)
{
    if (state->timerSet) {
        KillTimer(dialog, SHOW_TIMER);
        state->timerSet = false;
    }
    if (state->positionPending) {
        ToBar(dialog, PBM_SETPOS, state->position, 0);
    }
    if (state->namePending) {
        ShowName(dialog, state, state->name);
    }
    state->positionPending = state->namePending = false;
    state->lastShown = GetTickCount();
}

// Takes a name or a position: shown at once when the last showing is old enough, else by the timer.
void Take(HWND dialog, ProgressDialogState* state, WPARAM command, LPARAM value)
{
    if (command == PROGRESS_POSITION) {
        state->position = static_cast<WPARAM>(value);
        state->positionPending = true;
    } else {
        const char* name = value != 0 ? reinterpret_cast<const char*>(value) : "";
        lstrcpynA(state->name, name, sizeof(state->name));
        state->namePending = true;
    }
    if (GetTickCount() - state->lastShown >= SHOW_INTERVAL_MS) {
        ShowPending(dialog, state);
    } else if (!state->timerSet) {
        state->timerSet = SetTimer(dialog, SHOW_TIMER, SHOW_INTERVAL_MS, nullptr) != 0;
    }
}

LRESULT Progress(HWND dialog, ProgressDialogState* state, WPARAM command, LPARAM value)
{
    if (command == PROGRESS_POSITION || command == PROGRESS_NAME) {
        Take(dialog, state, command, value);
        return 1;
    }
    // Every other command comes after what is pending, offered or sent.
    CollectMailbox(dialog, state);
    ShowPending(dialog, state);
    switch (command) {
    case PROGRESS_RANGE:
        ToBar(dialog, PBM_SETRANGE, 0, value);
        break;
    case PROGRESS_CLOSE:
        ClaimMailbox(dialog, false);
        KillTimer(dialog, MAILBOX_TIMER);
        SetWindowLongPtrA(dialog, DWLP_USER, 0);
        MemFree(state);
        DestroyWindow(dialog);
        break;
    case PROGRESS_STEP_SIZE:
        ToBar(dialog, PBM_SETSTEP, static_cast<WPARAM>(value), 0);
        break;
    case PROGRESS_CHECK:
    case PROGRESS_STEP:
        ShowStep(dialog, state, command, value);
        break;
    default:
        break;
    }
    return 1;
}

} // namespace

bool ProgressOffer(HWND dialog, LPARAM position, const char* name)
{
    ProgressMailbox& m = Mailbox();
    CriticalSectionScope held(&m.lock);
    if (dialog == nullptr || m.dialog != dialog) {
        return false;
    }
    m.position = position;
    m.positionPending = true;
    lstrcpynA(m.name, name != nullptr ? name : "", sizeof(m.name));
    m.namePending = true;
    return true;
}

HWND OpenRemovalDialog(HWND owner)
{
    return Open(owner, IDC_STATUS_REMOVAL, UI_TEXT_REMOVE_LABELS, UI_NUMBER_REMOVAL_DIALOG);
}

HWND OpenFixupDialog(HWND owner)
{
    return Open(owner, IDC_STATUS_FIXUP, UI_TEXT_FIXUP_LABELS, UI_NUMBER_FIXUP_DIALOG);
}

void SetDialogLabels(HWND dialog, const char* labels)
{
    if (labels == nullptr) {
        return;
    }
    char copy[UI_TEXT_SIZE];
    lstrcpynA(copy, labels, sizeof(copy));
    char* element = copy;
    for (int index = 0;; index++) {
        char* at = strchr(element, '@');
        if (at != nullptr) {
            *at = '\0';
        }
        if (index == 0) {
            SetWindowTextA(dialog, element);
        } else if (GetDlgItem(dialog, IDC_LABEL_FIRST + index - 1) != nullptr) {
            SetDlgItemTextA(dialog, IDC_LABEL_FIRST + index - 1, element);
        }
        if (at == nullptr) {
            break;
        }
        element = at + 1;
    }
}

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        ProgressDialogState* state = reinterpret_cast<ProgressDialogState*>(lParam);
        if (state == nullptr) {
            DestroyWindow(dialog);
            return TRUE;
        }
        SetDialogLabels(dialog, state->labels);
        SetDialogButtons(dialog);
        PositionWindow(dialog, 0);
        SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
        ClaimMailbox(dialog, true);
        SetTimer(dialog, MAILBOX_TIMER, SHOW_INTERVAL_MS, nullptr);
        return TRUE;
    }
    if (message == WM_TIMER && (wParam == SHOW_TIMER || wParam == MAILBOX_TIMER)) {
        ProgressDialogState* state = reinterpret_cast<ProgressDialogState*>(GetWindowLongPtrA(dialog, DWLP_USER));
        if (state != nullptr) {
            CollectMailbox(dialog, state);
            if (state->namePending || state->positionPending) {
                ShowPending(dialog, state);
            }
        }
        return TRUE;
    }
    if (message == WM_DESTROY) {
        ClaimMailbox(dialog, false);
        return FALSE;
    }
    if (message == WM_PROGRESS) {
        ProgressDialogState* state = reinterpret_cast<ProgressDialogState*>(GetWindowLongPtrA(dialog, DWLP_USER));
        if (state != nullptr) {
            SetWindowLongPtrA(dialog, DWLP_MSGRESULT, Progress(dialog, state, wParam, lParam));
        }
        return TRUE;
    }
    return FALSE;
}
