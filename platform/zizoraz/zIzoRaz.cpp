// The library's calls: each looks its handles up, does its work on the shared objects, and answers 1 or 0;
// nothing thrown inside (memory shortage) gets past a call.
#include "zIzoRaz.h"

#include "CIproCanvas.h"
#include "IproCodecLoad.h"
#include "IproHandles.h"
#include "IproImageFile.h"
#include "IproResample.h"

#include "platform/win/WinGdi.h"

#include <cmath>
#include <initializer_list>
#include <numbers>

namespace {

constexpr LONG kMaxPoints = 100000;

template <class Body>
LONG Call(const char* name, IproHandle first, Body body) {
    IproHandles::Observe(name, first);
    try {
        return body() ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

bool Finite(std::initializer_list<float> values) {
    for (float value : values) {
        if (!std::isfinite(value))
            return false;
    }
    return true;
}

bool FinitePoints(const IproPointF* points, LONG count) {
    if (!points || count < 2 || count > kMaxPoints)
        return false;
    for (LONG i = 0; i < count; ++i) {
        if (!Finite({points[i].x, points[i].y}))
            return false;
    }
    return true;
}

void SetColour(cairo_t* context, DWORD colour) {
    cairo_set_source_rgba(context, (colour & 0xFF) / 255.0, (colour >> 8 & 0xFF) / 255.0,
                          (colour >> 16 & 0xFF) / 255.0, (colour >> 24 & 0xFF) / 255.0);
}

// The fill of the current path in the colour and mode.
void Fill(cairo_t* context, DWORD colour, LONG mode) {
    SetColour(context, colour);
    cairo_set_operator(context, mode == IPRO_FILL_COPY ? CAIRO_OPERATOR_SOURCE : CAIRO_OPERATOR_OVER);
    cairo_fill(context);
}

void Stroke(cairo_t* context, DWORD colour, float penWidth) {
    SetColour(context, colour);
    cairo_set_line_width(context, penWidth);
    cairo_stroke(context);
}

double Radians(float degrees) {
    return degrees * std::numbers::pi / 180.0;
}

// The ellipse in the rectangle, or the slice of it between two angles (a sweep of 360 degrees or more is
// the whole ellipse), as the current path. Built in unit-circle space so the pen keeps its own width.
void EllipsePath(cairo_t* context, float left, float top, float width, float height, bool slice, float start,
                 float sweep) {
    cairo_save(context);
    cairo_translate(context, left + width / 2.0, top + height / 2.0);
    cairo_scale(context, width / 2.0, height / 2.0);
    if (!slice || std::fabs(sweep) >= 360.0f) {
        cairo_arc(context, 0, 0, 1, 0, 2 * std::numbers::pi);
        cairo_close_path(context);
    } else {
        cairo_move_to(context, 0, 0);
        if (sweep >= 0)
            cairo_arc(context, 0, 0, 1, Radians(start), Radians(start + sweep));
        else
            cairo_arc_negative(context, 0, 0, 1, Radians(start), Radians(start + sweep));
        cairo_close_path(context);
    }
    cairo_restore(context);
}

void PolygonPath(cairo_t* context, const IproPointF* points, LONG count) {
    cairo_move_to(context, points[0].x, points[0].y);
    for (LONG i = 1; i < count; ++i)
        cairo_line_to(context, points[i].x, points[i].y);
    cairo_close_path(context);
}

// A cardinal spline of tension 0.5 through the points, as Bezier segments.
void CurvePath(cairo_t* context, const IproPointF* points, LONG count) {
    constexpr double kTension = 0.5 / 3.0;
    cairo_move_to(context, points[0].x, points[0].y);
    for (LONG i = 0; i + 1 < count; ++i) {
        const IproPointF& before = points[i > 0 ? i - 1 : 0];
        const IproPointF& from = points[i];
        const IproPointF& to = points[i + 1];
        const IproPointF& after = points[i + 2 < count ? i + 2 : count - 1];
        cairo_curve_to(context, from.x + kTension * (to.x - before.x), from.y + kTension * (to.y - before.y),
                       to.x - kTension * (after.x - from.x), to.y - kTension * (after.y - from.y), to.x,
                       to.y);
    }
}

// Runs a shape's painter on the canvas when the rectangle is not empty.
bool PaintShape(IproHandle canvas, float left, float top, float width, float height,
                const std::function<void(cairo_t*)>& paint) {
    std::shared_ptr<CIproCanvas> target = IproHandles::FindCanvas(canvas);
    if (!target || !Finite({left, top, width, height}))
        return false;
    if (width <= 0 || height <= 0)
        return true;
    return target->Paint(nullptr, [&](cairo_t* context, cairo_surface_t*) { paint(context); });
}

bool PaintPath(IproHandle canvas, const IproPointF* points, LONG count,
               const std::function<void(cairo_t*)>& paint) {
    std::shared_ptr<CIproCanvas> target = IproHandles::FindCanvas(canvas);
    if (!target || !FinitePoints(points, count))
        return false;
    return target->Paint(nullptr, [&](cairo_t* context, cairo_surface_t*) { paint(context); });
}

bool ValidPen(float penWidth) {
    return std::isfinite(penWidth) && penWidth > 0;
}

bool AddImage(IproPixels pixels, IproHandle* image) {
    IproObject object;
    object.image = std::make_shared<CIproImage>(std::move(pixels));
    return IproHandles::Add(std::move(object), image);
}

// Replaces an image's pixels with what the step makes of them.
template <class Step>
bool ChangePixels(IproHandle image, Step step) {
    std::shared_ptr<CIproImage> target = IproHandles::FindImage(image);
    if (!target)
        return false;
    std::lock_guard<std::mutex> guard(target->lock);
    IproPixels changed;
    if (!step(target->pixels, changed))
        return false;
    target->pixels = std::move(changed);
    return true;
}

} // namespace

LONG iproStartup() {
    return Call("iproStartup", kIproNoHandle, [] { return IproHandles::Startup(); });
}

LONG iproShutdown() {
    return Call("iproShutdown", kIproNoHandle, [] { return IproHandles::Shutdown(); });
}

LONG iproInit() {
    return Call("iproInit", kIproNoHandle, [] { return IproHandles::Started(); });
}

LONG iproReleaseHandle(IproHandle handle) {
    return Call("iproReleaseHandle", handle, [&] { return IproHandles::Release(handle); });
}

LONG iproCreateImage(LONG width, LONG height, IproHandle* image) {
    return Call("iproCreateImage", kIproNoHandle, [&] {
        IproPixels pixels;
        if (image)
            *image = kIproNoHandle;
        return image && IproHandles::Started() && IproLimits::MakePixels(width, height, pixels) &&
               AddImage(std::move(pixels), image);
    });
}

LONG iproCreateImageFromFile(const wchar_t* path, IproHandle* image) {
    return Call("iproCreateImageFromFile", kIproNoHandle, [&] {
        IproPixels pixels;
        if (image)
            *image = kIproNoHandle;
        return image && path && IproHandles::Started() && IproImageFile::Load(path, pixels) &&
               AddImage(std::move(pixels), image);
    });
}

LONG iproCreateImageFromNUID(const wchar_t* itemId, const IproCodecTable* codec, void* cancel,
                             IproHandle* image) {
    return iproCreateImageFromNUID2(itemId, codec, cancel, nullptr, 0, 0, image);
}

LONG iproCreateImageFromNUID2(const wchar_t* itemId, const IproCodecTable* codec, void* cancel,
                              const IproCodecParamList* params, LONG maxWidth, LONG maxHeight,
                              IproHandle* image) {
    return Call("iproCreateImageFromNUID", kIproNoHandle, [&] {
        IproPixels pixels;
        if (image)
            *image = kIproNoHandle;
        return image && IproHandles::Started() &&
               IproCodecLoad::Load(itemId, codec, cancel, params, maxWidth, maxHeight, pixels) &&
               AddImage(std::move(pixels), image);
    });
}

LONG iproGetImageSize(IproHandle image, LONG* width, LONG* height) {
    return Call("iproGetImageSize", image, [&] {
        std::shared_ptr<CIproImage> source = IproHandles::FindImage(image);
        if (!source || !width || !height)
            return false;
        std::lock_guard<std::mutex> guard(source->lock);
        *width = source->pixels.width;
        *height = source->pixels.height;
        return true;
    });
}

LONG iproResizeImage(IproHandle image, LONG width, LONG height) {
    return Call("iproResizeImage", image, [&] {
        return ChangePixels(image, [&](const IproPixels& from, IproPixels& to) {
            if (from.width == width && from.height == height) {
                to = from;
                return true;
            }
            return IproResample::Resize(from, width, height, to);
        });
    });
}

LONG iproRotateFlipImage(IproHandle image, LONG code) {
    return Call("iproRotateFlipImage", image, [&] {
        return ChangePixels(image, [&](const IproPixels& from, IproPixels& to) {
            return IproResample::RotateFlip(from, code, to);
        });
    });
}

LONG iproSetImageDecoderParams(IproHandle image, const IproCodecParamList* params) {
    return Call("iproSetImageDecoderParams", image, [&] {
        std::shared_ptr<CIproImage> target = IproHandles::FindImage(image);
        if (!target)
            return false;
        LONG usePreview = 0;
        DWORD mode = 1;
        if (params) {
            if (params->size != sizeof(IproCodecParamList) || (params->count > 0 && !params->entries))
                return false;
            for (DWORD i = 0; i < params->count; ++i) {
                const IproCodecParam* entry = params->entries[i];
                if (!entry || !entry->value)
                    return false;
                if (entry->type == IPRO_PARAM_USE_PREVIEW)
                    usePreview = *reinterpret_cast<const LONG*>(entry->value);
                else if (entry->type == IPRO_PARAM_MODE)
                    mode = *reinterpret_cast<const DWORD*>(entry->value);
            }
        }
        std::lock_guard<std::mutex> guard(target->lock);
        target->usePreview = usePreview;
        target->mode = mode;
        return true;
    });
}

LONG iproSaveImage(IproHandle image, const wchar_t* path, LONG flags, const IproCodecParamList* params) {
    return Call("iproSaveImage", image, [&] {
        std::shared_ptr<CIproImage> source = IproHandles::FindImage(image);
        IproImageFile::SaveOptions options;
        if (!source || !path || !IproImageFile::ReadSaveOptions(params, options))
            return false;
        // Encoded under the image's lock rather than from a copy of a page's pixels; the file is written
        // once the lock is given back.
        std::vector<std::uint8_t> bytes;
        {
            std::lock_guard<std::mutex> guard(source->lock);
            if (!IproImageFile::Encode(source->pixels, IproImageFile::FormatOfPath(path), options, bytes))
                return false;
        }
        return IproImageFile::WriteFile(bytes, path, (flags & IPRO_SAVE_REPLACE) != 0);
    });
}

LONG iproCreateCanvasFromImage(IproHandle image, IproHandle* canvas) {
    return Call("iproCreateCanvasFromImage", image, [&] {
        if (canvas)
            *canvas = kIproNoHandle;
        std::shared_ptr<CIproImage> target = IproHandles::FindImage(image);
        if (!target || !canvas)
            return false;
        IproObject object;
        object.canvas = std::make_shared<CIproCanvas>(std::move(target));
        return IproHandles::Add(std::move(object), canvas);
    });
}

LONG iproCreateCanvasFromHDC(HDC dc, IproHandle* canvas) {
    return Call("iproCreateCanvasFromHDC", kIproNoHandle, [&] {
        if (canvas)
            *canvas = kIproNoHandle;
        if (!canvas || !WinGdi::SurfaceOfDC(dc))
            return false;
        IproObject object;
        object.canvas = std::make_shared<CIproCanvas>(dc);
        return IproHandles::Add(std::move(object), canvas);
    });
}

LONG iproDrawImage(IproHandle canvas, IproHandle image, float left, float top, float width, float height,
                   LONG opacity) {
    return Call("iproDrawImage", canvas, [&] {
        std::shared_ptr<CIproCanvas> target = IproHandles::FindCanvas(canvas);
        std::shared_ptr<CIproImage> source = IproHandles::FindImage(image);
        if (!target || !source || !Finite({left, top, width, height}) || opacity < 0 || opacity > 255)
            return false;
        if (width <= 0 || height <= 0 || opacity == 0)
            return true;
        return target->Paint(source.get(), [&](cairo_t* context, cairo_surface_t* from) {
            const int sourceWidth = cairo_image_surface_get_width(from);
            const int sourceHeight = cairo_image_surface_get_height(from);
            cairo_rectangle(context, left, top, width, height);
            cairo_clip(context);
            cairo_translate(context, left, top);
            cairo_scale(context, width / sourceWidth, height / sourceHeight);
            cairo_set_source_surface(context, from, 0, 0);
            cairo_pattern_set_filter(cairo_get_source(context), CAIRO_FILTER_BILINEAR);
            // The edge pixels repeat under a scaled image, so its border does not fade into the canvas.
            cairo_pattern_set_extend(cairo_get_source(context), CAIRO_EXTEND_PAD);
            cairo_paint_with_alpha(context, opacity / 255.0);
        });
    });
}

LONG iproDrawImage2(IproHandle canvas, IproHandle image, float left, float top, float sourceLeft,
                    float sourceTop, float sourceWidth, float sourceHeight) {
    return Call("iproDrawImage2", canvas, [&] {
        std::shared_ptr<CIproCanvas> target = IproHandles::FindCanvas(canvas);
        std::shared_ptr<CIproImage> source = IproHandles::FindImage(image);
        if (!target || !source || !Finite({left, top, sourceLeft, sourceTop, sourceWidth, sourceHeight}))
            return false;
        if (sourceWidth <= 0 || sourceHeight <= 0)
            return true;
        return target->Paint(source.get(), [&](cairo_t* context, cairo_surface_t* from) {
            cairo_rectangle(context, left, top, sourceWidth, sourceHeight);
            cairo_clip(context);
            cairo_set_source_surface(context, from, left - sourceLeft, top - sourceTop);
            cairo_paint(context);
        });
    });
}

LONG iproFillRectangle(IproHandle canvas, float left, float top, float width, float height, DWORD colour,
                       LONG mode) {
    return Call("iproFillRectangle", canvas, [&] {
        return PaintShape(canvas, left, top, width, height, [&](cairo_t* context) {
            cairo_rectangle(context, left, top, width, height);
            Fill(context, colour, mode);
        });
    });
}

LONG iproDrawEllipse(IproHandle canvas, float left, float top, float width, float height, DWORD colour,
                     float penWidth) {
    return Call("iproDrawEllipse", canvas, [&] {
        return ValidPen(penWidth) && PaintShape(canvas, left, top, width, height, [&](cairo_t* context) {
                   EllipsePath(context, left, top, width, height, false, 0, 0);
                   Stroke(context, colour, penWidth);
               });
    });
}

LONG iproFillEllipse(IproHandle canvas, float left, float top, float width, float height, DWORD colour,
                     LONG mode) {
    return Call("iproFillEllipse", canvas, [&] {
        return PaintShape(canvas, left, top, width, height, [&](cairo_t* context) {
            EllipsePath(context, left, top, width, height, false, 0, 0);
            Fill(context, colour, mode);
        });
    });
}

LONG iproDrawPie(IproHandle canvas, float left, float top, float width, float height, float startAngle,
                 float sweepAngle, DWORD colour, float penWidth) {
    return Call("iproDrawPie", canvas, [&] {
        return ValidPen(penWidth) && Finite({startAngle, sweepAngle}) &&
               PaintShape(canvas, left, top, width, height, [&](cairo_t* context) {
                   EllipsePath(context, left, top, width, height, true, startAngle, sweepAngle);
                   Stroke(context, colour, penWidth);
               });
    });
}

LONG iproFillPie(IproHandle canvas, float left, float top, float width, float height, float startAngle,
                 float sweepAngle, DWORD colour, LONG mode) {
    return Call("iproFillPie", canvas, [&] {
        return Finite({startAngle, sweepAngle}) &&
               PaintShape(canvas, left, top, width, height, [&](cairo_t* context) {
                   EllipsePath(context, left, top, width, height, true, startAngle, sweepAngle);
                   Fill(context, colour, mode);
               });
    });
}

LONG iproDrawPolygon(IproHandle canvas, const IproPointF* points, LONG count, DWORD colour, float penWidth) {
    return Call("iproDrawPolygon", canvas, [&] {
        return ValidPen(penWidth) && PaintPath(canvas, points, count, [&](cairo_t* context) {
                   PolygonPath(context, points, count);
                   Stroke(context, colour, penWidth);
               });
    });
}

LONG iproFillPolygon(IproHandle canvas, const IproPointF* points, LONG count, DWORD colour, LONG mode) {
    return Call("iproFillPolygon", canvas, [&] {
        return PaintPath(canvas, points, count, [&](cairo_t* context) {
            PolygonPath(context, points, count);
            Fill(context, colour, mode);
        });
    });
}

LONG iproDrawCurve(IproHandle canvas, const IproPointF* points, LONG count, DWORD colour, float penWidth) {
    return Call("iproDrawCurve", canvas, [&] {
        return ValidPen(penWidth) && PaintPath(canvas, points, count, [&](cairo_t* context) {
                   CurvePath(context, points, count);
                   Stroke(context, colour, penWidth);
               });
    });
}

LONG iproSetScaleTransform(IproHandle canvas, float scaleX, float scaleY, LONG order) {
    return Call("iproSetScaleTransform", canvas, [&] {
        std::shared_ptr<CIproCanvas> target = IproHandles::FindCanvas(canvas);
        if (!target || (order != 0 && order != 1))
            return false;
        cairo_matrix_t scale, combined;
        cairo_matrix_init_scale(&scale, scaleX, scaleY);
        const cairo_matrix_t current = target->Transform();
        // cairo_matrix_multiply applies its first operand to coordinates first.
        if (order == 0)
            cairo_matrix_multiply(&combined, &scale, &current);
        else
            cairo_matrix_multiply(&combined, &current, &scale);
        return target->SetTransform(combined);
    });
}

LONG iproCreateMatrix(float m11, float m12, float m21, float m22, float dx, float dy, IproHandle* matrix) {
    return Call("iproCreateMatrix", kIproNoHandle, [&] {
        if (matrix)
            *matrix = kIproNoHandle;
        if (!matrix || !Finite({m11, m12, m21, m22, dx, dy}))
            return false;
        cairo_matrix_t value;
        cairo_matrix_init(&value, m11, m12, m21, m22, dx, dy);
        IproObject object;
        object.matrix = std::make_shared<CIproMatrix>(value);
        return IproHandles::Add(std::move(object), matrix);
    });
}

LONG iproGetMatrixElements(IproHandle matrix, float* elements) {
    return Call("iproGetMatrixElements", matrix, [&] {
        std::shared_ptr<CIproMatrix> source = IproHandles::FindMatrix(matrix);
        if (!source || !elements)
            return false;
        std::lock_guard<std::mutex> guard(source->lock);
        const cairo_matrix_t& m = source->value;
        const double values[6] = {m.xx, m.yx, m.xy, m.yy, m.x0, m.y0};
        for (int i = 0; i < 6; ++i)
            elements[i] = static_cast<float>(values[i]);
        return true;
    });
}

LONG iproGetTransformMatrix(IproHandle canvas, IproHandle matrix) {
    return Call("iproGetTransformMatrix", canvas, [&] {
        std::shared_ptr<CIproCanvas> source = IproHandles::FindCanvas(canvas);
        std::shared_ptr<CIproMatrix> target = IproHandles::FindMatrix(matrix);
        if (!source || !target)
            return false;
        const cairo_matrix_t transform = source->Transform();
        std::lock_guard<std::mutex> guard(target->lock);
        target->value = transform;
        return true;
    });
}

LONG iproSetTransformMatrix(IproHandle canvas, IproHandle matrix) {
    return Call("iproSetTransformMatrix", canvas, [&] {
        std::shared_ptr<CIproCanvas> target = IproHandles::FindCanvas(canvas);
        std::shared_ptr<CIproMatrix> source = IproHandles::FindMatrix(matrix);
        if (!target || !source)
            return false;
        cairo_matrix_t value;
        {
            std::lock_guard<std::mutex> guard(source->lock);
            value = source->value;
        }
        return target->SetTransform(value);
    });
}
