// The built-in tone curves of the development pipeline: three standard curves (a linear toe, a power
// middle and a power shoulder) and the camera fallback curve used when a picture carries no curve of its
// own. Tables hold 2^bits 16-bit entries on a scale where 56320 is white.
#pragma once

#include "platform/win/wintypes.h"

class ImageProperties;

// The tag holding a picture's own tone curve: a curve-group record of this many bytes.
inline constexpr ULONG kCameraToneCurveTag = 0x8008C;
inline constexpr ULONG kCameraToneCurveSize = 4160;

// Fills `table` with standard curve `row` (0 to 2) for 12 or 16 bits; other bits or rows leave it as it is.
void BuildStandardToneCurve(WORD* table, int bits, int row);
// Fills `table` with the camera fallback curve of a camera model for 12 or 16 bits; false, with the
// table untouched, for other bits or no table.
bool BuildCameraFallbackCurve(WORD* table, int bits, DWORD cameraModel);
// Fills `table` with the picture's own tone curve for 12 or 16 bits: the camera fallback curve of its
// model, shaped by the first channel of the curve group in its tone-curve tag; the fallback curve alone
// when the tag is missing or cannot be decoded. False, with the table untouched, for other bits, no table
// or no properties.
bool BuildCameraToneCurve(const ImageProperties* properties, WORD* table, int bits);
