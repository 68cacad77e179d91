#include "CPravonFilterHistogram.h"

#include "filters/engine/Int32Math.h"
#include "platform/pravon/PravonGraph.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

template <class Sample>
const Sample* RowAt(const BYTE* data, const CPravonRect& tileRect, LONG rowBytes, LONG x, LONG y,
                    LONG samplesPerPixel) {
    return reinterpret_cast<const Sample*>(data + static_cast<std::ptrdiff_t>(y - tileRect.top) * rowBytes) +
           static_cast<std::ptrdiff_t>(x - tileRect.left) * samplesPerPixel;
}

} // namespace

CPravonFilterHistogram::CPravonFilterHistogram(IPravonManager* manager) : CPravonFilterBase(manager, 1) {}

CPravonFilterHistogram::~CPravonFilterHistogram() {
    FreeHistogram();
}

bool CPravonFilterHistogram::AllocateHistogram(ULONG entries) {
    m_bins.reset(new (std::nothrow) ULONG[entries]);
    m_entries = m_bins ? entries : 0;
    return m_bins != nullptr;
}

void CPravonFilterHistogram::FreeHistogram() {
    m_bins.reset();
    m_entries = 0;
}

IPravonError* CPravonFilterHistogram::FindSource() {
    if (m_source)
        return nullptr;
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    GetSources(&sources, &count);
    if (count != 1 || !sources[0])
        return PravonFail(kCode, PravonKind::kNoSource, "the histogram needs exactly one source");
    m_source = sources[0];
    if (m_source != m_countedFrom) {
        m_initialised = false;
        m_tileSize = 0;
        m_colorSpace = 0;
        m_nativeBits = 0;
        m_width = 0;
        m_height = 0;
        m_firstColumn = 0;
        m_firstRow = 0;
    }
    return nullptr;
}

void CPravonFilterHistogram::Reset() {
    m_initialised = false;
    m_countedFrom = nullptr;
    m_done.clear();
    m_tileCount = 0;
    m_countedTiles = 0;
    m_lowestUncounted = 0;
    m_tileColumns = 1;
}

IPravonError* CPravonFilterHistogram::Initialise() {
    Reset();
    LONG width = 0;
    LONG height = 0;
    LONG tileSize = 0;
    LONG colorSpace = 0;
    if (IPravonError* e = m_source->GetSize(&width, &height))
        return e;
    if (IPravonError* e = m_source->GetTileSize(&tileSize))
        return e;
    if (IPravonError* e = m_source->GetColorSpace(&colorSpace))
        return e;
    if (tileSize <= 0 || width < 0 || height < 0)
        return PravonFail(kCode, PravonKind::kInvalidState, "the source has no tile layout");

    using namespace PravonColorSpace;
    m_channels = 1;
    m_firstChannel = 0;
    m_nativeBits = 8;
    switch (colorSpace) {
    case kGrey8:
    case 0x08020100: // 8-bit palette indices
        m_layout = Layout::kSingle;
        break;
    case kRGB8:
    case kBGR8:
        m_layout = Layout::kRGB;
        m_channels = 4;
        break;
    case kLCh8:
    case kLab8:
    case 0x08060205: // 8-bit YCbCr
        m_layout = Layout::kThree;
        m_channels = 3;
        m_firstChannel = 1;
        break;
    case kCMYK8:
        m_layout = Layout::kCMYK;
        m_channels = 5;
        break;
    case kGrey16:
    case kRawMosaic16:
    case 0x10020402:
        m_layout = Layout::kSingle;
        m_nativeBits = 16;
        break;
    case kRGB16:
        m_layout = Layout::kRGB;
        m_channels = 4;
        m_nativeBits = 16;
        break;
    case kLCh16:
    case kLab16:
    case kYCbCr16:
        m_layout = Layout::kThree;
        m_channels = 3;
        m_firstChannel = 1;
        m_nativeBits = 16;
        break;
    default:
        m_layout = Layout::kNothing;
        break;
    }

    const ULONG entries = static_cast<ULONG>(m_channels) << m_nativeBits;
    if (m_bins && m_entries != entries)
        FreeHistogram();
    if (!m_bins && !AllocateHistogram(entries))
        return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for the histogram");
    std::fill_n(m_bins.get(), entries, ULONG{0});

    CPravonRect area(0, 0, width, height);
    if (!(m_crop == CPravonRect())) {
        area = CPravonRect(std::min(m_crop.left, m_crop.right), std::min(m_crop.top, m_crop.bottom),
                           std::max(m_crop.left, m_crop.right), std::max(m_crop.top, m_crop.bottom));
        area = CPravonRect(std::clamp(area.left, LONG{0}, width), std::clamp(area.top, LONG{0}, height),
                           std::clamp(area.right, LONG{0}, width), std::clamp(area.bottom, LONG{0}, height));
    }
    const LONG firstColumn = area.left / tileSize;
    const LONG firstRow = area.top / tileSize;
    const LONG columns = static_cast<LONG>(Int32Math::CeilDiv(area.right, tileSize)) - firstColumn;
    const LONG rows = static_cast<LONG>(Int32Math::CeilDiv(area.bottom, tileSize)) - firstRow;
    const std::size_t tiles = static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows);
    try {
        m_done.assign((tiles + 63) / 64, 0);
    } catch (const std::exception&) {
        return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for the histogram's tile list");
    }
    m_effective = area;
    m_width = width;
    m_height = height;
    m_tileSize = tileSize;
    m_colorSpace = colorSpace;
    m_firstColumn = firstColumn;
    m_firstRow = firstRow;
    m_tileColumns = columns;
    m_tileCount = tiles;
    m_countedFrom = m_source;
    m_initialised = true;
    return nullptr;
}

