// The binding of one renderer library: its fifteen entry points resolved by name, one renderer instance
// made in it, and the framework's calls forwarded to that instance. Renderer ids name the libraries of a
// renderer folder. Each forwarder answers 0 without calling when the library or its entry point is absent.
// The framework adds no lock around the entry points: the library takes calls from the owner's thread and
// from the render worker at once.
#pragma once

#include "TBaseObject.h"
#include "TDynamicLib.h"
#include "TFilePath.h"
#include "TdocObject.h"

#include "platform/renderers/RendererApi.h"

// The library for a renderer id in the folder ("renderer.rgb" RGBRenderer.dll, "stateRenderer.rgb"
// StateRenderer.dll, "renderer.file.html" HTMLRenderer.dll), with a separator put between them when the
// folder does not end in one; false for any other id and for an empty folder.
bool ResolveRendererPath(const TString& rendererId, TFilePath& location, const TFilePath& folder);

class CRenderer : public TBaseObject {
public:
    // A binding of the library with a renderer instance in it, holding one reference; null when the library
    // does not bind or makes no instance (nothing of it stays loaded then).
    static CRenderer* Create(const TFilePath& location);

    CRenderer() = default;
    // Gives the instance back, then unbinds.
    ~CRenderer() override;

    // Loads the library (unbinding first) and resolves the entry points: all are required except
    // rendrRefreshDoc. Then starts the library. False, with nothing loaded, when a required one is missing.
    bool Bind(const TFilePath& location);
    // Shuts the library down once for the start that Bind made, then frees it.
    void Unbind();

    // The forwarders. Those that take a document pass its document-library handle, and answer 0 for none.
    LONG SetDocument(const TdocDocument* document, const TString& context);
    LONG RefreshDoc(const TdocDocument* document);
    LONG RenderPage(LONG pageIndex, const TString& context);
    LONG SetMediaContext(const TString& context);
    LONG SetReady();
    // Only a handle the library made is given back (once).
    LONG ReleaseHandle();
    LONG Subscribe(RendrNotifyProc notify, void* user, LONG kind, LONG* subscription);
    LONG UnsubscribeAll(LONG subscription);

    RendrHandle GetHandle() const { return m_handle; }
    bool IsBound() const { return m_library.IsLoaded(); }

private:
    void ForgetEntryPoints();

    RendrStartupProc m_rendrStartup = nullptr;
    RendrShutdownProc m_rendrShutdown = nullptr;
    RendrCreateRendererProc m_rendrCreateRenderer = nullptr;
    RendrSetDocumentProc m_rendrSetDocument = nullptr;
    RendrRefreshDocProc m_rendrRefreshDoc = nullptr;
    RendrRenderPageProc m_rendrRenderPage = nullptr;
    RendrSetMediaContextProc m_rendrSetMediaContext = nullptr;
    RendrSetReadyProc m_rendrSetReady = nullptr;
    RendrStopRenderProc m_rendrStopRender = nullptr;
    RendrAbortRendererProc m_rendrAbortRenderer = nullptr;
    RendrReleaseHandleProc m_rendrReleaseHandle = nullptr;
    SubscrSubscribeProc m_subscrSubscribe = nullptr;
    SubscrAddSubscriptionProc m_subscrAddSubscription = nullptr;
    SubscrUnsubscribeProc m_subscrUnsubscribe = nullptr;
    SubscrUnsubscribeAllProc m_subscrUnsubscribeAll = nullptr;
    TDynamicLib m_library;
    RendrHandle m_handle = kRendrNoHandle;
    // Whether Bind started the library, which Unbind then shuts down.
    bool m_started = false;
};
