#include "WindowCanvas.h"

bool CreateWindowCanvas(TWindow* window, TiProCanvas*& canvas, HDC& dc) {
    if (!window)
        return false;
    dc = window->GetDC();
    canvas = TiProCanvas::CreateFromHDC(dc);
    if (!canvas && dc) {
        window->ReleaseDC(dc);
        dc = nullptr;
    }
    return canvas != nullptr;
}

bool ReleaseWindowCanvas(TWindow* window, TiProCanvas*& canvas, HDC dc) {
    if (!window || !canvas)
        return false;
    canvas->Release();
    delete canvas;
    canvas = nullptr;
    return window->ReleaseDC(dc);
}
