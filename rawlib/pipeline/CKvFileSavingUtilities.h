// The profile utilities that every filter-chain object shares: the profile folder with the standard
// profiles prepared there, the colour-engine cache, and the choice of each stage's profiles for a picture.
// The first live object creates it and the last one deletes it.
#pragma once

#include "filters/CPravonFilterCMLEngine.h"

#include <array>
#include <memory>
#include <string>

class CCMLEngMgr;
class ImageProperties;

class CKvFileSavingUtilities {
public:
    // Engines the cache keeps, held or idle.
    static constexpr LONG kEngineCapacity = 4;
    // The longest profile path, in characters; a longer one is refused rather than cut short.
    static constexpr std::size_t kMaxPath = 259;
    static constexpr int kStandardCount = 5;

    CKvFileSavingUtilities();
    ~CKvFileSavingUtilities();
    CKvFileSavingUtilities(const CKvFileSavingUtilities&) = delete;
    CKvFileSavingUtilities& operator=(const CKvFileSavingUtilities&) = delete;

    // The shared object, made when the first object is constructed; null while no object lives.
    static CKvFileSavingUtilities* Get();
    static void AddUser();
    // The last user deletes the shared object and clears the prepared flag.
    static void RemoveUser();
    static bool StandardProfilesPrepared();
    static void SetStandardProfilesPrepared();

    void SetStandardProfiles(const std::string& folder, const std::string& rgb, const std::string& cmyk,
                             const std::string& lch);
    const std::string& GetFolder() const { return m_folder; }
    const std::string& GetRgbProfile() const { return m_standard[0]; }
    const std::string& GetCmykProfile() const { return m_standard[1]; }
    const std::string& GetLchProfile() const { return m_standard[2]; }

    // The folder, always with a trailing separator.
    void SetProfileFolder(const std::string& folder);
    // The folder + name; empty when that path would be longer than kMaxPath.
    std::string GetProfilePath(const char* name) const;
    // Entry 0 .. 4 of the standard table (empty outside).
    std::string GetStandardProfile(int index) const;
    // Fills the table (entry 4 is the folder's sRGB profile) and tells whether all five files exist.
    bool FillStandardTable(const std::string& rgb, const std::string& cmyk, const std::string& lch,
                           const std::string& fourth);

    // The output profile of a picture: grey for grey sources, else the RGB choice or standard entry 0.
    std::string ChooseDefaultOutputProfile(const ImageProperties& snapshot) const;
    // The RGB space the picture was taken in; false when its EXIF data say nothing about it.
    bool ChooseRgbProfile(const ImageProperties& snapshot, std::string* path) const;
    // The profile the picture's samples are in as the chain receives them: for a raw picture the camera
    // profile generated for it (written to the profile folder or reused there); empty when none can be had.
    std::string GenerateCameraProfile(const ImageProperties& snapshot) const;
    // The engine from the picture's own profile to the destination, with the bits per sample of the
    // picture (8 or 16); false when no engine can be had.
    bool GetCameraEngine(CPravonFilterCMLEngine::Holder* holder, const ImageProperties& snapshot,
                         const std::string& destination, LONG* bits) const;
    bool GetEngine(CPravonFilterCMLEngine::Holder* holder, const std::string& source,
                   const std::string& destination) const;
    CCMLEngMgr* GetEngineCache() const { return m_cache.get(); }

    // What a camera profile is generated from, as the picture's settings and tags give it: the generator's
    // camera (0 for a model it does not know), the colour mode, the scene's brightness value (APEX) and the
    // tone mode (16: the picture's own curve) with where it came from (0 the tone tag, 1 the settings, 2 the
    // camera record's tone byte) and the tone taken when the picture's own curve cannot be had.
    struct CameraProfileParameters {
        LONG camera = 0;
        LONG colorMode = 0;
        double brightness = 0.0;
        LONG toneMode = 3;
        LONG toneSource = 0;
        LONG fallbackToneMode = 3;
    };
    static CameraProfileParameters GetCameraProfileParameters(const ImageProperties& snapshot);
    // The profile generator's camera for a camera-model code; 0 for a model it does not know.
    static LONG GeneratorCamera(WORD model);
    // The profile the picture's samples are converted from (what GetCameraEngine acquires); empty when none
    // can be had.
    std::string CameraProfile(const ImageProperties& snapshot) const;
    // The bits of the picture's samples as the camera engine takes them: 16 for a 16-bit source, else 8.
    static LONG CameraBits(const ImageProperties& snapshot);

private:
    std::string m_folder;
    std::array<std::string, kStandardCount> m_standard;
    std::unique_ptr<CCMLEngMgr> m_cache;
};
