#include "CFltVignette.h"

#include "filters/engine/ClearUncovered.h"
#include "filters/engine/ForEachSourcePart.h"
#include "filters/engine/Int32Math.h"
#include "rawlib/filters/detail/KvAnnounce.h"
#include "rawlib/filters/detail/VignetteGain.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

bool Accepted(LONG colorSpace) {
    using namespace PravonColorSpace;
    static constexpr LONG kAccepted[] = {kGrey8, kRGB8,  kBGR8,  kCMYK8,  kGrey16,
                                         kRGB16, kLCh16, kLab16, kYCbCr16};
    return std::find(std::begin(kAccepted), std::end(kAccepted), colorSpace) != std::end(kAccepted);
}

// The amounts up to 4.0 (in 8192ths) raise a sample in 32 unsigned bits: min((D x v) >> s, 65535) x A
// stays below 2^31, and every result is at least v.
constexpr LONG kNarrowAmount = 4 * 8192;

// Raises count pixels of Channels samples of type T from from into to, with the codes of the pixels.
template <class T, LONG Channels>
void RaiseRow(const BYTE* from, BYTE* to, LONG count, const WORD* gains, LONG imageWidth, LONG firstX,
              LONG amount) {
    using namespace VignetteGain;
    constexpr LONG kMaximum = sizeof(T) == 1 ? 255 : 65535;
    constexpr LONG channels = Channels;
    constexpr std::size_t pixel = sizeof(T) * Channels;
    const bool narrow = amount >= 0 && amount <= kNarrowAmount;
    for (LONG i = 0; i < count; ++i) {
        const WORD code = gains[QuadrantIndex(firstX + i, imageWidth)];
        T samples[Channels];
        std::memcpy(samples, from + static_cast<std::size_t>(i) * pixel, pixel);
        if (narrow) {
            const LONG exponent = code >> kMantissaBits;
            const std::uint32_t mantissa = code & kMantissaMask;
            const std::uint32_t factor = exponent == 0 ? mantissa : kOne + mantissa;
            const int right = exponent == 0 ? kMantissaBits : std::max<LONG>(kShiftBase - exponent, 0);
            const int left = std::max<LONG>(exponent - kShiftBase, 0);
            for (LONG c = 0; c < channels; ++c) {
                const std::uint32_t v = samples[c];
                const std::uint32_t raised = std::min<std::uint32_t>(((factor * v) >> right) << left, 65535);
                samples[c] = static_cast<T>(std::min<std::uint32_t>(
                    v + ((raised * static_cast<std::uint32_t>(amount)) >> 13), kMaximum));
            }
        } else {
            for (LONG c = 0; c < channels; ++c)
                samples[c] = static_cast<T>(Apply(code, samples[c], amount, kMaximum));
        }
        std::memcpy(to + static_cast<std::size_t>(i) * pixel, samples, pixel);
    }
}

template <class T>
void RaiseRow(const BYTE* from, BYTE* to, LONG count, LONG channels, const WORD* gains, LONG imageWidth,
              LONG firstX, LONG amount) {
    switch (channels) {
    case 1:
        return RaiseRow<T, 1>(from, to, count, gains, imageWidth, firstX, amount);
    case 3:
        return RaiseRow<T, 3>(from, to, count, gains, imageWidth, firstX, amount);
    default: // the accepted colour spaces have 1, 3 or 4 channels
        return RaiseRow<T, 4>(from, to, count, gains, imageWidth, firstX, amount);
    }
}

} // namespace

CFltVignette::CFltVignette(IPravonManager* manager)
    : CPravonFilterBase(manager, 1),
      m_diagonal(std::sqrt(kSensorWidth * kSensorWidth + kSensorHeight * kSensorHeight)) {}

template <class Set>
IPravonError* CFltVignette::Change(bool refit, bool notify, Set&& set) {
    set();
    m_refit = m_refit || refit;
    SetCacheCheck();
    return AnnounceWholeOutput(*this, notify);
}

IPravonError* CFltVignette::SetLensId(const BYTE* descriptor, bool notify) {
    if (!descriptor) {
        if (!m_hasLens)
            return nullptr;
        return Change(true, notify, [&] { m_hasLens = false; });
    }
    CVignetteLensModel::Descriptor given;
    std::memcpy(given.data(), descriptor, given.size());
    if (m_hasLens && given == m_lens)
        return nullptr;
    return Change(true, notify, [&] {
        m_lens = given;
        m_hasLens = true;
    });
}

