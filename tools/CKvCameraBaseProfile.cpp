#include "CKvCameraBaseProfile.h"

#include "rawlib/pipeline/CCameraProfileGen.h"

#include <lcms2.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

constexpr int kGridPoints = 32;
constexpr int kInputEntries = 4096;
constexpr const char* kBaseDescription = "Korvel camera base profile";
constexpr const char* kBaseNotice = "Copyright Korvel. Base of camera profiles.";
// Their records fill exactly the 128 bytes the fixed profile has before its white point.
constexpr const char* kFixedDescription = "Korvel MA for KRX v1.0.0.3000";
constexpr const char* kFixedNotice = "Copyright Korvel. Fixed MA profile.";

struct ProfileCloser {
    void operator()(void* p) const { cmsCloseProfile(p); }
};
struct TransformCloser {
    void operator()(void* p) const { cmsDeleteTransform(p); }
};
struct PipelineFreer {
    void operator()(cmsPipeline* p) const { cmsPipelineFree(p); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

// Camera RGB to Lab, written in the version-2 encoding of a 16-bit table.
int SampleLab(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) {
    const double rgb[3] = {in[0] / 65535.0, in[1] / 65535.0, in[2] / 65535.0};
    cmsCIELab lab;
    cmsDoTransform(static_cast<cmsHTRANSFORM>(cargo), rgb, &lab, 1);
    const auto encode = [](double v) { return cmsUInt16Number(std::clamp(v, 0.0, 65535.0) + 0.5); };
    out[0] = encode(lab.L * 652.8);
    out[1] = encode((lab.a + 128.0) * 256.0);
    out[2] = encode((lab.b + 128.0) * 256.0);
    return 1;
}

// Identity curves of `entries` entries for each of three channels, as a stage.
cmsStage* IdentityCurves(int entries) {
    std::vector<cmsUInt16Number> table(entries);
    for (int i = 0; i < entries; ++i)
        table[i] = cmsUInt16Number((65535LL * i + (entries - 1) / 2) / (entries - 1));
    cmsToneCurve* curve = cmsBuildTabulatedToneCurve16(nullptr, cmsUInt32Number(entries), table.data());
    if (!curve)
        return nullptr;
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsStage* stage = cmsStageAllocToneCurves(nullptr, 3, curves);
    cmsFreeToneCurve(curve);
    return stage;
}

DWORD Big32(const BYTE* p) {
    return DWORD(p[0]) << 24 | DWORD(p[1]) << 16 | DWORD(p[2]) << 8 | p[3];
}

bool AddStages(cmsPipeline* pipeline, cmsStage* a, cmsStage* b, cmsStage* c) {
    bool ok = a && b && c;
    for (cmsStage* stage : {a, b, c}) {
        if (!stage)
            continue;
        if (ok)
            ok = cmsPipelineInsertStage(pipeline, cmsAT_END, stage);
        else
            cmsStageFree(stage);
    }
    return ok;
}

// The profile as lcms2 saves it, with the five tags in the generator's order.
std::vector<BYTE> LcmsProfile(std::string* problem) {
    Profile profile(cmsCreateProfilePlaceholder(nullptr));
    cmsCIExyY d65;
    cmsWhitePointFromTemp(&d65, 6504);
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.19921875);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    Profile adobe(cmsCreateRGBProfile(&d65, &primaries, curves));
    cmsFreeToneCurve(gamma);
    Profile lab(cmsCreateLab4Profile(nullptr));
    if (!profile || !adobe || !lab) {
        *problem = "lcms2 cannot create the profiles";
        return {};
    }
    std::unique_ptr<void, TransformCloser> toLab(
        cmsCreateTransform(adobe.get(), TYPE_RGB_DBL, lab.get(), TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC,
                           cmsFLAGS_NOOPTIMIZE | cmsFLAGS_NOCACHE));
    std::unique_ptr<cmsPipeline, PipelineFreer> a2b(cmsPipelineAlloc(nullptr, 3, 3));
    std::unique_ptr<cmsPipeline, PipelineFreer> b2a(cmsPipelineAlloc(nullptr, 3, 3));
    cmsStage* grid = cmsStageAllocCLut16bit(nullptr, kGridPoints, 3, 3, nullptr);
    if (!toLab || !a2b || !b2a || !grid || !cmsStageSampleCLut16bit(grid, SampleLab, toLab.get(), 0)) {
        if (grid)
            cmsStageFree(grid);
        *problem = "lcms2 cannot sample the grid";
        return {};
    }
    if (!AddStages(a2b.get(), IdentityCurves(kInputEntries), grid, IdentityCurves(2)) ||
        !AddStages(b2a.get(), IdentityCurves(2), cmsStageAllocCLut16bit(nullptr, 2, 3, 3, nullptr),
                   IdentityCurves(2))) {
        *problem = "lcms2 cannot build the tables";
        return {};
    }
    cmsSetProfileVersion(profile.get(), 2.1);
    cmsSetDeviceClass(profile.get(), cmsSigInputClass);
    cmsSetColorSpace(profile.get(), cmsSigRgbData);
    cmsSetPCS(profile.get(), cmsSigLabData);
    cmsSetHeaderRenderingIntent(profile.get(), INTENT_PERCEPTUAL);
    cmsMLU* text = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(text, "en", "US", "Korvel");
    const cmsCIEXYZ* white = cmsD50_XYZ();
    const bool written = text && cmsWriteTag(profile.get(), cmsSigProfileDescriptionTag, text) &&
                         cmsWriteTag(profile.get(), cmsSigCopyrightTag, text) &&
                         cmsWriteTag(profile.get(), cmsSigMediaWhitePointTag, white) &&
                         cmsWriteTag(profile.get(), cmsSigAToB0Tag, a2b.get()) &&
                         cmsWriteTag(profile.get(), cmsSigBToA0Tag, b2a.get());
    if (text)
        cmsMLUfree(text);
    cmsUInt32Number size = 0;
    if (!written || !cmsSaveProfileToMem(profile.get(), nullptr, &size)) {
        *problem = "lcms2 cannot save the profile";
        return {};
    }
    std::vector<BYTE> bytes(size);
    if (!cmsSaveProfileToMem(profile.get(), bytes.data(), &size)) {
        *problem = "lcms2 cannot save the profile";
        return {};
    }
    return bytes;
}

} // namespace

