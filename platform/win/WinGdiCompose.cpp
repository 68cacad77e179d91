// A window's pixels composed with its children's, for tests that look at a whole panel.
#include "WinGdiInternal.h"

#include "WinUserInternal.h"

#include <algorithm>

namespace {

struct Child {
    HWND window;
    RECT rect; // in the parent's client area
};

std::vector<Child> VisibleChildren(HWND window) {
    std::lock_guard<std::mutex> guard(WinUser::UserLock());
    std::vector<Child> children;
    std::shared_ptr<WinUser::WindowRecord> record = WinUser::FindWindowLocked(window);
    if (!record)
        return children;
    for (HWND child : record->children) {
        std::shared_ptr<WinUser::WindowRecord> c = WinUser::FindWindowLocked(child);
        if (c && (c->style & WS_VISIBLE))
            children.push_back(Child{child, c->rect});
    }
    return children;
}

} // namespace

bool WinGdiTest::ReadComposedPixels(HWND window, LONG* width, LONG* height,
                                    std::vector<std::uint32_t>* pixels) {
    LONG w = 0, h = 0;
    std::vector<std::uint32_t> own;
    if (!ReadWindowPixels(window, &w, &h, &own))
        return false;
    for (const Child& child : VisibleChildren(window)) {
        LONG cw = 0, ch = 0;
        std::vector<std::uint32_t> composed;
        if (!ReadComposedPixels(child.window, &cw, &ch, &composed))
            continue;
        for (LONG y = 0; y < ch; ++y) {
            const LONG ty = child.rect.top + y;
            if (ty < 0 || ty >= h)
                continue;
            for (LONG x = 0; x < cw; ++x) {
                const LONG tx = child.rect.left + x;
                if (tx < 0 || tx >= w)
                    continue;
                std::uint32_t& target = own[static_cast<std::size_t>(ty) * w + tx];
                target = WinGdi::PixelOver(composed[static_cast<std::size_t>(y) * cw + x], target);
            }
        }
    }
    if (width)
        *width = w;
    if (height)
        *height = h;
    if (pixels)
        *pixels = std::move(own);
    return true;
}
