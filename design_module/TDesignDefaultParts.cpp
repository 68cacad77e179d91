#include "TDesignDefaultParts.h"

#include "plugin_framework/TAsyncRenderer.h"

namespace {

class TDesignRenderer : public IDesignRenderer {
public:
    TDesignRenderer() : m_renderer(TRefPtr<TAsyncRenderer>::Adopt(new TAsyncRenderer)) {}
    ~TDesignRenderer() override { m_renderer->Stop(); }

    bool Start(const TFilePath& rendererFolder, TAutoHandle* notifyTarget,
               const TString& codecParameters) override {
        m_renderer->SetRendererFolder(rendererFolder);
        if (!m_renderer->Start(nullptr))
            return false;
        m_renderer->SetNotifyTarget(notifyTarget);
        m_codecParameters = codecParameters;
        return true;
    }
    void CancelQueued() override { m_renderer->Cancel(false, false); }
    void Stop() override { m_renderer->Stop(); }

private:
    TRefPtr<TAsyncRenderer> m_renderer;
    TString m_codecParameters;
};

} // namespace

std::unique_ptr<IDesignPane> TDesignDefaultParts::MakeSinglePagePane(TKvwDesignModule&) {
    return nullptr;
}

std::unique_ptr<IDesignPane> TDesignDefaultParts::MakeContactSheetPane(TKvwDesignModule&) {
    return nullptr;
}

std::unique_ptr<IDesignPropertiesPanel> TDesignDefaultParts::MakePropertiesPanel(TKvwDesignModule&) {
    return nullptr;
}

std::unique_ptr<IDesignRenderer> TDesignDefaultParts::MakeRenderer() {
    return std::make_unique<TDesignRenderer>();
}

std::unique_ptr<IDesignLayouts> TDesignDefaultParts::MakeLayouts(TKvwDesignModule&) {
    return nullptr;
}
