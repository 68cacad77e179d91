#include "TImgMngHidWnd.h"

namespace {

// Request flags of the manager's preview requests: a completion, no progress notices.
constexpr KvwWord kCompletionOnly = 4;
constexpr KvwWord kImageRequestWord7 = 64;

} // namespace

bool TImgMngHidWnd::Create() {
    if (!TRequestWindow::Create(L"ImgMngHidWnd"))
        return false;
    AddMessageHandler(kGetPreview, TMessageHandler{this, &TImgMngHidWnd::OnGetPreview});
    AddMessageHandler(kReleaseItem, TMessageHandler{this, &TImgMngHidWnd::OnReleaseItem});
    return true;
}

void TImgMngHidWnd::SetContext(IKvwMessage* requester, IKvwItemService* items) {
    m_requester.store(requester);
    m_items.store(items);
}

void TImgMngHidWnd::GetPreview(TArgsCheckImageLoaded& request) {
    if (!request.IsPending())
        return;
    IKvwItemService* items = m_items.load();
    IKvwMessage* requester = m_requester.load();
    const KvwItemId item = request.GetItemId();
    const CKvwSizeRecord& wanted = request.GetWantedSize();
    bool loaded = false;
    if (items) {
        IKvwImage* image = nullptr;
        if (KvwSucceeded(items->GetPreviewImage(KvwItemIdLow(item), KvwItemIdHigh(item), &image,
                                                TArgsCheckImageLoaded::kMode, &wanted)) &&
            image) {
            loaded = image->GetWidth() >= static_cast<LONG>(wanted.width) &&
                     image->GetHeight() >= static_cast<LONG>(wanted.height);
        }
        if (image)
            image->Release();
    }
    if (!loaded && requester)
        requester->SendToHost(KvwPluginRequest::kPreview, KvwItemIdLow(item), KvwItemIdHigh(item),
                              reinterpret_cast<KvwWord>(&wanted), 1, kKvwRecordSize, kCompletionOnly,
                              kImageRequestWord7, kKvwFrameworkRequestTag);
    request.Answer(loaded);
}

LONG TImgMngHidWnd::OnGetPreview(TMessageInfo* info, void* context) {
    TRefPtr<TArgsCheckImageLoaded> request = AdoptRecord<TArgsCheckImageLoaded>(info);
    if (request)
        static_cast<TImgMngHidWnd*>(context)->GetPreview(*request);
    return 1;
}
