// Colour temperature of the white-balance presets, and the red and blue gains that a preset at a colour
// temperature gives on a camera model (fitted polynomials in mired, per camera-model group).
#pragma once

#include "platform/win/wintypes.h"

// The nominal temperature in kelvin of a light-source preset; 0 for codes that have none.
WORD KvDefaultColorTemperature(LONG preset);

// Writes the red and blue gains for the preset at `temperature` kelvin on the camera model. Does nothing
// when either output is missing. A temperature of 0 lies outside every formula and gives gains of 1.0.
void KvColorTemperatureToGains(LONG preset, WORD temperature, double* redGain, double* blueGain,
                               WORD cameraModel);
