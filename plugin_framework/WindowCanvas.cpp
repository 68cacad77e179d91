#include "WindowCanvas.h"

namespace {

// Windows and controls alike: whatever gives out device contexts and takes them back.
template <class Owner>
bool CreateCanvasOf(Owner* owner, TiProCanvas*& canvas, HDC& dc) {
    if (!owner)
        return false;
    dc = owner->GetDC();
    canvas = TiProCanvas::CreateFromHDC(dc);
    if (!canvas && dc) {
        owner->ReleaseDC(dc);
        dc = nullptr;
    }
    return canvas != nullptr;
}

template <class Owner>
bool ReleaseCanvasOf(Owner* owner, TiProCanvas*& canvas, HDC dc) {
    if (!owner || !canvas)
        return false;
    canvas->Release();
    delete canvas;
    canvas = nullptr;
    return owner->ReleaseDC(dc);
}

} // namespace

bool CreateWindowCanvas(TWindow* window, TiProCanvas*& canvas, HDC& dc) {
    return CreateCanvasOf(window, canvas, dc);
}

bool ReleaseWindowCanvas(TWindow* window, TiProCanvas*& canvas, HDC dc) {
    return ReleaseCanvasOf(window, canvas, dc);
}

bool CreateControlCanvas(TControl* control, TiProCanvas*& canvas, HDC& dc) {
    return CreateCanvasOf(control, canvas, dc);
}

bool ReleaseControlCanvas(TControl* control, TiProCanvas*& canvas, HDC dc) {
    return ReleaseCanvasOf(control, canvas, dc);
}
