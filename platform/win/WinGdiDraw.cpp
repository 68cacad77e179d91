// Rectangles, frames, composed drawing and text in the pixels behind device contexts.
#include "WinGdiDraw.h"

#include "WinGdiInternal.h"
#include "utf16.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

// The surface of a context, locked for as long as the painter lives.
class Painter {
public:
    explicit Painter(HDC dc) : m_surface(WinGdi::SurfaceOfDC(dc)) {
        if (m_surface)
            m_guard = std::unique_lock<std::mutex>(m_surface->lock);
    }
    explicit operator bool() const { return m_surface != nullptr; }
    WinSurface& Surface() { return *m_surface; }

    void Fill(RECT rect, std::uint32_t pixel) {
        if (!WinGdi::ClipToSurface(*m_surface, rect))
            return;
        for (LONG y = rect.top; y < rect.bottom; ++y)
            std::fill_n(Row(y) + rect.left, rect.right - rect.left, pixel);
    }
    void Put(LONG x, LONG y, std::uint32_t pixel) {
        if (x >= 0 && y >= 0 && x < m_surface->width && y < m_surface->height)
            Row(y)[x] = pixel;
    }
    std::uint32_t* At(LONG x, LONG y) {
        return x >= 0 && y >= 0 && x < m_surface->width && y < m_surface->height ? Row(y) + x : nullptr;
    }
    // Edges one pixel wide: top and left in one colour, bottom and right in the other.
    void Edge(const RECT& r, std::uint32_t topLeft, std::uint32_t bottomRight) {
        if (r.right <= r.left || r.bottom <= r.top)
            return;
        Fill(RECT{r.left, r.top, r.right, r.top + 1}, topLeft);
        Fill(RECT{r.left, r.top, r.left + 1, r.bottom}, topLeft);
        Fill(RECT{r.left, r.bottom - 1, r.right, r.bottom}, bottomRight);
        Fill(RECT{r.right - 1, r.top, r.right, r.bottom}, bottomRight);
    }

private:
    std::uint32_t* Row(LONG y) {
        return m_surface->pixels.data() + static_cast<std::ptrdiff_t>(y) * m_surface->width;
    }

    std::shared_ptr<WinSurface> m_surface;
    std::unique_lock<std::mutex> m_guard;
};

std::uint32_t SystemPixel(int index) {
    return WinGdi::OpaquePixel(GetSysColor(index));
}

RECT Inset(RECT r, int by) {
    InflateRect(&r, -by, -by);
    return r;
}

// A pale grey of the pixel's brightness, keeping its coverage: how a disabled picture looks.
std::uint32_t Greyed(std::uint32_t pixel) {
    const std::uint32_t alpha = pixel >> 24;
    const std::uint32_t r = pixel >> 16 & 0xFF, g = pixel >> 8 & 0xFF, b = pixel & 0xFF;
    const std::uint32_t brightness = (77 * r + 150 * g + 29 * b) >> 8;
    const std::uint32_t grey = std::min(alpha, (alpha * 128 + 127) / 255 + brightness / 2);
    return alpha << 24 | grey << 16 | grey << 8 | grey;
}

