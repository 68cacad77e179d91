// The entry points of the page renderer libraries (RGBRenderer and StateRenderer are built from this one
// source). Each start of the library starts the canvas and document libraries too; each shutdown ends
// them again, and the last one lets go of every renderer instance. No exception leaves an entry point.
#include "CPageRenderer.h"
#include "RendererApi.h"
#include "RendrSubscriptions.h"

#include "platform/win/StandInLibrary.h"
#include "platform/zizoraz/zIzoRaz.h"

#include <memory>

namespace {

StandInLibrary<CPageRenderer>& Renderers() {
    static auto* renderers = new StandInLibrary<CPageRenderer>;
    return *renderers;
}

RendrSubscriptions& Subscriptions() {
    static auto* subscriptions = new RendrSubscriptions;
    return *subscriptions;
}

std::shared_ptr<CPageRenderer> Find(RendrHandle renderer) {
    return Renderers().Find(static_cast<std::uint32_t>(renderer));
}

template <class Body>
LONG Guarded(Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return 0;
    }
}

} // namespace

RENDR_EXPORT LONG rendrStartup() noexcept {
    return Guarded([] {
        Renderers().Startup();
        iproStartup();
        docStartup();
        return 1;
    });
}

RENDR_EXPORT LONG rendrShutdown() noexcept {
    return Guarded([] {
        if (!Renderers().Shutdown())
            return 0;
        if (!Renderers().Started())
            Subscriptions().Clear();
        docShutdown();
        iproShutdown();
        return 1;
    });
}

RENDR_EXPORT LONG rendrCreateRenderer(RendrHandle* renderer) noexcept {
    return Guarded([renderer] {
        if (!renderer)
            return 0;
        const std::uint32_t handle = Renderers().Add(std::make_shared<CPageRenderer>());
        if (handle == 0)
            return 0;
        *renderer = static_cast<RendrHandle>(handle);
        return 1;
    });
}

RENDR_EXPORT LONG rendrSetDocument(RendrHandle renderer, DocHandle document, const wchar_t*) noexcept {
    return Guarded([=] {
        std::shared_ptr<CPageRenderer> instance = Find(renderer);
        if (!instance)
            return 0;
        instance->SetDocument(document);
        return 1;
    });
}

RENDR_EXPORT LONG rendrRefreshDoc(RendrHandle renderer, DocHandle document) noexcept {
    return rendrSetDocument(renderer, document, nullptr);
}

RENDR_EXPORT LONG rendrRenderPage(RendrHandle renderer, LONG pageIndex, const wchar_t* context) noexcept {
    return Guarded([=] {
        // Held for the whole render: a release meanwhile takes effect when the render is over.
        std::shared_ptr<CPageRenderer> instance = Find(renderer);
        return instance ? instance->RenderPage(pageIndex, context, Subscriptions()) : 0;
    });
}

RENDR_EXPORT LONG rendrSetMediaContext(RendrHandle renderer, const wchar_t* context) noexcept {
    return Guarded([=] {
        std::shared_ptr<CPageRenderer> instance = Find(renderer);
        if (!instance)
            return 0;
        instance->SetMediaContext(context);
        return 1;
    });
}

// A render stops at the cancel event of its own context, so there is nothing to make ready, stop or abort
// apart from it.
RENDR_EXPORT LONG rendrSetReady(RendrHandle renderer) noexcept {
    return Guarded([=] { return Find(renderer) ? 1 : 0; });
}

RENDR_EXPORT LONG rendrStopRender(RendrHandle renderer) noexcept {
    return rendrSetReady(renderer);
}

RENDR_EXPORT LONG rendrAbortRenderer(RendrHandle renderer) noexcept {
    return rendrSetReady(renderer);
}

RENDR_EXPORT LONG rendrReleaseHandle(RendrHandle renderer) noexcept {
    return Guarded([=] { return Renderers().Release(static_cast<std::uint32_t>(renderer)) ? 1 : 0; });
}

RENDR_EXPORT LONG subscrSubscribe(RendrNotifyProc notify, void* user, LONG kind,
                                  LONG* subscription) noexcept {
    return Guarded([=] { return Subscriptions().Subscribe(notify, user, kind, subscription) ? 1 : 0; });
}

RENDR_EXPORT LONG subscrAddSubscription(LONG subscription, LONG kind) noexcept {
    return Guarded([=] { return Subscriptions().AddKind(subscription, kind) ? 1 : 0; });
}

RENDR_EXPORT LONG subscrUnsubscribe(LONG subscription, LONG kind) noexcept {
    return Guarded([=] { return Subscriptions().RemoveKind(subscription, kind) ? 1 : 0; });
}

RENDR_EXPORT LONG subscrUnsubscribeAll(LONG subscription) noexcept {
    return Guarded([=] { return Subscriptions().UnsubscribeAll(subscription) ? 1 : 0; });
}
