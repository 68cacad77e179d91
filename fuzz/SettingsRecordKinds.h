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
    kNoiseReduction,
    kUSM,
    kUSMList,
    kVignette,
    kFisheye,
    kRevelation,
    // Before the record: image width and height (16 bits each) and the reader's orientation (bit 0
    // mirrored, bits 1-2 quarter turns; bits 3-5 another orientation to turn to afterwards).
    kSizeRes,
    // Read against an installed-plug-in table of some of the test plug-ins (see the fuzz target).
    kFilterPlugins,
    kFilterPluginList,
    kFnRedEye,
    kDustRemoval,
    kCount
};