struct CairoSurfaceReleaser {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct CairoReleaser {
    void operator()(cairo_t* context) const { cairo_destroy(context); }
};

// The cairo size of a font whose LOGFONT height is given: negative heights are the character height,
// positive ones the cell height (ascent and descent together), 0 the system font's.
double FontSize(cairo_t* context, LONG height) {
    if (height < 0)
        return -static_cast<double>(height);
    if (height == 0)
        return 13.0;
    cairo_set_font_size(context, height);
    cairo_font_extents_t extents;
    cairo_font_extents(context, &extents);
    const double cell = extents.ascent + extents.descent;
    return cell > 0 ? height * height / cell : height;
}

void SelectFont(cairo_t* context, const LOGFONTW& font) {
    const std::string face = Utf::WideToUtf8(font.lfFaceName);
    cairo_select_font_face(context, face.empty() ? "Sans" : face.c_str(),
                           font.lfItalic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                           font.lfWeight >= 600 ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(context, FontSize(context, font.lfHeight));
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options,
                                     font.lfQuality == 3 ? CAIRO_ANTIALIAS_NONE : CAIRO_ANTIALIAS_GRAY);
    cairo_set_font_options(context, options);
    cairo_font_options_destroy(options);
}

std::vector<std::string> Lines(const std::wstring& text, bool single) {
    std::vector<std::string> lines;
    std::wstring current;
    for (wchar_t c : text) {
        if (c == L'\n' && !single) {
            lines.push_back(Utf::WideToUtf8(current));
            current.clear();
        } else if (c != L'\r') {
            current.push_back(c == L'\n' ? L' ' : c);
        }
    }
    lines.push_back(Utf::WideToUtf8(current));
    return lines;
}

} // namespace

bool WinGdi::ClipToSurface(const WinSurface& surface, RECT& rect) {
    rect.left = std::max<LONG>(rect.left, 0);
    rect.top = std::max<LONG>(rect.top, 0);
    rect.right = std::min<LONG>(rect.right, surface.width);
    rect.bottom = std::min<LONG>(rect.bottom, surface.height);
    return rect.left < rect.right && rect.top < rect.bottom;
}

BOOL SetRect(RECT* rect, int left, int top, int right, int bottom) {
    if (!rect)
        return FALSE;
    *rect = RECT{left, top, right, bottom};
    return TRUE;
}

BOOL InflateRect(RECT* rect, int dx, int dy) {
    if (!rect)
        return FALSE;
    rect->left -= dx;
    rect->top -= dy;
    rect->right += dx;
    rect->bottom += dy;
    return TRUE;
}

BOOL OffsetRect(RECT* rect, int dx, int dy) {
    if (!rect)
        return FALSE;
    rect->left += dx;
    rect->right += dx;
    rect->top += dy;
    rect->bottom += dy;
    return TRUE;
}

BOOL PtInRect(const RECT* rect, POINT point) {
    return rect && point.x >= rect->left && point.x < rect->right && point.y >= rect->top &&
                   point.y < rect->bottom
               ? TRUE
               : FALSE;
}

namespace {

// Paints the rectangle with the brush's pixel; a hollow brush paints nothing. 0 for a bad brush or context.
template <class Paint>
int WithBrush(HDC dc, const RECT* rect, HBRUSH brush, Paint paint) {
    COLORREF colour = 0;
    bool hollow = false;
    if (!rect || !WinGdi::BrushColourOf(brush, colour, hollow))
        return 0;
    Painter painter(dc);
    if (!painter)
        return 0;
    if (!hollow)
        paint(painter, *rect, WinGdi::OpaquePixel(colour));
    return 1;
}

} // namespace

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
    return WithBrush(dc, rect, brush,
                     [](Painter& painter, const RECT& r, std::uint32_t pixel) { painter.Fill(r, pixel); });
}

int FrameRect(HDC dc, const RECT* rect, HBRUSH brush) {
    return WithBrush(dc, rect, brush, [](Painter& painter, const RECT& r, std::uint32_t pixel) {
        painter.Edge(r, pixel, pixel);
    });
}

BOOL DrawFocusRect(HDC dc, const RECT* rect) {
    if (!rect)
        return FALSE;
    Painter painter(dc);
    if (!painter)
        return FALSE;
    const RECT& r = *rect;
    if (r.right <= r.left || r.bottom <= r.top)
        return TRUE;
    auto invert = [&](LONG x, LONG y) {
        if ((x + y) % 2 != 0)
            return;
        if (std::uint32_t* pixel = painter.At(x, y))
            *pixel = (*pixel ^ 0x00FFFFFFu) | 0xFF000000u;
    };
    for (LONG x = r.left; x < r.right; ++x) {
        invert(x, r.top);
        if (r.bottom - 1 > r.top)
            invert(x, r.bottom - 1);
    }
    for (LONG y = r.top + 1; y < r.bottom - 1; ++y) {
        invert(r.left, y);
        if (r.right - 1 > r.left)
            invert(r.right - 1, y);
    }
    return TRUE;
}

