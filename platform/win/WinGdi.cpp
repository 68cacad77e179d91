#include "WinGdi.h"

#include "HandleTable.h"
#include "WinSeams.h"

#include <memory>
#include <mutex>

namespace {

struct DeviceContext {
    HWND window = nullptr;
};

struct GdiState {
    std::mutex lock;
    HandleTable<DeviceContext> contexts;
};

GdiState& State() {
    static GdiState* state = new GdiState;
    return *state;
}

std::uint32_t ToId(HDC dc) {
    const auto value = reinterpret_cast<std::uintptr_t>(dc);
    return value > 0xFFFFFFFFu ? 0 : static_cast<std::uint32_t>(value);
}

} // namespace

HDC WinGdi::CreateWindowDC(HWND window) {
    if (!IsWindow(window))
        return nullptr;
    auto context = std::make_shared<DeviceContext>();
    context->window = window;
    std::lock_guard<std::mutex> guard(State().lock);
    const std::uint32_t id = State().contexts.Insert(std::move(context));
    return reinterpret_cast<HDC>(static_cast<std::uintptr_t>(id));
}

bool WinGdi::ReleaseWindowDC(HWND window, HDC dc) {
    std::lock_guard<std::mutex> guard(State().lock);
    std::shared_ptr<DeviceContext> context = State().contexts.Find(ToId(dc));
    if (!context || context->window != window)
        return false;
    State().contexts.Erase(ToId(dc));
    return true;
}

int GetDeviceCaps(HDC dc, int index) {
    HWND window;
    {
        std::lock_guard<std::mutex> guard(State().lock);
        std::shared_ptr<DeviceContext> context = State().contexts.Find(ToId(dc));
        if (!context)
            return 0;
        window = context->window;
    }
    switch (index) {
    case LOGPIXELSX:
    case LOGPIXELSY:
        return static_cast<int>(WinSeams::ScreenDpi());
    case HORZRES:
    case VERTRES: {
        RECT rect{};
        if (!GetClientRect(window, &rect))
            return 0;
        return index == HORZRES ? rect.right - rect.left : rect.bottom - rect.top;
    }
    default:
        return 0;
    }
}