bool CPravonFilterHistogram::IsComplete() const {
    return m_source && m_initialised && m_tileCount > 0 && m_countedTiles == m_tileCount;
}

IPravonError* CPravonFilterHistogram::CountTile(const BYTE* data, const PravonRect& tileRect, LONG rowBytes) {
    if (!m_counting)
        return nullptr;
    if (IPravonError* e = InitialiseIfNeeded())
        return e;
    const LONG column = tileRect.left / m_tileSize - m_firstColumn;
    const LONG row = tileRect.top / m_tileSize - m_firstRow;
    if (column < 0 || row < 0 || column >= m_tileColumns)
        return nullptr;
    const std::size_t index = static_cast<std::size_t>(row) * static_cast<std::size_t>(m_tileColumns) +
                              static_cast<std::size_t>(column);
    if (index >= m_tileCount || IsCounted(index))
        return nullptr;
    m_done[index / 64] |= std::uint64_t{1} << (index % 64);
    ++m_countedTiles;
    GetChrono().Increment();
    const CPravonRect part = CPravonRect(tileRect).Intersect(m_effective);
    if (!part.Empty() && data)
        CountPixels(data, tileRect, rowBytes, part);
    return AnnounceTile();
}

void CPravonFilterHistogram::CountPixels(const BYTE* data, const CPravonRect& tileRect, LONG rowBytes,
                                         const CPravonRect& part) {
    ULONG* bins = m_bins.get();
    const std::size_t size = std::size_t{1} << m_nativeBits;
    const auto count = [&](auto sampleType) {
        using Sample = decltype(sampleType);
        for (LONG y = part.top; y < part.bottom; ++y) {
            const LONG n = part.right - part.left;
            switch (m_layout) {
            case Layout::kSingle: {
                const Sample* s = RowAt<Sample>(data, tileRect, rowBytes, part.left, y, 1);
                for (LONG x = 0; x < n; ++x)
                    ++bins[s[x]];
                break;
            }
            case Layout::kRGB: {
                const Sample* s = RowAt<Sample>(data, tileRect, rowBytes, part.left, y, 3);
                for (LONG x = 0; x < n; ++x, s += 3) {
                    ++bins[(ULONG{s[0]} + s[1] + s[2]) / 3];
                    ++bins[size + s[0]];
                    ++bins[2 * size + s[1]];
                    ++bins[3 * size + s[2]];
                }
                break;
            }
            case Layout::kThree: {
                const Sample* s = RowAt<Sample>(data, tileRect, rowBytes, part.left, y, 3);
                for (LONG x = 0; x < n; ++x, s += 3) {
                    ++bins[s[0]];
                    ++bins[size + s[1]];
                    ++bins[2 * size + s[2]];
                }
                break;
            }
            case Layout::kCMYK: {
                const Sample* s = RowAt<Sample>(data, tileRect, rowBytes, part.left, y, 4);
                for (LONG x = 0; x < n; ++x, s += 4) {
                    ++bins[(ULONG{s[0]} + s[1] + 2 * ULONG{s[2]}) / 4];
                    ++bins[size + s[0]];
                    ++bins[2 * size + s[1]];
                    ++bins[3 * size + s[2]];
                    ++bins[4 * size + s[3]];
                }
                break;
            }
            case Layout::kNothing:
                return;
            }
        }
    };
    if (m_nativeBits == 16)
        count(WORD{});
    else
        count(BYTE{});
}

