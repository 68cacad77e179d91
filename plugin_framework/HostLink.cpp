#include "HostLink.h"

#include "platform/quasel/IPravonLoad.h"
#include "platform/win/WinDesktop.h"
#include "platform/win/utf16.h"

#include <memory>

namespace {

// What the pane size leaves for the host's frame around the pane.
constexpr LONG kFrameWidth = 47;
constexpr LONG kFrameHeight = 46;
// The flags word (p6) of a request that makes an item available.
constexpr KvwWord kMakeAvailableFlag = 1;

template <class Service>
struct ServiceReleaser {
    void operator()(Service* service) const {
        if (service)
            service->Release();
    }
};
template <class Service>
using ServicePtr = std::unique_ptr<Service, ServiceReleaser<Service>>;

// The host's service of the code, with the reference the host gave; null when there is none.
template <class Service>
ServicePtr<Service> QueryService(IKvwHost* host, DWORD code) {
    if (!host)
        return nullptr;
    IKvwObject* object = nullptr;
    const KvwResult result = host->QueryService(code, &object);
    if (!KvwSucceeded(result)) {
        if (object)
            object->Release();
        return nullptr;
    }
    return ServicePtr<Service>(static_cast<Service*>(object));
}

bool ClientSize(HWND window, LONG& width, LONG& height) {
    RECT client{};
    if (!window || !GetClientRect(window, &client))
        return false;
    width = client.right - client.left;
    height = client.bottom - client.top;
    return true;
}

} // namespace

bool NuidFromString(const wchar_t* text, KvwItemId& id) {
    if (!text || !*text)
        return false;
    KvwItemId value = 0;
    for (const wchar_t* c = text; *c; ++c) {
        if (*c < L'0' || *c > L'9')
            return false;
        const KvwItemId digit = static_cast<KvwItemId>(*c - L'0');
        if (value > (~KvwItemId{0} - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    id = value;
    return true;
}

TString NuidToString(KvwItemId item) {
    TString text;
    text.Format(L"%llu", static_cast<unsigned long long>(item));
    return text;
}

HostLink* HostLink::Instance() {
    static auto* link = new HostLink;
    return link;
}

void HostLink::Bind(IKvwHost* host, IKvwItemService* items, IKvwMessage* module) {
    m_host = host;
    m_items = items;
    m_module = module;
}

IKvwItem* HostLink::AcquireItem(KvwItemId item) {
    if (!IsBound())
        return nullptr;
    for (int attempt = 0; attempt < 2; ++attempt) {
        IKvwItem* found = nullptr;
        const KvwResult result = m_items->GetItem(KvwItemIdLow(item), KvwItemIdHigh(item), &found);
        if (KvwSucceeded(result) && found)
            return found;
        if (found)
            found->Release();
        if (attempt == 0)
            m_module->SendToHost(KvwPluginRequest::kMakeAvailable, KvwItemIdLow(item), KvwItemIdHigh(item), 0,
                                 0, 0, kMakeAvailableFlag, 0, 0);
    }
    return nullptr;
}

bool HostLink::GetItemProperty(KvwItemId item, DWORD property, TString& text) {
    ServicePtr<IKvwItem> found(AcquireItem(item));
    if (!found)
        return false;
    std::string value;
    if (!KvwSucceeded(found->GetPropertyText(property, &value)))
        return false;
    text = TString(value.c_str());
    return true;
}

DWORD HostLink::QueryNumber() {
    ServicePtr<IKvwPaneService> panes = QueryService<IKvwPaneService>(m_host, KvwService::kPanes);
    return panes ? panes->GetNumber() : 0;
}

IKvwRegistryService* HostLink::GetRegistryService() {
    return QueryService<IKvwRegistryService>(m_host, KvwService::kRegistry).release();
}

HWND HostLink::GetMainWindowHandle() const {
    return GetThreadMainWindow();
}

bool HostLink::MaxPaneSize(DWORD component, graphtypes::TSize_T<LONG>& size) {
    CKvwWindowData data;
    {
        ServicePtr<IKvwPaneService> panes = QueryService<IKvwPaneService>(m_host, KvwService::kPanes);
        if (!panes || !KvwSucceeded(panes->GetWindowData(component, &data)))
            return false;
    }
    LONG paneWidth = 0, paneHeight = 0, mainWidth = 0, mainHeight = 0, desktopWidth = 0, desktopHeight = 0;
    if (!ClientSize(data.window, paneWidth, paneHeight) ||
        !ClientSize(GetMainWindowHandle(), mainWidth, mainHeight) ||
        !ClientSize(GetDesktopWindow(), desktopWidth, desktopHeight))
        return false;
    size = graphtypes::TSize_T<LONG>(desktopWidth - kFrameWidth,
                                     desktopHeight - mainHeight + paneHeight - kFrameHeight);
    return true;
}

bool HostLink::ReadPngIntoImage(CKvwProfileImage& record, const wchar_t* path) {
    if (!path)
        return false;
    const PravonFile file{Utf::WideToUtf8(path)};
    IPravonManager* manager = nullptr;
    {
        ServicePtr<IKvwImagingService> imaging =
            QueryService<IKvwImagingService>(m_host, KvwService::kImaging);
        if (!imaging || !KvwSucceeded(imaging->GetManager(&manager)) || !manager)
            return false;
    }
    IPravonFileStream* rawStream = nullptr;
    if (PravonErrorPtr(IPravonFileStream::CreateFileStream(&rawStream)))
        return false;
    PravonFileStreamPtr stream(rawStream);
    IPravonTagControl* rawTags = nullptr;
    if (PravonErrorPtr(IPravonTagControl::CreateTagControl(&rawTags)))
        return false;
    PravonTagControlPtr tags(rawTags);
    if (PravonErrorPtr(stream->Open(file, IPravonFileStream::kRead)))
        return false;
    IPravonLoad* rawLoad = nullptr;
    if (PravonErrorPtr(IPravonLoad::CreateLoad(stream.get(), &rawLoad)))
        return false;
    PravonLoadPtr load(rawLoad);
    if (PravonErrorPtr(load->Open(stream.get(), tags.get())))
        return false;
    if (record.image) {
        record.image->Release();
        record.image = nullptr;
    }
    if (PravonErrorPtr(manager->CreateImage(0, &record.image)) || !record.image)
        return false;
    if (PravonErrorPtr(load->Begin(record.image)))
        return false;
    while (!load->IsComplete()) {
        if (PravonErrorPtr(load->Step()))
            return false;
    }
    return true;
}
