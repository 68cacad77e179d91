// The development state of one image: one object of every adjustment with its enable byte, the
// orientation, the opaque block and a few source values. It fills an aggregate settings record from
// itself for writing and reading, and takes the record's parts back afterwards.
#pragma once

#include "CKvImageProcSet.h"

#include "platform/quasel/IPravonTagControl.h"

#include <array>

class CKvImageAttributes {
public:
    // The tag that holds the camera information, of which the first 16 of 32 bytes are kept.
    static constexpr ULONG kCameraInformationTag = 0x8000C;
    static constexpr LONG kCameraInformationType = 4;
    static constexpr int kCameraInformationRead = 32;
    static constexpr LONG kDefaultWidth = 3008;
    static constexpr LONG kDefaultHeight = 2000;
    static constexpr double kDefaultResolution = 300.0;

    CKvImageAttributes();
    CKvImageAttributes(const CKvImageAttributes&) = delete;
    CKvImageAttributes& operator=(const CKvImageAttributes&) = delete;
    virtual ~CKvImageAttributes();

    // Keeps the camera information of the tag control (the old value stays when the tag cannot be read)
    // and its camera-model code (0 when it cannot tell), and returns the code.
    virtual DWORD ReadSourceInformation();
    // Points `set` at this object's adjustments and copies the enable bytes, orientation, rotation and
    // opaque block into it.
    virtual void GetStateTable(CKvImageProcSet& set);
    // Takes the set's parts back: each given adjustment is assigned (a set filled from this object gives
    // its own objects, which keep what they hold), each missing one goes back to its defaults.
    virtual void SetStateTable(const CKvImageProcSet& set);

    // Holds a reference on the image's tag control (null lets go of it).
    void SetTagControl(IPravonTagControl* tags);
    IPravonTagControl* GetTagControl() const { return m_tags; }

    BYTE firstFlag = 0;
    BYTE usmListEnabled = 1;
    CKvUSMList usmList;
    BYTE lutGroup1Enabled = 1;
    CKvLutGroup lutGroup1;
    BYTE lutGroup2Enabled = 1;
    CKvLutGroup lutGroup2;
    CKvSizeRes sizeRes;
    BYTE orientation = 0;
    SHORT rotation = 0;
    BYTE exposureEnabled = 1;
    CKvExposureAdjustment exposure;
    BYTE whiteBalanceEnabled = 1;
    CKvWBAdjustment whiteBalance;
    BYTE noiseReductionEnabled = 1;
    CKvNoiseReduction noiseReduction;
    CKvLEGeneral general;
    BYTE vignetteEnabled = 0;
    CKvVignette vignette;
    BYTE redEyeEnabled = 0;
    CKvFnRedEye redEye;
    BYTE dustEnabled = 1;
    CKvDustRemoval dustRemoval;
    BYTE revelationEnabled = 0;
    CKvRevelation revelation;
    BYTE fisheyeEnabled = 0;
    CKvFisheye fisheye;
    BYTE filterPluginsEnabled = 1;
    CKvFilterPluginList filterPlugins;
    BYTE lutGroup3Enabled = 1;
    CKvLutGroup lutGroup3;
    BYTE chromaBoosterEnabled = 1;
    CKvChromaBooster chromaBooster;
    BYTE brightnessEnabled = 1;
    CKvBrightness brightness;
    BYTE temporaryFileFlag = 0;
    KvOwnedBlock opaqueBlock;
    DWORD secondFlag = 0;
    double scale = -1.0;
    DWORD instanceNumber;
    double resolution = kDefaultResolution;
    std::array<BYTE, 16> cameraInformation{1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
    DWORD cameraModelCode = 0;

private:
    IPravonTagControl* m_tags = nullptr;
};
