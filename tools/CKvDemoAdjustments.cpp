#include "CKvDemoAdjustments.h"

#include "filters/CPravonFilterCML.h"
#include "platform/pravon/PravonGraph.h"
#include "platform/win/FourCC.h"
#include "platform/win/WinFiles.h"
#include "rawlib/filters/detail/CFltColorNoise.h"
#include "rawlib/filters/detail/CFltFineEdge.h"
#include "rawlib/filters/detail/CFltMoire.h"
#include "rawlib/filters/detail/CFltVignette.h"

#include <lcms2.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

constexpr LONG kComponent = FourCC("demo");

// The picture's tags the vignette set-up reads, as the development pipeline reads them.
constexpr ULONG kSensorDiagonalTag = 0x8000A;
constexpr ULONG kLensFlagsTag = 0x80083;
constexpr ULONG kLensDataTag = 0x80098;
constexpr ULONG kFNumberTag = 0x829D;
constexpr ULONG kLensDataSize = 31;
constexpr double kDefaultFNumber = 5.65685;
// Camera model 259 records pixels this many times as wide as high.
constexpr WORD kWidePixelModel = 259;
constexpr double kWidePixelAspect = 1.9939024390243902;

} // namespace

IPravonError* SetUpVignette(CFltVignette& vignette, SHORT amount, IPravonTagControl* tags, WORD cameraModel) {
    double diagonal = 0;
    IPravonError* err = nullptr;
    if (PravonErrorPtr(tags->ReadTag(kSensorDiagonalTag, 4, sizeof diagonal, &diagonal)))
        err = vignette.ResetSensorSize(true);
    else
        err = vignette.SetMagnitude(diagonal, true);
    if (err)
        return err;

    double fNumber = kDefaultFNumber;
    BYTE flags[8] = {};
    BYTE data[kLensDataSize] = {};
    bool haveLens = false;
    CVignetteLensModel::Descriptor descriptor{};
    if (!PravonErrorPtr(tags->ReadTag(kLensFlagsTag, 0x105, sizeof flags, flags)) && flags[2] != 0 &&
        !PravonErrorPtr(tags->ReadTag(kLensDataTag, 0x108, sizeof data, data))) {
        double recorded = 0;
        if (!PravonErrorPtr(tags->ReadTag(kFNumberTag, 4, sizeof recorded, &recorded)))
            fNumber = recorded;
        if (std::memcmp(data, "0100", 4) == 0) {
            std::memcpy(descriptor.data(), data + 13, 6);
            haveLens = true;
        } else if (std::memcmp(data, "0101", 4) == 0) {
            descriptor = {data[4], data[5], data[19], data[20], data[21], data[22]};
            haveLens = true;
        } else {
            // A lens record of a version not known: no lens, and the widest aperture.
            fNumber = 1.0;
        }
    }
    if (PravonErrorPtr(vignette.SetLensId(haveLens ? descriptor.data() : nullptr, true)))
        fNumber = 1.0;
    if (IPravonError* e = vignette.SetFNumber(fNumber, true))
        return e;
    if (IPravonError* e = vignette.SetAmount(amount * 0.01, true))
        return e;
    return vignette.SetExtra(cameraModel == kWidePixelModel ? kWidePixelAspect : 1.0, true);
}

double CKvDemoAdjustments::NoiseStrength(LONG level) {
    static constexpr double kStrengths[11] = {0.0, 0.2, 0.3, 0.4, 0.5, 0.63, 0.7, 0.8, 0.9, 0.95, 1.0};
    return level >= 0 && level <= 10 ? kStrengths[level] : 0.0;
}

LONG CKvDemoAdjustments::MoireFilterLevel(LONG level) {
    static constexpr LONG kLevels[4] = {0, 15, 25, 75};
    return level >= 0 && level <= 3 ? kLevels[level] : 0;
}

CKvDemoAdjustments::CKvDemoAdjustments(IPravonManager* manager) : m_manager(manager) {}

CKvDemoAdjustments::~CKvDemoAdjustments() {
    while (!m_stages.empty())
        m_stages.pop_back();
    m_engines.clear();
    if (!m_profileFolder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_profileFolder, ignored);
    }
}

IPravonError* CKvDemoAdjustments::Append(CPravonFilterBase* stage, IPravonDataSource** last) {
    m_stages.emplace_back(stage);
    if (IPravonError* e = PravonConnect(*last, stage))
        return e;
    *last = stage;
    return nullptr;
}

