#include "ui/dialogs.h"

#include "system/system_state.h"
#include "ui/dialog_texts.h"
#include "ui/message_box.h"

int UiMessageBox(HWND owner, const char* text, const char* caption, UINT32 style)
{
    const char* labels[4] = {};
    switch (style & MB_TYPEMASK) {
    case MB_OKCANCEL:
        labels[0] = UiText(UI_TEXT_BUTTON_OK);
        labels[1] = UiText(UI_TEXT_BUTTON_CANCEL);
        break;
    case MB_ABORTRETRYIGNORE:
        labels[0] = UiText(UI_TEXT_BUTTON_ABORT);
        labels[1] = UiText(UI_TEXT_BUTTON_RETRY);
        labels[2] = UiText(UI_TEXT_BUTTON_IGNORE);
        break;
    case MB_YESNOCANCEL:
        labels[0] = UiText(UI_TEXT_BUTTON_YES);
        labels[1] = UiText(UI_TEXT_BUTTON_NO);
        labels[2] = UiText(UI_TEXT_BUTTON_CANCEL);
        break;
    case MB_YESNO:
        labels[0] = UiText(UI_TEXT_BUTTON_YES);
        labels[1] = UiText(UI_TEXT_BUTTON_NO);
        break;
    case MB_RETRYCANCEL:
        labels[0] = UiText(UI_TEXT_BUTTON_RETRY);
        labels[1] = UiText(UI_TEXT_BUTTON_CANCEL);
        break;
    default:
        labels[0] = UiText(UI_TEXT_BUTTON_OK);
        break;
    }
    // A slot the table does not fill keeps the box's own caption.
    for (const char*& label : labels) {
        if (label != nullptr && label[0] == '\0') {
            label = nullptr;
        }
    }
    return ShowMessageBox(owner, text, caption, style, nullptr, labels, nullptr, nullptr, nullptr);
}

int CheckPrivileges(HWND window, int showMessage)
{
    if (UiInstance() == nullptr) {
        return 0;
    }
    int allowed = CanOpenCurrentVersionKey();
    if (!allowed && showMessage) {
        char caption[UI_TEXT_SIZE] = "ERROR";
        if (window != nullptr) {
            GetWindowTextA(window, caption, sizeof(caption));
        }
        UiMessageBox(window, UiText(UI_TEXT_NO_PRIVILEGES), caption, MB_ICONHAND);
    }
    return allowed;
}

BOOL PositionWindow(HWND window, int placement)
{
    (void)placement; // centred is the only placement
    RECT box, reference;
    GetWindowRect(window, &box);
    HWND owner = GetWindow(window, GW_OWNER);
    if (owner != nullptr) {
        GetWindowRect(owner, &reference);
    } else {
        SetRect(&reference, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    }
    int width = box.right - box.left, height = box.bottom - box.top;
    int left = reference.left + ((reference.right - reference.left - width) >> 1);
    int top = reference.top + ((reference.bottom - reference.top - height) >> 1);
    UINT flags = SWP_NOSIZE | SWP_NOCOPYBITS | (owner != nullptr ? SWP_NOZORDER : 0);
    return SetWindowPos(window, HWND_TOPMOST, left, top, 0, 0, flags);
}