IPravonError* CPravonFilterHistogram::AnnounceTile() {
    const bool complete = m_countedTiles == m_tileCount;
    IPravonError* err = NotifyWatchers(complete ? kCompleted : kTileCounted, nullptr);
    return IPravonError::Chain(err, PravonSendDataNotification(this,
                                                               complete ? kHistogramComplete : kHistogramGrew,
                                                               static_cast<CPravonFilterHistogram*>(this)));
}

IPravonError* CPravonFilterHistogram::CountIndex(std::size_t index) {
    const auto columns = static_cast<std::size_t>(m_tileColumns);
    const LONG column = m_firstColumn + static_cast<LONG>(index % columns);
    const LONG row = m_firstRow + static_cast<LONG>(index / columns);
    void* data = nullptr;
    if (IPravonError* e = LockTile(column, row, &data, nullptr))
        return e;
    return UnlockTile(column, row);
}

IPravonError* CPravonFilterHistogram::SpendTime(ULONG milliseconds) {
    if (IPravonError* e = FindSource())
        return e;
    const CTalvoTime start;
    if (IPravonError* e = InitialiseIfNeeded())
        return e;
    const ULONGLONG perSecond = std::max<ULONGLONG>(CTalvoTime::PerSec(), 1);
    const auto spent = [&] {
        const LONGLONG ticks = CTalvoTime().Since(start);
        return ticks <= 0 ? 0
                          : static_cast<ULONGLONG>(ticks) / perSecond * 1000 +
                                static_cast<ULONGLONG>(ticks) % perSecond * 1000 / perSecond;
    };
    while (m_initialised && m_countedTiles < m_tileCount && spent() < milliseconds) {
        while (m_lowestUncounted < m_tileCount && IsCounted(m_lowestUncounted))
            ++m_lowestUncounted;
        const std::size_t index = m_lowestUncounted;
        if (IPravonError* e = CountIndex(index))
            return e;
        // A disabled filter counts nothing: the slice would only lock the same tile again and again.
        if (!m_initialised || index >= m_tileCount || !IsCounted(index))
            break;
    }
    return nullptr;
}

IPravonError* CPravonFilterHistogram::ForceCompletion() {
    if (IPravonError* e = FindSource())
        return e;
    if (IPravonError* e = InitialiseIfNeeded())
        return e;
    for (std::size_t index = m_tileCount; index-- > 0;) {
        // A notification during a lock may have started the histogram again; its tiles are not these.
        if (!m_initialised || index >= m_tileCount)
            break;
        if (IsCounted(index))
            continue;
        if (IPravonError* e = CountIndex(index))
            return e;
    }
    return nullptr;
}

LONG CPravonFilterHistogram::GetHistogram(LONG channel, ULONG* bins, LONG bits) const {
    const ULONG* native = ReadHistogram(channel);
    if (!native || !bins || bits < 1)
        return 0;
    bits = std::min(bits, m_nativeBits);
    const std::size_t group = std::size_t{1} << (m_nativeBits - bits);
    const std::size_t entries = std::size_t{1} << bits;
    for (std::size_t k = 0; k < entries; ++k) {
        ULONG sum = 0;
        for (std::size_t i = 0; i < group; ++i)
            sum += native[k * group + i];
        bins[k] = sum;
    }
    return bits;
}

const ULONG* CPravonFilterHistogram::ReadHistogram(LONG channel) const {
    if (!m_bins || !m_initialised || channel < m_firstChannel || channel >= m_firstChannel + m_channels)
        return nullptr;
    return m_bins.get() + (static_cast<std::size_t>(channel - m_firstChannel) << m_nativeBits);
}

IPravonError* CPravonFilterHistogram::SetCrop(const PravonRect& crop) {
    if (IPravonError* e = FindSource())
        return e;
    if (crop == m_crop)
        return nullptr;
    m_crop = crop;
    Reset();
    return nullptr;
}

IPravonError* CPravonFilterHistogram::Enable(bool enable, bool) {
    m_counting = enable;
    return nullptr;
}

