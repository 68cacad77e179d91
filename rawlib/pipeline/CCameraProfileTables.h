// The constant tables of the camera input-profile generator. Their values are written at build time by
// tools/make_camera_tables.cpp, whose header says how each one is derived.
#pragma once

#include <cstdint>

namespace KvCameraTables {

inline constexpr int kSetARows = 254;
inline constexpr int kSetAFirstGroup = 156; // rows 0 to 155; the second group holds the 98 rows after it
inline constexpr int kSetASecondGroup = kSetARows - kSetAFirstGroup;
inline constexpr int kSetBCRows = 126;
inline constexpr int kExposureWords = 8 * 4 * 4 * 6 * 5 * 5;
// One past the largest index the exposure-row lookup can form.
inline constexpr int kExposureRowBytes = 7 + 8 * 7 + 32 * 7 + 192 * 7 + 1;

// Index of the tone-parameter sets: the direct path's, then the grid path's by colour mode.
enum ToneSet { kToneDirect = 0, kToneGridMode3 = 1, kToneGridMode4Or6 = 2, kToneGridOther = 3 };
// Index of the gain-to-index tables.
enum GainTable { kGainCamera4 = 0, kGainCamera5 = 1, kGainCamera6 = 2, kGainOthers = 3 };

extern const double kMatrixSetA[kSetARows][18]; // M1 (row-major) then M2
extern const double kMatrixSetB[kSetBCRows][18];
extern const double kMatrixSetC[kSetBCRows][18];
extern const double kHueTableB[kSetBCRows][80]; // five groups of 16
extern const double kHueTableC[kSetBCRows][80];
extern const uint8_t kRowTableA[24][7]; // a row of the row table, then the tone mode
extern const uint8_t kRowTableB[24][7];
extern const uint8_t kRowTableC[24][7];
extern const double kToneParameters[4][7][13];
extern const uint16_t kGridInput[4096];
extern const uint8_t kGainToIndex[4][256][6];     // three pairs (red byte, blue byte) per gain row
extern const uint8_t kBrightnessLimits[4][2][54]; // sub-modes 0, 2, 3, 4; lows then highs
extern const uint16_t kExposureTable[kExposureWords];
extern const uint8_t kExposureRows[kExposureRowBytes];
extern const uint8_t kSettingTable[6][6];
extern const uint8_t kSettingSubModes[6][6];

} // namespace KvCameraTables
