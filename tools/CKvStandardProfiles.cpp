#include "CKvStandardProfiles.h"

#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
// lcms2 builds no transform for a colour space it does not know, such as 'Lch '; its HLS signature (three
// channels) carries our LCh encoding instead, and the conversion filter reads either as LCh.
constexpr cmsColorSpaceSignature kLchSpace = cmsSigHlsData;
// Grid points of the sampled (LCh and CMYK) profiles.
constexpr cmsUInt32Number kLchGrid = 33;
constexpr cmsUInt32Number kCmykGrid = 17;
constexpr double kProfileVersion = 2.1;

struct ProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using ProfilePtr = std::unique_ptr<void, ProfileCloser>;
struct CurveFreer {
    void operator()(cmsToneCurve* curve) const { cmsFreeToneCurve(curve); }
};
using CurvePtr = std::unique_ptr<cmsToneCurve, CurveFreer>;

const cmsCIExyY kD65 = {0.3127, 0.3290, 1.0};
const cmsCIExyY kD50 = {0.3457, 0.3585, 1.0};
// Illuminant C, the white of the 1953 NTSC primaries.
const cmsCIExyY kIlluminantC = {0.3101, 0.3162, 1.0};

ProfilePtr MatrixProfile(const cmsCIExyY& white, const cmsCIExyYTRIPLE& primaries, cmsToneCurve* curve) {
    if (!curve)
        return nullptr;
    cmsToneCurve* curves[3] = {curve, curve, curve};
    return ProfilePtr(cmsCreateRGBProfile(&white, &primaries, curves));
}

// IEC 61966-2-1: a power of 2.4 with a linear part below 0.04045.
ProfilePtr Srgb() {
    const cmsFloat64Number parameters[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    CurvePtr curve(cmsBuildParametricToneCurve(nullptr, 4, parameters));
    return MatrixProfile(kD65, {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}}, curve.get());
}

// Adobe RGB (1998): gamma 563/256.
ProfilePtr Adobe() {
    CurvePtr curve(cmsBuildGamma(nullptr, 563.0 / 256.0));
    return MatrixProfile(kD65, {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}}, curve.get());
}

// The 1953 NTSC primaries under illuminant C, gamma 2.2.
ProfilePtr Ntsc() {
    CurvePtr curve(cmsBuildGamma(nullptr, 2.2));
    return MatrixProfile(kIlluminantC, {{0.67, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.14, 0.08, 1.0}},
                         curve.get());
}

ProfilePtr Grey() {
    CurvePtr curve(cmsBuildGamma(nullptr, 2.2));
    return curve ? ProfilePtr(cmsCreateGrayProfile(&kD50, curve.get())) : nullptr;
}

// The Lab side of a version 2 lookup table holds 16-bit Lab of that version: L 100 at 0xFF00, a and b
// offset by 128 in steps of 1/256; the samplers see those codes over 0..1.
constexpr double kV2LabScale = 65535.0;
void ToV2Lab(const cmsCIELab& lab, cmsFloat32Number out[3]) {
    out[0] = static_cast<cmsFloat32Number>(std::clamp(lab.L * 652.8 / kV2LabScale, 0.0, 1.0));
    out[1] = static_cast<cmsFloat32Number>(std::clamp((lab.a + 128.0) * 256.0 / kV2LabScale, 0.0, 1.0));
    out[2] = static_cast<cmsFloat32Number>(std::clamp((lab.b + 128.0) * 256.0 / kV2LabScale, 0.0, 1.0));
}
cmsCIELab FromV2Lab(const cmsFloat32Number in[3]) {
    return {in[0] * kV2LabScale / 652.8, in[1] * kV2LabScale / 256.0 - 128.0,
            in[2] * kV2LabScale / 256.0 - 128.0};
}

// LCh in 16-bit encoding <-> Lab: CLUT samplers over the three channels.
int LchToLab(const cmsFloat32Number in[], cmsFloat32Number out[], void*) {
    cmsCIELab lab;
    const cmsCIELCh lch = {in[0] * 100.0, in[1] * CKvStandardProfiles::kLchChromaTop, in[2] * 360.0};
    cmsLCh2Lab(&lab, &lch);
    ToV2Lab(lab, out);
    return 1;
}

