#pragma once
// Reference-counted font objects: one GDI font made from a LOGFONT, with the text operations the
// message box draws with. The last release destroys the object and its font.
#include <windows.h>

struct FontObject;

const int FONT_METRICS_TEXT = 3; // the kind of metrics FontGetMetrics answers

FontObject* FontCreate(const LOGFONTA* logFont); // one reference, or null
void FontAddRef(FontObject* font);
void FontRelease(FontObject* font); // null is ignored
HFONT FontHandle(const FontObject* font);

// Text metrics of the font in dc: 0 on success (kind must be FONT_METRICS_TEXT), else non-zero.
int FontGetMetrics(FontObject* font, int kind, HDC dc, TEXTMETRICA* metrics);
// DrawTextA with the font selected (DT_CALCRECT only measures): the text height, > 0 on success.
int FontDrawText(FontObject* font, HDC dc, const char* text, int length, RECT* rect, UINT flags, int reserved);
// ExtTextOutA with the font selected, at x, y, with the options and clip rectangle given.
BOOL FontTextOut(FontObject* font, HDC dc, int x, int y, UINT options, const RECT* clip, const char* text, int length,
                 int reserved);
