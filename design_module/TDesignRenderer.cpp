#include "TDesignRenderer.h"

TDesignRenderer::TDesignRenderer(TRefPtr<TAsyncRenderer> renderer, const TFilePath& rendererFolder)
    : m_renderer(renderer ? std::move(renderer) : TRefPtr<TAsyncRenderer>::Adopt(new TAsyncRenderer)),
      m_rendererFolder(rendererFolder) {}

TDesignRenderer::~TDesignRenderer() {
    m_renderer->Stop();
}

bool TDesignRenderer::Start(const TFilePath& rendererFolder, TAutoHandle* notifyTarget,
                            const TString& codecParameters) {
    m_renderer->SetRendererFolder(m_rendererFolder.GetPath().IsEmpty() ? rendererFolder : m_rendererFolder);
    // The target is set first: a request finished at once still finds it.
    m_renderer->SetNotifyTarget(notifyTarget);
    if (!m_renderer->Start(nullptr))
        return false;
    m_renderer->SetMediaContext(codecParameters);
    m_running = true;
    return true;
}

void TDesignRenderer::CancelQueued() {
    m_renderer->Cancel(false, false);
}

void TDesignRenderer::Stop() {
    m_running = false;
    m_renderer->Stop();
}

bool TDesignRenderer::SetDocument(const TdocDocument* document) {
    return m_renderer->SetDocument(document, TString());
}

bool TDesignRenderer::SetMediaContext(const TString& context) {
    return m_renderer->SetMediaContext(context);
}

void TDesignRenderer::SetReady() {
    m_renderer->SetReady();
}

bool TDesignRenderer::QueueRequest(TRndrData* request) {
    return m_running && m_renderer->QueueRequest(request);
}

void TDesignRenderer::Abort() {
    m_renderer->Abort(true);
}
