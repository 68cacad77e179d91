#include "rawlib/filters/revelation/CDRAGBase.h"
#include "rawlib/foundation/KvProcessLocks.h"

#include "platform/pravon/PravonGraph.h"
#include "rawlib/filters/revelation/CDRAGLibrary.h"
#include "rawlib/foundation/CSyncGlobal.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <string>

namespace {

constexpr LONG kComponent = CDRAGBase::kComponent;
constexpr LONG kMargin = DRAG_STRIP_MARGIN;
// The smallest regions: with the option, and without it for each pass.
constexpr LONG kSmallestRegion = 16;
constexpr LONG kSmallestMeasured = 512;
constexpr LONG kSmallestMapped = 24;

// Guards the use count and every load, unload, new and delete of the library.
Kv::CSyncGlobal& g_local = KvLibrary::g_revelationLocal;
LONG g_useCount = 0;

std::atomic<std::uint64_t> g_stripBytes{CDRAGBase::kStripBytes};

void* AllocateCallback(void** memory, std::uint32_t size) {
    *memory = std::malloc(size);
    if (!*memory)
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the Revelation library");
    return nullptr;
}

void* ReleaseCallback(void* memory) {
    std::free(memory);
    return nullptr;
}

void* LimitCallback(std::int32_t low, std::int32_t high, std::int32_t, std::int32_t* out) {
    *out = std::max(low, std::min(high, CDRAGBase::kWorkLimit));
    return nullptr;
}

bool IsDepth(LONG depth) {
    return depth == 8 || depth == 10 || depth == 12 || depth == 14 || depth == 16;
}

bool IsGrey(LONG colorSpace) {
    return colorSpace == PravonColorSpace::kGrey8 || colorSpace == PravonColorSpace::kGrey16;
}

// The layout an output takes when it is fitted to its source: 8 bits at depth 8, else 16.
LONG FittedColorSpace(bool grey, LONG depth) {
    if (grey)
        return depth == 8 ? PravonColorSpace::kGrey8 : PravonColorSpace::kGrey16;
    return depth == 8 ? PravonColorSpace::kRGB8 : PravonColorSpace::kRGB16;
}

} // namespace

CDRAGBase::CDRAGBase(IPravonManager* manager, BYTE option) : m_manager(manager), m_option(option) {}

CDRAGBase::~CDRAGBase() {
    PravonErrorPtr dropped(Close());
}

void CDRAGBase::FillCallbacks(DragParams& params) {
    params.allocate = AllocateCallback;
    params.release = ReleaseCallback;
    params.limit = LimitCallback;
}

LONG CDRAGBase::StripCount(LONG depth, LONG width, LONG height, std::uint64_t stripBytes) {
    if (width <= 0 || height <= 0)
        return 1;
    const std::uint64_t bytesPerPixel = depth == 8 ? 3 : 6;
    const std::uint64_t bytes =
        bytesPerPixel * static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    const std::uint64_t count = (bytes - 1) / std::max<std::uint64_t>(stripBytes, 1) + 1;
    // Strips share the rows evenly; a count that would leave the last strips without rows is cut down.
    const std::uint64_t rows =
        (static_cast<std::uint64_t>(height) - 1) / std::min<std::uint64_t>(count, height) + 1;
    return static_cast<LONG>((static_cast<std::uint64_t>(height) + rows - 1) / rows);
}

LONG CDRAGBase::GetLibraryUseCount() {
    CKvSyncGuard guard(g_local);
    return g_useCount;
}

void CDRAGBase::SetStripBytesForTesting(std::uint64_t bytes) {
    g_stripBytes = bytes ? bytes : kStripBytes;
}

