#include "CDeBayerBase.h"

#include "filters/engine/Int32Math.h"
#include "platform/pravon/PravonGraph.h"
#include "rawlib/filters/CDeBayerRows.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>

static_assert(DeBayerRows::kMaxSample == CDeBayerBase::kMaxSample &&
                  DeBayerRows::kMaxRoot == CDeBayerBase::kMaxRoot,
              "the row routines work in the same ranges as the tables");

namespace {

struct DemosaicTables {
    LONG sqrtTable[CDeBayerBase::kLutSize];
    WORD squareTable[65536];
};

const DemosaicTables& Tables() {
    static DemosaicTables* tables = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        // Never freed: other libraries' process-wide tables are built from these until the process ends.
        auto* t = new DemosaicTables;
        for (int i = 0; i < CDeBayerBase::kMaxSample; ++i)
            t->sqrtTable[i] =
                static_cast<LONG>(std::sqrt(static_cast<double>(i) / 4095.0) * CDeBayerBase::kMaxRoot);
        t->sqrtTable[CDeBayerBase::kMaxSample] = CDeBayerBase::kMaxRoot;
        for (int j = 0; j < 65536; ++j) {
            const double v = static_cast<double>(j) / 65535.0;
            t->squareTable[j] = static_cast<WORD>(v * v * 65535.0 + 0.5);
        }
        tables = t;
    });
    return *tables;
}

using Int32Math::SaturatedTrunc;

// One axis of the mappings: output = scale x (source - frame) - crop origin, and back. Integer coordinates
// are truncated toward zero and held in 32 bits at every step, so that no coordinate overflows.
double ToOutput(double v, double scale, LONG crop) {
    return scale * (v - CDeBayerBase::kFrame) - crop;
}
LONG ToOutput(LONG v, double scale, LONG crop) {
    return Int32Math::SaturatedAdd(SaturatedTrunc(scale * (static_cast<double>(v) - CDeBayerBase::kFrame)),
                                   -std::int64_t{crop});
}
double ToSource(double v, double scale, LONG crop) {
    return (v + crop) / scale + CDeBayerBase::kFrame;
}
LONG ToSource(LONG v, double scale, LONG crop) {
    return Int32Math::SaturatedAdd(SaturatedTrunc((static_cast<double>(v) + crop) / scale),
                                   CDeBayerBase::kFrame);
}

} // namespace

const LONG* GetSqrtTable() {
    return Tables().sqrtTable;
}

const WORD* GetSquareTable() {
    return Tables().squareTable;
}

CDeBayerBase::CDeBayerBase(IPravonManager* manager) : CPravonFilterBase(manager, 1) {
    const LONG* shared = GetSqrtTable();
    for (auto& lut : m_lut)
        lut = shared;
}

CDeBayerBase::~CDeBayerBase() = default;

bool CDeBayerBase::IsCropValid() const {
    return m_crop.left >= 0 && m_crop.left < m_crop.right && m_crop.top >= 0 && m_crop.top < m_crop.bottom;
}

LONG CDeBayerBase::CropLeft() const {
    return IsCropValid() ? m_crop.left : 0;
}

LONG CDeBayerBase::CropTop() const {
    return IsCropValid() ? m_crop.top : 0;
}

void CDeBayerBase::ScaledSize(LONG w, LONG h, LONG* width, LONG* height) const {
    // A source inside the frame has no output at all rather than a negative one.
    *width = std::max<LONG>(0, SaturatedTrunc(GetHorizontalScale() * (static_cast<double>(w) - kBorder)));
    *height = std::max<LONG>(0, SaturatedTrunc(GetVerticalScale() * (static_cast<double>(h) - kBorder)));
}

bool CDeBayerBase::ShouldNotify(bool notify) const {
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    GetSources(&sources, &count);
    return notify && IsEnabled() && count == 1;
}

void CDeBayerBase::OwnOutputSize(LONG* width, LONG* height) {
    *width = *height = 0;
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    GetSources(&sources, &count);
    if (count > 0)
        PravonErrorPtr(GetFilteredSize(sources, count, width, height));
}

IPravonError* CDeBayerBase::NotifyWholeOutput() {
    LONG width = 0;
    LONG height = 0;
    OwnOutputSize(&width, &height);
    PravonRect whole{0, 0, width, height};
    return PravonSendDataNotification(this, PravonNotification::kData, &whole);
}

