// Preferences kept by the host's registry service. A key path is split at its last "/": the text before
// it is the service's key and the text after it the value name; a path without "/" is the key itself,
// with the value name "Default". Keys and names reach the service as UTF-8; reads open the key, writes
// create it, and every call closes what it opened.
#pragma once

#include "TGenPreferences.h"

#include "platform/kvtrtl/IKvwHost.h"

class TKorvelRegServPrefs : public TGenPreferences {
public:
    // The scope word every key of the framework is opened and created in.
    static constexpr DWORD kScope = 2;

    TKorvelRegServPrefs() = default;
    ~TKorvelRegServPrefs() override;

    // Holds one reference on the service (adding it here) and gives back the one held before.
    void SetService(IKvwRegistryService* service);
    bool HasService() const { return m_service != nullptr; }
    // Ends a series of writes (the service's final call); true when the service accepted it.
    bool Open();

    // Every failure of the service, of opening or of creating the key answers false; a read keeps the
    // caller's value then.
    bool GetString(const wchar_t* key, TString& value) override;
    bool SetString(const wchar_t* key, const wchar_t* value) override;
    // The value's bytes in an array of the size the service reported first; false (null, size 0) when the
    // size is 0, the array cannot be had or the second read fails. The size given back is never more than
    // the array holds.
    bool GetBinary(const wchar_t* key, BYTE*& buffer, DWORD& size) override;
    bool SetBinary(const wchar_t* key, const BYTE* data, DWORD size) override;

    // The service's key and the value name of a key path.
    static void SplitKey(const wchar_t* path, TStringA& serviceKey, TStringA& valueName);

private:
    IKvwRegistryService* m_service = nullptr;
};
