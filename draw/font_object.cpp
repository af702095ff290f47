#include "draw/font_object.h"

#include "support/memory.h"

#include <string.h>

struct FontObject {
    volatile LONG references;
    HFONT font;
};

namespace {

// Selects the font into dc for the life of a scope.
class Selected {
  public:
    Selected(HDC dc, HFONT font) : dc_(dc), old_(static_cast<HFONT>(SelectObject(dc, font))) {}
    ~Selected()
    {
        if (old_ != nullptr && old_ != HGDI_ERROR) {
            SelectObject(dc_, old_);
        }
    }
    Selected(const Selected&) = delete;
    Selected& operator=(const Selected&) = delete;
    bool ok() const { return old_ != nullptr && old_ != HGDI_ERROR; }

  private:
    HDC dc_;
    HFONT old_;
};

} // namespace

FontObject* FontCreate(const LOGFONTA* logFont)
{
    if (logFont == nullptr) {
        return nullptr;
    }
    FontObject* f = static_cast<FontObject*>(MemAlloc(sizeof(FontObject)));
    if (f == nullptr) {
        return nullptr;
    }
    f->font = CreateFontIndirectA(logFont);
    if (f->font == nullptr) {
        MemFree(f);
        return nullptr;
    }
    f->references = 1;
    return f;
}

void FontAddRef(FontObject* font)
{
    if (font != nullptr) {
        InterlockedIncrement(&font->references);
    }
}

void FontRelease(FontObject* font)
{
    if (font != nullptr && InterlockedDecrement(&font->references) == 0) {
        DeleteObject(font->font);
        MemFree(font);
    }
}

HFONT FontHandle(const FontObject* font)
{
    return font != nullptr ? font->font : nullptr;
}

int FontGetMetrics(FontObject* font, int kind, HDC dc, TEXTMETRICA* metrics)
{
    if (font == nullptr || kind != FONT_METRICS_TEXT || dc == nullptr || metrics == nullptr) {
        return 1;
    }
    Selected selected(dc, font->font);
    return selected.ok() && GetTextMetricsA(dc, metrics) ? 0 : 1;
}

int FontDrawText(FontObject* font, HDC dc, const char* text, int length, RECT* rect, UINT flags, int reserved)
{
    (void)reserved;
    if (font == nullptr || dc == nullptr || text == nullptr || rect == nullptr) {
        return 0;
    }
    Selected selected(dc, font->font);
    if (!selected.ok()) {
        return 0;
    }
    // An empty text still has the height of one line.
    if (length == 0 || text[0] == '\0') {
        TEXTMETRICA tm;
        if (!GetTextMetricsA(dc, &tm)) {
            return 0;
        }
        if (flags & DT_CALCRECT) {
            rect->right = rect->left;
            rect->bottom = rect->top + tm.tmHeight;
        }
        return tm.tmHeight;
    }
    return DrawTextA(dc, text, length, rect, flags);
}

BOOL FontTextOut(FontObject* font, HDC dc, int x, int y, UINT options, const RECT* clip, const char* text, int length,
                 int reserved)
{
    (void)reserved;
    if (font == nullptr || dc == nullptr || text == nullptr) {
        return FALSE;
    }
    Selected selected(dc, font->font);
    if (length < 0) {
        length = static_cast<int>(strlen(text));
    }
    return selected.ok() && ExtTextOutA(dc, x, y, options, clip, text, static_cast<UINT>(length), nullptr);
}
