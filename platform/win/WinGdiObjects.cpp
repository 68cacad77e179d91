// Brushes, fonts, system colours and the attributes of device contexts.
#include "WinGdiInternal.h"

#include "HandleTable.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace {

struct GdiObject {
    enum class Kind { kBrush, kFont, kBitmap, kRegion } kind = Kind::kBrush;
    bool system = false;
    bool hollow = false;
    COLORREF colour = 0;
    LOGFONTW font{};
    std::shared_ptr<WinSurface> bitmap;
    std::vector<RECT> region;
};

// The classic scheme, by system colour index.
constexpr std::array<COLORREF, 31> kSystemColours = {
    RGB(212, 208, 200), RGB(58, 110, 165),  RGB(10, 36, 106),   RGB(128, 128, 128), RGB(212, 208, 200),
    RGB(255, 255, 255), RGB(0, 0, 0),       RGB(0, 0, 0),       RGB(0, 0, 0),       RGB(255, 255, 255),
    RGB(212, 208, 200), RGB(212, 208, 200), RGB(128, 128, 128), RGB(10, 36, 106),   RGB(255, 255, 255),
    RGB(212, 208, 200), RGB(128, 128, 128), RGB(128, 128, 128), RGB(0, 0, 0),       RGB(212, 208, 200),
    RGB(255, 255, 255), RGB(64, 64, 64),    RGB(212, 208, 200), RGB(0, 0, 0),       RGB(255, 255, 225),
    RGB(181, 181, 181), RGB(0, 0, 128),     RGB(166, 202, 240), RGB(192, 192, 192), RGB(49, 106, 197),
    RGB(236, 233, 216)};

struct ObjectState {
    std::mutex lock;
    HandleTable<GdiObject> objects;
    std::array<std::uint32_t, kSystemColours.size()> systemBrushes{};
    std::array<std::uint32_t, DEFAULT_GUI_FONT + 1> stock{};
    DWORD live = 0; // objects that are not the system's
};

ObjectState& State() {
    static ObjectState* state = new ObjectState;
    return *state;
}

std::uint32_t IdOf(HGDIOBJ object) {
    const auto value = reinterpret_cast<std::uintptr_t>(object);
    return value > 0xFFFFFFFFu ? 0 : static_cast<std::uint32_t>(value);
}

HGDIOBJ HandleOf(std::uint32_t id) {
    return reinterpret_cast<HGDIOBJ>(static_cast<std::uintptr_t>(id));
}

