// The image-load manager's hidden window: it asks the host, on the user-interface thread, whether an
// item's preview is loaded at a wanted size (kGetPreview), and tells the host when nobody waits for an item
// any more (kReleaseItem).
#pragma once

#include "TImageRequests.h"
#include "TRequestWindow.h"

#include <atomic>

class TImgMngHidWnd : public TRequestWindow {
public:
    static constexpr UINT kReleaseItem = 0xB42E; // TArgsReleaseItem
    static constexpr UINT kGetPreview = 0xB42F;  // TArgsCheckImageLoaded

    TImgMngHidWnd() : TRequestWindow(kReleaseItem, kGetPreview, kReleaseItem) {}

    // The window, registered as "ImgMngHidWnd" for this module, with its handlers.
    bool Create();
    // The module object that sends the requests and the item service they are asked of.
    void SetContext(IKvwMessage* requester, IKvwItemService* items);

    // The preview request for a pending record, on the window's thread: loaded when the item service
    // holds a preview at least as large as wanted; otherwise the host is asked to send it (and to complete
    // the request as an image-loaded notice). The record wakes either way.
    void GetPreview(TArgsCheckImageLoaded& request);

private:
    static LONG OnGetPreview(TMessageInfo* info, void* context);

    std::atomic<IKvwMessage*> m_requester{nullptr};
    std::atomic<IKvwItemService*> m_items{nullptr};
};
