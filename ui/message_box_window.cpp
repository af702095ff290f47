// The message box window: layout from the texts and fonts, drawing, owner-drawn buttons, results.
#include "ui/message_box.h"

#include <string.h>

namespace {

// Geometry of the box, in pixels.
const int MARGIN = 12;          // around the icon and the text, and below the buttons
const int BUTTON_GAP = 6;       // between two buttons
const int TEXT_TO_BUTTONS = 18; // between the text (or icon) and the buttons
// Vertical room besides the text and the buttons: the margin above the text, the space between the
// text and the buttons, the margin below them.
const int VERTICAL_ROOM = 2 * MARGIN + TEXT_TO_BUTTONS;
const int LABEL_PAD_ONE_FONT = 6;           // label to button edge when both fonts are the same object
const int LABEL_PAD_TWO_FONTS = 4;          // ... and when the focused label has a font of its own
const char MINIMUM_LABEL[] = "ooooooooooo"; // a button is at least this wide
// DrawFrameControl adjusts this rectangle by the push button's frame.
const RECT FRAME_PROBE = {1000, 1000, 1100, 1100};
const int FRAME_PROBE_SIZE = 100;
const int DIALOG_TIMER_MS = 32;

// Style bits: bit 31 is the F1 latch of this procedure, bits 28 to 31 are cleared when the box opens.
const UINT32 F1_LATCH = 0x80000000u;
const UINT32 PROCEDURE_BITS = 0xF0000000u;

// Control ids of the buttons: the first button is always 1 (its result follows the type), the
// second of a Yes/No/Cancel box is 7 and of an Abort/Retry/Ignore box 4, the last of two or three 2.
const int BUTTON_FIRST = 1;
const int BUTTON_LAST = 2;
const int BUTTON_RETRY = 4;
const int BUTTON_NO = 7;

struct Buttons {
    int count;
    int ids[5];
};

Buttons ButtonsOf(UINT32 style)
{
    Buttons b = {1, {BUTTON_FIRST}};
    switch (style & MB_TYPEMASK) {
    case MB_OKCANCEL:
    case MB_YESNO:
    case MB_RETRYCANCEL:
        b = {2, {BUTTON_FIRST, BUTTON_LAST}};
        break;
    case MB_ABORTRETRYIGNORE:
        b = {3, {BUTTON_FIRST, BUTTON_RETRY, BUTTON_LAST}};
        break;
    case MB_YESNOCANCEL:
        b = {3, {BUTTON_FIRST, BUTTON_NO, BUTTON_LAST}};
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

// The result of the first button, and of Enter.
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

// The result of the last button of two or three, of Escape and of the close box. A type above
// MB_RETRYCANCEL shows the single button of an MB_OK box, yet it answers IDCANCEL here: a box of a type
// the caller did not mean to show counts as dismissed, never as agreed to, so a caller that acts only
// on IDOK does nothing.
int ResultOfLast(UINT32 type)
{
    switch (type) {
    case MB_OK:
        return IDOK;
    case MB_ABORTRETRYIGNORE:
        return IDIGNORE;
    case MB_YESNO:
        return IDNO;
    default:
        return IDCANCEL;
    }
}

bool Measure(FontObject* font, HDC dc, const char* text, UINT flags, RECT* rect)
{
    return FontDrawText(font, dc, text, -1, rect, flags, 0) > 0;
}

// What the layout works out before it creates the windows.
struct Layout {
    RECT work;
    int maxWidth, maxHeight;
    Buttons buttons;
    int buttonWidth, buttonHeight, row;
    int iconWidth, iconHeight;
    int clientWidth, clientHeight;
};

// The widest label of the buttons (at least the minimum label) and the labels' height, over both fonts.
bool MeasureLabels(MessageBoxParams* p, HDC dc, const Layout& l, int* width, int* height)
{
    TEXTMETRICA body, button;
    RECT r1 = {0, 0, 0, 0}, r2 = {0, 0, 0, 0};
    const UINT single = DT_CALCRECT | DT_SINGLELINE;
    if (FontGetMetrics(p->bodyFont, FONT_METRICS_TEXT, dc, &body) != 0 ||
        FontGetMetrics(p->buttonFont, FONT_METRICS_TEXT, dc, &button) != 0 ||
        !Measure(p->bodyFont, dc, MINIMUM_LABEL, single, &r1) ||
        !Measure(p->buttonFont, dc, MINIMUM_LABEL, single, &r2)) {
        return false;
    }
    *width = r1.right > r2.right ? r1.right : r2.right;
    *height = body.tmHeight > button.tmHeight ? body.tmHeight : button.tmHeight;
    int leading = body.tmInternalLeading < button.tmInternalLeading ? body.tmInternalLeading : button.tmInternalLeading;
    if (*height > 0) {
        *height = *height + (-6 * leading) / *height;
    }
    for (int i = 0; i < l.buttons.count; i++) {
        const char* label = p->labels[i] != nullptr ? p->labels[i] : "";
        RECT a = {0, 0, 0, 0}, b = {0, 0, 0, 0};
        if (!Measure(p->bodyFont, dc, label, single, &a) || !Measure(p->buttonFont, dc, label, single, &b)) {
            return false;
        }
        int w = a.right + body.tmOverhang > b.right + button.tmOverhang ? a.right + body.tmOverhang
                                                                        : b.right + button.tmOverhang;
        if (w > *width) {
            *width = w;
        }
    }
    return true;
}

// The button size with the push button's frame, and the row they make, narrowed to fit the box.
bool MeasureButtons(MessageBoxParams* p, HDC dc, Layout& l)
{
    int labelWidth = 0, labelHeight = 0;
    if (!MeasureLabels(p, dc, l, &labelWidth, &labelHeight)) {
        return false;
    }
    int pad = p->bodyFont == p->buttonFont ? LABEL_PAD_ONE_FONT : LABEL_PAD_TWO_FONTS;
    RECT frame = FRAME_PROBE;
    DrawFrameControl(dc, &frame, DFC_BUTTON, DFCS_BUTTONPUSH | DFCS_ADJUSTRECT);
    l.buttonWidth = labelWidth + pad + frame.left - frame.right + FRAME_PROBE_SIZE;
    l.buttonHeight = labelHeight + pad + frame.top - frame.bottom + FRAME_PROBE_SIZE;
    int n = l.buttons.count;
    l.row = n * l.buttonWidth + BUTTON_GAP * (n - 1);
    if (l.row + 2 * MARGIN > l.maxWidth) {
        l.buttonWidth -= (n + l.row + 2 * MARGIN - 1 - l.maxWidth) / n;
        l.row = n * l.buttonWidth + BUTTON_GAP * (n - 1);
    }
    if (l.buttonHeight + TEXT_TO_BUTTONS > l.maxHeight / 4) {
        l.buttonHeight = l.maxHeight / 4 - TEXT_TO_BUTTONS;
    }
    return true;
}

// The icon stands left of the text when it fits; otherwise it is dropped.
bool PlaceIcon(MessageBoxParams* p, Layout& l)
{
    p->textLeft = 0;
    p->textTop = MARGIN;
    l.iconWidth = l.iconHeight = 0;
    if (p->icon == nullptr) {
        return true;
    }
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
    l.iconWidth = mask.bmWidth;
    l.iconHeight = info.hbmColor != nullptr ? mask.bmHeight : mask.bmHeight / 2;
    if (l.iconWidth + 2 * MARGIN <= l.maxWidth / 4 && l.buttonHeight + l.iconHeight + VERTICAL_ROOM <= l.maxHeight) {
        p->textLeft = l.iconWidth + MARGIN;
    } else {
        p->icon = nullptr;
        l.iconWidth = l.iconHeight = 0;
    }
    return true;
}

// The message, wrapped inside what is left of the maximum size, and the client area around it.
bool MeasureText(MessageBoxParams* p, HDC dc, Layout& l)
{
    int widest = l.maxWidth - p->textLeft - 2 * MARGIN;
    int tallest = l.maxHeight - l.buttonHeight - VERTICAL_ROOM;
    RECT text = {0, 0, widest, tallest};
    if (FontDrawText(p->bodyFont, dc, p->text, -1, &text, DT_CALCRECT | DT_WORDBREAK, 0) <= 0) {
        return false;
    }
    int textWidth = text.right - text.left, textHeight = text.bottom - text.top;
    if (textHeight > tallest) {
        textHeight = tallest; // the painting ends the text at a whole line above the buttons
    }
    if (textWidth > widest) {
        textWidth = widest;
    }
    if (p->icon != nullptr && l.iconHeight > textHeight) {
        p->textTop = MARGIN + (l.iconHeight - textHeight) / 2;
    }
    l.clientWidth = textWidth + p->textLeft + 2 * MARGIN;
    l.clientHeight = (textHeight > l.iconHeight ? textHeight : l.iconHeight) + l.buttonHeight + VERTICAL_ROOM;
    if (l.row + 2 * MARGIN > l.clientWidth) {
        l.clientWidth = l.row + 2 * MARGIN;
    }
    return true;
}

// The caption must fit, but never beyond the maximum width.
void FitCaption(MessageBoxParams* p, HDC dc, Layout& l)
{
    NONCLIENTMETRICSA metrics;
    memset(&metrics, 0, sizeof(metrics));
    metrics.cbSize = sizeof(metrics);
    if (!SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
        return;
    }
    HFONT captionFont = CreateFontIndirectA(&metrics.lfCaptionFont);
    HGDIOBJ old = SelectObject(dc, captionFont);
    RECT c = {0, 0, 0, 0};
    DrawTextExA(dc, const_cast<char*>(p->caption), -1, &c, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX, nullptr);
    SelectObject(dc, old);
    DeleteObject(captionFont);
    int captionWidth = c.right - c.left + 2 * GetSystemMetrics(SM_CXSIZE);
    if (captionWidth > l.maxWidth) {
        captionWidth = l.maxWidth;
    }
    if (captionWidth > l.clientWidth) {
        l.clientWidth = captionWidth;
    }
}

// The default button and the owner-drawn buttons, centred in a row at the bottom.
bool CreateButtons(HWND window, MessageBoxParams* p, const Layout& l)
{
    int n = l.buttons.count;
    UINT32 defaultIndex = (p->style & MB_DEFMASK) >> 8;
    if (defaultIndex >= static_cast<UINT32>(n)) {
        defaultIndex = 0;
    }
    p->defaultButton = l.buttons.ids[defaultIndex];
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window, GWLP_HINSTANCE));
    for (int i = 0; i < n; i++) {
        int x = (l.clientWidth - l.row) / 2 + i * (l.buttonWidth + BUTTON_GAP);
        int y = l.clientHeight - l.buttonHeight - MARGIN;
        HWND b =
            CreateWindowExA(0, "BUTTON", p->labels[i] != nullptr ? p->labels[i] : "",
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW, x, y, l.buttonWidth, l.buttonHeight,
                            window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(l.buttons.ids[i])), instance, nullptr);
        if (b == nullptr) {
            return false;
        }
    }
    return true;
}

