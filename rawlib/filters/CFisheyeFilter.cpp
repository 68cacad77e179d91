#include "CFisheyeFilter.h"

#include "CFisheyeGeometry.h"
#include "CFisheyeWindow.h"
#include "filters/engine/CSourceTileCursor.h"
#include "filters/engine/ForEachSourcePart.h"
#include "platform/pravon/PravonGraph.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

namespace {

// The background colours in 8 bits; 16-bit samples are these times 257.
constexpr BYTE kBackgrounds[CFisheyeFilter::kModeCount][3] = {
    {255, 255, 255}, {211, 211, 211}, {169, 169, 169}, {0, 0, 0},     {255, 0, 0},
    {0, 128, 0},     {0, 0, 255},     {0, 255, 255},   {255, 0, 255}, {255, 255, 0}};

// Source tiles the fallback cursor keeps locked: the four around a tile corner.
constexpr LONG kCursorTiles = 4;
// The largest source window kept from tile to tile: that of a 1024-pixel square tile of 16-bit pixels with
// room to spare, far more than tiles of ordinary tables need.
constexpr std::size_t kKeptWindowBytes = std::size_t(8) << 20;

// Copies the picture part of the window from the source, then repeats its edges.
IPravonError* FetchWindow(IPravonDataSource* source, std::size_t pixelBytes, CFisheyeWindow& window) {
    IPravonError* e =
        ForEachSourcePart(source, window.GetPicturePart(), [&](const CSourcePart& piece) -> IPravonError* {
            const CPravonRect& part = piece.part;
            const std::size_t bytes = static_cast<std::size_t>(part.right - part.left) * pixelBytes;
            const std::size_t skip = static_cast<std::size_t>(part.left - piece.tileRect.left) * pixelBytes;
            for (LONG y = part.top; y < part.bottom; ++y)
                std::memcpy(window.At(part.left, y), piece.Row(y) + skip, bytes);
            return nullptr;
        });
    if (!e)
        window.RepeatEdges();
    return e;
}

// Fills width x height pixels from `first` (rows rowBytes apart) with the background colour of the mode.
void FillBackground(LONG mode, int sampleBytes, LONG width, LONG height, BYTE* first, LONG rowBytes) {
    if (width <= 0 || height <= 0)
        return;
    WORD background[3];
    CFisheyeFilter::GetBackground(mode, background);
    BYTE pixel[6];
    for (int c = 0; c < 3; ++c) {
        if (sampleBytes == 1)
            pixel[c] = static_cast<BYTE>(background[c] >> 8);
        else
            std::memcpy(pixel + 2 * c, &background[c], 2);
    }
    const std::size_t pixelBytes = 3 * static_cast<std::size_t>(sampleBytes);
    for (LONG x = 0; x < width; ++x)
        std::memcpy(first + x * pixelBytes, pixel, pixelBytes);
    for (LONG y = 1; y < height; ++y)
        std::memcpy(first + static_cast<std::size_t>(y) * rowBytes, first, width * pixelBytes);
}

// One output pixel whose source pixels are read one by one through the cursor.
IPravonError* RemapThroughCursor(const CFisheyeGeometry& geometry, CSourceTileCursor& cursor, LONG x, LONG y,
                                 int sampleBytes, BYTE* out) {
    double sx = x, sy = y;
    geometry.Map(sx, sy);
    const LONG i0 = static_cast<LONG>(sx), j0 = static_cast<LONG>(sy);
    const CFisheyeWindow::Weights weights = CFisheyeWindow::WeightsAt(sx - i0, sy - j0);
    double samples[3][16];
    for (int k = 0; k < 16; ++k) {
        if (IPravonError* e = cursor.LockAt(i0 - 1 + k % 4, j0 - 1 + k / 4))
            return e;
        const BYTE* p = cursor.GetPtr();
        for (int c = 0; c < 3; ++c) {
            WORD v = p[c];
            if (sampleBytes == 2)
                std::memcpy(&v, p + 2 * c, 2);
            samples[c][k] = v;
        }
    }
    for (int c = 0; c < 3; ++c) {
        const unsigned v = CFisheyeWindow::Resolve(samples[c], weights, sampleBytes == 1 ? 255 : 65535);
        if (sampleBytes == 1) {
            out[c] = static_cast<BYTE>(v);
        } else {
            const WORD w = static_cast<WORD>(v);
            std::memcpy(out + 2 * c, &w, 2);
        }
    }
    return nullptr;
}

} // namespace

