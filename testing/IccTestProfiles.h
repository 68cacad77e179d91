// Profiles for colour-management tests, made with lcms2 and saved into a test's folder: sRGB, a wide-gamut
// matrix/curve RGB profile, a grey profile and a Lab profile. Matrix/curve profiles are written in the
// version 2 form, so every curve is a single gamma value.
#pragma once

#include "TempFolder.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

// lcms2's own conversion of `count` 16-bit RGB pixels from one profile file to another (perceptual, no
// flags), the reference a colour stage is checked against; empty when a profile cannot be opened.
std::vector<std::uint16_t> Lcms2ConvertRgb16(const std::string& from, const std::string& to,
                                             const std::uint16_t* pixels, std::size_t count);

} // namespace kvtest
