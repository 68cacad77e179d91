#include "CPravonFilterGrid.h"

#include "AnnounceWholeSource.h"

#include "filters/engine/ForEachSourceRun.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Lines further than this from the image are never inside it; positions are kept in 64 bits below it.
constexpr double kFarAway = 4611686018427387904.0; // 2^62

bool Copies(LONG colorSpace) {
    return colorSpace == PravonColorSpace::kGrey8 || colorSpace == PravonColorSpace::kGrey16 ||
           colorSpace == PravonColorSpace::kRGB8 || colorSpace == PravonColorSpace::kRGB16;
}

// One row of the source as 8-bit RGB: grey repeated into the three samples, 16-bit samples by their high
// byte.
template <bool Wide, LONG Channels>
void CopyRow(const BYTE* from, BYTE* to, LONG count) {
    constexpr std::size_t kSample = Wide ? 2 : 1;
    for (LONG i = 0; i < count; ++i, from += Channels * kSample, to += 3) {
        for (LONG c = 0; c < 3; ++c) {
            const BYTE* s = from + (Channels == 1 ? 0 : c) * kSample;
            if constexpr (Wide) {
                WORD v;
                std::memcpy(&v, s, sizeof v);
                to[c] = static_cast<BYTE>(v >> 8);
            } else {
                to[c] = *s;
            }
        }
    }
}

// The lines of one direction that reach into [from, to) along it: major lines spacing apart from the
// centre of an image of size pixels, each followed by divisions - 1 minor lines. line(position, major,
// solid) is called for each, possibly more than once for a position and possibly just outside the range;
// the centre line is solid when solidCentre is set.
template <class Line>
void VisitLines(const CPravonFilterGrid::CSpacing& s, LONG size, LONG from, LONG to, bool solidCentre,
                Line&& line) {
    const double f = s.spacing;
    const std::int64_t half = ((static_cast<std::int64_t>(size / f)) | 1) / 2;
    const std::int64_t centre = size / 2;
    // A line's minor lines lie within one spacing after it.
    const double low = std::floor((from - centre - 1) / f) - 1;
    const double high = std::ceil((to - centre + 1) / f);
    const std::int64_t first =
        std::max<std::int64_t>(-half - 1, static_cast<std::int64_t>(std::max(low, -kFarAway)));
    const std::int64_t last =
        std::min<std::int64_t>(half, static_cast<std::int64_t>(std::min(high, kFarAway)));
    const std::int64_t e = s.divisions;
    for (std::int64_t j = first; j <= last; ++j) {
        const double offset = std::trunc(f * static_cast<double>(j));
        if (std::fabs(offset) >= kFarAway)
            continue;
        const std::int64_t major = static_cast<std::int64_t>(offset) + centre;
        line(major, true, solidCentre && j == 0);
        // With so wide a spacing no minor line comes within an image of 32-bit size.
        if (e < 2 || f >= kFarAway / 2)
            continue;
        const double reach = static_cast<double>(e) / f;
        const std::int64_t m0 =
            std::max<std::int64_t>(1, static_cast<std::int64_t>(std::floor((from - major - 1) * reach)));
        const std::int64_t m1 =
            std::min<std::int64_t>(e - 1, static_cast<std::int64_t>(std::ceil((to - major + 1) * reach)));
        for (std::int64_t m = m0; m <= m1; ++m) {
            const double t = std::trunc(f * static_cast<double>(m));
            if (t >= kFarAway)
                break;
            line(major + (static_cast<std::int64_t>(t) + e / 2) / e, false, false);
        }
    }
}

} // namespace

CPravonFilterGrid::CPravonFilterGrid(IPravonManager* manager) : CPravonFilterBase(manager, 1) {}

CPravonFilterGrid::~CPravonFilterGrid() = default;

IPravonError* CPravonFilterGrid::Changed(bool notify) {
    SetCacheCheck();
    if (!notify || !IsEnabled())
        return nullptr;
    return AnnounceWholeSource(*this);
}

IPravonError* CPravonFilterGrid::SetGridColor(BYTE red, BYTE green, BYTE blue, bool notify) {
    if (m_color[0] == red && m_color[1] == green && m_color[2] == blue)
        return nullptr;
    m_color[0] = red;
    m_color[1] = green;
    m_color[2] = blue;
    return Changed(notify);
}

IPravonError* CPravonFilterGrid::SetGridInterval(double interval, LONG unit, LONG divisions, bool notify) {
    if (m_interval == interval && m_unit == unit && m_divisions == divisions)
        return nullptr;
    m_interval = interval;
    m_unit = unit;
    m_divisions = divisions;
    return Changed(notify);
}

IPravonError* CPravonFilterGrid::SetAssumedImageSize(LONG width, LONG height, double resolution,
                                                     bool notify) {
    if (m_assumedWidth == width && m_assumedHeight == height && m_assumedResolution == resolution)
        return nullptr;
    m_assumedWidth = width;
    m_assumedHeight = height;
    m_assumedResolution = resolution;
    return Changed(notify);
}

void CPravonFilterGrid::GetGridColor(BYTE* red, BYTE* green, BYTE* blue) const {
    *red = m_color[0];
    *green = m_color[1];
    *blue = m_color[2];
}

