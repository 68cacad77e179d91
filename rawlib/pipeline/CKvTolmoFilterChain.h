// The internal development chain behind the exported filter-chain object: every stage the development of
// one picture may need, made once, put into one framework filter chain in a fixed processing order and
// left disabled; later updates only switch stages on or off and change their parameters.
#pragma once

#include "CProcessRawVendor1.h"

#include "filters/CPravonFilterCMLEngine.h"
#include "filters/engine/CPravonFilterBase.h"
#include "filters/engine/CPravonFilterWatcher.h"
#include "platform/pravon/IPravonFilterChain.h"

class ImageProperties;
class CKvLutGroup;
class CDeBayerBase;
class CFltFnRedeye;
class CKvUSM;
class CUnsharpMaskFilter;
class IPlugin;

#include <array>
#include <memory>
#include <string>
#include <vector>

class CKvTolmoFilterChain : public CPravonFilterWatcher {
public:
    // The stages by their number in the stage table. Every stage is made once by the build and stays in
    // its place; 34, 35 and 38 are numbers the development modes never make.
    enum Stage : int {
        kStandardDemosaicStage = 0,
        kQualityDemosaicStage = 1,
        // 12-bit samples to 16-bit linear light, to square-root samples, and back to linear light.
        kLineariseStage = 2,
        kRelineariseStage = 3,
        kSquareRootStage = 4,
        // The white-balance and exposure gains with the tone curve (GainTables).
        kGainsStage = 5,
        kLabConversionStage = 6,
        kLchConversionStage = 7,
        kOutputConversionStage = 8,
        kCustomConversionStage = 9,
        kOutputHistogramStage = 10,
        kLinearHistogramStage = 11,
        kLchHistogramStage = 12,
        // The scale stages, in the roles the output scale is split into (CKvTolmoScaleSplit).
        kFirstScaleStage = 13,
        kSecondScaleStage = 14,
        kEnlargeScaleStage = 15,
        kEnlargeToSizeScaleStage = 16,
        kAspectScaleStage = 17,
        kTransformStage = 18,
        kCameraSharpeningStage = 19,
        kGeneralSharpeningStage = 20,
        kGridStage = 21,
        kColorNoiseStage = 22,
        kFineEdgeStage = 23,
        kSaturationCompensationStage = 24,
        kVignetteStage = 25,
        kNativeOrderStage = 26,
        kCropStage = 27,
        kSecondCurvesStage = 28,
        kFirstCurvesStage = 29,
        // The output depth without colour management, while the output conversion is off.
        kOutputDepthStage = 30,
        kChannelMixerStage = 31,
        kToneTable8Stage = 32,
        kLostDetailStage = 33,
        kVisualCropStage = 34,
        kInfoPlaceHolderStage = 35,
        kDustStage = 36,
        kRevelationStage = 37,
        kWhiteBalancePlaceHolderStage = 38,
        kFisheyeStage = 39,
        kLchEditorStage = 40,
        kChromaBoosterStage = 41,
        kRedEyeStage = 42,
        kMoireStage = 43,
        // The camera settings' hue and saturation tables on LCh samples (CameraToneTables).
        kCameraToneStage = 44,
        kAutoBrightnessStage = 45,
    };
    static constexpr int kStageCount = 46;
    static constexpr std::size_t kMadeStageCount = 43;
    // One place in the processing order: the stage and why it stands there.
    struct OrderRow {
        Stage stage;
        const char* reason;
    };
    static const std::array<OrderRow, kMadeStageCount>& ProcessingRows();
    // The stages of ProcessingRows alone, and the order the build makes them in.
    static const std::array<Stage, kMadeStageCount>& ProcessingOrder();
    static const std::array<Stage, kMadeStageCount>& CreationOrder();