// The window around the client area, centred on the owner (or the work area) and kept inside the work
// area; then shown.
bool PlaceWindow(HWND window, MessageBoxParams* p, const Layout& l)
{
    RECT box = {0, 0, l.clientWidth, l.clientHeight};
    if (!AdjustWindowRectEx(&box, static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)), FALSE,
                            static_cast<DWORD>(GetWindowLongA(window, GWL_EXSTYLE)))) {
        return false;
    }
    int width = box.right - box.left, height = box.bottom - box.top;
    RECT reference = l.work;
    HWND owner = GetWindow(window, GW_OWNER);
    if (owner != nullptr) {
        GetWindowRect(owner, &reference);
    }
    int left = reference.left + (reference.right - reference.left - width) / 2;
    int top = reference.top + (reference.bottom - reference.top - height) / 2;
    left = left + width > l.work.right ? l.work.right - width : left;
    top = top + height > l.work.bottom ? l.work.bottom - height : top;
    left = left < l.work.left ? l.work.left : left;
    top = top < l.work.top ? l.work.top : top;

    if (p->windowOut != nullptr) {
        *p->windowOut = window;
    }
    p->style &= ~PROCEDURE_BITS;
    MessageBeep(p->style & MB_ICONMASK);
    if (p->style & MB_HELP) {
        SetTimer(window, MESSAGE_BOX_HELP_TIMER, DIALOG_TIMER_MS, nullptr);
    }
    PostMessageA(window, WM_APP, 0, 0);
    SetWindowTextA(window, p->caption);
    SetWindowPos(window, nullptr, left, top, width, height, SWP_NOCOPYBITS | SWP_SHOWWINDOW | SWP_NOZORDER);
    return true;
}

