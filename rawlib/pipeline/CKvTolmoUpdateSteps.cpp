// The update's steps for the optional corrections (dust, Revelation, fisheye, chroma booster, LCh editor,
// auto brightness), the displays and the stages the update adds and removes (plug-ins, sharpening list),
// the demosaicing's sensor area and the progress the long steps report.
#include "CKvTolmoUpdateSteps.h"

#include "filters/CPravonFilterHistogram.h"
#include "filters/CUnsharpMaskFilter.h"
#include "platform/pravon/PravonGraph.h"
#include "rawlib/filters/CDeBayerBase.h"
#include "rawlib/filters/CFisheyeFilter.h"
#include "rawlib/filters/CFltAutoBrightness.h"
#include "rawlib/filters/CFltChromaBooster.h"
#include "rawlib/filters/CFltFnRedeye.h"
#include "rawlib/filters/CFltLch.h"
#include "rawlib/filters/CFltPlugin.h"
#include "rawlib/filters/CFltThreshold.h"
#include "rawlib/filters/IPlugin.h"
#include "rawlib/filters/dust/CFltDust.h"
#include "rawlib/filters/revelation/CFltRevelation.h"
#include "rawlib/settings/CKvBrightness.h"
#include "rawlib/settings/CKvChromaBooster.h"
#include "rawlib/settings/CKvDustRemoval.h"
#include "rawlib/settings/CKvFilterPluginList.h"
#include "rawlib/settings/CKvFisheye.h"
#include "rawlib/settings/CKvLensInformation.h"
#include "rawlib/settings/CKvLutGroup.h"
#include "rawlib/settings/CKvRevelation.h"
#include "rawlib/settings/CKvSizeRes.h"
#include "rawlib/settings/CKvUSMList.h"
#include "rawlib/settings/ImageProperties.h"
#include "rawlib/settings/KvLchCalibration.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

// The values the update's steps share.
using namespace KvTolmoUpdate;

// The plug-in stages go just before it.
constexpr CKvTolmoFilterChain::Stage kPluginAnchorStage = CKvTolmoFilterChain::kEnlargeToSizeScaleStage;
// The LCh group's channels: lightness tone curve, chroma gain by hue, hue shift by hue.
constexpr LONG kLightnessChannel = 1;
constexpr LONG kChromaChannel = 2;
constexpr LONG kHueChannel = 3;
// The editor's tables: 2^16 entries of 16 bits.
constexpr LONG kLchTableBits = 16;
constexpr LONG kLchTableSize = LONG{1} << kLchTableBits;
// All of a tone channel's own parameters (normalised input, output levels, points, gamma, contrast, the
// outside table), without the reference set and without composing the group's first channel.
constexpr DWORD kLchLightnessFlags = 0xFC;
// The chroma channel renders its edited set for fill 1 and its calibration set for fill 0.
constexpr int kEditedSet = 1;
constexpr int kCalibrationSet = 0;
constexpr DWORD kChromaRenderFlags = 60;
constexpr BYTE kHighlightThreshold = 255;
// The sharpening list makes at most this many unsharp-mask stages.
constexpr std::size_t kMostListStages = 7;
// Colour indexes 1 to 6 pick a sixth of the hue circle each, with a soft edge of a twelfth.
constexpr LONG kHueSixths = 6;
constexpr double kHueSlice = 72.0;
constexpr double kHueSoftEdge = 1.0 / 12.0;
// The percent of the Revelation step that its statistics pass takes.
constexpr LONG kStatisticsShare = 25;
constexpr const char* kDustMapErrorText = "Dust Map Error";
// Revelation works as session kind 11, at 16 bits for sources of more than 8 bits a sample.
constexpr LONG kRevelationKind = 11;
constexpr LONG kWideSamplesBit = 0x10000000;
// The brightness filter counts in 1/256 EV.
constexpr double kBrightnessSteps = 256.0;

// The colour range of a sharpening-list entry's colour index: low, low softness, high, high softness.
std::array<double, 4> ListRange(LONG index) {
    if (index < 1 || index > kHueSixths)
        return {0.0, 0.0, 1.0, 0.0};
    const double low = (12.0 * index - 11) / kHueSlice;
    // The last sixth runs over the end of the circle.
    const double high = index == kHueSixths ? 1.0 / kHueSlice : (12.0 * index + 1) / kHueSlice;
    return {low, kHueSoftEdge, high, kHueSoftEdge};
}