template <class Unlock>
IPravonError* CPravonFilterHistogram::CountLocked(const void* data, const PravonRect& tileRect, LONG rowBytes,
                                                  Unlock&& unlock) {
    if (IPravonError* e = CountTile(static_cast<const BYTE*>(data), tileRect, rowBytes))
        return IPravonError::Chain(e, unlock());
    return nullptr;
}

template <class Lock, class Find, class Unlock>
IPravonError* CPravonFilterHistogram::LockAndCount(void** data, Lock&& lock, Find&& find, Unlock&& unlock) {
    if (IPravonError* e = FindSource())
        return e;
    // A notification while the tile is counted may make the filter forget its source: keep it here.
    IPravonDataSource* source = m_source;
    void* pixels = nullptr;
    if (IPravonError* e = lock(source, &pixels))
        return e;
    IPravonTile* tile = nullptr;
    if (IPravonError* e = find(source, &tile))
        return IPravonError::Chain(e, unlock(source));
    if (IPravonError* e =
            CountLocked(pixels, tile->GetRect(), tile->GetRowBytes(), [&] { return unlock(source); }))
        return e;
    if (data)
        *data = pixels;
    return nullptr;
}

IPravonError* CPravonFilterHistogram::LockTile(IPravonTileGrid* grid, LONG column, LONG row, void** data,
                                               PravonRect* tileRect, PravonRect* clippedRect,
                                               LONG* rowBytes) {
    if (IPravonError* e = FindSource())
        return e;
    IPravonDataSource* source = m_source;
    void* pixels = nullptr;
    PravonRect rect;
    PravonRect clipped;
    LONG stride = 0;
    if (IPravonError* e = source->LockTile(grid, column, row, &pixels, &rect, &clipped, &stride))
        return e;
    if (IPravonError* e =
            CountLocked(pixels, rect, stride, [&] { return source->UnlockTile(grid, column, row); }))
        return e;
    if (data)
        *data = pixels;
    if (tileRect)
        *tileRect = rect;
    if (clippedRect)
        *clippedRect = clipped;
    if (rowBytes)
        *rowBytes = stride;
    return nullptr;
}

IPravonError* CPravonFilterHistogram::LockTile(const IPravonTileID& id, void** data,
                                               BITMAPINFOHEADER** header) {
    return LockAndCount(
        data, [&](IPravonDataSource* s, void** pixels) { return s->LockTile(id, pixels, header); },
        [&](IPravonDataSource* s, IPravonTile** tile) { return s->GetTile(id, tile); },
        [&](IPravonDataSource* s) { return s->UnlockTile(id); });
}

IPravonError* CPravonFilterHistogram::LockTile(LONG column, LONG row, void** data,
                                               BITMAPINFOHEADER** header) {
    return LockAndCount(
        data, [&](IPravonDataSource* s, void** pixels) { return s->LockTile(column, row, pixels, header); },
        [&](IPravonDataSource* s, IPravonTile** tile) { return s->GetTile(column, row, tile); },
        [&](IPravonDataSource* s) { return s->UnlockTile(column, row); });
}

template <class Call>
IPravonError* CPravonFilterHistogram::Forward(Call&& call) {
    if (IPravonError* e = FindSource())
        return e;
    return call(m_source);
}

IPravonError* CPravonFilterHistogram::UnlockTile(IPravonTileGrid* grid, LONG column, LONG row) {
    return Forward([&](IPravonDataSource* s) { return s->UnlockTile(grid, column, row); });
}

IPravonError* CPravonFilterHistogram::UnlockTile(const IPravonTileID& id) {
    return Forward([&](IPravonDataSource* s) { return s->UnlockTile(id); });
}

IPravonError* CPravonFilterHistogram::UnlockTile(LONG column, LONG row) {
    return Forward([&](IPravonDataSource* s) { return s->UnlockTile(column, row); });
}

IPravonError* CPravonFilterHistogram::GetWidth(LONG* width) {
    return Forward([&](IPravonDataSource* s) { return s->GetWidth(width); });
}

IPravonError* CPravonFilterHistogram::GetHeight(LONG* height) {
    return Forward([&](IPravonDataSource* s) { return s->GetHeight(height); });
}

IPravonError* CPravonFilterHistogram::GetColorSpace(LONG* colorSpace) {
    return Forward([&](IPravonDataSource* s) { return s->GetColorSpace(colorSpace); });
}

