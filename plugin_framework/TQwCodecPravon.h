// One codec of the module's codec table: a host item, opened by its id, whose picture is read through the
// codec window's requests to the host, fitted and converted to the format a renderer asks for, whose
// properties are read, and which the host can write to a file. Its calls run on any thread but the
// user-interface thread (where they answer false rather than wait for their own window), one at a time,
// and every wait ends when the cancel object given at Create is signalled.
#pragma once

#include "TBaseObject.h"
#include "TCodecHidWnd.h"
#include "TSyncObject.h"

#include "platform/zizoraz/zIzoRaz.h"

#include <atomic>
#include <mutex>

class TQwCodecPravon : public TBaseObject {
public:
    // The cancel object is the framework's synchronisation object (null: no cancel).
    TQwCodecPravon(TRefPtr<TCodecHidWnd> window, TSyncObject* cancel);
    ~TQwCodecPravon() override;

    // False without a requester or for an id text that is not a whole unsigned decimal; otherwise the
    // item object and then the picture's information (the host's source size as the wanted size).
    bool Open(const wchar_t* itemId);
    // The whole (fitted) picture in the format, rows padded to the alignment, handed to the sink.
    bool Read(DWORD format, LONG alignment, IIproCodecSink* sink);
    // The host writes the picture to the path (parameters: 1 the scale, a float; 2 the JPEG quality).
    bool Write(const wchar_t* path, const IproCodecParamList* params);
    // IPRO_INFO_IMAGE (IproCodecInfo) or IPRO_INFO_PROPERTY (IproCodecProperty); other kinds false.
    bool GetInfo(LONG kind, void* data);
    // IPRO_OPTION_SIZE: the wanted size (a negative side refused; 0 on either side: no wanted size).
    bool SetOption(LONG kind, void* data);
    // A null list is accepted; 3 sets the use-preview flag, 4 the mode word, other types are ignored.
    bool SetParameters(const IproCodecParamList* params);

    // Destroy's claim on the codec: true for the first caller only.
    bool ClaimDestroy() { return !m_destroyed.exchange(true); }

    // The module's codec context (the module object's Initialize, 7th step): the requester and item
    // service the codec window asks with, and that window, for codecs made afterwards. Null values clear
    // it.
    static void SetContext(IKvwMessage* requester, IKvwItemService* items, TCodecHidWnd* window);
    static TRefPtr<TCodecHidWnd> GetContextWindow();

private:
    enum class Wait { kAnswered, kCancelled, kRefused };

    // Posts the record and waits for it or the cancel object; kRefused on the window's own thread or when
    // the window is gone.
    Wait PostAndWait(UINT message, TImageRequest& request);
    bool Load();
    bool GetTags();
    bool GetImageInfo(IproCodecInfo& info);
    bool GetProperty(IproCodecProperty& property);
    // Scales the image down (never up) by the smaller of the wanted-to-image ratios when one is below 1.
    void Fit();
    bool HasWantedSize() const { return m_wantedWidth > 0 && m_wantedHeight > 0; }
    void ForgetItem();

    std::mutex m_callLock;
    IKvwImage* m_image = nullptr;
    const TRefPtr<TCodecHidWnd> m_window;
    TSyncObject* const m_cancel;
    KvwItemId m_itemId = 0;
    LONG m_colorSpace = 0;
    LONG m_bitsPerPixel = 0;
    LONG m_wantedWidth = 0;
    LONG m_wantedHeight = 0;
    IKvwItem* m_item = nullptr;
    LONG m_usePreview = 0;
    DWORD m_mode = 1;
    std::atomic<bool> m_destroyed{false};
};

// The quality level of a save for a JPEG quality: (max(q, 60) - 60) / 10 + 1, kept within 1..5.
LONG CodecQualityLevel(LONG quality);
// Calls the visitor with each entry of a codec parameter list; false for a list of the wrong size, more
// than 1024 entries, or a null entry or value (the visitor is not called for a list it refuses). A null
// list has no entries.
template <class Visitor>
bool ForEachCodecParam(const IproCodecParamList* params, Visitor visit) {
    constexpr DWORD kMaxEntries = 1024;
    if (!params)
        return true;
    if (params->size != sizeof(IproCodecParamList) || params->count > kMaxEntries ||
        (params->count > 0 && !params->entries))
        return false;
    for (DWORD i = 0; i < params->count; ++i) {
        if (!params->entries[i] || !params->entries[i]->value)
            return false;
    }
    for (DWORD i = 0; i < params->count; ++i)
        visit(params->entries[i]->type, params->entries[i]->value);
    return true;
}
