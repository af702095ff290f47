// The message box window: layout from the texts and fonts, drawing, owner-drawn buttons, results.
#include "ui/message_box.h"

#include <string.h>

namespace {

const int MARGIN = 12;
const int GAP = 6;
const UINT32 F1_LATCH = 0x80000000u;

struct Buttons {
    int count;
    int ids[5];
};

Buttons ButtonsOf(UINT32 style)
{
    Buttons b = {1, {IDOK}};
    switch (style & MB_TYPEMASK) {
    case MB_OKCANCEL:
    case MB_YESNO:
    case MB_RETRYCANCEL:
        b = {2, {1, 2}};
        break;
    case MB_ABORTRETRYIGNORE:
        b = {3, {1, 4, 2}};
        break;
    case MB_YESNOCANCEL:
        b = {3, {1, 7, 2}};
        break;
    default:
        break;
    }
    if (style & MB_HELP) {
        b.ids[b.count++] = MESSAGE_BOX_HELP_ID;
    }
    return b;
}

MessageBoxParams* ParamsOf(HWND window)
{
    MessageBoxParams* p = reinterpret_cast<MessageBoxParams*>(GetWindowLongPtrA(window, DWLP_USER));
    if (p == nullptr || p->bodyFont == nullptr || p->buttonFont == nullptr || p->labels == nullptr ||
        p->text == nullptr || p->caption == nullptr) {
        return nullptr;
    }
    return p;
}

int ResultOfFirst(UINT32 type)
{
    switch (type) {
    case MB_ABORTRETRYIGNORE:
        return IDABORT;
    case MB_YESNOCANCEL:
    case MB_YESNO:
        return IDYES;
    case MB_RETRYCANCEL:
        return IDRETRY;
    default:
        return IDOK;
    }
}

int ResultOfSecond(UINT32 type)
{
    switch (type) {
    case MB_OK:
        return IDOK;
    case MB_ABORTRETRYIGNORE:
        return IDIGNORE;
    case MB_YESNO:
        return IDNO;
    default:
        return type > MB_RETRYCANCEL ? IDOK : IDCANCEL;
    }
}

bool Measure(FontObject* font, HDC dc, const char* text, UINT flags, RECT* rect)
{
    return FontDrawText(font, dc, text, -1, rect, flags, 0) > 0;
}

// The layout of WM_INITDIALOG; false ends the box with -1.
bool Layout(HWND window, MessageBoxParams* p, HDC dc)
{
    RECT work;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0)) {
        SetRect(&work, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    }
    const int maxWidth = (work.right - work.left) * 7 / 8;
    const int maxHeight = (work.bottom - work.top) * 7 / 8;
    Buttons buttons = ButtonsOf(p->style);

    // Labels: at least eleven o's wide, as tall as the taller font.
    TEXTMETRICA body, button;
    if (FontGetMetrics(p->bodyFont, FONT_METRICS_TEXT, dc, &body) != 0 ||
        FontGetMetrics(p->buttonFont, FONT_METRICS_TEXT, dc, &button) != 0) {
        return false;
    }
    const UINT single = DT_CALCRECT | DT_SINGLELINE;
    RECT r1 = {0, 0, 0, 0}, r2 = {0, 0, 0, 0};
    if (!Measure(p->bodyFont, dc, "ooooooooooo", single, &r1) || !Measure(p->buttonFont, dc, "ooooooooooo", single, &r2)) {
        return false;
    }
    int labelWidth = r1.right > r2.right ? r1.right : r2.right;
    int labelHeight = body.tmHeight > button.tmHeight ? body.tmHeight : button.tmHeight;
    int leading = body.tmInternalLeading < button.tmInternalLeading ? body.tmInternalLeading : button.tmInternalLeading;
    if (labelHeight > 0) {
        labelHeight = labelHeight + (-6 * leading) / labelHeight;
    }
    for (int i = 0; i < buttons.count; i++) {
        const char* label = p->labels[i] != nullptr ? p->labels[i] : "";
        RECT a = {0, 0, 0, 0}, b = {0, 0, 0, 0};
        if (!Measure(p->bodyFont, dc, label, single, &a) || !Measure(p->buttonFont, dc, label, single, &b)) {
            return false;
        }
        int w = a.right + body.tmOverhang > b.right + button.tmOverhang ? a.right + body.tmOverhang : b.right + button.tmOverhang;
        if (w > labelWidth) {
            labelWidth = w;
        }
    }
    int pad = p->bodyFont == p->buttonFont ? 6 : 4;
    int buttonWidth = labelWidth + pad, buttonHeight = labelHeight + pad;
    RECT frame = {1000, 1000, 1100, 1100};
    DrawFrameControl(dc, &frame, DFC_BUTTON, DFCS_BUTTONPUSH | DFCS_ADJUSTRECT);
    buttonWidth += frame.left - frame.right + 100;
    buttonHeight += frame.top - frame.bottom + 100;
    int n = buttons.count;
    int row = n * buttonWidth + GAP * (n - 1);
    if (row + 2 * MARGIN > maxWidth) {
        buttonWidth -= (n + row + 23 - maxWidth) / n;
        row = n * buttonWidth + GAP * (n - 1);
    }
    if (buttonHeight + 18 > maxHeight / 4) {
        buttonHeight = maxHeight / 4 - 18;
    }

    // The icon stands left of the text when it fits.
    p->textLeft = 0;
    p->textTop = MARGIN;
    int iconWidth = 0, iconHeight = 0;
    if (p->icon != nullptr) {
        ICONINFO info;
        BITMAP mask;
        if (!GetIconInfo(p->icon, &info)) {
            return false;
        }
        bool ok = GetObjectA(info.hbmMask, sizeof(mask), &mask) != 0;
        DeleteObject(info.hbmMask);
        if (info.hbmColor != nullptr) {
            DeleteObject(info.hbmColor);
        }
        if (!ok) {
            return false;
        }
        iconWidth = mask.bmWidth;
        iconHeight = info.hbmColor != nullptr ? mask.bmHeight : mask.bmHeight / 2;
        if (iconWidth + 2 * MARGIN <= maxWidth / 4 && buttonHeight + iconHeight + 42 <= maxHeight) {
            p->textLeft = iconWidth + MARGIN;
        } else {
            p->icon = nullptr;
            iconWidth = iconHeight = 0;
        }
    }

    // The message, wrapped inside what is left of the maximum size.
    RECT text = {0, 0, maxWidth - p->textLeft - 2 * MARGIN, maxHeight - buttonHeight - 42};
    if (FontDrawText(p->bodyFont, dc, p->text, -1, &text, DT_CALCRECT | DT_WORDBREAK, 0) <= 0) {
        return false;
    }
    int textWidth = text.right - text.left, textHeight = text.bottom - text.top;
    if (textHeight > maxHeight - buttonHeight - 42) {
        textHeight = maxHeight - buttonHeight - 42; // a text taller than the box is cut at its bottom
    }
    if (textWidth > maxWidth - p->textLeft - 2 * MARGIN) {
        textWidth = maxWidth - p->textLeft - 2 * MARGIN;
    }
    if (p->icon != nullptr && iconHeight > textHeight) {
        p->textTop = MARGIN + (iconHeight - textHeight) / 2;
    }
    int clientWidth = textWidth + p->textLeft + 2 * MARGIN;
    int clientHeight = (textHeight > iconHeight ? textHeight : iconHeight) + buttonHeight + 42;
    if (row + 2 * MARGIN > clientWidth) {
        clientWidth = row + 2 * MARGIN;
    }

    // The caption must fit, but never beyond the maximum width.
    NONCLIENTMETRICSA metrics;
    memset(&metrics, 0, sizeof(metrics));
    metrics.cbSize = sizeof(metrics);
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
        HFONT captionFont = CreateFontIndirectA(&metrics.lfCaptionFont);
        HGDIOBJ old = SelectObject(dc, captionFont);
        RECT c = {0, 0, 0, 0};
        DrawTextExA(dc, const_cast<char*>(p->caption), -1, &c, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX, nullptr);
        SelectObject(dc, old);
        DeleteObject(captionFont);
        int captionWidth = c.right - c.left + 2 * GetSystemMetrics(SM_CXSIZE);
        if (captionWidth > maxWidth) {
            captionWidth = maxWidth;
        }
        if (captionWidth > clientWidth) {
            clientWidth = captionWidth;
        }
    }
    p->textLeft += MARGIN;

    UINT32 defaultIndex = (p->style & MB_DEFMASK) >> 8;
    if (defaultIndex >= static_cast<UINT32>(n)) {
        defaultIndex = 0;
    }
    p->defaultButton = buttons.ids[defaultIndex];
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window, GWLP_HINSTANCE));
    for (int i = 0; i < n; i++) {
        int x = (clientWidth - row) / 2 + i * (buttonWidth + GAP);
        int y = clientHeight - buttonHeight - MARGIN;
        HWND b = CreateWindowExA(0, "BUTTON", p->labels[i] != nullptr ? p->labels[i] : "",
                                 WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW, x, y, buttonWidth, buttonHeight, window,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(buttons.ids[i])), instance, nullptr);
        if (b == nullptr) {
            return false;
        }
    }

    // The window around that client area, centred on the owner (or the work area) and kept inside it.
    RECT box = {0, 0, clientWidth, clientHeight};
    if (!AdjustWindowRectEx(&box, static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)), FALSE,
                            static_cast<DWORD>(GetWindowLongA(window, GWL_EXSTYLE)))) {
        return false;
    }
    int width = box.right - box.left, height = box.bottom - box.top;
    RECT reference = work;
    HWND owner = GetWindow(window, GW_OWNER);
    if (owner != nullptr) {
        GetWindowRect(owner, &reference);
    }
    int left = reference.left + (reference.right - reference.left - width) / 2;
    int top = reference.top + (reference.bottom - reference.top - height) / 2;
    if (left + width > work.right) {
        left = work.right - width;
    }
    if (top + height > work.bottom) {
        top = work.bottom - height;
    }
    if (left < work.left) {
        left = work.left;
    }
    if (top < work.top) {
        top = work.top;
    }

    if (p->windowOut != nullptr) {
        *p->windowOut = window;
    }
    p->style &= 0x0FFFFFFF;
    MessageBeep(p->style & MB_ICONMASK);
    if (p->style & MB_HELP) {
        SetTimer(window, MESSAGE_BOX_HELP_TIMER, 32, nullptr);
    }
    PostMessageA(window, WM_APP, 0, 0);
    SetWindowTextA(window, p->caption);
    SetWindowPos(window, nullptr, left, top, width, height, SWP_NOCOPYBITS | SWP_SHOWWINDOW | SWP_NOZORDER);
    return true;
}

