// The entry points of the scripted renderer libraries, forwarding to the one script. Built three times:
// whole, without rendrRefreshDoc (KV_SCRIPT_WITHOUT_REFRESH) and without subscrUnsubscribeAll
// (KV_SCRIPT_WITHOUT_UNSUBSCRIBE_ALL).
#include "CScriptRenderer.h"
#include "RendererApi.h"

namespace {

CScriptRenderer& Script() {
    return CScriptRenderer::Instance();
}

} // namespace

RENDR_EXPORT LONG rendrStartup() noexcept {
    return Script().Startup();
}

RENDR_EXPORT LONG rendrShutdown() noexcept {
    return Script().Shutdown();
}

RENDR_EXPORT LONG rendrCreateRenderer(RendrHandle* renderer) noexcept {
    return Script().CreateRenderer(renderer);
}

RENDR_EXPORT LONG rendrSetDocument(RendrHandle renderer, DocHandle document,
                                   const wchar_t* context) noexcept {
    return Script().SetDocument(renderer, document, context);
}

#ifndef KV_SCRIPT_WITHOUT_REFRESH
RENDR_EXPORT LONG rendrRefreshDoc(RendrHandle renderer, DocHandle document) noexcept {
    return Script().RefreshDoc(renderer, document);
}
#endif

RENDR_EXPORT LONG rendrRenderPage(RendrHandle renderer, LONG pageIndex, const wchar_t* context) noexcept {
    return Script().RenderPage(renderer, pageIndex, context);
}

RENDR_EXPORT LONG rendrSetMediaContext(RendrHandle renderer, const wchar_t* context) noexcept {
    return Script().Answer("rendrSetMediaContext", renderer, context);
}

RENDR_EXPORT LONG rendrSetReady(RendrHandle renderer) noexcept {
    return Script().Answer("rendrSetReady", renderer);
}

RENDR_EXPORT LONG rendrStopRender(RendrHandle renderer) noexcept {
    return Script().Answer("rendrStopRender", renderer);
}

RENDR_EXPORT LONG rendrAbortRenderer(RendrHandle renderer) noexcept {
    return Script().Answer("rendrAbortRenderer", renderer);
}

RENDR_EXPORT LONG rendrReleaseHandle(RendrHandle renderer) noexcept {
    return Script().ReleaseHandle(renderer);
}

RENDR_EXPORT LONG subscrSubscribe(RendrNotifyProc notify, void* user, LONG kind,
                                  LONG* subscription) noexcept {
    return Script().Subscribe(notify, user, kind, subscription);
}

RENDR_EXPORT LONG subscrAddSubscription(LONG subscription, LONG kind) noexcept {
    return Script().SubscriptionCall("subscrAddSubscription", subscription, kind);
}

RENDR_EXPORT LONG subscrUnsubscribe(LONG subscription, LONG kind) noexcept {
    return Script().SubscriptionCall("subscrUnsubscribe", subscription, kind);
}

#ifndef KV_SCRIPT_WITHOUT_UNSUBSCRIBE_ALL
RENDR_EXPORT LONG subscrUnsubscribeAll(LONG subscription) noexcept {
    return Script().UnsubscribeAll(subscription);
}
#endif
