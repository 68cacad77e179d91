// The image-load manager of page rendering: it answers, for a renderer's thread, whether an item's preview
// is loaded at the size a page needs (asking the host on the user-interface thread through its hidden
// window), keeps per item whether it is loading or loaded and which boxes of which subscribers show it,
// and tells those subscribers, box by box on the user-interface thread, when the host reports the image
// loaded later. One per module, made on first use; make it on the user-interface thread, to which its
// window then belongs.
//
// Locks: the state lock guards the items; the subscriber lock guards the subscribers, the loaded
// transition and the notices, whose callbacks run under it and may subscribe and unsubscribe. The
// subscriber lock is taken first whenever both are held.
#pragma once

#include "TImgMngHidWnd.h"
#include "TSyncObject.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <utility>

class TImgLoadMng {
public:
    // A subscriber's callback: context, page id and item id within the page of one box that shows the item
    // loaded. An item shown in several boxes (replicas, or on several pages) is told once per box.
    using Callback = void (*)(void* context, LONG pageId, LONG itemInPage);

    // Item states.
    static constexpr LONG kIdle = 0;
    static constexpr LONG kLoading = 1;
    static constexpr LONG kLoadedState = 2;
    // Answers of CheckImageState and CheckImageLoaded.
    static constexpr LONG kNotLoaded = 0;
    static constexpr LONG kLoaded = 1;
    static constexpr LONG kNotPossible = 2;

    // Made on first use (with its window, on the calling thread).
    static std::shared_ptr<TImgLoadMng> Instance();
    // The manager when there is one: threads that only read use it, so that none makes one.
    static std::shared_ptr<TImgLoadMng> Existing();
    // Destroys the window (waking requests still queued for it) and lets go of the manager; a thread still
    // holding it finds no window and gets kNotPossible.
    static void Destroy();
    ~TImgLoadMng();

    // The module object that sends the requests and the item service they are asked of.
    void Init(IKvwMessage* requester, IKvwItemService* items);
    // A new subscriber id (counting from 1).
    LONG Subscribe(Callback callback, void* context);
    // The subscriber is forgotten in every item; an item it was loading becomes idle once no subscriber is
    // left for it, so that the others still hear of its arrival.
    void Unsubscribe(LONG subscriber);

    // The image-load callback of page contexts (RendrImageStateProc): kNotPossible without a manager or
    // its window, for an id text that is not a whole unsigned decimal or a size with a side not above 0;
    // else InternalCheckImageState. The cancel event is the framework's synchronisation object (null:
    // none).
    static LONG CheckImageState(const wchar_t* itemId, LONG wantedWidth, LONG wantedHeight, LONG subscriber,
                                LONG pageId, LONG itemInPage, const void* cancelEvent);
    // A loaded item asked for a smaller area answers kLoaded at once, and so does one asked for an area
    // no larger than one the host has answered for already: what the host gave is taken, even a preview
    // smaller than asked for, rather than asked for again and again. Otherwise the subscriber's box (page
    // id, item within the page) is added to those it shows the item in, the item is loading and
    // CheckImageLoaded decides; kLoaded makes it loaded. The wanted size that an item is first checked
    // with is kept for it, and later areas are compared with that one.
    LONG InternalCheckImageState(KvwItemId item, const CKvwSizeRecord& wanted, LONG subscriber, LONG pageId,
                                 LONG itemInPage, TSyncObject* cancel);
    // Asks the manager's window and waits for its answer or the cancel (kNotLoaded after a cancel); on
    // the window's own thread the window's handler runs at once instead. kNotPossible for a size with a
    // side not above 0 or without the window.
    LONG CheckImageLoaded(KvwItemId item, const CKvwSizeRecord& wanted, TSyncObject* cancel);
    // The host reports the item's image loaded: a loading item becomes loaded, the area it was last
    // checked for counts as answered, and each of its subscribers is told of every box it shows the item
    // in; items in other states are left as they are.
    void OnImageLoaded(KvwItemId item);

    // The item's state (kIdle for an item not known), for tests and diagnostics.
    LONG GetState(KvwItemId item) const;

private:
    // A box that shows an item: page id and item id within the page.
    using Box = std::pair<LONG, LONG>;
    struct ItemState {
        CKvwSizeRecord wanted;
        LONG state = kIdle;
        // The area of the latest check that made the item loading, and the largest area the host has
        // answered for (0: none).
        std::uint64_t checkedArea = 0;
        std::uint64_t answeredArea = 0;
        // Every subscriber interested in the item, with the boxes it asked about.
        std::map<LONG, std::set<Box>> subscribers;
    };
    struct Subscriber {
        Callback callback;
        void* context;
    };

    TImgLoadMng();

    mutable std::mutex m_stateLock;
    std::map<KvwItemId, ItemState> m_states;
    // Set when the manager is made and kept until it goes: only the window itself is destroyed earlier.
    const TRefPtr<TImgMngHidWnd> m_window;
    std::recursive_mutex m_subscriberLock;
    std::map<LONG, Subscriber> m_subscribers;
    LONG m_lastSubscriber = 0;
};