IPravonError* CDeBayerBase::FitCrop(const PravonRect& crop, const PravonRect* extent, PravonRect* fitted) {
    LONG w = 0;
    LONG h = 0;
    if (extent) {
        w = extent->right - extent->left;
        h = extent->bottom - extent->top;
    } else {
        IPravonDataSource* const* sources = nullptr;
        LONG count = 0;
        GetSources(&sources, &count);
        if (count < 1 || !sources[0])
            return PravonFail(kComponent, PravonKind::kNoSource,
                              "no extent and no source to fit the crop to");
        if (IPravonError* e = sources[0]->GetSize(&w, &h))
            return PravonContext(e, kComponent, "cannot read the source's size");
    }
    LONG outW = 0;
    LONG outH = 0;
    ScaledSize(w, h, &outW, &outH);
    if (crop.left < crop.right && crop.top < crop.bottom) {
        const LONG width = static_cast<LONG>(std::min<LONGLONG>(outW, LONGLONG{crop.right} - crop.left));
        const LONG height = static_cast<LONG>(std::min<LONGLONG>(outH, LONGLONG{crop.bottom} - crop.top));
        const LONG left = std::min(std::max<LONG>(crop.left, 0), outW - width);
        const LONG top = std::min(std::max<LONG>(crop.top, 0), outH - height);
        *fitted = PravonRect{left, top, left + width, top + height};
    } else {
        *fitted = PravonRect{0, 0, outW, outH};
    }
    return nullptr;
}

IPravonError* CDeBayerBase::SetCropRect(const PravonRect& crop, const PravonRect* extent, bool notify) {
    PravonRect fitted;
    if (IPravonError* e = FitCrop(crop, extent, &fitted))
        return e;
    if (fitted == m_crop)
        return nullptr;
    const bool announce = ShouldNotify(notify);
    ChangeSize change;
    if (announce)
        OwnOutputSize(&change.oldWidth, &change.oldHeight);
    m_crop = fitted;
    SetCacheCheck();
    if (!announce)
        return nullptr;
    OwnOutputSize(&change.newWidth, &change.newHeight);
    return PravonSendDataNotification(this, PravonNotification::kSize, &change);
}

IPravonError* CDeBayerBase::SetNonSquareMode(bool on, const PravonRect* extent, bool notify) {
    if (on == m_nonSquare)
        return nullptr;
    const bool announce = ShouldNotify(notify);
    ChangeSize change;
    if (announce)
        OwnOutputSize(&change.oldWidth, &change.oldHeight);
    m_nonSquare = on;
    SetCacheCheck();
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    GetSources(&sources, &count);
    IPravonError* err = nullptr;
    if (extent || count > 0) {
        PravonRect whole;
        err = FitCrop(PravonRect{}, extent, &whole);
        if (!err)
            m_crop = whole;
    } else {
        // Nothing to fit to yet: an empty crop selects the whole output, whatever its size turns out to be.
        m_crop = PravonRect{};
    }
    if (!announce)
        return err;
    OwnOutputSize(&change.newWidth, &change.newHeight);
    return IPravonError::Chain(err, PravonSendDataNotification(this, PravonNotification::kSize, &change));
}

IPravonError* CDeBayerBase::SetParameters(LONG inputShift, LONG outputShift, const WORD* red,
                                          const WORD* green, const WORD* blue, bool notify) {
    if (inputShift < 0 || inputShift > 16 || outputShift < 0 || outputShift > 16)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "curve shift out of range");
    const WORD* given[3] = {red, green, blue};
    const bool anyCurve = red || green || blue;
    if (!anyCurve) {
        inputShift = 0;
        outputShift = 0;
    } else if (inputShift == 0 || outputShift == 0) {
        // A curve needs entries to interpolate between and a range to scale from.
        return PravonFail(kComponent, PravonKind::kOutOfRange,
                          "channel curves need both shifts of at least 1");
    }

    const std::size_t entries = std::size_t{1} << inputShift;
    bool reuse = anyCurve && inputShift == m_inputShift;
    for (int c = 0; c < 3 && reuse; ++c)
        if (given[c] && !m_curves[c])
            reuse = false;
    std::unique_ptr<WORD[]> fresh[3];
    if (!reuse) {
        for (int c = 0; c < 3; ++c) {
            if (!given[c])
                continue;
            fresh[c].reset(new (std::nothrow) WORD[entries]);
            if (!fresh[c])
                return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for a channel curve");
        }
        for (int c = 0; c < 3; ++c)
            m_curves[c] = std::move(fresh[c]);
    }
    for (int c = 0; c < 3; ++c) {
        if (!given[c]) {
            m_curves[c].reset();
            continue;
        }
        std::memcpy(m_curves[c].get(), given[c], entries * sizeof(WORD));
        if (m_lutState[c] == kLutCurrent)
            m_lutState[c] = kLutStale;
    }
    m_inputShift = inputShift;
    m_outputShift = outputShift;
    SetCacheCheck();
    if (!ShouldNotify(notify))
        return nullptr;
    return NotifyWholeOutput();
}

