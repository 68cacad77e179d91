#include "TMailManager.h"

#include "plugin_framework/TFilePath.h"
#include "plugin_framework/TModuleValues.h"
#include "plugin_framework/TRegManager.h"

#include "platform/mapi/MAPI.h"
#include "platform/win/WinMessageText.h"
#include "platform/win/WinProfile.h"
#include "platform/win/WinSearchPath.h"
#include "platform/win/utf16.h"

#include <memory>
#include <string>

namespace {

constexpr const wchar_t* kMapiLibrary = L"MAPI32.DLL";
constexpr DWORD kLanguageUserDefault = 0x400;

// The language library's text of each result that has one.
constexpr struct {
    ULONG result;
    UINT text;
} kResultTexts[] = {
    {SUCCESS_SUCCESS, TMailManager::kSuccessText},
    {MAPI_USER_ABORT, 26},
    {MAPI_E_FAILURE, 14},
    {MAPI_E_LOGIN_FAILURE, 20},
    {MAPI_E_INSUFFICIENT_MEMORY, 18},
    {MAPI_E_TOO_MANY_FILES, 22},
    {MAPI_E_TOO_MANY_RECIPIENTS, 23},
    {MAPI_E_ATTACHMENT_NOT_FOUND, 16},
    {MAPI_E_ATTACHMENT_OPEN_FAILURE, 15},
    {MAPI_E_UNKNOWN_RECIPIENT, 25},
    {MAPI_E_BAD_RECIPTYPE, 17},
    {MAPI_E_TEXT_TOO_LARGE, 21},
    {MAPI_E_INVALID_RECIPS, 24},
    {MAPI_E_NOT_SUPPORTED, 19},
};

// The system's narrow text is UTF-8.
std::string Narrow(const TString& text) {
    return Utf::WideToUtf8(
        std::wstring_view(static_cast<const wchar_t*>(text), static_cast<std::size_t>(text.GetLength())));
}

} // namespace

TMailManager::TMailManager() {
    m_resource.SetModule(GetThisModule());
}

TMailManager::~TMailManager() = default;

bool TMailManager::Init() {
    TRegManager registry;
    m_defaultMailClient = TString();
    registry.GetString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Clients\\Mail", m_defaultMailClient, L"");
    if (GetProfileIntW(L"MAIL", L"MAPI", 0) == 0)
        return false;
    std::wstring found(1024, L'\0');
    DWORD length =
        SearchPathW(nullptr, kMapiLibrary, nullptr, static_cast<DWORD>(found.size()), found.data(), nullptr);
    if (length >= found.size()) {
        found.assign(length, L'\0');
        length = SearchPathW(nullptr, kMapiLibrary, nullptr, length, found.data(), nullptr);
    }
    if (length == 0 || length >= found.size())
        return false;
    // The library is loaded from where the search found it, so the load cannot pick another copy.
    found.resize(length);
    TFilePath location;
    location.Set(TString(found.c_str()));
    return m_library.Load(location);
}

bool TMailManager::Unload() {
    return m_library.Free();
}

ULONG TMailManager::SendMail(const std::vector<TString>& paths, HWND owner) {
    std::vector<std::string> fullPaths;
    std::vector<std::string> names;
    for (const TString& path : paths) {
        TFilePath file;
        file.Set(path);
        if (!file.Exists())
            continue; // deleted since it was written: left out of the message
        fullPaths.push_back(Narrow(path));
        names.push_back(Narrow(GetFileName(path)));
    }
    LPMAPISENDMAIL send = nullptr;
    if (!m_library.GetProc("MAPISendMail", send))
        return kNoEntryPoint;
    // A message without any of its files would reach the user as an empty mail: report the files missing.
    if (fullPaths.empty())
        return MAPI_E_ATTACHMENT_NOT_FOUND;

    std::vector<MapiFileDesc> files(fullPaths.size(), MapiFileDesc{});
    for (std::size_t i = 0; i < files.size(); ++i) {
        files[i].nPosition = 0xFFFFFFFFu; // no place in the note text
        files[i].lpszPathName = fullPaths[i].data();
        files[i].lpszFileName = names[i].data();
    }
    MapiMessage message{};
    message.nFileCount = static_cast<ULONG>(files.size());
    message.lpFiles = files.data();
    return send(0, reinterpret_cast<std::uintptr_t>(owner), &message, MAPI_LOGON_UI | MAPI_DIALOG, 0);
}

TString TMailManager::GetErrorText(ULONG result) const {
    for (const auto& entry : kResultTexts) {
        if (entry.result == result) {
            TString text;
            m_resource.LoadString(entry.text, text);
            return text;
        }
    }
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        result, kLanguageUserDefault, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    TString text;
    if (length > 0 && buffer)
        text = TString(buffer);
    if (buffer)
        LocalFree(buffer);
    return text;
}
