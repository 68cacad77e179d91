#include "TKorvelRegServPrefs.h"

#include <memory>
#include <new>
#include <string>

namespace {

// A key of the service, open for the length of one operation.
class OpenKey {
public:
    OpenKey(IKvwRegistryService* service, const TStringA& key, bool create)
        : m_service(service),
          m_open(service && KvwSucceeded(create ? service->CreateKey(TKorvelRegServPrefs::kScope, key)
                                                : service->OpenKey(TKorvelRegServPrefs::kScope, key))) {}
    ~OpenKey() {
        if (m_open)
            m_service->CloseKey();
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;

    bool IsOpen() const { return m_open; }

private:
    IKvwRegistryService* m_service;
    bool m_open;
};

} // namespace

TKorvelRegServPrefs::~TKorvelRegServPrefs() {
    SetService(nullptr);
}

void TKorvelRegServPrefs::SetService(IKvwRegistryService* service) {
    if (service)
        service->AddRef();
    if (m_service)
        m_service->Release();
    m_service = service;
}

bool TKorvelRegServPrefs::Open() {
    return m_service && KvwSucceeded(m_service->Commit(kScope));
}

void TKorvelRegServPrefs::SplitKey(const wchar_t* path, TStringA& serviceKey, TStringA& valueName) {
    const TString whole(path ? path : L"");
    const int slash = whole.ReverseFind(L'/');
    if (slash < 0) {
        serviceKey = TStringA(static_cast<const wchar_t*>(whole));
        valueName = "Default";
        return;
    }
    serviceKey = TStringA(static_cast<const wchar_t*>(whole.Left(slash)));
    valueName = TStringA(static_cast<const wchar_t*>(whole.Mid(slash + 1)));
}

bool TKorvelRegServPrefs::GetString(const wchar_t* key, TString& value) {
    TStringA serviceKey, name;
    SplitKey(key, serviceKey, name);
    std::string text;
    KvwResult result;
    {
        OpenKey open(m_service, serviceKey, false);
        if (!open.IsOpen())
            return false;
        result = m_service->GetText(name, &text);
    }
    if (!KvwSucceeded(result))
        return false;
    value = TString(text.c_str());
    return true;
}

bool TKorvelRegServPrefs::SetString(const wchar_t* key, const wchar_t* value) {
    TStringA serviceKey, name;
    SplitKey(key, serviceKey, name);
    const TStringA text(value ? value : L"");
    OpenKey open(m_service, serviceKey, true);
    return open.IsOpen() && KvwSucceeded(m_service->SetText(name, text));
}

bool TKorvelRegServPrefs::GetBinary(const wchar_t* key, BYTE*& buffer, DWORD& size) {
    buffer = nullptr;
    size = 0;
    TStringA serviceKey, name;
    SplitKey(key, serviceKey, name);
    OpenKey open(m_service, serviceKey, false);
    DWORD reported = 0;
    if (!open.IsOpen() || !KvwSucceeded(m_service->GetBinary(name, nullptr, 0, &reported)) || reported == 0)
        return false;
    std::unique_ptr<BYTE[]> bytes(new (std::nothrow) BYTE[reported]);
    DWORD read = reported;
    if (!bytes || !KvwSucceeded(m_service->GetBinary(name, bytes.get(), reported, &read)))
        return false;
    buffer = bytes.release();
    size = read < reported ? read : reported;
    return true;
}

bool TKorvelRegServPrefs::SetBinary(const wchar_t* key, const BYTE* data, DWORD size) {
    TStringA serviceKey, name;
    SplitKey(key, serviceKey, name);
    OpenKey open(m_service, serviceKey, true);
    return open.IsOpen() && KvwSucceeded(m_service->SetBinary(name, data, size));
}
