// Calibration files of the LCh filters for tests: their bytes, written into a test machine's profile
// folder, where the filters and the calibration reader look for them.
#pragma once

#include "rawlib/settings/KvCurvePoints.h"
#include "testing/TempSystemRoot.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kvtest {

// Version 1, the point count, the points and the level, then `tail` further bytes (1 in a whole file).
std::vector<std::uint8_t> LchCalibrationBytes(const std::vector<KvHuePoint>& points, double level,
                                              int tail = 1);

// The machine's profile folder, made when missing, ending in a separator.
std::string ProfileFolder(const TempSystemRoot& machine);
// Writes the bytes as the named file of the profile folder.
void WriteProfileFile(const TempSystemRoot& machine, const std::string& name,
                      const std::vector<std::uint8_t>& bytes);

} // namespace kvtest