// The camera side: the demosaicing's primaries are taken as sRGB's, under a square-root tone curve.
IPravonError* CKvDemoAdjustments::WriteProfiles() {
    if (!m_profileFolder.empty())
        return nullptr;
    char root[4096];
    const DWORD length = GetTempPathA(sizeof root, root);
    if (length == 0 || length >= sizeof root)
        return PravonFail(kComponent, PravonKind::kInvalidState, "no temporary folder for the Lab profiles");
    std::string pattern = std::string(root) + "demo-profiles-XXXXXX";
    if (!mkdtemp(pattern.data()))
        return PravonFail(kComponent, PravonKind::kInvalidState, "cannot make a folder for the Lab profiles");
    m_profileFolder = pattern;
    m_cameraProfile = m_profileFolder + "/camera.icc";
    m_labProfile = m_profileFolder + "/lab.icc";
    const cmsCIExyY d65 = {0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* square = cmsBuildGamma(nullptr, 2.0);
    cmsToneCurve* curves[3] = {square, square, square};
    cmsHPROFILE camera = square ? cmsCreateRGBProfile(&d65, &primaries, curves) : nullptr;
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    const bool written = camera && lab && cmsSaveProfileToFile(camera, m_cameraProfile.c_str()) &&
                         cmsSaveProfileToFile(lab, m_labProfile.c_str());
    if (camera)
        cmsCloseProfile(camera);
    if (lab)
        cmsCloseProfile(lab);
    if (square)
        cmsFreeToneCurve(square);
    return written ? nullptr
                   : PravonFail(kComponent, PravonKind::kInvalidState, "cannot write the Lab profiles");
}

IPravonError* CKvDemoAdjustments::AppendLab(bool toLab, IPravonDataSource** last) {
    if (IPravonError* e = WriteProfiles())
        return e;
    m_engines.push_back(std::make_unique<CPravonFilterCMLEngine>());
    CPravonFilterCMLEngine& engine = *m_engines.back();
    const PravonFile camera{m_cameraProfile};
    const PravonFile lab{m_labProfile};
    if (IPravonError* e = engine.SetProfiles(toLab ? camera : lab, toLab ? lab : camera))
        return e;
    auto* conversion = new CPravonFilterCML(m_manager);
    if (IPravonError* e = Append(conversion, last))
        return e;
    if (IPravonError* e = conversion->SetCMLEngine(&engine, false))
        return e;
    if (IPravonError* e = conversion->SetBitsPerComponent(false, 16, false))
        return e;
    return conversion->SetBitsPerComponent(true, 16, false);
}

IPravonError* CKvDemoAdjustments::Build(const Settings& settings, IPravonDataSource* input,
                                        IPravonTagControl* tags, WORD cameraModel,
                                        IPravonDataSource** output) {
    if (settings.noiseLevel < 0 || settings.noiseLevel > 10)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "the colour-noise level runs from 0 to 10");
    if (settings.moireLevel < 0 || settings.moireLevel > 3)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "the moire level runs from 0 to 3");
    IPravonDataSource* last = input;
    if (settings.vignetteAmount != 0) {
        auto* vignette = new CFltVignette(m_manager);
        if (IPravonError* e = Append(vignette, &last))
            return e;
        if (IPravonError* e = SetUpVignette(*vignette, settings.vignetteAmount, tags, cameraModel))
            return PravonContext(e, kComponent, "cannot set up the vignette correction");
    }
    if (settings.moireLevel != 0) {
        auto* moire = new CFltMoire(m_manager);
        if (IPravonError* e = Append(moire, &last))
            return e;
        if (IPravonError* e = moire->SetLevel(MoireFilterLevel(settings.moireLevel), false))
            return e;
    }
    if (settings.fineEdge)
        if (IPravonError* e = Append(new CFltFineEdge(m_manager), &last))
            return e;
    if (settings.noiseLevel != 0) {
        if (IPravonError* e = AppendLab(true, &last))
            return PravonContext(e, kComponent, "cannot convert to Lab for the noise reduction");
        auto* noise = new CFltColorNoise(m_manager);
        if (IPravonError* e = Append(noise, &last))
            return e;
        if (IPravonError* e = noise->SetStrength(NoiseStrength(settings.noiseLevel), false))
            return e;
        if (IPravonError* e = AppendLab(false, &last))
            return PravonContext(e, kComponent, "cannot convert back from Lab after the noise reduction");
    }
    *output = last;
    return nullptr;
}