    // The change bits of an update's mask: each names the settings that changed, and the update re-derives
    // only the stages that depend on them.
    static constexpr DWORD kFirstCurvesChanged = 0x1;
    static constexpr DWORD kSecondCurvesChanged = 0x2;
    static constexpr DWORD kSharpeningListChanged = 0x4;
    // No stage shows the grid in the development modes the chain is driven in.
    static constexpr DWORD kGridChanged = 0x8;
    static constexpr DWORD kOutputSizeChanged = 0x10;
    static constexpr DWORD kOrientationChanged = 0x20;
    static constexpr DWORD kWhiteBalanceChanged = 0x80;
    static constexpr DWORD kExposureChanged = 0x100;
    static constexpr DWORD kNoiseReductionChanged = 0x200;
    static constexpr DWORD kVignetteChanged = 0x400;
    static constexpr DWORD kCropChanged = 0x800;
    static constexpr DWORD kRedEyeChanged = 0x1000;
    static constexpr DWORD kModeChanged = 0x2000;
    static constexpr DWORD kOutputChanged = 0x4000;
    static constexpr DWORD kMixerChanged = 0x8000;
    static constexpr DWORD kCameraSettingsFlagChanged = 0x10000;
    static constexpr DWORD kLostDetailChanged = 0x20000;
    static constexpr DWORD kDustChanged = 0x40000;
    static constexpr DWORD kRevelationChanged = 0x80000;
    static constexpr DWORD kFisheyeChanged = 0x100000;
    static constexpr DWORD kLchEditorChanged = 0x200000;
    static constexpr DWORD kPluginListChanged = 0x400000;
    static constexpr DWORD kChromaBoosterChanged = 0x800000;
    static constexpr DWORD kAutoBrightnessChanged = 0x1000000;
    static constexpr DWORD kEverything = 0x7fffffff;
    static constexpr DWORD kCurvesChanged = kFirstCurvesChanged | kSecondCurvesChanged;
    // The bits after which the plug-in stages take their scale and resolution again.
    static constexpr DWORD kPluginScaleBits = kPluginListChanged | kCropChanged | kOutputSizeChanged;
    static constexpr DWORD kSharpeningListBits =
        kSharpeningListChanged | kOutputSizeChanged | kCameraSettingsFlagChanged;

    // The chain's results of Build, Update and each update step, one cause to a value; KvnChainError
    // turns them into errors.
    static constexpr int kOk = 0;
    // A stage refused its parameters.
    static constexpr int kStageError = 1;
    static constexpr int kBadArgument = 2;
    static constexpr int kNoMemory = 3;
    static constexpr int kAlreadyBuilt = 4;
    static constexpr int kNotBuilt = 5;
    // The source's colour space cannot be read, or its size, which the output scale is split by.
    static constexpr int kSourceUnreadable = 6;
    static constexpr int kStageSetup = 7;
    static constexpr int kNoConnection = 8;
    static constexpr int kColorEngineError = 9;
    static constexpr int kNoDustMap = 10;
    static constexpr int kLensError = 11;
    static constexpr int kLensRejected = 12;
    static constexpr int kEditorCalibrationError = 13;
    static constexpr int kEditorCalibrationLength = 14;
    static constexpr int kBoosterCalibrationError = 15;
    static constexpr int kBoosterCalibrationLength = 16;
    // An update of this chain is running already (one started from a callback of another).
    static constexpr int kUpdating = 17;

    // The update's progress: state 0 at the start of a step, 1 on the way, 2 with percent 100 at its end;
    // category: the change bit of the step (kRedEyeChanged, kDustChanged, kRevelationChanged,
    // kPluginListChanged).
    using UpdateProgress = void (*)(LONG state, LONG percent, LONG category, void* context);
    static constexpr LONG kProgressStart = 0;
    static constexpr LONG kProgressStep = 1;
    static constexpr LONG kProgressEnd = 2;

    static constexpr ULONG kExposureFactorTag = 0x80E0F;
    static constexpr ULONG kToneSelectorTag = 0x80081;
    // The white-balance and exposure gains of the gain stage, then its tone curve: three 4096-entry
    // tables for 12-bit input and 16-bit output (red, green, blue, each table * 4096 entries).
    static std::vector<WORD> GainTables(const ImageProperties& snapshot);

    struct OutputParameters {
        bool profileRequested = false;
        LONG renderingIntent = 0;
        bool customProfile = false;
        std::string customProfilePath;
        bool depthDiffers = false;
        LONG bitsPerChannel = 16;
    };

    CKvTolmoFilterChain() = default;
    ~CKvTolmoFilterChain() override;

    // Makes every stage, links them into the output chain and connects the source to its input; the
    // destination, when given, is connected to the output. A failed build keeps nothing it made.
    int Build(IPravonManager* manager, IPravonDataSource* source,
              IPravonDataDestination* destination = nullptr);
    bool IsBuilt() const { return m_built; }
    IPravonFilterChain* GetOutput() const { return m_output.get(); }
    CPravonFilterBase* GetStage(int number) const {
        return number >= 0 && number < kStageCount ? m_stages[static_cast<std::size_t>(number)].get()
                                                   : nullptr;
    }
    // Re-derives the stages the mask names from the snapshot; a chain result code. The stages already
    // updated keep their parameters when a later step fails, and caches downstream are told either way.
    // The progress, when given, hears the steps that take long (see UpdateProgress).
    int Update(ImageProperties* snapshot, DWORD mask, double outputScale, UpdateProgress progress = nullptr,
               void* context = nullptr);
    // Attaches a new source to the chain's input and announces it downstream; false when refused.
    bool ReattachSource(IPravonDataSource* source);

