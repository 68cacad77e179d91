#include "CFltAutoBrightness.h"

#include "KvFilterAnnounce.h"

#include "filters/engine/ClearUncovered.h"
#include "filters/engine/ForEachSourcePart.h"
#include "filters/engine/Int32Math.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// The clip points of a measurement land here on the stretched scale.
constexpr double kLowClipTarget = 328;
constexpr double kHighClipTarget = 65207;
// The stretched range between the two, and the share of the pixels clipped at each end (1 / 200).
constexpr double kClipSpan = kHighClipTarget - kLowClipTarget;
constexpr std::uint64_t kClipDivisor = 200;
// Limits that keep the mapped range from collapsing.
constexpr LONG kHighestBlack = 52428;
constexpr LONG kLowestWhite = 13107;
constexpr LONG kSmallestRange = 13107;
constexpr LONG kSmallestShiftedRange = 6553;

// The black and white levels of one channel's native histogram with `clip` pixels cut at each end.
void MeasureChannel(const ULONG* bins, LONG bits, std::uint64_t clip, LONG* black, LONG* white) {
    const LONG top = (LONG{1} << bits) - 1;
    const double scale = static_cast<double>(257 >> (bits - 8));
    LONG low = top;
    std::uint64_t sum = 0;
    for (LONG i = 0; i < top; ++i) {
        sum += bins[i];
        if (sum >= clip) {
            low = i;
            break;
        }
    }
    LONG high = top;
    sum = 0;
    for (;; --high) {
        sum += bins[high];
        if (sum >= clip || high <= 1)
            break;
    }
    // All but the clipped pixels in one bin leave no range to stretch: the full range stands.
    if (high <= low) {
        *black = 0;
        *white = 65535;
        return;
    }
    const double x = kClipSpan / (scale * (high - low));
    *black = std::max<LONG>(0, static_cast<LONG>((x * high * scale - kHighClipTarget) / x));
    const LONG w = static_cast<LONG>((65535 - kHighClipTarget + x * high * scale) / x);
    *white = w > 65534 ? 65535 : w;
}

bool MapsFirstSampleOnly(LONG colorSpace) {
    using namespace PravonColorSpace;
    return colorSpace == kLCh8 || colorSpace == kLab8 || colorSpace == 0x08060205 || colorSpace == kLCh16 ||
           colorSpace == kLab16 || colorSpace == kYCbCr16;
}

bool MapsEverySample(LONG colorSpace) {
    using namespace PravonColorSpace;
    return colorSpace == kGrey8 || colorSpace == kRGB8 || colorSpace == kGrey16 || colorSpace == kRGB16;
}

} // namespace

CFltAutoBrightness::CFltAutoBrightness(IPravonManager* manager) : CPravonFilterBase(manager, 1) {
    ForgetLevels();
    SetPassThrough(true);
}

void CFltAutoBrightness::ForgetLevels() {
    std::fill(std::begin(m_black), std::end(m_black), kNotMeasured);
    std::fill(std::begin(m_white), std::end(m_white), kNotMeasured);
}

IPravonError* CFltAutoBrightness::SetLevels(LONG channel, LONG black, LONG white, bool notify) {
    if (channel >= kChannels)
        return PravonFail(kCode, PravonKind::kOutOfRange, "the filter keeps levels of channels 0 to 3");
    for (LONG c = channel < 0 ? 0 : channel; c < (channel < 0 ? kChannels : channel + 1); ++c) {
        m_black[c] = black;
        m_white[c] = white;
    }
    if (!m_auto)
        return nullptr;
    SetCacheCheck();
    SetPassThrough(false);
    if (!KvShouldAnnounce(*this, notify))
        return nullptr;
    IPravonError* err = NotifyWatchers(kLevelsMeasured, nullptr);
    return IPravonError::Chain(err, KvAnnounceWholeOutput(*this));
}

LONG CFltAutoBrightness::GetBlackLevel(LONG channel) {
    if (channel >= kChannels)
        return kNotMeasured;
    if (channel >= 0)
        return m_black[channel];
    LONG lowest = m_black[0];
    for (LONG c = 1; c < kChannels && m_black[c] >= 0; ++c)
        lowest = std::min(lowest, m_black[c]);
    return lowest;
}

