#include "TDBufPreview.h"

#include "TLockOrder.h"

namespace {

// Gives the image's handle back before the wrapper goes.
void ReleaseImage(std::unique_ptr<TiProImage>& image) {
    if (image) {
        image->Release();
        image.reset();
    }
}

} // namespace

TRefPtr<TDBufPreview> TDBufPreview::Create(const graphtypes::TSize_T<LONG>& size) {
    std::unique_ptr<TiProImage> front(TiProImage::Create(size));
    std::unique_ptr<TiProImage> back(TiProImage::Create(size));
    if (!front || !back) {
        ReleaseImage(front);
        ReleaseImage(back);
        return TRefPtr<TDBufPreview>();
    }
    return TRefPtr<TDBufPreview>::Adopt(new TDBufPreview(std::move(front), std::move(back)));
}

TDBufPreview::~TDBufPreview() {
    TOrderedLock guard(m_lock, TLockRank::kPreview);
    ReleaseImage(m_front);
    ReleaseImage(m_back);
}

bool TDBufPreview::CopyBackToFront() {
    TOrderedLock guard(m_lock, TLockRank::kPreview);
    graphtypes::TSize_T<LONG> frontSize, backSize;
    m_front->GetSize(frontSize);
    m_back->GetSize(backSize);
    if (frontSize.cx <= 0 || frontSize.cy <= 0 || backSize.cx <= 0 || backSize.cy <= 0)
        return false;
    std::unique_ptr<TiProCanvas> canvas(TiProCanvas::CreateFromImage(*m_front));
    if (!canvas)
        return false;
    constexpr LONG kOpaque = 255;
    canvas->DrawImage(*m_back, TiProCanvas::TRect(0, 0, frontSize.cx, frontSize.cy), kOpaque);
    canvas->Release();
    return true;
}
