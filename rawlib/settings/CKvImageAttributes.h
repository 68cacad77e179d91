// The development state of one image: one object of every adjustment with its enable byte, the
// orientation, the opaque block and a few source values. It fills an aggregate settings record from
// itself for writing and reading, and takes the record's parts back afterwards.
#pragma once

#include "CKvImageProcSet.h"

#include "platform/pravon/IPravonImage.h"
#include "platform/quasel/IPravonTagControl.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

class ImageProperties;

// An image that development uses beside the source, with the two words the pipeline keeps with it.
struct KvExtraImage {
    DWORD first = 0;
    DWORD second = 0;
    IPravonImage* image = nullptr;
};

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
    // Releases the source image (with the temporary file when the temporary-file flag is set), the extra
    // images, the second image and the tag control through the process-wide registries.
    virtual ~CKvImageAttributes();

    // A snapshot of this object for one development run; null when memory runs out.
    virtual std::unique_ptr<ImageProperties> CreateProperties();
    using CameraInformation = std::array<BYTE, 16>;
    // Keeps the first 16 of the 32 camera-information bytes of the tags; false, with `information` as it
    // was, when they cannot be read.
    static bool ReadCameraInformation(IPravonTagControl* tags, CameraInformation& information);

    // Keeps the camera information of the tag control (the old value stays when the tag cannot be read)
    // and its camera-model code (0 when it cannot tell), and returns the code.
    virtual DWORD ReadSourceInformation();
    // Points `set` at this object's adjustments and copies the enable bytes, orientation, rotation and
    // opaque block into it.
    virtual void GetStateTable(CKvImageProcSet& set);
    // Takes the set's parts back: each given adjustment is assigned (a set filled from this object gives
    // its own objects, which keep what they hold), each missing one goes back to its defaults.
    virtual void SetStateTable(const CKvImageProcSet& set);
    // Every adjustment, its enable byte, the size settings and the orientation as a new object holds them,
    // so that a picture without stored settings keeps nothing of an earlier one's.
    void ResetStates();

    // Each setter adds this object as a user of the new object in the process-wide registries and
    // releases the old one (null only lets go).
    void SetTagControl(IPravonTagControl* tags);
    IPravonTagControl* GetTagControl() const { return m_tags; }
    void SetSourceImage(IPravonImage* image);
    IPravonImage* GetSourceImage() const { return m_sourceImage; }
    void SetSecondImage(IPravonImage* image);
    IPravonImage* GetSecondImage() const { return m_secondImage; }
    void AddExtraImage(DWORD first, DWORD second, IPravonImage* image);
    const std::vector<KvExtraImage>& GetExtraImages() const { return m_extraImages; }
    // The pixel buffer behind the source image, shared by every user of that image.
    void SetImageBuffer(std::shared_ptr<BYTE[]> buffer) { m_imageBuffer = std::move(buffer); }
    BYTE* GetImageBuffer() const { return m_imageBuffer.get(); }

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
    // The source image's temporary file, deleted with the image's last release when the flag is set.
    std::string temporaryFilePath;
    KvOwnedBlock opaqueBlock;
    DWORD secondFlag = 0;
    double scale = -1.0;
    DWORD instanceNumber;
    double resolution = kDefaultResolution;
    CameraInformation cameraInformation{1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
    DWORD cameraModelCode = 0;
    std::array<DWORD, 2> spareWords{};

private:
    IPravonTagControl* m_tags = nullptr;
    IPravonImage* m_sourceImage = nullptr;
    IPravonImage* m_secondImage = nullptr;
    std::vector<KvExtraImage> m_extraImages;
    std::shared_ptr<BYTE[]> m_imageBuffer;
};
