// One object of every record the aggregate settings record carries, and the set pointing at all of them:
// what the aggregate's tests and its fuzz target read into.
#pragma once

#include "rawlib/settings/CKvImageProcSet.h"

namespace kvtest {

struct AllSettings {
    CKvUSMList usmList;
    CKvLutGroup lutGroup1;
    CKvLutGroup lutGroup2;
    CKvLutGroup lutGroup3;
    CKvRevelation revelation;
    CKvSizeRes sizeRes;
    CKvExposureAdjustment exposure;
    CKvWBAdjustment whiteBalance;
    CKvNoiseReduction noiseReduction;
    CKvVignette vignette;
    CKvFnRedEye redEye;
    CKvDustRemoval dustRemoval;
    CKvLEGeneral general;
    CKvFisheye fisheye;
    CKvFilterPluginList filterPlugins;
    CKvChromaBooster chromaBooster;
    CKvBrightness brightness;

    // Points every record of `set` at this object's.
    void Attach(CKvImageProcSet& set) {
        set.usmList = &usmList;
        set.lutGroup1 = &lutGroup1;
        set.lutGroup2 = &lutGroup2;
        set.lutGroup3 = &lutGroup3;
        set.revelation = &revelation;
        set.sizeRes = &sizeRes;
        set.exposure = &exposure;
        set.whiteBalance = &whiteBalance;
        set.noiseReduction = &noiseReduction;
        set.vignette = &vignette;
        set.redEye = &redEye;
        set.dustRemoval = &dustRemoval;
        set.general = &general;
        set.fisheye = &fisheye;
        set.filterPlugins = &filterPlugins;
        set.chromaBooster = &chromaBooster;
        set.brightness = &brightness;
    }
};

} // namespace kvtest
