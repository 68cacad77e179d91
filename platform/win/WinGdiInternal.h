// What the parts of the GDI share inside this library: the attributes a device context keeps, contexts
// over surfaces of their own (for drawing that is composed before it reaches a window), and the pixel
// helpers the drawing functions use.
#pragma once

#include "WinGdi.h"
#include "WinGdiObjects.h"

#include <functional>
#include <vector>

namespace WinGdi {

struct DcAttributes {
    COLORREF text = RGB(0, 0, 0);
    COLORREF background = RGB(255, 255, 255);
    int backgroundMode = OPAQUE;
    HGDIOBJ font = nullptr; // null: the system font
    HGDIOBJ brush = nullptr;
};

// False for an invalid context; change runs under the GDI lock and must not call back into the GDI.
bool ReadAttributes(HDC dc, DcAttributes& attributes);
bool ChangeAttributes(HDC dc, const std::function<void(DcAttributes&)>& change);

// A bitmap object over the pixels, which it keeps; null when out of handles. BitmapPixelsOf gives them
// back, null for a handle that is not a bitmap.
HGDIOBJ CreateBitmapObject(std::shared_ptr<WinSurface> pixels);
std::shared_ptr<WinSurface> BitmapPixelsOf(HGDIOBJ object);
// A region object over disjoint rectangles; null when out of handles. RegionRectsOf and SetRegionRects
// fail for a handle that is not a region.
HGDIOBJ CreateRegionObject(std::vector<RECT> rects);
bool RegionRectsOf(HGDIOBJ object, std::vector<RECT>& rects);
bool SetRegionRects(HGDIOBJ object, std::vector<RECT> rects);
// Copies what the surface holds into the places given (any may be null); false for no surface.
bool CopySurface(const std::shared_ptr<WinSurface>& surface, LONG* width, LONG* height,
                 std::vector<std::uint32_t>* pixels);

// A context of its own surface (which it keeps alive), not of a window; null when out of handles.
HDC CreateSurfaceDC(std::shared_ptr<WinSurface> surface);
bool DeleteSurfaceDC(HDC dc);

// What a printer or information context answers and keeps (WinSpool.h); it draws through its own cairo
// context, not into a surface.
struct PrinterContext {
    virtual ~PrinterContext() = default;
    virtual int DeviceCaps(int index) const = 0;
};
// A context of the printer; null when out of handles. PrinterOfDC is null for any other context;
// TakePrinterDC removes the context and gives back what it kept.
HDC CreatePrinterDC(std::shared_ptr<PrinterContext> printer);
std::shared_ptr<PrinterContext> PrinterOfDC(HDC dc);
std::shared_ptr<PrinterContext> TakePrinterDC(HDC dc);

// The opaque pixel of a colour.
constexpr std::uint32_t OpaquePixel(COLORREF colour) {
    return 0xFF000000u | static_cast<std::uint32_t>(GetRValue(colour)) << 16 |
           static_cast<std::uint32_t>(GetGValue(colour)) << 8 | GetBValue(colour);
}

// A premultiplied pixel laid over another.
inline std::uint32_t PixelOver(std::uint32_t source, std::uint32_t destination) {
    const std::uint32_t alpha = source >> 24;
    if (alpha == 0xFF)
        return source;
    std::uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const std::uint32_t s = source >> shift & 0xFF;
        const std::uint32_t d = destination >> shift & 0xFF;
        const std::uint32_t sum = s + (d * (255 - alpha) + 127) / 255;
        out |= (sum < 255 ? sum : 255) << shift;
    }
    return out;
}

// The rectangle cut to the surface; false when nothing of it is left.
bool ClipToSurface(const WinSurface& surface, RECT& rect);

} // namespace WinGdi
