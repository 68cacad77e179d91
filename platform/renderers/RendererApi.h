// What a page renderer library and its callers share: the fifteen entry points a library exports, the
// notice record it hands to subscribers while it renders, and how it reaches the objects whose addresses
// travel in context strings (the caller's cancel event, the image-load callback word). Renderer handles
// are 32-bit values; texts are zero-terminated wide strings; results are 1 for success.
#pragma once

#include "platform/dadadud/DadaDud.h"
#include "platform/win/WinKernel.h"
#include "platform/win/wintypes.h"

#include <atomic>
#include <cstddef>
#include <cstring>

using RendrHandle = LONG;
// What a handle cell holds while it names no renderer.
constexpr RendrHandle kRendrNoHandle = -1;

// The notice kind of a progress notice: its progress byte tells how far the render is.
constexpr DWORD kRendrNoticeProgress = 2;

// The record a notification function receives: the kind in the first word, the progress (for kind 2) in
// the byte at offset 8.
struct RendrNotice {
    DWORD kind;
    DWORD reserved;
    BYTE progress;
    BYTE unused[7];
};
static_assert(offsetof(RendrNotice, progress) == 8, "the progress byte lies at offset 8");

using RendrNotifyProc = void (*)(void* user, const RendrNotice* notice);

// The callback a renderer calls to learn whether an item's picture is loaded at the size (in pixels) it
// wants to draw it: 0 not loaded (the caller is told later, through its subscription, when it is), 1
// loaded, 2 not possible. The item id is decimal text. The framework stores the callback in a word of its
// own and passes the word's address; the cancel event is the render's.
using RendrImageStateProc = LONG (*)(const wchar_t* itemId, LONG wantedWidth, LONG wantedHeight,
                                     LONG subscriberId, LONG pageId, LONG itemInPage,
                                     const void* cancelEvent);

using RendrStartupProc = LONG (*)();
using RendrShutdownProc = LONG (*)();
using RendrCreateRendererProc = LONG (*)(RendrHandle* renderer);
using RendrSetDocumentProc = LONG (*)(RendrHandle renderer, DocHandle document, const wchar_t* context);
using RendrRefreshDocProc = LONG (*)(RendrHandle renderer, DocHandle document);
using RendrRenderPageProc = LONG (*)(RendrHandle renderer, LONG pageIndex, const wchar_t* context);
using RendrSetMediaContextProc = LONG (*)(RendrHandle renderer, const wchar_t* context);
using RendrSetReadyProc = LONG (*)(RendrHandle renderer);
using RendrStopRenderProc = LONG (*)(RendrHandle renderer);
using RendrAbortRendererProc = LONG (*)(RendrHandle renderer);
using RendrReleaseHandleProc = LONG (*)(RendrHandle renderer);
using SubscrSubscribeProc = LONG (*)(RendrNotifyProc notify, void* user, LONG kind, LONG* subscription);
using SubscrAddSubscriptionProc = LONG (*)(LONG subscription, LONG kind);
using SubscrUnsubscribeProc = LONG (*)(LONG subscription, LONG kind);
using SubscrUnsubscribeAllProc = LONG (*)(LONG subscription);

// How a renderer library marks its entry points for export.
#define RENDR_EXPORT extern "C" __attribute__((visibility("default")))

// The kernel handle of a synchronisation object of the framework, read through the object's address: the
// handle is the object's first field after its table of virtual functions.
inline HANDLE RendrSyncObjectHandle(const void* object) {
    HANDLE handle = 0;
    if (object)
        std::memcpy(&handle, static_cast<const char*>(object) + sizeof(void*), sizeof(handle));
    return handle;
}

// Whether the cancel event at the address is signalled; a null address never is.
inline bool RendrIsCancelled(const void* cancelEvent) {
    const HANDLE handle = RendrSyncObjectHandle(cancelEvent);
    return handle != 0 && WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
}

// The image-load callback word: the framework writes it while renderers may read it.
inline void RendrStoreImageStateProc(RendrImageStateProc* word, RendrImageStateProc callback) {
    std::atomic_ref<RendrImageStateProc>(*word).store(callback, std::memory_order_release);
}
inline RendrImageStateProc RendrLoadImageStateProc(RendrImageStateProc* word) {
    return word ? std::atomic_ref<RendrImageStateProc>(*word).load(std::memory_order_acquire) : nullptr;
}
