// The records that carry a worker's image requests to the user-interface thread and the answers back. A
// record is held by the thread that made it, by the window message that carries it and by the waiter list
// it sits in; its lock guards the pending flag and whatever an answer fills in. Once its requester stops
// waiting (the answer came, or the cancel object did first) a record is no longer pending: handlers do no
// work for it and a late answer is dropped, together with anything fetched for it, when the last holder
// lets the record go.
#pragma once

#include "IKvwMessage.h"
#include "TRequestWindow.h"
#include "TSyncObject.h"

#include "platform/kvtrtl/IKvwHost.h"

#include <atomic>
#include <mutex>
#include <string>

// Waits for the event or the cancel object (null: none); true when the event ended the wait.
bool WaitForRequest(TSyncEvent& done, TSyncObject* cancel);

// A wanted size is one whose sides are both above 0.
inline bool IsWantedSize(const CKvwSizeRecord& size) {
    return static_cast<LONG>(size.width) > 0 && static_cast<LONG>(size.height) > 0;
}

class TImageRequest : public TCodecRequest {
public:
    explicit TImageRequest(KvwItemId item) : m_itemId(item) {}

    KvwItemId GetItemId() const { return m_itemId; }
    TSyncEvent& GetEvent() { return m_done; }
    bool IsPending() const override;
    // The requester no longer waits.
    void StopWaiting();
    // A completion of the host; nothing unless the record waits for one.
    void Complete(KvwItemId item, DWORD requestId) override;
    // Wakes a requester that still waits, with no answer.
    void Drop() override;

protected:
    // Signals the event when the requester still waits; m_lock is held.
    void WakeLocked();

    mutable std::mutex m_lock;
    bool m_pending = true;

private:
    const KvwItemId m_itemId;
    TSyncEvent m_done{false, false};
};

// Full image (TCodecHidWnd::kLoadFullImage) or preview (TCodecHidWnd::kLoadPreview) of an item, into the
// record's own image slot.
class TArgsLoadImage : public TImageRequest {
public:
    enum class Accept { kAny, kExactSize, kAtLeastSize };

    // A size whose sides are not both above 0 is no wanted size.
    TArgsLoadImage(KvwItemId item, const CKvwSizeRecord& wanted, DWORD mode);
    ~TArgsLoadImage() override;

    // Null when no size is wanted.
    const CKvwSizeRecord* GetWantedSize() const { return IsWantedSize(m_wanted) ? &m_wanted : nullptr; }
    DWORD GetMode() const { return m_mode; }
    // For a pending record with an empty slot: asks the item service for the full image or the preview
    // now and keeps it when it is of a size the rule accepts (an image of another size is let go). True
    // when an image was kept.
    bool Fetch(IKvwItemService* items, bool full, Accept accept);
    // The item service that the record's completion fetches through (set when it starts waiting for it).
    void SetItemService(IKvwItemService* items);
    // KvwPluginRequest::kFullImage or kPreview: the image is fetched into an empty slot of a pending record,
    // which wakes.
    void Complete(KvwItemId item, DWORD requestId) override;
    // After the wait: the requester stops waiting and takes the image (null when none came).
    IKvwImage* TakeImage();

private:
    const CKvwSizeRecord m_wanted;
    const DWORD m_mode;
    IKvwItemService* m_items = nullptr;
    IKvwImage* m_image = nullptr;
};

// The item object (TCodecHidWnd::kGetTags).
class TArgsGetTags : public TImageRequest {
public:
    using TImageRequest::TImageRequest;
    ~TArgsGetTags() override;

    // Keeps the item (a reference handed over) when the record is pending, else lets it go; wakes.
    void Answer(IKvwItem* item);
    IKvwItem* TakeItem();

private:
    IKvwItem* m_item = nullptr;
};

// The item's picture written to a file by the host (TCodecHidWnd::kWriteImage).
class TArgsSaveImage : public TImageRequest {
public:
    TArgsSaveImage(KvwItemId item, std::wstring path, float scale, LONG quality,
                   const CKvwSizeRecord& wanted);

    // The record the host writes from: its file path's folder (the path up to and including its last
    // separator) and name as narrow text, the scale, 8-bit RGB, the quality level and the wanted size. It
    // lives with the record, so a host that writes later still finds it.
    CKvwOutputData* BuildOutput();
    // The host's answer for a pending record; wakes.
    void Finish(bool success);
    // KvwPluginRequest::kWriteImage: the host wrote the file.
    void Complete(KvwItemId item, DWORD requestId) override;
    // After the wait: the requester stops waiting; whether the host wrote the file.
    bool TakeSuccess();

private:
    const std::wstring m_path;
    const float m_scale;
    const LONG m_quality;
    const CKvwSizeRecord m_wanted;
    CKvwOutputData m_output;
    bool m_success = false;
};

// The host's source information of the item (TCodecHidWnd::kGetSourceInfo).
class TArgsSourceInfo : public TImageRequest {
public:
    using TImageRequest::TImageRequest;

    // For a pending record: the item service's source data and whether it answered with success; wakes.
    void Answer(IKvwItemService* items);
    // After the wait: the requester stops waiting; false when the host gave no source data.
    bool TakeAnswer(CKvwSourceData& data);

private:
    CKvwSourceData m_data;
    bool m_success = false;
};

// Whether the item's preview is loaded at the wanted size (TImgMngHidWnd::kGetPreview).
// Unlike the codec's records it stays pending after a cancelled wait: its handler still runs, and still
// asks the host for the preview, but nobody reads the answer.
class TArgsCheckImageLoaded : public TImageRequest {
public:
    // The image mode of the manager's preview requests.
    static constexpr DWORD kMode = 0x2000;

    TArgsCheckImageLoaded(KvwItemId item, const CKvwSizeRecord& wanted)
        : TImageRequest(item), m_wanted(wanted) {}

    const CKvwSizeRecord& GetWantedSize() const { return m_wanted; }
    void Answer(bool loaded);
    // After the event ended the wait.
    bool TakeLoaded();

private:
    const CKvwSizeRecord m_wanted;
    bool m_loaded = false;
};
