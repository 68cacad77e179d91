#include "TiProObjects.h"

#include "TiProCodecParameters.h"

namespace {

// The library's handle of a factory call, or kIproNoHandle when it answered otherwise than 1.
template <class Create>
IproHandle Made(Create create) {
    IproHandle handle = kIproNoHandle;
    return create(&handle) == 1 ? handle : kIproNoHandle;
}

float F(double value) {
    return static_cast<float>(value);
}

} // namespace

void TiProBaseObject::Release() {
    iproReleaseHandle(m_handle);
    m_handle = kIproNoHandle;
}

TiProImage* TiProImage::Create(const graphtypes::TSize_T<LONG>& size) {
    const IproHandle handle = Made([&](IproHandle* cell) { return iproCreateImage(size.cx, size.cy, cell); });
    return handle == kIproNoHandle ? nullptr : new TiProImage(handle);
}

TiProImage* TiProImage::CreateFromFile(const TString& path) {
    const IproHandle handle = Made([&](IproHandle* cell) { return iproCreateImageFromFile(path, cell); });
    return handle == kIproNoHandle ? nullptr : new TiProImage(handle);
}

void TiProImage::Resize(const graphtypes::TSize_T<LONG>& size) {
    iproResizeImage(m_handle, size.cx, size.cy);
}

void TiProImage::RotateFlip(LONG code) {
    iproRotateFlipImage(m_handle, code);
}

void TiProImage::SetDecoderParameters(TiProCodecParameters* parameters) {
    const IproCodecParamList* list = nullptr;
    if (parameters)
        parameters->Flatten(list);
    iproSetImageDecoderParams(m_handle, list);
}

void TiProImage::GetSize(graphtypes::TSize_T<LONG>& size) const {
    LONG width = 0, height = 0;
    if (iproGetImageSize(m_handle, &width, &height) != 1)
        width = height = 0;
    size = graphtypes::TSize_T<LONG>(width, height);
}

TiProMatrix* TiProMatrix::Create(float m11, float m12, float m21, float m22, float dx, float dy) {
    const IproHandle handle =
        Made([&](IproHandle* cell) { return iproCreateMatrix(m11, m12, m21, m22, dx, dy, cell); });
    return handle == kIproNoHandle ? nullptr : new TiProMatrix(handle);
}

bool TiProMatrix::GetElements(float (&elements)[6]) const {
    return iproGetMatrixElements(m_handle, elements) == 1;
}

TiProCanvas* TiProCanvas::CreateFromImage(const TiProImage& image) {
    const IproHandle handle =
        Made([&](IproHandle* cell) { return iproCreateCanvasFromImage(image.GetHandle(), cell); });
    return handle == kIproNoHandle ? nullptr : new TiProCanvas(handle);
}

TiProCanvas* TiProCanvas::CreateFromHDC(HDC dc) {
    const IproHandle handle = Made([&](IproHandle* cell) { return iproCreateCanvasFromHDC(dc, cell); });
    return handle == kIproNoHandle ? nullptr : new TiProCanvas(handle);
}

void TiProCanvas::DrawImage(const TiProImage& image, const TRect& destination, LONG opacity) {
    iproDrawImage(m_handle, image.GetHandle(), F(destination.left), F(destination.top),
                  F(destination.Width()), F(destination.Height()), opacity);
}

void TiProCanvas::DrawImage2(const TiProImage& image, const TRect& destination, const TRect& source) {
    iproDrawImage2(m_handle, image.GetHandle(), F(destination.left), F(destination.top), F(source.left),
                   F(source.top), F(source.Width()), F(source.Height()));
}

void TiProCanvas::FillRectangle(const TRect& rect, DWORD colour, LONG mode) {
    iproFillRectangle(m_handle, F(rect.left), F(rect.top), F(rect.Width()), F(rect.Height()), colour, mode);
}

void TiProCanvas::DrawEllipse(const TRect& rect, DWORD colour, float penWidth) {
    iproDrawEllipse(m_handle, F(rect.left), F(rect.top), F(rect.Width()), F(rect.Height()), colour, penWidth);
}

void TiProCanvas::FillEllipse(const TRect& rect, DWORD colour, LONG mode) {
    iproFillEllipse(m_handle, F(rect.left), F(rect.top), F(rect.Width()), F(rect.Height()), colour, mode);
}

void TiProCanvas::DrawPie(const TRect& rect, float startAngle, float sweepAngle, DWORD colour,
                          float penWidth) {
    iproDrawPie(m_handle, F(rect.left), F(rect.top), F(rect.Width()), F(rect.Height()), startAngle,
                sweepAngle, colour, penWidth);
}

void TiProCanvas::FillPie(const TRect& rect, float startAngle, float sweepAngle, DWORD colour, LONG mode) {
    iproFillPie(m_handle, F(rect.left), F(rect.top), F(rect.Width()), F(rect.Height()), startAngle,
                sweepAngle, colour, mode);
}

void TiProCanvas::DrawPolygon(const IproPointF* points, LONG count, DWORD colour, float penWidth) {
    iproDrawPolygon(m_handle, points, count, colour, penWidth);
}

void TiProCanvas::FillPolygon(const IproPointF* points, LONG count, DWORD colour, LONG mode) {
    iproFillPolygon(m_handle, points, count, colour, mode);
}

void TiProCanvas::DrawCurve(const IproPointF* points, LONG count, DWORD colour, float penWidth) {
    iproDrawCurve(m_handle, points, count, colour, penWidth);
}

void TiProCanvas::SetScaleTransform(float scaleX, float scaleY, LONG order) {
    iproSetScaleTransform(m_handle, scaleX, scaleY, order);
}

void TiProCanvas::GetTransformMatrix(TiProMatrix& matrix) {
    iproGetTransformMatrix(m_handle, matrix.GetHandle());
}

void TiProCanvas::SetTransformMatrix(const TiProMatrix& matrix) {
    iproSetTransformMatrix(m_handle, matrix.GetHandle());
}
