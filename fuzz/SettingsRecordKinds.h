// The settings records the settings-record fuzz target reads. The first input byte picks one (modulo the
// count); new kinds go at the end so that corpus files keep their meaning.
#pragma once

#include "platform/win/wintypes.h"

enum class SettingsRecordKind : BYTE {
    kBrightness,
    kExposureAdjustment,
    kChromaBooster,
    kLEGeneral,
    kWBAdjustment,
    kToneChannel,
    kHueChannel,
    kChromaChannel,
    kLutGroup,
    kLchCalibration, // the bytes of a calibration file
    kCount
};