IPravonError* CPravonFilterHistogram::GetResolution(double* resolution) {
    return Forward([&](IPravonDataSource* s) { return s->GetResolution(resolution); });
}

IPravonError* CPravonFilterHistogram::GetFlip(bool* flip) {
    return Forward([&](IPravonDataSource* s) { return s->GetFlip(flip); });
}

IPravonError* CPravonFilterHistogram::GetRotation(double* rotation) {
    return Forward([&](IPravonDataSource* s) { return s->GetRotation(rotation); });
}

IPravonError* CPravonFilterHistogram::GetTileSize(LONG* tileSize) {
    return Forward([&](IPravonDataSource* s) { return s->GetTileSize(tileSize); });
}

IPravonError* CPravonFilterHistogram::GetPalette(PravonPalette* palette) {
    return Forward([&](IPravonDataSource* s) { return s->GetPalette(palette); });
}

IPravonError* CPravonFilterHistogram::TileExists(const IPravonTileID& id, bool* exists) {
    return Forward([&](IPravonDataSource* s) { return s->TileExists(id, exists); });
}

IPravonError* CPravonFilterHistogram::TileExists(LONG column, LONG row, bool* exists) {
    return Forward([&](IPravonDataSource* s) { return s->TileExists(column, row, exists); });
}

IPravonError* CPravonFilterHistogram::GetTile(const IPravonTileID& id, IPravonTile** tile) {
    return Forward([&](IPravonDataSource* s) { return s->GetTile(id, tile); });
}

IPravonError* CPravonFilterHistogram::GetTile(LONG column, LONG row, IPravonTile** tile) {
    return Forward([&](IPravonDataSource* s) { return s->GetTile(column, row, tile); });
}

IPravonError* CPravonFilterHistogram::MapRect(const PravonRect& rect, IPravonTileGrid** grid) {
    return Forward([&](IPravonDataSource* s) { return s->MapRect(rect, grid); });
}

IPravonError* CPravonFilterHistogram::PravonNotify(IPravonDataSource*, LONG type, void* data) {
    using namespace PravonNotification;
    if (type == kData || type == kSize || type == kColorSpace || type == kTransform || type == kDestroyed ||
        type == kUpdateAll) {
        Reset();
        ForgetSource();
    }
    return PravonSendDataNotification(this, type, data);
}

IPravonError* CPravonFilterHistogram::PravonAddedDataSource(IPravonDataSource* source) {
    Reset();
    ForgetSource();
    return CPravonFilterBase::PravonAddedDataSource(source);
}

IPravonError* CPravonFilterHistogram::PravonRemovedDataSource(IPravonDataSource* source) {
    Reset();
    ForgetSource();
    return CPravonFilterBase::PravonRemovedDataSource(source);
}

IPravonError* CPravonFilterHistogram::GenerateTile(IPravonTile*, IPravonDataSource* const*, LONG) {
    return PravonFail(kCode, PravonKind::kInvalidState, "the histogram filter makes no tiles of its own");
}

IPravonError* CPravonFilterHistogram::ProcessTile(IPravonTile*, CProcessInfo*) {
    return PravonFail(kCode, PravonKind::kInvalidState, "the histogram filter makes no tiles of its own");
}

IPravonError* CPravonFilterHistogram::BeginProcess(LONG* id, IPravonDataSource* const* sources, LONG count,
                                                   IPravonImage* image) {
    if (m_pass.open)
        return PravonFail(kCode, PravonKind::kPassOpen, "a histogram pass is already open");
    if (!id)
        return PravonFail(kCode, PravonKind::kBadArgument, "no id pointer");
    if (!sources || count < 1 || !sources[0])
        return PravonFail(kCode, PravonKind::kNoSource, "a histogram pass needs a source");
    IPravonDataSource* source = sources[0];
    m_source = source;
    m_crop = CPravonRect();
    if (IPravonError* e = Initialise())
        return e;
    if (image) {
        double resolution = 0;
        bool flip = false;
        double angle = 0;
        PravonPalette palette;
        if (IPravonError* e = source->GetResolution(&resolution))
            return e;
        if (IPravonError* e = source->GetTransform(&flip, &angle))
            return e;
        if (IPravonError* e = source->GetPalette(&palette))
            return e;
        if (IPravonError* e = image->SetSize(m_width, m_height))
            return e;
        if (IPravonError* e = image->SetColorSpace(m_colorSpace))
            return e;
        if (IPravonError* e = image->SetResolution(resolution))
            return e;
        if (IPravonError* e = image->SetTransform(flip, angle, false))
            return e;
        if (IPravonError* e = image->SetPalette(palette))
            return e;
    }
    IPravonTileGrid* grid = nullptr;
    if (IPravonError* e = source->MapRect(m_effective, &grid))
        return e;
    m_pass.grid.reset(grid);
    m_pass.open = true;
    m_pass.source = source;
    m_pass.image = image;
    m_pass.column = 0;
    m_pass.row = 0;
    *id = kPassID;
    return nullptr;
}

