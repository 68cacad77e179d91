#include "CKvnProcessRawVendor1.h"

#include "rawlib/settings/CKvImageProcSet.h"
#include "rawlib/settings/KvColorTemperature.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Errors of the exported object carry no component of their own.
constexpr LONG kComponent = 0;
constexpr LONG kTagTypeBytes = 1;
constexpr LONG kTagTypeLong = 4;
// Kind 1001: the stored input cannot be used.
constexpr LONG kBadInput = PravonKind::kNoSuchPass;
constexpr WORD kSmallGainModels = 514; // models 513 and 514 take gains in 128ths
constexpr double kSmallGainUnit = 128.0;
constexpr double kLargeGainUnit = 256.0;
constexpr LONG kSmallGainLimit = 512;
constexpr LONG kLargeGainLimit = 1024;
constexpr double kFactorUnit = 256.0;
constexpr LONG kNeutralPreset = 256;
// A gain this small or smaller is no gain at all.
constexpr double kSmallestGain = 1e-6;

IPravonError* BadArgument(const char* what) {
    return PravonFail(kComponent, PravonKind::kBadArgument, what);
}

IPravonError* Unsupported(LONG type) {
    return PravonFail(kComponent, PravonKind::kOutOfRange,
                      "raw option " + std::to_string(type) + " is not supported");
}

// Truncates toward zero and saturates to [low, high]; not a number gives `low`.
LONG Saturate(double value, LONG low, LONG high) {
    if (!(value > low))
        return low;
    if (value >= high)
        return high;
    return static_cast<LONG>(value);
}

double GainOrOne(const BYTE* bytes) {
    double gain = 0.0;
    std::memcpy(&gain, bytes, sizeof gain);
    return std::isfinite(gain) && gain > kSmallestGain ? gain : 1.0;
}

LONG FirstModeOf(LONG value) {
    switch (value) {
    case 0:
        return 1;
    case 2:
        return 2;
    case 3:
        return 0;
    case 4:
        return 3;
    default:
        return 4;
    }
}

LONG SecondModeOf(LONG toneMode) {
    switch (toneMode) {
    case 0:
        return 1;
    case 2:
    case 5:
        return 3;
    case 3:
    case 6:
        return 2;
    default:
        return 0;
    }
}

LONG ToneFactorOf(IPravonTagControl* tags) {
    LONG code = 0;
    if (!tags || !tags->TagExists(CKvnProcessRawVendor1::kToneTag) ||
        PravonErrorPtr(tags->ReadTag(CKvnProcessRawVendor1::kToneTag, kTagTypeLong, sizeof code, &code)))
        return 256;
    switch (code) {
    case -2:
        return 192;
    case -1:
        return 224;
    case 1:
        return 288;
    default:
        return 256;
    }
}

} // namespace

IPravonError* IKvnProcessRawVendor1::CreateObject(IPravonManager* manager, IKvnProcessRawVendor1** out) {
    if (!manager || !out)
        return BadArgument("no manager or no place for the raw processor");
    *out = nullptr;
    auto* processor = new (std::nothrow) CProcessRawVendor1(manager);
    if (!processor)
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the raw processor");
    auto* object = new (std::nothrow) CKvnProcessRawVendor1(processor);
    processor->Release(); // the object holds its own reference
    if (!object)
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the raw processor object");
    *out = object;
    return nullptr;
}

CKvnProcessRawVendor1::CKvnProcessRawVendor1(CProcessRawVendor1* processor) : m_processor(processor) {
    m_processor->AddRef();
    m_processor->SetServingImage(this);
}

CKvnProcessRawVendor1::~CKvnProcessRawVendor1() {
    m_processor->SetProgressReceiver(nullptr);
    m_processor->SetServingImage(nullptr);
    m_processor->Release();
}

ULONG CKvnProcessRawVendor1::Release() {
    const ULONG left = --m_references;
    if (left == 0)
        delete this;
    return left;
}

