// The raw processor of the camera models whose mosaic the outside signal-processing library develops, as
// far as the settings use it: the size of its output image. The processor answers the size query of its
// own image through GetImageSize.
#pragma once

#include "platform/pravon/IPravonError.h"
#include "platform/win/FourCC.h"
#include "platform/win/wintypes.h"

class CProcessRawVendor1 {
public:
    static constexpr LONG kComponent = FourCC("Raw1");

    virtual ~CProcessRawVendor1() = default;

    // The width and height in pixels of the output image. A null output gives PravonKind::kBadArgument; a
    // failed size query of the image comes back wrapped. Both under the component "Raw1".
    IPravonError* GetSize(LONG* width, LONG* height);

protected:
    virtual IPravonError* GetImageSize(LONG* width, LONG* height) = 0;
};
