// Profiles for colour-management tests, made with lcms2 and saved into a test's folder: sRGB, a wide-gamut
// matrix/curve RGB profile, a grey profile and a Lab profile. Matrix/curve profiles are written in the
// version 2 form, so every curve is a single gamma value.
#pragma once

#include "TempFolder.h"

#include <string>

namespace kvtest {

enum class IccTestProfile {
    SRGB,      // lcms2's sRGB
    WideGamut, // wide-gamut primaries, D50 white, gamma 2.2
    Gamma22,   // sRGB primaries, D65 white, gamma 2.2
    Grey,      // D50 white, gamma 2.2
    Lab,       // Lab identity, D50
};

// Writes the profile as name in the folder and returns its path; throws when lcms2 cannot save it.
std::string WriteIccTestProfile(const TempFolder& folder, IccTestProfile which, const std::string& name);

} // namespace kvtest
