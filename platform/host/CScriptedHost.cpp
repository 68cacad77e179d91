#include "CScriptedHost.h"

#include "platform/win/WinDesktop.h"
#include "platform/win/WinDialogs.h"
#include "platform/win/WinModule.h"
#include "platform/win/utf16.h"
#include "platform/zizoraz/IproImageFile.h"
#include "platform/zizoraz/IproResample.h"

#include <algorithm>
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

// Request flags (p6) of an image request that wants its completion and no progress notices, and the flag
// that asks for progress notices.
constexpr KvwWord kCompletionOnly = 4;
constexpr KvwWord kProgressWanted = 2;
// A design page: a record of this kind with the page flag; a module's picture of one, preview or full.
constexpr DWORD kDesignPageKind = 0x1400;
constexpr DWORD kPagePreviewAnswer = 0x80000102;
constexpr DWORD kPageFullAnswer = 0x80000103;
// The error kind (p5) of a completion that carries an error word.
constexpr KvwWord kCompletionErrorKind = 33;
// A page is never asked for larger than this on either side for the sake of its proportions.
constexpr double kMaxRoutedSide = 8192;
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
    // Its component kind, as it tells it once initialised.
    DWORD kind = 0;
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
    if (!loaded)
        return kKvwInvalidArgument;
    const KvwResult result = loaded->Initialize(kThunks[m_modules[module]->slot], this);
    DWORD kind = 0, version = 0;
    if (KvwSucceeded(result) && KvwSucceeded(loaded->GetInformation(&kind, &version)))
        m_modules[module]->kind = kind;
    return result;
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
    DropRoutesOf(module);
}

void CScriptedHost::Unload(std::size_t module) {
    if (!Module(module))
        return;
    DropRoutesOf(module);
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
    case KvwPluginRequest::kStopWaiting:
        return CHostReply{StopWaitingForPage(request), {}};
    case KvwPluginRequest::kUpdateSelection:
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
        std::size_t owner = 0;
        if (!m_items.Has(item) && FindPageOwner(item, owner))
            return RoutePageRequest(request);
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
    case kPagePreviewAnswer:
    case kPageFullAnswer:
        return CHostReply{TakePageImage(request), {}};
    case KvwHostMessage::kImageLoaded:
        return CHostReply{CompletePageRequest(request), {}};
    case KvwHostMessage::kProgress:
        return CHostReply{kKvwOk, {}};
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
    if (id == KvwRecordRequest::kCreate)
        NotePageOwner(module, words, reply.result);
    for (const CHostMessage& completion : reply.completions)
        Post(module, completion);
    return reply.result;
}

void CScriptedHost::NotePageOwner(std::size_t module, const std::array<KvwWord, 8>& words, KvwResult result) {
    const auto* input = reinterpret_cast<const CKvwInputData*>(words[2]);
    if (!KvwSucceeded(result) || !input || words[3] != 1 || input->kind != kDesignPageKind ||
        (input->flags & kKvwDesignPageFlag) == 0)
        return;
    m_routes.SetOwner(input->id, module,
                      module < m_modules.size() && m_modules[module] ? m_modules[module]->kind : 0);
}

bool CScriptedHost::FindPageOwner(KvwItemId page, std::size_t& module) {
    std::size_t registered = 0;
    DWORD kind = 0;
    if (!m_routes.FindOwner(page, registered, kind))
        return false;
    const auto open = [&](std::size_t index) {
        return index < m_modules.size() && m_modules[index] && !m_modules[index]->module->IsClosed();
    };
    if (open(registered)) {
        module = registered;
        return true;
    }
    // A module that registered the page and was closed: the same module loaded again draws its pages.
    for (std::size_t index = 0; index < m_modules.size(); ++index) {
        if (kind != 0 && open(index) && m_modules[index]->kind == kind) {
            module = index;
            return true;
        }
    }
    return false;
}

CHostReply CScriptedHost::RoutePageRequest(const CHostRequest& request) {
    const auto& p = request.words;
    std::size_t owner = 0;
    if (!RecordWordsAreRight(p) || !FindPageOwner(KvwMakeItemId(p[0], p[1]), owner))
        return CHostReply{kKvwInvalidArgument, {}};
    CHostPageRoutes::Route route;
    route.requester = request.module;
    route.requestId = request.id;
    route.flags = p[5];
    route.page = KvwMakeItemId(p[0], p[1]);
    route.sized = p[3] == 1;
    if (route.sized)
        route.wanted = *reinterpret_cast<const CKvwSizeRecord*>(p[2]);
    route.owner = owner;
    const DWORD tag = m_routes.Add(route);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        Pending pending{owner, CHostMessage{}};
        pending.route = tag;
        m_pending.push_back(pending);
    }
    PostMessageW(m_window, kDeliver, 0, 0);
    return CHostReply{kKvwOk, {}};
}