IPravonError* CDRAGBase::Open(LONG kind) {
    CKvSyncGuard guard(g_local);
    if (m_handle && m_kind == kind)
        return nullptr;
    if (m_handle) {
        CDRAGLibrary::Get().destroy(m_handle);
        m_handle = CDRAGLibrary::Get().create(kind, 0, 0);
        if (m_handle) {
            m_kind = kind;
            return nullptr;
        }
        // This session holds no handle any more, so it no longer counts.
        if (--g_useCount == 0)
            CDRAGLibrary::Unload();
        return PravonFail(kComponent, kNoSession, "the Revelation library gave no session");
    }
    if (g_useCount == 0) {
        if (IPravonError* e = CDRAGLibrary::Load())
            return e;
    }
    m_handle = CDRAGLibrary::Get().create(kind, 0, 0);
    if (!m_handle) {
        if (g_useCount == 0)
            CDRAGLibrary::Unload();
        return PravonFail(kComponent, kNoSession, "the Revelation library gave no session");
    }
    ++g_useCount;
    m_kind = kind;
    return nullptr;
}

void CDRAGBase::DeleteHandle() {
    CKvSyncGuard guard(g_local);
    if (!m_handle)
        return;
    CDRAGLibrary::Get().destroy(m_handle);
    m_handle = 0;
    if (--g_useCount == 0)
        CDRAGLibrary::Unload();
}

IPravonError* CDRAGBase::CheckStart(IPravonDataSource* source, LONG kind, LONG depth,
                                    LONG* colorSpace) const {
    if (m_active)
        return PravonFail(kComponent, PravonKind::kPassOpen, "a Revelation run is under way");
    if (kind < 2 || kind > 11)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the Revelation kind must be 2 to 11");
    if (!IsDepth(depth))
        return PravonFail(kComponent, PravonKind::kInvalidState,
                          "the Revelation depth must be 8, 10, 12, 14 or 16");
    if (IPravonError* e = source->GetColorSpace(colorSpace))
        return PravonContext(e, kComponent, "the colour space of the Revelation source");
    if (!CDRAGImage::IsCarried(*colorSpace))
        return PravonFail(kComponent, PravonKind::kUnsupportedColorSpace,
                          "the Revelation source must be 8- or 16-bit grey or RGB");
    return nullptr;
}

IPravonError* CDRAGBase::CheckRegion(const PravonRect* region, LONG minimum, PravonRect* area) const {
    const LONG width = m_source.GetWidth();
    const LONG height = m_source.GetHeight();
    *area = region ? *region : PravonRect{0, 0, width, height};
    if (area->left < 0 || area->top < 0 || area->right > width || area->bottom > height ||
        area->right < area->left || area->bottom < area->top)
        return PravonFail(kComponent, kRegionOutside, "the Revelation region does not lie inside the source");
    if (area->Width() < minimum || area->Height() < minimum)
        return PravonFail(kComponent, PravonKind::kMissingInput, "the Revelation region is too small");
    return nullptr;
}

IPravonError* CDRAGBase::CreateImage(PravonImagePtr* image) const {
    if (*image)
        return nullptr;
    IPravonImage* made = nullptr;
    if (IPravonError* e = m_manager->CreateImage(1, &made))
        return PravonContext(e, kComponent, "an image for the Revelation library");
    image->reset(made);
    return nullptr;
}

void CDRAGBase::FillCommon(BYTE flagByte, ULONG pass, ULONG inputCount) {
    m_params = {};
    m_params.size = sizeof(DragParams);
    m_params.inputCount = inputCount;
    m_params.one = 1;
    m_params.sampleBits = 16;
    m_params.resolution = static_cast<std::uint16_t>(std::clamp(std::trunc(m_resolution), 0.0, 65535.0));
    m_params.lastRow = static_cast<std::uint32_t>(m_source.GetLastRow());
    m_params.flagSet = flagByte != 0 ? 1 : 0;
    m_params.flag = flagByte;
    m_params.rowSource = CDRAGImage::RowSource;
    m_params.rowSink = CDRAGImage::RowSink;
    FillCallbacks(m_params);
    m_params.pass = pass;
}

IPravonError* CDRAGBase::LibraryError(std::int32_t result, const DragError& error, const char* call) const {
    if (result == DRAG_ERR_OBJECT && error.object)
        return PravonContext(static_cast<IPravonError*>(error.object), kComponent, call);
    if (result == DRAG_ERR_TEXT)
        return PravonFail(kComponent, result, error.text ? error.text : call);
    return PravonFail(kComponent, result, std::string(call) + " failed");
}