IPravonError* CDeBayerBase::BuildChannelLuts() {
    const LONG* shared = GetSqrtTable();
    std::unique_ptr<LONG[]> fresh[3];
    for (int c = 0; c < 3; ++c) {
        if (!m_curves[c] || m_lut[c] != shared)
            continue;
        fresh[c].reset(new (std::nothrow) LONG[kLutSize]);
        if (!fresh[c])
            return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for a channel LUT");
    }
    for (int c = 0; c < 3; ++c) {
        if (!fresh[c])
            continue;
        m_ownLut[c] = std::move(fresh[c]);
        m_lut[c] = m_ownLut[c].get();
        m_lutState[c] = kLutStale;
    }

    const LONG last = (LONG{1} << m_inputShift) - 1;
    const double range = static_cast<double>((LONG{1} << m_outputShift) - 1);
    for (int c = 0; c < 3; ++c) {
        if (!m_curves[c]) {
            if (m_lutState[c] != kLutShared) {
                m_ownLut[c].reset();
                m_lut[c] = shared;
                m_lutState[c] = kLutShared;
            }
            continue;
        }
        if (m_lutState[c] == kLutCurrent)
            continue;
        const WORD* curve = m_curves[c].get();
        LONG* lut = m_ownLut[c].get();
        for (LONG j = 0; j < kLutSize; ++j) {
            const double d = static_cast<double>(last) * j / 4095.0;
            const LONG i = SaturatedTrunc(d);
            double f = curve[i];
            if (i < last)
                f += (static_cast<double>(curve[i + 1]) - curve[i]) * (d - i);
            // Curve values beyond the stated range would index past the square-root table.
            const double g = std::clamp(4095.0 / range * f, 0.0, 4095.0);
            const LONG k = SaturatedTrunc(g);
            if (k < kMaxSample)
                lut[j] = SaturatedTrunc((g - k) * (shared[k + 1] - shared[k]) + shared[k]);
            else
                lut[j] = shared[kMaxSample];
        }
        m_lutState[c] = kLutCurrent;
    }
    return nullptr;
}

IPravonError* CDeBayerBase::PrepareMosaicSource(IPravonDataSource* source, LONG component) {
    if (IPravonError* e = BuildChannelLuts())
        return PravonContext(e, component, "cannot build the channel LUTs");
    LONG colorSpace = 0;
    if (IPravonError* e = source->GetColorSpace(&colorSpace))
        return PravonContext(e, component, "cannot read the source's colour space");
    if (colorSpace != GetSourceColorSpace())
        return PravonFail(component, PravonKind::kUnsupportedColorSpace, "Bad source data color space");
    return nullptr;
}

IPravonError* CDeBayerBase::SetCFAPattern(const BYTE* descriptor, ULONG size, bool notify) {
    if (size > 0 && !descriptor)
        return PravonFail(kComponent, PravonKind::kBadArgument, "a descriptor size without its bytes");
    if (size == m_cfa.size() && (size == 0 || std::memcmp(descriptor, m_cfa.data(), size) == 0))
        return nullptr;
    try {
        m_cfa.assign(descriptor, descriptor + size);
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the colour-filter descriptor");
    }
    SetCacheCheck();
    IPravonError* err = CheckCFAPattern();
    if (ShouldNotify(notify))
        err = IPravonError::Chain(err, NotifyWholeOutput());
    return err;
}

