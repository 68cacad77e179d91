#include "KvLchCalibration.h"

#include "CKvChromaChannel.h"
#include "CKvLutGroup.h"
#include "KvRecordCursor.h"
#include "rawlib/foundation/KvFileBytes.h"
#include "rawlib/foundation/KvProfileFolder.h"

#include <cstring>
#include <new>
#include <string>

namespace {

// The largest file that can be a calibration file: 65,535 points.
constexpr std::uint64_t kLongestFile = 13 + 24ull * 0xFFFF;

double ReadDouble(const BYTE* at) {
    const std::uint64_t bits = KvGetValue(at, 8);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

} // namespace

int KvParseLchCalibration(CKvChromaChannel& channel, const BYTE* bytes, std::size_t size) {
    // Everything is checked before the channel is touched.
    if (!bytes || size < 4 || KvGetValue(bytes, 2) != 1)
        return KvLchCalibrationResult::kWrongLength;
    const std::uint64_t count = KvGetValue(bytes + 2, 2);
    if (size != 13 + 24 * count)
        return KvLchCalibrationResult::kWrongLength;
    std::vector<KvHuePoint> points;
    try {
        points.resize(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        return KvLchCalibrationResult::kNoMemory;
    }
    const BYTE* at = bytes + 4;
    for (KvHuePoint& p : points) {
        p.x = ReadDouble(at);
        p.y = ReadDouble(at + 8);
        p.z = ReadDouble(at + 16);
        at += 24;
    }
    try {
        channel.SetCalibration(std::move(points), ReadDouble(at));
    } catch (const std::bad_alloc&) {
        return KvLchCalibrationResult::kNoMemory;
    }
    return KvLchCalibrationResult::kLoaded;
}

int LoadLchCalibration(CKvChromaChannel* channel, const char* fileName) {
    if (!channel)
        return KvLchCalibrationResult::kUnreadable;
    std::vector<BYTE> bytes;
    try {
        std::string path(static_cast<const char*>(GetProfileFolder()));
        path += fileName ? fileName : kKvLchCalibrationFile;
        switch (KvReadFileBytes(path, kLongestFile, bytes)) {
        case KvFileRead::kRead:
            break;
        case KvFileRead::kTooLong: // longer than any calibration file: refused before it is read
            return KvLchCalibrationResult::kWrongLength;
        case KvFileRead::kNoMemory:
            return KvLchCalibrationResult::kNoMemory;
        default:
            return KvLchCalibrationResult::kUnreadable;
        }
    } catch (const std::bad_alloc&) {
        return KvLchCalibrationResult::kNoMemory;
    }
    return KvParseLchCalibration(*channel, bytes.data(), bytes.size());
}

IPravonError* KvReadCalibrationTable(const char* fileName, std::vector<WORD>& table) {
    try {
        CKvLutGroup group;
        CKvChromaChannel* channel = group.AddChromaChannel(1);
        const int result =
            channel ? LoadLchCalibration(channel, fileName) : KvLchCalibrationResult::kNoMemory;
        switch (result) {
        case KvLchCalibrationResult::kLoaded: {
            std::vector<WORD> rendered(65536);
            channel->RenderChannelBitmap(0, rendered.data(), 2, 65536, 65536, 60);
            table = std::move(rendered);
            return nullptr;
        }
        case KvLchCalibrationResult::kNoMemory:
            return PravonFail(0, PravonKind::kOutOfMemory, "no memory for the calibration table");
        case KvLchCalibrationResult::kUnreadable:
            return PravonFail(0, KvLchCalibrationKind::kUnreadable, "the calibration file cannot be read");
        case KvLchCalibrationResult::kWrongLength:
            return PravonFail(0, KvLchCalibrationKind::kWrongLength,
                              "the calibration file has the wrong length");
        default:
            return PravonFail(0, PravonKind::kInvalidState, "the calibration file gave an unknown result");
        }
    } catch (const std::bad_alloc&) {
        return PravonFail(0, PravonKind::kOutOfMemory, "no memory for the calibration table");
    }
}

int KvBuildLchGroup(CKvLutGroup& group) {
    group = CKvLutGroup();
    group.AddLutChannel(1);
    CKvChromaChannel* chroma = group.AddChromaChannel(2);
    group.AddHueChannel(3);
    group.SelectChannel(1);
    return chroma ? LoadLchCalibration(chroma) : KvLchCalibrationResult::kNoMemory;
}
