#include "CKvTolmoFilterChain.h"

#include "CKvTolmoScaleSplit.h"
#include "CKvTolmoUpdateSteps.h"
#include "KvFileColorProfile.h"
#include "KvOrientation.h"
#include "KvToneTable8.h"

#include "filters/CBGRizeFilter.h"
#include "filters/CCropFilter.h"
#include "filters/CPravonFilterCML.h"
#include "filters/CPravonFilterColorSpace.h"
#include "filters/CPravonFilterGrid.h"
#include "filters/CPravonFilterHistogram.h"
#include "filters/CPravonFilterLut.h"
#include "filters/CPravonFilterScale.h"
#include "filters/CPravonFilterTransform.h"
#include "filters/CUnsharpMaskFilter.h"
#include "platform/pravon/PravonGraph.h"
#include "rawlib/filters/CDeBayerBase.h"
#include "rawlib/filters/CDeBayerSingleFilter.h"
#include "rawlib/filters/CDeBayerSingleHQ4Filter.h"
#include "rawlib/filters/CFisheyeFilter.h"
#include "rawlib/filters/CFltAutoBrightness.h"
#include "rawlib/filters/CFltChannelMixer.h"
#include "rawlib/filters/CFltChromaBooster.h"
#include "rawlib/filters/CFltFnRedeye.h"
#include "rawlib/filters/CFltLch.h"
#include "rawlib/filters/CFltSatComp.h"
#include "rawlib/filters/CFltThreshold.h"
#include "rawlib/filters/detail/CFltColorNoise.h"
#include "rawlib/filters/detail/CFltFineEdge.h"
#include "rawlib/filters/detail/CFltMoire.h"
#include "rawlib/filters/detail/CFltVignette.h"
#include "rawlib/filters/dust/CFltDust.h"
#include "rawlib/filters/dust/KvDustTuning.h"
#include "rawlib/filters/revelation/CFltRevelation.h"
#include "rawlib/settings/CKvFisheye.h"
#include "rawlib/settings/CKvNoiseReduction.h"
#include "rawlib/settings/CKvSizeRes.h"
#include "rawlib/settings/ImageProperties.h"
#include "rawlib/settings/KvColorTemperature.h"
#include "rawlib/settings/KvToneCurves.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <mutex>
#include <new>
#include <vector>

namespace {

// The values the update's steps share.
using namespace KvTolmoUpdate;

// Guards the colour engines that the chains of the process share, with the cache they come from.
std::recursive_mutex g_colourEngines;

constexpr LONG kTwelveBits = 12;
constexpr LONG kSixteenBits = 16;
constexpr LONG kTableEntries = 4096;
// The aspect scale stage's method is fixed, whatever the object's scaling method.
constexpr LONG kFixedScaleMethod = 2;
// The scale stages, in the order the output scale is split over them.
constexpr CKvTolmoFilterChain::Stage kScaleStages[] = {
    CKvTolmoFilterChain::kFirstScaleStage, CKvTolmoFilterChain::kSecondScaleStage,
    CKvTolmoFilterChain::kEnlargeScaleStage, CKvTolmoFilterChain::kEnlargeToSizeScaleStage,
    CKvTolmoFilterChain::kAspectScaleStage};
constexpr LONG kMosaicMargin = 12;
// The sensor's colour filter pattern, as the picture's tags give it.
constexpr ULONG kCfaPatternTag = 0xA302;
// The output scale at which camera 259's pictures are shown at their own size.
constexpr double kModel259Reduction = 0.7492354740061162;

// Fixed table A: the 12-bit value widened to 16 bits by repeating its top four bits, looked up in the
// demosaicing filters' square table. Fixed table B: their square-root table, quartered.
const std::vector<WORD>& FixedTableA() {
    static const std::vector<WORD> table = [] {
        const WORD* square = GetSquareTable();
        std::vector<WORD> t(kTableEntries);
        for (int i = 0; i < kTableEntries; ++i)
            t[static_cast<std::size_t>(i)] = square[(i << 4) | (i >> 8)];
        return t;
    }();
    return table;
}

const std::vector<WORD>& FixedTableB() {
    static const std::vector<WORD> table = [] {
        const LONG* root = GetSqrtTable();
        std::vector<WORD> t(kTableEntries);
        for (int i = 0; i < kTableEntries; ++i)
            t[static_cast<std::size_t>(i)] = static_cast<WORD>(root[i] / 4);
        return t;
    }();
    return table;
}

IPravonError* SetThreeTables(CPravonFilterBase* stage, const WORD* table, LONG inputBits, LONG outputBits) {
    const WORD* tables[3] = {table, table, table};
    return static_cast<CPravonFilterLut*>(stage)->SetLUT(tables, inputBits, outputBits, 3, true);
}

} // namespace

