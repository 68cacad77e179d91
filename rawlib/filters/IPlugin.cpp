#include "IPlugin.h"

#include "platform/win/FourCC.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

// A handle the host issued: the bytes and, by their count, the size asked for.
struct KvHandleRecord {
    std::vector<BYTE> bytes;
};

namespace {

using namespace KvPlugin;

// Answered by the buffer suite for a slot that ends up without data.
constexpr SHORT kBufferWithoutData = -1;

void* g_mainWindow = nullptr;

// The plug-ins inside a call on this thread, innermost last: every callback goes to the innermost.
thread_local std::vector<IPlugin*> t_active;

IPlugin* Active() {
    return t_active.empty() ? nullptr : t_active.back();
}

class ActiveScope {
public:
    explicit ActiveScope(IPlugin* plugin) { t_active.push_back(plugin); }
    ~ActiveScope() { t_active.pop_back(); }
    ActiveScope(const ActiveScope&) = delete;
    ActiveScope& operator=(const ActiveScope&) = delete;
};

std::int32_t AbortProc() {
    IPlugin* p = Active();
    return p ? p->TestAbort() : 0;
}
void ProgressProc(std::int32_t done, std::int32_t total) {
    if (IPlugin* p = Active())
        p->UpdateProgress(done, total);
}
void HostProc(std::int16_t selector, std::intptr_t* data) {
    if (IPlugin* p = Active())
        p->HostProcedure(selector, data);
}
void ProcessEventProc(void* event) {
    if (IPlugin* p = Active())
        p->ProcessEvent(event);
}
std::int16_t DisplayPixelsProc(const KvPixelMap* source, const KvPluginRect* rect, std::int32_t row,
                               std::int32_t column, void* context) {
    IPlugin* p = Active();
    return p ? p->DisplayPixels(source, rect, row, column, context) : 0;
}
std::int16_t AdvanceStateProc() {
    IPlugin* p = Active();
    return p ? p->AdvanceState() : 0;
}
std::int16_t ColorServicesProc(KvColorServicesInfo* info) {
    IPlugin* p = Active();
    return p ? p->CheckColorServices(info) : 0;
}
std::int16_t AllocateBufferProc(std::int32_t size, KvBufferId* id) {
    IPlugin* p = Active();
    return p ? p->AllocateBuffer(size, id) : 0;
}
void* LockBufferProc(KvBufferId id, std::uint8_t moveHigh) {
    IPlugin* p = Active();
    return p ? p->LockBuffer(id, moveHigh) : nullptr;
}
void UnlockBufferProc(KvBufferId id) {
    if (IPlugin* p = Active())
        p->UnlockBuffer(id);
}
void FreeBufferProc(KvBufferId id) {
    if (IPlugin* p = Active())
        p->FreeBuffer(id);
}
std::int32_t BufferSpaceProc() {
    IPlugin* p = Active();
    return p ? p->BufferSpace() : 0;
}
KvHandle NewHandleProc(std::int32_t size) {
    IPlugin* p = Active();
    return p ? p->NewHandle(size) : nullptr;
}
void DisposeHandleProc(KvHandle handle) {
    if (IPlugin* p = Active())
        p->DisposeHandle(handle);
}
std::int32_t GetHandleSizeProc(KvHandle handle) {
    IPlugin* p = Active();
    return p ? p->GetHandleSize(handle) : 0;
}
std::int16_t SetHandleSizeProc(KvHandle handle, std::int32_t size) {
    IPlugin* p = Active();
    return p ? p->SetHandleSize(handle, size) : 0;
}
void* LockHandleProc(KvHandle handle, std::uint8_t moveHigh) {
    IPlugin* p = Active();
    return p ? p->LockHandle(handle, moveHigh) : nullptr;
}
void UnlockHandleProc(KvHandle handle) {
    if (IPlugin* p = Active())
        p->UnlockHandle(handle);
}
void RecoverSpaceProc(std::int32_t size) {
    if (IPlugin* p = Active())
        p->RecoverSpace(size);
}

// A value in the record's fixed point, saturated to its range.
std::int32_t Fixed(double value) {
    const double fixed = value * kFixedOne;
    if (!(fixed > std::numeric_limits<std::int32_t>::min()))
        return std::isnan(fixed) ? 0 : std::numeric_limits<std::int32_t>::min();
    if (fixed >= std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(fixed);
}

struct ModeOfSpace {
    LONG colorSpace;
    std::int16_t mode;
};
constexpr ModeOfSpace kModes[] = {
    {0x01020001, kModeBitmap},
    {PravonColorSpace::kGrey8, kModeGrey},
    {PravonColorSpace::kRGB8, kModeRGB},
    {PravonColorSpace::kCMYK8, kModeFourChannel},
    {PravonColorSpace::kGrey16, kModeGrey16},
    {PravonColorSpace::kRGB16, kModeRGB16},
};

} // namespace

bool IPlugin::WorkBuffer::Allocate(std::size_t bytes) {
    Free();
    data.reset(new (std::nothrow) BYTE[bytes == 0 ? 1 : bytes]());
    size = data ? bytes : 0;
    return data != nullptr;
}

void IPlugin::WorkBuffer::Free() {
    data.reset();
    size = 0;
}

IPlugin::IPlugin() : m_name("?"), m_category("?"), m_lock("IPlugin", Kv::CSyncBase::kDefaultSpinCount) {
    ResetFilterRecord();
}

IPlugin::~IPlugin() {
    ReleaseBuffers();
    for (KvHandleRecord* handle : m_handles)
        delete handle;
}

void IPlugin::SetMainWindow(void* window) {
    g_mainWindow = window;
}

void* IPlugin::GetMainWindow() {
    return g_mainWindow;
}

BOOL IPlugin::TestAbort() {
    return m_cancelled ? TRUE : FALSE;
}

SHORT IPlugin::SetPluginFile(const char* path) {
    if (m_loaded && m_path.CompareNoCase(path ? path : ""))
        return kNoError;
    ReleaseBuffers();
    m_initialised = false;
    m_prepared = false;
    m_data = 0;
    m_path = path ? path : "";
    const SHORT result = Load();
    m_loaded = result == kNoError;
    ResetFilterRecord();
    SettingsChanged();
    return result;
}

void IPlugin::ReleaseBuffers() {
    CKvSyncGuard guard(m_lock);
    m_buffers.clear();
}

void IPlugin::SetResourceNames(const char* name, const char* category, DWORD scriptingId) {
    m_name = name;
    m_category = category;
    m_scriptingId = scriptingId;
}

bool IPlugin::IsIssued(KvHandle handle) const {
    return handle && m_handles.count(handle) != 0;
}

KvHandle IPlugin::NewHandle(LONG size) {
    if (size < 0)
        return nullptr;
    auto* handle = new (std::nothrow) KvHandleRecord;
    if (!handle)
        return nullptr;
    try {
        handle->bytes.resize(static_cast<std::size_t>(size));
        CKvSyncGuard guard(m_lock);
        m_handles.insert(handle);
    } catch (const std::bad_alloc&) {
        delete handle;
        return nullptr;
    }
    return handle;
}

void IPlugin::DisposeHandle(KvHandle handle) {
    CKvSyncGuard guard(m_lock);
    if (m_handles.erase(handle) != 0)
        delete handle;
}

LONG IPlugin::GetHandleSize(KvHandle handle) {
    CKvSyncGuard guard(m_lock);
    return IsIssued(handle) ? static_cast<LONG>(handle->bytes.size()) : 0;
}

SHORT IPlugin::SetHandleSize(KvHandle handle, LONG size) {
    CKvSyncGuard guard(m_lock);
    if (!IsIssued(handle) || size < 0)
        return kErrParameter;
    try {
        handle->bytes.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        return kErrMemory;
    }
    return kNoError;
}

void* IPlugin::LockHandle(KvHandle handle, BOOL) {
    CKvSyncGuard guard(m_lock);
    return IsIssued(handle) ? handle->bytes.data() : nullptr;
}

SHORT IPlugin::AllocateBuffer(LONG size, KvBufferId* id) {
    CKvSyncGuard guard(m_lock);
    if (!id)
        return kErrParameter;
    std::size_t slot = 0;
    while (slot < m_buffers.size() && m_buffers[slot]->data)
        ++slot;
    if (slot == m_buffers.size()) {
        auto buffer = std::unique_ptr<C_PI_Buffer>(new (std::nothrow) C_PI_Buffer);
        if (!buffer)
            return kErrMemory;
        try {
            m_buffers.push_back(std::move(buffer));
        } catch (const std::bad_alloc&) {
            return kErrMemory;
        }
    }
    C_PI_Buffer& buffer = *m_buffers[slot];
    buffer.data.reset(size > 0 ? new (std::nothrow) BYTE[static_cast<std::size_t>(size)] : nullptr);
    buffer.size = buffer.data ? size : 0;
    buffer.locked = false;
    *id = static_cast<KvBufferId>(slot);
    return buffer.data ? kNoError : kBufferWithoutData;
}

void* IPlugin::LockBuffer(KvBufferId id, BOOL) {
    CKvSyncGuard guard(m_lock);
    if (id < 0 || static_cast<std::size_t>(id) >= m_buffers.size() || !m_buffers[id]->data)
        return nullptr;
    m_buffers[id]->locked = true;
    return m_buffers[id]->data.get();
}

void IPlugin::UnlockBuffer(KvBufferId id) {
    CKvSyncGuard guard(m_lock);
    if (id >= 0 && static_cast<std::size_t>(id) < m_buffers.size())
        m_buffers[id]->locked = false;
}

void IPlugin::FreeBuffer(KvBufferId id) {
    CKvSyncGuard guard(m_lock);
    if (id < 0 || static_cast<std::size_t>(id) >= m_buffers.size())
        return;
    C_PI_Buffer& buffer = *m_buffers[id];
    buffer.data.reset();
    buffer.size = 0;
    buffer.locked = false;
}

SHORT IPlugin::CheckColorServices(KvColorServicesInfo* info) {
    if (!info || info->selector != kColorServicesConvert || info->sourceSpace == info->resultSpace)
        return kNoError;
    return kErrParameter;
}

void IPlugin::ResetFilterRecord() {
    // The parameters handle is the host's and outlives the record's contents.
    const KvHandle parameters = m_record.parameters;
    m_record = KvFilterRecord{};
    m_about = KvAboutRecord{};
    m_bufferSuite = {kBufferSuiteVersion, kBufferSuiteProcedures, AllocateBufferProc, LockBufferProc,
                     UnlockBufferProc,    FreeBufferProc,         BufferSpaceProc};
    m_handleSuite = {kHandleSuiteVersion, kHandleSuiteProcedures, NewHandleProc,
                     DisposeHandleProc,   GetHandleSizeProc,      SetHandleSizeProc,
                     LockHandleProc,      UnlockHandleProc,       RecoverSpaceProc};
    std::fill(std::begin(m_propertySuite), std::end(m_propertySuite), 0);
    std::fill(std::begin(m_descriptorParameters), std::end(m_descriptorParameters), 0);

    KvFilterRecord& r = m_record;
    r.hostSignature = static_cast<std::uint32_t>(FourCC("8BIM"));
    std::fill(std::begin(r.backgroundColor), std::end(r.backgroundColor), 255);
    std::fill(std::begin(r.foregroundColor), std::end(r.foregroundColor), 255);
    r.abortProc = AbortProc;
    r.progressProc = ProgressProc;
    r.hostProc = HostProc;
    r.processEvent = ProcessEventProc;
    r.displayPixels = DisplayPixelsProc;
    r.advanceState = AdvanceStateProc;
    r.colorServices = ColorServicesProc;
    r.bufferSuite = &m_bufferSuite;
    r.handleSuite = &m_handleSuite;
    r.platformData = &g_mainWindow;
    r.propertySuite = m_propertySuite;
    r.descriptorParameters = m_descriptorParameters;
    r.inputRate = kFixedOne;
    r.parameters = IsIssued(parameters) ? parameters : nullptr;
    r.errorString = m_errorString;
    m_about.platformData = &g_mainWindow;
}

SHORT IPlugin::CallSelector(SHORT selector) {
    if (!m_loaded)
        return kNoError;
    ActiveScope scope(this);
    if (!m_initialised) {
        const SHORT result = CallEntry(kSelectorInitialize, &m_record, &m_data);
        if (result != kNoError)
            return result;
        m_initialised = true;
    }
    return CallEntry(selector, selector == kSelectorAbout ? static_cast<void*>(&m_about) : &m_record,
                     &m_data);
}

LONG IPlugin::GetParameters(BYTE* buffer, LONG size) const {
    const LONG stored = GetParameterSize();
    if (buffer && size >= stored && stored > 0)
        std::memcpy(buffer, m_parameters.data(), m_parameters.size());
    return stored;
}

bool IPlugin::SetParameters(const BYTE* bytes, LONG size) {
    if (!bytes || size <= 0) {
        m_parameters.clear();
        return true;
    }
    try {
        m_parameters.assign(bytes, bytes + size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void IPlugin::RegisterFilter(CFltPlugin* filter) {
    if (filter && std::find(m_filters.begin(), m_filters.end(), filter) == m_filters.end())
        m_filters.push_back(filter);
}

void IPlugin::UnregisterFilter(CFltPlugin* filter) {
    m_filters.erase(std::remove(m_filters.begin(), m_filters.end(), filter), m_filters.end());
}

bool IPlugin::PrepareForSource(IPravonDataSource* source, double scale, double resolution) {
    ResetFilterRecord();
    m_cancelled = false;
    m_pixelsRead = 0;
    LONG width = 0, height = 0, colorSpace = 0;
    if (!source)
        return false;
    PravonErrorPtr error(source->GetSize(&width, &height));
    if (!error)
        error.reset(source->GetColorSpace(&colorSpace));
    if (error)
        return false;
    const auto mode = std::find_if(std::begin(kModes), std::end(kModes),
                                   [colorSpace](const ModeOfSpace& m) { return m.colorSpace == colorSpace; });
    if (mode == std::end(kModes))
        return false;
    m_record.imageMode = mode->mode;
    m_record.planes = static_cast<std::int16_t>(PravonColorSpace::Channels(colorSpace));
    m_record.depth = static_cast<std::int16_t>(PravonColorSpace::BitsPerSample(colorSpace));
    m_record.imageWidth = width;
    m_record.imageHeight = height;
    m_record.imageResolution = Fixed(resolution);
    m_record.imageScale = Fixed(scale);
    return true;
}

SHORT IPlugin::SetupRun(IPravonDataSource* source, IPravonManager* manager, const PravonRect& rect) {
    m_source = source;
    m_manager = manager;
    m_input.Free();
    m_output.Free();
    KvFilterRecord& r = m_record;
    r.inData = r.outData = r.maskData = nullptr;
    r.inRowBytes = r.outRowBytes = r.outPlaneBytes = r.maskRowBytes = 0;
    if (!source)
        return kErrNoSource;

    m_outputRect = CPravonRect(rect).Intersect(CPravonRect(0, 0, r.imageWidth, r.imageHeight));
    r.outRect = r.inRect = {m_outputRect.left, m_outputRect.top, m_outputRect.right, m_outputRect.bottom};
    r.maskRect = {};
    r.inLoPlane = r.outLoPlane = 0;
    r.inHiPlane = r.outHiPlane = static_cast<std::int16_t>(r.planes - 1);
    r.inputPadding = 0;
    r.inputRate = kFixedOne;
    r.outputInitialised = 0;
    r.planarOutput = 0;
    m_errorString[0] = 0;

    const std::int64_t bytes =
        std::int64_t{m_outputRect.Width()} * m_outputRect.Height() * r.planes * (r.depth / 8);
    if (bytes > std::numeric_limits<std::int32_t>::max() ||
        !m_output.Allocate(static_cast<std::size_t>(bytes)))
        return kErrMemory;
    return HandOverParameters();
}

SHORT IPlugin::HandOverParameters() {
    KvHandle& handle = m_record.parameters;
    if (!IsIssued(handle))
        handle = nullptr;
    if (m_parameters.empty()) {
        // A block cleared by the host takes the plug-in's last parameters with it.
        if (handle)
            DisposeHandle(handle);
        handle = nullptr;
        return kNoError;
    }
    if (handle && handle->bytes == m_parameters)
        return kNoError;
    if (!handle) {
        handle = NewHandle(GetParameterSize());
        if (!handle)
            return kErrMemory;
    } else if (SetHandleSize(handle, GetParameterSize()) != kNoError) {
        return kErrMemory;
    }
    std::memcpy(handle->bytes.data(), m_parameters.data(), m_parameters.size());
    return kNoError;
}

SHORT IPlugin::Prepare() {
    const SHORT result = CallSelector(kSelectorPrepare);
    m_prepared = true;
    return result;
}

bool IPlugin::IsReady() const {
    return !m_prepared || (m_source && (m_runRequested || m_restartPending));
}

SHORT IPlugin::Run(ProgressCallback callback, void* user) {
    m_progress = callback;
    m_progressUser = user;
    if (!m_source || !(m_runRequested || m_restartPending))
        return kNoError;
    m_running = true;
    ReportProgress(0, 0);
    const SHORT result = CallSelector(kSelectorRun);
    ReportProgress(2, 100);
    m_running = false;
    m_runRequested = false;
    return result;
}

SHORT IPlugin::Process() {
    if (m_restartPending) {
        if (const SHORT result = CallSelector(kSelectorStart); result != kNoError)
            return result;
        m_restartPending = false;
    }
    KvFilterRecord& r = m_record;
    const LONG padding = std::max<LONG>(r.inputPadding, 0);
    const CPravonRect in = CPravonRect(m_outputRect.left - padding, m_outputRect.top - padding,
                                       m_outputRect.right + padding, m_outputRect.bottom + padding)
                               .Intersect(CPravonRect(0, 0, r.imageWidth, r.imageHeight));
    r.outRect = {m_outputRect.left, m_outputRect.top, m_outputRect.right, m_outputRect.bottom};
    r.inRect = {in.left, in.top, in.right, in.bottom};
    r.inLoPlane = r.outLoPlane = 0;
    r.inHiPlane = r.outHiPlane = static_cast<std::int16_t>(r.planes - 1);
    r.inputRate = kFixedOne;
    if (const SHORT result = AdvanceState(); result != kNoError)
        return result;
    return CallSelector(kSelectorProcess);
}

SHORT IPlugin::Finish() {
    const SHORT result = CallSelector(kSelectorFinish);
    Abandon();
    const KvHandle handle = IsIssued(m_record.parameters) ? m_record.parameters : nullptr;
    const std::vector<BYTE> none;
    const std::vector<BYTE>& left = handle ? handle->bytes : none;
    if (left != m_parameters) {
        try {
            m_parameters = left;
        } catch (const std::bad_alloc&) {
            // The stored block stays as it was; the plug-in keeps its handle.
        }
    }
    return result;
}

void IPlugin::Abandon() {
    m_input.Free();
    m_output.Free();
    m_record.inData = m_record.outData = nullptr;
    m_source = nullptr;
    m_progress = nullptr;
    m_progressUser = nullptr;
}

void IPlugin::SettingsChanged() {
    m_runRequested = true;
    m_restartPending = true;
}

IPlugin::Output IPlugin::GetOutput() const {
    Output out;
    if (!m_output.data)
        return out;
    out.data = m_output.data.get();
    out.rect = m_outputRect;
    out.planes = m_record.planes;
    out.bytesPerSample = m_record.depth / 8;
    out.planar = m_record.planarOutput != 0;
    out.rowBytes = m_outputRect.Width() * (out.planar ? 1 : out.planes) * out.bytesPerSample;
    out.planeBytes = out.planar ? std::int64_t{out.rowBytes} * m_outputRect.Height() : 0;
    return out;
}

void IPlugin::ReportProgress(LONG kind, LONG value) {
    if (m_progress && !m_progress(kind, value, m_progressUser))
        m_cancelled = true;
}

std::string IPlugin::GetErrorText() const {
    return std::string(reinterpret_cast<const char*>(m_errorString + 1), m_errorString[0]);
}

void IPlugin::SetErrorText(const char* text) {
    const std::size_t length = std::min<std::size_t>(std::strlen(text), kErrorStringLength);
    m_errorString[0] = static_cast<BYTE>(length);
    std::memcpy(m_errorString + 1, text, length);
}

SHORT IPlugin::FailWith(const char* text) {
    SetErrorText(text);
    return kErrWithText;
}

IPravonError* IPlugin::TranslateResult(SHORT result, LONG component) const {
    if (result == kNoError)
        return nullptr;
    if (result == kErrWithText) {
        const std::string text = GetErrorText();
        return PravonFail(component, PravonKind::kInvalidState, text.empty() ? "The plug-in failed" : text);
    }
    return PravonFail(component, PravonKind::kInvalidState,
                      "The plug-in " + std::string(m_name) + " answered " + std::to_string(result));
}