void CPravonFilterGrid::GetGridInterval(double* interval, LONG* unit, LONG* divisions) const {
    *interval = m_interval;
    *unit = m_unit;
    *divisions = m_divisions;
}

void CPravonFilterGrid::GetAssumedImageSize(LONG* width, LONG* height, double* resolution) const {
    if (width)
        *width = m_assumedWidth;
    if (height)
        *height = m_assumedHeight;
    if (resolution)
        *resolution = m_assumedResolution;
}

double CPravonFilterGrid::GetGridIntervalInPixels(double resolution) const {
    switch (m_unit) {
    case kPixels:
        return m_interval;
    case kCentimetres:
        return m_interval * resolution / 2.54;
    case kMillimetres:
        return m_interval * resolution / 25.4;
    case kPicas:
        return m_interval * resolution / 6;
    case kPoints:
        return m_interval * resolution / 72;
    default:
        return m_interval * resolution;
    }
}

CPravonFilterGrid::CSpacing CPravonFilterGrid::GetSpacing(LONG width) const {
    CSpacing s;
    if (m_assumedWidth == 0)
        return s;
    const double c = GetGridIntervalInPixels(m_assumedResolution) * width / m_assumedWidth;
    // No resolution or interval, or a negative one: the spacing is no length at all, and nothing is drawn.
    if (!std::isfinite(c) || c <= 0)
        return s;
    const double doublings = std::ceil(std::max(0.0, std::log2(kMinSpacing / c)));
    if (!std::isfinite(doublings) || doublings > 2048)
        return s;
    s.spacing = std::ldexp(c, static_cast<int>(doublings));
    if (!std::isfinite(s.spacing))
        return s;
    // Minor lines stay at least ten pixels apart.
    s.divisions = static_cast<LONG>(std::min<double>(
        m_divisions, std::max(1.0, std::trunc(std::min<double>(s.spacing * 0.1, m_divisions)))));
    s.draws = true;
    return s;
}

IPravonError* CPravonFilterGrid::GetFilteredColorSpace(IPravonDataSource* const*, LONG, LONG* colorSpace) {
    *colorSpace = PravonColorSpace::kRGB8;
    return nullptr;
}

IPravonError* CPravonFilterGrid::FilterColorSpace(IPravonDataSource* source, ChangeColorSpace* change) {
    if (!IsEnabled())
        return CPravonFilterBase::FilterColorSpace(source, change);
    SetCacheCheck();
    return AnnounceWholeSource(*this);
}

IPravonError* CPravonFilterGrid::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        IPravonDataSource* source = nullptr;
        if (IPravonError* e = GetFirstSource(info, &source))
            return PravonContext(e, kCode, "the grid has no source");
        LONG width = 0;
        LONG height = 0;
        LONG colorSpace = 0;
        if (IPravonError* e = source->GetSize(&width, &height))
            return PravonContext(e, kCode, "cannot read the source size");
        if (IPravonError* e = source->GetColorSpace(&colorSpace))
            return PravonContext(e, kCode, "cannot read the source colour space");
        if (!Copies(colorSpace))
            return PravonFail(kCode, PravonKind::kUnsupportedColorSpace, "Bad source data color space");
        if (out.colorSpace != PravonColorSpace::kRGB8)
            return PravonFail(kCode, PravonKind::kInvalidState, "the tile is not laid out for 8-bit RGB");

        const bool wide = PravonColorSpace::BitsPerSample(colorSpace) == 16;
        const bool grey = PravonColorSpace::Channels(colorSpace) == 1;
        const auto copy = grey ? (wide ? CopyRow<true, 1> : CopyRow<false, 1>)
                               : (wide ? CopyRow<true, 3> : CopyRow<false, 3>);
        const std::size_t pixel = static_cast<std::size_t>(PravonColorSpace::BitsPerPixel(colorSpace) / 8);
        if (IPravonError* e = ForEachSourceRun(
                source, out, pixel, 3,
                [&](const BYTE* from, BYTE* to, LONG, LONG, LONG count) { copy(from, to, count); }))
            return PravonContext(e, kCode, "cannot read the source tiles");

        const CSpacing spacing = GetSpacing(width);
        if (!spacing.draws)
            return nullptr;
        const CPravonRect& area = out.invalid;
        const auto plot = [&](LONG x, LONG y) {
            std::memcpy(out.Row(y) + (x - out.rect.left) * 3, m_color, 3);
        };
        // Dashed lines leave every fourth pixel out, dotted lines draw only those; both by image
        // coordinates, so that the pattern runs on across tiles.
        const auto shows = [](LONG along, bool major, bool solid) {
            return solid || (major ? along % 4 != 0 : along % 4 == 0);
        };
        VisitLines(spacing, width, area.left, area.right, true, [&](std::int64_t x, bool major, bool solid) {
            if (x < area.left || x >= area.right)
                return;
            for (LONG y = area.top; y < area.bottom; ++y)
                if (shows(y, major, solid))
                    plot(static_cast<LONG>(x), y);
        });
        VisitLines(spacing, height, area.top, area.bottom, false,
                   [&](std::int64_t y, bool major, bool solid) {
                       if (y < area.top || y >= area.bottom)
                           return;
                       for (LONG x = area.left; x < area.right; ++x)
                           if (shows(x, major, solid))
                               plot(x, static_cast<LONG>(y));
                   });
        return nullptr;
    });
}
