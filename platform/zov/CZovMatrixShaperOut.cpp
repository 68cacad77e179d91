#include "CZovMatrixShaperOut.h"

#include <algorithm>
#include <cmath>

namespace {

// Profiles of version 4 scale the black of the perceptual intent; version 2 ones convert as they are.
constexpr cmsUInt32Number kVersion4 = 0x4000000;
// The 16-bit codes of an encoded sample.
constexpr std::size_t kCodes = 65536;
// Colorants this close to lying in one plane make no RGB space.
constexpr double kSmallestDeterminant = 1e-9;

} // namespace

std::unique_ptr<const CZovMatrixShaperOut> CZovMatrixShaperOut::Make(cmsHPROFILE profile,
                                                                    cmsUInt32Number intent) {
    if (!profile || intent == INTENT_ABSOLUTE_COLORIMETRIC || cmsGetColorSpace(profile) != cmsSigRgbData ||
        cmsGetEncodedICCversion(profile) >= kVersion4 || !cmsIsMatrixShaper(profile) ||
        cmsIsCLUT(profile, intent, LCMS_USED_AS_OUTPUT))
        return nullptr;
    const cmsTagSignature colorants[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
    const cmsTagSignature curves[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
    double m[3][3];
    for (int c = 0; c < 3; ++c) {
        const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, colorants[c]));
        if (!xyz)
            return nullptr;
        m[0][c] = xyz->X;
        m[1][c] = xyz->Y;
        m[2][c] = xyz->Z;
    }
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    if (!std::isfinite(det) || std::fabs(det) < kSmallestDeterminant)
        return nullptr;
    std::unique_ptr<CZovMatrixShaperOut> made(new CZovMatrixShaperOut());
    // The adjugate over the determinant.
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
            made->m_inverse[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] =
                (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
        }
    // Each curve is inverted from its values at every 16-bit code, between which the library interpolates
    // it, so that the inverse is exact wherever the curve rises.
    std::vector<double> forward(kCodes);
    for (int c = 0; c < 3; ++c) {
        const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile, curves[c]));
        if (!curve || !cmsIsToneCurveMonotonic(curve))
            return nullptr;
        for (std::size_t k = 0; k < kCodes; ++k)
            forward[k] = cmsEvalToneCurveFloat(curve, static_cast<cmsFloat32Number>(double(k) / (kCodes - 1)));
        std::vector<double>& table = made->m_curves[static_cast<std::size_t>(c)];
        table.resize(kSteps + 1);
        // Laid out over the fourth root of the linear value: curves such as a plain gamma rise steeply from
        // black, and equal steps of the root follow them there.
        for (std::size_t i = 0; i <= kSteps; ++i) {
            const double root = double(i) / kSteps;
            const double linear = root * root * root * root;
            const auto above = std::upper_bound(forward.begin(), forward.end(), linear);
            if (above == forward.begin()) {
                table[i] = 0;
            } else if (above == forward.end()) {
                table[i] = kCodes - 1;
            } else {
                const std::size_t k = static_cast<std::size_t>(above - forward.begin()) - 1;
                const double rise = forward[k + 1] - forward[k];
                table[i] = double(k) + (rise > 0 ? (linear - forward[k]) / rise : 0.0);
            }
        }
    }
    return made;
}

void CZovMatrixShaperOut::Convert(const cmsCIELab* lab, std::size_t count, USHORT* rgb) const {
    for (std::size_t i = 0; i < count; ++i, rgb += 3) {
        cmsCIEXYZ xyz;
        cmsLab2XYZ(nullptr, &xyz, &lab[i]);
        const double pcs[3] = {xyz.X, xyz.Y, xyz.Z};
        for (int c = 0; c < 3; ++c) {
            const auto& row = m_inverse[static_cast<std::size_t>(c)];
            const double linear = std::clamp(row[0] * pcs[0] + row[1] * pcs[1] + row[2] * pcs[2], 0.0, 1.0);
            const double at = std::sqrt(std::sqrt(linear)) * kSteps;
            const std::size_t below = std::min(static_cast<std::size_t>(at), kSteps - 1);
            const std::vector<double>& table = m_curves[static_cast<std::size_t>(c)];
            const double value = table[below] + (table[below + 1] - table[below]) * (at - double(below));
            rgb[c] = static_cast<USHORT>(std::lround(value));
        }
    }
}