CFisheyeFilter::CFisheyeFilter(IPravonManager* manager) : CPravonFilterBase(manager, 1) {
    CKvLensInformation::ArmReleaseThreshold();
}

CFisheyeFilter::~CFisheyeFilter() {
    CFisheyeLensCache::Drop(&m_lens);
}

void CFisheyeFilter::GetBackground(LONG mode, WORD samples[3]) {
    const BYTE* colour = kBackgrounds[std::clamp<LONG>(mode, 0, kModeCount - 1)];
    for (int c = 0; c < 3; ++c)
        samples[c] = static_cast<WORD>(colour[c] * 257);
}

IPravonError* CFisheyeFilter::Changed(bool notify) {
    SetCacheCheck();
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    GetSources(&sources, &count);
    if (!notify || !IsEnabled() || count == 0)
        return nullptr;
    LONG width = 0, height = 0;
    if (IPravonError* e = GetWidth(&width))
        return PravonContext(e, kCode, "cannot read the output size");
    if (IPravonError* e = GetHeight(&height))
        return PravonContext(e, kCode, "cannot read the output size");
    PravonRect all{0, 0, width, height};
    return PravonContext(PravonSendDataNotification(this, PravonNotification::kData, &all), kCode,
                         "cannot announce the change");
}

IPravonError* CFisheyeFilter::SetTableFlag(BYTE flag, bool notify) {
    if (flag == m_tableFlag)
        return nullptr;
    m_tableFlag = flag;
    return Changed(notify);
}

IPravonError* CFisheyeFilter::SetMode(LONG mode, bool notify) {
    if (mode == m_mode)
        return nullptr;
    if (mode < 0 || mode >= kModeCount)
        return PravonFail(kCode, PravonKind::kBadArgument, "the background mode lies outside 0 to 9");
    m_mode = mode;
    return Changed(notify);
}

IPravonError* CFisheyeFilter::SelectLensModel(IPravonTagControl* tags) {
    const BYTE model = KvGetLensModelCode(tags);
    if (model != CKvLensInformation::kFisheyeLens)
        return PravonFail(kCode, PravonKind::kOutOfRange, "Error: fisheye lens model is not supported.");
    CKvString path;
    if (GetLensFilePath(path, model) != 0)
        return PravonFail(kCode, PravonKind::kOutOfRange, "Error: eronate lensmodel-to-file mapping.");
    CKvSyncGuard guard(CFisheyeLensCache::GetLock());
    SetCacheCheck(); // the output changes whether the new lens comes or the old one only goes
    if (IPravonError* e = CFisheyeLensCache::Acquire(model, &m_lens))
        return PravonContext(e, kCode, "cannot take the lens from the lens cache");
    m_lens->SetLensModel(model);
    return nullptr;
}

bool CFisheyeFilter::HasLensData() const {
    return m_lens && m_lens->HasLensData();
}

const double* CFisheyeFilter::TableFor(Direction direction) const {
    if (!m_lens)
        return nullptr;
    const bool first = m_tableFlag == 1;
    if (direction == Direction::kBack)
        return m_lens->GetTable(first ? CKvLensInformation::kTableA : CKvLensInformation::kTableB);
    return m_lens->GetTable(first ? CKvLensInformation::kTableC : CKvLensInformation::kTableD);
}

