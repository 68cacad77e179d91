// The design module's page renderer over the framework's asynchronous renderer: one worker drawing the
// queued pages with the default renderer library, its notices going to the module's notification window.
#pragma once

#include "DesignParts.h"

#include "plugin_framework/TAsyncRenderer.h"

class TDesignRenderer : public IDesignRenderer {
public:
    // The renderer to drive (null: a plain TAsyncRenderer); a folder that is set replaces the one Start
    // is given for the renderer libraries.
    explicit TDesignRenderer(TRefPtr<TAsyncRenderer> renderer = TRefPtr<TAsyncRenderer>(),
                             const TFilePath& rendererFolder = TFilePath());
    ~TDesignRenderer() override;

    bool Start(const TFilePath& rendererFolder, TAutoHandle* notifyTarget,
               const TString& codecParameters) override;
    void CancelQueued() override;
    void Stop() override;
    bool IsRunning() const override { return m_running; }
    bool SetDocument(const TdocDocument* document) override;
    bool SetMediaContext(const TString& context) override;
    void SetReady() override;
    bool QueueRequest(TRndrData* request) override;
    void Abort() override;

private:
    TRefPtr<TAsyncRenderer> m_renderer;
    TFilePath m_rendererFolder;
    bool m_running = false;
};
