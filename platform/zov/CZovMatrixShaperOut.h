// Lab (D50) to the 16-bit samples of an RGB profile made of a colorant matrix and tone curves, pixel by
// pixel: Lab to XYZ, the inverse of the matrix, the tone curves inverted into fine tables. The library
// would either resample the whole conversion into a table, which bends where colours clip at the edge of
// the gamut, or evaluate its general pipeline for every pixel, several times slower than this.
#pragma once

#include "platform/win/wintypes.h"

#include <lcms2.h>

#include <array>
#include <cstddef>
#include <memory>
#include <vector>

class CZovMatrixShaperOut {
public:
    // Null when the profile is no RGB matrix-shaper profile of version 2 or its matrix has no inverse,
    // or for the absolute colorimetric intent, which this does not scale for.
    static std::unique_ptr<const CZovMatrixShaperOut> Make(cmsHPROFILE profile, cmsUInt32Number intent);

    void Convert(const cmsCIELab* lab, std::size_t count, USHORT* rgb) const;

private:
    CZovMatrixShaperOut() = default;

    // The fourth root of the linear value, [0, 1], in this many steps to the encoded value, 0..65535.
    static constexpr std::size_t kSteps = 65535;

    std::array<std::array<double, 3>, 3> m_inverse{};
    std::array<std::vector<double>, 3> m_curves;
};
