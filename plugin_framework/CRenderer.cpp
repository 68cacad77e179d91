#include "CRenderer.h"

namespace {

struct RendererLibrary {
    const wchar_t* id;
    const wchar_t* fileName;
};

constexpr RendererLibrary kRendererLibraries[] = {
    {L"renderer.rgb", L"RGBRenderer.dll"},
    {L"stateRenderer.rgb", L"StateRenderer.dll"},
    {L"renderer.file.html", L"HTMLRenderer.dll"},
};

bool EndsWithSeparator(const TString& folder) {
    const int length = folder.GetLength();
    if (length == 0)
        return false;
    const wchar_t last = static_cast<const wchar_t*>(folder)[length - 1];
    return last == L'/' || last == L'\\';
}

} // namespace

bool ResolveRendererPath(const TString& rendererId, TFilePath& location, const TFilePath& folder) {
    const TString folderPath = folder.GetPath();
    if (folderPath.IsEmpty())
        return false;
    for (const RendererLibrary& library : kRendererLibraries) {
        if (rendererId == library.id) {
            TString path = folderPath;
            if (!EndsWithSeparator(path))
                path.AppendChar(kPathSeparator);
            path += library.fileName;
            location.Set(path);
            return true;
        }
    }
    return false;
}

CRenderer* CRenderer::Create(const TFilePath& location) {
    auto* renderer = new CRenderer;
    RendrHandle handle = kRendrNoHandle;
    if (renderer->Bind(location) && renderer->m_rendrCreateRenderer(&handle) == 1) {
        renderer->m_handle = handle;
        return renderer;
    }
    // Never handed out, so never registered: deleted directly.
    delete renderer;
    return nullptr;
}

CRenderer::~CRenderer() {
    ReleaseHandle();
    Unbind();
}

void CRenderer::ForgetEntryPoints() {
    m_rendrStartup = nullptr;
    m_rendrShutdown = nullptr;
    m_rendrCreateRenderer = nullptr;
    m_rendrSetDocument = nullptr;
    m_rendrRefreshDoc = nullptr;
    m_rendrRenderPage = nullptr;
    m_rendrSetMediaContext = nullptr;
    m_rendrSetReady = nullptr;
    m_rendrStopRender = nullptr;
    m_rendrAbortRenderer = nullptr;
    m_rendrReleaseHandle = nullptr;
    m_subscrSubscribe = nullptr;
    m_subscrAddSubscription = nullptr;
    m_subscrUnsubscribe = nullptr;
    m_subscrUnsubscribeAll = nullptr;
}

bool CRenderer::Bind(const TFilePath& location) {
    Unbind();
    if (!m_library.Load(location))
        return false;
    const TDynamicLib& lib = m_library;
    bool found = lib.GetProc("rendrStartup", m_rendrStartup) &&
                 lib.GetProc("rendrShutdown", m_rendrShutdown) &&
                 lib.GetProc("rendrCreateRenderer", m_rendrCreateRenderer) &&
                 lib.GetProc("rendrSetDocument", m_rendrSetDocument);
    // A library may do without refreshing documents; RefreshDoc then answers 0.
    if (found)
        lib.GetProc("rendrRefreshDoc", m_rendrRefreshDoc);
    found = found && lib.GetProc("rendrRenderPage", m_rendrRenderPage) &&
            lib.GetProc("rendrSetMediaContext", m_rendrSetMediaContext) &&
            lib.GetProc("rendrSetReady", m_rendrSetReady) &&
            lib.GetProc("rendrStopRender", m_rendrStopRender) &&
            lib.GetProc("rendrAbortRenderer", m_rendrAbortRenderer) &&
            lib.GetProc("rendrReleaseHandle", m_rendrReleaseHandle) &&
            lib.GetProc("subscrSubscribe", m_subscrSubscribe) &&
            lib.GetProc("subscrAddSubscription", m_subscrAddSubscription) &&
            lib.GetProc("subscrUnsubscribe", m_subscrUnsubscribe) &&
            lib.GetProc("subscrUnsubscribeAll", m_subscrUnsubscribeAll);
    if (!found) {
        Unbind();
        return false;
    }
    m_rendrStartup();
    m_started = true;
    return true;
}

void CRenderer::Unbind() {
    if (m_started && m_library.IsLoaded() && m_rendrShutdown)
        m_rendrShutdown();
    m_started = false;
    m_library.Free();
    ForgetEntryPoints();
}

LONG CRenderer::SetDocument(const TdocDocument* document, const TString& context) {
    if (!m_library.IsLoaded() || !m_rendrSetDocument || !document)
        return 0;
    return m_rendrSetDocument(m_handle, document->GetHandle(), context);
}

LONG CRenderer::RefreshDoc(const TdocDocument* document) {
    if (!m_library.IsLoaded() || !m_rendrRefreshDoc || !document)
        return 0;
    return m_rendrRefreshDoc(m_handle, document->GetHandle());
}

LONG CRenderer::RenderPage(LONG pageIndex, const TString& context) {
    if (!m_library.IsLoaded() || !m_rendrRenderPage)
        return 0;
    return m_rendrRenderPage(m_handle, pageIndex, context);
}

LONG CRenderer::SetMediaContext(const TString& context) {
    if (!m_library.IsLoaded() || !m_rendrSetMediaContext)
        return 0;
    return m_rendrSetMediaContext(m_handle, context);
}

LONG CRenderer::SetReady() {
    if (!m_library.IsLoaded() || !m_rendrSetReady)
        return 0;
    return m_rendrSetReady(m_handle);
}

LONG CRenderer::ReleaseHandle() {
    if (!m_library.IsLoaded() || !m_rendrReleaseHandle || m_handle == kRendrNoHandle)
        return 0;
    const RendrHandle handle = m_handle;
    m_handle = kRendrNoHandle;
    return m_rendrReleaseHandle(handle);
}

LONG CRenderer::Subscribe(RendrNotifyProc notify, void* user, LONG kind, LONG* subscription) {
    if (!m_library.IsLoaded() || !m_subscrSubscribe)
        return 0;
    return m_subscrSubscribe(notify, user, kind, subscription);
}

LONG CRenderer::UnsubscribeAll(LONG subscription) {
    if (!m_library.IsLoaded() || !m_subscrUnsubscribeAll)
        return 0;
    return m_subscrUnsubscribeAll(subscription);
}
