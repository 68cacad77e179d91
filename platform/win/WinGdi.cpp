#include "HandleTable.h"
#include "WinGdiInternal.h"
#include "WinSeams.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <new>

namespace {

struct DeviceContext {
    HWND window = nullptr; // null for a context of its own surface
    bool ownSurface = false;
    std::shared_ptr<WinSurface> surface;
    WinGdi::DcAttributes attributes;
    std::shared_ptr<WinGdi::PrinterContext> printer; // set for printer and information contexts only
};

// Lock order: the user services' lock, then this one, then a surface's own lock.
struct GdiState {
    std::mutex lock;
    HandleTable<DeviceContext> contexts;
    std::map<std::uint32_t, std::shared_ptr<WinSurface>> surfaces; // by window handle value
};

GdiState& State() {
    static GdiState* state = new GdiState;
    return *state;
}

std::uint32_t ToId(const void* handle) {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    return value > 0xFFFFFFFFu ? 0 : static_cast<std::uint32_t>(value);
}

LONG ClampSide(LONG side) {
    return std::clamp<LONG>(side, 0, WinSurface::kMaxSide);
}

// A surface of the new size holding what fits of the old one's pixels; null when there is no memory for it.
std::shared_ptr<WinSurface> RemadeSurface(const std::shared_ptr<WinSurface>& old, LONG width, LONG height) {
    std::shared_ptr<WinSurface> fresh;
    try {
        fresh = std::make_shared<WinSurface>(width, height);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (old) {
        std::lock_guard<std::mutex> guard(old->lock);
        const LONG rows = std::min(old->height, fresh->height);
        const LONG columns = std::min(old->width, fresh->width);
        for (LONG y = 0; y < rows; ++y)
            std::copy_n(old->pixels.begin() + static_cast<std::ptrdiff_t>(y) * old->width, columns,
                        fresh->pixels.begin() + static_cast<std::ptrdiff_t>(y) * fresh->width);
    }
    return fresh;
}

// The window's surface for its client size as it is now; null for an invalid window. No lock is held on
// entry: the client size is asked of the user services first.
std::shared_ptr<WinSurface> CurrentSurface(HWND window) {
    RECT client{};
    if (!GetClientRect(window, &client))
        return nullptr;
    const LONG width = ClampSide(client.right - client.left);
    const LONG height = ClampSide(client.bottom - client.top);
    std::shared_ptr<WinSurface> surface;
    {
        std::lock_guard<std::mutex> guard(State().lock);
        std::shared_ptr<WinSurface>& slot = State().surfaces[ToId(window)];
        if (slot && slot->width == width && slot->height == height)
            return slot;
        if (std::shared_ptr<WinSurface> fresh = RemadeSurface(slot, width, height))
            slot = std::move(fresh);
        if (!slot) {
            State().surfaces.erase(ToId(window));
            return nullptr;
        }
        surface = slot;
    }
    // A window destroyed on its thread meanwhile had its surface forgotten before this one was entered.
    if (!IsWindow(window))
        WinGdi::ForgetWindowSurface(window);
    return surface;
}

} // namespace

WinSurface::WinSurface(LONG requestedWidth, LONG requestedHeight)
    : width(ClampSide(requestedWidth)), height(ClampSide(requestedHeight)),
      pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0u) {}

HDC WinGdi::CreateWindowDC(HWND window) {
    if (!IsWindow(window))
        return nullptr;
    auto context = std::make_shared<DeviceContext>();
    context->window = window;
    context->surface = CurrentSurface(window);
    std::lock_guard<std::mutex> guard(State().lock);
    const std::uint32_t id = State().contexts.Insert(std::move(context));
    return reinterpret_cast<HDC>(static_cast<std::uintptr_t>(id));
}

bool WinGdi::ReleaseWindowDC(HWND window, HDC dc) {
    std::lock_guard<std::mutex> guard(State().lock);
    std::shared_ptr<DeviceContext> context = State().contexts.Find(ToId(dc));
    if (!context || context->ownSurface || context->window != window)
        return false;
    State().contexts.Erase(ToId(dc));
    return true;
}

HDC WinGdi::CreateSurfaceDC(std::shared_ptr<WinSurface> surface) {
    if (!surface)
        return nullptr;
    auto context = std::make_shared<DeviceContext>();
    context->ownSurface = true;
    context->surface = std::move(surface);
    std::lock_guard<std::mutex> guard(State().lock);
    const std::uint32_t id = State().contexts.Insert(std::move(context));
    return reinterpret_cast<HDC>(static_cast<std::uintptr_t>(id));
}