CKvnProcessRawVendor1::Derived
CKvnProcessRawVendor1::DeriveParameters(const ImageProperties& snapshot,
                                        const CProcessRawVendor1::Parameters& current) {
    Derived derived;
    derived.parameters = current;
    derived.redGain = current.redGain;
    derived.blueGain = current.blueGain;
    const WORD model = snapshot.cameraModelCode;
    if (!ImageProperties::IsLimitedModel(model))
        return derived;
    const bool small = model <= kSmallGainModels;
    const double unit = small ? kSmallGainUnit : kLargeGainUnit;
    const LONG limit = small ? kSmallGainLimit : kLargeGainLimit;

    double red = 0.0, blue = 0.0;
    const CKvWBAdjustment* wb = snapshot.whiteBalanceEnabled ? snapshot.whiteBalance : nullptr;
    if (wb && wb->GetMode() != CKvWBAdjustment::kModeAsShot) {
        red = wb->GetRedGain();
        blue = wb->GetBlueGain();
        derived.whiteBalanceMode =
            wb->GetMode() == CKvWBAdjustment::kModeTemperature && wb->GetPreset() == kNeutralPreset ? 1 : 2;
    } else {
        red = GainOrOne(snapshot.cameraInformation.data());
        blue = GainOrOne(snapshot.cameraInformation.data() + sizeof(double));
        derived.whiteBalanceMode = 0;
    }
    derived.redGain = Saturate(red * unit, 0, limit);
    derived.blueGain = Saturate(blue * unit, 0, limit);

    CProcessRawVendor1::Parameters& p = derived.parameters;
    p.redGain = derived.redGain;
    p.blueGain = derived.blueGain;
    const CKvExposureAdjustment* exposure = snapshot.exposureEnabled ? snapshot.exposure : nullptr;
    p.firstMode = exposure ? FirstModeOf(exposure->GetThirdValue()) : 1;
    p.secondMode = exposure ? SecondModeOf(exposure->GetMode()) : 1;
    const double ev = exposure ? exposure->GetCompensation() : 0.0;
    p.exposureFactor = ev == 0.0 || !std::isfinite(ev)
                           ? 256
                           : Saturate(kFactorUnit * std::exp2(ev), 0, std::numeric_limits<LONG>::max());
    p.toneFactor = ToneFactorOf(snapshot.tagControl);
    return derived;
}

IPravonError* CKvnProcessRawVendor1::Initialize(IPravonLoad* loader, IPravonTagControl* tagControl,
                                                IPravonImage* image) {
    if (!loader || !tagControl || !image)
        return BadArgument("no loader, tag control or image");
    m_snapshot.tagControl = tagControl;
    m_prepared = 0;
    if (IPravonError* e = m_processor->SetParameters(CProcessRawVendor1::Parameters{}, true))
        return e;
    return m_processor->Initialize(loader, tagControl, image);
}

IPravonError* CKvnProcessRawVendor1::SetCallbackObject(IKvnProcessRawVendor1::IProgress* progress) {
    m_callback = progress;
    if (progress)
        m_processor->SetProgressReceiver(this);
    return nullptr;
}

int CKvnProcessRawVendor1::Progress(LONG current, LONG total) {
    if (current < 0 || !m_callback)
        return 1;
    return m_callback->Progress(current, total) != 0 ? 0 : 1;
}

void CKvnProcessRawVendor1::ApplyWhiteBalanceOverride() {
    m_workingWhiteBalance.SetPreset(KvnRawOption::MapPreset(m_overridePreset));
    m_workingWhiteBalance.SetTemperature(static_cast<WORD>(m_overrideTemperature));
    m_workingWhiteBalance.SetMode(CKvWBAdjustment::kModeTemperature);
    double red = 1.0, blue = 1.0;
    KvColorTemperatureToGains(m_workingWhiteBalance.GetPreset(), m_workingWhiteBalance.GetTemperature(), &red,
                              &blue, m_snapshot.cameraModelCode);
    m_workingWhiteBalance.SetGains(red, blue);
}