IPravonError* CDRAGBase::BeginWhole(IPravonDataSource* source, IPravonDataSource* secondSource, BYTE flagByte,
                                    LONG depth, LONG kind, const PravonRect* region) {
    if (!source)
        return PravonFail(kComponent, PravonKind::kNoSource, "the Revelation statistics need a source");
    LONG colorSpace = 0;
    if (IPravonError* e = CheckStart(source, kind, depth, &colorSpace))
        return e;
    if (secondSource) {
        LONG width = 0, height = 0, secondWidth = 0, secondHeight = 0, secondColorSpace = 0;
        IPravonError* e = source->GetSize(&width, &height);
        if (!e)
            e = secondSource->GetSize(&secondWidth, &secondHeight);
        if (!e)
            e = secondSource->GetColorSpace(&secondColorSpace);
        if (e)
            return PravonContext(e, kComponent, "the Revelation second source");
        const LONG wanted = depth > 8 ? PravonColorSpace::kGrey16 : PravonColorSpace::kGrey8;
        if (secondWidth != width || secondHeight != height || secondColorSpace != wanted)
            return PravonFail(kComponent, PravonKind::kMissingInput,
                              "the Revelation second source must be grey and of the source's size and depth");
    }
    if (IPravonError* e = m_source.Describe(source, secondSource))
        return e;
    if (IPravonError* e = source->GetResolution(&m_resolution))
        return PravonContext(e, kComponent, "the resolution of the Revelation source");
    if (IPravonError* e = CreateImage(&m_statistics))
        return e;
    if (IPravonError* e = Open(kind))
        return e;
    PravonRect area;
    if (IPravonError* e = CheckRegion(region, m_option ? kSmallestRegion : kSmallestMeasured, &area))
        return e;
    m_region = area;
    m_flagByte = flagByte;
    FillCommon(flagByte, DRAG_PASS_STATISTICS, secondSource ? 2 : 1);
    m_params.measured = m_source.Ref(secondSource ? 4 : 3, area);
    m_params.measuredOption = m_option ? 1 : 0;
    if (IPravonError* e = StartRun(true)) {
        m_source.Release();
        return e;
    }
    m_active = true;
    m_wholeImage = true;
    return nullptr;
}

IPravonError* CDRAGBase::BeginTiled(IPravonDataSource* source, LONG p1, LONG p2, LONG p3,
                                    IPravonImage* destination, BYTE flagByte, LONG depth, LONG kind,
                                    bool fitDestination, const PravonRect* region) {
    if (!source || !destination || !m_statistics)
        return PravonFail(kComponent, PravonKind::kNoSource,
                          "the Revelation output needs a source, a destination and statistics");
    LONG colorSpace = 0;
    if (IPravonError* e = CheckStart(source, kind, depth, &colorSpace))
        return e;
    if (IPravonError* e = m_source.Describe(source))
        return e;
    if (IPravonError* e = source->GetResolution(&m_resolution))
        return PravonContext(e, kComponent, "the resolution of the Revelation source");
    m_p1 = static_cast<BYTE>(p1);
    m_p2 = static_cast<BYTE>(p2);
    m_p3 = static_cast<BYTE>(p3);
    m_further1 = m_option ? -1 : 0;
    m_further2 = m_option ? -1 : 0;
    PravonRect area;
    if (IPravonError* e = CheckRegion(region, m_option ? kSmallestRegion : kSmallestMapped, &area))
        return e;

    LONG width = 0, height = 0, destinationSpace = 0;
    IPravonError* e = destination->GetSize(&width, &height);
    if (!e)
        e = destination->GetColorSpace(&destinationSpace);
    if (e)
        return PravonContext(e, kComponent, "the Revelation destination");
    if (fitDestination) {
        if (width != m_source.GetWidth() || height != m_source.GetHeight() ||
            destinationSpace != colorSpace) {
            e = destination->SetSize(m_source.GetWidth(), m_source.GetHeight());
            if (!e)
                e = destination->SetColorSpace(FittedColorSpace(IsGrey(colorSpace), depth));
        }
        m_destinationLeft = 0;
        m_destinationTop = 0;
    } else {
        e = destination->SetSize(area.Width(), area.Height());
        m_destinationLeft = area.left;
        m_destinationTop = area.top;
    }
    if (e)
        return PravonContext(e, kComponent, "fitting the Revelation destination");
    // A destination that others watch hears of every rectangle written into it.
    if (IPravonError* e =
            m_destination.DescribeForWriting(destination, PravonGetDataDestinationCount(destination) > 0))
        return e;

    LONG statisticsSpace = 0;
    if (IPravonError* e = m_statistics->GetColorSpace(&statisticsSpace))
        return PravonContext(e, kComponent, "the Revelation statistics");
    if (statisticsSpace != PravonColorSpace::kGrey16)
        return PravonFail(kComponent, PravonKind::kUnsupportedColorSpace,
                          "the Revelation statistics are not measured");
    if (IPravonError* e = CreateImage(&m_stripBuffer))
        return e;
    if (IPravonError* e = Open(kind))
        return e;

    m_region = area;
    m_flagByte = flagByte;
    m_stripCount = m_option ? StripCount(depth, area.Width(), area.Height(), g_stripBytes) : 1;
    m_rowsPerStrip = (area.Height() - 1) / m_stripCount + 1;
    m_stripIndex = 0;
    m_stripPrepared = false;
    m_wholeImage = false;
    m_active = true;
    return nullptr;
}

