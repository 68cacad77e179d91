// The design module's remembered global value: the path of the layout worked with last, kept in the host's
// registry service under "Design". Without that service nothing is read or written.
#pragma once

#include "plugin_framework/TKorvelRegServPrefs.h"
#include "plugin_framework/TString.h"

class TUserOptions {
public:
    static constexpr const wchar_t* kLastLayoutKey = L"Design/last_ltf_path";

    TUserOptions();
    virtual ~TUserOptions() = default;
    TUserOptions(const TUserOptions&) = delete;
    TUserOptions& operator=(const TUserOptions&) = delete;

    // Takes the host's registry service (through the module's host link) and reads the last layout path
    // when the key is there; false without the service.
    bool Load();
    // Writes the last layout path and ends the series of writes; false, writing nothing, without a service.
    bool Save();

    const TString& GetLastLayoutPath() const { return m_lastLayoutPath; }
    void SetLastLayoutPath(const TString& path) { m_lastLayoutPath = path; }

private:
    TRefPtr<TKorvelRegServPrefs> m_preferences;
    TString m_lastLayoutPath;
};