IPravonError* CKvnProcessRawVendor1::ReadStoredSettings(IPravonTagControl* tags) {
    const ULONG size = tags->GetTagSize(kSettingsTag);
    if (size > static_cast<ULONG>(INT_MAX))
        return PravonFail(kComponent, kBadInput, "the stored settings are larger than any record");
    std::vector<BYTE> bytes(size);
    if (IPravonError* e = tags->ReadTag(kSettingsTag, kTagTypeBytes, size, bytes.data()))
        return PravonContext(e, kComponent, "the stored settings cannot be read");
    LONG width = 0, height = 0;
    PravonErrorPtr(m_processor->GetSize(&width, &height));
    CKvImageProcSet set;
    set.recordMask = CKvImageProcSet::kExposure | CKvImageProcSet::kWhiteBalance;
    set.exposure = &m_storedExposure;
    set.whiteBalance = &m_storedWhiteBalance;
    set.ReadFromTag(bytes.data(), static_cast<int>(bytes.size()), width, height);
    m_exposureEnabled = set.exposureEnabled;
    m_whiteBalanceEnabled = set.whiteBalanceEnabled;
    return nullptr;
}

IPravonError* CKvnProcessRawVendor1::Prepare() {
    m_snapshot.firstFlag = 1; // raw
    // A picture without stored settings keeps none of an earlier picture's.
    m_storedExposure.Reset();
    m_storedWhiteBalance.Reset();
    m_exposureEnabled = m_whiteBalanceEnabled = 0;
    m_snapshot.ReadCameraInformation();
    PravonErrorPtr readError;
    IPravonTagControl* tags = m_snapshot.tagControl;
    if (tags && tags->TagExists(kSettingsTag)) {
        // Damaged stored bytes may make a reader ask for more than there is or give up; the stored states
        // then stay at their defaults and the answer is an error.
        try {
            readError.reset(ReadStoredSettings(tags));
        } catch (const std::bad_alloc&) {
            m_storedExposure.Reset();
            m_storedWhiteBalance.Reset();
            m_exposureEnabled = m_whiteBalanceEnabled = 0;
            return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the stored settings");
        } catch (const std::exception& failure) {
            m_storedExposure.Reset();
            m_storedWhiteBalance.Reset();
            m_exposureEnabled = m_whiteBalanceEnabled = 0;
            readError.reset(PravonFail(kComponent, kBadInput,
                                       std::string("the stored settings cannot be read: ") + failure.what()));
        }
    }
    m_workingExposure = m_storedExposure;
    m_workingWhiteBalance = m_storedWhiteBalance;
    m_workingWhiteBalance.SetMode(CKvWBAdjustment::kModeTemperature);
    if (m_exposureOverride)
        m_workingExposure.SetCompensation(m_overrideExposure);
    if (m_whiteBalanceOverride)
        ApplyWhiteBalanceOverride();
    m_prepared = 1;
    return readError.release();
}

IPravonError* CKvnProcessRawVendor1::Process() {
    PravonErrorPtr prepareError;
    if (!m_prepared)
        prepareError.reset(Prepare());
    if (prepareError && prepareError->HasKind(PravonKind::kOutOfMemory))
        return prepareError.release();

    m_snapshot.exposure = m_exposureOverride ? &m_workingExposure : &m_storedExposure;
    m_snapshot.exposureEnabled = m_exposureOverride ? 1 : m_exposureEnabled;
    m_snapshot.whiteBalance = m_whiteBalanceOverride ? &m_workingWhiteBalance : &m_storedWhiteBalance;
    m_snapshot.whiteBalanceEnabled = m_whiteBalanceOverride ? 1 : m_whiteBalanceEnabled;
    try {
        m_snapshot.PrepareWhiteBalance();
    } catch (const std::bad_alloc&) {
        return IPravonError::Chain(
            PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the white balance"),
            prepareError.release());
    }

    const Derived derived = DeriveParameters(m_snapshot, m_processor->GetParameters());
    IPravonError* failure = nullptr;
    bool modeChanged = false;
    if (ImageProperties::IsLimitedModel(m_snapshot.cameraModelCode))
        failure = m_processor->PatchWhiteBalance(derived.redGain, derived.blueGain, derived.whiteBalanceMode,
                                                 &modeChanged);
    if (!failure && !(derived.parameters == m_processor->GetParameters()))
        failure = m_processor->SetParameters(derived.parameters, true);
    else if (!failure && modeChanged)
        failure = m_processor->Invalidate(true); // the private data changed under equal parameters
    // A processor still dirty from a failed conversion converts again, even with unchanged parameters.
    if (!failure && m_processor->IsDirty())
        failure = m_processor->Convert();
    if (failure)
        return IPravonError::Chain(failure, prepareError.release());
    return prepareError.release();
}