BOOL DrawFrameControl(HDC dc, RECT* rect, UINT type, UINT state) {
    if (!rect || type != DFC_BUTTON)
        return FALSE;
    Painter painter(dc);
    if (!painter)
        return FALSE;
    const RECT outer = *rect;
    const RECT inner = Inset(outer, 1);
    if (state & DFCS_BUTTONPUSH) {
        if (state & DFCS_PUSHED) {
            painter.Edge(outer, SystemPixel(COLOR_3DDKSHADOW), SystemPixel(COLOR_BTNHIGHLIGHT));
            painter.Edge(inner, SystemPixel(COLOR_BTNSHADOW), SystemPixel(COLOR_3DLIGHT));
        } else {
            painter.Edge(outer, SystemPixel(COLOR_BTNHIGHLIGHT), SystemPixel(COLOR_3DDKSHADOW));
            painter.Edge(inner, SystemPixel(COLOR_3DLIGHT), SystemPixel(COLOR_BTNSHADOW));
        }
        painter.Fill(Inset(outer, 2), SystemPixel(COLOR_BTNFACE));
        return TRUE;
    }
    // Check boxes and radio buttons.
    painter.Edge(outer, SystemPixel(COLOR_BTNSHADOW), SystemPixel(COLOR_BTNHIGHLIGHT));
    painter.Edge(inner, SystemPixel(COLOR_3DDKSHADOW), SystemPixel(COLOR_3DLIGHT));
    const bool inactive = (state & (DFCS_INACTIVE | DFCS_PUSHED)) != 0;
    painter.Fill(Inset(outer, 2), SystemPixel(inactive ? COLOR_BTNFACE : COLOR_WINDOW));
    if (state & DFCS_CHECKED)
        painter.Fill(Inset(outer, 4),
                     SystemPixel((state & DFCS_INACTIVE) ? COLOR_GRAYTEXT : COLOR_WINDOWTEXT));
    return TRUE;
}