// The layout of WM_INITDIALOG; false ends the box with -1.
bool LayOut(HWND window, MessageBoxParams* p, HDC dc)
{
    Layout l = {};
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &l.work, 0)) {
        SetRect(&l.work, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    }
    l.maxWidth = (l.work.right - l.work.left) * 7 / 8;
    l.maxHeight = (l.work.bottom - l.work.top) * 7 / 8;
    l.buttons = ButtonsOf(p->style);
    if (!MeasureButtons(p, dc, l) || !PlaceIcon(p, l) || !MeasureText(p, dc, l)) {
        return false;
    }
    FitCaption(p, dc, l);
    p->textLeft += MARGIN;
    return CreateButtons(window, p, l) && PlaceWindow(window, p, l);
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
        FrameRect(item->hDC, &r, GetSysColorBrush(COLOR_3DDKSHADOW));
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

// The bottom of the text: above the buttons, at a whole line, so that a text taller than the box
// never runs under them.
int TextBottom(HWND window, MessageBoxParams* p, HDC dc, const RECT& client)
{
    RECT button;
    HWND first = GetDlgItem(window, BUTTON_FIRST);
    if (first == nullptr || !GetWindowRect(first, &button)) {
        return client.bottom;
    }
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&button), 2);
    int bottom = button.top - TEXT_TO_BUTTONS;
    TEXTMETRICA tm;
    memset(&tm, 0, sizeof(tm));
    if (FontGetMetrics(p->bodyFont, FONT_METRICS_TEXT, dc, &tm) == 0 && tm.tmHeight > 0 && bottom > p->textTop) {
        bottom = p->textTop + (bottom - p->textTop) / tm.tmHeight * tm.tmHeight;
    }
    return bottom;
}