// Lab to LCh needs care where the hue jumps (b crossing 0 with a > 0) and where it is undefined (a and b
// near 0): the a and b inputs pass through curves that put half the grid on each side of 0, with the nodes
// crowded near 0 (the square root of the distance), and a step at 0, so that no grid cell straddles the
// hue's jump. The grid then samples each side from just off the axis.
constexpr cmsUInt32Number kLabToLchGrid = 34;
constexpr double kHalfNodes = (kLabToLchGrid - 2) / 2.0; // intervals on each side
constexpr double kLabTop = 128.0;

// The grid coordinate (0..1) of an a or b value.
double SideCoordinate(double v) {
    const double last = kLabToLchGrid - 1.0;
    const double reach = std::sqrt(std::min(std::fabs(v), kLabTop) / kLabTop) * kHalfNodes;
    return v < 0 ? (kHalfNodes - reach) / last : (kHalfNodes + 1.0 + reach) / last;
}

// The a or b value of a grid coordinate, just below 0 on the lower side's last node.
double SideValue(double t) {
    const double last = kLabToLchGrid - 1.0, node = t * last;
    if (node <= kHalfNodes + 0.5) {
        const double u = (kHalfNodes - node) / kHalfNodes;
        return -std::max(u * u * kLabTop, 1e-6);
    }
    const double u = (node - kHalfNodes - 1.0) / kHalfNodes;
    return u * u * kLabTop;
}

int LabToLch(const cmsFloat32Number in[], cmsFloat32Number out[], void*) {
    const cmsCIELab lab = {in[0] * kV2LabScale / 652.8, SideValue(in[1]), SideValue(in[2])};
    cmsCIELCh lch;
    cmsLab2LCh(&lch, &lab);
    out[0] = static_cast<cmsFloat32Number>(lch.L / 100.0);
    out[1] = static_cast<cmsFloat32Number>(std::min(lch.C / CKvStandardProfiles::kLchChromaTop, 1.0));
    out[2] = static_cast<cmsFloat32Number>(std::fmod(lch.h, 360.0) / 360.0);
    return 1;
}

// The input curves of the Lab to LCh table: L as it is, a and b to their grid coordinates.
cmsStage* LabInputCurves() {
    constexpr int kEntries = 4096;
    std::vector<cmsUInt16Number> identity(kEntries), side(kEntries);
    for (int i = 0; i < kEntries; ++i) {
        const double code = i * 65535.0 / (kEntries - 1);
        identity[static_cast<std::size_t>(i)] = static_cast<cmsUInt16Number>(std::lround(code));
        const double v = code / 256.0 - 128.0;
        side[static_cast<std::size_t>(i)] =
            static_cast<cmsUInt16Number>(std::lround(SideCoordinate(v) * 65535.0));
    }
    cmsToneCurve* curves[3] = {cmsBuildTabulatedToneCurve16(nullptr, kEntries, identity.data()),
                               cmsBuildTabulatedToneCurve16(nullptr, kEntries, side.data()),
                               cmsBuildTabulatedToneCurve16(nullptr, kEntries, side.data())};
    cmsStage* stage =
        curves[0] && curves[1] && curves[2] ? cmsStageAllocToneCurves(nullptr, 3, curves) : nullptr;
    for (cmsToneCurve* curve : curves)
        if (curve)
            cmsFreeToneCurve(curve);
    return stage;
}

// Version 2 lookup tables hold 16-bit grids: the float samplers above run through this adaptor.
struct Sampler {
    cmsSAMPLERFLOAT sample;
    void* cargo;
    cmsUInt32Number inputs, outputs;
};

int Sample16(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) {
    const auto* s = static_cast<const Sampler*>(cargo);
    cmsFloat32Number fin[cmsMAXCHANNELS], fout[cmsMAXCHANNELS];
    for (cmsUInt32Number c = 0; c < s->inputs; ++c)
        fin[c] = static_cast<cmsFloat32Number>(in[c] / 65535.0);
    s->sample(fin, fout, s->cargo);
    for (cmsUInt32Number c = 0; c < s->outputs; ++c)
        out[c] = static_cast<cmsUInt16Number>(std::lround(std::clamp<double>(fout[c], 0.0, 1.0) * 65535.0));
    return 1;
}