IPravonError* CDeBayerBase::CheckBayerPattern(LONG component, LONG* greenPhase, LONG* redRowPhase) const {
    // The counts are read only when present, the cells only when the descriptor holds them all; longer
    // descriptors (padded tags) are fine.
    if (m_cfa.size() < 4)
        return PravonFail(component, PravonKind::kInvalidState,
                          "the colour-filter descriptor is too short for its counts");
    const LONG columns = (LONG{m_cfa[0]} << 8) | m_cfa[1];
    const LONG rows = (LONG{m_cfa[2]} << 8) | m_cfa[3];
    if (columns != 2 || rows != 2)
        return PravonFail(component, PravonKind::kInvalidState, "the colour-filter pattern is not 2 x 2");
    if (m_cfa.size() < 8)
        return PravonFail(component, PravonKind::kInvalidState,
                          "the colour-filter descriptor is shorter than its cells");
    const BYTE c00 = m_cfa[4], c01 = m_cfa[5], c10 = m_cfa[6], c11 = m_cfa[7];
    constexpr BYTE kR = 0, kG = 1, kB = 2;
    LONG green = 0;
    BYTE top = 0;
    BYTE bottom = 0;
    if (c00 == kG && c11 == kG && c01 != kG && c10 != kG) {
        green = 1;
        top = c01;
        bottom = c10;
    } else if (c01 == kG && c10 == kG && c00 != kG && c11 != kG) {
        green = 0;
        top = c00;
        bottom = c11;
    } else {
        return PravonFail(component, PravonKind::kInvalidState,
                          "green does not lie on one diagonal of the colour-filter pattern");
    }
    LONG red = 0;
    if (top == kR && bottom == kB)
        red = 1;
    else if (top == kB && bottom == kR)
        red = 0;
    else
        return PravonFail(component, PravonKind::kInvalidState,
                          "the colour-filter pattern needs red in one row and blue in the other");
    *greenPhase = green;
    *redRowPhase = red;
    return nullptr;
}

CMosaicRowReader::Sites CDeBayerBase::MosaicSites(LONG greenPhase, LONG redRowPhase) const {
    CMosaicRowReader::Sites sites;
    sites.greenLut = m_lut[kGreen];
    sites.redLut = m_lut[kRed];
    sites.blueLut = m_lut[kBlue];
    sites.greenPhase = greenPhase;
    sites.redRowPhase = redRowPhase;
    return sites;
}

void CDeBayerBase::WriteOutputRow(const Rgb16* const rows[4], LONG width, LONG columnPhase, LONG rowPhase,
                                  Rgb16* out) const {
    if (!m_nonSquare) {
        std::memcpy(out, rows[1], static_cast<std::size_t>(width) * sizeof(Rgb16));
        return;
    }
    static constexpr LONG kTaps[3][2] = {{3, 1}, {2, 2}, {1, 3}};
    static constexpr LONG kRowWeights[3][4] = {
        {0, 16384, 0, 0}, {-606, 5461, 12743, -1213}, {-1213, 12743, 5461, -606}};
    LONG a = columnPhase;
    LONG x = 0;
    for (LONG o = 0; o < width; ++o) {
        if (rowPhase == 0) {
            const Rgb16& p = rows[1][x];
            const Rgb16& q = rows[1][x + 1];
            auto mix = [a](LONG u, LONG v) -> WORD {
                if (a == 0)
                    return static_cast<WORD>((3 * u + v) >> 2);
                if (a == 1)
                    return static_cast<WORD>((u + v) >> 1);
                return static_cast<WORD>((u + 3 * v) >> 2);
            };
            out[o] = Rgb16{mix(p.r, q.r), mix(p.g, q.g), mix(p.b, q.b)};
        } else {
            const LONG w0 = kTaps[a][0];
            const LONG w1 = kTaps[a][1];
            const LONG* cw = kRowWeights[rowPhase];
            LONG sum[3] = {0, 0, 0};
            for (int k = 0; k < 4; ++k) {
                const Rgb16& p = rows[k][x];
                const Rgb16& q = rows[k][x + 1];
                sum[0] += cw[k] * ((w0 * p.r + w1 * q.r) / 4);
                sum[1] += cw[k] * ((w0 * p.g + w1 * q.g) / 4);
                sum[2] += cw[k] * ((w0 * p.b + w1 * q.b) / 4);
            }
            auto level = [](LONG s) { return static_cast<WORD>(std::clamp<LONG>(s / 16384, 0, 65535)); };
            out[o] = Rgb16{level(sum[0]), level(sum[1]), level(sum[2])};
        }
        // Four source columns give three output columns.
        x += a == 2 ? 2 : 1;
        a = a == 2 ? 0 : a + 1;
    }
}

template <class T>
IPravonError* CDeBayerBase::Map(T* x, T* y, bool toOutput) const {
    if (!IsEnabled())
        return nullptr;
    if (toOutput) {
        *x = ToOutput(*x, GetHorizontalScale(), CropLeft());
        *y = ToOutput(*y, GetVerticalScale(), CropTop());
    } else {
        *x = ToSource(*x, GetHorizontalScale(), CropLeft());
        *y = ToSource(*y, GetVerticalScale(), CropTop());
    }
    return nullptr;
}

