#include "CFltVignette.h"

#include "filters/engine/ClearUncovered.h"
#include "filters/engine/ForEachSourcePart.h"
#include "filters/engine/Int32Math.h"
#include "rawlib/filters/detail/CVignetteRows.h"
#include "rawlib/filters/detail/KvAnnounce.h"
#include "rawlib/filters/detail/VignetteGain.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

constexpr std::size_t kCacheLine = 64;

bool Accepted(LONG colorSpace) {
    using namespace PravonColorSpace;
    static constexpr LONG kAccepted[] = {kGrey8, kRGB8,  kBGR8,  kCMYK8,  kGrey16,
                                         kRGB16, kLCh16, kLab16, kYCbCr16};
    return std::find(std::begin(kAccepted), std::end(kAccepted), colorSpace) != std::end(kAccepted);
}

// The pixels of a row from column first on, count of them, as runs that read one row of the quadrant
// table's codes in one direction: columns left of the middle read it backwards. run(offset, n, codes,
// step) takes pixels offset .. offset + n - 1.
template <class Run>
void ForEachCodeRun(const WORD* quadrant, LONG first, LONG count, LONG width, Run&& run) {
    // The first column whose cell index grows with it.
    const LONG middle = std::clamp<LONG>(width / 2, first, first + count);
    if (middle > first)
        run(0, middle - first, quadrant + VignetteGain::QuadrantIndex(first, width), -1);
    if (first + count > middle)
        run(middle - first, first + count - middle, quadrant + VignetteGain::QuadrantIndex(middle, width), 1);
}

// Samples raised by their pixels' codes at any amount, in 64 bits.
template <class T>
void RaiseWide(const BYTE* from, BYTE* to, LONG count, LONG channels, const WORD* codes, LONG step,
               LONG amount) {
    constexpr LONG kMaximum = sizeof(T) == 1 ? 255 : 65535;
    const T* in = reinterpret_cast<const T*>(from);
    T* out = reinterpret_cast<T*>(to);
    for (LONG i = 0; i < count; ++i)
        for (LONG c = 0; c < channels; ++c) {
            const std::size_t k = static_cast<std::size_t>(i) * channels + c;
            out[k] = static_cast<T>(
                VignetteGain::Apply(codes[static_cast<std::ptrdiff_t>(i) * step], in[k], amount, kMaximum));
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
        const bool narrow = amount >= 0 && amount <= VignetteRows::kNarrowAmount;
        const VignetteRows::Kernels& routines = VignetteRows::Choose();
        ClearOutside(out, PravonRect{0, 0, width, height}, static_cast<LONG>(pixel * 8));
        return ForEachSourcePart(source, out.invalid, [&](const CSourcePart& piece) -> IPravonError* {
            const CPravonRect& part = piece.part;
            const LONG count = part.right - part.left;
            auto quadrantRow = [&](LONG y) {
                return m_gains.data() + static_cast<std::size_t>(VignetteGain::QuadrantIndex(y, height)) *
                                            static_cast<std::size_t>(columns);
            };
            // The codes of a row lie a table row away from the last row's, too far for the processor to fetch
            // them ahead by itself: the next row's are asked for while this one is raised.
            const LONG low = VignetteGain::QuadrantIndex(part.left, width);
            const LONG high = VignetteGain::QuadrantIndex(part.right - 1, width);
            // Across the middle the cells run down to 0 and up again.
            const LONG firstCell = part.left < width / 2 && part.right > width / 2 ? 0 : std::min(low, high);
            const LONG lastCell = std::max(low, high);
            for (LONG y = part.top; y < part.bottom; ++y) {
                const WORD* quadrant = quadrantRow(y);
                if (y + 1 < part.bottom) {
                    const BYTE* next = reinterpret_cast<const BYTE*>(quadrantRow(y + 1) + firstCell);
                    const std::size_t bytes =
                        static_cast<std::size_t>(lastCell - firstCell + 1) * sizeof(WORD);
                    for (std::size_t at = 0; at < bytes; at += kCacheLine)
                        __builtin_prefetch(next + at);
                }
                const BYTE* from =
                    piece.Row(y) + static_cast<std::size_t>(part.left - piece.tileRect.left) * pixel;
                BYTE* to = out.Row(y) + static_cast<std::size_t>(part.left - out.rect.left) * pixel;
                ForEachCodeRun(quadrant, part.left, count, width,
                               [&](LONG offset, LONG n, const WORD* codes, LONG step) {
                                   const BYTE* in = from + static_cast<std::size_t>(offset) * pixel;
                                   BYTE* o = to + static_cast<std::size_t>(offset) * pixel;
                                   if (narrow)
                                       routines.raise(in, o, n, channels, wide, codes, step, amount);
                                   else if (wide)
                                       RaiseWide<WORD>(in, o, n, channels, codes, step, amount);
                                   else
                                       RaiseWide<BYTE>(in, o, n, channels, codes, step, amount);
                               });
            }
            return nullptr;
        });
    });
}
