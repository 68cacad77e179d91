#include "TUserOptions.h"

#include "plugin_framework/HostLink.h"

TUserOptions::TUserOptions() : m_preferences(TRefPtr<TKorvelRegServPrefs>::Adopt(new TKorvelRegServPrefs)) {}

bool TUserOptions::Load() {
    IKvwRegistryService* service = HostLink::Instance()->GetRegistryService();
    if (!service)
        return false;
    m_preferences->SetService(service);
    service->Release();
    TString path;
    if (m_preferences->GetString(kLastLayoutKey, path))
        m_lastLayoutPath = path;
    return true;
}

bool TUserOptions::Save() {
    if (!m_preferences->HasService())
        return false;
    m_preferences->SetString(kLastLayoutKey, m_lastLayoutPath);
    return m_preferences->Open();
}