IPravonError* CFisheyeFilter::Mapping(Direction direction, IPravonDataSource* const* sources, LONG count,
                                      std::optional<CFisheyeGeometry>* geometry) const {
    const double* table = TableFor(direction);
    if (!IsEnabled() || IsPassThrough() || !table)
        return nullptr;
    IPravonDataSource* const* own = nullptr;
    LONG ownCount = 0;
    if (!sources || count <= 0)
        GetSources(&own, &ownCount);
    IPravonDataSource* source = sources && count > 0 ? sources[0] : ownCount > 0 ? own[0] : nullptr;
    if (!source)
        return PravonFail(kCode, PravonKind::kNoSource, "no source to map over");
    LONG width = 0, height = 0;
    if (IPravonError* e = source->GetWidth(&width))
        return PravonContext(e, kCode, "cannot read the source size");
    if (IPravonError* e = source->GetHeight(&height))
        return PravonContext(e, kCode, "cannot read the source size");
    geometry->emplace(table, width, height);
    return nullptr;
}

IPravonError* CFisheyeFilter::MapPoint(Direction direction, double* x, double* y,
                                       IPravonDataSource* const* sources, LONG count) {
    std::optional<CFisheyeGeometry> geometry;
    IPravonError* e = Mapping(direction, sources, count, &geometry);
    if (geometry)
        geometry->MapHeld(*x, *y);
    return e;
}

IPravonError* CFisheyeFilter::MapRectangle(Direction direction, PravonDblRect* rect,
                                           IPravonDataSource* const* sources, LONG count) {
    std::optional<CFisheyeGeometry> geometry;
    IPravonError* e = Mapping(direction, sources, count, &geometry);
    if (geometry)
        *rect = geometry->MapRect(*rect);
    return e;
}

IPravonError* CFisheyeFilter::FilterPoint(double* x, double* y, IPravonDataSource* const* sources,
                                          LONG count) {
    return MapPoint(Direction::kForward, x, y, sources, count);
}

IPravonError* CFisheyeFilter::DefilterPoint(double* x, double* y, IPravonDataSource* const* sources,
                                            LONG count) {
    return MapPoint(Direction::kBack, x, y, sources, count);
}

IPravonError* CFisheyeFilter::FilterRect(PravonDblRect* rect, IPravonDataSource* const* sources, LONG count) {
    return MapRectangle(Direction::kForward, rect, sources, count);
}

IPravonError* CFisheyeFilter::DefilterRect(PravonDblRect* rect, IPravonDataSource* const* sources,
                                           LONG count) {
    return MapRectangle(Direction::kBack, rect, sources, count);
}

namespace {

// The integer forms: through doubles, cut back to whole numbers (mapped values lie within the picture).
template <class Map>
IPravonError* ThroughDoubles(LONG* x, LONG* y, Map map) {
    double dx = *x, dy = *y;
    IPravonError* e = map(&dx, &dy);
    if (!e) {
        *x = static_cast<LONG>(dx);
        *y = static_cast<LONG>(dy);
    }
    return e;
}

template <class Map>
IPravonError* ThroughDoubles(PravonRect* rect, Map map) {
    PravonDblRect d{static_cast<double>(rect->left), static_cast<double>(rect->top),
                    static_cast<double>(rect->right), static_cast<double>(rect->bottom)};
    IPravonError* e = map(&d);
    if (!e)
        *rect = {static_cast<LONG>(d.left), static_cast<LONG>(d.top), static_cast<LONG>(d.right),
                 static_cast<LONG>(d.bottom)};
    return e;
}

} // namespace

IPravonError* CFisheyeFilter::FilterPoint(LONG* x, LONG* y, IPravonDataSource* const* sources, LONG count) {
    return ThroughDoubles(x, y, [&](double* dx, double* dy) { return FilterPoint(dx, dy, sources, count); });
}

IPravonError* CFisheyeFilter::DefilterPoint(LONG* x, LONG* y, IPravonDataSource* const* sources, LONG count) {
    return ThroughDoubles(x, y,
                          [&](double* dx, double* dy) { return DefilterPoint(dx, dy, sources, count); });
}

IPravonError* CFisheyeFilter::FilterRect(PravonRect* rect, IPravonDataSource* const* sources, LONG count) {
    return ThroughDoubles(rect, [&](PravonDblRect* d) { return FilterRect(d, sources, count); });
}

IPravonError* CFisheyeFilter::DefilterRect(PravonRect* rect, IPravonDataSource* const* sources, LONG count) {
    return ThroughDoubles(rect, [&](PravonDblRect* d) { return DefilterRect(d, sources, count); });
}

