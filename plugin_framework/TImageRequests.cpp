#include "TImageRequests.h"

#include "TFilePath.h"
#include "TMultiLock.h"

#include "platform/pravon/PravonTypes.h"
#include "platform/win/utf16.h"

bool WaitForRequest(TSyncEvent& done, TSyncObject* cancel) {
    // The record's event comes first: when both are signalled, the answer is taken.
    TMultiLock wait(false, {&done, cancel});
    return wait.Lock(INFINITE) == TSyncObject::kWaitSignalled && wait.GetEndedBy() == 0;
}

bool TImageRequest::IsPending() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_pending;
}

void TImageRequest::StopWaiting() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_pending = false;
}

void TImageRequest::Complete(KvwItemId, DWORD) {}

void TImageRequest::Drop() {
    std::lock_guard<std::mutex> guard(m_lock);
    WakeLocked();
}

void TImageRequest::WakeLocked() {
    if (m_pending)
        m_done.Unlock();
}

TArgsLoadImage::TArgsLoadImage(KvwItemId item, const CKvwSizeRecord& wanted, DWORD mode)
    : TImageRequest(item), m_wanted(IsWantedSize(wanted) ? wanted : CKvwSizeRecord{}), m_mode(mode) {}

TArgsLoadImage::~TArgsLoadImage() {
    if (m_image)
        m_image->Release();
}

bool TArgsLoadImage::Fetch(IKvwItemService* items, bool full, Accept accept) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_pending || m_image || !items)
        return false;
    IKvwImage* image = nullptr;
    const DWORD low = KvwItemIdLow(GetItemId()), high = KvwItemIdHigh(GetItemId());
    const KvwResult result = full ? items->GetFullImage(low, high, &image, m_mode, GetWantedSize())
                                  : items->GetPreviewImage(low, high, &image, m_mode, GetWantedSize());
    if (!KvwSucceeded(result) || !image) {
        if (image)
            image->Release();
        return false;
    }
    const LONG width = image->GetWidth(), height = image->GetHeight();
    const LONG wantedWidth = static_cast<LONG>(m_wanted.width),
               wantedHeight = static_cast<LONG>(m_wanted.height);
    bool kept = true;
    if (accept == Accept::kExactSize)
        kept = GetWantedSize() && width == wantedWidth && height == wantedHeight;
    else if (accept == Accept::kAtLeastSize)
        kept = width >= wantedWidth && height >= wantedHeight;
    if (!kept) {
        image->Release();
        return false;
    }
    m_image = image;
    return true;
}

void TArgsLoadImage::SetItemService(IKvwItemService* items) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_items = items;
}

void TArgsLoadImage::Complete(KvwItemId, DWORD requestId) {
    IKvwItemService* items;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        items = m_items;
    }
    if (requestId == KvwPluginRequest::kFullImage || requestId == KvwPluginRequest::kPreview)
        Fetch(items, requestId == KvwPluginRequest::kFullImage, Accept::kAny);
    std::lock_guard<std::mutex> guard(m_lock);
    WakeLocked();
}

IKvwImage* TArgsLoadImage::TakeImage() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_pending = false;
    return std::exchange(m_image, nullptr);
}

TArgsGetTags::~TArgsGetTags() {
    if (m_item)
        m_item->Release();
}

void TArgsGetTags::Answer(IKvwItem* item) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_pending || m_item) {
        if (item)
            item->Release();
        return;
    }
    m_item = item;
    WakeLocked();
}

IKvwItem* TArgsGetTags::TakeItem() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_pending = false;
    return std::exchange(m_item, nullptr);
}

TArgsSaveImage::TArgsSaveImage(KvwItemId item, std::wstring path, float scale, LONG quality,
                               const CKvwSizeRecord& wanted)
    : TImageRequest(item), m_path(std::move(path)), m_scale(scale), m_quality(quality), m_wanted(wanted) {}

CKvwOutputData* TArgsSaveImage::BuildOutput() {
    const TString path(m_path.c_str());
    const std::wstring folder = static_cast<const wchar_t*>(GetFolderPart(path));
    const std::wstring name = static_cast<const wchar_t*>(GetFileName(path));
    m_output.filePath.Initialize(Utf::WideToUtf8(folder), Utf::WideToUtf8(name), m_scale,
                                 PravonColorSpace::kRGB8, m_quality, static_cast<LONG>(m_wanted.width),
                                 static_cast<LONG>(m_wanted.height));
    return &m_output;
}

void TArgsSaveImage::Finish(bool success) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_pending)
        return;
    m_success = success;
    WakeLocked();
}

void TArgsSaveImage::Complete(KvwItemId, DWORD requestId) {
    if (requestId == KvwPluginRequest::kWriteImage)
        Finish(true);
}

bool TArgsSaveImage::TakeSuccess() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_pending = false;
    return m_success;
}

void TArgsSourceInfo::Answer(IKvwItemService* items) {
    // All of the item's source data.
    constexpr DWORD kAllSourceData = 0xFFFFFFFF;
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_pending)
        return;
    m_success = items && KvwSucceeded(items->GetSourceData(
                             KvwItemIdLow(GetItemId()), KvwItemIdHigh(GetItemId()), &m_data, kAllSourceData));
    WakeLocked();
}

bool TArgsSourceInfo::TakeAnswer(CKvwSourceData& data) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_pending = false;
    data = m_data;
    return m_success;
}

void TArgsCheckImageLoaded::Answer(bool loaded) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_loaded = loaded;
    WakeLocked();
}

bool TArgsCheckImageLoaded::TakeLoaded() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_pending = false;
    return m_loaded;
}
