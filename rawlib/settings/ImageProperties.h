// The snapshot of one image's development state that a development run takes from its image attributes:
// enable flags, borrowed pointers to the attributes' adjustments, the source references and a few source
// values. Taking it also prepares white balance and switches off modes some camera models lack.
#pragma once

#include "CKvImageAttributes.h"

#include <array>
#include <memory>
#include <string>

class ImageProperties {
public:
    // Camera models whose development supports neither white-balance mode 4 nor exposure mode 4 nor a
    // second exposure value.
    static constexpr WORD kFirstLimitedModel = 513;
    static constexpr WORD kLastLimitedModel = 516;
    static constexpr LONG kLimitedMode = 4;
    static constexpr LONG kExposureFallbackMode = 1;

    // Everything cleared: no adjustments, every flag off, both scales 1.
    ImageProperties() = default;
    // The attributes' state as it stands, then the camera information of its tag control and the
    // white-balance preparation. The attributes must outlive the snapshot.
    explicit ImageProperties(CKvImageAttributes& attributes);
    virtual ~ImageProperties() = default;

    // Computes colour-temperature gains (white balance in mode 3) and, on the limited camera models,
    // switches off what they do not support. False when a setting had to change. It works on the snapshot's
    // own copies of the white-balance and exposure states (made here when the pointers name other objects;
    // std::bad_alloc when they cannot be), so the states the snapshot was taken from keep what they hold.
    bool PrepareWhiteBalance();
    // Keeps the first 16 of the 32 camera-information bytes of the tag control (false when they cannot be
    // read) and stores the tag control's camera-model code (0 when it cannot tell).
    bool ReadCameraInformation();

    static bool IsLimitedModel(WORD model) {
        return model >= kFirstLimitedModel && model <= kLastLimitedModel;
    }

    DWORD usmListEnabled = 0;
    CKvUSMList* usmList = nullptr;
    DWORD lutGroup1Enabled = 0;
    CKvLutGroup* lutGroup1 = nullptr;
    DWORD lutGroup2Enabled = 0;
    CKvLutGroup* lutGroup2 = nullptr;
    CKvSizeRes* sizeRes = nullptr;
    DWORD exposureEnabled = 0;
    CKvExposureAdjustment* exposure = nullptr;
    DWORD whiteBalanceEnabled = 0;
    CKvWBAdjustment* whiteBalance = nullptr;
    DWORD noiseReductionEnabled = 0;
    CKvNoiseReduction* noiseReduction = nullptr;
    DWORD vignetteEnabled = 0;
    CKvVignette* vignette = nullptr;
    DWORD redEyeEnabled = 0;
    CKvFnRedEye* redEye = nullptr;
    DWORD dustEnabled = 0;
    CKvDustRemoval* dustRemoval = nullptr;
    DWORD revelationEnabled = 0;
    CKvRevelation* revelation = nullptr;
    DWORD fisheyeEnabled = 0;
    CKvFisheye* fisheye = nullptr;
    DWORD lutGroup3Enabled = 0;
    CKvLutGroup* lutGroup3 = nullptr;
    DWORD filterPluginsEnabled = 0;
    CKvFilterPluginList* filterPlugins = nullptr;
    DWORD chromaBoosterEnabled = 0;
    CKvChromaBooster* chromaBooster = nullptr;
    DWORD brightnessEnabled = 0;
    CKvBrightness* brightness = nullptr;
    BYTE orientation = 0;
    SHORT rotation = 0;
    CKvLEGeneral* general = nullptr;

    // Borrowed from the attributes, which keep them registered.
    IPravonImage* sourceImage = nullptr;
    const KvExtraImage* extraImages = nullptr;
    DWORD extraImageCount = 0;
    IPravonImage* secondImage = nullptr;
    IPravonTagControl* tagControl = nullptr;
    BYTE* imageBuffer = nullptr;

    WORD cameraModelCode = 0;
    CKvImageAttributes::CameraInformation cameraInformation{};
    // A view of the attributes' opaque block, not a copy.
    const BYTE* opaqueData = nullptr;
    std::size_t opaqueSize = 0;
    double firstScale = 1.0;
    double secondScale = 1.0;
    BYTE temporaryFileFlag = 0;
    std::string temporaryFilePath;
    BYTE firstFlag = 0;
    DWORD instanceNumber = 0;
    std::array<DWORD, 2> spareWords{};
    // What the development chain knows of the picture's colours, set by its owner: a raw source, a profile
    // file saved from the picture, a request for the standard output profile, curve groups kept apart.
    BYTE rawFlag = 0;
    BYTE embeddedProfile = 0;
    std::string embeddedProfilePath;
    BYTE defaultProfileRequested = 0;
    BYTE separateCurves = 0;
    // The lost-detail display: clipped highlights shown (first), else clipped shadows.
    BYTE lostHighlights = 0;
    BYTE lostShadows = 0;
    // Carried for the pipeline; nothing here reads them.
    BYTE firstSmallFlag = 0;
    BYTE secondSmallFlag = 1;
    BYTE thirdSmallFlag = 0;

private:
    // Points the white-balance and exposure pointers at copies of their states that this snapshot (and
    // its copies) own; shared, so that a copied snapshot's pointers stay valid.
    void OwnAdjustedStates();
    std::shared_ptr<CKvWBAdjustment> m_ownWhiteBalance;
    std::shared_ptr<CKvExposureAdjustment> m_ownExposure;
};
