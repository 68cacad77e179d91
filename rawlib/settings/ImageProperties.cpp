#include "ImageProperties.h"

#include "KvColorTemperature.h"
#include "KvSourceImageSize.h"

ImageProperties::ImageProperties(CKvImageAttributes& a)
    : usmListEnabled(a.usmListEnabled), usmList(&a.usmList), lutGroup1Enabled(a.lutGroup1Enabled),
      lutGroup1(&a.lutGroup1), lutGroup2Enabled(a.lutGroup2Enabled), lutGroup2(&a.lutGroup2),
      sizeRes(&a.sizeRes), exposureEnabled(a.exposureEnabled), exposure(&a.exposure),
      whiteBalanceEnabled(a.whiteBalanceEnabled), whiteBalance(&a.whiteBalance),
      noiseReductionEnabled(a.noiseReductionEnabled), noiseReduction(&a.noiseReduction),
      vignetteEnabled(a.vignetteEnabled), vignette(&a.vignette),
      // A snapshot always has red-eye on: the record itself says whether there is anything to correct.
      redEyeEnabled(1), redEye(&a.redEye), dustEnabled(a.dustEnabled), dustRemoval(&a.dustRemoval),
      revelationEnabled(a.revelationEnabled), revelation(&a.revelation), fisheyeEnabled(a.fisheyeEnabled),
      fisheye(&a.fisheye), lutGroup3Enabled(a.lutGroup3Enabled), lutGroup3(&a.lutGroup3),
      filterPluginsEnabled(a.filterPluginsEnabled), filterPlugins(&a.filterPlugins),
      chromaBoosterEnabled(a.chromaBoosterEnabled), chromaBooster(&a.chromaBooster),
      brightnessEnabled(a.brightnessEnabled), brightness(&a.brightness), orientation(a.orientation),
      rotation(a.rotation), general(&a.general), sourceImage(a.GetSourceImage()),
      extraImages(a.GetExtraImages().empty() ? nullptr : a.GetExtraImages().data()),
      extraImageCount(static_cast<DWORD>(a.GetExtraImages().size())), secondImage(a.GetSecondImage()),
      tagControl(a.GetTagControl()), imageBuffer(a.GetImageBuffer()), opaqueData(a.opaqueBlock.GetData()),
      opaqueSize(a.opaqueBlock.GetSize()), temporaryFileFlag(a.temporaryFileFlag),
      temporaryFilePath(a.temporaryFilePath), firstFlag(a.firstFlag), instanceNumber(a.instanceNumber),
      spareWords(a.spareWords) {
    ReadCameraInformation();
    PrepareWhiteBalance();
}

bool ImageProperties::ReadCameraInformation() {
    const bool read = CKvImageAttributes::ReadCameraInformation(tagControl, cameraInformation);
    cameraModelCode = GetCameraModelCode(tagControl);
    return read;
}

void ImageProperties::OwnAdjustedStates() {
    if (whiteBalance && whiteBalance != m_ownWhiteBalance.get()) {
        m_ownWhiteBalance = std::make_shared<CKvWBAdjustment>(*whiteBalance);
        whiteBalance = m_ownWhiteBalance.get();
    }
    if (exposure && exposure != m_ownExposure.get()) {
        m_ownExposure = std::make_shared<CKvExposureAdjustment>(*exposure);
        exposure = m_ownExposure.get();
    }
}

bool ImageProperties::PrepareWhiteBalance() {
    OwnAdjustedStates();
    if (whiteBalanceEnabled && whiteBalance && whiteBalance->GetMode() == CKvWBAdjustment::kModeTemperature) {
        double red = whiteBalance->GetRedGain();
        double blue = whiteBalance->GetBlueGain();
        KvColorTemperatureToGains(whiteBalance->GetPreset(), whiteBalance->GetTemperature(), &red, &blue,
                                  cameraModelCode);
        whiteBalance->SetGains(red, blue);
    }
    if (!IsLimitedModel(cameraModelCode))
        return true;
    bool supported = true;
    if (whiteBalanceEnabled && whiteBalance && whiteBalance->GetMode() == kLimitedMode) {
        whiteBalanceEnabled = 0;
        supported = false;
    }
    if (exposureEnabled && exposure) {
        if (exposure->GetMode() == kLimitedMode) {
            exposure->SetMode(kExposureFallbackMode);
            supported = false;
        }
        if (exposure->GetSecondValue() != 0) {
            exposure->SetSecondValue(0);
            supported = false;
        }
    }
    return supported;
}
