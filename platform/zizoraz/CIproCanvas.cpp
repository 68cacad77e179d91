#include "CIproCanvas.h"

#include "platform/win/WinGdi.h"

#include <cmath>

namespace {

struct SurfaceReleaser {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct ContextReleaser {
    void operator()(cairo_t* context) const { cairo_destroy(context); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceReleaser>;
using ContextPtr = std::unique_ptr<cairo_t, ContextReleaser>;

SurfacePtr Wrap(std::uint32_t* pixels, LONG width, LONG height) {
    return SurfacePtr(cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(pixels),
                                                          CAIRO_FORMAT_ARGB32, width, height, width * 4));
}

} // namespace

CIproCanvas::CIproCanvas(std::shared_ptr<CIproImage> image) : m_image(std::move(image)) {
    cairo_matrix_init_identity(&m_transform);
}

CIproCanvas::CIproCanvas(HDC dc) : m_dc(dc) {
    cairo_matrix_init_identity(&m_transform);
}

cairo_matrix_t CIproCanvas::Transform() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_transform;
}

bool CIproCanvas::SetTransform(const cairo_matrix_t& transform) {
    for (double value :
         {transform.xx, transform.yx, transform.xy, transform.yy, transform.x0, transform.y0}) {
        if (!std::isfinite(value))
            return false;
    }
    cairo_matrix_t inverse = transform;
    if (cairo_matrix_invert(&inverse) != CAIRO_STATUS_SUCCESS)
        return false;
    std::lock_guard<std::mutex> guard(m_lock);
    m_transform = transform;
    return true;
}

bool CIproCanvas::Paint(CIproImage* source, const Painter& painter) {
    const cairo_matrix_t transform = Transform();
    std::shared_ptr<WinSurface> surface; // a context's surface, kept for the call
    std::mutex* targetLock = nullptr;
    if (m_image) {
        targetLock = &m_image->lock;
    } else {
        surface = WinGdi::SurfaceOfDC(m_dc);
        if (!surface)
            return false;
        targetLock = &surface->lock;
    }
    const bool intoItself = source && &source->lock == targetLock;
    std::unique_lock<std::mutex> targetGuard(*targetLock, std::defer_lock);
    std::unique_lock<std::mutex> sourceGuard;
    if (source && !intoItself) {
        sourceGuard = std::unique_lock<std::mutex>(source->lock, std::defer_lock);
        std::lock(targetGuard, sourceGuard);
    } else {
        targetGuard.lock();
    }

    std::uint32_t* pixels = m_image ? m_image->pixels.argb.data() : surface->pixels.data();
    const LONG width = m_image ? m_image->pixels.width : surface->width;
    const LONG height = m_image ? m_image->pixels.height : surface->height;
    if (width < 1 || height < 1)
        return true;
    SurfacePtr target = Wrap(pixels, width, height);
    SurfacePtr sourceSurface;
    // An image drawn into itself is read from a copy, since cairo must not read what it writes.
    IproPixels sourceCopy;
    if (source) {
        IproPixels* from = &source->pixels;
        if (intoItself) {
            sourceCopy = source->pixels;
            from = &sourceCopy;
        }
        sourceSurface = Wrap(from->argb.data(), from->width, from->height);
        if (cairo_surface_status(sourceSurface.get()) != CAIRO_STATUS_SUCCESS)
            return false;
    }
    if (cairo_surface_status(target.get()) != CAIRO_STATUS_SUCCESS)
        return false;
    ContextPtr context(cairo_create(target.get()));
    cairo_set_matrix(context.get(), &transform);
    painter(context.get(), sourceSurface.get());
    const bool painted = cairo_status(context.get()) == CAIRO_STATUS_SUCCESS;
    context.reset();
    cairo_surface_flush(target.get());
    return painted;
}
