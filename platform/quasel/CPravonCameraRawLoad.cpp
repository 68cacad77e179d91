#include "CPravonCameraRawLoad.h"

#include "CPravonTagControl.h"
#include "KvCameraColor.h"
#include "platform/pravon/PravonImageData.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

using namespace KvRawDecoder;

constexpr LONG kComponent = CPravonCameraRawLoad::kComponent;
constexpr LONG kTypeBytes = 1;
constexpr LONG kTypeText = 2;
constexpr LONG kTypeShort = 3;
constexpr LONG kTypeLong = 4;
constexpr LONG kTypeDouble = 12;
constexpr std::size_t kCameraInfoBytes = 32;
constexpr WORD kMaxIso = 65535;

// The orientation of each EXIF orientation code as the source tags carry it: a turn counter-clockwise
// in degrees, then a left-to-right mirror. Code 6, whose first row is the picture's right side, is 270:
// it stands upright after a clockwise quarter turn.
struct Orientation {
    double angle;
    LONG flip;
};
constexpr Orientation kOrientations[9] = {{0, 0},   {0, 0},   {0, 1},  {180, 0}, {180, 1},
                                          {270, 1}, {270, 0}, {90, 1}, {90, 0}};

struct TagValue {
    ULONG tag;
    LONG type;
    std::vector<BYTE> bytes;
};

template <typename T>
TagValue Value(ULONG tag, LONG type, const T* data, std::size_t count = 1) {
    const auto* bytes = reinterpret_cast<const BYTE*>(data);
    return {tag, type, std::vector<BYTE>(bytes, bytes + sizeof(T) * count)};
}

std::string CameraName(const Answer& answer) {
    const std::string make = answer.make, model = answer.model;
    return make.empty() ? model : model.empty() ? make : make + " " + model;
}

} // namespace

CPravonCameraRawLoad::~CPravonCameraRawLoad() {
    if (m_image)
        m_image->Release();
    if (m_tags)
        m_tags->Release();
}

ULONG CPravonCameraRawLoad::AddRef() {
    return ++m_references;
}

ULONG CPravonCameraRawLoad::Release() {
    const ULONG left = --m_references;
    if (left == 0)
        delete this;
    return left;
}

IPravonError* CPravonCameraRawLoad::Open(IPravonFileStream* stream, IPravonTagControl* tags) {
    if (!stream || !tags)
        return PravonFail(kComponent, PravonKind::kBadArgument, "a loader needs a stream and a tag control");
    if (!dynamic_cast<CPravonTagControl*>(tags))
        return PravonFail(kComponent, PravonKind::kBadArgument,
                          "this tag control cannot take a camera-model code");
    ULONGLONG size = 0;
    if (IPravonError* e = stream->GetSize(&size))
        return PravonContext(e, kComponent, "cannot tell the file's size");
    if (size == 0 || size > kMaxFileBytes)
        return PravonFail(kComponent, PravonKind::kMissingInput,
                          "not a camera raw file that can be read: its size is out of range");
    std::unique_ptr<CKvRawDecodedFile> file;
    if (IPravonError* e = CKvRawDecoderProcess::Decode(stream, size, &file))
        return PravonContext(e, kComponent, "cannot load the camera raw file");
    const Answer& answer = file->GetAnswer();
    if (IPravonError* e = GiveTags(tags, answer))
        return e;

    m_width = static_cast<LONG>(answer.width);
    m_height = static_cast<LONG>(answer.height);
    m_channels = static_cast<LONG>(answer.channels);
    m_colorSpace = answer.channels == kMosaicChannels ? kMosaic : kLinearRgb;
    m_file = std::move(file);
    if (m_image) {
        m_image->Release();
        m_image = nullptr;
    }
    tags->AddRef();
    if (m_tags)
        m_tags->Release();
    m_tags = tags;
    return nullptr;
}