void Paint(HWND window, MessageBoxParams* p)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    if (p->icon != nullptr) {
        DrawIconEx(dc, MARGIN, MARGIN, p->icon, 0, 0, 0, nullptr, DI_NORMAL);
    }
    RECT client;
    GetClientRect(window, &client);
    RECT text = {p->textLeft, p->textTop, client.right - MARGIN, TextBottom(window, p, dc, client)};
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    FontDrawText(p->bodyFont, dc, p->text, -1, &text, DT_WORDBREAK, 0);
    EndPaint(window, &ps);
}

void Help(HWND window, MessageBoxParams* p)
{
    HWND owner = GetWindow(window, GW_OWNER);
    if ((p->style & MB_HELP) && owner != nullptr &&
        SendMessageA(owner, WM_COMMAND, MAKEWPARAM(MESSAGE_BOX_HELP_ID, 0), reinterpret_cast<LPARAM>(window)) != 0) {
        PostMessageA(window, WM_CLOSE, 0, 0);
    }
}

// F1 fires Help once per press, on release.
void PollF1(HWND window, MessageBoxParams* p)
{
    if (GetAsyncKeyState(VK_F1) & 0x8000) {
        p->style |= F1_LATCH;
    } else if (p->style & F1_LATCH) {
        p->style &= ~F1_LATCH;
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(MESSAGE_BOX_HELP_ID, 0), 0);
    }
}

