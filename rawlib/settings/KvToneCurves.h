// The built-in tone curves of the development pipeline: three standard curves (a linear toe, a power
// middle and a power shoulder) and the camera fallback curve used when a picture carries no curve of its
// own. Tables hold 2^bits 16-bit entries on a scale where 56320 is white.
#pragma once

#include "platform/win/wintypes.h"

// Fills `table` with standard curve `row` (0 to 2) for 12 or 16 bits; other bits or rows leave it as it is.
void BuildStandardToneCurve(WORD* table, int bits, int row);
// Fills `table` with the camera fallback curve of a camera model for 12 or 16 bits; false, with the
// table untouched, for other bits or no table.
bool BuildCameraFallbackCurve(WORD* table, int bits, DWORD cameraModel);
