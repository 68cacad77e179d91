// The camera profile generator's parameter record of a raw picture, filled from its camera settings and
// white-balance state when those are on, otherwise from the camera's own tags.
#pragma once

#include "CCameraProfileGen.h"

#include <vector>

class ImageProperties;

// The record of the picture. With the custom tone curve, `curve` receives its 65536 entries and the
// record points into it, so it must outlive every use of the record; when the curve cannot be rendered the
// record falls back to the camera's standard tone.
CameraProfileParams CameraProfileRecord(const ImageProperties& snapshot, std::vector<WORD>* curve);
