// The "DstT" dust tuning vector: 32-bit little-endian words that the analysis gathers from the image's tags
// (camera type, aperture, lens, sensitivity, white-balance gains, colour-filter layout, tone-curve
// selectors) and reads back by the blobs' tolerant rules; and the values derived from those tags.
#pragma once

#include "KvDustFormat.h"

#include "platform/quasel/IPravonTagControl.h"

#include <cstddef>
#include <vector>

// The vector as read back. Fields the vector's version does not hold keep these defaults.
struct DustTuning {
    ULONG version = 0;
    ULONG headerLength = 0;
    ULONG qualityWord = 32;
    ULONG cameraType = 0;
    ULONG apertureCode = 0;
    ULONG lensCode = 0;
    LONG sensitivity = 0; // -1 and -2 are the two extended-sensitivity settings
    double gains[2] = {1.0, 1.0};
    // The 2 x 2 colour-filter layout: cell colours (0 red, 1 green, 2 blue), first cell in the top byte.
    bool hasCfa = false;
    ULONG cfaCells = 0;
    ULONG colorMode = 0;
    ULONG toneCurveSelector = 0;
    ULONG toneCurveRow = 2;
};

namespace KvDust {

constexpr ULONG kTuningVersion = 4;
constexpr ULONG kTuningHeaderLength = 12;
// The colour-filter repeat word of a 2 x 2 pattern, bytes 02 00 02 00 in memory order.
constexpr ULONG kCfaRepeat2x2 = 0x00020002;
constexpr ULONG kTuningWords = 15;

// Image tags the vector is built from.
constexpr ULONG kQualityTag = 0x80004;
constexpr ULONG kFNumberTag = 0x829D;
constexpr ULONG kLensDataTag = 0x80098;
constexpr ULONG kSensitivityTag = 0x80002;
constexpr ULONG kCameraInfoTag = 0x8000C;
constexpr ULONG kCfaPatternTag = 0xA302;
constexpr ULONG kColorModeTag = 0x8008D;
constexpr ULONG kToneCurveTag = 0x80081;
constexpr ULONG kCameraSettingsTag = 0x80097;
constexpr ULONG kLensDataSize = 31;
constexpr ULONG kCameraSettingsSize = 304;
constexpr LONG kDefaultSensitivity = 200;
constexpr ULONG kDefaultToneCurveRow = 2;

// Camera types the dust engine knows: 257, 258, 259, 260, 1025, 1026.
bool IsDustCameraType(ULONG cameraType);

// Builds the vector of the current version from the image's tags. Failing to read the quality tag, the
// camera type, the f-number or the lens data is an error (wrapped); an unknown camera type, an unusable
// f-number, a lens code of 0 and a colour-filter pattern that is not 2 x 2 are kind 1013; the other tags fall
// back to their defaults.
IPravonError* BuildTuning(IPravonTagControl* tags, std::vector<BYTE>* vector);
// Reads a vector front to back: a field its version does not include is absent, and the fields behind it
// move up. Kind 1003 for a wrong magic or a header length below 12, 1013 for a colour-filter repeat other
// than 2 x 2.
IPravonError* ReadTuning(const BYTE* data, std::size_t size, DustTuning* tuning);

// The aperture code 24 x log2 N of an f-number (exact values for a few f-numbers, the low 8 bits of the
// rounded formula otherwise); an f-number that is not finite or not above 0 is kind 1013.
IPravonError* ApertureCode(double fNumber, ULONG* code);
// The f-number of an aperture code, 2^(code / 24).
double FNumberOfCode(ULONG code);
// The lens code from the 31 bytes of the lens-data tag; a code of 0 is kind 1013.
IPravonError* LensCode(const BYTE* lensData, ULONG* code);
// The second of the tag's two values, or -1 and -2 for the extended-sensitivity settings.
LONG SensitivityWord(WORD first, WORD second);
// 16, 8, 4 or 1 for quality words 0, 1, 2 and any other.
LONG QualityFactor(ULONG qualityWord);
// A gain in unsigned 8.24 fixed point; a gain that cannot be held (not finite, negative, 256 or more) is 1.0.
ULONG GainWord(double gain);

} // namespace KvDust
