#include "CKvSampleMaker.h"

#include "CKvPngFile.h"
#include "CKvSampleScene.h"
#include "platform/quasel/CKvRawSampleFile.h"
#include "platform/win/FourCC.h"
#include "rawlib/settings/CKvImageAttributes.h"
#include "rawlib/settings/CKvImageProcSet.h"

#include <cmath>
#include <cstring>
#include <utility>

namespace {

constexpr LONG kComponent = FourCC("mksm");

std::vector<BYTE> Bytes(const void* data, std::size_t size) {
    const auto* p = static_cast<const BYTE*>(data);
    return std::vector<BYTE>(p, p + size);
}

} // namespace

std::vector<BYTE> CKvSampleMaker::StoredSettings(LONG width, LONG height) {
    CKvImageAttributes edited;
    edited.whiteBalance.SetMode(CKvWBAdjustment::kModeTemperature);
    edited.whiteBalance.SetTemperature(kStoredTemperature);
    edited.exposure.SetCompensation(kStoredExposure);
    if (auto* tone = dynamic_cast<CKvLutChannel*>(edited.lutGroup1.GetChannelAt(0)))
        tone->SetGamma(kStoredToneGamma);
    CKvUSM sharpening;
    sharpening.SetRadiusCode(kStoredSharpenRadius);
    sharpening.SetAmountCode(kStoredSharpenAmount);
    edited.usmList.Append(sharpening);
    // The size settings count in half pixels.
    edited.sizeRes.ResetImage(width, height);
    const double w = 2.0 * width, h = 2.0 * height;
    edited.sizeRes.SetCrop(w * kStoredCropMargin, h * kStoredCropMargin, w * (1 - kStoredCropMargin),
                           h * (1 - kStoredCropMargin), 0);
    CKvImageProcSet set;
    edited.GetStateTable(set);
    std::vector<BYTE> record(static_cast<std::size_t>(set.GetStateSize()));
    set.WriteState(record.data(), static_cast<int>(record.size()));
    return record;
}

IPravonError* CKvSampleMaker::Make(const Options& options) {
    BYTE cells[4];
    if (!CKvSampleScene::CellsFromName(options.pattern, cells))
        return PravonFail(kComponent, PravonKind::kBadArgument,
                          "unknown colour-filter pattern " + options.pattern + " (RGGB, GRBG, GBRG or BGGR)");
    if (options.width < 13 || options.height < 13 || options.width > CKvRawSampleFile::kMaxSide ||
        options.height > CKvRawSampleFile::kMaxSide)
        return PravonFail(kComponent, PravonKind::kBadArgument,
                          "the sample must be 13 to 65535 pixels on each side");
    if (!(options.redGain >= 1.0 && options.redGain <= 8.0) ||
        !(options.blueGain >= 1.0 && options.blueGain <= 8.0))
        return PravonFail(kComponent, PravonKind::kBadArgument,
                          "the white-balance gains must lie between 1 and 8");

    const CKvSampleScene scene(options.width, options.height);
    const std::vector<WORD> rgb = scene.Render();

    CKvRawSampleFile::Content content;
    content.width = options.width;
    content.height = options.height;
    content.samples =
        CKvSampleScene::Mosaic(rgb, options.width, options.height, cells, options.redGain, options.blueGain);
    content.hasCameraModel = true;
    content.cameraModel = options.cameraModel;
    content.tags.push_back({kCfaPatternTag, 1, {0, 2, 0, 2, cells[0], cells[1], cells[2], cells[3]}});
    BYTE cameraInfo[32] = {};
    std::memcpy(cameraInfo, &options.redGain, 8);
    std::memcpy(cameraInfo + 8, &options.blueGain, 8);
    content.tags.push_back({kCameraInfoTag, 4, Bytes(cameraInfo, sizeof cameraInfo)});
    const WORD sensitivity[2] = {0, options.sensitivity};
    content.tags.push_back({kSensitivityTag, 3, Bytes(sensitivity, sizeof sensitivity)});
    static const char kModel[] = "Korvel synthetic sample";
    content.tags.push_back({kModelTag, 2, Bytes(kModel, sizeof kModel)});
    content.tags.push_back({kColorModeTag, 9, Bytes(&kSrgbColorMode, sizeof kSrgbColorMode)});
    const LONG automaticWhiteBalance[2] = {0, 0};
    content.tags.push_back({kWhiteBalanceTag, 9, Bytes(automaticWhiteBalance, sizeof automaticWhiteBalance)});
    if (options.settings)
        content.tags.push_back({kSettingsTag, 1, StoredSettings(options.width, options.height)});
    if (options.cameraModel >= 513 && options.cameraModel <= 516) {
        std::vector<BYTE> privateData(kPrivateDataBytes, 0);
        privateData[0] = options.cameraModel <= 514 ? 1 : 0;
        content.tags.push_back({kPrivateDataTag, 1, std::move(privateData)});
    }

    IPravonFileStream* raw = nullptr;
    if (IPravonError* e = IPravonFileStream::CreateFileStream(&raw))
        return e;
    PravonFileStreamPtr stream(raw);
    if (IPravonError* e = stream->Open(PravonFile{options.samplePath}, IPravonFileStream::kWrite))
        return e;
    if (IPravonError* e = CKvRawSampleFile::Write(stream.get(), content))
        return e;
    if (IPravonError* e = stream->Close())
        return e;

    if (options.scenePath.empty())
        return nullptr;
    std::vector<WORD> wide(rgb.size());
    for (std::size_t i = 0; i < rgb.size(); ++i)
        wide[i] = static_cast<WORD>(std::lround(rgb[i] * 65535.0 / CKvSampleScene::kMaxValue));
    std::string error;
    if (!CKvPngFile::WriteLinear16(options.scenePath, options.width, options.height, wide, &error))
        return PravonFail(kComponent, PravonKind::kBadArgument,
                          "cannot write " + options.scenePath + ": " + error);
    return nullptr;
}
