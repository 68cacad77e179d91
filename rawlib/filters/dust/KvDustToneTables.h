// The tone tables a dust map corrects through: the forward part takes an image sample to 16-bit linear
// light, the inverse part (always 65536 entries) takes linear light back to the sample scale. Raw-mode
// images use the demosaicing's square and square-root tables; developed images the camera's rendering curve.
#pragma once

#include "KvDustTuning.h"

#include <vector>

namespace KvDust {

// Linear light of 1.0 in the tables' 16-bit scale: 65535 / 2.275, the headroom above white that the
// camera curves keep.
constexpr double kLinearWhite = 65535.0 / 2.275;

// The whole table of an image of the colour space: 65792 entries for 8-bit RGB, 131072 for 16-bit RGB and
// the 16-bit mosaic (kind 1013 for any other). Raw mode (forced for the mosaic) needs a 16-bit image (kind
// 1013 otherwise).
IPravonError* BuildToneTable(LONG colorSpace, bool rawMode, const DustTuning& tuning,
                             std::vector<WORD>* table);

// A camera type's rendering curve: linear light 0..1 to the sample scale 0..1, and back. False for a
// camera type without a curve.
bool CameraCurve(const DustTuning& tuning, double linear, double* sample);
bool CameraCurveInverse(const DustTuning& tuning, double sample, double* linear);

} // namespace KvDust