// trunc(value) held to the 32-bit range; not a number gives 0.
LONG SaturatedTrunc(double value) {
    if (std::isnan(value))
        return 0;
    return static_cast<LONG>(std::clamp(std::trunc(value), -2147483648.0, 2147483647.0));
}

std::vector<BYTE> ParametersOf(const IPlugin& plugin) {
    std::vector<BYTE> bytes(static_cast<std::size_t>(std::max<LONG>(plugin.GetParameterSize(), 0)));
    if (!bytes.empty())
        bytes.resize(static_cast<std::size_t>(
            std::max<LONG>(plugin.GetParameters(bytes.data(), static_cast<LONG>(bytes.size())), 0)));
    return bytes;
}

} // namespace

CKvTolmoFilterChain::UpdateScope::UpdateScope(CKvTolmoFilterChain& c, UpdateProgress progress, void* context)
    : chain(c) {
    chain.m_progress = progress;
    chain.m_progressContext = context;
    chain.m_errorText.clear();
}

CKvTolmoFilterChain::UpdateScope::~UpdateScope() {
    chain.m_progress = nullptr;
    chain.m_progressContext = nullptr;
}

void CKvTolmoFilterChain::ReportProgress(LONG state, LONG percent, LONG category) const {
    if (m_progress)
        m_progress(state, percent, category, m_progressContext);
}

namespace {

// Set while a chain runs red-eye detection on this thread; detection runs inside the update, on the
// caller's thread.
thread_local const CKvTolmoFilterChain* t_detectingChain = nullptr;

} // namespace

bool CKvTolmoFilterChain::RelayDetectionProgress(LONG state, LONG percent, LONG category) {
    if (t_detectingChain)
        t_detectingChain->ReportProgress(state, percent, category);
    return true;
}

IPravonError* CKvTolmoFilterChain::DetectRedEyes(CFltFnRedeye& stage, bool notify) const {
    struct Detecting {
        const CKvTolmoFilterChain* outer;
        explicit Detecting(const CKvTolmoFilterChain* chain) : outer(t_detectingChain) {
            t_detectingChain = chain;
        }
        ~Detecting() { t_detectingChain = outer; }
    } detecting(this);
    return stage.DetectAuto(m_progress ? RelayDetectionProgress : nullptr, static_cast<LONG>(kRedEyeChanged),
                            notify);
}

void CKvTolmoFilterChain::NoteQuietChange(int number) {
    const auto& order = ProcessingOrder();
    const auto at = [&](int stage) {
        return std::find(order.begin(), order.end(), static_cast<Stage>(stage));
    };
    if (at(number) == order.end())
        return;
    if (m_quietlyChanged < 0 || at(number) < at(m_quietlyChanged))
        m_quietlyChanged = number;
}

void CKvTolmoFilterChain::SendQuietChanges() {
    // A failed update tells downstream too: the stages it changed quietly would otherwise keep their old
    // tiles downstream, and the next update does not change them again.
    if (m_quietlyChanged >= 0)
        PravonErrorPtr(
            PravonSendDataNotification(GetStage(m_quietlyChanged), PravonNotification::kUpdateAll, nullptr));
    m_quietlyChanged = -1;
}

int CKvTolmoFilterChain::UpdateSteps::Dust(ImageProperties& snapshot, LONG colorSpace, bool rawDevelopment) {
    auto* stage = static_cast<CFltDust*>(m_chain.GetStage(kDustStage));
    CKvDustRemoval* dust = snapshot.dustEnabled ? snapshot.dustRemoval : nullptr;
    if (!dust || (dust->IsEmpty() && !dust->HasDustMap()))
        return Outcome(stage->Enable(false, true));
    if (!dust->HasDustMap()) {
        // The map reports its percent only: its start and end are told by the percent.
        const CKvDustRemoval::CategoryProgress relay = [](LONG category, LONG percent, void* chain) {
            const LONG state = percent <= 0 ? kProgressStart : percent >= 100 ? kProgressEnd : kProgressStep;
            static_cast<const CKvTolmoFilterChain*>(chain)->ReportProgress(state, percent, category);
            return true;
        };
        PravonErrorPtr(dust->ComputeDustMap(m_chain.m_manager, m_chain.m_source, snapshot.tagControl,
                                            rawDevelopment, colorSpace == PravonColorSpace::kRawMosaic16,
                                            m_chain.m_progress ? relay : nullptr, &m_chain, kDustChanged));
    }
    if (!dust->HasDustMap()) {
        PravonErrorPtr(stage->Enable(false, true));
        m_chain.m_errorText = kDustMapErrorText;
        return kNoDustMap;
    }
    // Behind the linearising stage the samples are linear light and take the gain as they are.
    return Refused(stage->SetDustMap(dust->GetDustMap(), true)) ||
                   Refused(stage->SetDirectGain(m_chain.GetStage(kLineariseStage)->IsEnabled(), true)) ||
                   Refused(stage->Enable(true, true))
               ? kStageError
               : kOk;
}

