#include "PageItemText.h"

#include "platform/win/utf16.h"
#include "platform/zizoraz/IproHandles.h"

#include <pango/pangocairo.h>

#include <cmath>
#include <memory>

namespace {

// The line a layout gives a font is about this much taller than the font's size.
constexpr double kLineSpacing = 1.2;
// Larger texts could overflow pango's units.
constexpr double kMaxPixels = 100000;

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

template <class T, void (*Free)(T*)>
struct Freer {
    void operator()(T* object) const { Free(object); }
};
void UnrefLayout(PangoLayout* layout) {
    g_object_unref(layout);
}
using LayoutOwner = std::unique_ptr<PangoLayout, Freer<PangoLayout, UnrefLayout>>;
using FontOwner =
    std::unique_ptr<PangoFontDescription, Freer<PangoFontDescription, pango_font_description_free>>;

PangoAlignment Alignment(const std::wstring& word) {
    if (word == L"center")
        return PANGO_ALIGN_CENTER;
    if (word == L"right")
        return PANGO_ALIGN_RIGHT;
    return PANGO_ALIGN_LEFT;
}

} // namespace

namespace PageItemText {

bool ParseColour(const std::wstring& text, DWORD& colour) {
    if ((text.size() != 7 && text.size() != 9) || text[0] != L'#')
        return false;
    DWORD bytes[4] = {0, 0, 0, 0xFF};
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        const int high = HexDigit(text[i + 1]), low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
        if (high < 0 || low < 0)
            return false;
        bytes[i / 2] = static_cast<DWORD>(high * 16 + low);
    }
    colour = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (bytes[3] << 24);
    return true;
}

bool Draw(IproHandle canvas, const std::wstring& text, const PageTextStyle& style, double left, double top,
          double width, double height) {
    if (text.empty() || !std::isfinite(style.lineHeight) || style.lineHeight <= 0 ||
        style.lineHeight > kMaxPixels || !(width > 0) || !(height > 0) || width > kMaxPixels ||
        height > kMaxPixels)
        return true;
    std::shared_ptr<CIproCanvas> target = IproHandles::FindCanvas(canvas);
    if (!target)
        return false;
    const std::string utf8 = Utf::WideToUtf8(text);
    const std::string face = Utf::WideToUtf8(style.face);
    return target->Paint(nullptr, [&](cairo_t* context, cairo_surface_t*) {
        LayoutOwner layout(pango_cairo_create_layout(context));
        FontOwner font(pango_font_description_new());
        if (!layout || !font)
            return;
        pango_font_description_set_family(font.get(), face.c_str());
        pango_font_description_set_weight(font.get(), style.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
        pango_font_description_set_style(font.get(), style.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
        pango_font_description_set_absolute_size(font.get(), style.lineHeight / kLineSpacing * PANGO_SCALE);
        pango_layout_set_font_description(layout.get(), font.get());
        pango_layout_set_width(layout.get(), static_cast<int>(width * PANGO_SCALE));
        pango_layout_set_height(layout.get(), static_cast<int>(height * PANGO_SCALE));
        pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
        pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_END);
        pango_layout_set_alignment(layout.get(), Alignment(style.alignment));
        pango_layout_set_text(layout.get(), utf8.data(), static_cast<int>(utf8.size()));
        cairo_rectangle(context, left, top, width, height);
        cairo_clip(context);
        cairo_set_source_rgba(context, (style.colour & 0xFF) / 255.0, ((style.colour >> 8) & 0xFF) / 255.0,
                              ((style.colour >> 16) & 0xFF) / 255.0, ((style.colour >> 24) & 0xFF) / 255.0);
        cairo_move_to(context, left, top);
        pango_cairo_show_layout(context, layout.get());
    });
}

} // namespace PageItemText