    // Stored for the next update.
    void SetDevelopmentMode(DWORD mode) { m_developmentMode = mode; }
    DWORD GetDevelopmentMode() const { return m_developmentMode; }
    void SetNativeOrder(bool on) { m_nativeOrder = on; }
    bool GetNativeOrder() const { return m_nativeOrder; }
    // Reaches the scale stages at once when the chain is built (all but the fixed one).
    void SetScalingMethod(DWORD method);
    DWORD GetScalingMethod() const { return m_scalingMethod; }
    // Every stage gets the usage, then the stages that must keep or must not keep tiles their own.
    void SetCacheUsage(DWORD usage);
    DWORD GetCacheUsage() const { return m_cacheUsage; }
    void SetOutputParameters(const OutputParameters& parameters) { m_outputParameters = parameters; }
    const OutputParameters& GetOutputParameters() const { return m_outputParameters; }
    void SetRawProcessingFlag(BYTE flag) { m_rawProcessingFlag = flag; }
    BYTE GetRawProcessingFlag() const { return m_rawProcessingFlag; }
    void SetOutputSize(LONG width, LONG height) {
        m_outputWidth = width;
        m_outputHeight = height;
    }
    // True when the value changed.
    bool SetActive(DWORD active);
    DWORD GetActive() const { return m_active; }

    // The description of the output profile the last update chose.
    const std::string& GetProfileDescription() const { return m_profileDescription; }
    const std::string& GetOutputProfile() const { return m_outputProfile; }
    // The profile the picture's samples are converted from, as the last update chose it.
    const std::string& GetInputProfile() const { return m_inputProfile; }
    // The text of the last update's failure that has one ("Dust Map Error"), else empty.
    const std::string& GetErrorText() const { return m_errorText; }
    // The filter plug-in stages, in processing order, just before the last output scale stage.
    std::size_t GetPluginStageCount() const { return m_pluginStages.size(); }
    CPravonFilterBase* GetPluginStage(std::size_t index) const {
        return index < m_pluginStages.size() ? m_pluginStages[index].filter.get() : nullptr;
    }
    // The unsharp-mask stages of the sharpening list, in processing order, just before the output
    // conversion.
    std::size_t GetListStageCount() const { return m_listStages.size(); }
    CPravonFilterBase* GetListStage(std::size_t index) const {
        return index < m_listStages.size() ? m_listStages[index].get() : nullptr;
    }
    // Stages that change without telling downstream record themselves here; the end of the update tells
    // downstream once, from the earliest of them in processing order.
    void NoteQuietChange(int number);

    // The raw processor of camera models 513 to 516 (CKvTolmoRawProgress.cpp). The chain reports its
    // conversion's progress through an update's callback under kModeChanged; the owner sets none (its
    // callers hand the processor's image in as the source), so without one nothing is hooked.
    // Holds a reference on the processor; null lets go of it.
    void SetRawProcessor(CProcessRawVendor1* processor);
    CProcessRawVendor1* GetRawProcessor() const { return m_rawProcessor; }
    // The update's progress (state, percent) of one value the processor reports; false for the codes that
    // only tell that a receiver came or went.
    static bool RawProgressOf(LONG current, LONG total, LONG* state, LONG* percent);

