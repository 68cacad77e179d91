// How the LCh colour space encodes its three channels in 16 bits: L over 0..100, C over 0..kChromaTop and
// h over 0..360 degrees, each spread over 0..65535. Profiles of the space carry the signature 'Lch ' or,
// since the library builds no transform for 'Lch ', that of HLS.
#pragma once

#include <lcms2.h>

namespace ZovLch {

constexpr double kChromaTop = 181.02;
constexpr cmsUInt32Number kSignature = 0x4C636820; // 'Lch '

inline bool IsLch(cmsUInt32Number space) {
    return space == kSignature || space == static_cast<cmsUInt32Number>(cmsSigHlsData);
}

} // namespace ZovLch
