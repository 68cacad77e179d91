// The exported filter-chain object: keeps one picture's development settings, loaded from the picture's
// settings tag, and turns every setter call into a change of those settings.
#pragma once

#include "CKLImageAttributes.h"
#include "CKvTolmoFilterChain.h"
#include "IKvnFilterChain.h"
#include "KvOrientation.h"

#include <memory>

#include <string>

class CKvnFilterChain : public IKvnFilterChain, public CKLImageAttributes {
public:
    // Orientation of the picture as an EXIF code and back (see KvOrientation).
    static void OrientationFromCode(LONG code, double* angle, bool* flip);
    static LONG CodeFromOrientation(double angle, bool flip);
    // Camera model 259's output factor: its tall pixels are developed at this share of the full size.
    static constexpr double kModel259Factor = 0.7492354740061162;
    // The stored settings' classes that GetCaptureSettings item 2 reports.
    static constexpr DWORD kClassEditedV5 = 1;
    static constexpr DWORD kClassEditedOld = 2;
    static constexpr DWORD kClassUnedited = 3;
    static constexpr DWORD kClassEditedV0 = 10;
    static constexpr ULONG kSettingsTag = 0x80E01;
    static constexpr ULONG kDustReferenceTag = 0x80E0B;

    CKvnFilterChain();
    ~CKvnFilterChain() override;

    IPravonError* Initialize(IPravonManager* manager, IPravonImage* image,
                             IPravonTagControl* tagControl) override;
    IPravonError* SetSourceImage(IPravonImage* image) override;
    IPravonError* SetMode(strKvnModeParam* mode) override;
    IPravonError* GetMode(strKvnModeParam* mode) override;
    IPravonError* SetImageInfo(strKvnImageInfoParam* info, bool apply) override;
    IPravonError* GetImageInfo(strKvnImageInfoParam* info) override;
    IPravonError* GetFilterChain(IPravonFilterChain** out) override;
    IPravonError* GetCaptureSettings(strKvnNCParam* param) override;
    IPravonError* SetRawOption(strKvnRawOption* option) override;
    IPravonError* GetRawOption(strKvnRawOption* option) override;
    IPravonError* ResetRawOption(strKvnRawOption* option) override;
    IPravonError* Cleanup(bool keep) override;
    IPravonError* Destroy() override;

    bool IsInitialised() const { return m_initialised != 0; }
    DWORD GetSettingsClass() const { return m_settingsClass; }
    DWORD GetColorClass() const { return m_colorClass; }
    bool IsRawSource() const { return m_rawSource; }
    const std::string& GetDefaultOutputProfile() const { return m_defaultProfile; }
    const std::string& GetEmbeddedProfilePath() const { return m_embeddedPath; }
    // The orientation the development applies: the stored settings' on top of the source's own. The
    // attributes' rotation and flip hold it from the set-up on.
    KvOrientation GetOrientation() const { return KvOrientation::Of(orientation != 0, rotation); }
    double GetRotationAngle() const { return GetOrientation().angle; }
    bool GetFlip() const { return orientation != 0; }
    // The orientation the source's tags give it (none without them).
    const KvOrientation& GetSourceOrientation() const { return m_sourceOrientation; }
    // The internal chain while GetFilterChain's graph lives; null before.
    CKvTolmoFilterChain* GetInternalChain() const { return m_chain.get(); }
    // Updates the live chain from a fresh snapshot of the settings (nothing without a chain).
    IPravonError* UpdateChain(DWORD mask);

private:
    IPravonError* SetUp();
    IPravonError* LoadStoredSettings();
    // The dust reference stored beside the settings, for a dust removal that is on.
    void LoadDustReference();
    void SaveEmbeddedProfileFile(const std::string& folder);
    void DeleteEmbeddedProfileFile();
    IPravonError* ReadStoredSettings(LONG width, LONG height, bool* hadSettings);
    DWORD ComputeSettingsClass(bool hadSettings) const;
    // Any adjustment that is on holds a setting that changes the picture.
    bool AnyAdjustmentEdited() const;
    void ApplyModel259Factor(bool hadSettings);
    // The standard profiles' table, filled by the first set-up of the process.
    static void PrepareStandardProfiles(const std::string& folder);
    // The orientation taken into the attributes (right angles kept whole).
    void StoreOrientation(const KvOrientation& turn);
    IPravonError* WriteSizeSettings();
    void ResetModes();
    // The record's modes as the development chain takes them.
    static DWORD ChainMode(DWORD developmentMode) {
        return developmentMode == 1 ? 4 : developmentMode == 3 ? 3 : 2;
    }
    static DWORD ChainScalingMethod(DWORD scalingMethod) {
        return scalingMethod == 2 ? 1 : scalingMethod == 3 ? 2 : 0;
    }
    static DWORD ChainCacheUsage(DWORD cacheMode) { return cacheMode == 0 ? 2 : 0; }
    static bool NativeOrderOn(DWORD nativeOrder) { return nativeOrder == 2; }
    CKvTolmoFilterChain::OutputParameters OutputParametersOf() const;

    IPravonManager* m_manager = nullptr;
    std::unique_ptr<CKvTolmoFilterChain> m_chain;
    // The mode record's values as the caller set them (0 in a record keeps a value).
    DWORD m_developmentMode = 2;
    DWORD m_scalingMethod = 1;
    DWORD m_cacheMode = 0;
    DWORD m_nativeOrder = 1;
    DWORD m_sourceBytes = 0;
    DWORD m_colorClass = 0;
    std::string m_defaultProfile;
    BYTE m_cameraSettingsFlag = 1;
    LONG m_setupWidth = 0, m_setupHeight = 0;
    LONG m_requestedWidth = 0, m_requestedHeight = 0;
    double m_outputScale = 1.0;
    BYTE m_initialised = 0;
    BYTE m_setupDone = 0;
    DWORD m_settingsClass = 0;
    LONG m_settingsColorSpace = 0;
    // The temporary profile file this object made; only that file is ever deleted.
    std::string m_embeddedPath;
    KvOrientation m_sourceOrientation;
    bool m_rawSource = false;
};