int CKvTolmoFilterChain::UpdateSteps::Revelation(const ImageProperties& snapshot, LONG colorSpace,
                                                 DWORD mask) {
    auto* stage = static_cast<CFltRevelation*>(m_chain.GetStage(kRevelationStage));
    if (mask & kRevelationChanged) {
        const CKvRevelation* revelation = snapshot.revelationEnabled ? snapshot.revelation : nullptr;
        if (!revelation || revelation->IsOff()) {
            if (Refused(stage->Enable(false, true)))
                return kStageError;
        } else {
            const LONG depth = (colorSpace & kWideSamplesBit) ? 16 : 8;
            if (Refused(stage->SetParameters(kRevelationKind, depth, stage->GetFlag() ? 1 : 0, true)) ||
                Refused(stage->SetParameters2(revelation->GetFirstAmount(), revelation->GetThirdValue(),
                                              revelation->GetSecondAmount(), true)) ||
                Refused(stage->Enable(true, true)))
                return kStageError;
        }
    }
    // Its passes read the whole picture, so they run here, once, rather than inside the first tile asked
    // for downstream; everything they depend on is set by now. A failed run switches the stage off itself.
    if (stage->IsEnabled() && stage->IsDirty()) {
        m_chain.ReportProgress(kProgressStart, 0, kRevelationChanged);
        void* data = nullptr;
        if (!Refused(stage->LockTile(0, 0, &data, nullptr)))
            PravonErrorPtr(stage->UnlockTile(0, 0));
        m_chain.ReportProgress(kProgressEnd, 100, kRevelationChanged);
    }
    return kOk;
}

int CKvTolmoFilterChain::UpdateSteps::Fisheye(const ImageProperties& snapshot) {
    auto* stage = static_cast<CFisheyeFilter*>(m_chain.GetStage(kFisheyeStage));
    const CKvFisheye* fisheye = snapshot.fisheyeEnabled ? snapshot.fisheye : nullptr;
    if (!fisheye)
        return Outcome(stage->Enable(false, true));
    if (!stage->HasLensData()) {
        const PravonErrorPtr error(stage->SelectLensModel(snapshot.tagControl));
        if (error)
            return error->GetKind() == KvLensFileKind::kRejected ? kLensRejected : kLensError;
    }
    return Refused(stage->SetTableFlag(fisheye->GetEnabled() ? 1 : 0, true)) ||
                   Refused(stage->SetMode(fisheye->GetMode(), true)) || Refused(stage->Enable(true, true))
               ? kStageError
               : kOk;
}

int CKvTolmoFilterChain::UpdateSteps::ChromaBooster(ImageProperties& snapshot) {
    auto* stage = static_cast<CFltChromaBooster*>(m_chain.GetStage(kChromaBoosterStage));
    CKvChromaBooster* booster = snapshot.chromaBoosterEnabled ? snapshot.chromaBooster : nullptr;
    // A neutral booster is off and needs no calibration: a machine without the file still develops.
    if (!booster || booster->IsNeutral())
        return Outcome(stage->Enable(false, true));
    if (!stage->IsCalibrationLoaded()) {
        const PravonErrorPtr error(stage->LoadCalibration());
        if (error) {
            PravonErrorPtr(stage->Enable(false, true));
            return error->GetKind() == KvLchCalibrationKind::kWrongLength ? kBoosterCalibrationLength
                                                                          : kBoosterCalibrationError;
        }
    }
    if (Refused(stage->SetEnabled(booster->GetEnabled(), true)) ||
        Refused(stage->SetLevel(booster->GetAmount(), true)))
        return kStageError;
    // The calibrated default that the settings ask for becomes the level they hold from now on.
    if (booster->GetAmount() == CFltChromaBooster::kUseDefaultLevel)
        booster->SetAmount(stage->GetLevel());
    // It edits LCh samples only, which the LCh conversion before it makes while it is on.
    return Outcome(stage->Enable(m_chain.GetStage(kLchConversionStage)->IsEnabled(), true));
}