IPravonError* CPravonFilterHistogram::ExecuteProcess(LONG id, LONG* done, LONG* total) {
    const auto report = [&](LONG d, LONG t) {
        if (done)
            *done = d;
        if (total)
            *total = t;
    };
    if (id != kPassID || !m_pass.open)
        return PravonFail(kCode, PravonKind::kNoSuchPass, "no such histogram pass");
    if (!m_pass.grid) {
        report(0, 0);
        return nullptr;
    }
    IPravonTileGrid* grid = m_pass.grid.get();
    const LONG columns = grid->GetColumnCount();
    const LONG rows = grid->GetRowCount();
    if (m_pass.column >= columns) {
        m_pass.column = 0;
        ++m_pass.row;
    }
    // An empty image has no cell to visit: the pass is through at once.
    if (columns == 0 || m_pass.row >= rows) {
        m_pass.grid.reset();
        report(0, 0);
        return nullptr;
    }
    // The cell's tile is counted as the filter locks it, from the pass's source.
    m_source = m_pass.source;
    void* data = nullptr;
    PravonRect tileRect;
    LONG rowBytes = 0;
    if (IPravonError* e = LockTile(grid, m_pass.column, m_pass.row, &data, &tileRect, nullptr, &rowBytes))
        return e;
    IPravonError* err = nullptr;
    if (m_pass.image)
        err = CopyIntoImage(m_pass.image, grid->GetFirstColumn() + m_pass.column,
                            grid->GetFirstRow() + m_pass.row, static_cast<const BYTE*>(data), tileRect,
                            rowBytes);
    err = IPravonError::Chain(err, m_pass.source->UnlockTile(grid, m_pass.column, m_pass.row));
    if (err)
        return err;
    ++m_pass.column;
    report(columns * m_pass.row + m_pass.column, rows * columns);
    return nullptr;
}

IPravonError* CPravonFilterHistogram::CopyIntoImage(IPravonImage* image, LONG column, LONG row,
                                                    const BYTE* data, const PravonRect& tileRect,
                                                    LONG rowBytes) {
    IPravonTile* tile = nullptr;
    if (IPravonError* e = image->GetTile(column, row, &tile))
        return e;
    if (!(tile->GetRect() == tileRect))
        return PravonFail(kCode, PravonKind::kBadArgument, "the pass image's tiles are not the source's");
    void* to = nullptr;
    if (IPravonError* e = tile->Lock(&to, nullptr))
        return e;
    // Both tiles cover the same pixels; only the bytes of a row that both hold are copied.
    const std::size_t bytes = static_cast<std::size_t>(std::min(rowBytes, tile->GetRowBytes()));
    for (LONG y = 0; y < tileRect.bottom - tileRect.top; ++y)
        std::memcpy(static_cast<BYTE*>(to) + static_cast<std::ptrdiff_t>(y) * tile->GetRowBytes(),
                    data + static_cast<std::ptrdiff_t>(y) * rowBytes, bytes);
    tile->SetValid();
    return tile->Unlock();
}

IPravonError* CPravonFilterHistogram::GetProcessInfo(LONG id, IPravonDataSource* const** sources, LONG* count,
                                                     IPravonImage** image) {
    if (id != kPassID || !m_pass.open)
        return PravonFail(kCode, PravonKind::kNoSuchPass, "no such histogram pass");
    if (sources)
        *sources = &m_pass.source;
    if (count)
        *count = 1;
    if (image)
        *image = m_pass.image;
    return nullptr;
}

IPravonError* CPravonFilterHistogram::EndProcess(LONG id) {
    if (id != kPassID || !m_pass.open)
        return PravonFail(kCode, PravonKind::kNoSuchPass, "no such histogram pass");
    m_pass = Pass();
    ForgetSource();
    return nullptr;
}