BOOL DrawStateW(HDC dc, HBRUSH, DRAWSTATEPROC callback, LPARAM data, WPARAM extra, int x, int y, int width,
                int height, UINT flags) {
    if ((flags & 0x000F) != DST_COMPLEX || !callback || width <= 0 || height <= 0 ||
        !WinGdi::SurfaceOfDC(dc)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::shared_ptr<WinSurface> scratch;
    try {
        scratch = std::make_shared<WinSurface>(width, height);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    HDC scratchDC = WinGdi::CreateSurfaceDC(scratch);
    if (!scratchDC)
        return FALSE;
    const BOOL drawn = callback(scratchDC, data, extra, width, height);
    WinGdi::DeleteSurfaceDC(scratchDC);
    if (!drawn)
        return FALSE;
    std::vector<std::uint32_t> pixels;
    {
        std::lock_guard<std::mutex> guard(scratch->lock);
        pixels = scratch->pixels;
    }
    const bool disabled = (flags & DSS_DISABLED) != 0;
    Painter painter(dc);
    if (!painter)
        return FALSE;
    for (LONG row = 0; row < scratch->height; ++row) {
        for (LONG column = 0; column < scratch->width; ++column) {
            std::uint32_t source = pixels[static_cast<std::size_t>(row) * scratch->width + column];
            if (!(source >> 24))
                continue;
            if (std::uint32_t* target = painter.At(x + column, y + row))
                *target = WinGdi::PixelOver(disabled ? Greyed(source) : source, *target);
        }
    }
    return TRUE;
}

int DrawTextW(HDC dc, const wchar_t* text, int count, RECT* rect, UINT format) {
    WinGdi::DcAttributes attributes;
    LOGFONTW font{};
    if (!text || !rect || !WinGdi::ReadAttributes(dc, attributes))
        return 0;
    // A font deleted while the context still had it selected gives way to the system font.
    if (!WinGdi::FontOf(attributes.font, font))
        WinGdi::FontOf(nullptr, font);
    const std::wstring whole =
        count < 0 ? std::wstring(text) : std::wstring(text, static_cast<std::size_t>(count));
    const std::vector<std::string> lines = Lines(whole, (format & DT_SINGLELINE) != 0);

    // Text is measured on a scratch surface, so that measuring needs no lock on the target.
    std::unique_ptr<cairo_surface_t, CairoSurfaceReleaser> scratch(
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1));
    std::unique_ptr<cairo_t, CairoReleaser> measure(cairo_create(scratch.get()));
    SelectFont(measure.get(), font);
    cairo_font_extents_t fontExtents;
    cairo_font_extents(measure.get(), &fontExtents);
    const double lineHeight = std::ceil(fontExtents.ascent + fontExtents.descent);
    std::vector<double> widths;
    double widest = 0;
    for (const std::string& line : lines) {
        cairo_text_extents_t extents;
        cairo_text_extents(measure.get(), line.c_str(), &extents);
        widths.push_back(std::ceil(extents.x_advance));
        widest = std::max(widest, widths.back());
    }
    const int textHeight = static_cast<int>(lineHeight * static_cast<double>(lines.size()));
    if (format & DT_CALCRECT) {
        rect->right = rect->left + static_cast<LONG>(widest);
        rect->bottom = rect->top + textHeight;
        return textHeight;
    }

    Painter painter(dc);
    if (!painter)
        return 0;
    WinSurface& surface = painter.Surface();
    if (surface.width < 1 || surface.height < 1)
        return textHeight;
    std::unique_ptr<cairo_surface_t, CairoSurfaceReleaser> target(cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(surface.pixels.data()), CAIRO_FORMAT_ARGB32, surface.width,
        surface.height, surface.width * 4));
    if (cairo_surface_status(target.get()) != CAIRO_STATUS_SUCCESS)
        return 0;
    std::unique_ptr<cairo_t, CairoReleaser> context(cairo_create(target.get()));
    SelectFont(context.get(), font);
    if (!(format & DT_NOCLIP)) {
        cairo_rectangle(context.get(), rect->left, rect->top, rect->right - rect->left,
                        rect->bottom - rect->top);
        cairo_clip(context.get());
    }
    double y = rect->top;
    if ((format & DT_SINGLELINE) && (format & DT_VCENTER))
        y = rect->top + std::floor((rect->bottom - rect->top - lineHeight) / 2);
    else if ((format & DT_SINGLELINE) && (format & DT_BOTTOM))
        y = rect->bottom - lineHeight;
    for (std::size_t i = 0; i < lines.size(); ++i, y += lineHeight) {
        double x = rect->left;
        if (format & DT_CENTER)
            x = rect->left + std::floor((rect->right - rect->left - widths[i]) / 2);
        else if (format & DT_RIGHT)
            x = rect->right - widths[i];
        if (attributes.backgroundMode == OPAQUE) {
            const COLORREF b = attributes.background;
            cairo_set_source_rgb(context.get(), GetRValue(b) / 255.0, GetGValue(b) / 255.0,
                                 GetBValue(b) / 255.0);
            cairo_rectangle(context.get(), x, y, widths[i], lineHeight);
            cairo_fill(context.get());
        }
        const COLORREF t = attributes.text;
        cairo_set_source_rgb(context.get(), GetRValue(t) / 255.0, GetGValue(t) / 255.0, GetBValue(t) / 255.0);
        cairo_move_to(context.get(), x, y + fontExtents.ascent);
        cairo_show_text(context.get(), lines[i].c_str());
    }
    context.reset();
    cairo_surface_flush(target.get());
    return textHeight;
}