LONG CFltAutoBrightness::GetWhiteLevel(LONG channel) {
    if (channel >= kChannels)
        return kNotMeasured;
    if (channel >= 0)
        return m_white[channel];
    LONG highest = m_white[0];
    for (LONG c = 1; c < kChannels && m_white[c] >= 0; ++c)
        highest = std::max(highest, m_white[c]);
    return highest;
}

LONG CFltAutoBrightness::GetAutoBrightness() {
    const LONG white = GetWhiteLevel(-1);
    const LONG black = m_auto ? GetBlackLevel(-1) : 0;
    // Unmeasured levels, or levels that leave no range, have no brightness that would stretch them.
    if (white < 0 || black < 0 || white <= black || black >= 65535)
        return 0;
    const double ratio = static_cast<double>(white - black) / static_cast<double>(65535 - black);
    const double value = 0.5 - 256 * std::log2(ratio);
    return static_cast<LONG>(std::clamp(value, static_cast<double>(Int32Math::kMin), 512.0));
}

IPravonError* CFltAutoBrightness::SetAuto(bool on, bool notify) {
    if (on == m_auto)
        return nullptr;
    m_auto = on;
    SetCacheCheck();
    UpdatePassThrough();
    return KvShouldAnnounce(*this, notify) ? KvAnnounceWholeOutput(*this) : nullptr;
}

IPravonError* CFltAutoBrightness::SetBrightness(LONG brightness, bool notify) {
    if (brightness == m_brightness)
        return nullptr;
    m_brightness = brightness;
    SetCacheCheck();
    UpdatePassThrough();
    return KvShouldAnnounce(*this, notify) ? KvAnnounceWholeOutput(*this) : nullptr;
}

IPravonError* CFltAutoBrightness::SetHistogram(CPravonFilterHistogram* histogram, bool notify) {
    if (histogram == m_histogram)
        return nullptr;
    if (m_histogram)
        ForgetLevels();
    SetCacheCheck();
    // The brightness and the automatic mode still apply while the new histogram is being counted.
    UpdatePassThrough();
    m_histogram = histogram;
    return PravonContext(UpdateLevels(notify), kCode, "the levels cannot be measured");
}

IPravonError* CFltAutoBrightness::UpdateLevels(bool notify) {
    if (!m_histogram || !m_histogram->IsComplete())
        return nullptr;
    const LONG bits = m_histogram->GetNativeBits();
    if (bits != 8 && bits != 16)
        return nullptr;
    LONG colorSpace = 0;
    LONG width = 0;
    LONG height = 0;
    if (IPravonError* e = m_histogram->GetColorSpace(&colorSpace))
        return PravonContext(e, kCode, "the histogram's colour space");
    if (IPravonError* e = m_histogram->GetSize(&width, &height))
        return PravonContext(e, kCode, "the histogram's size");
    // Grey is counted in channel 0; every other space's samples from channel 1 on.
    const LONG first = (static_cast<ULONG>(colorSpace) & 0x1FFFF) == 1 ? 0 : 1;
    const std::uint64_t clip =
        static_cast<std::uint64_t>(std::max<LONG>(width, 0)) * std::max<LONG>(height, 0) / kClipDivisor;
    for (LONG d = 0; d < kChannels; ++d) {
        const ULONG* bins = m_histogram->ReadHistogram(d + first);
        if (!bins) {
            std::fill(m_black + d, m_black + kChannels, kNotMeasured);
            std::fill(m_white + d, m_white + kChannels, kNotMeasured);
            break;
        }
        MeasureChannel(bins, bits, clip, &m_black[d], &m_white[d]);
    }
    if (IPravonError* e = NotifyWatchers(kLevelsMeasured, nullptr))
        return e;
    if (!m_auto || !KvShouldAnnounce(*this, notify))
        return nullptr;
    SetCacheCheck();
    SetPassThrough(false);
    return KvAnnounceWholeOutput(*this);
}

IPravonError* CFltAutoBrightness::PravonNotify(IPravonDataSource* source, LONG type, void* data) {
    IPravonError* err = nullptr;
    if (type == CPravonFilterHistogram::kHistogramComplete && m_histogram && data == m_histogram)
        err = UpdateLevels(false);
    return IPravonError::Chain(err, CPravonFilterBase::PravonNotify(source, type, data));
}

