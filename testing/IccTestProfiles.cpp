#include "IccTestProfiles.h"

#include <lcms2.h>

#include <stdexcept>

namespace kvtest {
namespace {

cmsHPROFILE MatrixProfile(const cmsCIExyY& white, const cmsCIExyYTRIPLE& primaries, double gamma) {
    cmsToneCurve* curve = cmsBuildGamma(nullptr, gamma);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    return profile;
}

cmsHPROFILE Make(IccTestProfile which) {
    const cmsCIExyY d50 = {0.3457, 0.3585, 1.0};
    const cmsCIExyY d65 = {0.3127, 0.3290, 1.0};
    switch (which) {
    case IccTestProfile::SRGB:
        return cmsCreate_sRGBProfile();
    case IccTestProfile::WideGamut:
        return MatrixProfile(d50, {{0.7347, 0.2653, 1.0}, {0.1152, 0.8264, 1.0}, {0.1566, 0.0177, 1.0}}, 2.2);
    case IccTestProfile::Gamma22:
        return MatrixProfile(d65, {{0.6400, 0.3300, 1.0}, {0.3000, 0.6000, 1.0}, {0.1500, 0.0600, 1.0}}, 2.2);
    case IccTestProfile::Grey: {
        cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
        cmsHPROFILE profile = cmsCreateGrayProfile(&d50, curve);
        cmsFreeToneCurve(curve);
        return profile;
    }
    case IccTestProfile::Lab:
        return cmsCreateLab4Profile(nullptr);
    }
    return nullptr;
}

} // namespace

std::string WriteIccTestProfile(const TempFolder& folder, IccTestProfile which, const std::string& name) {
    cmsHPROFILE profile = Make(which);
    if (!profile)
        throw std::runtime_error("lcms2 made no profile for " + name);
    if (which == IccTestProfile::WideGamut || which == IccTestProfile::Gamma22 ||
        which == IccTestProfile::Grey)
        cmsSetProfileVersion(profile, 2.1);
    const std::string path = folder.File(name);
    const bool saved = cmsSaveProfileToFile(profile, path.c_str());
    cmsCloseProfile(profile);
    if (!saved)
        throw std::runtime_error("lcms2 could not save " + path);
    return path;
}

std::vector<std::uint16_t> Lcms2ConvertRgb16(const std::string& from, const std::string& to,
                                             const std::uint16_t* pixels, std::size_t count) {
    cmsHPROFILE in = cmsOpenProfileFromFile(from.c_str(), "r");
    cmsHPROFILE out = cmsOpenProfileFromFile(to.c_str(), "r");
    cmsHTRANSFORM t =
        in && out ? cmsCreateTransform(in, TYPE_RGB_16, out, TYPE_RGB_16, INTENT_PERCEPTUAL, 0) : nullptr;
    std::vector<std::uint16_t> converted;
    if (t) {
        converted.resize(3 * count);
        cmsDoTransform(t, pixels, converted.data(), static_cast<cmsUInt32Number>(count));
        cmsDeleteTransform(t);
    }
    for (cmsHPROFILE profile : {in, out})
        if (profile)
            cmsCloseProfile(profile);
    return converted;
}

} // namespace kvtest