const std::array<CKvTolmoFilterChain::OrderRow, CKvTolmoFilterChain::kMadeStageCount>&
CKvTolmoFilterChain::ProcessingRows() {
    static constexpr std::array<OrderRow, kMadeStageCount> rows = {{
        {kStandardDemosaicStage, "the mosaic becomes RGB first (one of the two demosaicings is on)"},
        {kQualityDemosaicStage, "the development mode's other demosaicing"},
        {kLineariseStage, "12-bit samples to 16-bit linear light"},
        {kDustStage, "dust is mended on the whole sensor's linear samples, before any geometry changes"},
        {kVignetteStage, "lens fall-off is corrected at the sensor's geometry"},
        {kSquareRootStage, "to square-root samples for the stages up to the first reduction"},
        {kMoireStage, "works at full size only, so before the first reduction"},
        {kRevelationStage, "its passes read the whole picture before it is reduced"},
        {kRedEyeStage, "mends red eyes before the first reduction"},
        {kFirstScaleStage, "the first reduction: everything after it works on fewer pixels"},
        {kRelineariseStage, "back to linear light for the gains"},
        {kLinearHistogramStage, "the linear samples' histogram"},
        {kGainsStage, "white balance and exposure work on linear light, then the tone curve"},
        {kFisheyeStage, "remaps the picture before it is cropped"},
        {kCropStage, "the size settings' crop, in the coordinates after the first reduction"},
        {kFineEdgeStage, "works on RGB samples before the colour conversions"},
        {kLabConversionStage, "to Lab for the colour-noise reduction"},
        {kColorNoiseStage, "works on Lab samples"},
        {kLchConversionStage, "to LCh for the adjustments up to the output conversion"},
        {kCameraToneStage, "the camera's hue and saturation on LCh samples"},
        {kSaturationCompensationStage, "works on LCh samples"},
        {kLchHistogramStage, "the LCh samples' histogram"},
        {kChromaBoosterStage, "edits LCh samples"},
        {kLchEditorStage, "edits LCh samples"},
        {kCameraSharpeningStage, "sharpens LCh samples"},
        {kGeneralSharpeningStage, "sharpens LCh samples; the sharpening list's stages follow it"},
        {kOutputConversionStage, "to the output profile; the stages after it see output samples"},
        {kSecondCurvesStage, "the second curve group runs before the first, which reads through it"},
        {kOutputHistogramStage, "the output samples' histogram, which auto brightness reads"},
        {kSecondScaleStage, "the second reduction, towards the output size"},
        {kFirstCurvesStage, "the first curve group on output samples"},
        {kAutoBrightnessStage, "levels the output from the output samples' histogram"},
        {kChannelMixerStage, "mixes the output samples' channels"},
        {kToneTable8Stage, "the mixer's fixed 8-bit tone table, after it"},
        {kLostDetailStage, "shows lost highlights or shadows in the output's own values"},
        {kCustomConversionStage, "to the custom profile, from the output profile when that conversion is on"},
        {kOutputDepthStage, "the output depth while no conversion is on"},
        {kAspectScaleStage, "stretches camera 259's tall pixels back to square"},
        {kTransformStage, "flip and rotation of the finished picture"},
        {kEnlargeScaleStage, "enlargement, after the turn"},
        {kEnlargeToSizeScaleStage, "enlargement to the requested size; the plug-in stages go just before it"},
        {kGridStage, "an overlay on the finished picture"},
        {kNativeOrderStage, "the platform's pixel order, last"},
    }};
    return rows;
}

const std::array<CKvTolmoFilterChain::Stage, CKvTolmoFilterChain::kMadeStageCount>&
CKvTolmoFilterChain::ProcessingOrder() {
    static const std::array<Stage, kMadeStageCount> order = [] {
        std::array<Stage, kMadeStageCount> stages{};
        for (std::size_t i = 0; i < stages.size(); ++i)
            stages[i] = ProcessingRows()[i].stage;
        return stages;
    }();
    return order;
}

const std::array<CKvTolmoFilterChain::Stage, CKvTolmoFilterChain::kMadeStageCount>&
CKvTolmoFilterChain::CreationOrder() {
    static constexpr std::array<Stage, kMadeStageCount> order = {kStandardDemosaicStage,
                                                                 kLineariseStage,
                                                                 kTransformStage,
                                                                 kLabConversionStage,
                                                                 kFisheyeStage,
                                                                 kLchEditorStage,
                                                                 kChromaBoosterStage,
                                                                 kFirstScaleStage,
                                                                 kAspectScaleStage,
                                                                 kNativeOrderStage,
                                                                 kQualityDemosaicStage,
                                                                 kRelineariseStage,
                                                                 kSquareRootStage,
                                                                 kGainsStage,
                                                                 kLchConversionStage,
                                                                 kOutputConversionStage,
                                                                 kCustomConversionStage,
                                                                 kOutputHistogramStage,
                                                                 kLinearHistogramStage,
                                                                 kLchHistogramStage,
                                                                 kCameraSharpeningStage,
                                                                 kGeneralSharpeningStage,
                                                                 kGridStage,
                                                                 kColorNoiseStage,
                                                                 kFineEdgeStage,
                                                                 kSaturationCompensationStage,
                                                                 kVignetteStage,
                                                                 kSecondCurvesStage,
                                                                 kFirstCurvesStage,
                                                                 kChannelMixerStage,
                                                                 kToneTable8Stage,
                                                                 kLostDetailStage,
                                                                 kDustStage,
                                                                 kRevelationStage,
                                                                 kCropStage,
                                                                 kRedEyeStage,
                                                                 kMoireStage,
                                                                 kCameraToneStage,
                                                                 kAutoBrightnessStage,
                                                                 kSecondScaleStage,
                                                                 kEnlargeScaleStage,
                                                                 kEnlargeToSizeScaleStage,
                                                                 kOutputDepthStage};
    return order;
}

CKvTolmoFilterChain::~CKvTolmoFilterChain() {
    // The stages and the holders let go of their colour engines while no other chain changes them.
    const std::lock_guard<std::recursive_mutex> engines(g_colourEngines);
    ReleaseAll();
    for (CPravonFilterCMLEngine::Holder& engine : m_engines)
        engine = nullptr;
    SetRawProcessor(nullptr);
}

void CKvTolmoFilterChain::ReleaseAll() {
    // The output chain first, so that it lets go of its links while every stage still stands; then the
    // stages downstream first.
    m_output.reset();
    const auto& order = ProcessingOrder();
    for (auto it = order.rbegin(); it != order.rend(); ++it)
        m_stages[static_cast<std::size_t>(*it)].reset();
    for (auto& stage : m_stages)
        stage.reset();
    m_built = false;
}