    // Stage set-up rules: what each stage that an update names gets from the snapshot
    // (CKvTolmoStageSetup.cpp).
    // The sensitivity the high-quality demosaicing is tuned by, from the two halves of the sensitivity tag:
    // the second half when the first is 0, else -1 or -2 for two or four times the base (1600, 800 for
    // camera model 259) and 0 for anything else.
    static LONG DemosaicSensitivity(WORD first, WORD second, WORD model);
    // The colour-noise strength of a noise-reduction level (0 .. 10; 0 for any other level).
    static double ColorNoiseStrength(LONG level);
    // The lightness, chroma and hue tables (65536 entries each, in that order) of the camera's hue level
    // and saturation factor; empty when they change nothing (level 3, factor 1).
    static std::vector<WORD> CameraToneTables(LONG hueLevel, double saturation);
    // The crop stage's rectangle for the size settings' crop, in the coordinates of its input.
    struct CropInput {
        double left = 0, top = 0, right = 0, bottom = 0;
        LONG ratio = 1;
        double firstScale = 1.0; // the first scale stage's factor when it was used, else 1
        bool model259Raw = false;
        bool aspectConsumedByFirst = false;
        bool laterScalesOff = false; // the second, enlarging and aspect scale stages all disabled
        LONG outputWidth = 0, outputHeight = 0;
    };
    static PravonRect CropRectangle(const CropInput& in);
    // The camera's own sharpening (its stage): whether the snapshot's camera settings ask for it, and its
    // unsharp-mask entry (when `entry` is given).
    static bool CameraSharpening(const ImageProperties& snapshot, CKvUSM* entry);
    // The lightness, hue and chroma tables of an LCh group (65536 entries each, in the order the editor
    // takes them) and, when its chroma channel holds a calibration set, that set as a fourth; the number
    // of tables, 0 when a channel cannot render.
    static int LchEditorTables(CKvLutGroup& group, std::vector<WORD>* tables);
    // The part of the sensor that holds the picture, in the coordinates of a source R times smaller than
    // the full sensor: a margin for camera models 260, 1025 and 1026, the whole full size for the others.
    static PravonRect ActiveSensorArea(WORD model, LONG fullWidth, LONG fullHeight, LONG ratio);

protected:
    IPravonError* PravonFilterNotify(CPravonFilterBase* filter, LONG type, void* data) override;

private:
    int CreateStages();
    int ParameteriseStages();
    void ReleaseAll();

    // The update's steps, which Update runs in its order; each returns the chain's result (kOk, or the
    // result of its failure), and the first failure ends the update.
    // The demosaicing stage of the development mode, set up for the source.
    int SetUpDemosaic(CPravonFilterBase* stage, const ImageProperties& snapshot);
    // The demosaicing stage's crop to the active sensor area, within the source.
    int SetUpSensorArea(CDeBayerBase& stage, const ImageProperties& snapshot);
    // The gain stage on for a raw development, with the snapshot's tables.
    int SetUpGains(const ImageProperties& snapshot, bool rawDevelopment);
    // The full sensor width over the source's (1 unless the source is a reduced copy of the picture).
    LONG SourceRatio(const ImageProperties& snapshot, LONG colorSpace) const;
    // The moire and fine-edge stages, which work only at full size or larger.
    int UpdateDetailStages(const ImageProperties& snapshot, LONG ratio, double displayScale);
    // The output scale spread over the scale stages.
    int UpdateScaleStages(const ImageProperties& snapshot, LONG colorSpace, LONG ratio, double outputScale);
    // Steps that run on every update: the Lab, LCh and output conversions.
    int SetUpLabConversion(const ImageProperties& snapshot, double displayScale);
    int SetUpLchConversion(const ImageProperties& snapshot);
    int SetUpOutputConversion(const ImageProperties& snapshot);
    int SetUpCustomConversion(const ImageProperties& snapshot);
    int SetUpColorNoise(const ImageProperties& snapshot, LONG ratio, double displayScale);
    // The vignette stage from the settings and the picture's lens tags; aspect: the pixels' stretch.
    int SetUpVignette(const ImageProperties& snapshot, double aspect);
    // The red-eye stage in the settings' mode, with their regions, or the regions it finds written back.
    int SetUpRedEye(const ImageProperties& snapshot);
    int SetUpCrop(const ImageProperties& snapshot, LONG ratio);
    int SetUpCurves(const ImageProperties& snapshot, DWORD mask);
    int SetUpCameraTone(const ImageProperties& snapshot);
    int SetUpSharpening(const ImageProperties& snapshot, bool secondToo);
    // One of the two unsharp-mask stages set from its entry at the update's first-reduction scale.
    int SetUpSharpeningStage(CUnsharpMaskFilter& stage, const CKvUSM& entry, const ImageProperties& snapshot);
    int UpdateOrientation(const ImageProperties& snapshot);
    int UpdateMixer(const ImageProperties& snapshot);
    int UpdateOutputDepth();
    // The steps of the optional corrections, the displays and the stages the update adds and removes, in
    // the chain's private CKvTolmoUpdateSteps.h.
    class UpdateSteps;
    // The end of a successful update: each plug-in stage runs its plug-in's run step over the whole picture
    // it now sees (where a plug-in settles its parameters), once it is ready for one.
    void RefreshPluginStages();
    bool IsPluginStage(const CPravonFilterBase* filter) const;
    // Sends the one notice for the quiet changes, from the earliest stage that changed without telling
    // the stages after it; every update ends with it, failed or not.
    void SendQuietChanges();

