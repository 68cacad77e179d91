#include "CFltThreshold.h"

#include "KvFilterAnnounce.h"

#include "filters/engine/ForEachSourceRun.h"

#include <cstring>

namespace {

template <class Sample>
void ThresholdRow(const BYTE* from, BYTE* to, std::size_t samples, Sample threshold, Sample top) {
    for (std::size_t i = 0; i < samples; ++i) {
        Sample s;
        std::memcpy(&s, from + i * sizeof(Sample), sizeof(Sample));
        if (s > threshold)
            s = top;
        else if (s < threshold)
            s = 0;
        std::memcpy(to + i * sizeof(Sample), &s, sizeof(Sample));
    }
}

bool Accepted(LONG colorSpace) {
    switch (colorSpace) {
    case PravonColorSpace::kGrey8:
    case PravonColorSpace::kRGB8:
    case PravonColorSpace::kCMYK8:
    case PravonColorSpace::kGrey16:
    case PravonColorSpace::kRGB16:
        return true;
    default:
        return false;
    }
}

} // namespace

CFltThreshold::CFltThreshold(IPravonManager* manager) : CPravonFilterBase(manager, 1) {}

CFltThreshold::~CFltThreshold() = default;

IPravonError* CFltThreshold::SetThreshold(BYTE value, bool notify) {
    if (value == m_threshold)
        return nullptr;
    m_threshold = value;
    SetCacheCheck();
    return KvShouldAnnounce(*this, notify) ? KvAnnounceWholeOutput(*this) : nullptr;
}

IPravonError* CFltThreshold::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        IPravonDataSource* source = nullptr;
        if (IPravonError* e = GetFirstSource(info, &source))
            return PravonContext(e, kCode, "the lost-detail display has no source");
        LONG colorSpace = 0;
        if (IPravonError* e = source->GetColorSpace(&colorSpace))
            return PravonContext(e, kCode, "cannot read the source colour space");
        if (!Accepted(colorSpace))
            return PravonFail(kCode, PravonKind::kUnsupportedColorSpace, "Bad source data color space");
        const bool wide = PravonColorSpace::BitsPerSample(colorSpace) == 16;
        const LONG channels = PravonColorSpace::Channels(colorSpace);
        const std::size_t pixel = static_cast<std::size_t>(channels) * (wide ? 2 : 1);
        const BYTE t = m_threshold;
        return PravonContext(ForEachSourceRun(source, out, pixel, pixel,
                                              [&](const BYTE* from, BYTE* to, LONG, LONG, LONG count) {
                                                  const std::size_t samples =
                                                      static_cast<std::size_t>(count) * channels;
                                                  if (wide)
                                                      ThresholdRow<WORD>(from, to, samples,
                                                                         static_cast<WORD>(t * 257), 0xFFFF);
                                                  else
                                                      ThresholdRow<BYTE>(from, to, samples, t, 0xFF);
                                              }),
                             kCode, "cannot read the source tiles");
    });
}
