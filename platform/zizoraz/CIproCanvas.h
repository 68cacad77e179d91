// A canvas of the canvas library: where it draws (an image, or the surface behind a device context) and
// its transform. Each drawing call runs on a cairo context made over the target's pixels for that call
// only, so an image resized between calls is drawn at its new size and nothing keeps a stale buffer.
#pragma once

#include "CIproImage.h"

#include "platform/win/WinUser.h"

#include <cairo.h>

#include <functional>
#include <memory>
#include <mutex>

// A transform matrix named by a handle of its own.
struct CIproMatrix {
    explicit CIproMatrix(const cairo_matrix_t& initial) : value(initial) {}

    std::mutex lock;
    cairo_matrix_t value;
};

class CIproCanvas {
public:
    explicit CIproCanvas(std::shared_ptr<CIproImage> image);
    explicit CIproCanvas(HDC dc);

    // A painter gets the context, already carrying the canvas's transform, and the source image's
    // surface (null when the call draws no image).
    using Painter = std::function<void(cairo_t* context, cairo_surface_t* source)>;
    // Paints with the target (and the source image, when given) locked; false when the target is gone (a
    // released device context) or cairo fails. A target without pixels draws nothing and succeeds.
    bool Paint(CIproImage* source, const Painter& painter);

    cairo_matrix_t Transform() const;
    // Refused (false) for a matrix that cannot be inverted or holds values that are not finite.
    bool SetTransform(const cairo_matrix_t& transform);

private:
    std::shared_ptr<CIproImage> m_image;
    HDC m_dc = nullptr;
    mutable std::mutex m_lock; // over the transform
    cairo_matrix_t m_transform;
};