    struct CameraTone {
        LONG hueLevel = 3;
        double saturation = 1.0;
    };
    CameraTone CameraToneOf(const ImageProperties& snapshot) const;
    bool GeneralSharpeningApplies(const ImageProperties& snapshot) const;
    // The saturation-compensation level of a raw picture: the camera settings' when their override is
    // set, else the camera's own; 0 for other pictures.
    static LONG SaturationCompensation(const ImageProperties& snapshot);
    bool LchWanted(const ImageProperties& snapshot) const;
    bool ColorNoiseWanted(const ImageProperties& snapshot, double displayScale) const;
    // kColorEngineError, with the failure's text for the exported object.
    int ColorEngineFailure();
    // Makes the engine's transform now; false when it cannot be made.
    static bool PrepareEngine(CPravonFilterCMLEngine* engine);

    // Holds the update's progress for its duration and clears the last failure's text.
    struct UpdateScope {
        UpdateScope(CKvTolmoFilterChain& chain, UpdateProgress progress, void* context);
        ~UpdateScope();
        CKvTolmoFilterChain& chain;
    };
    void ReportProgress(LONG state, LONG percent, LONG category) const;
    // Automatic red-eye detection on the stage, its progress heard as the update's.
    IPravonError* DetectRedEyes(CFltFnRedeye& stage, bool notify) const;
    // The red-eye filter's progress carries a number (the category), not the chain: the chain detecting on
    // this thread hears it.
    static bool RelayDetectionProgress(LONG state, LONG percent, LONG category);
    // The Revelation stage's passes as steps of the update (its statistics pass the first quarter, its
    // output pass the rest) and the plug-in stages' runs.
    void ForwardStageProgress(CPravonFilterBase* filter, LONG type, void* data) const;

    class RawProgress final : public CProcessRawVendor1::IProgress {
    public:
        explicit RawProgress(const CKvTolmoFilterChain& chain) : m_chain(chain) {}
        int Progress(LONG current, LONG total) override;

    private:
        const CKvTolmoFilterChain& m_chain;
    };
    // For a processed-raw update the processor reports to the chain; its former receiver comes back at the
    // update's end.
    struct RawProgressScope {
        RawProgressScope(CKvTolmoFilterChain& chain, bool processedRaw);
        ~RawProgressScope();
        CProcessRawVendor1* processor = nullptr;
        CProcessRawVendor1::IProgress* former = nullptr;
    };

    struct PluginStage {
        std::unique_ptr<CPravonFilterBase> filter;
        const IPlugin* plugin = nullptr;
        // The parameters the plug-in held when its stage was made.
        std::vector<BYTE> settings;
    };

    // Declared in the order that lets the engines go last: the destructor empties the stages first.
    // One each for the Lab, LCh, output and custom conversions.
    std::array<CPravonFilterCMLEngine::Holder, 4> m_engines;
    std::string m_profileDescription;
    std::string m_outputProfile;
    std::string m_inputProfile;
    // What the last update's steps left for the steps after them.
    bool m_lchChanged = false;
    bool m_firstAspectConsumed = false;
    bool m_firstUsed = false;

    std::array<std::unique_ptr<CPravonFilterBase>, kStageCount> m_stages;
    PravonFilterChainPtr m_output;
    IPravonManager* m_manager = nullptr;
    IPravonDataSource* m_givenSource = nullptr;
    IPravonDataSource* m_source = nullptr;
    DWORD m_developmentMode = 2;
    bool m_nativeOrder = false;
    DWORD m_scalingMethod = 0;
    DWORD m_cacheUsage = 2;
    OutputParameters m_outputParameters;
    BYTE m_rawProcessingFlag = 1;
    LONG m_outputWidth = 0;
    LONG m_outputHeight = 0;
    DWORD m_active = 0;
    // The first reduction's factor of the last update (1 when the first scale stage is off).
    double m_firstReduction = 1.0;
    bool m_built = false;
    bool m_updating = false;
    int m_quietlyChanged = -1;
    std::vector<PluginStage> m_pluginStages;
    std::vector<std::unique_ptr<CPravonFilterBase>> m_listStages;

    UpdateProgress m_progress = nullptr;
    void* m_progressContext = nullptr;
    std::string m_errorText;
    RawProgress m_rawProgress{*this};
    CProcessRawVendor1* m_rawProcessor = nullptr; // referenced
};

// The error of a chain result code (null for kOk), with the kinds the exported object reports.
// The chain's own text of the failure (such as "Dust Map Error"), when it has one, is the error's message.
IPravonError* KvnChainError(int result, const std::string& text = std::string());
