#include "KvDustTuning.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>
#include <string>

namespace KvDust {

namespace {

constexpr double kGainOne = 16777216.0; // 2^24

// Reads `count` bytes of a tag; false when the tag control cannot give them.
bool ReadTagBytes(IPravonTagControl* tags, ULONG tag, LONG type, ULONG count, BYTE* out) {
    return PravonErrorPtr(tags->ReadTag(tag, type, count, out)) == nullptr;
}

IPravonError* ReadRequired(IPravonTagControl* tags, ULONG tag, LONG type, ULONG count, BYTE* out,
                           const char* what) {
    if (IPravonError* e = tags->ReadTag(tag, type, count, out))
        return PravonContext(e, kComponent, std::string("the dust analysis needs ") + what);
    return nullptr;
}

ULONG WordAt(const BYTE* bytes) {
    return ReadWord(bytes, 4, 0);
}

// The running cursor of the reader: a field at the position is read when all its bytes are there.
struct TuningCursor {
    const BYTE* data;
    std::size_t size;
    std::uint64_t position;

    bool Has(std::uint64_t count) const { return position <= size && size - position >= count; }
    ULONG Next(ULONG absent) {
        const ULONG value = ReadWord(data, size, position, absent);
        position += 4;
        return value;
    }
};

} // namespace

bool IsDustCameraType(ULONG cameraType) {
    switch (cameraType) {
    case 257:
    case 258:
    case 259:
    case 260:
    case 1025:
    case 1026:
        return true;
    default:
        return false;
    }
}

IPravonError* ApertureCode(double fNumber, ULONG* code) {
    if (!std::isfinite(fNumber) || fNumber <= 0)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "the image's f-number is unusable");
    struct Exact {
        double fNumber;
        ULONG code;
    };
    static constexpr Exact kExact[] = {{29, 116}, {25, 112}, {22, 108}, {14, 92}, {13, 88},
                                       {11, 84},  {3.5, 44}, {2.2, 28}, {1.2, 8}, {1.1, 4}};
    for (const Exact& exact : kExact) {
        if (fNumber == exact.fNumber) {
            *code = exact.code;
            return nullptr;
        }
    }
    const double rounded = std::floor(24.0 * std::log2(fNumber) + 0.5);
    *code = static_cast<ULONG>(static_cast<std::int64_t>(rounded) & 0xFF);
    return nullptr;
}

double FNumberOfCode(ULONG code) {
    return std::pow(2.0, static_cast<double>(code) / 24.0);
}

IPravonError* LensCode(const BYTE* lensData, ULONG* code) {
    ULONG lens = 0;
    ULONG kind = 0;
    if (std::memcmp(lensData, "0100", 4) == 0) {
        lens = lensData[13];
        kind = lensData[6];
    } else if (std::memcmp(lensData, "0101", 4) == 0) {
        lens = lensData[4];
        kind = lensData[11];
    }
    switch (kind) {
    case 1:
    case 15:
        lens = 35;
        break;
    case 21:
        lens = 23;
        break;
    case 26:
        lens = 33;
        break;
    case 34:
        lens = 14;
        break;
    default:
        break;
    }
    if (lens == 0)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "the image's lens data give no lens code");
    *code = lens;
    return nullptr;
}

LONG SensitivityWord(WORD first, WORD second) {
    if (first == 1)
        return -1;
    if (first == 2)
        return -2;
    return second;
}

LONG QualityFactor(ULONG qualityWord) {
    switch (qualityWord) {
    case 0:
        return 16;
    case 1:
        return 8;
    case 2:
        return 4;
    default:
        return 1;
    }
}

ULONG GainWord(double gain) {
    if (!std::isfinite(gain) || gain < 0 || gain >= 256.0)
        return static_cast<ULONG>(kGainOne);
    return static_cast<ULONG>(gain * kGainOne);
}

