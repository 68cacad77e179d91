#include "CScriptedHost.h"

#include "platform/win/WinDesktop.h"
#include "platform/win/WinDialogs.h"
#include "platform/win/WinModule.h"
#include "platform/win/utf16.h"
#include "platform/zizoraz/IproImageFile.h"
#include "platform/zizoraz/IproResample.h"

#include <cmath>
#include <utility>

namespace {

// The item lists a design module has the host show, and the item shown as current.
constexpr DWORD kShownItems = 0x10000091;
constexpr DWORD kShownItemsToo = 0x10000092;
constexpr DWORD kShownItem = 0x10000093;

constexpr UINT kDeliver = WM_APP + 0x100;
constexpr wchar_t kWindowClass[] = L"KvHostWnd";
constexpr int kMainWindowWidth = 640;
constexpr int kMainWindowHeight = 480;

struct Slot {
    CScriptedHost* host = nullptr;
    std::size_t module = 0;
};

std::mutex& SlotLock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}

std::array<Slot, CScriptedHost::kMaxModules>& Slots() {
    static auto* slots = new std::array<Slot, CScriptedHost::kMaxModules>;
    return *slots;
}

const char kAnchor = 0;

HINSTANCE HostInstance() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<const wchar_t*>(&kAnchor), &module);
    return module;
}

// Request flags (p6) of an image request that wants its completion and no progress notices.
constexpr KvwWord kCompletionOnly = 4;
// The host's JPEG quality for output quality levels 1 .. 5.
constexpr LONG kQualityBase = 50;
constexpr LONG kQualityStep = 10;

// The folder as a module gives it (with or without its last separator) and the file name, joined.
std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/' || folder.back() == '\\')
        return folder + name;
    return folder + "/" + name;
}

bool RecordWordsAreRight(const std::array<KvwWord, 8>& p) {
    if (p[3] == 1)
        return p[2] != 0 && p[4] == kKvwRecordSize;
    return p[3] == 0 && p[2] == 0 && p[4] == 0;
}

} // namespace

// Every module gets one of these as its callback, so that the host knows who is asking.
KvwResult HostCallbackOf(std::size_t slot, DWORD id, const std::array<KvwWord, 8>& words) {
    Slot target;
    {
        std::lock_guard<std::mutex> guard(SlotLock());
        target = Slots()[slot];
    }
    if (!target.host)
        return kKvwInvalidArgument;
    return target.host->OnRequest(target.module, id, words);
}

namespace {

template <std::size_t N>
KvwResult Thunk(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5, KvwWord p6, KvwWord p7,
                KvwWord p8) {
    return HostCallbackOf(N, id, {p1, p2, p3, p4, p5, p6, p7, p8});
}

template <std::size_t... N>
constexpr std::array<KvwHostCallback, sizeof...(N)> MakeThunks(std::index_sequence<N...>) {
    return {&Thunk<N>...};
}

constexpr auto kThunks = MakeThunks(std::make_index_sequence<CScriptedHost::kMaxModules>());

} // namespace

struct CScriptedHost::Loaded {
    std::unique_ptr<CHostModule> module;
    std::size_t slot = 0;
};

CScriptedHost::CScriptedHost() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &CScriptedHost::WindowProc;
    windowClass.hInstance = HostInstance();
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass); // registered by an earlier host already, when it fails
    m_window =
        CreateWindowExW(0, kWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, HostInstance(), this);
    m_mainWindow = CreateWindowExW(0, kWindowClass, L"Host", WS_POPUP | WS_VISIBLE, 0, 0, kMainWindowWidth,
                                   kMainWindowHeight, nullptr, nullptr, HostInstance(), nullptr);
    SetThreadMainWindow(m_mainWindow);
    m_items.SetRecordDatabase(&m_records);
}

CScriptedHost::~CScriptedHost() {
    for (std::size_t i = 0; i < m_modules.size(); ++i) {
        if (m_modules[i] && !m_modules[i]->module->IsClosed())
            Close(i);
    }
    for (std::size_t i = 0; i < m_modules.size(); ++i)
        Unload(i);
    if (m_window)
        DestroyWindow(m_window);
    if (GetThreadMainWindow() == m_mainWindow)
        SetThreadMainWindow(nullptr);
    if (m_mainWindow)
        DestroyWindow(m_mainWindow);
}

std::size_t CScriptedHost::Load(const std::string& path) {
    std::unique_ptr<CHostModule> module = CHostModule::Load(path, m_error);
    return module ? Add(std::move(module)) : kNoModule;
}