void CScriptedHost::DeliverRoute(DWORD tag) {
    CHostPageRoutes::Route route;
    if (!m_routes.Find(tag, route))
        return;
    CHostModule* owner = Module(route.owner);
    if (!owner || owner->IsClosed()) {
        if (m_routes.Take(tag, route))
            CompleteRoute(route, kKvwCancelled);
        return;
    }
    // Asked at the wanted size enlarged to the page's proportions (its size words), so that the page
    // keeps them and still covers what was wanted.
    CKvwSizeRecord size = route.wanted;
    CHostRecordDatabase::Record record;
    if (route.sized && m_records.Find(route.page, &record) && record.width > 0 && record.height > 0 &&
        size.width > 0 && size.height > 0) {
        const double scale = std::max(static_cast<double>(size.width) / record.width,
                                      static_cast<double>(size.height) / record.height);
        const double width = std::max<double>(size.width, std::round(record.width * scale));
        const double height = std::max<double>(size.height, std::round(record.height * scale));
        if (width <= kMaxRoutedSide && height <= kMaxRoutedSide) {
            size.width = static_cast<DWORD>(width);
            size.height = static_cast<DWORD>(height);
        }
    }
    const KvwWord flags = kCompletionOnly | (route.flags & kProgressWanted);
    const KvwResult result =
        owner->Message(route.requestId, KvwItemIdLow(route.page), KvwItemIdHigh(route.page),
                       route.sized ? reinterpret_cast<KvwWord>(&size) : 0, route.sized ? 1 : 0,
                       route.sized ? kKvwRecordSize : 0, flags, 0, tag);
    // Anything but queued sends no completion: the requester is completed now.
    if (result != kKvwQueued && m_routes.Take(tag, route))
        CompleteRoute(route, KvwSucceeded(result) ? kKvwInvalidArgument : result);
}

KvwResult CScriptedHost::TakePageImage(const CHostRequest& request) {
    const auto& p = request.words;
    const KvwItemId page = KvwMakeItemId(p[0], p[1]);
    std::size_t owner = 0;
    const auto* record = reinterpret_cast<const CKvwProfileImage*>(p[2]);
    if (!FindPageOwner(page, owner) || owner != request.module || !record || p[3] != 1 || !record->image)
        return kKvwInvalidArgument;
    auto picture = std::make_shared<CHostPicture>();
    if (!CHostPicture::FromImage(*record->image, *picture))
        return kKvwInvalidArgument;
    m_items.SetPagePicture(page, request.id == kPageFullAnswer, std::move(picture));
    return kKvwOk;
}

KvwResult CScriptedHost::CompletePageRequest(const CHostRequest& request) {
    const auto& p = request.words;
    CHostPageRoutes::Route route;
    // A completion that no request waits for any more (dropped, or never passed on) is taken all the same.
    if (!m_routes.Find(static_cast<DWORD>(p[7]), route) || route.owner != request.module ||
        route.page != KvwMakeItemId(p[0], p[1]) || !m_routes.Take(static_cast<DWORD>(p[7]), route))
        return kKvwOk;
    const auto* error = reinterpret_cast<const DWORD*>(p[2]);
    CompleteRoute(route, error && p[3] == 1 ? static_cast<KvwResult>(*error) : kKvwOk);
    return kKvwOk;
}

KvwResult CScriptedHost::StopWaitingForPage(const CHostRequest& request) {
    const KvwItemId page = KvwMakeItemId(request.words[0], request.words[1]);
    const auto dropped = m_routes.TakeIf([&](const CHostPageRoutes::Route& route) {
        return route.page == page && route.requester == request.module;
    });
    std::vector<std::size_t> told;
    for (const auto& [tag, route] : dropped) {
        if (m_routes.Waits(page, route.owner) ||
            std::find(told.begin(), told.end(), route.owner) != told.end())
            continue;
        told.push_back(route.owner);
        CHostMessage cancel;
        cancel.id = KvwPluginRequest::kStopWaiting;
        cancel.words = {KvwItemIdLow(page), KvwItemIdHigh(page), 0, 0, 0, 0, 0, 0};
        Post(route.owner, cancel);
    }
    return kKvwOk;
}

void CScriptedHost::CompleteRoute(const CHostPageRoutes::Route& route, KvwResult result) {
    Pending pending{route.requester, CHostMessage{}};
    pending.message.words = {
        KvwItemIdLow(route.page), KvwItemIdHigh(route.page), 0, 0, 0, 0, route.requestId, 0};
    if (KvwSucceeded(result)) {
        const bool full = route.requestId == KvwPluginRequest::kFullImage;
        pending.message.id = route.flags == kCompletionOnly ? KvwHostMessage::kImageLoaded
                             : full                         ? KvwHostMessage::kFullImageReady
                                                            : KvwHostMessage::kPreviewReady;
    } else {
        pending.message.id = KvwHostMessage::kImageLoaded;
        pending.message.words[3] = 1;
        pending.message.words[4] = kCompletionErrorKind;
        pending.failed = true;
        pending.error = static_cast<DWORD>(result);
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_pending.push_back(pending);
    }
    PostMessageW(m_window, kDeliver, 0, 0);
}

void CScriptedHost::DropRoutesOf(std::size_t module) {
    m_routes.TakeIf([&](const CHostPageRoutes::Route& route) { return route.requester == module; });
    const auto drawn =
        m_routes.TakeIf([&](const CHostPageRoutes::Route& route) { return route.owner == module; });
    for (const auto& [tag, route] : drawn)
        CompleteRoute(route, kKvwCancelled);
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
    if (next.route != 0) {
        DeliverRoute(next.route);
        return;
    }
    CHostModule* module = Module(next.module);
    if (!module || module->IsClosed())
        return;
    auto& w = next.message.words;
    if (next.failed)
        w[2] = reinterpret_cast<KvwWord>(&next.error);
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
