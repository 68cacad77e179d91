#include "CKLImageAttributes.h"

#include <new>

std::unique_ptr<ImageProperties> CKLImageAttributes::CreateProperties() {
    try {
        return std::make_unique<CKLImageProperties>(*this);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

CKLImageProperties::CKLImageProperties(CKLImageAttributes& attributes) : ImageProperties(attributes) {
    rawFlag = attributes.rawSource;
    embeddedProfile = attributes.embeddedProfilePath.empty() ? 0 : 1;
    embeddedProfilePath = attributes.embeddedProfilePath;
    lostHighlights = attributes.lostHighlights;
    lostShadows = attributes.lostShadows;
    bool substituted = false;
    if (attributes.whiteBalanceOverride) {
        whiteBalance = &attributes.rawWhiteBalance;
        whiteBalanceEnabled = 1;
        substituted = true;
    }
    if (attributes.exposureOverride) {
        exposure = &attributes.rawExposure;
        exposureEnabled = 1;
        substituted = true;
    }
    // The overrides take the same preparation as the stored states did.
    if (substituted)
        PrepareWhiteBalance();
}