void DrawButton(HWND window, MessageBoxParams* p, const DRAWITEMSTRUCT* item)
{
    char label[512] = {};
    GetWindowTextA(item->hwndItem, label, sizeof(label));
    bool focused = (item->itemState & ODS_FOCUS) != 0;
    bool pressed = (item->itemState & ODS_SELECTED) != 0;
    FontObject* font = focused ? p->buttonFont : p->bodyFont;
    RECT measured = {0, 0, 0, 0};
    FontDrawText(font, item->hDC, label, -1, &measured, DT_CALCRECT | DT_SINGLELINE, 0);
    TEXTMETRICA tm;
    memset(&tm, 0, sizeof(tm));
    FontGetMetrics(font, FONT_METRICS_TEXT, item->hDC, &tm);
    int textWidth = measured.right - measured.left - tm.tmOverhang;
    int textHeight = measured.bottom - measured.top;
    SetBkMode(item->hDC, TRANSPARENT);
    SetTextColor(item->hDC, GetSysColor(COLOR_BTNTEXT));
    RECT r = item->rcItem;
    if (focused) {
        SendMessageA(window, DM_SETDEFID, item->CtlID, 0);
        HBRUSH frame = GetSysColorBrush(COLOR_3DDKSHADOW);
        FrameRect(item->hDC, &r, frame);
        InflateRect(&r, -1, -1);
    }
    DrawFrameControl(item->hDC, &r, DFC_BUTTON, DFCS_BUTTONPUSH | DFCS_ADJUSTRECT | (pressed ? DFCS_FLAT : 0));
    int x = r.left + (r.right - r.left - textWidth - 1) / 2 + (pressed ? 1 : 0);
    int y = r.top + (r.bottom - r.top - textHeight - 1) / 2 + (pressed ? 1 : 0);
    FontTextOut(font, item->hDC, x, y, ETO_CLIPPED, &r, label, -1, 0);
    if (focused && !(item->itemState & ODS_NOFOCUSRECT) && p->bodyFont == p->buttonFont) {
        RECT f = r;
        InflateRect(&f, -1, -1);
        DrawFocusRect(item->hDC, &f);
    }
}

