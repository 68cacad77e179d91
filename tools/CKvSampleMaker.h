// Makes the raw sample: renders the synthetic scene, mosaics it through a chosen colour filter with
// as-shot white-balance gains, and writes the raw sample file with the tags a development reads, and the
// scene itself as a 16-bit linear PNG for ground truth.
#pragma once

#include "platform/pravon/IPravonError.h"

#include <cstddef>
#include <string>
#include <vector>

class CKvSampleMaker {
public:
    struct Options {
        LONG width = 1536;
        LONG height = 1024;
        std::string pattern = "RGGB";
        WORD cameraModel = 258;
        double redGain = 1.9; // as-shot gains the camera would record in its camera information
        double blueGain = 1.4;
        WORD sensitivity = 200;
        std::string samplePath = "sample.kvraw";
        std::string scenePath; // none: no PNG
        // Stored development settings: a white balance by colour temperature, an exposure change, a tone
        // curve, a sharpening and a crop of the middle (none: the sample is unedited).
        bool settings = false;
    };

    // Tags the sample carries besides the source size: the colour-filter pattern, the camera information
    // (as-shot red and blue gains as its first two 8-byte reals), the sensitivity and the model name.
    static constexpr ULONG kCfaPatternTag = 0xA302;
    static constexpr ULONG kCameraInfoTag = 0x8000C;
    static constexpr ULONG kSensitivityTag = 0x80002;
    static constexpr ULONG kModelTag = 0x110;
    // The colour mode the camera shot in, 1 (sRGB), which the development keeps as its output space.
    static constexpr ULONG kColorModeTag = 0x8008D;
    static constexpr LONG kSrgbColorMode = 1;
    // The camera's white-balance setting: automatic (two words, both 0), from which the camera profile of
    // the development is chosen.
    static constexpr ULONG kWhiteBalanceTag = 0x80005;
    static constexpr ULONG kSettingsTag = 0x80E01;
    // Camera models 513 to 516 carry their private data, which the raw processor hands to the
    // signal-processing library: the size it needs, the first byte 1 where the gains come in 128ths (models
    // 513 and 514) and 0 where they come in 256ths.
    static constexpr ULONG kPrivateDataTag = 0x80014;
    static constexpr std::size_t kPrivateDataBytes = 360;
    // What --settings stores.
    static constexpr WORD kStoredTemperature = 4500;
    static constexpr double kStoredExposure = 0.5;
    static constexpr double kStoredToneGamma = 1.2;
    static constexpr SHORT kStoredSharpenRadius = 20;
    static constexpr SHORT kStoredSharpenAmount = 50;
    static constexpr double kStoredCropMargin = 0.1; // of each side, on every side

    // The settings record of the settings tag for a picture of this size.
    static std::vector<BYTE> StoredSettings(LONG width, LONG height);

    static IPravonError* Make(const Options& options);
};
