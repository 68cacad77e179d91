#include "TAsyncFileSaver.h"

#include "FileSaveFit.h"
#include "TiProItemImage.h"

#include "plugin_framework/CodecTable.h"
#include "plugin_framework/HostLink.h"
#include "plugin_framework/TiProCodecParameters.h"

#include <memory>

namespace {

// Signals the idle event when a request is over, however it ends.
class BusyScope {
public:
    explicit BusyScope(TSyncEvent& idle) : m_idle(idle) { m_idle.Reset(); }
    ~BusyScope() { m_idle.Unlock(); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    TSyncEvent& m_idle;
};

// Gives the image's handle back on every way out.
struct ImageReleaser {
    void operator()(TiProItemImage* image) const {
        image->ReleaseHandle();
        delete image;
    }
};
using ItemImagePtr = std::unique_ptr<TiProItemImage, ImageReleaser>;

} // namespace

TAsyncFileSaver::TAsyncFileSaver() : m_idle(true, true), m_abortEvent(false, true) {}

TAsyncFileSaver::~TAsyncFileSaver() {
    Terminate();
}

bool TAsyncFileSaver::Start() {
    return m_worker.Start(&TAsyncFileSaver::SaveProc);
}

void TAsyncFileSaver::SetNotifyTarget(TAutoHandle* target) {
    m_notifyTarget.store(target);
}

bool TAsyncFileSaver::Post(TFileSaveData* request) {
    if (!request || m_aborted.load())
        return false;
    request->SetOwner(this);
    request->m_messageCode = kFileSaveRequestMessage;
    request->m_finishNotice = static_cast<LONG>(kFileSaveFinishedMessage);
    request->m_notifyTarget = m_notifyTarget.load();
    return m_worker.Post(request, false);
}

bool TAsyncFileSaver::IsIdle() const {
    return m_idle.Wait(0) == TSyncObject::kWaitSignalled;
}

void TAsyncFileSaver::ClearAbort() {
    m_aborted.store(false);
    m_abortEvent.Reset();
    iproInit();
}

bool TAsyncFileSaver::Abort(bool wait) {
    m_aborted.store(true);
    if (wait && !IsIdle()) {
        m_abortEvent.Unlock();
        m_idle.Wait(kFileSaverAbortWait);
    }
    return true;
}

bool TAsyncFileSaver::Stop(bool abort, bool wait) {
    m_worker.SetAccepting(false);
    m_worker.ClearQueue();
    if (abort)
        Abort(wait);
    m_worker.SetAccepting(true);
    return true;
}

bool TAsyncFileSaver::Terminate() {
    m_worker.SetAccepting(false);
    Abort(true);
    m_worker.Stop(true);
    // A worker that was let go sees so before it posts: once this lock was free, none is posting.
    { std::lock_guard<std::mutex> barrier(m_deliveryLock); }
    return true;
}

void TAsyncFileSaver::SaveProc(TThreadQueueData* item) {
    auto owned = TRefPtr<TThreadQueueData>::Adopt(item);
    auto* saver = dynamic_cast<TAsyncFileSaver*>(item->GetOwner());
    auto* request = dynamic_cast<TFileSaveData*>(item);
    if (!saver || !request)
        return;
    auto saving = TRefPtr<TFileSaveData>::Adopt(static_cast<TFileSaveData*>(owned.Detach()));
    bool saved = false;
    // An item taken after an abort ends at once without marking the saver busy, so an abort that waited
    // for the current item finds the saver idle once that item ended.
    if (!saver->m_aborted.load()) {
        BusyScope busy(saver->m_idle);
        if (!saver->m_aborted.load())
            saved = saver->SaveFile(*request);
    }
    request->m_result = saver->m_aborted.load() ? kFileSaveAborted : saved ? kFileSaved : kFileSaveFailed;
    saver->Deliver(std::move(saving));
}

bool TAsyncFileSaver::SaveFile(const TFileSaveData& request) {
    // (0, 0) is the full size: the host's for a design page, the decoded picture's for any other.
    const bool fullSize = request.m_maxSize.cx == 0 && request.m_maxSize.cy == 0;
    // An ordinary picture is read fitted into the box, which lets the codec decode a large JPEG at a
    // fraction of its size; a design page is read whole, since its box comes from the host's numbers.
    const TString itemId = NuidToString(request.m_item.id);
    ItemImagePtr image(
        request.m_item.designPage || fullSize
            ? TiProItemImage::CreateFromNUID(itemId, GetCodecTable(), &m_abortEvent)
            : TiProItemImage::CreateFromNUID(itemId, GetCodecTable(), &m_abortEvent, request.m_maxSize));
    if (!image)
        return false;
    graphtypes::TSize_T<LONG> maximum = fullSize ? request.m_item.pictureSize : request.m_maxSize;
    LONG quality = request.m_jpegQuality;
    float factor = 1.0f;
    TiProCodecParameters parameters;
    if (request.m_item.designPage) {
        // A design page's size is the host's encoding of it, not the pixels of the rendered page.
        graphtypes::TSize_T<LONG> target;
        if (FileSaveFit::DesignPageSize(request.m_item.pictureSize, maximum, target))
            image->Resize(target);
        parameters[0] = IproCodecParam{IPRO_PARAM_QUALITY, reinterpret_cast<std::uintptr_t>(&quality)};
    } else {
        // The decoded picture's own size; the host's only when the image gives none.
        graphtypes::TSize_T<LONG> picture;
        image->GetSize(picture);
        if (picture.cx <= 0 || picture.cy <= 0)
            picture = request.m_item.pictureSize;
        if (fullSize)
            maximum = picture;
        factor = FileSaveFit::ScaleFactor(picture, maximum);
        parameters[0] = IproCodecParam{IPRO_PARAM_SCALE, reinterpret_cast<std::uintptr_t>(&factor)};
        parameters[1] = IproCodecParam{IPRO_PARAM_QUALITY, reinterpret_cast<std::uintptr_t>(&quality)};
    }
    return image->Save(request.m_targetPath, IPRO_SAVE_REPLACE, &parameters) == 1;
}

void TAsyncFileSaver::Deliver(TRefPtr<TFileSaveData> request) {
    std::lock_guard<std::mutex> guard(m_deliveryLock);
    if (!TThread::IsCurrentWorkerDetached() && request->m_notifyTarget &&
        request->m_notifyTarget->PostMessage(kFileSaveFinishedMessage,
                                             reinterpret_cast<LPARAM>(request.Get())))
        request.Detach();
}