void Help(HWND window, MessageBoxParams* p)
{
    HWND owner = GetWindow(window, GW_OWNER);
    if ((p->style & MB_HELP) && owner != nullptr &&
        SendMessageA(owner, WM_COMMAND, MAKEWPARAM(MESSAGE_BOX_HELP_ID, 0), reinterpret_cast<LPARAM>(window)) != 0) {
        PostMessageA(window, WM_CLOSE, 0, 0);
    }
}

} // namespace

INT_PTR CALLBACK MessageBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        MessageBoxParams* block = MessageBoxParamsOf(lParam);
        SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(block));
        MessageBoxParams* p = ParamsOf(window);
        if (p == nullptr) {
            EndDialog(window, -1);
            return TRUE;
        }
        if (p->windowOut != nullptr) {
            *p->windowOut = nullptr;
        }
        HDC dc = GetDC(window);
        bool ok = dc != nullptr && Layout(window, p, dc);
        if (dc != nullptr) {
            ReleaseDC(window, dc);
        }
        if (!ok) {
            EndDialog(window, -1);
        }
        return FALSE; // the focus is set when WM_APP arrives
    }
    MessageBoxParams* p = ParamsOf(window);
    if (p == nullptr) {
        return FALSE;
    }
    UINT32 type = p->style & MB_TYPEMASK;
    switch (message) {
    case WM_APP:
        if (p->defaultButton != -1) {
            SendMessageA(window, DM_SETDEFID, static_cast<WPARAM>(p->defaultButton), 0);
            SetFocus(GetDlgItem(window, p->defaultButton));
        }
        return TRUE;
    case WM_PAINT: {
        if (!GetUpdateRect(window, nullptr, FALSE)) {
            return FALSE;
        }
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        if (p->icon != nullptr) {
            DrawIconEx(dc, MARGIN, MARGIN, p->icon, 0, 0, 0, nullptr, DI_NORMAL);
        }
        RECT client;
        GetClientRect(window, &client);
        RECT text = {p->textLeft, p->textTop, client.right - MARGIN, client.bottom};
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
        FontDrawText(p->bodyFont, dc, p->text, -1, &text, DT_WORDBREAK, 0);
        EndPaint(window, &ps);
        return TRUE;
    }
    case WM_MEASUREITEM: {
        MEASUREITEMSTRUCT* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (item->CtlType == ODT_BUTTON) {
            RECT r;
            GetClientRect(GetDlgItem(window, static_cast<int>(item->CtlID)), &r);
            item->itemWidth = static_cast<UINT>(r.right);
            item->itemHeight = static_cast<UINT>(r.bottom);
        }
        return TRUE;
    }
    case WM_DRAWITEM: {
        const DRAWITEMSTRUCT* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->CtlType == ODT_BUTTON) {
            DrawButton(window, p, item);
        }
        return TRUE;
    }
    case WM_TIMER:
        if (wParam == MESSAGE_BOX_HELP_TIMER) {
            // F1 fires Help once per press, on release.
            if (GetAsyncKeyState(VK_F1) & 0x8000) {
                p->style |= F1_LATCH;
            } else if (p->style & F1_LATCH) {
                p->style &= ~F1_LATCH;
                PostMessageA(window, WM_COMMAND, MAKEWPARAM(MESSAGE_BOX_HELP_ID, 0), 0);
            }
        }
        return TRUE;
    case WM_CLOSE:
        EndDialog(window, ResultOfSecond(type));
        return TRUE;
    case WM_COMMAND:
        if (HIWORD(wParam) != 0 && HIWORD(wParam) != BN_CLICKED) {
            return FALSE;
        }
        switch (LOWORD(wParam)) {
        case 1:
            EndDialog(window, ResultOfFirst(type));
            break;
        case 2:
            EndDialog(window, ResultOfSecond(type));
            break;
        case 4:
            EndDialog(window, IDRETRY);
            break;
        case 7:
            EndDialog(window, IDNO);
            break;
        case MESSAGE_BOX_HELP_ID:
            Help(window, p);
            break;
        default:
            break;
        }
        return TRUE;
    case WM_DESTROY:
        if (p->style & MB_HELP) {
            KillTimer(window, MESSAGE_BOX_HELP_TIMER);
        }
        SetWindowLongPtrA(window, DWLP_USER, 0);
        return FALSE;
    default:
        return FALSE;
    }
}