// A table of the sampler's values on the grid, after the input curves when there are some (taken over).
bool AddSampledTag(cmsHPROFILE profile, cmsTagSignature tag, cmsUInt32Number grid, cmsUInt32Number inputs,
                   cmsUInt32Number outputs, cmsSAMPLERFLOAT sampler, void* cargo,
                   cmsStage* inputCurves = nullptr) {
    Sampler adaptor{sampler, cargo, inputs, outputs};
    cmsPipeline* pipeline = cmsPipelineAlloc(nullptr, inputs, outputs);
    bool ok = pipeline != nullptr;
    if (inputCurves) {
        ok = ok && cmsPipelineInsertStage(pipeline, cmsAT_END, inputCurves);
        if (!ok)
            cmsStageFree(inputCurves);
    }
    cmsStage* clut = ok ? cmsStageAllocCLut16bit(nullptr, grid, inputs, outputs, nullptr) : nullptr;
    ok = clut && cmsStageSampleCLut16bit(clut, Sample16, &adaptor, 0) &&
         cmsPipelineInsertStage(pipeline, cmsAT_END, clut);
    if (!ok && clut)
        cmsStageFree(clut);
    ok = ok && cmsWriteTag(profile, tag, pipeline);
    if (pipeline)
        cmsPipelineFree(pipeline);
    return ok;
}

ProfilePtr Placeholder(cmsProfileClassSignature deviceClass, cmsColorSpaceSignature space) {
    ProfilePtr profile(cmsCreateProfilePlaceholder(nullptr));
    if (!profile)
        return nullptr;
    cmsSetDeviceClass(profile.get(), deviceClass);
    cmsSetColorSpace(profile.get(), space);
    cmsSetPCS(profile.get(), cmsSigLabData);
    cmsWriteTag(profile.get(), cmsSigMediaWhitePointTag, cmsD50_XYZ());
    return profile;
}

ProfilePtr Lch() {
    ProfilePtr profile = Placeholder(cmsSigColorSpaceClass, kLchSpace);
    if (!profile || !AddSampledTag(profile.get(), cmsSigAToB0Tag, kLchGrid, 3, 3, LchToLab, nullptr) ||
        !AddSampledTag(profile.get(), cmsSigBToA0Tag, kLabToLchGrid, 3, 3, LabToLch, nullptr,
                       LabInputCurves()))
        return nullptr;
    return profile;
}

// A plain print space: CMY as the complements of sRGB, the grey part taken out as black.
struct SrgbLab {
    cmsHTRANSFORM toLab = nullptr;
    cmsHTRANSFORM fromLab = nullptr;
    ~SrgbLab() {
        if (toLab)
            cmsDeleteTransform(toLab);
        if (fromLab)
            cmsDeleteTransform(fromLab);
    }
};

int CmykToLab(const cmsFloat32Number in[], cmsFloat32Number out[], void* cargo) {
    const auto* t = static_cast<const SrgbLab*>(cargo);
    const double k = in[3];
    const double rgb[3] = {(1.0 - in[0]) * (1.0 - k), (1.0 - in[1]) * (1.0 - k), (1.0 - in[2]) * (1.0 - k)};
    cmsCIELab lab;
    cmsDoTransform(t->toLab, rgb, &lab, 1);
    ToV2Lab(lab, out);
    return 1;
}

int LabToCmyk(const cmsFloat32Number in[], cmsFloat32Number out[], void* cargo) {
    const auto* t = static_cast<const SrgbLab*>(cargo);
    const cmsCIELab lab = FromV2Lab(in);
    double rgb[3];
    cmsDoTransform(t->fromLab, &lab, rgb, 1);
    double cmy[3];
    for (int c = 0; c < 3; ++c)
        cmy[c] = 1.0 - std::clamp(rgb[c], 0.0, 1.0);
    const double k = std::min({cmy[0], cmy[1], cmy[2]});
    for (int c = 0; c < 3; ++c)
        out[c] = static_cast<cmsFloat32Number>(k < 1.0 ? (cmy[c] - k) / (1.0 - k) : 0.0);
    out[3] = static_cast<cmsFloat32Number>(k);
    return 1;
}