int CKvTolmoFilterChain::CreateStages() {
    IPravonManager* m = m_manager;
    const LONG method = static_cast<LONG>(m_scalingMethod);
    try {
        for (const Stage number : CreationOrder()) {
            std::unique_ptr<CPravonFilterBase> stage;
            switch (number) {
            case kStandardDemosaicStage:
                stage = std::make_unique<CDeBayerSingleFilter>(m);
                break;
            case kQualityDemosaicStage:
                stage = std::make_unique<CDeBayerSingleHQ4Filter>(m);
                break;
            case kLineariseStage:
            case kRelineariseStage:
            case kSquareRootStage:
            case kGainsStage:
            case kSecondCurvesStage:
            case kFirstCurvesStage:
            case kToneTable8Stage:
            case kCameraToneStage:
                stage = std::make_unique<CPravonFilterLut>(m);
                break;
            case kLabConversionStage:
            case kLchConversionStage:
            case kOutputConversionStage:
            case kCustomConversionStage:
                stage = std::make_unique<CPravonFilterCML>(m);
                break;
            case kOutputHistogramStage:
            case kLinearHistogramStage:
            case kLchHistogramStage:
                stage = std::make_unique<CPravonFilterHistogram>(m);
                break;
            case kFirstScaleStage:
            case kSecondScaleStage:
            case kEnlargeScaleStage:
            case kEnlargeToSizeScaleStage:
                stage = std::make_unique<CPravonFilterScale>(m, method);
                break;
            case kAspectScaleStage:
                stage = std::make_unique<CPravonFilterScale>(m, kFixedScaleMethod);
                break;
            case kTransformStage:
                stage = std::make_unique<CPravonFilterTransform>(m);
                break;
            case kCameraSharpeningStage:
            case kGeneralSharpeningStage:
                stage = std::make_unique<CUnsharpMaskFilter>(m);
                break;
            case kGridStage:
                stage = std::make_unique<CPravonFilterGrid>(m);
                break;
            case kColorNoiseStage:
                stage = std::make_unique<CFltColorNoise>(m);
                break;
            case kFineEdgeStage:
                stage = std::make_unique<CFltFineEdge>(m);
                break;
            case kSaturationCompensationStage:
                stage = std::make_unique<CFltSatComp>(m);
                break;
            case kVignetteStage:
                stage = std::make_unique<CFltVignette>(m);
                break;
            case kNativeOrderStage:
                stage = std::make_unique<CBGRizeFilter>(m);
                break;
            case kCropStage:
                stage = std::make_unique<CCropFilter>(m);
                break;
            case kOutputDepthStage:
                stage = std::make_unique<CPravonFilterColorSpace>(m);
                break;
            case kChannelMixerStage:
                stage = std::make_unique<CFltChannelMixer>(m);
                break;
            case kLostDetailStage:
                stage = std::make_unique<CFltThreshold>(m);
                break;
            case kDustStage:
                stage = std::make_unique<CFltDust>(m);
                break;
            case kRevelationStage:
                stage = std::make_unique<CFltRevelation>(m);
                break;
            case kFisheyeStage:
                stage = std::make_unique<CFisheyeFilter>(m);
                break;
            case kLchEditorStage:
                stage = std::make_unique<CFltLch>(m);
                break;
            case kChromaBoosterStage:
                stage = std::make_unique<CFltChromaBooster>(m);
                break;
            case kRedEyeStage:
                stage = std::make_unique<CFltFnRedeye>(m);
                break;
            case kMoireStage:
                stage = std::make_unique<CFltMoire>(m);
                break;
            case kAutoBrightnessStage:
                stage = std::make_unique<CFltAutoBrightness>(m);
                break;
            default:
                return kNoMemory;
            }
            m_stages[static_cast<std::size_t>(number)] = std::move(stage);
        }
    } catch (...) {
        return kNoMemory;
    }
    return kOk;
}

void CKvTolmoFilterChain::SetCacheUsage(DWORD usage) {
    m_cacheUsage = usage;
    struct Fixed {
        int stage;
        LONG usage;
    };
    static constexpr Fixed kFixed[] = {{kLineariseStage, 1},          {kRelineariseStage, 1},
                                       {kSquareRootStage, 1},         {kGainsStage, 1},
                                       {kSecondCurvesStage, 1},       {kFirstCurvesStage, 1},
                                       {kCameraToneStage, 1},         {kFirstScaleStage, 1},
                                       {kSecondScaleStage, 1},        {kEnlargeScaleStage, 1},
                                       {kEnlargeToSizeScaleStage, 1}, {kAspectScaleStage, 1},
                                       {kTransformStage, 1},          {kColorNoiseStage, 0},
                                       {kFineEdgeStage, 0},           {kCameraSharpeningStage, 0},
                                       {kGeneralSharpeningStage, 0},  {kGridStage, 2}};
    for (int number = 0; number < kStageCount; ++number) {
        // The histograms keep the usage they have.
        if (number == kOutputHistogramStage || number == kLinearHistogramStage ||
            number == kLchHistogramStage)
            continue;
        if (CPravonFilterBase* stage = GetStage(number))
            PravonErrorPtr(stage->SetCacheUsage(static_cast<LONG>(usage)));
    }
    for (const Fixed& fixed : kFixed)
        if (CPravonFilterBase* stage = GetStage(fixed.stage))
            PravonErrorPtr(stage->SetCacheUsage(fixed.usage));
}

int CKvTolmoFilterChain::ParameteriseStages() {
    SetCacheUsage(m_cacheUsage);
    for (const Stage number : {kLineariseStage, kRelineariseStage})
        if (PravonErrorPtr(SetThreeTables(GetStage(number), FixedTableA().data(), kTwelveBits, kSixteenBits)))
            return kStageSetup;
    if (PravonErrorPtr(
            SetThreeTables(GetStage(kSquareRootStage), FixedTableB().data(), kTwelveBits, kSixteenBits)))
        return kStageSetup;
    PravonErrorPtr(GetStage(kLchEditorStage)->Enable(false, false));
    for (const Stage number : kScaleStages)
        if (PravonErrorPtr(static_cast<CPravonFilterScale*>(GetStage(number))->SetScale(1.0, false)))
            return kStageSetup;
    const auto& tone = KvFixedToneTable8();
    const WORD* toneTables[3] = {tone[0].data(), tone[1].data(), tone[2].data()};
    if (PravonErrorPtr(
            static_cast<CPravonFilterLut*>(GetStage(kToneTable8Stage))->SetLUT(toneTables, 8, 8, 3, true)))
        return kStageSetup;
    if (PravonErrorPtr(PravonFilterStartWatching(GetStage(kRevelationStage))))
        return kStageSetup;
    return kOk;
}

