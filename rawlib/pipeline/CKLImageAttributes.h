// The development settings of the exported filter-chain object: the image attributes plus the raw-option
// copies of the white-balance and camera-settings states (each with its override byte) and the
// output-profile request. Its snapshot puts an active override in place of the stored state.
#pragma once

#include "rawlib/settings/CKvImageAttributes.h"
#include "rawlib/settings/ImageProperties.h"

#include <string>

class CKLImageAttributes : public CKvImageAttributes {
public:
    std::unique_ptr<ImageProperties> CreateProperties() override;

    BYTE whiteBalanceOverride = 0;
    CKvWBAdjustment rawWhiteBalance;
    BYTE exposureOverride = 0;
    CKvExposureAdjustment rawExposure;
    CKvSizeRes rawSizeRes;

    // The output-profile request handed to the chain with the output parameters.
    BYTE profileRequested = 0;
    BYTE customProfile = 0;
    std::string customProfilePath;
    LONG renderingIntent = 0; // 0..3
    BYTE depthDiffers = 0;
    LONG bitsPerChannel = 0;

    // The source is a camera mosaic; the picture's own profile saved to a file (empty: none).
    BYTE rawSource = 0;
    std::string embeddedProfilePath;
    // The lost-detail display the host asks for: clipped highlights, else clipped shadows.
    BYTE lostHighlights = 0;
    BYTE lostShadows = 0;
};

// The snapshot the chain develops from.
class CKLImageProperties : public ImageProperties {
public:
    explicit CKLImageProperties(CKLImageAttributes& attributes);
};