// A rectangle maps its two corners.
template <class R>
IPravonError* CDeBayerBase::MapCorners(R* rect, bool toOutput) const {
    Map(&rect->left, &rect->top, toOutput);
    return Map(&rect->right, &rect->bottom, toOutput);
}

IPravonError* CDeBayerBase::FilterPoint(double* x, double* y, IPravonDataSource* const*, LONG) {
    return Map(x, y, true);
}
IPravonError* CDeBayerBase::FilterPoint(LONG* x, LONG* y, IPravonDataSource* const*, LONG) {
    return Map(x, y, true);
}
IPravonError* CDeBayerBase::FilterRect(PravonDblRect* rect, IPravonDataSource* const*, LONG) {
    return MapCorners(rect, true);
}
IPravonError* CDeBayerBase::FilterRect(PravonRect* rect, IPravonDataSource* const*, LONG) {
    return MapCorners(rect, true);
}
IPravonError* CDeBayerBase::DefilterPoint(double* x, double* y, IPravonDataSource* const*, LONG) {
    return Map(x, y, false);
}
IPravonError* CDeBayerBase::DefilterPoint(LONG* x, LONG* y, IPravonDataSource* const*, LONG) {
    return Map(x, y, false);
}
IPravonError* CDeBayerBase::DefilterRect(PravonDblRect* rect, IPravonDataSource* const*, LONG) {
    return MapCorners(rect, false);
}
IPravonError* CDeBayerBase::DefilterRect(PravonRect* rect, IPravonDataSource* const*, LONG) {
    return MapCorners(rect, false);
}

IPravonError* CDeBayerBase::GetFilteredSize(IPravonDataSource* const* sources, LONG count, LONG* width,
                                            LONG* height) {
    if (!sources || count < 1 || !sources[0])
        return PravonFail(kComponent, PravonKind::kNoSource, "the filter has no source");
    LONG w = 0;
    LONG h = 0;
    if (IPravonError* e = sources[0]->GetSize(&w, &h))
        return PravonContext(e, kComponent, "cannot read the source's size");
    ScaledSize(w, h, width, height);
    if (IsCropValid()) {
        *width = std::min(*width, m_crop.right - m_crop.left);
        *height = std::min(*height, m_crop.bottom - m_crop.top);
    }
    return nullptr;
}

IPravonError* CDeBayerBase::GetFilteredColorSpace(IPravonDataSource* const* sources, LONG count,
                                                  LONG* colorSpace) {
    if (!sources || count < 1 || !sources[0])
        return PravonFail(kComponent, PravonKind::kNoSource, "the filter has no source");
    LONG source = 0;
    if (IPravonError* e = sources[0]->GetColorSpace(&source))
        return PravonContext(e, kComponent, "cannot read the source's colour space");
    if (source != GetSourceColorSpace())
        return PravonFail(kComponent, PravonKind::kUnsupportedColorSpace, "Bad source data color space");
    *colorSpace = PravonColorSpace::kRGB16;
    return nullptr;
}

IPravonError* CDeBayerBase::FilterSize(IPravonDataSource* source, ChangeSize* change) {
    if (!change || !IsEnabled())
        return CPravonFilterBase::FilterSize(source, change);
    ChangeSize mapped;
    ScaledSize(change->oldWidth, change->oldHeight, &mapped.oldWidth, &mapped.oldHeight);
    ScaledSize(change->newWidth, change->newHeight, &mapped.newWidth, &mapped.newHeight);
    if (IsCropValid()) {
        const LONG cw = m_crop.right - m_crop.left;
        const LONG ch = m_crop.bottom - m_crop.top;
        mapped.oldWidth = std::min(mapped.oldWidth, cw);
        mapped.oldHeight = std::min(mapped.oldHeight, ch);
        mapped.newWidth = std::min(mapped.newWidth, cw);
        mapped.newHeight = std::min(mapped.newHeight, ch);
    }
    return CPravonFilterBase::FilterSize(source, &mapped);
}

IPravonError* CDeBayerBase::FilterColorSpace(IPravonDataSource* source, ChangeColorSpace* change) {
    if (!change || !IsEnabled())
        return CPravonFilterBase::FilterColorSpace(source, change);
    ChangeColorSpace mapped = *change;
    if (mapped.oldColorSpace == PravonColorSpace::kRawMosaic16)
        mapped.oldColorSpace = PravonColorSpace::kRGB16;
    if (mapped.newColorSpace == PravonColorSpace::kRawMosaic16)
        mapped.newColorSpace = PravonColorSpace::kRGB16;
    return CPravonFilterBase::FilterColorSpace(source, &mapped);
}