IPravonError* CKvnProcessRawVendor1::SetRawOption(strKvnRawOption* option) {
    if (!option || option->size != sizeof(strKvnRawOption) || !option->data)
        return BadArgument("the raw option record is wrong");
    switch (option->type) {
    case KvnRawOption::kUnsupported:
    case KvnRawOption::kCameraSettings:
        return Unsupported(option->type);
    case KvnRawOption::kWhiteBalance: {
        const auto* wb = static_cast<const strKvnWhiteBalanceOption*>(option->data);
        if (wb->size != sizeof(strKvnWhiteBalanceOption))
            return BadArgument("the white-balance option's size is wrong");
        if (wb->temperature < 0 || wb->temperature > 0xFFFF)
            return BadArgument("the colour temperature is out of range");
        if (!m_whiteBalanceOverride || wb->preset != m_overridePreset ||
            wb->temperature != m_overrideTemperature) {
            m_whiteBalanceOverride = 1;
            m_overridePreset = wb->preset;
            m_overrideTemperature = wb->temperature;
            if (m_prepared)
                ApplyWhiteBalanceOverride();
        }
        return nullptr;
    }
    case KvnRawOption::kExposure: {
        const auto* ex = static_cast<const strKvnExposureOption*>(option->data);
        if (ex->size != sizeof(strKvnExposureOption))
            return BadArgument("the exposure option's size is wrong");
        if (!std::isfinite(ex->value))
            return BadArgument("the exposure value is not a number");
        m_exposureOverride = 1;
        m_overrideExposure = ex->value;
        if (m_prepared)
            m_workingExposure.SetCompensation(ex->value);
        return nullptr;
    }
    default:
        return BadArgument("unknown raw option");
    }
}

IPravonError* CKvnProcessRawVendor1::GetRawOption(strKvnRawOption* option) {
    if (!option || option->size != sizeof(strKvnRawOption) || !option->data)
        return BadArgument("the raw option record is wrong");
    switch (option->type) {
    case KvnRawOption::kUnsupported:
    case KvnRawOption::kCameraSettings:
        return Unsupported(option->type);
    case KvnRawOption::kWhiteBalance: {
        auto* wb = static_cast<strKvnWhiteBalanceOption*>(option->data);
        if (wb->size != sizeof(strKvnWhiteBalanceOption))
            return BadArgument("the white-balance option's size is wrong");
        wb->preset = m_whiteBalanceOverride ? m_overridePreset : 0;
        wb->temperature = m_whiteBalanceOverride ? m_overrideTemperature : 0;
        return nullptr;
    }
    case KvnRawOption::kExposure: {
        auto* ex = static_cast<strKvnExposureOption*>(option->data);
        if (ex->size != sizeof(strKvnExposureOption))
            return BadArgument("the exposure option's size is wrong");
        ex->value = m_exposureOverride ? m_overrideExposure : 0.0;
        return nullptr;
    }
    default:
        return BadArgument("unknown raw option");
    }
}

IPravonError* CKvnProcessRawVendor1::ResetRawOption(strKvnRawOption* option) {
    if (!option || option->size != sizeof(strKvnRawOption))
        return BadArgument("the raw option record is wrong");
    switch (option->type) {
    case KvnRawOption::kUnsupported:
    case KvnRawOption::kCameraSettings:
        return Unsupported(option->type);
    case KvnRawOption::kWhiteBalance:
        m_whiteBalanceOverride = 0;
        m_overridePreset = 0;
        m_overrideTemperature = 0;
        return nullptr;
    case KvnRawOption::kExposure:
        m_exposureOverride = 0;
        m_overrideExposure = 0.0;
        return nullptr;
    default:
        return BadArgument("unknown raw option");
    }
}
