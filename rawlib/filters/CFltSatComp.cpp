#include "CFltSatComp.h"

#include "filters/engine/ForEachSourceRun.h"
#include "platform/pravon/PravonGraph.h"

#include <cmath>
#include <cstring>

namespace {

// The shape of the gain curve at one level: below shadowEnd the gain rises from shadowFloor along a
// quarter sine to 1.0, from highlightStart it falls along a quarter sine to highlightFloor at 255; the
// whole curve is then scaled by factor. Gains are in units of 1/128.
struct CCompensation {
    int highlightStart;
    int highlightFloor;
    int shadowEnd;
    int shadowFloor;
    double factor;
};

constexpr CCompensation kLevels[CFltSatComp::kMaxLevel + 1] = {
    {254, 128, 50, 128, 1.0}, {237, 114, 51, 117, 1.0}, {222, 100, 52, 105, 1.0}, {209, 88, 54, 93, 1.0},
    {198, 76, 57, 79, 0.98},  {190, 65, 60, 65, 0.96},  {184, 55, 64, 50, 0.94},  {180, 46, 69, 34, 0.92},
    {179, 37, 74, 17, 0.8},   {180, 30, 80, 0, 0.7},
};

// The quarter turn of the gain curves, as the stored developments were made with it (not pi / 2).
constexpr double kQuarterTurn = 1.5705;

template <class Sample, int LightnessShift>
void CompensateRow(const BYTE* from, BYTE* to, LONG count, const LONG* gain) {
    constexpr std::size_t kPixel = 3 * sizeof(Sample);
    for (LONG i = 0; i < count; ++i, from += kPixel, to += kPixel) {
        Sample s[3];
        std::memcpy(s, from, kPixel);
        s[1] = static_cast<Sample>((static_cast<LONG>(s[1]) * gain[s[0] >> LightnessShift]) >>
                                   CFltSatComp::kGainShift);
        std::memcpy(to, s, kPixel);
    }
}

} // namespace

CFltSatComp::CFltSatComp(IPravonManager* manager) : CPravonFilterBase(manager, 1) {}

CFltSatComp::~CFltSatComp() = default;

IPravonError* CFltSatComp::SetCompensation(LONG level, bool notify) {
    if (level < kOff || level > kMaxLevel)
        level = kOff;
    if (level == m_level)
        return nullptr;
    m_level = level;
    m_tableNeedsBuilding = true;
    SetCacheCheck();
    SetPassThrough(level == kOff);
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    GetSources(&sources, &count);
    if (!notify || !IsEnabled() || count == 0 || !sources[0])
        return nullptr;
    return PravonContext(PravonSendDataNotification(this, PravonNotification::kUpdateAll, nullptr), kCode,
                         "the new compensation was not taken downstream");
}

void CFltSatComp::BuildGainTable() {
    const CCompensation& c = kLevels[m_level];
    for (int i = 0; i < 256; ++i) {
        double f = kUnitGain;
        if (i < c.shadowEnd)
            f = c.shadowFloor + (kUnitGain - c.shadowFloor) * std::sin(kQuarterTurn * i / c.shadowEnd);
        else if (i >= c.highlightStart)
            f = c.highlightFloor + (kUnitGain - c.highlightFloor) *
                                       std::sin(kQuarterTurn * (255 - i) / (255 - c.highlightStart));
        const auto whole = static_cast<LONG>(std::trunc(f));
        m_gain[static_cast<std::size_t>(i)] = whole < 0 ? 0 : static_cast<LONG>(c.factor * whole);
    }
    m_tableNeedsBuilding = false;
}

IPravonError* CFltSatComp::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        IPravonDataSource* source = nullptr;
        if (IPravonError* e = GetFirstSource(info, &source))
            return PravonContext(e, kCode, "the saturation compensation has no source");
        LONG colorSpace = 0;
        if (IPravonError* e = source->GetColorSpace(&colorSpace))
            return PravonContext(e, kCode, "cannot read the source colour space");
        if (colorSpace != PravonColorSpace::kLCh8 && colorSpace != PravonColorSpace::kLCh16)
            return PravonFail(kCode, PravonKind::kUnsupportedColorSpace, "Bad source data color space");
        if (m_tableNeedsBuilding)
            BuildGainTable();
        const bool wide = colorSpace == PravonColorSpace::kLCh16;
        const std::size_t pixel = wide ? 6 : 3;
        const LONG* gain = m_gain.data();
        return PravonContext(ForEachSourceRun(source, out, pixel, pixel,
                                              [&](const BYTE* from, BYTE* to, LONG, LONG, LONG count) {
                                                  if (wide)
                                                      CompensateRow<WORD, 8>(from, to, count, gain);
                                                  else
                                                      CompensateRow<BYTE, 0>(from, to, count, gain);
                                              }),
                             kCode, "cannot read the source tiles");
    });
}