int CKvTolmoFilterChain::UpdateSteps::AutoBrightness(const ImageProperties& snapshot) {
    auto* stage = static_cast<CFltAutoBrightness*>(m_chain.GetStage(kAutoBrightnessStage));
    CKvBrightness* brightness = snapshot.brightness;
    if (brightness) {
        // The settings hear the levels the stage measures from the histogram.
        if (brightness->GetWatchCount(stage) == 0 && Refused(brightness->PravonFilterStartWatching(stage)))
            return kStageError;
        auto* histogram = static_cast<CPravonFilterHistogram*>(m_chain.GetStage(kOutputHistogramStage));
        if (Refused(stage->SetHistogram(histogram, true)))
            return kStageError;
    }
    if (!snapshot.brightnessEnabled || !brightness || brightness->IsNeutral())
        return Outcome(stage->Enable(false, true));
    return Refused(stage->SetLevels(-1, brightness->GetBlackLevel(), brightness->GetWhiteLevel(), true)) ||
                   Refused(stage->SetAuto(brightness->GetAutoMode(), true)) ||
                   Refused(stage->SetBrightness(SaturatedTrunc(brightness->GetValue() * kBrightnessSteps),
                                                true)) ||
                   Refused(stage->Enable(true, true))
               ? kStageError
               : kOk;
}

int CKvTolmoFilterChain::UpdateSteps::PluginStages(const ImageProperties& snapshot) {
    std::vector<IPlugin*> wanted;
    if (snapshot.filterPluginsEnabled && snapshot.filterPlugins)
        for (std::size_t i = 0; i < snapshot.filterPlugins->GetCount(); ++i)
            if (IPlugin* plugin = snapshot.filterPlugins->GetStep(i).GetPlugin())
                wanted.push_back(plugin);
    bool same = wanted.size() == m_chain.m_pluginStages.size();
    for (std::size_t i = 0; same && i < wanted.size(); ++i)
        same = m_chain.m_pluginStages[i].plugin == wanted[i] &&
               m_chain.m_pluginStages[i].settings == ParametersOf(*wanted[i]);
    if (same)
        return kOk;

    for (LONG at = m_chain.m_output->FindNext(CFltPlugin::kCode, 0); at != IPravonFilterChain::kNone;
         at = m_chain.m_output->FindNext(CFltPlugin::kCode, at))
        if (Refused(m_chain.m_output->RemoveAt(at)))
            return kStageError;
    m_chain.m_pluginStages.clear();
    CPravonFilterBase* anchor = m_chain.GetStage(kPluginAnchorStage);
    for (IPlugin* plugin : wanted) {
        PluginStage made;
        auto* filter = new (std::nothrow) CFltPlugin(m_chain.m_manager);
        made.filter.reset(filter);
        if (!filter)
            return kNoMemory;
        made.plugin = plugin;
        made.settings = ParametersOf(*plugin);
        if (Refused(m_chain.PravonFilterStartWatching(filter)) || Refused(filter->SetPlugin(plugin, false)) ||
            Refused(
                m_chain.m_output->Insert(filter, CFltPlugin::kCode, m_chain.m_output->GetPosition(anchor))))
            return kStageError;
        m_chain.m_pluginStages.push_back(std::move(made));
    }
    // Downstream hears of the change from the first plug-in stage, or from where they were.
    IPravonDataSource* changed = nullptr;
    if (!m_chain.m_pluginStages.empty())
        changed = m_chain.m_pluginStages.front().filter.get();
    else if (const LONG at = m_chain.m_output->GetPosition(anchor); at > 0)
        changed = m_chain.m_output->GetAt(at - 1);
    if (changed)
        PravonErrorPtr(PravonSendDataNotification(changed, PravonNotification::kUpdateAll, nullptr));
    return kOk;
}