int CKvTolmoFilterChain::Build(IPravonManager* manager, IPravonDataSource* source,
                               IPravonDataDestination* destination) {
    if (m_built)
        return kAlreadyBuilt;
    if (!manager || !source)
        return kBadArgument;
    m_manager = manager;
    m_givenSource = m_source = source;
    LONG colorSpace = 0;
    if (PravonErrorPtr(source->GetColorSpace(&colorSpace)))
        return kSourceUnreadable;
    int result = CreateStages();
    if (result == kOk)
        result = ParameteriseStages();
    IPravonFilterChain* output = nullptr;
    if (result == kOk && PravonErrorPtr(manager->CreateFilterChain(&output)))
        result = kStageSetup;
    m_output.reset(output);
    if (result == kOk) {
        for (const auto& stage : m_stages)
            if (stage && PravonErrorPtr(stage->Enable(false, true)))
                result = kStageSetup;
        if (PravonErrorPtr(GetStage(kNativeOrderStage)->Enable(m_nativeOrder, true)))
            result = kStageSetup;
    }
    for (std::size_t i = 0; result == kOk && i < ProcessingOrder().size(); ++i) {
        CPravonFilterBase* stage = GetStage(ProcessingOrder()[i]);
        if (PravonErrorPtr(m_output->Insert(stage, stage->GetFilterCode(), IPravonFilterChain::kAtEnd)))
            result = kStageSetup;
    }
    if (result == kOk && PravonErrorPtr(m_output->SetInput(source)))
        result = kNoConnection;
    if (result == kOk && destination && PravonErrorPtr(PravonConnect(m_output->GetOutput(), destination)))
        result = kNoConnection;
    if (result != kOk) {
        ReleaseAll();
        return result;
    }
    m_built = true;
    return kOk;
}

bool CKvTolmoFilterChain::ReattachSource(IPravonDataSource* source) {
    if (!m_output || PravonErrorPtr(m_output->SetInput(source)))
        return false;
    m_source = source;
    PravonErrorPtr(PravonSendDataNotification(source, PravonNotification::kUpdateAll, nullptr));
    return true;
}

void CKvTolmoFilterChain::SetScalingMethod(DWORD method) {
    m_scalingMethod = method;
    for (const Stage number : kScaleStages) {
        // The aspect stage keeps its fixed method.
        auto* stage = static_cast<CPravonFilterScale*>(GetStage(number));
        if (stage && number != kAspectScaleStage)
            PravonErrorPtr(stage->SetMethod(static_cast<LONG>(method), true));
    }
}

bool CKvTolmoFilterChain::SetActive(DWORD active) {
    const bool changed = active != m_active;
    m_active = active;
    return changed;
}

int CKvTolmoFilterChain::SetUpDemosaic(CPravonFilterBase* stage, const ImageProperties& snapshot) {
    IPravonTagControl* tags = snapshot.tagControl;
    auto* demosaic = static_cast<CDeBayerBase*>(stage);
    if (auto* hq = dynamic_cast<CDeBayerSingleHQ4Filter*>(stage)) {
        // Reset, then tuned by the sensitivity the picture was shot at (camera model 259 counts from a
        // base of 125); without the tag the reset tuning stays.
        HQ4Tuning tuning;
        BYTE words[4];
        if (tags && !PravonErrorPtr(tags->ReadTag(KvDust::kSensitivityTag, 3, sizeof words, words))) {
            const LONG sensitivity =
                DemosaicSensitivity(static_cast<WORD>(words[0] | words[1] << 8),
                                    static_cast<WORD>(words[2] | words[3] << 8), snapshot.cameraModelCode);
            if (snapshot.cameraModelCode == 259)
                tuning.SetBySensitivityBase125(sensitivity);
            else
                tuning.SetBySensitivity(sensitivity);
        }
        PravonErrorPtr(hq->SetTuning(tuning));
    }
    if (const int area = SetUpSensorArea(*demosaic, snapshot); area != kOk)
        return area;
    if (Refused(stage->Enable(true, true)))
        return kStageError;
    PravonErrorPtr(demosaic->SetParameters(0, 0, nullptr, nullptr, nullptr, true));
    if (snapshot.cameraModelCode != 257) {
        double gains[2] = {1.0, 1.0};
        std::memcpy(&gains[0], snapshot.cameraInformation.data(), 8);
        std::memcpy(&gains[1], snapshot.cameraInformation.data() + 8, 8);
        // A gain that is not a positive number counts as missing.
        for (double& gain : gains)
            if (!std::isfinite(gain) || gain <= 0)
                gain = 1.0;
        std::vector<WORD> red(kTableEntries), green(kTableEntries), blue(kTableEntries);
        for (int i = 0; i < kTableEntries; ++i) {
            red[static_cast<std::size_t>(i)] = static_cast<WORD>(std::min(std::trunc(i * gains[0]), 4095.0));
            green[static_cast<std::size_t>(i)] = static_cast<WORD>(i);
            blue[static_cast<std::size_t>(i)] = static_cast<WORD>(std::min(std::trunc(i * gains[1]), 4095.0));
        }
        if (PravonErrorPtr(demosaic->SetParameters(kTwelveBits, kTwelveBits, red.data(), green.data(),
                                                   blue.data(), true)))
            return kStageError;
    }
    // Without the tags there is no colour pattern to demosaic by.
    if (!tags)
        return kStageError;
    const ULONG size = tags->GetTagSize(kCfaPatternTag);
    std::vector<BYTE> pattern(size);
    if (size == 0 || Refused(tags->ReadTag(kCfaPatternTag, 1, size, pattern.data())))
        return kStageError;
    return Outcome(demosaic->SetCFAPattern(pattern.data(), size, true));
}

