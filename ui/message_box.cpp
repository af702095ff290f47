#include "ui/message_box.h"

#include "support/memory.h"
#include "ui/dialog_texts.h"

#include <string.h>

namespace {

const DWORD TEMPLATE_STYLE = 0x82C80181;
const DWORD TEMPLATE_STYLE_SYSTEM_MODAL = 0x82C80383;

// The template header with no controls, no menu, the standard class and no title; the box's
// parameters follow it at a pointer-aligned offset.
#pragma pack(push, 2)
struct BoxTemplate {
    DLGTEMPLATE header;
    WORD menu, windowClass, title;
};
#pragma pack(pop)

const size_t PARAMS_OFFSET = (sizeof(BoxTemplate) + alignof(MessageBoxParams) - 1) & ~(alignof(MessageBoxParams) - 1);

struct ButtonSet {
    int count;
    const char* labels[4];
};

ButtonSet BuiltInButtons(UINT32 type)
{
    switch (type) {
    case MB_OKCANCEL:
        return {2, {"Ok", "Cancel", "Help", nullptr}};
    case MB_ABORTRETRYIGNORE:
        return {3, {"Abort", "Retry", "Ignore", "Help"}};
    case MB_YESNOCANCEL:
        return {3, {"Yes", "No", "Cancel", "Help"}};
    case MB_YESNO:
        return {2, {"Yes", "No", "Help", nullptr}};
    case MB_RETRYCANCEL:
        return {2, {"Retry", "Cancel", "Help", nullptr}};
    default:
        return {1, {"Ok", "Help", nullptr, nullptr}};
    }
}

HICON SystemIcon(UINT32 style)
{
    switch (style & MB_ICONMASK) {
    case MB_ICONHAND:
        return LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_HAND));
    case MB_ICONQUESTION:
        return LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_QUESTION));
    case MB_ICONEXCLAMATION:
        return LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_EXCLAMATION));
    case MB_ICONASTERISK:
        return LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_ASTERISK));
    default:
        return nullptr;
    }
}

FontObject* SystemMessageFont()
{
    NONCLIENTMETRICSA metrics;
    memset(&metrics, 0, sizeof(metrics));
    metrics.cbSize = sizeof(metrics);
    if (!SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
        return nullptr;
    }
    return FontCreate(&metrics.lfMessageFont);
}

} // namespace

DWORD MessageBoxTemplateStyle(UINT32 style)
{
    return (style & MB_SYSTEMMODAL) ? TEMPLATE_STYLE_SYSTEM_MODAL : TEMPLATE_STYLE;
}

int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT32 style, HICON icon, const char** labels,
                   FontObject* bodyFont, FontObject* buttonFont, HWND* windowOut)
{
    if (windowOut != nullptr) {
        *windowOut = nullptr;
    }
    BYTE* block = static_cast<BYTE*>(MemAlloc(PARAMS_OFFSET + sizeof(MessageBoxParams)));
    if (block == nullptr) {
        return -1;
    }
    // The labels: the built-in set of the type, Help added, overrides up to their first null.
    ButtonSet set = BuiltInButtons(style & MB_TYPEMASK);
    const char* chosen[8] = {};
    int count = set.count + ((style & MB_HELP) ? 1 : 0);
    bool overriding = labels != nullptr;
    for (int i = 0; i < count; i++) {
        chosen[i] = set.labels[i];
        if (overriding && labels[i] == nullptr) {
            overriding = false;
        }
        if (overriding) {
            chosen[i] = labels[i];
        }
    }
    if (text == nullptr) {
        text = "Fatal...";
    }
    if (caption == nullptr) {
        caption = "Error";
    }
    // Fonts: each given one gets a reference; without any, the system's message font serves both.
    FontObject* body = bodyFont != nullptr ? bodyFont : buttonFont;
    FontObject* button = buttonFont != nullptr ? buttonFont : bodyFont;
    if (body == nullptr) {
        body = button = SystemMessageFont(); // one reference, a second below
        if (body != nullptr) {
            FontAddRef(body);
        }
    } else {
        FontAddRef(body);
        FontAddRef(button);
    }
    int result = -1;
    if (body != nullptr) {
        bool ownIcon = icon == nullptr;
        if (ownIcon) {
            icon = SystemIcon(style);
        }
        BoxTemplate* t = reinterpret_cast<BoxTemplate*>(block);
        t->header.style = MessageBoxTemplateStyle(style);
        t->header.cx = 160;
        t->header.cy = 80;
        MessageBoxParams* p = reinterpret_cast<MessageBoxParams*>(block + PARAMS_OFFSET);
        p->bodyFont = body;
        p->buttonFont = button;
        p->text = text;
        p->caption = caption;
        p->style = style;
        p->labels = chosen;
        p->icon = icon;
        p->windowOut = windowOut;
        HINSTANCE instance = owner != nullptr ? reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(owner, GWLP_HINSTANCE))
                                              : GetModuleHandleA(nullptr);
        UiLoadCommonControls();
        result = static_cast<int>(
            DialogBoxIndirectParamA(instance, &t->header, owner, MessageBoxProc, reinterpret_cast<LPARAM>(block)));
        if (ownIcon && icon != nullptr) {
            DestroyIcon(icon);
        }
        FontRelease(body);
        FontRelease(button);
    }
    MemFree(block);
    return result;
}

// Reached from the template address that WM_INITDIALOG brings.
MessageBoxParams* MessageBoxParamsOf(LPARAM templateAddress)
{
    return templateAddress != 0
               ? reinterpret_cast<MessageBoxParams*>(reinterpret_cast<BYTE*>(templateAddress) + PARAMS_OFFSET)
               : nullptr;
}