CFltAutoBrightness::Ends CFltAutoBrightness::MappedEnds() {
    Ends ends;
    const LONG black = m_auto ? GetBlackLevel(-1) : 0;
    const LONG white = GetWhiteLevel(-1);
    if (black >= 0 && white >= 0) {
        ends.black = std::min(black, kHighestBlack);
        ends.white = std::max(white, kLowestWhite);
    }
    ends.white = std::max(ends.white, ends.black + kSmallestRange);
    // The brightness moves one end: a darkening raises the black end, a brightening lowers the white one.
    const double ev = static_cast<double>(m_brightness) / 256;
    if (m_brightness < 0) {
        const double black = 65535 - std::exp2(ev) * (65535 - ends.black) + 0.5;
        ends.black = std::min(static_cast<LONG>(black), ends.white - kSmallestShiftedRange);
    } else {
        const double white = std::exp2(-ev) * (65535 - ends.black) + ends.black + 0.5;
        ends.white = std::max(static_cast<LONG>(white), ends.black + kSmallestShiftedRange);
    }
    return ends;
}

IPravonError* CFltAutoBrightness::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        IPravonDataSource* source = nullptr;
        if (IPravonError* e = GetFirstSource(info, &source))
            return e;
        LONG colorSpace = 0;
        if (IPravonError* e = source->GetColorSpace(&colorSpace))
            return e;
        const LONG bitsPerSample = PravonColorSpace::BitsPerSample(colorSpace);
        const LONG samples = PravonColorSpace::Channels(colorSpace);
        const LONG pixelBytes = PravonColorSpace::BitsPerPixel(colorSpace) / 8;
        if (pixelBytes <= 0 || PravonColorSpace::BitsPerPixel(colorSpace) % 8 != 0)
            return PravonFail(kCode, PravonKind::kUnsupportedColorSpace, "Bad source data color space");
        // Spaces the filter does not map come out as they came in.
        const LONG mapped = MapsEverySample(colorSpace) ? samples : MapsFirstSampleOnly(colorSpace) ? 1 : 0;

        const Ends ends = MappedEnds();
        std::array<BYTE, 256> table8{};
        if (bitsPerSample == 8) {
            const LONG b8 = ends.black / 256;
            const LONG w8 = ends.white / 256;
            for (LONG i = 0; i < 256; ++i)
                table8[i] = static_cast<BYTE>(i < b8 ? 0 : i >= w8 ? 255 : (i - b8) * 255 / (w8 - b8));
        }
        const std::uint32_t black = static_cast<std::uint32_t>(ends.black);
        const std::uint32_t white = static_cast<std::uint32_t>(ends.white);
        const std::uint64_t k = ends.black >= ends.white ? 0 : 0xFFFF0000u / (white - black);
        const auto map16 = [&](std::uint32_t t) -> WORD {
            if (t <= black)
                return 0;
            if (t > white)
                return 0xFFFF;
            return static_cast<WORD>(((t - black) * k) >> 16);
        };

        if (IPravonError* e = ClearOutsideSource(source, out, pixelBytes * 8))
            return e;
        return ForEachSourcePart(source, out.invalid, [&](const CSourcePart& piece) -> IPravonError* {
            const CPravonRect& part = piece.part;
            const std::size_t count = static_cast<std::size_t>(part.right - part.left);
            for (LONG y = part.top; y < part.bottom; ++y) {
                const BYTE* from =
                    piece.Row(y) + static_cast<std::size_t>(part.left - piece.tileRect.left) * pixelBytes;
                BYTE* to = out.Row(y) + static_cast<std::size_t>(part.left - out.rect.left) * pixelBytes;
                if (from != to)
                    std::memcpy(to, from, count * pixelBytes);
                if (mapped == 0)
                    continue;
                if (bitsPerSample == 8) {
                    for (std::size_t x = 0; x < count; ++x)
                        for (LONG s = 0; s < mapped; ++s)
                            to[x * samples + s] = table8[to[x * samples + s]];
                } else {
                    auto* row = reinterpret_cast<WORD*>(to);
                    for (std::size_t x = 0; x < count; ++x)
                        for (LONG s = 0; s < mapped; ++s)
                            row[x * samples + s] = map16(row[x * samples + s]);
                }
            }
            return nullptr;
        });
    });
}
