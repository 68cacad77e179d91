#include "CFltChannelMixer.h"

#include "filters/engine/ForEachSourceRun.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// The weights as they stand in doubles, times 2^kWeightShift: whole numbers, since no weight has a bit
// below 2^-kWeightShift. Sums of samples times these are exact, so the weighted sum is truncated as a real
// number: white, whose weights sum to just below 1, comes out one step below white.
constexpr int kWeightShift = 56;

struct CExactWeights {
    std::uint64_t w[3];
    CExactWeights() {
        for (int i = 0; i < 3; ++i)
            w[i] = static_cast<std::uint64_t>(std::ldexp(CFltChannelMixer::kWeights[i], kWeightShift));
    }
};

// One row of pixels of three Sample-sized samples.
template <class Sample>
void MixRow(const BYTE* from, BYTE* to, LONG count, unsigned maxSample, const CExactWeights& weights) {
    constexpr std::size_t kPixel = CFltChannelMixer::kChannels * sizeof(Sample);
    const unsigned __int128 limit = static_cast<unsigned __int128>(maxSample) << kWeightShift;
    const std::uint64_t* w = weights.w;
    for (LONG i = 0; i < count; ++i, from += kPixel, to += kPixel) {
        Sample s[3];
        std::memcpy(s, from, kPixel);
        const unsigned __int128 v = static_cast<unsigned __int128>(s[0]) * w[0] +
                                    static_cast<unsigned __int128>(s[1]) * w[1] +
                                    static_cast<unsigned __int128>(s[2]) * w[2];
        const auto grey =
            static_cast<Sample>(v > limit ? maxSample : static_cast<unsigned>(v >> kWeightShift));
        const Sample out[3] = {grey, grey, grey};
        std::memcpy(to, out, kPixel);
    }
}

} // namespace

CFltChannelMixer::CFltChannelMixer(IPravonManager* manager) : CPravonFilterBase(manager, 1) {}

CFltChannelMixer::~CFltChannelMixer() = default;

IPravonError* CFltChannelMixer::GetChannelCount(LONG colorSpace, LONG* channels) {
    switch (colorSpace) {
    case PravonColorSpace::kGrey8:
    case PravonColorSpace::kGrey16:
        *channels = 1;
        return nullptr;
    case PravonColorSpace::kRGB8:
    case PravonColorSpace::kLCh8:
    case PravonColorSpace::kRGB16:
    case PravonColorSpace::kLCh16:
    case PravonColorSpace::kLab16:
    case PravonColorSpace::kYCbCr16:
        *channels = 3;
        return nullptr;
    case PravonColorSpace::kCMYK8:
        *channels = 4;
        return nullptr;
    default:
        return PravonFail(kCode, PravonKind::kUnsupportedColorSpace, "Bad source data color space");
    }
}

IPravonError* CFltChannelMixer::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        IPravonDataSource* source = nullptr;
        if (IPravonError* e = GetFirstSource(info, &source))
            return PravonContext(e, kCode, "the channel mixer has no source");
        LONG colorSpace = 0;
        if (IPravonError* e = source->GetColorSpace(&colorSpace))
            return PravonContext(e, kCode, "cannot read the source colour space");
        LONG channels = 0;
        if (IPravonError* e = GetChannelCount(colorSpace, &channels))
            return e;
        if (channels != kChannels)
            return PravonFail(kCode, PravonKind::kUnsupportedColorSpace,
                              "the channel mixer takes sources of three channels");
        const bool wide = PravonColorSpace::BitsPerSample(colorSpace) == 16;
        const std::size_t pixel = kChannels * (wide ? 2 : 1);
        static const CExactWeights weights;
        return PravonContext(ForEachSourceRun(source, out, pixel, pixel,
                                              [&](const BYTE* from, BYTE* to, LONG, LONG, LONG count) {
                                                  if (wide)
                                                      MixRow<WORD>(from, to, count, 65535, weights);
                                                  else
                                                      MixRow<BYTE>(from, to, count, 255, weights);
                                              }),
                             kCode, "cannot read the source tiles");
    });
}