namespace CKvCameraBaseProfile {

std::vector<BYTE> Bytes(bool fixedProfile, std::string* problem) {
    const std::vector<BYTE> saved = LcmsProfile(problem);
    if (saved.size() < 132)
        return {};
    // The white point, A2B0 and B2A0 data as lcms2 wrote them, laid one after another on multiples of 4,
    // then zero bytes up to the tail's fixed length.
    std::vector<BYTE> tail(CCameraProfileGen::kTailSize, 0);
    DWORD sizes[3] = {};
    DWORD at = 0;
    static const char kTags[3][5] = {"wtpt", "A2B0", "B2A0"};
    const DWORD count = Big32(saved.data() + 128);
    for (int t = 0; t < 3; ++t) {
        bool found = false;
        for (DWORD i = 0; i < count && 132 + 12 * (i + 1) <= saved.size(); ++i) {
            const BYTE* entry = saved.data() + 132 + 12 * i;
            const DWORD offset = Big32(entry + 4), size = Big32(entry + 8);
            if (std::memcmp(entry, kTags[t], 4) != 0 || std::uint64_t(offset) + size > saved.size())
                continue;
            at = (at + 3) & ~3u;
            if (std::uint64_t(at) + size > tail.size()) {
                *problem = "the tables do not fit the tail";
                return {};
            }
            std::memcpy(tail.data() + at, saved.data() + offset, size);
            sizes[t] = size;
            at += size;
            found = true;
        }
        if (!found) {
            *problem = std::string("lcms2 wrote no ") + kTags[t];
            return {};
        }
    }
    // lcms2 stamps the time of saving; a fixed date keeps the files the same from build to build, so an
    // install finds them unchanged.
    BYTE header[128];
    std::memcpy(header, saved.data(), sizeof header);
    const BYTE created[12] = {0x07, 0xE8, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0}; // 2024-01-01 00:00:00
    std::memcpy(header + 24, created, sizeof created);
    std::vector<BYTE> bytes =
        CCameraProfileGen::Assemble(header, 5, fixedProfile ? kFixedDescription : kBaseDescription,
                                    fixedProfile ? kFixedNotice : kBaseNotice, tail.data(), sizes);
    std::string layout;
    if (!CCameraProfileGen::CheckBaseLayout(bytes, &layout) ||
        (fixedProfile && bytes.size() != CCameraProfileGen::kFixedProfileSize)) {
        *problem = "the profile's layout came out wrong: " + (layout.empty() ? std::string("size") : layout);
        return {};
    }
    return bytes;
}

} // namespace CKvCameraBaseProfile
