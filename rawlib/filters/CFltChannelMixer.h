// Turns a colour image into a grey one of the same layout: every sample of a pixel receives the weighted
// sum of the pixel's three samples (0.299, 0.587, 0.114), so that the image keeps its colour space and only
// its colours go.
#pragma once

#include "filters/engine/CPravonFilterBase.h"
#include "platform/win/FourCC.h"

class CFltChannelMixer : public CPravonFilterBase {
public:
    static constexpr LONG kCode = FourCC("Mixr");
    // The weights of the samples, fixed at construction; the fourth weighs a fourth sample, which no
    // source the mixer takes has.
    static constexpr double kWeights[4] = {0.299, 0.587, 0.114, 0};
    // The mixer takes sources of this many channels.
    static constexpr LONG kChannels = 3;

    explicit CFltChannelMixer(IPravonManager* manager);
    ~CFltChannelMixer() override;

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "Channel Mixer"; }

    // The channel count of the colour spaces the mixer knows (grey 1, RGB, LCh, Lab and YCbCr 3, CMYK 4),
    // or PravonKind::kUnsupportedColorSpace.
    static IPravonError* GetChannelCount(LONG colorSpace, LONG* channels);

protected:
    // Every output sample is trunc(s0 w0 + s1 w1 + s2 w2) of its pixel, the sum taken exactly with the
    // weights as they stand in doubles (so white gives one step below white), and the largest sample value
    // where the sum would exceed it. A source of another channel count
    // than three gives PravonKind::kUnsupportedColorSpace.
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;
    bool WritesWholeInvalidArea() const override { return true; }
};