std::size_t CScriptedHost::Add(std::unique_ptr<CHostModule> module) {
    if (!module) {
        m_error = "no module";
        return kNoModule;
    }
    std::size_t slot = kMaxModules;
    {
        std::lock_guard<std::mutex> guard(SlotLock());
        for (std::size_t i = 0; i < kMaxModules; ++i) {
            if (!Slots()[i].host) {
                slot = i;
                Slots()[i].host = this;
                Slots()[i].module = m_modules.size();
                break;
            }
        }
    }
    if (slot == kMaxModules) {
        m_error = "too many modules are loaded";
        return kNoModule;
    }
    auto loaded = std::make_unique<Loaded>();
    loaded->module = std::move(module);
    loaded->slot = slot;
    m_modules.push_back(std::move(loaded));
    return m_modules.size() - 1;
}

CHostModule* CScriptedHost::Module(std::size_t module) const {
    return module < m_modules.size() && m_modules[module] ? m_modules[module]->module.get() : nullptr;
}

KvwResult CScriptedHost::Initialize(std::size_t module) {
    CHostModule* loaded = Module(module);
    return loaded ? loaded->Initialize(kThunks[m_modules[module]->slot], this) : kKvwInvalidArgument;
}

KvwResult CScriptedHost::Send(std::size_t module, DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4,
                              KvwWord p5, KvwWord p6, KvwWord p7, KvwWord p8) {
    CHostModule* loaded = Module(module);
    return loaded ? loaded->Message(id, p1, p2, p3, p4, p5, p6, p7, p8) : kKvwInvalidArgument;
}

KvwResult CScriptedHost::GetInformation(std::size_t module, DWORD* kind, DWORD* version) {
    CHostModule* loaded = Module(module);
    return loaded ? loaded->GetInformation(kind, version) : kKvwInvalidArgument;
}

KvwResult CScriptedHost::ReadInformation(std::size_t module, CKvwModuleInformation& record) {
    return Send(module, KvwHostMessage::kInformation, 0, 0, reinterpret_cast<KvwWord>(&record));
}

KvwResult CScriptedHost::ReadButtonBitmaps(std::size_t module, DWORD kind, DWORD second,
                                           CKvwBitmapTable& table) {
    return Send(module, KvwHostMessage::kButtonBitmaps, kind, second, reinterpret_cast<KvwWord>(&table));
}

void CScriptedHost::Close(std::size_t module) {
    CHostModule* loaded = Module(module);
    if (!loaded)
        return;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        std::erase_if(m_pending, [&](const Pending& p) { return p.module == module; });
    }
    loaded->Close();
}

void CScriptedHost::Unload(std::size_t module) {
    if (!Module(module))
        return;
    {
        std::lock_guard<std::mutex> guard(SlotLock());
        Slots()[m_modules[module]->slot] = Slot{};
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        std::erase_if(m_pending, [&](const Pending& p) { return p.module == module; });
    }
    m_modules[module].reset();
}

void CScriptedHost::SetScript(DWORD requestId, CHostScript script) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_scripts[requestId] = std::move(script);
}

void CScriptedHost::SetAnswer(DWORD requestId, KvwResult result) {
    SetScript(requestId, [result](const CHostRequest&) { return CHostReply{result, {}}; });
}

CHostReply CScriptedHost::DefaultReply(const CHostRequest& request) {
    const auto& p = request.words;
    const KvwItemId item = KvwMakeItemId(p[0], p[1]);
    switch (request.id) {
    case KvwPluginRequest::kUpdateSelection:
    case KvwPluginRequest::kStopWaiting:
    case KvwModuleRequest::kActions:
    case KvwModuleRequest::kAnnounce:
    case KvwModuleRequest::kExchangeValue:
    case KvwModuleRequest::kMenu:
    case KvwModuleRequest::kSubPanel:
    case KvwModuleRequest::kFunctions:
    case KvwModuleRequest::kCommandUpdate:
    case kShownItems:
    case kShownItemsToo:
    case kShownItem:
        return CHostReply{kKvwOk, {}};
    case KvwPluginRequest::kMakeAvailable:
        return CHostReply{m_items.Has(item) ? kKvwOk : kKvwNothingToWorkOn, {}};
    case KvwPluginRequest::kPreview:
    case KvwPluginRequest::kFullImage: {
        if (!m_items.Has(item))
            return CHostReply{kKvwNothingToWorkOn, {}};
        if (!RecordWordsAreRight(p))
            return CHostReply{kKvwInvalidArgument, {}};
        const bool full = request.id == KvwPluginRequest::kFullImage;
        // A preview asked for at a size is made at that size first.
        if (!full && p[3] == 1)
            m_items.MakePreview(item, *reinterpret_cast<const CKvwSizeRecord*>(p[2]));
        m_items.Hold(item, full);
        const DWORD completion = p[5] == kCompletionOnly ? KvwHostMessage::kImageLoaded
                                 : full                  ? KvwHostMessage::kFullImageReady
                                                         : KvwHostMessage::kPreviewReady;
        return CHostReply{kKvwOk, {CompletionOf(request, completion)}};
    }
    case KvwPluginRequest::kWriteImage: {
        const KvwResult written = WriteOutput(request);
        return CHostReply{KvwSucceeded(written) ? kKvwHandled : written, {}};
    }
    default:
        return CHostReply{kKvwInvalidArgument, {}};
    }
}