namespace {

// A positive finite number, else 1: a missing or unusable gain changes nothing.
double UsableFactor(double value) {
    return std::isfinite(value) && value > 0 ? value : 1.0;
}

// The display curve of the gain stage's tone: linear near black, then the sRGB power law.
WORD SrgbEncoded(std::int64_t v) {
    constexpr std::int64_t kLinearBelow = 199;
    if (v < kLinearBelow)
        return static_cast<WORD>(std::trunc(12.92 * static_cast<double>(v)));
    const double encoded = 65535.0 * (1.055 * std::pow(static_cast<double>(v) / 65535.0, 1.0 / 2.4) - 0.055);
    return static_cast<WORD>(std::clamp(std::trunc(encoded), 0.0, 65535.0));
}

// The camera tone curve that the selector names, as 4096 entries.
std::vector<WORD> CameraToneCurve(const ImageProperties& snapshot, LONG selector) {
    std::vector<WORD> curve(kTableEntries);
    if (selector == 16) {
        if (BuildCameraToneCurve(&snapshot, curve.data(), kTwelveBits))
            return curve;
        selector = 0;
    }
    const int kind = selector == 1 || selector == 5 ? 0 : selector == 2 || selector == 6 ? 2 : 1;
    BuildStandardToneCurve(curve.data(), kTwelveBits, kind);
    return curve;
}

} // namespace

std::vector<WORD> CKvTolmoFilterChain::GainTables(const ImageProperties& snapshot) {
    double asShot[2] = {1.0, 1.0};
    std::memcpy(&asShot[0], snapshot.cameraInformation.data(), 8);
    std::memcpy(&asShot[1], snapshot.cameraInformation.data() + 8, 8);
    double red = 1.0, blue = 1.0;
    const CKvWBAdjustment* wb = snapshot.whiteBalanceEnabled ? snapshot.whiteBalance : nullptr;
    if (wb && wb->GetMode() != CKvWBAdjustment::kModeAsShot) {
        double stateRed = wb->GetRedGain(), stateBlue = wb->GetBlueGain();
        if (wb->GetMode() == CKvWBAdjustment::kModeTemperature)
            KvColorTemperatureToGains(wb->GetPreset(), wb->GetTemperature(), &stateRed, &stateBlue,
                                      snapshot.cameraModelCode);
        // A state without usable gains (a fresh state holds zeros) keeps the as-shot balance.
        red = UsableFactor(stateRed) / UsableFactor(asShot[0]);
        blue = UsableFactor(stateBlue) / UsableFactor(asShot[1]);
        if (!(std::isfinite(stateRed) && stateRed > 0))
            red = 1.0;
        if (!(std::isfinite(stateBlue) && stateBlue > 0))
            blue = 1.0;
    }
    double factor = 1.0;
    if (snapshot.tagControl && snapshot.tagControl->TagExists(kExposureFactorTag)) {
        double stored = 1.0;
        if (!PravonErrorPtr(snapshot.tagControl->ReadTag(kExposureFactorTag, 12, sizeof stored, &stored)))
            factor = UsableFactor(stored);
    }
    const CKvExposureAdjustment* exposure = snapshot.exposureEnabled ? snapshot.exposure : nullptr;
    if (exposure && exposure->GetCompensation() != 0.0 && std::isfinite(exposure->GetCompensation()))
        factor *= std::pow(2.0, exposure->GetCompensation());
    const double gains[3] = {red * factor, factor, blue * factor};

    std::vector<WORD> tables(3 * kTableEntries);
    const bool scaled = gains[0] != 1.0 || gains[1] != 1.0 || gains[2] != 1.0;
    for (int channel = 0; channel < 3; ++channel)
        for (int i = 0; i < kTableEntries; ++i) {
            const double value = 16.0 * i * (scaled ? gains[channel] : 1.0);
            tables[static_cast<std::size_t>(channel * kTableEntries + i)] =
                static_cast<WORD>(std::isfinite(value) ? std::min(std::trunc(value), 65535.0) : 65535.0);
        }

    const LONG colorMode = exposure ? exposure->GetSecondValue() : -1;
    // A file's own colour profile decodes the samples with the sRGB curve, whatever the colour mode says.
    const bool srgb =
        UsesFileColorProfile(snapshot) ||
        ((!exposure || colorMode != 3) && (snapshot.cameraModelCode != 257 || (exposure && colorMode != 0)));
    if (srgb) {
        for (WORD& v : tables)
            v = SrgbEncoded(v);
        return tables;
    }
    LONG selector = 0;
    if (snapshot.tagControl &&
        PravonErrorPtr(snapshot.tagControl->ReadTag(kToneSelectorTag, 3, sizeof selector, &selector)))
        selector = 0;
    if (exposure && exposure->GetMode() != 0) {
        static constexpr LONG kByToneMode[7] = {0, 0, 1, 2, 16, 5, 6};
        const LONG mode = exposure->GetMode();
        selector = mode >= 2 && mode <= 6 ? kByToneMode[mode] : 0;
    }
    const std::vector<WORD> curve = CameraToneCurve(snapshot, selector);
    for (WORD& v : tables) {
        const std::int64_t at = std::int64_t{v} * (kTableEntries - 1);
        const std::int64_t low = at / 65535, part = at % 65535;
        const std::int64_t a = curve[static_cast<std::size_t>(low)];
        const std::int64_t b = low + 1 < kTableEntries ? curve[static_cast<std::size_t>(low) + 1] : a;
        v = static_cast<WORD>(a + (b - a) * part / 65535);
    }
    return tables;
}