IPravonError* CDRAGBase::PrepareStrip(const PravonRect& strip) {
    const LONG w = strip.Width();
    const LONG h = strip.Height();
    IPravonError* e = m_stripBuffer->SetSize(w + 2 * kMargin, h + 2 * kMargin);
    if (!e)
        e = m_stripBuffer->SetColorSpace(PravonColorSpace::kRGB16);
    if (!e)
        e = m_buffer.Describe(m_stripBuffer.get());
    if (!e)
        e = m_statisticsImage.Describe(m_statistics.get());
    if (e)
        return PravonContext(e, kComponent, "preparing a Revelation strip");

    FillCommon(m_flagByte, DRAG_PASS_OUTPUT, 1);
    m_params.source = m_source.Ref(3, strip);
    m_params.buffer = m_buffer.Ref(3, PravonRect{kMargin, kMargin, w + kMargin, h + kMargin});
    m_params.statistics = m_statisticsImage.Ref(
        1, PravonRect{0, 0, m_statisticsImage.GetWidth(), m_statisticsImage.GetHeight()});
    const PravonRect placed{strip.left - m_destinationLeft, strip.top - m_destinationTop,
                            strip.right - m_destinationLeft, strip.bottom - m_destinationTop};
    m_params.destination = m_destination.Ref(3, placed);
    m_params.useLowest = (m_option || m_further1 == -1) ? 0 : 1;
    m_params.lowest = m_further1;
    m_params.useHighest = (m_option || m_further2 == -1) ? 0 : 1;
    m_params.highest = m_further2;
    m_params.option = m_option;
    m_params.lift = m_p1;
    m_params.target = m_p2;
    m_params.contrast = m_p3;
    if (IPravonError* e = StartRun(false))
        return e;
    m_stripPrepared = true;
    return nullptr;
}

IPravonError* CDRAGBase::StartRun(bool statistics) {
    const CDRAGLibrary::Calls& library = CDRAGLibrary::Get();
    CDRAGRunLock hold = CDRAGRunLock::Take();
    DragInfo info{sizeof(DragInfo), 0, 0};
    DragError error{};
    if (const std::int32_t result = library.init(m_handle, &m_params, &info, &error))
        return LibraryError(result, error, "DRAGInit");
    IPravonError* failure = nullptr;
    if (statistics) {
        if (info.statisticsWidth > INT32_MAX || info.statisticsHeight > INT32_MAX)
            failure =
                PravonFail(kComponent, PravonKind::kOutOfRange, "the Revelation statistics are too large");
        if (!failure)
            failure = m_statistics->SetColorSpace(PravonColorSpace::kGrey16);
        if (!failure)
            failure = m_statistics->SetSize(static_cast<LONG>(info.statisticsWidth),
                                            static_cast<LONG>(info.statisticsHeight));
        if (!failure)
            failure = m_statisticsImage.DescribeForWriting(m_statistics.get(), false);
        if (!failure) {
            const DragImageRef ref = m_statisticsImage.Ref(
                1, PravonRect{0, 0, m_statisticsImage.GetWidth(), m_statisticsImage.GetHeight()});
            if (const std::int32_t result = library.setStatisticsImageInfo(m_handle, &ref))
                failure = LibraryError(result, DragError{}, "DRAGSetStatisticsImageInfo");
        }
        failure = PravonContext(failure, kComponent, "the Revelation statistics image");
    }
    if (!failure) {
        if (const std::int32_t result = library.begin(m_handle, &error))
            failure = LibraryError(result, error, "DRAGBegin");
    }
    if (failure) {
        m_statisticsImage.Release();
        m_buffer.Release();
        return ResetLibraryRun(failure);
    }
    m_chrono.Start();
    m_runLock = std::move(hold);
    return nullptr;
}