IPravonError* BuildTuning(IPravonTagControl* tags, std::vector<BYTE>* vector) {
    if (!tags || !vector)
        return PravonFail(kComponent, PravonKind::kBadArgument, "the dust tuning needs the image's tags");
    BYTE quality[4];
    if (IPravonError* e = ReadRequired(tags, kQualityTag, 4, 4, quality, "the image's quality tag"))
        return e;
    WORD model = 0;
    if (IPravonError* e = tags->GetCameraModel(&model))
        return PravonContext(e, kComponent, "the dust analysis needs the image's camera type");
    if (!IsDustCameraType(model))
        return PravonFail(kComponent, PravonKind::kOutOfRange,
                          "camera type " + std::to_string(model) + " has no dust constants");
    BYTE fNumberBytes[8];
    if (IPravonError* e = ReadRequired(tags, kFNumberTag, 12, 8, fNumberBytes, "the image's f-number"))
        return e;
    std::uint64_t fNumberBits = 0;
    for (int i = 7; i >= 0; --i)
        fNumberBits = fNumberBits << 8 | fNumberBytes[i];
    ULONG aperture = 0;
    if (IPravonError* e = ApertureCode(std::bit_cast<double>(fNumberBits), &aperture))
        return e;
    BYTE lensData[kLensDataSize];
    if (IPravonError* e =
            ReadRequired(tags, kLensDataTag, 0x108, kLensDataSize, lensData, "the image's lens data"))
        return e;
    ULONG lens = 0;
    if (IPravonError* e = LensCode(lensData, &lens))
        return e;

    LONG sensitivity = kDefaultSensitivity;
    BYTE sensitivityBytes[4];
    if (ReadTagBytes(tags, kSensitivityTag, 3, 4, sensitivityBytes))
        sensitivity = SensitivityWord(static_cast<WORD>(sensitivityBytes[0] | sensitivityBytes[1] << 8),
                                      static_cast<WORD>(sensitivityBytes[2] | sensitivityBytes[3] << 8));

    // Without the camera information the gains are neutral, as the development of the image takes them.
    ULONG gains[2] = {GainWord(1.0), GainWord(1.0)};
    BYTE cameraInfo[16];
    if (ReadTagBytes(tags, kCameraInfoTag, 4, sizeof cameraInfo, cameraInfo)) {
        for (int g = 0; g < 2; ++g) {
            std::uint64_t bits = 0;
            for (int i = 7; i >= 0; --i)
                bits = bits << 8 | cameraInfo[8 * g + i];
            gains[g] = GainWord(std::bit_cast<double>(bits));
        }
    }

    ULONG cfaRepeat = 0;
    ULONG cfaCells = 0;
    if (tags->TagExists(kCfaPatternTag)) {
        const ULONG size = std::min<ULONG>(tags->GetTagSize(kCfaPatternTag), 8);
        BYTE pattern[8] = {};
        if (size > 0 && ReadTagBytes(tags, kCfaPatternTag, 1, size, pattern)) {
            const ULONG columns = static_cast<ULONG>(pattern[0]) << 8 | pattern[1];
            const ULONG rows = static_cast<ULONG>(pattern[2]) << 8 | pattern[3];
            if (size < 8 || columns != 2 || rows != 2)
                return PravonFail(kComponent, PravonKind::kOutOfRange,
                                  "the colour-filter pattern is not 2 x 2");
            cfaRepeat = kCfaRepeat2x2;
            cfaCells = static_cast<ULONG>(pattern[4]) << 24 | static_cast<ULONG>(pattern[5]) << 16 |
                       static_cast<ULONG>(pattern[6]) << 8 | pattern[7];
        }
    }

    BYTE word[4];
    const ULONG colorMode = ReadTagBytes(tags, kColorModeTag, 4, 4, word) ? WordAt(word) : 0;
    const ULONG toneCurve = ReadTagBytes(tags, kToneCurveTag, 3, 4, word) ? WordAt(word) : 0;
    ULONG toneCurveRow = kDefaultToneCurveRow;
    std::vector<BYTE> settings;
    try {
        settings.resize(kCameraSettingsSize);
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the camera settings");
    }
    if (ReadTagBytes(tags, kCameraSettingsTag, 1, kCameraSettingsSize, settings.data()))
        toneCurveRow = settings[4];

    try {
        std::vector<BYTE> out;
        out.reserve(4 * kTuningWords);
        for (ULONG value : {kTuningMagic, kTuningVersion, kTuningHeaderLength, WordAt(quality), ULONG{model},
                            aperture, lens, static_cast<ULONG>(sensitivity), gains[0], gains[1], cfaRepeat,
                            cfaCells, colorMode, toneCurve, toneCurveRow})
            AppendWord(out, value);
        *vector = std::move(out);
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the dust tuning");
    }
    return nullptr;
}

IPravonError* ReadTuning(const BYTE* data, std::size_t size, DustTuning* tuning) {
    if (!tuning)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no place for the dust tuning");
    DustTuning read;
    if (IPravonError* e =
            ReadHeader(data, size, kTuningMagic, "dust tuning vector", {&read.version, &read.headerLength}))
        return e;
    if (size >= 12 && read.headerLength < kTuningHeaderLength)
        return PravonFail(kComponent, kBadBlob, "the dust tuning's header is too short");
    TuningCursor cursor{data, size, std::max<std::uint64_t>(read.headerLength, kTuningHeaderLength)};
    if (read.version > 1)
        read.qualityWord = cursor.Next(read.qualityWord);
    if (read.version > 3) {
        read.cameraType = cursor.Next(0);
        read.apertureCode = cursor.Next(0);
        read.lensCode = cursor.Next(0);
        read.sensitivity = static_cast<LONG>(cursor.Next(0));
    }
    for (double& gain : read.gains)
        gain = cursor.Next(static_cast<ULONG>(kGainOne)) / kGainOne;
    if (cursor.Has(8)) {
        const ULONG repeat = cursor.Next(0);
        const ULONG cells = cursor.Next(0);
        // A vector built from an image without a colour-filter pattern holds 0 for both words.
        if (repeat != 0 && repeat != kCfaRepeat2x2)
            return PravonFail(kComponent, PravonKind::kOutOfRange,
                              "the dust tuning's colour-filter layout is not 2 x 2");
        read.hasCfa = repeat != 0;
        read.cfaCells = read.hasCfa ? cells : 0;
    } else {
        cursor.position += 8;
    }
    read.colorMode = cursor.Next(0);
    read.toneCurveSelector = cursor.Next(0);
    if (read.version >= 3)
        read.toneCurveRow = cursor.Next(kDefaultToneCurveRow);
    *tuning = read;
    return nullptr;
}

} // namespace KvDust