void Command(HWND window, MessageBoxParams* p, WPARAM wParam)
{
    UINT32 type = p->style & MB_TYPEMASK;
    switch (LOWORD(wParam)) {
    case BUTTON_FIRST:
        EndDialog(window, ResultOfFirst(type));
        break;
    case BUTTON_LAST:
        EndDialog(window, ResultOfLast(type));
        break;
    case BUTTON_RETRY:
        EndDialog(window, IDRETRY);
        break;
    case BUTTON_NO:
        EndDialog(window, IDNO);
        break;
    case MESSAGE_BOX_HELP_ID:
        Help(window, p);
        break;
    default:
        break;
    }
}

INT_PTR InitDialog(HWND window, LPARAM lParam)
{
    SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(MessageBoxParamsOf(lParam)));
    MessageBoxParams* p = ParamsOf(window);
    if (p == nullptr) {
        EndDialog(window, -1);
        return TRUE;
    }
    if (p->windowOut != nullptr) {
        *p->windowOut = nullptr;
    }
    HDC dc = GetDC(window);
    bool ok = dc != nullptr && LayOut(window, p, dc);
    if (dc != nullptr) {
        ReleaseDC(window, dc);
    }
    if (!ok) {
        EndDialog(window, -1);
    }
    return FALSE; // the focus is set when WM_APP arrives
}

void MeasureButton(HWND window, MEASUREITEMSTRUCT* item)
{
    if (item->CtlType == ODT_BUTTON) {
        RECT r;
        GetClientRect(GetDlgItem(window, static_cast<int>(item->CtlID)), &r);
        item->itemWidth = static_cast<UINT>(r.right);
        item->itemHeight = static_cast<UINT>(r.bottom);
    }
}

} // namespace

INT_PTR CALLBACK MessageBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        return InitDialog(window, lParam);
    }
    MessageBoxParams* p = ParamsOf(window);
    if (p == nullptr) {
        return FALSE;
    }
    switch (message) {
    case WM_APP:
        if (p->defaultButton != -1) {
            // Through the dialog manager, which keeps the focus it gives back whenever the box is
            // activated: a plain SetFocus would lose to an activation that comes later (the dialog
            // manager then focuses the first button, which makes itself the default).
            SendMessageA(window, DM_SETDEFID, static_cast<WPARAM>(p->defaultButton), 0);
            SendMessageA(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(window, p->defaultButton)), TRUE);
        }
        return TRUE;
    case WM_PAINT:
        if (!GetUpdateRect(window, nullptr, FALSE)) {
            return FALSE;
        }
        Paint(window, p);
        return TRUE;
    case WM_MEASUREITEM:
        MeasureButton(window, reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_DRAWITEM:
        if (reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)->CtlType == ODT_BUTTON) {
            DrawButton(window, p, reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        }
        return TRUE;
    case WM_TIMER:
        if (wParam == MESSAGE_BOX_HELP_TIMER) {
            PollF1(window, p);
        }
        return TRUE;
    case WM_CLOSE:
        EndDialog(window, ResultOfLast(p->style & MB_TYPEMASK));
        return TRUE;
    case WM_COMMAND:
        if (HIWORD(wParam) != 0 && HIWORD(wParam) != BN_CLICKED) {
            return FALSE;
        }
        Command(window, p, wParam);
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