IPravonError* CPravonCameraRawLoad::GiveTags(IPravonTagControl* tags, const Answer& answer) {
    const bool mosaic = answer.channels == kMosaicChannels;
    const KvCameraColor::CameraColor color = KvCameraColor::FromAnswer(answer);
    const std::string camera = CameraName(answer);
    const std::vector<BYTE> profile = KvCameraColor::BuildProfile(
        mosaic ? color.balancedToXyz : color.unbalancedToXyz, mosaic,
        "Camera colour of " + (camera.empty() ? std::string("a camera raw file") : camera));
    if (profile.empty())
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the file's colour profile");

    // Everything is worked out before the tag control changes, so that a refusal leaves it as it was.
    std::vector<TagValue> values;
    const LONG sizeTags[3] = {static_cast<LONG>(answer.width), static_cast<LONG>(answer.height),
                              mosaic ? kMosaic : kLinearRgb};
    for (int i = 0; i < 3; ++i)
        values.push_back(Value(0x10000 + i, kTypeLong, &sizeTags[i]));
    if (mosaic) {
        BYTE pattern[8] = {0, 2, 0, 2};
        std::memcpy(pattern + 4, answer.cells, 4);
        values.push_back(Value(kCfaPatternTag, kTypeBytes, pattern, sizeof pattern));
    }
    // The balance the mosaic's demosaicing applies: the gains that make the as-shot neutral equal, the
    // very ones the colour profile was made for.
    BYTE cameraInfo[kCameraInfoBytes] = {};
    std::memcpy(cameraInfo, &color.gains[0], sizeof(double));
    std::memcpy(cameraInfo + sizeof(double), &color.gains[2], sizeof(double));
    values.push_back(Value(kCameraInfoTag, kTypeLong, cameraInfo, sizeof cameraInfo));
    values.push_back({kModelTag, kTypeText, std::vector<BYTE>(camera.begin(), camera.end())});
    values.back().bytes.push_back(0);
    const LONG automaticWhiteBalance[2] = {0, 0};
    values.push_back(Value(kWhiteBalanceTag, kTypeLong, automaticWhiteBalance, 2));
    values.push_back({kCameraColorProfileTag, kTypeBytes, profile});
    // What the file does not say is left out, so that readers take their own defaults.
    if (answer.iso >= 1 && answer.iso <= kMaxIso) {
        const WORD sensitivity[2] = {0, static_cast<WORD>(std::lround(answer.iso))};
        values.push_back(Value(kSensitivityTag, kTypeShort, sensitivity, 2));
    }
    const double exposureTime = answer.exposureTime, fNumber = answer.fNumber;
    if (exposureTime > 0)
        values.push_back(Value(kExposureTimeTag, kTypeDouble, &exposureTime));
    if (fNumber > 0)
        values.push_back(Value(kFNumberTag, kTypeDouble, &fNumber));
    const std::uint32_t code = answer.orientation >= 1 && answer.orientation <= 8 ? answer.orientation : 1;
    if (code != 1) {
        values.push_back(Value(kSourceAngleTag, kTypeDouble, &kOrientations[code].angle));
        values.push_back(Value(kSourceFlipTag, kTypeLong, &kOrientations[code].flip));
    }

    for (const TagValue& v : values)
        if (IPravonError* e =
                tags->WriteTag(v.tag, v.type, static_cast<ULONG>(v.bytes.size()), v.bytes.data()))
            return PravonContext(e, kComponent, "cannot give a tag to the tag control");
    static_cast<CPravonTagControl*>(tags)->SetCameraModel(kOtherCameraModel);
    return nullptr;
}

IPravonError* CPravonCameraRawLoad::Begin(IPravonImage* image) {
    if (!image)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no image to load into");
    if (!m_file)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the loader has no file open");
    if (IPravonError* e = image->SetColorSpace(m_colorSpace))
        return PravonContext(e, kComponent, "cannot give the image its colour space");
    if (IPravonError* e = image->SetSize(m_width, m_height))
        return PravonContext(e, kComponent, "cannot give the image its size");
    LONG tileSize = 0;
    if (IPravonError* e = image->GetTileSize(&tileSize))
        return PravonContext(e, kComponent, "cannot read the image's tile size");
    if (tileSize < 1)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the image has no tiles");
    image->AddRef();
    if (m_image)
        m_image->Release();
    m_image = image;
    m_tileSize = tileSize;
    m_nextRow = 0;
    return nullptr;
}

IPravonError* CPravonCameraRawLoad::Step() {
    if (!m_image)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the load has not begun");
    if (IsComplete())
        return nullptr;
    const LONG rows = std::min(m_tileSize, m_height - m_nextRow);
    const PravonRect band{0, m_nextRow, m_width, m_nextRow + rows};
    const std::size_t rowSamples = std::size_t(m_width) * std::size_t(m_channels);
    const std::size_t count = rowSamples * std::size_t(rows);
    try {
        if (m_band.size() < count)
            m_band.resize(count);
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for a band of samples");
    }
    if (!ReadSamples(std::size_t(m_nextRow) * rowSamples, count, m_band.data()))
        return PravonFail(kComponent, PravonKind::kMissingInput, "cannot read the decoded samples");
    if (IPravonError* e = PravonSetData(m_image, band, m_band.data(), rowSamples * sizeof(WORD)))
        return PravonContext(e, kComponent, "cannot write the samples into the image");
    m_nextRow += rows;
    return nullptr;
}