int CKvTolmoFilterChain::UpdateSteps::PluginScales(const ImageProperties& snapshot, double scale) {
    const double factor = snapshot.sizeRes ? snapshot.sizeRes->GetScaleFactor() : 1.0;
    const double resolution =
        snapshot.sizeRes ? snapshot.sizeRes->GetResolution().value : CFltPlugin::kDefaultResolution;
    // The plug-ins see the picture at most at its own size.
    const double pluginScale = factor > 0 ? std::min(scale / factor, 1.0) : 1.0;
    for (const PluginStage& stage : m_chain.m_pluginStages)
        if (Refused(static_cast<CFltPlugin*>(stage.filter.get())
                        ->SetScaleAndResolution(pluginScale, resolution, true)))
            return kStageError;
    return kOk;
}

bool CKvTolmoFilterChain::IsPluginStage(const CPravonFilterBase* filter) const {
    return std::any_of(m_pluginStages.begin(), m_pluginStages.end(),
                       [filter](const PluginStage& stage) { return stage.filter.get() == filter; });
}

void CKvTolmoFilterChain::RefreshPluginStages() {
    // The update has succeeded whatever a plug-in answers here: a run that fails (a parameters dialog
    // cancelled) stays asked for, and the first tile of that stage runs it again and reports its error.
    for (const PluginStage& stage : m_pluginStages)
        PravonErrorPtr(static_cast<CFltPlugin*>(stage.filter.get())->Run());
}

int CKvTolmoFilterChain::LchEditorTables(CKvLutGroup& group, std::vector<WORD>* tables) {
    const std::size_t n = static_cast<std::size_t>(kLchTableSize);
    auto* lightness = dynamic_cast<CKvLutChannel*>(group.FindChannel(kLightnessChannel));
    auto* chroma = dynamic_cast<CKvChromaChannel*>(group.FindChannel(kChromaChannel));
    auto* hue = dynamic_cast<CKvHueChannel*>(group.FindChannel(kHueChannel));
    const bool calibrated = chroma && !chroma->GetCalibrationPoints().empty();
    const LONG count = calibrated ? CFltLch::kCurveCount + 1 : CFltLch::kCurveCount;
    tables->assign(n * static_cast<std::size_t>(count), 0);
    WORD* out[4] = {};
    for (LONG i = 0; i < count; ++i)
        out[i] = tables->data() + n * static_cast<std::size_t>(i);
    // A missing channel leaves its curve as it is: the identity ramp, or no chroma change (half range).
    bool built = true;
    if (lightness)
        built = lightness->BuildTable(out[CFltLch::kLightnessCurve], sizeof(WORD), kLchTableSize,
                                      kLchTableSize, kLchLightnessFlags, 0.0) == kLchTableSize;
    else
        for (LONG k = 0; k < kLchTableSize; ++k)
            out[CFltLch::kLightnessCurve][k] = static_cast<WORD>(k);
    if (hue)
        built = built && hue->BuildTable(out[CFltLch::kHueCurve], sizeof(WORD), kLchTableSize, kLchTableSize,
                                         0) == kLchTableSize;
    else
        for (LONG k = 0; k < kLchTableSize; ++k)
            out[CFltLch::kHueCurve][k] = static_cast<WORD>(k);
    // The gain k of the chroma channel lands at k / 2 of the range, where the editor reads
    // (k - 1) x 100 percent: 1.0 (half range) is no change.
    if (chroma)
        built = built && chroma->RenderChannelBitmap(kEditedSet, out[CFltLch::kChromaCurve], sizeof(WORD),
                                                     kLchTableSize, kLchTableSize,
                                                     kChromaRenderFlags) == kLchTableSize;
    else
        std::fill_n(out[CFltLch::kChromaCurve], n, static_cast<WORD>(kLchTableSize / 2));
    if (calibrated)
        built = built && chroma->RenderChannelBitmap(kCalibrationSet, out[CFltLch::kCurveCount], sizeof(WORD),
                                                     kLchTableSize, kLchTableSize,
                                                     kChromaRenderFlags) == kLchTableSize;
    return built ? count : 0;
}