int CKvTolmoFilterChain::SetUpGains(const ImageProperties& snapshot, bool rawDevelopment) {
    auto* stage = static_cast<CPravonFilterLut*>(GetStage(kGainsStage));
    if (!rawDevelopment)
        return Outcome(stage->Enable(false, true));
    std::vector<WORD> tables;
    try {
        tables = GainTables(snapshot);
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
    const WORD* channels[3] = {tables.data(), tables.data() + kTableEntries,
                               tables.data() + 2 * kTableEntries};
    return Refused(stage->SetLUT(channels, kTwelveBits, kSixteenBits, 3, true)) ||
                   Refused(stage->Enable(true, true))
               ? kStageError
               : kOk;
}

LONG CKvTolmoFilterChain::SourceRatio(const ImageProperties& snapshot, LONG colorSpace) const {
    IPravonTagControl* tags = snapshot.tagControl;
    LONG fullWidth = 0, fullHeight = 0, width = 0, height = 0;
    if (!m_source || !tags || PravonErrorPtr(tags->ReadTag(kFullWidthTag, 3, 4, &fullWidth)) ||
        PravonErrorPtr(tags->ReadTag(kFullHeightTag, 3, 4, &fullHeight)) ||
        PravonErrorPtr(m_source->GetSize(&width, &height)))
        return 1;
    // A mosaic carries a margin that the demosaicing uses up.
    if (colorSpace == PravonColorSpace::kRawMosaic16) {
        width -= kMosaicMargin;
        height -= kMosaicMargin;
    }
    if ((width == fullWidth && height == fullHeight) || width <= 0)
        return 1;
    return std::max<LONG>(fullWidth / width, 1);
}

int CKvTolmoFilterChain::UpdateScaleStages(const ImageProperties& snapshot, LONG colorSpace, LONG ratio,
                                           double outputScale) {
    const bool rawImage = colorSpace == PravonColorSpace::kRawMosaic16;
    CKvTolmoScaleSplit::Input in;
    IPravonDataSource* demosaiced =
        GetStage(kStandardDemosaicStage)->IsEnabled()  ? GetStage(kStandardDemosaicStage)
        : GetStage(kQualityDemosaicStage)->IsEnabled() ? GetStage(kQualityDemosaicStage)
                                                       : m_source;
    if (PravonErrorPtr(demosaiced->GetSize(&in.width, &in.height)))
        in.width = in.height = 0;
    if ((in.width == 0 && in.height == 0) && snapshot.sizeRes) {
        in.width = static_cast<LONG>(snapshot.sizeRes->GetImageWidth() / 2);
        in.height = static_cast<LONG>(snapshot.sizeRes->GetImageHeight() / 2);
    }
    in.scale = ratio * outputScale;
    in.settingsScale = (snapshot.sizeRes ? snapshot.sizeRes->GetScaleFactor() : outputScale) * ratio;
    in.aspect = rawImage && snapshot.cameraModelCode == 259 ? kModel259Aspect : 1.0;
    in.fisheye = snapshot.fisheyeEnabled && snapshot.fisheye;
    in.cropped = snapshot.sizeRes && snapshot.sizeRes->GetCrop() != snapshot.sizeRes->GetImageRect();
    CKvTolmoScaleSplit split;
    if (!CKvTolmoScaleSplit::Compute(in, &split))
        return kSourceUnreadable;
    m_firstReduction = split.firstReduction;
    m_firstUsed = split.first.enabled;
    m_firstAspectConsumed = split.aspectConsumedByFirst;
    const bool turned = KvOrientation::Of(snapshot.orientation != 0, snapshot.rotation).ExchangesSides();
    const auto apply = [&](Stage number, const CKvTolmoScaleSplit::Stage& set, bool exchange, bool reset) {
        auto* stage = static_cast<CPravonFilterScale*>(GetStage(number));
        if (!set.enabled)
            return !PravonErrorPtr(stage->Enable(false, true));
        if (PravonErrorPtr(stage->Enable(true, true)))
            return false;
        if (reset && PravonErrorPtr(stage->SetScale(1.0, false)))
            return false;
        // Without a requested size, the factors that size stands for.
        if (set.bySize && m_outputWidth > 0 && m_outputHeight > 0)
            return !PravonErrorPtr(exchange ? stage->SetSize(m_outputHeight, m_outputWidth, true)
                                            : stage->SetSize(m_outputWidth, m_outputHeight, true));
        return !PravonErrorPtr(stage->SetScale(set.sx, set.sy, true));
    };
    const bool ok = apply(kFirstScaleStage, split.first, false, false) &&
                    apply(kSecondScaleStage, split.second, false, true) &&
                    apply(kEnlargeScaleStage, split.enlarge, turned, false) &&
                    apply(kEnlargeToSizeScaleStage, split.enlargeToSize, turned, false) &&
                    apply(kAspectScaleStage, split.aspectStage, false, false);
    return ok ? kOk : kStageError;
}

int CKvTolmoFilterChain::UpdateDetailStages(const ImageProperties& snapshot, LONG ratio,
                                            double displayScale) {
    const CKvNoiseReduction* noise = snapshot.noiseReductionEnabled ? snapshot.noiseReduction : nullptr;
    const bool fullSize = m_developmentMode != kPreviewMode && ratio == 1 && displayScale >= 1.0 && noise;
    // The noise settings carry the moire level (1 to 3) in their flag byte.
    static constexpr LONG kMoireStrengths[4] = {0, 15, 25, 75};
    const BYTE moire = fullSize ? noise->GetFlag() : 0;
    auto* moireStage = static_cast<CFltMoire*>(GetStage(kMoireStage));
    if (moire >= 1 && moire <= 3) {
        // A level the stage refuses leaves it off rather than failing the update.
        if (PravonErrorPtr(moireStage->SetLevel(kMoireStrengths[moire], true)) ||
            PravonErrorPtr(moireStage->Enable(true, true)))
            PravonErrorPtr(moireStage->Enable(false, true));
    } else if (Refused(moireStage->Enable(false, true))) {
        return kStageError;
    }
    // The fine-edge flag is their third field.
    const bool fineEdge = fullSize && noise->GetExtraValue() != 0;
    return Outcome(GetStage(kFineEdgeStage)->Enable(fineEdge, true));
}

int CKvTolmoFilterChain::Update(ImageProperties* snapshot, DWORD mask, double outputScale,
                                UpdateProgress progress, void* context) {
    if (!m_built)
        return kNotBuilt;
    if (!snapshot)
        return kBadArgument;
    if (m_updating)
        return kUpdating;
    // The chains of the process share their colour engines and the cache they come from: one chain at a time
    // takes, changes and lets go of them.
    const std::lock_guard<std::recursive_mutex> engines(g_colourEngines);
    m_updating = true;
    struct Clear {
        bool& flag;
        ~Clear() { flag = false; }
    } clear{m_updating};
    const UpdateScope scope(*this, progress, context);
    // Stages changed without telling the stages after them tell them at the end, failed or not.
    struct Notify {
        CKvTolmoFilterChain& chain;
        ~Notify() { chain.SendQuietChanges(); }
    } notify{*this};
    LONG colorSpace = 0;
    if (Refused(m_source->GetColorSpace(&colorSpace)))
        return kSourceUnreadable;
    const bool rawMosaic = colorSpace == PravonColorSpace::kRawMosaic16;
    const bool processedRaw = snapshot->cameraModelCode >= 513 && snapshot->cameraModelCode <= 516;
    const bool rawDevelopment = rawMosaic && !processedRaw;
    const RawProgressScope rawProgress(*this, processedRaw);
    const auto enable = [&](Stage number, bool on) { return Outcome(GetStage(number)->Enable(on, true)); };
    // Each step runs while every step before it succeeded; the first failure is the update's result.
    UpdateSteps steps(*this);
    int result = kOk;
    if (mask & kModeChanged) {
        if (rawMosaic) {
            const bool quality = m_developmentMode == kQualityMode;
            PravonErrorPtr(
                GetStage(quality ? kStandardDemosaicStage : kQualityDemosaicStage)->Enable(false, false));
            // A demosaic set-up that fails leaves the update going.
            SetUpDemosaic(GetStage(quality ? kQualityDemosaicStage : kStandardDemosaicStage), *snapshot);
        } else {
            result = enable(kQualityDemosaicStage, false);
            if (result == kOk)
                result = enable(kStandardDemosaicStage, false);
        }
    }
    if (result == kOk && mask == kEverything) {
        result = enable(kLineariseStage, rawDevelopment);
        if (result == kOk)
            result = enable(kSquareRootStage, rawDevelopment);
    }
    if (result == kOk && (mask & kDustChanged))
        result = steps.Dust(*snapshot, colorSpace, rawDevelopment);
    if (result == kOk && (mask & kVignetteChanged)) {
        const bool model259 = rawMosaic && snapshot->cameraModelCode == 259;
        result = m_developmentMode == kPreviewMode
                     ? enable(kVignetteStage, false)
                     : SetUpVignette(*snapshot, model259 ? kModel259Aspect : 1.0);
    }
    const LONG ratio = SourceRatio(*snapshot, colorSpace);
    const double scale = ratio * outputScale;
    // The scale the display stages see: the whole output scale only in native order, where camera 259's
    // own reduction of its tall pixels counts as full size.
    const bool model259Reduction =
        rawMosaic && snapshot->cameraModelCode == 259 && scale == kModel259Reduction;
    const double displayScale = m_nativeOrder && !model259Reduction ? scale : 1.0;
    if (result == kOk && (mask & (kNoiseReductionChanged | kOutputSizeChanged)))
        result = UpdateDetailStages(*snapshot, ratio, displayScale);
    if (result == kOk)
        result = steps.Revelation(*snapshot, colorSpace, mask);
    if (result == kOk && (mask & kRedEyeChanged))
        result = SetUpRedEye(*snapshot);
    if (result == kOk)
        result = UpdateScaleStages(*snapshot, colorSpace, ratio, outputScale);
    // Back to linear light for the gains, after the stages that work on square-root samples.
    if (result == kOk && (mask & (kVignetteChanged | kDustChanged | kRevelationChanged)))
        result = enable(kRelineariseStage, rawDevelopment);
    if (result == kOk && (mask & (kWhiteBalanceChanged | kExposureChanged)))
        result = SetUpGains(*snapshot, rawDevelopment);
    if (result == kOk && (mask & (kCropChanged | kOutputSizeChanged)))
        result = SetUpCrop(*snapshot, ratio);
    if (result == kOk && (mask & kFisheyeChanged))
        result = steps.Fisheye(*snapshot);
    if (result == kOk)
        result = SetUpLabConversion(*snapshot, displayScale);
    if (result == kOk && (mask & (kNoiseReductionChanged | kOutputSizeChanged)))
        result = SetUpColorNoise(*snapshot, ratio, displayScale);
    if (result == kOk)
        result = SetUpLchConversion(*snapshot);
    if (result == kOk && (mask & kChromaBoosterChanged))
        result = steps.ChromaBooster(*snapshot);
    if (result == kOk && (mask & kLchEditorChanged))
        result = steps.LchEditor(*snapshot);
    if (result == kOk)
        result = SetUpOutputConversion(*snapshot);
    if (result == kOk && ((mask & (kExposureChanged | kCameraSettingsFlagChanged)) || m_lchChanged))
        result = SetUpCameraTone(*snapshot);
    if (result == kOk &&
        ((mask & (kOutputSizeChanged | kExposureChanged | kCameraSettingsFlagChanged)) || m_lchChanged))
        result = SetUpSharpening(*snapshot,
                                 (mask & (kOutputSizeChanged | kCameraSettingsFlagChanged)) || m_lchChanged);
    if (result == kOk && (mask & kSharpeningListBits))
        result = steps.SharpeningList(*snapshot, scale);
    if (result == kOk && (mask & kOrientationChanged))
        result = UpdateOrientation(*snapshot);
    if (result == kOk && (mask & kAutoBrightnessChanged))
        result = steps.AutoBrightness(*snapshot);
    if (result == kOk && (mask & kMixerChanged))
        result = UpdateMixer(*snapshot);
    if (result == kOk && (mask & kCurvesChanged))
        result = SetUpCurves(*snapshot, mask);
    if (result == kOk && (mask & kLostDetailChanged))
        result = steps.LostDetail(*snapshot);
    if (result == kOk && (mask & (kOutputChanged | kExposureChanged)))
        result = SetUpCustomConversion(*snapshot);
    if (result == kOk && (mask & kOutputChanged))
        result = UpdateOutputDepth();
    if (result == kOk && (mask & kPluginListChanged))
        result = steps.PluginStages(*snapshot);
    if (result == kOk && (mask & kPluginScaleBits))
        result = steps.PluginScales(*snapshot, scale);
    if (result == kOk) {
        // Downstream hears of the quiet changes before the plug-ins run over what they now see.
        SendQuietChanges();
        RefreshPluginStages();
    }
    return result;
}

int CKvTolmoFilterChain::UpdateOrientation(const ImageProperties& snapshot) {
    // The settings count the turn counter-clockwise with the mirror after it; the stage mirrors first and
    // turns clockwise.
    const KvOrientation turn = KvOrientation::Of(snapshot.orientation != 0, snapshot.rotation);
    auto* transform = static_cast<CPravonFilterTransform*>(GetStage(kTransformStage));
    if (turn.IsNone())
        return Outcome(transform->Enable(false, true));
    return Refused(transform->SetTransform(turn.flip, turn.TransformRotation(), true, true)) ||
                   Refused(transform->Enable(true, true))
               ? kStageError
               : kOk;
}

int CKvTolmoFilterChain::UpdateMixer(const ImageProperties& snapshot) {
    // The general record's mixer mode: 1 mixes, 2 mixes and then applies the fixed tone table.
    const LONG mixerMode = snapshot.general ? snapshot.general->GetValue(0) : 0;
    return Refused(GetStage(kChannelMixerStage)->Enable(mixerMode == 1 || mixerMode == 2, true)) ||
                   Refused(GetStage(kToneTable8Stage)->Enable(mixerMode == 2, true))
               ? kStageError
               : kOk;
}

int CKvTolmoFilterChain::UpdateOutputDepth() {
    // The output depth without colour management, while the output conversion is off.
    if (GetStage(kOutputConversionStage)->IsEnabled())
        return kOk;
    auto* depth = static_cast<CPravonFilterColorSpace*>(GetStage(kOutputDepthStage));
    if (!m_outputParameters.depthDiffers)
        return Outcome(depth->Enable(false, true));
    const auto bits = m_outputParameters.bitsPerChannel == 8 ? CPravonFilterColorSpace::k8Bit
                                                             : CPravonFilterColorSpace::k16Bit;
    return Refused(depth->SetOutputColorSpace(CPravonFilterColorSpace::kKeepColorSpace, bits, true)) ||
                   Refused(depth->Enable(true, true))
               ? kStageError
               : kOk;
}

IPravonError* CKvTolmoFilterChain::PravonFilterNotify(CPravonFilterBase* filter, LONG type, void* data) {
    ForwardStageProgress(filter, type, data);
    return nullptr;
}

namespace {

// Every result names one cause: the owner and its callers tell failures apart by the value alone.
constexpr bool EachResultOnce() {
    using C = CKvTolmoFilterChain;
    constexpr int results[] = {C::kOk,
                               C::kStageError,
                               C::kBadArgument,
                               C::kNoMemory,
                               C::kAlreadyBuilt,
                               C::kNotBuilt,
                               C::kSourceUnreadable,
                               C::kStageSetup,
                               C::kNoConnection,
                               C::kColorEngineError,
                               C::kNoDustMap,
                               C::kLensError,
                               C::kLensRejected,
                               C::kEditorCalibrationError,
                               C::kEditorCalibrationLength,
                               C::kBoosterCalibrationError,
                               C::kBoosterCalibrationLength,
                               C::kUpdating};
    for (std::size_t i = 0; i < std::size(results); ++i)
        for (std::size_t j = i + 1; j < std::size(results); ++j)
            if (results[i] == results[j])
                return false;
    return true;
}
static_assert(EachResultOnce());

} // namespace

IPravonError* KvnChainError(int result, const std::string& text) {
    using Chain = CKvTolmoFilterChain;
    if (result == Chain::kOk)
        return nullptr;
    // The kinds of the exported object; every other result is an invalid state.
    static constexpr LONG kStageSetupKind = 11004;
    static constexpr LONG kNoConnectionKind = 11005;
    static constexpr LONG kColorEngineKind = 11003;
    static constexpr LONG kDustMapKind = 11006;
    LONG kind = PravonKind::kInvalidState;
    switch (result) {
    case Chain::kBadArgument:
        kind = PravonKind::kBadArgument;
        break;
    case Chain::kNoMemory:
        kind = PravonKind::kOutOfMemory;
        break;
    case Chain::kAlreadyBuilt:
    case Chain::kNotBuilt:
        kind = PravonKind::kNotInitialised;
        break;
    case Chain::kSourceUnreadable:
        kind = PravonKind::kMissingInput;
        break;
    case Chain::kStageSetup:
        kind = kStageSetupKind;
        break;
    case Chain::kNoConnection:
        kind = kNoConnectionKind;
        break;
    case Chain::kColorEngineError:
        kind = kColorEngineKind;
        break;
    case Chain::kNoDustMap:
        kind = kDustMapKind;
        break;
    default:
        break;
    }
    const std::string code = "the development chain failed with result " + std::to_string(result);
    return PravonFail(0, kind, text.empty() ? code : text + " (" + code + ")");
}
