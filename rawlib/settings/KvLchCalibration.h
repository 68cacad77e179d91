// The LCh calibration files of the profile folder ("KvLchCal.nlc" for the LCh editor, "KvCBoost.nlc" for
// the chroma booster): a chroma point set and its level that hold back the chroma adjustment of weakly
// coloured pixels. Layout, little-endian: version 1 (16-bit), point count n (16-bit), n points of three
// doubles (x, y, z), the level (double), one byte not interpreted; exactly 13 + 24n bytes.
#pragma once

#include "platform/pravon/IPravonError.h"
#include "platform/win/wintypes.h"

#include <cstddef>
#include <vector>

class CKvChromaChannel;
class CKvLutGroup;

// Results of LoadLchCalibration.
namespace KvLchCalibrationResult {
constexpr int kLoaded = 0;
constexpr int kNoMemory = 1;
constexpr int kUnreadable = 2;  // cannot be opened, measured or read
constexpr int kWrongLength = 3; // the length does not match the contents (or the version is not 1)
} // namespace KvLchCalibrationResult

// Error kinds the LCh filters report for a calibration file.
namespace KvLchCalibrationKind {
constexpr LONG kWrongLength = 3500;
constexpr LONG kUnreadable = 3501;
} // namespace KvLchCalibrationKind

constexpr const char* kKvLchCalibrationFile = "KvLchCal.nlc";
constexpr const char* kKvChromaBoostCalibrationFile = "KvCBoost.nlc";

// Reads the calibration file `fileName` (default "KvLchCal.nlc") of the profile folder into the channel's
// calibration set (its edited set when its set selector is not 1) and level B. The file is checked whole
// before anything is taken from it: on any failure the channel is unchanged. A null channel gives 2.
int LoadLchCalibration(CKvChromaChannel* channel, const char* fileName = nullptr);

// The parse behind LoadLchCalibration, over the file's bytes: 0, 1 or 3.
int KvParseLchCalibration(CKvChromaChannel& channel, const BYTE* bytes, std::size_t size);

// What both LCh filters do with their calibration file: a temporary group's chroma channel (id 1) reads
// the file and its calibration set is rendered into 65,536 unsigned 16-bit entries over the hue circle,
// 1.0 being 32768. Failures come back as PravonKind::kOutOfMemory (no memory),
// KvLchCalibrationKind::kUnreadable (the file cannot be read) or KvLchCalibrationKind::kWrongLength (its
// length is wrong), with component 0; the table is then left as it was.
IPravonError* KvReadCalibrationTable(const char* fileName, std::vector<WORD>& table);

// Makes `group` the LCh group of the settings: tone channel 0, lightness tone channel 1 (current), chroma
// channel 2 with its calibration set from the default calibration file, hue channel 3. Returns the
// calibration result; the group is built whatever it is (without a file the calibration set stays empty).
int KvBuildLchGroup(CKvLutGroup& group);