KvwResult CScriptedHost::OnRequest(std::size_t module, DWORD id, const std::array<KvwWord, 8>& words) {
    CHostRequest request;
    request.module = module;
    request.id = id;
    request.words = words;
    request.thread = GetCurrentThreadId();
    CHostScript script;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_requests.push_back(request);
        auto it = m_scripts.find(id);
        if (it != m_scripts.end())
            script = it->second;
    }
    CHostReply reply;
    if (script)
        reply = script(request);
    else if (CHostRecordDatabase::IsRecordRequest(id))
        reply.result = m_records.OnRequest(id, words);
    else
        reply = DefaultReply(request);
    for (const CHostMessage& completion : reply.completions)
        Post(module, completion);
    return reply.result;
}

KvwResult CScriptedHost::WriteOutput(const CHostRequest& request) {
    const auto& p = request.words;
    const auto* output = reinterpret_cast<const CKvwOutputData*>(p[2]);
    if (!output || p[3] != 1 || p[4] != kKvwRecordOutputData)
        return kKvwInvalidArgument;
    const CKvwFilePath& file = output->filePath;
    if (file.quality < 1 || file.quality > 5 || !(file.scale > 0) || !std::isfinite(file.scale))
        return kKvwInvalidArgument;
    std::shared_ptr<const CHostPicture> picture = m_items.Picture(KvwMakeItemId(p[0], p[1]), true);
    if (!picture || picture->ColorSpace() == 0)
        return kKvwNothingToWorkOn;
    IproPixels pixels = picture->ToPixels();
    if (file.width > 0 && file.height > 0 && (file.width != pixels.width || file.height != pixels.height)) {
        IproPixels sized;
        if (!IproResample::Resize(pixels, file.width, file.height, sized))
            return kKvwNothingToWorkOn;
        pixels = std::move(sized);
    }
    IproImageFile::SaveOptions options;
    options.scale = file.scale;
    options.quality = kQualityBase + kQualityStep * file.quality;
    const std::wstring path = Utf::Utf8ToWide(JoinPath(file.folder, file.fileName));
    return IproImageFile::Save(pixels, path.c_str(), options, true) ? kKvwOk : kKvwNothingToWorkOn;
}

CHostMessage CScriptedHost::CompletionOf(const CHostRequest& request, DWORD message) {
    CHostMessage completion;
    completion.id = message;
    completion.words = {
        request.words[0] & 0xFFFFFFFFu, request.words[1] & 0xFFFFFFFFu, 0, 0, 0, 0, request.id, 0};
    return completion;
}

std::vector<CHostRequest> CScriptedHost::Requests() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_requests;
}

std::vector<CHostRequest> CScriptedHost::RequestsOf(DWORD id) const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<CHostRequest> found;
    for (const CHostRequest& request : m_requests) {
        if (request.id == id)
            found.push_back(request);
    }
    return found;
}

void CScriptedHost::ClearRequests() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_requests.clear();
}

void CScriptedHost::Post(std::size_t module, const CHostMessage& message) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_pending.push_back(Pending{module, message});
    }
    PostMessageW(m_window, kDeliver, 0, 0);
}

std::size_t CScriptedHost::PendingMessages() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_pending.size();
}

void CScriptedHost::DeliverNext() {
    Pending next;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_pending.empty())
            return;
        next = m_pending.front();
        m_pending.pop_front();
    }
    CHostModule* module = Module(next.module);
    if (!module || module->IsClosed())
        return;
    const auto& w = next.message.words;
    module->Message(next.message.id, w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
}

void CScriptedHost::AddItem(const CHostItemRecord& item) {
    m_items.Add(item);
}

void CScriptedHost::WithholdService(DWORD code, KvwResult result) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_withheld[code] = result;
}

void CScriptedHost::RestoreServices() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_withheld.clear();
}

KvwResult CScriptedHost::QueryService(DWORD code, IKvwObject** service) {
    if (!service)
        return kKvwInvalidArgument;
    *service = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_withheld.find(code);
        if (it != m_withheld.end())
            return it->second;
    }
    IKvwObject* object = nullptr;
    if (code == KvwService::kItems)
        object = &m_items;
    else if (code == KvwService::kBrowse)
        object = &m_browse;
    else if (code == KvwService::kImaging)
        object = &m_imaging;
    else if (code == KvwService::kPanes)
        object = &m_panes;
    else if (code == KvwService::kWindows)
        object = &m_windows;
    else if (code == KvwService::kRegistry)
        object = &m_registry;
    if (!object)
        return kKvwInvalidArgument;
    object->AddRef();
    *service = object;
    return kKvwOk;
}

LRESULT CScriptedHost::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    if (message == kDeliver) {
        if (auto* host = reinterpret_cast<CScriptedHost*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
            host->DeliverNext();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
