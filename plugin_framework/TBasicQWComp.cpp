#include "TBasicQWComp.h"

#include "HostLink.h"
#include "TFilePath.h"
#include "TImgLoadMng.h"
#include "TModuleValues.h"
#include "TQwCodecPravon.h"
#include "TResource.h"

#include "platform/win/WinModule.h"

#include <cstring>
#include <vector>

namespace {

// More ids than this in one notification are not believed: the count comes from the host.
constexpr std::size_t kMaxNotifiedIds = 1u << 20;

} // namespace

TBasicQWComp::TBasicQWComp() : m_codecWindow(TRefPtr<TCodecHidWnd>::Adopt(new TCodecHidWnd)) {
    m_codecWindow->Create();
}

TBasicQWComp::~TBasicQWComp() {
    // Also here, for an object that is deleted without a (complete) Close.
    ForgetHost();
    ReleaseServices();
    ReleaseLanguageLibrary();
    TImgLoadMng::Destroy();
    TQwCodecPravon::SetContext(nullptr, nullptr, nullptr);
    if (m_codecWindow)
        m_codecWindow->Destroy();
}

KvwResult TBasicQWComp::SendToHost(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5,
                                   KvwWord p6, KvwWord p7, KvwWord p8) {
    if (!m_callback)
        return kKvwOk;
    return m_callback(id, p1, p2, p3, p4, p5, p6, p7, p8);
}

KvwResult TBasicQWComp::Initialize(KvwHostCallback callback, IKvwHost* host) {
    if (!callback || !host)
        return kKvwInvalidArgument;
    // A second initialisation gives back what the first one took.
    ForgetHost();
    ReleaseServices();
    ReleaseLanguageLibrary();
    m_callback = callback;
    m_host = host;

    IKvwObject* service = nullptr;
    KvwResult result = host->QueryService(KvwService::kItems, &service);
    if (!KvwSucceeded(result) || !service) {
        if (service)
            service->Release();
        return kKvwInvalidArgument;
    }
    m_itemService = static_cast<IKvwItemService*>(service);
    HostLink::Instance()->Bind(host, m_itemService, this);

    service = nullptr;
    result = host->QueryService(KvwService::kBrowse, &service);
    if (!KvwSucceeded(result)) {
        if (service)
            service->Release();
        return result;
    }
    m_browseService = static_cast<IKvwBrowseService*>(service);

    // A language library that does not load leaves the resource accessor without a module.
    TFilePath folder;
    if (GetModuleFolder(folder, GetThisModule())) {
        const TString path = folder.GetPath() + GetLanguageDllName();
        m_languageLibrary = LoadLibraryW(path);
        TResource::Instance()->SetModule(m_languageLibrary);
    }
    TQwCodecPravon::SetContext(this, m_itemService, m_codecWindow.Get());
    TImgLoadMng::Instance()->Init(this, m_itemService);
    return kKvwOk;
}

void TBasicQWComp::Close() {
    ForgetHost();
    ReleaseServices();
    ReleaseLanguageLibrary();
    m_host = nullptr;
    m_callback = nullptr;
    m_currentGroupId = 0;
}

void TBasicQWComp::ForgetHost() {
    // Nothing may ask the services given back: requests still waiting for the host are woken unanswered.
    HostLink* link = HostLink::Instance();
    if (link->GetModule() == this)
        link->Bind(nullptr, nullptr, nullptr);
    if (m_codecWindow)
        TQwCodecPravon::SetContext(nullptr, nullptr, m_codecWindow.Get());
    if (std::shared_ptr<TImgLoadMng> manager = TImgLoadMng::Existing())
        manager->Init(nullptr, nullptr);
}

void TBasicQWComp::ReleaseServices() {
    if (m_itemService)
        m_itemService->Release();
    if (m_browseService)
        m_browseService->Release();
    m_itemService = nullptr;
    m_browseService = nullptr;
}

void TBasicQWComp::ReleaseLanguageLibrary() {
    if (!m_languageLibrary)
        return;
    // Strings and dialogs no longer come from a library that is gone.
    TResource::Instance()->ForgetModule(m_languageLibrary);
    FreeLibrary(m_languageLibrary);
    m_languageLibrary = nullptr;
}

KvwResult TBasicQWComp::OnMessage(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord, KvwWord,
                                  KvwWord p7, KvwWord) {
    switch (id) {
    case KvwHostMessage::kImageLoaded:
    case KvwHostMessage::kPreviewReady:
    case KvwHostMessage::kFullImageReady: {
        // Copied first: handling an id may run code that makes the host let go of its array.
        std::vector<KvwItemId> items;
        const KvwItemId single = KvwMakeItemId(p1, p2);
        if (single != 0) {
            items.push_back(single);
        } else if (p3 && p4) {
            const std::size_t count = static_cast<std::size_t>(p4 & 0xFFFFFFFFu);
            if (count <= kMaxNotifiedIds) {
                items.resize(count);
                std::memcpy(items.data(), reinterpret_cast<const void*>(p3), count * sizeof(KvwItemId));
            }
        }
        const DWORD completed = static_cast<DWORD>(p7 & 0xFFFFFFFFu);
        for (KvwItemId item : items) {
            const bool taken = m_codecWindow && m_codecWindow->ProcessComplete(item, completed);
            if (!taken && id == KvwHostMessage::kImageLoaded)
                NotifyImageLoaded(item);
        }
        return kKvwOk;
    }
    case KvwHostMessage::kCurrentItem: {
        const KvwItemId item = KvwMakeItemId(p1, p2);
        if (KvwIsGroupItem(item))
            m_currentGroupId = item;
        return kKvwOk;
    }
    case KvwHostMessage::kProgress:
        if (m_codecWindow)
            m_codecWindow->OnProgress(p3);
        return kKvwOk;
    default:
        return kKvwOk;
    }
}

KvwResult TBasicQWComp::GetInformation(DWORD* kind, DWORD* version) {
    if (!kind || !version)
        return kKvwInvalidArgument;
    *kind = 0x2001;
    *version = 0x10000000;
    return kKvwOk;
}

UINT TBasicQWComp::GetButtonBitmapState1() {
    return 0;
}
UINT TBasicQWComp::GetButtonBitmapState3() {
    return 0;
}
UINT TBasicQWComp::GetButtonBitmapState2() {
    return 0;
}
UINT TBasicQWComp::GetButtonBitmapState100() {
    return 0;
}

void TBasicQWComp::NotifyImageLoaded(KvwItemId item) {
    if (std::shared_ptr<TImgLoadMng> manager = TImgLoadMng::Existing())
        manager->OnImageLoaded(item);
}
