#include "CKvTolmoFilterChain.h"

#include "CKvTolmoScaleSplit.h"
#include "KvFileColorProfile.h"
#include "KvOrientation.h"
#include "KvTolmoUpdateValues.h"
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
// The scale stage whose method is fixed, whatever the object's scaling method.
constexpr int kFixedScaleStage = 17;
constexpr LONG kFixedScaleMethod = 2;
constexpr LONG kMosaicMargin = 12;
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

const std::array<int, 43>& CKvTolmoFilterChain::CreationOrder() {
    static constexpr std::array<int, 43> order = {0,  2,  18, 6,  39, 40, 41, 13, 17, 26, 1,  3,  4,  5,  7,
                                                  8,  9,  10, 11, 12, 19, 20, 21, 22, 23, 24, 25, 28, 29, 31,
                                                  32, 33, 36, 37, 27, 42, 43, 44, 45, 14, 15, 16, 30};
    return order;
}

const std::array<int, 43>& CKvTolmoFilterChain::ProcessingOrder() {
    static constexpr std::array<int, 43> order = {0,  1,  2,  36, 25, 4,  43, 37, 42, 13, 3,  11, 5,  39, 27,
                                                  23, 6,  22, 7,  44, 24, 12, 41, 40, 19, 20, 8,  28, 10, 14,
                                                  29, 45, 31, 32, 33, 9,  30, 17, 18, 15, 16, 21, 26};
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
        for (const int number : CreationOrder()) {
            std::unique_ptr<CPravonFilterBase> stage;
            switch (number) {
            case 0:
                stage = std::make_unique<CDeBayerSingleFilter>(m);
                break;
            case 1:
                stage = std::make_unique<CDeBayerSingleHQ4Filter>(m);
                break;
            case 2:
            case 3:
            case 4:
            case 5:
            case 28:
            case 29:
            case 32:
            case 44:
                stage = std::make_unique<CPravonFilterLut>(m);
                break;
            case 6:
            case 7:
            case 8:
            case 9:
                stage = std::make_unique<CPravonFilterCML>(m);
                break;
            case 10:
            case 11:
            case 12:
                stage = std::make_unique<CPravonFilterHistogram>(m);
                break;
            case 13:
            case 14:
            case 15:
            case 16:
                stage = std::make_unique<CPravonFilterScale>(m, method);
                break;
            case kFixedScaleStage:
                stage = std::make_unique<CPravonFilterScale>(m, kFixedScaleMethod);
                break;
            case 18:
                stage = std::make_unique<CPravonFilterTransform>(m);
                break;
            case 19:
            case 20:
                stage = std::make_unique<CUnsharpMaskFilter>(m);
                break;
            case kGridStage:
                stage = std::make_unique<CPravonFilterGrid>(m);
                break;
            case 22:
                stage = std::make_unique<CFltColorNoise>(m);
                break;
            case 23:
                stage = std::make_unique<CFltFineEdge>(m);
                break;
            case 24:
                stage = std::make_unique<CFltSatComp>(m);
                break;
            case 25:
                stage = std::make_unique<CFltVignette>(m);
                break;
            case kNativeOrderStage:
                stage = std::make_unique<CBGRizeFilter>(m);
                break;
            case 27:
                stage = std::make_unique<CCropFilter>(m);
                break;
            case 30:
                stage = std::make_unique<CPravonFilterColorSpace>(m);
                break;
            case 31:
                stage = std::make_unique<CFltChannelMixer>(m);
                break;
            case 33:
                stage = std::make_unique<CFltThreshold>(m);
                break;
            case 36:
                stage = std::make_unique<CFltDust>(m);
                break;
            case 37:
                stage = std::make_unique<CFltRevelation>(m);
                break;
            case 39:
                stage = std::make_unique<CFisheyeFilter>(m);
                break;
            case 40:
                stage = std::make_unique<CFltLch>(m);
                break;
            case 41:
                stage = std::make_unique<CFltChromaBooster>(m);
                break;
            case 42:
                stage = std::make_unique<CFltFnRedeye>(m);
                break;
            case 43:
                stage = std::make_unique<CFltMoire>(m);
                break;
            case 45:
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
    static constexpr Fixed kFixed[] = {{2, 1},  {3, 1},  {4, 1},  {5, 1},  {28, 1}, {29, 1},
                                       {44, 1}, {13, 1}, {14, 1}, {15, 1}, {16, 1}, {17, 1},
                                       {18, 1}, {22, 0}, {23, 0}, {19, 0}, {20, 0}, {21, 2}};
    for (int number = 0; number < kStageCount; ++number) {
        // The histograms keep the usage they have.
        if (number >= 10 && number <= 12)
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
    for (const int number : {2, 3})
        if (PravonErrorPtr(SetThreeTables(GetStage(number), FixedTableA().data(), kTwelveBits, kSixteenBits)))
            return kStageSetup;
    if (PravonErrorPtr(SetThreeTables(GetStage(4), FixedTableB().data(), kTwelveBits, kSixteenBits)))
        return kStageSetup;
    PravonErrorPtr(GetStage(40)->Enable(false, false));
    for (int number = 13; number <= 17; ++number)
        if (PravonErrorPtr(static_cast<CPravonFilterScale*>(GetStage(number))->SetScale(1.0, false)))
            return kStageSetup;
    const auto& tone = KvFixedToneTable8();
    const WORD* toneTables[3] = {tone[0].data(), tone[1].data(), tone[2].data()};
    if (PravonErrorPtr(static_cast<CPravonFilterLut*>(GetStage(32))->SetLUT(toneTables, 8, 8, 3, true)))
        return kStageSetup;
    if (PravonErrorPtr(PravonFilterStartWatching(GetStage(37))))
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
        return kNoColorSpace;
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
    for (int number = 13; number < kFixedScaleStage; ++number)
        if (auto* stage = static_cast<CPravonFilterScale*>(GetStage(number)))
            PravonErrorPtr(stage->SetMethod(static_cast<LONG>(method), true));
}

bool CKvTolmoFilterChain::SetActive(DWORD active) {
    const bool changed = active != m_active;
    m_active = active;
    return changed;
}

bool CKvTolmoFilterChain::SetUpDemosaic(CPravonFilterBase* stage, const ImageProperties& snapshot) {
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
    if (!SetUpSensorArea(*demosaic, snapshot))
        return false;
    if (PravonErrorPtr(stage->Enable(true, true)))
        return false;
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
            return false;
    }
    if (!tags)
        return false;
    const ULONG size = tags->GetTagSize(0xA302);
    std::vector<BYTE> pattern(size);
    if (size == 0 || PravonErrorPtr(tags->ReadTag(0xA302, 1, size, pattern.data())))
        return false;
    return !PravonErrorPtr(demosaic->SetCFAPattern(pattern.data(), size, true));
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

bool CKvTolmoFilterChain::SetUpGains(const ImageProperties& snapshot, bool rawDevelopment) {
    if (!rawDevelopment)
        return !PravonErrorPtr(GetStage(5)->Enable(false, true));
    std::vector<WORD> tables;
    try {
        tables = GainTables(snapshot);
    } catch (const std::bad_alloc&) {
        m_stepResult = kNoMemory;
        return false;
    }
    const WORD* channels[3] = {tables.data(), tables.data() + kTableEntries,
                               tables.data() + 2 * kTableEntries};
    auto* stage = static_cast<CPravonFilterLut*>(GetStage(5));
    return !PravonErrorPtr(stage->SetLUT(channels, kTwelveBits, kSixteenBits, 3, true)) &&
           !PravonErrorPtr(stage->Enable(true, true));
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
    IPravonDataSource* demosaiced = GetStage(0)->IsEnabled()   ? GetStage(0)
                                    : GetStage(1)->IsEnabled() ? GetStage(1)
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
        return kNoColorSpace;
    m_firstReduction = split.firstReduction;
    m_firstUsed = split.first.enabled;
    m_firstAspectConsumed = split.aspectConsumedByFirst;
    const bool turned = KvOrientation::Of(snapshot.orientation != 0, snapshot.rotation).ExchangesSides();
    const auto apply = [&](int number, const CKvTolmoScaleSplit::Stage& set, bool exchange, bool reset) {
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
    const bool ok = apply(13, split.first, false, false) && apply(14, split.second, false, true) &&
                    apply(15, split.enlarge, turned, false) &&
                    apply(16, split.enlargeToSize, turned, false) &&
                    apply(kFixedScaleStage, split.aspectStage, false, false);
    return ok ? kOk : kStageError;
}

bool CKvTolmoFilterChain::UpdateDetailStages(const ImageProperties& snapshot, LONG ratio,
                                             double displayScale) {
    const CKvNoiseReduction* noise = snapshot.noiseReductionEnabled ? snapshot.noiseReduction : nullptr;
    const bool fullSize = m_developmentMode != kPreviewMode && ratio == 1 && displayScale >= 1.0 && noise;
    // The noise settings carry the moire level (1 to 3) in their flag byte.
    static constexpr LONG kMoireStrengths[4] = {0, 15, 25, 75};
    const BYTE moire = fullSize ? noise->GetFlag() : 0;
    auto* moireStage = static_cast<CFltMoire*>(GetStage(43));
    if (moire >= 1 && moire <= 3) {
        // A level the stage refuses leaves it off rather than failing the update.
        if (PravonErrorPtr(moireStage->SetLevel(kMoireStrengths[moire], true)) ||
            PravonErrorPtr(moireStage->Enable(true, true)))
            PravonErrorPtr(moireStage->Enable(false, true));
    } else if (PravonErrorPtr(moireStage->Enable(false, true))) {
        return false;
    }
    // The fine-edge flag is their third field.
    const bool fineEdge = fullSize && noise->GetExtraValue() != 0;
    return !PravonErrorPtr(GetStage(23)->Enable(fineEdge, true));
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
    if (PravonErrorPtr(m_source->GetColorSpace(&colorSpace)))
        return kNoColorSpace;
    const bool processedRaw = snapshot->cameraModelCode >= 513 && snapshot->cameraModelCode <= 516;
    const bool rawDevelopment = colorSpace == PravonColorSpace::kRawMosaic16 && !processedRaw;
    const RawProgressScope rawProgress(*this, processedRaw);
    const auto enable = [&](int number, bool on) {
        return !PravonErrorPtr(GetStage(number)->Enable(on, true));
    };
    bool ok = true;
    if (mask & kModeChanged) {
        if (colorSpace == PravonColorSpace::kRawMosaic16) {
            const int on = m_developmentMode == 3 ? 1 : 0;
            PravonErrorPtr(GetStage(1 - on)->Enable(false, false));
            // A demosaic set-up that fails leaves the update going.
            SetUpDemosaic(GetStage(on), *snapshot);
        } else {
            ok = enable(1, false) && enable(0, false);
        }
    }
    if (ok && mask == kEverything)
        ok = enable(2, rawDevelopment) && enable(4, rawDevelopment);
    if (ok && (mask & kDustChanged))
        ok = UpdateDust(*snapshot, colorSpace, rawDevelopment);
    if (ok && (mask & kVignetteChanged)) {
        const bool model259 =
            colorSpace == PravonColorSpace::kRawMosaic16 && snapshot->cameraModelCode == 259;
        ok = m_developmentMode == kPreviewMode ? enable(25, false)
                                               : SetUpVignette(*snapshot, model259 ? kModel259Aspect : 1.0);
    }
    const LONG ratio = SourceRatio(*snapshot, colorSpace);
    const double scale = ratio * outputScale;
    // The scale the display stages see: the whole output scale only in native order, where camera 259's
    // own reduction of its tall pixels counts as full size.
    const bool model259Reduction = colorSpace == PravonColorSpace::kRawMosaic16 &&
                                   snapshot->cameraModelCode == 259 && scale == kModel259Reduction;
    const double displayScale = m_nativeOrder && !model259Reduction ? scale : 1.0;
    if (ok && (mask & (kNoiseReductionChanged | kOutputSizeChanged)))
        ok = UpdateDetailStages(*snapshot, ratio, displayScale);
    if (ok)
        ok = UpdateRevelation(*snapshot, colorSpace, mask);
    if (ok && (mask & kRedEyeChanged))
        ok = SetUpRedEye(*snapshot);
    if (ok) {
        const int scaled = UpdateScaleStages(*snapshot, colorSpace, ratio, outputScale);
        if (scaled != kOk)
            return scaled;
    }
    // Back to linear light for the gains, after the stages that work on square-root samples.
    if (ok && (mask & (kVignetteChanged | kDustChanged | kRevelationChanged)))
        ok = enable(3, rawDevelopment);
    if (ok && (mask & (kWhiteBalanceChanged | kExposureChanged)))
        ok = SetUpGains(*snapshot, rawDevelopment);
    if (ok && (mask & (kCropChanged | kOutputSizeChanged)))
        ok = SetUpCrop(*snapshot, ratio);
    if (ok && (mask & kFisheyeChanged))
        ok = UpdateFisheye(*snapshot);
    if (ok) {
        int converted = SetUpLabConversion(*snapshot, displayScale);
        if (converted == kOk && (mask & (kNoiseReductionChanged | kOutputSizeChanged)) &&
            !SetUpColorNoise(*snapshot, ratio, displayScale))
            converted = kStageError;
        if (converted == kOk)
            converted = SetUpLchConversion(*snapshot);
        if (converted != kOk)
            return converted;
    }
    if (ok && (mask & kChromaBoosterChanged))
        ok = UpdateChromaBooster(*snapshot);
    if (ok && (mask & kLchEditorChanged))
        ok = UpdateLchEditor(*snapshot);
    if (ok) {
        const int converted = SetUpOutputConversion(*snapshot);
        if (converted != kOk)
            return converted;
    }
    if (ok && ((mask & (kExposureChanged | kCameraSettingsFlagChanged)) || m_lchChanged))
        ok = SetUpCameraTone(*snapshot);
    if (ok && ((mask & (kOutputSizeChanged | kExposureChanged | kCameraSettingsFlagChanged)) || m_lchChanged))
        ok = SetUpSharpening(*snapshot,
                             (mask & (kOutputSizeChanged | kCameraSettingsFlagChanged)) || m_lchChanged);
    if (ok && (mask & kSharpeningListBits))
        ok = UpdateSharpeningList(*snapshot, scale);
    if (ok && (mask & kOrientationChanged)) {
        // The settings count the turn counter-clockwise with the mirror after it; the stage mirrors first
        // and turns clockwise.
        const KvOrientation turn = KvOrientation::Of(snapshot->orientation != 0, snapshot->rotation);
        auto* transform = static_cast<CPravonFilterTransform*>(GetStage(18));
        if (turn.IsNone())
            ok = enable(18, false);
        else
            ok = !PravonErrorPtr(transform->SetTransform(turn.flip, turn.TransformRotation(), true, true)) &&
                 enable(18, true);
    }
    if (ok && (mask & kAutoBrightnessChanged))
        ok = UpdateAutoBrightness(*snapshot);
    if (ok && (mask & kMixerChanged)) {
        const LONG mixerMode = snapshot->general ? snapshot->general->GetValue(0) : 0;
        ok = enable(31, mixerMode == 1 || mixerMode == 2) && enable(32, mixerMode == 2);
    }
    if (ok && (mask & kCurvesChanged))
        ok = SetUpCurves(*snapshot, mask);
    if (ok && (mask & kLostDetailChanged))
        ok = UpdateLostDetail(*snapshot);
    if (ok && (mask & (kOutputChanged | kExposureChanged))) {
        const int custom = SetUpCustomConversion(*snapshot);
        if (custom != kOk)
            return custom;
    }
    // The output depth without colour management, while the output conversion is off.
    if (ok && (mask & kOutputChanged) && !GetStage(8)->IsEnabled()) {
        auto* depth = static_cast<CPravonFilterColorSpace*>(GetStage(30));
        if (!m_outputParameters.depthDiffers)
            ok = enable(30, false);
        else
            ok = !PravonErrorPtr(depth->SetOutputColorSpace(CPravonFilterColorSpace::kKeepColorSpace,
                                                            m_outputParameters.bitsPerChannel == 8
                                                                ? CPravonFilterColorSpace::k8Bit
                                                                : CPravonFilterColorSpace::k16Bit,
                                                            true)) &&
                 enable(30, true);
    }
    if (ok && (mask & kPluginListChanged))
        ok = UpdatePluginStages(*snapshot);
    if (ok && (mask & kPluginScaleBits))
        ok = UpdatePluginScales(*snapshot, scale);
    if (ok) {
        // Downstream hears of the quiet changes before the plug-ins run over what they now see.
        SendQuietChanges();
        RefreshPluginStages();
    }
    return FinishUpdate(ok);
}

IPravonError* CKvTolmoFilterChain::PravonFilterNotify(CPravonFilterBase* filter, LONG type, void* data) {
    ForwardStageProgress(filter, type, data);
    return nullptr;
}

IPravonError* KvnChainError(int result, const std::string& text) {
    if (result == CKvTolmoFilterChain::kOk)
        return nullptr;
    LONG kind = PravonKind::kInvalidState;
    switch (result) {
    case 2:
        kind = PravonKind::kBadArgument;
        break;
    case 3:
        kind = PravonKind::kOutOfMemory;
        break;
    case 4:
    case 5:
        kind = PravonKind::kNotInitialised;
        break;
    case 6:
        kind = PravonKind::kMissingInput;
        break;
    case 7:
        kind = 11004;
        break;
    case 8:
        kind = 11005;
        break;
    case 9:
        kind = 11003;
        break;
    case 10:
        kind = 11006;
        break;
    default:
        break;
    }
    const std::string code = "the development chain failed with result " + std::to_string(result);
    return PravonFail(0, kind, text.empty() ? code : text + " (" + code + ")");
}