// With the lock held. 0 when out of handles or memory.
std::uint32_t InsertLocked(GdiObject object) {
    try {
        const std::uint32_t id = State().objects.Insert(std::make_shared<GdiObject>(object));
        if (id && !object.system)
            ++State().live;
        return id;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

GdiObject SystemBrush(COLORREF colour, bool hollow = false) {
    GdiObject brush;
    brush.system = true;
    brush.colour = colour;
    brush.hollow = hollow;
    return brush;
}

LOGFONTW SystemFontDescription() {
    LOGFONTW font{};
    font.lfHeight = -13;
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    std::wcsncpy(font.lfFaceName, L"Sans", LF_FACESIZE - 1);
    return font;
}

std::shared_ptr<GdiObject> FindLocked(HGDIOBJ object) {
    const std::uint32_t id = IdOf(object);
    return id ? State().objects.Find(id) : nullptr;
}

} // namespace

COLORREF GetSysColor(int index) {
    if (index < 0 || index >= static_cast<int>(kSystemColours.size()))
        return 0;
    return kSystemColours[static_cast<std::size_t>(index)];
}

HBRUSH GetSysColorBrush(int index) {
    if (index < 0 || index >= static_cast<int>(kSystemColours.size()))
        return nullptr;
    std::lock_guard<std::mutex> guard(State().lock);
    std::uint32_t& id = State().systemBrushes[static_cast<std::size_t>(index)];
    if (!id)
        id = InsertLocked(SystemBrush(kSystemColours[static_cast<std::size_t>(index)]));
    return static_cast<HBRUSH>(HandleOf(id));
}

HGDIOBJ GetStockObject(int object) {
    if (object < 0 || object > DEFAULT_GUI_FONT)
        return nullptr;
    GdiObject stock;
    switch (object) {
    case WHITE_BRUSH:
        stock = SystemBrush(RGB(255, 255, 255));
        break;
    case LTGRAY_BRUSH:
        stock = SystemBrush(RGB(192, 192, 192));
        break;
    case GRAY_BRUSH:
        stock = SystemBrush(RGB(128, 128, 128));
        break;
    case DKGRAY_BRUSH:
        stock = SystemBrush(RGB(64, 64, 64));
        break;
    case BLACK_BRUSH:
        stock = SystemBrush(RGB(0, 0, 0));
        break;
    case NULL_BRUSH:
        stock = SystemBrush(0, true);
        break;
    case SYSTEM_FONT:
    case DEFAULT_GUI_FONT:
        stock.kind = GdiObject::Kind::kFont;
        stock.system = true;
        stock.font = SystemFontDescription();
        break;
    default:
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(State().lock);
    std::uint32_t& id = State().stock[static_cast<std::size_t>(object)];
    if (!id)
        id = InsertLocked(stock);
    return HandleOf(id);
}

HBRUSH CreateSolidBrush(COLORREF colour) {
    GdiObject brush;
    brush.colour = colour & 0x00FFFFFF;
    std::lock_guard<std::mutex> guard(State().lock);
    return static_cast<HBRUSH>(HandleOf(InsertLocked(brush)));
}

HFONT CreateFontIndirectW(const LOGFONTW* font) {
    if (!font) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    GdiObject object;
    object.kind = GdiObject::Kind::kFont;
    object.font = *font;
    object.font.lfFaceName[LF_FACESIZE - 1] = 0;
    std::lock_guard<std::mutex> guard(State().lock);
    return static_cast<HFONT>(HandleOf(InsertLocked(object)));
}

BOOL DeleteObject(HGDIOBJ object) {
    std::lock_guard<std::mutex> guard(State().lock);
    std::shared_ptr<GdiObject> found = FindLocked(object);
    if (!found)
        return FALSE;
    if (!found->system) {
        State().objects.Erase(IdOf(object));
        --State().live;
    }
    return TRUE;
}

int GetObjectW(HGDIOBJ object, int size, void* out) {
    std::lock_guard<std::mutex> guard(State().lock);
    std::shared_ptr<GdiObject> found = FindLocked(object);
    if (!found || !out)
        return 0;
    if (found->kind == GdiObject::Kind::kFont) {
        if (size < static_cast<int>(sizeof(LOGFONTW)))
            return 0;
        std::memcpy(out, &found->font, sizeof(LOGFONTW));
        return sizeof(LOGFONTW);
    }
    if (found->kind == GdiObject::Kind::kBitmap) {
        if (size < static_cast<int>(sizeof(BITMAP)))
            return 0;
        const BITMAP bitmap{
            0, found->bitmap->width, found->bitmap->height, found->bitmap->width * 4, 1, 32, nullptr};
        std::memcpy(out, &bitmap, sizeof(bitmap));
        return sizeof(BITMAP);
    }
    if (found->kind == GdiObject::Kind::kRegion || size < static_cast<int>(sizeof(LOGBRUSH)))
        return 0;
    const LOGBRUSH brush{found->hollow ? BS_NULL : BS_SOLID, found->colour, 0};
    std::memcpy(out, &brush, sizeof(brush));
    return sizeof(LOGBRUSH);
}

bool WinGdi::FontOf(HGDIOBJ object, LOGFONTW& font) {
    if (!object) {
        font = SystemFontDescription();
        return true;
    }
    std::lock_guard<std::mutex> guard(State().lock);
    std::shared_ptr<GdiObject> found = FindLocked(object);
    if (!found || found->kind != GdiObject::Kind::kFont)
        return false;
    font = found->font;
    return true;
}

HGDIOBJ WinGdi::CreateBitmapObject(std::shared_ptr<WinSurface> pixels) {
    if (!pixels)
        return nullptr;
    GdiObject object;
    object.kind = GdiObject::Kind::kBitmap;
    object.bitmap = std::move(pixels);
    std::lock_guard<std::mutex> guard(State().lock);
    return HandleOf(InsertLocked(std::move(object)));
}

std::shared_ptr<WinSurface> WinGdi::BitmapPixelsOf(HGDIOBJ object) {
    std::lock_guard<std::mutex> guard(State().lock);
    std::shared_ptr<GdiObject> found = FindLocked(object);
    return found && found->kind == GdiObject::Kind::kBitmap ? found->bitmap : nullptr;
}

HGDIOBJ WinGdi::CreateRegionObject(std::vector<RECT> rects) {
    GdiObject object;
    object.kind = GdiObject::Kind::kRegion;
    object.region = std::move(rects);
    std::lock_guard<std::mutex> guard(State().lock);
    return HandleOf(InsertLocked(std::move(object)));
}

bool WinGdi::RegionRectsOf(HGDIOBJ object, std::vector<RECT>& rects) {
    std::lock_guard<std::mutex> guard(State().lock);
    std::shared_ptr<GdiObject> found = FindLocked(object);
    if (!found || found->kind != GdiObject::Kind::kRegion)
        return false;
    rects = found->region;
    return true;
}

bool WinGdi::SetRegionRects(HGDIOBJ object, std::vector<RECT> rects) {
    std::lock_guard<std::mutex> guard(State().lock);
    std::shared_ptr<GdiObject> found = FindLocked(object);
    if (!found || found->kind != GdiObject::Kind::kRegion)
        return false;
    found->region = std::move(rects);
    return true;
}

bool WinGdi::BrushColourOf(HGDIOBJ object, COLORREF& colour, bool& hollow) {
    std::lock_guard<std::mutex> guard(State().lock);
    std::shared_ptr<GdiObject> found = FindLocked(object);
    if (!found || found->kind != GdiObject::Kind::kBrush)
        return false;
    colour = found->colour;
    hollow = found->hollow;
    return true;
}

COLORREF SetTextColor(HDC dc, COLORREF colour) {
    COLORREF previous = CLR_INVALID;
    WinGdi::ChangeAttributes(dc, [&](WinGdi::DcAttributes& a) { previous = std::exchange(a.text, colour); });
    return previous;
}

COLORREF GetTextColor(HDC dc) {
    WinGdi::DcAttributes attributes;
    return WinGdi::ReadAttributes(dc, attributes) ? attributes.text : CLR_INVALID;
}

COLORREF SetBkColor(HDC dc, COLORREF colour) {
    COLORREF previous = CLR_INVALID;
    WinGdi::ChangeAttributes(
        dc, [&](WinGdi::DcAttributes& a) { previous = std::exchange(a.background, colour); });
    return previous;
}

COLORREF GetBkColor(HDC dc) {
    WinGdi::DcAttributes attributes;
    return WinGdi::ReadAttributes(dc, attributes) ? attributes.background : CLR_INVALID;
}

int SetBkMode(HDC dc, int mode) {
    if (mode != TRANSPARENT && mode != OPAQUE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int previous = 0;
    WinGdi::ChangeAttributes(
        dc, [&](WinGdi::DcAttributes& a) { previous = std::exchange(a.backgroundMode, mode); });
    return previous;
}

int GetBkMode(HDC dc) {
    WinGdi::DcAttributes attributes;
    return WinGdi::ReadAttributes(dc, attributes) ? attributes.backgroundMode : 0;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
    bool isFont;
    {
        std::lock_guard<std::mutex> guard(State().lock);
        std::shared_ptr<GdiObject> found = FindLocked(object);
        // A region is never selected: it clips nothing here, and it is no brush.
        if (!found || found->kind == GdiObject::Kind::kBitmap || found->kind == GdiObject::Kind::kRegion)
            return nullptr;
        isFont = found->kind == GdiObject::Kind::kFont;
    }
    HGDIOBJ previous = nullptr;
    if (!WinGdi::ChangeAttributes(dc, [&](WinGdi::DcAttributes& a) {
            previous = std::exchange(isFont ? a.font : a.brush, object);
        }))
        return nullptr;
    if (isFont && !previous)
        previous = GetStockObject(SYSTEM_FONT);
    return previous;
}

HGDIOBJ GetCurrentObject(HDC dc, UINT type) {
    WinGdi::DcAttributes attributes;
    if (!WinGdi::ReadAttributes(dc, attributes))
        return nullptr;
    if (type == OBJ_FONT)
        return attributes.font ? attributes.font : GetStockObject(SYSTEM_FONT);
    if (type == OBJ_BRUSH)
        return attributes.brush ? attributes.brush : GetStockObject(WHITE_BRUSH);
    return nullptr;
}

int MulDiv(int a, int b, int c) {
    if (c == 0)
        return -1;
    const long long product = static_cast<long long>(a) * b;
    const long long divisor = c;
    const bool negative = (product < 0) != (divisor < 0);
    const unsigned long long magnitude = static_cast<unsigned long long>(product < 0 ? -product : product);
    const unsigned long long by = static_cast<unsigned long long>(divisor < 0 ? -divisor : divisor);
    const unsigned long long rounded = (magnitude + by / 2) / by;
    if (rounded > (negative ? 2147483648ull : 2147483647ull))
        return -1;
    return negative ? static_cast<int>(-static_cast<long long>(rounded)) : static_cast<int>(rounded);
}

LRESULT WinGdi::DefaultControlColour(UINT message, HDC dc) {
    // Edit boxes stand on the window colour, everything else on the button face.
    const int background = message == WM_CTLCOLOREDIT ? COLOR_WINDOW : COLOR_BTNFACE;
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    SetBkColor(dc, GetSysColor(background));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(background));
}

DWORD WinGdiTest::LiveObjects() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().live;
}