IPravonError* CFltVignette::SetMagnitude(double diagonal, bool notify) {
    if (diagonal == m_diagonal && m_sensorWidth == 0 && m_sensorHeight == 0)
        return nullptr;
    return Change(true, notify, [&] {
        m_diagonal = diagonal;
        m_sensorWidth = 0;
        m_sensorHeight = 0;
    });
}

IPravonError* CFltVignette::SetSensorSize(double width, double height, bool notify) {
    if (width == m_sensorWidth && height == m_sensorHeight)
        return nullptr;
    return Change(true, notify, [&] {
        m_sensorWidth = width;
        m_sensorHeight = height;
        m_diagonal = std::sqrt(width * width + height * height);
    });
}

IPravonError* CFltVignette::ResetSensorSize(bool notify) {
    return SetSensorSize(kSensorWidth, kSensorHeight, notify);
}

IPravonError* CFltVignette::SetFNumber(double fNumber, bool notify) {
    if (fNumber == m_fNumber)
        return nullptr;
    return Change(true, notify, [&] { m_fNumber = fNumber; });
}

IPravonError* CFltVignette::SetAmount(double amount, bool notify) {
    if (amount == m_amount)
        return nullptr;
    return Change(false, notify, [&] { m_amount = amount; });
}

IPravonError* CFltVignette::SetExtra(double scale, bool notify) {
    if (scale == m_scale)
        return nullptr;
    return Change(true, notify, [&] { m_scale = scale; });
}

IPravonError* CFltVignette::FilterSize(IPravonDataSource* source, ChangeSize* change) {
    m_refit = true;
    return CPravonFilterBase::FilterSize(source, change);
}

IPravonError* CFltVignette::FilterUpdateAll(IPravonDataSource* source) {
    m_refit = true;
    return CPravonFilterBase::FilterUpdateAll(source);
}

IPravonError* CFltVignette::Refit(LONG width, LONG height) {
    const CVignetteLensModel model(m_hasLens ? &m_lens : nullptr, m_fNumber);
    try {
        m_gains = VignetteGain::QuadrantTable(model, m_diagonal, m_scale, width, height);
    } catch (const std::bad_alloc&) {
        m_gains.clear();
        m_tableWidth = 0;
        m_tableHeight = 0;
        return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for the gain table");
    }
    m_tableWidth = width;
    m_tableHeight = height;
    m_refit = false;
    return nullptr;
}

IPravonError* CFltVignette::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        IPravonDataSource* source = nullptr;
        if (IPravonError* e = GetFirstSource(info, &source))
            return e;
        LONG colorSpace = 0;
        LONG width = 0;
        LONG height = 0;
        if (IPravonError* e = source->GetColorSpace(&colorSpace))
            return PravonContext(e, kCode, "cannot read the source's colour space");
        if (!Accepted(colorSpace))
            return PravonFail(kCode, PravonKind::kUnsupportedColorSpace, "Bad source data color space");
        if (IPravonError* e = source->GetSize(&width, &height))
            return PravonContext(e, kCode, "cannot read the source's size");
        // The table follows the image's size also where no notification told of a new one.
        if (m_refit || width != m_tableWidth || height != m_tableHeight)
            if (IPravonError* e = Refit(width, height))
                return e;

        const LONG channels = PravonColorSpace::Channels(colorSpace);
        const bool wide = PravonColorSpace::BitsPerSample(colorSpace) == 16;
        const std::size_t pixel = static_cast<std::size_t>(channels) * (wide ? 2 : 1);
        const LONG amount = Int32Math::SaturatedTrunc(m_amount * 8192);
        const LONG columns = (width + 1) / 2;
        ClearOutside(out, PravonRect{0, 0, width, height}, static_cast<LONG>(pixel * 8));
        return ForEachSourcePart(source, out.invalid, [&](const CSourcePart& piece) -> IPravonError* {
            const CPravonRect& part = piece.part;
            const LONG count = part.right - part.left;
            for (LONG y = part.top; y < part.bottom; ++y) {
                const WORD* gains =
                    m_gains.data() + static_cast<std::size_t>(VignetteGain::QuadrantIndex(y, height)) *
                                         static_cast<std::size_t>(columns);
                const BYTE* from =
                    piece.Row(y) + static_cast<std::size_t>(part.left - piece.tileRect.left) * pixel;
                BYTE* to = out.Row(y) + static_cast<std::size_t>(part.left - out.rect.left) * pixel;
                if (wide)
                    RaiseRow<WORD>(from, to, count, channels, gains, width, part.left, amount);
                else
                    RaiseRow<BYTE>(from, to, count, channels, gains, width, part.left, amount);
            }
            return nullptr;
        });
    });
}
