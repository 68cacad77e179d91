// Owners of the canvas library's handles: images, canvases and transform matrices. A wrapper holds one
// handle, gives it back when asked (Release) and turns the framework's geometry into the library's
// argument lists; deleting a wrapper does not release its handle, so owners call Release first.
#pragma once

#include "GraphTypes.h"
#include "TString.h"

#include "platform/zizoraz/zIzoRaz.h"

class TiProCodecParameters;

class TiProBaseObject {
public:
    TiProBaseObject(const TiProBaseObject&) = delete;
    TiProBaseObject& operator=(const TiProBaseObject&) = delete;
    virtual ~TiProBaseObject() = default;

    // Hands the handle to the library (a second call hands it kIproNoHandle, which the library refuses).
    void Release();
    IproHandle GetHandle() const { return m_handle; }

protected:
    explicit TiProBaseObject(IproHandle handle) : m_handle(handle) {}

    IproHandle m_handle;
};

class TiProImage : public TiProBaseObject {
public:
    // New images, or null when the library gives none.
    static TiProImage* Create(const graphtypes::TSize_T<LONG>& size);
    static TiProImage* CreateFromFile(const TString& path);

    void Resize(const graphtypes::TSize_T<LONG>& size);
    void RotateFlip(LONG code);
    // Null, or parameters without entries, hand the library no list.
    void SetDecoderParameters(TiProCodecParameters* parameters);
    // (0, 0) when the library gives no size.
    void GetSize(graphtypes::TSize_T<LONG>& size) const;

private:
    using TiProBaseObject::TiProBaseObject;
};

// A transform of a canvas, read and set as a whole (elements as iproCreateMatrix takes them).
class TiProMatrix : public TiProBaseObject {
public:
    static TiProMatrix* Create(float m11, float m12, float m21, float m22, float dx, float dy);
    // m11, m12, m21, m22, dx, dy; false when the library gives nothing.
    bool GetElements(float (&elements)[6]) const;

private:
    using TiProBaseObject::TiProBaseObject;
};

// Rectangles go to the library as left, top, width and height, each a float; a rectangle whose right lies
// left of its left edge goes with a negative width, as it is.
class TiProCanvas : public TiProBaseObject {
public:
    using TRect = graphtypes::TRect_T<double>;

    static TiProCanvas* CreateFromImage(const TiProImage& image);
    static TiProCanvas* CreateFromHDC(HDC dc);

    // Opacity 0 (nothing) to 255 (opaque).
    void DrawImage(const TiProImage& image, const TRect& destination, LONG opacity);
    // The source rectangle, unscaled, at the destination's top-left corner.
    void DrawImage2(const TiProImage& image, const TRect& destination, const TRect& source);
    void FillRectangle(const TRect& rect, DWORD colour, LONG mode);

    virtual void DrawEllipse(const TRect& rect, DWORD colour, float penWidth);
    virtual void FillEllipse(const TRect& rect, DWORD colour, LONG mode);
    virtual void DrawPie(const TRect& rect, float startAngle, float sweepAngle, DWORD colour, float penWidth);
    virtual void FillPie(const TRect& rect, float startAngle, float sweepAngle, DWORD colour, LONG mode);
    virtual void DrawPolygon(const IproPointF* points, LONG count, DWORD colour, float penWidth);
    virtual void FillPolygon(const IproPointF* points, LONG count, DWORD colour, LONG mode);
    virtual void DrawCurve(const IproPointF* points, LONG count, DWORD colour, float penWidth);
    virtual void SetScaleTransform(float scaleX, float scaleY, LONG order);
    virtual void GetTransformMatrix(TiProMatrix& matrix);
    virtual void SetTransformMatrix(const TiProMatrix& matrix);

private:
    using TiProBaseObject::TiProBaseObject;
};
