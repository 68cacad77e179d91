// The profile utilities that every filter-chain object shares: the profile folder and the standard
// profiles prepared there. The first live object creates it and the last one deletes it.
#pragma once

#include <string>

class CKvFileSavingUtilities {
public:
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
    const std::string& GetRgbProfile() const { return m_rgb; }
    const std::string& GetCmykProfile() const { return m_cmyk; }
    const std::string& GetLchProfile() const { return m_lch; }

private:
    std::string m_folder, m_rgb, m_cmyk, m_lch;
};
