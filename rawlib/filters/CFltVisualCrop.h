// Shows a crop rectangle on the image: pixels inside pass unchanged, pixels outside are dimmed to a grey
// quarter of their value. A rectangle that is all zero, or the whole source, crops nothing.
#pragma once

#include "filters/engine/CPravonFilterBase.h"
#include "platform/win/FourCC.h"

class CFltVisualCrop : public CPravonFilterBase {
public:
    static constexpr LONG kCode = FourCC("VCrp");

    explicit CFltVisualCrop(IPravonManager* manager);
    ~CFltVisualCrop() override;

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "VisualCrop"; }

    // Stores the rectangle (source coordinates); with a source an all-zero rectangle is stored as the whole
    // source, and the filter passes its source through while the rectangle is the whole source (without a
    // source, while it is all zero). With notify on an enabled filter, the bounding box of the old and the
    // new rectangle is announced as changed.
    IPravonError* SetCropRect(const PravonRect& rect, bool notify);
    const PravonRect& GetCropRect() const { return m_crop; }

protected:
    // 8- or 16-bit RGB. Inside are the pixels with top < y < bottom and, for 8-bit samples, left < x <
    // right, for 16-bit samples left <= x <= right, as the display has always drawn the frame. A dimmed
    // sample s becomes 64 + s / 4 (0x4000 + s / 4 at 16 bits). Other sources are refused with "Bad source
    // data color space".
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;
    bool WritesWholeInvalidArea() const override { return true; }

private:
    CPravonRect m_crop;
};
