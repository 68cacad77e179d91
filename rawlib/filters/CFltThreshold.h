// Shows lost detail: every sample is pushed to black or white against a threshold, so that clipped
// highlights (threshold 255: only full white stays white) or clipped shadows (threshold 0: only full black
// stays black) stand out.
#pragma once

#include "filters/engine/CPravonFilterBase.h"
#include "platform/win/FourCC.h"

class CFltThreshold : public CPravonFilterBase {
public:
    static constexpr LONG kCode = FourCC("Thre");

    explicit CFltThreshold(IPravonManager* manager);
    ~CFltThreshold() override;

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "Show Lost Detail"; }

    // An effective change drops the output and, with notify, is announced over the whole image.
    IPravonError* SetThreshold(BYTE value, bool notify);
    BYTE GetThreshold() const { return m_threshold; }
    IPravonError* ShowLostHighlights(bool notify) { return SetThreshold(255, notify); }
    IPravonError* ShowLostShadows(bool notify) { return SetThreshold(0, notify); }

protected:
    // Grey, RGB and CMYK at 8 bits, grey and RGB at 16 bits, every sample alike: above the threshold it
    // becomes the largest value, below it 0, equal it stays. A 16-bit sample is compared with the 16-bit
    // value the threshold stands for (t x 257), so the full-scale ends keep their meaning. Other sources
    // give PravonKind::kUnsupportedColorSpace.
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;
    bool WritesWholeInvalidArea() const override { return true; }

private:
    BYTE m_threshold = 255;
};