bool WinGdi::DeleteSurfaceDC(HDC dc) {
    std::lock_guard<std::mutex> guard(State().lock);
    std::shared_ptr<DeviceContext> context = State().contexts.Find(ToId(dc));
    if (!context || !context->ownSurface)
        return false;
    State().contexts.Erase(ToId(dc));
    return true;
}

HDC WinGdi::CreatePrinterDC(std::shared_ptr<PrinterContext> printer) {
    if (!printer)
        return nullptr;
    auto context = std::make_shared<DeviceContext>();
    context->printer = std::move(printer);
    std::lock_guard<std::mutex> guard(State().lock);
    const std::uint32_t id = State().contexts.Insert(std::move(context));
    return reinterpret_cast<HDC>(static_cast<std::uintptr_t>(id));
}

std::shared_ptr<WinGdi::PrinterContext> WinGdi::PrinterOfDC(HDC dc) {
    std::lock_guard<std::mutex> guard(State().lock);
    std::shared_ptr<DeviceContext> context = State().contexts.Find(ToId(dc));
    return context ? context->printer : nullptr;
}

std::shared_ptr<WinGdi::PrinterContext> WinGdi::TakePrinterDC(HDC dc) {
    std::lock_guard<std::mutex> guard(State().lock);
    std::shared_ptr<DeviceContext> context = State().contexts.Find(ToId(dc));
    if (!context || !context->printer)
        return nullptr;
    State().contexts.Erase(ToId(dc));
    return context->printer;
}

bool WinGdi::ReadAttributes(HDC dc, DcAttributes& attributes) {
    std::lock_guard<std::mutex> guard(State().lock);
    std::shared_ptr<DeviceContext> context = State().contexts.Find(ToId(dc));
    if (!context)
        return false;
    attributes = context->attributes;
    return true;
}

bool WinGdi::ChangeAttributes(HDC dc, const std::function<void(DcAttributes&)>& change) {
    std::lock_guard<std::mutex> guard(State().lock);
    std::shared_ptr<DeviceContext> context = State().contexts.Find(ToId(dc));
    if (!context)
        return false;
    change(context->attributes);
    return true;
}

std::shared_ptr<WinSurface> WinGdi::SurfaceOfDC(HDC dc) {
    std::lock_guard<std::mutex> guard(State().lock);
    std::shared_ptr<DeviceContext> context = State().contexts.Find(ToId(dc));
    return context ? context->surface : nullptr;
}

void WinGdi::ForgetWindowSurface(HWND window) {
    std::shared_ptr<WinSurface> gone;
    std::lock_guard<std::mutex> guard(State().lock);
    auto it = State().surfaces.find(ToId(window));
    if (it != State().surfaces.end()) {
        gone = std::move(it->second);
        State().surfaces.erase(it);
    }
}

bool WinGdi::CopySurface(const std::shared_ptr<WinSurface>& surface, LONG* width, LONG* height,
                         std::vector<std::uint32_t>* pixels) {
    if (!surface)
        return false;
    std::lock_guard<std::mutex> guard(surface->lock);
    if (width)
        *width = surface->width;
    if (height)
        *height = surface->height;
    if (pixels)
        *pixels = surface->pixels;
    return true;
}

bool WinGdiTest::ReadWindowPixels(HWND window, LONG* width, LONG* height,
                                  std::vector<std::uint32_t>* pixels) {
    return WinGdi::CopySurface(CurrentSurface(window), width, height, pixels);
}

int GetDeviceCaps(HDC dc, int index) {
    HWND window;
    std::shared_ptr<WinSurface> own;
    std::shared_ptr<WinGdi::PrinterContext> printer;
    {
        std::lock_guard<std::mutex> guard(State().lock);
        std::shared_ptr<DeviceContext> context = State().contexts.Find(ToId(dc));
        if (!context)
            return 0;
        window = context->window;
        if (context->ownSurface)
            own = context->surface;
        printer = context->printer;
    }
    if (printer)
        return printer->DeviceCaps(index);
    switch (index) {
    case LOGPIXELSX:
    case LOGPIXELSY:
        return static_cast<int>(WinSeams::ScreenDpi());
    case HORZRES:
    case VERTRES: {
        if (own)
            return index == HORZRES ? own->width : own->height;
        RECT rect{};
        if (!GetClientRect(window, &rect))
            return 0;
        return index == HORZRES ? rect.right - rect.left : rect.bottom - rect.top;
    }
    default:
        return 0;
    }
}