ProfilePtr Cmyk() {
    ProfilePtr srgb = Srgb();
    ProfilePtr lab(cmsCreateLab4Profile(nullptr));
    if (!srgb || !lab)
        return nullptr;
    SrgbLab transforms;
    transforms.toLab = cmsCreateTransform(srgb.get(), TYPE_RGB_DBL, lab.get(), TYPE_Lab_DBL,
                                          INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE);
    transforms.fromLab = cmsCreateTransform(lab.get(), TYPE_Lab_DBL, srgb.get(), TYPE_RGB_DBL,
                                            INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE);
    ProfilePtr profile = Placeholder(cmsSigOutputClass, cmsSigCmykData);
    if (!transforms.toLab || !transforms.fromLab || !profile ||
        !AddSampledTag(profile.get(), cmsSigAToB0Tag, kCmykGrid, 4, 3, CmykToLab, &transforms) ||
        !AddSampledTag(profile.get(), cmsSigBToA0Tag, kCmykGrid, 3, 4, LabToCmyk, &transforms))
        return nullptr;
    return profile;
}

ProfilePtr Make(const std::string& name) {
    if (name == "KVsRGB.icm")
        return Srgb();
    if (name == "KVAdobe.icm")
        return Adobe();
    if (name == "KVNTSC.icm")
        return Ntsc();
    if (name == "KVGrayG22.icm")
        return Grey();
    if (name == "KVLab.icm")
        return ProfilePtr(cmsCreateLab2Profile(nullptr));
    if (name == "KVLch2.icm")
        return Lch();
    if (name == "KvCMYK.icm")
        return Cmyk();
    return nullptr;
}

bool SetText(cmsHPROFILE profile, cmsTagSignature tag, const char* text) {
    cmsMLU* mlu = cmsMLUalloc(nullptr, 1);
    const bool ok = mlu && cmsMLUsetASCII(mlu, "en", "US", text) && cmsWriteTag(profile, tag, mlu);
    if (mlu)
        cmsMLUfree(mlu);
    return ok;
}

} // namespace

const std::vector<CKvStandardProfiles::Profile>& CKvStandardProfiles::List() {
    static const std::vector<Profile> list = {
        {"KVsRGB.icm", "KORVEL sRGB 1.0"},        {"KVAdobe.icm", "KORVEL Adobe RGB (1998) 1.0"},
        {"KVNTSC.icm", "KORVEL NTSC (1953) 1.0"}, {"KVGrayG22.icm", "KORVEL Gamma 2.2 Gray 1.0"},
        {"KVLab.icm", "KORVEL Lab (D50) 1.0"},    {"KVLch2.icm", "KORVEL LCh (D50) 1.0"},
        {"KvCMYK.icm", "KORVEL CMYK 1.0"},
    };
    return list;
}

std::vector<unsigned char> CKvStandardProfiles::Bytes(const std::string& name) {
    const auto& list = List();
    const auto entry =
        std::find_if(list.begin(), list.end(), [&](const Profile& p) { return name == p.name; });
    if (entry == list.end())
        return {};
    ProfilePtr profile = Make(name);
    if (!profile)
        return {};
    cmsSetProfileVersion(profile.get(), kProfileVersion);
    if (!SetText(profile.get(), cmsSigProfileDescriptionTag, entry->description) ||
        !SetText(profile.get(), cmsSigCopyrightTag, "No copyright, use freely"))
        return {};
    cmsUInt32Number size = 0;
    if (!cmsSaveProfileToMem(profile.get(), nullptr, &size) || size == 0)
        return {};
    std::vector<unsigned char> bytes(size);
    if (!cmsSaveProfileToMem(profile.get(), bytes.data(), &size))
        return {};
    bytes.resize(size);
    return bytes;
}