IPravonError* CDRAGBase::Process(LONG* progress, LONG amount) {
    if (!m_active)
        return PravonFail(kComponent, PravonKind::kNoSuchPass, "no Revelation run is under way");
    if (m_runLock.IsHeldElsewhere())
        return PravonFail(kComponent, PravonKind::kInvalidState,
                          "the Revelation run belongs to another thread");
    if (!m_wholeImage && !m_stripPrepared) {
        if (progress)
            *progress = m_stripIndex * 100 / m_stripCount;
        const LONG top = m_region.top + m_stripIndex * m_rowsPerStrip;
        const PravonRect strip{m_region.left, top, m_region.right,
                               std::min(top + m_rowsPerStrip, m_region.bottom)};
        return PrepareStrip(strip);
    }
    const CDRAGLibrary::Calls& library = CDRAGLibrary::Get();
    std::int32_t done = 0;
    DragError error{};
    if (const std::int32_t result = library.process(m_handle, amount, &done, &error))
        return LibraryError(result, error, "DRAGProcess");
    if (progress)
        *progress = m_wholeImage ? done : (done + m_stripIndex * 100) / m_stripCount;
    if (!library.complete(m_handle))
        return nullptr;
    if (m_wholeImage) {
        m_active = false;
    } else {
        m_stripPrepared = false;
        m_active = ++m_stripIndex < m_stripCount;
    }
    const std::int32_t result = library.end(m_handle, &error);
    IPravonError* failure = result ? ResetLibraryRun(LibraryError(result, error, "DRAGEnd")) : nullptr;
    m_chrono.Pause();
    m_runLock.Release();
    m_buffer.Release();
    m_statisticsImage.Release();
    if (!m_active)
        EndRun();
    return failure;
}

IPravonError* CDRAGBase::ResetLibraryRun(IPravonError* failure) {
    DragError error{};
    if (const std::int32_t result = CDRAGLibrary::Get().abort(m_handle, &error)) {
        failure = IPravonError::Chain(failure, LibraryError(result, error, "DRAGAbort"));
        DeleteHandle();
    }
    return failure;
}

void CDRAGBase::EndRun() {
    m_active = false;
    m_stripPrepared = false;
    m_source.Release();
    m_buffer.Release();
    m_statisticsImage.Release();
    m_destination.Release();
    m_stripBuffer.reset();
}

IPravonError* CDRAGBase::Abort() {
    if (!m_active)
        return PravonFail(kComponent, PravonKind::kNoSuchPass, "no Revelation run is under way");
    if (m_runLock.IsHeldElsewhere())
        return PravonFail(kComponent, PravonKind::kInvalidState,
                          "the Revelation run belongs to another thread");
    DragError error{};
    const std::int32_t result = CDRAGLibrary::Get().abort(m_handle, &error);
    m_chrono.Pause();
    m_runLock.Release();
    EndRun();
    if (!result)
        return nullptr;
    // A run the library would not abort leaves its session in doubt: the handle goes, and the next start
    // opens a new one.
    IPravonError* failure = LibraryError(result, error, "DRAGAbort");
    DeleteHandle();
    return failure;
}

IPravonError* CDRAGBase::Close() {
    IPravonError* failure = nullptr;
    if (m_handle && m_active)
        failure = Abort();
    DeleteHandle();
    EndRun();
    m_statistics.reset();
    return failure;
}