CPravonFilterBase::CHalo CFisheyeFilter::GetHalo(IPravonDataSource* const*, LONG) {
    return CHalo{CFisheyeWindow::kReachBefore, CFisheyeWindow::kReachBefore, CFisheyeWindow::kReachAfter,
                 CFisheyeWindow::kReachAfter};
}

IPravonError* CFisheyeFilter::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    if (!HasLensData())
        return PravonFail(kCode, PravonKind::kNotInitialised, "Fisheye Filter not initialized");
    IPravonDataSource* source = nullptr;
    if (IPravonError* e = GetFirstSource(info, &source))
        return PravonContext(e, kCode, "no source to remap");
    LONG colorSpace = 0, width = 0, height = 0;
    if (IPravonError* e = source->GetColorSpace(&colorSpace))
        return PravonContext(e, kCode, "cannot read the source's colour space");
    if (colorSpace != PravonColorSpace::kRGB8 && colorSpace != PravonColorSpace::kRGB16)
        return PravonFail(kCode, PravonKind::kUnsupportedColorSpace, "Bad source data color space");
    if (IPravonError* e = source->GetWidth(&width))
        return PravonContext(e, kCode, "cannot read the source size");
    if (IPravonError* e = source->GetHeight(&height))
        return PravonContext(e, kCode, "cannot read the source size");
    const int sampleBytes = colorSpace == PravonColorSpace::kRGB8 ? 1 : 2;
    const std::size_t pixelBytes = 3 * static_cast<std::size_t>(sampleBytes);
    const CFisheyeGeometry geometry(TableFor(Direction::kBack), width, height);

    IPravonError* failed = FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        // What the tile needs: the rectangle map of its invalid part, which the window widens by the reach
        // of the interpolation (the halo). A window that cannot be made leaves every pixel to the cursor.
        const CPravonRect& invalid = out.invalid;
        const PravonDblRect area =
            geometry.MapRect({static_cast<double>(invalid.left), static_cast<double>(invalid.top),
                              static_cast<double>(invalid.right), static_cast<double>(invalid.bottom)});
        std::unique_lock<std::mutex> kept(m_windowLock, std::try_to_lock);
        CFisheyeWindow own;
        CFisheyeWindow& window = kept.owns_lock() ? m_window : own;
        // A window far larger than tiles need (from a table that spreads a tile's sources wide) is not kept.
        struct Trim {
            CFisheyeWindow& window;
            ~Trim() {
                if (window.GetCapacityBytes() > kKeptWindowBytes)
                    window = CFisheyeWindow();
            }
        } trim{window};
        if (window.Reset({static_cast<LONG>(area.left), static_cast<LONG>(area.top),
                          static_cast<LONG>(area.right), static_cast<LONG>(area.bottom)},
                         width, height, sampleBytes)) {
            if (IPravonError* e = FetchWindow(source, pixelBytes, window))
                return e;
        }
        auto pixelAt = [&](LONG x, LONG y) {
            return out.Row(y) + static_cast<std::size_t>(x - out.rect.left) * pixelBytes;
        };
        if (m_tableFlag == 1)
            FillBackground(m_mode, sampleBytes, invalid.right - invalid.left, invalid.bottom - invalid.top,
                           pixelAt(invalid.left, invalid.top), out.rowBytes);

        // Pixels whose 4 x 4 source pixels leave the window (tables that are not monotonic send some there)
        // are read through the cursor, which repeats the picture's edges as the window does.
        CSourceTileCursor cursor(source, kCursorTiles);
        std::vector<LONG> missed;
        for (LONG y = invalid.top; y < invalid.bottom; ++y) {
            missed.clear();
            window.RemapRow(geometry, y, invalid.left, invalid.right, pixelAt(invalid.left, y), missed);
            for (LONG x : missed) {
                if (IPravonError* e = RemapThroughCursor(geometry, cursor, x, y, sampleBytes, pixelAt(x, y)))
                    return e;
            }
        }
        return nullptr;
    });
    return PravonContext(failed, kCode, "cannot remap the tile");
}