int CKvTolmoFilterChain::UpdateSteps::LchEditor(const ImageProperties& snapshot) {
    auto* stage = static_cast<CFltLch*>(m_chain.GetStage(kLchEditorStage));
    CKvLutGroup* group = snapshot.lutGroup3Enabled ? snapshot.lutGroup3 : nullptr;
    // A neutral group changes nothing and needs no calibration: a machine without the file still develops.
    if (!group || group->IsNeutral())
        return Outcome(stage->Enable(false, true));
    if (!stage->IsCalibrationLoaded()) {
        const PravonErrorPtr error(stage->LoadCalibration());
        if (error) {
            PravonErrorPtr(stage->Enable(false, true));
            return error->GetKind() == KvLchCalibrationKind::kWrongLength ? kEditorCalibrationLength
                                                                          : kEditorCalibrationError;
        }
    }
    std::vector<WORD> tables;
    LONG count = 0;
    try {
        count = LchEditorTables(*group, &tables);
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
    if (count == 0)
        return Outcome(stage->Enable(false, true));
    const WORD* pointers[4] = {};
    for (LONG i = 0; i < count; ++i)
        pointers[i] = tables.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(kLchTableSize);
    if (Refused(stage->SetCurves(pointers, kLchTableBits, kLchTableBits, count, true)))
        return kStageError;
    // It edits LCh samples only, which the LCh conversion before it makes while it is on.
    return Outcome(stage->Enable(m_chain.GetStage(kLchConversionStage)->IsEnabled(), true));
}

int CKvTolmoFilterChain::UpdateSteps::LostDetail(const ImageProperties& snapshot) {
    auto* stage = static_cast<CFltThreshold*>(m_chain.GetStage(kLostDetailStage));
    if (!snapshot.lostHighlights && !snapshot.lostShadows)
        return Outcome(stage->Enable(false, true));
    return Refused(stage->SetThreshold(snapshot.lostHighlights ? kHighlightThreshold : 0, true)) ||
                   Refused(stage->Enable(true, true))
               ? kStageError
               : kOk;
}

int CKvTolmoFilterChain::UpdateSteps::SharpeningList(const ImageProperties& snapshot, double scale) {
    const bool counted = m_chain.GetStage(kLchConversionStage)->IsEnabled() && m_chain.m_rawProcessingFlag;
    const CKvUSMList* list =
        counted && snapshot.usmListEnabled && snapshot.usmList ? snapshot.usmList : nullptr;
    const std::size_t wanted = list ? std::min(list->GetCount(), kMostListStages) : 0;
    // The list works at the first reduction's scale when the LCh stages run; else it is off anyway.
    const double listScale = counted ? (m_chain.m_firstUsed ? m_chain.m_firstReduction : 1.0) : scale;
    const double aspect =
        !m_chain.m_firstAspectConsumed && snapshot.rawFlag && snapshot.cameraModelCode == 259
            ? kModel259Aspect
            : 1.0;
    bool changed = false;
    CPravonFilterBase* anchor = m_chain.GetStage(kOutputConversionStage);
    while (m_chain.m_listStages.size() > wanted) {
        const LONG at = m_chain.m_output->GetPosition(m_chain.m_listStages.back().get());
        if (at != IPravonFilterChain::kNone && Refused(m_chain.m_output->RemoveAt(at)))
            return kStageError;
        m_chain.m_listStages.pop_back();
        changed = true;
    }
    while (m_chain.m_listStages.size() < wanted) {
        auto* made = new (std::nothrow) CUnsharpMaskFilter(m_chain.m_manager);
        if (!made)
            return kNoMemory;
        std::unique_ptr<CUnsharpMaskFilter> stage(made);
        if (Refused(m_chain.m_output->Insert(made, CUnsharpMaskFilter::kCode,
                                             m_chain.m_output->GetPosition(anchor))))
            return kStageError;
        m_chain.m_listStages.push_back(std::move(stage));
        changed = true;
    }
    for (std::size_t i = 0; i < wanted; ++i) {
        auto& stage = static_cast<CUnsharpMaskFilter&>(*m_chain.m_listStages[i]);
        const CKvUSM& entry = list->GetEntry(i);
        const std::array<double, 4> range = ListRange(entry.GetChannelSelection());
        std::array<double, 4> held{};
        stage.GetRange(&held[0], &held[1], &held[2], &held[3]);
        const double r = entry.GetRadiusCode() * std::min(listScale, 1.0) * kUsmRadiusUnit;
        const bool wide = r >= kUsmSmallestRadius;
        const double radiusX = wide ? r : 1.0;
        const double radiusY = radiusX / aspect;
        const double power =
            wide ? entry.GetAmountCode() * kUsmAmountUnit : entry.GetAmountCode() * r * kUsmAmountUnit;
        const double threshold = entry.GetThresholdCode() * kUsmThresholdUnit;
        if (held == range && stage.GetXRadius() == radiusX && stage.GetYRadius() == radiusY &&
            stage.GetPower() == power && stage.GetThreshold() == threshold &&
            stage.GetMaskMethod() == kUsmMaskMethod)
            continue;
        changed = true;
        if ((held != range && Refused(stage.SetRange(range[0], range[1], range[2], range[3], false))) ||
            Refused(stage.SetThreshold(threshold, false)) ||
            Refused(stage.SetRadii(radiusX, radiusY, false)) || Refused(stage.SetPower(power, false)) ||
            Refused(stage.SetMaskMethod(kUsmMaskMethod, false)))
            return kStageError;
    }
    if (!changed)
        return kOk;
    // Downstream hears of it once, from the first list stage or from the stage now before the output
    // conversion.
    IPravonDataSource* from = nullptr;
    if (!m_chain.m_listStages.empty())
        from = m_chain.m_listStages.front().get();
    else if (const LONG at = m_chain.m_output->GetPosition(anchor); at > 0)
        from = m_chain.m_output->GetAt(at - 1);
    if (from)
        PravonErrorPtr(PravonSendDataNotification(from, PravonNotification::kUpdateAll, nullptr));
    return kOk;
}

PravonRect CKvTolmoFilterChain::ActiveSensorArea(WORD model, LONG fullWidth, LONG fullHeight, LONG ratio) {
    PravonRect area{0, 0, fullWidth, fullHeight};
    switch (model) {
    case 260:
        area = {9, 3, 2473, 1635};
        break;
    case 1025:
        area = {7, 6, 3015, 2006};
        break;
    case 1026:
        area = {9, 1, 3017, 2001};
        break;
    default:
        break;
    }
    ratio = std::max<LONG>(ratio, 1);
    return {area.left / ratio, area.top / ratio, area.right / ratio, area.bottom / ratio};
}

int CKvTolmoFilterChain::SetUpSensorArea(CDeBayerBase& stage, const ImageProperties& snapshot) {
    LONG colorSpace = 0, width = 0, height = 0;
    if (!m_source || Refused(m_source->GetColorSpace(&colorSpace)) ||
        Refused(m_source->GetSize(&width, &height)))
        return kStageError;
    // Without the full size in the tags the source is the whole sensor.
    LONG fullWidth = width, fullHeight = height;
    IPravonTagControl* tags = snapshot.tagControl;
    if (!tags || Refused(tags->ReadTag(kFullWidthTag, 3, 4, &fullWidth)) ||
        Refused(tags->ReadTag(kFullHeightTag, 3, 4, &fullHeight))) {
        fullWidth = width;
        fullHeight = height;
    }
    const PravonRect image{0, 0, width, height};
    const PravonRect area =
        ActiveSensorArea(snapshot.cameraModelCode, fullWidth, fullHeight, SourceRatio(snapshot, colorSpace));
    return Outcome(stage.SetCropRect(area, &image, true));
}

void CKvTolmoFilterChain::ForwardStageProgress(CPravonFilterBase* filter, LONG type, void* data) const {
    if (!data)
        return;
    if (type == CFltPlugin::kCode && IsPluginStage(filter)) {
        // A run announces itself as 0 of 1 and ends at its total.
        const auto* run = static_cast<const CFltPlugin::Progress*>(data);
        const bool start = run->position <= 0 && run->total == 1;
        const bool end = run->total > 0 && run->position >= run->total;
        const LONG percent = run->total > 0 ? static_cast<LONG>(std::clamp<std::int64_t>(
                                                  std::int64_t{run->position} * 100 / run->total, 0, 100))
                                            : 0;
        ReportProgress(start ? kProgressStart
                       : end ? kProgressEnd
                             : kProgressStep,
                       start ? 0 : percent, kPluginListChanged);
        return;
    }
    if (filter != GetStage(kRevelationStage) || type != CFltRevelation::kProgressNotification)
        return;
    const auto* progress = static_cast<const CFltRevelation::CProgress*>(data);
    const double done = progress->total > 0
                            ? std::clamp(static_cast<double>(progress->progress) / progress->total, 0.0, 1.0)
                            : 0.0;
    LONG from = 0, to = 100;
    if (progress->code == CFltRevelation::kStatisticsCode)
        to = kStatisticsShare;
    else if (progress->code == CFltRevelation::kOutputCode)
        from = kStatisticsShare;
    ReportProgress(kProgressStep, from + static_cast<LONG>(done * (to - from)), kRevelationChanged);
}
