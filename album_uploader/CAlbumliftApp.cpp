#include "CAlbumliftApp.h"

#include "album_uploader/CPiAlbumUploader.h"
#include "album_uploader/KvUploadResult.h"
#include "platform/win/WinDebug.h"
#include "platform/win/WinModule.h"
#include "platform/win/WinPath.h"
#include "platform/win/WinRegistry.h"
#include "platform/win/WinResources.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr const char* kLanguageLibrary = "KvtAlbumliftLang.dll";
constexpr std::uint32_t kLanguageFolderText = 1000; // "Korvel\Uploader\" in the library's own resources
// Longer texts are cut here; the only one that matters, the connection string, is refused far below it.
constexpr int kTextLimit = 4096;

// The machine's common-files folder, or empty when the key or the string value is missing.
std::string CommonFilesFolder() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_READ,
                      &key) != ERROR_SUCCESS)
        return {};
    std::string folder;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, "CommonFilesDir", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_SZ && size > 0) {
        std::vector<char> text(size);
        if (RegQueryValueExA(key, "CommonFilesDir", nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                             &size) == ERROR_SUCCESS &&
            type == REG_SZ)
            folder.assign(text.data(), strnlen(text.data(), size));
    }
    RegCloseKey(key);
    return folder;
}

bool LoadModuleText(HMODULE module, std::uint32_t id, std::string& text) {
    std::vector<char> buffer(kTextLimit);
    const int length = LoadStringA(module, id, buffer.data(), kTextLimit);
    if (length <= 0)
        return false;
    text.assign(buffer.data(), static_cast<std::size_t>(length));
    return true;
}

bool Refuse() {
    OutputDebugStringA((std::string("Load error : ") + kLanguageLibrary + "\n").c_str());
    return false;
}

} // namespace

CAlbumliftApp& CAlbumliftApp::Instance() {
    static CAlbumliftApp app;
    return app;
}

CAlbumliftApp::~CAlbumliftApp() {
    m_uploader.reset();
    m_retired.clear();
    if (m_language)
        FreeLibrary(m_language);
}

bool CAlbumliftApp::Started() {
    std::call_once(m_startOnce, [this] {
        try {
            m_started = Start();
        } catch (const std::bad_alloc&) {
            m_started = false;
        }
    });
    return m_started;
}

bool CAlbumliftApp::Start() {
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<const wchar_t*>(&CAlbumliftApp::Instance), &m_ownModule))
        return Refuse();
    // The language library names the address that receives the user's credentials: it is only ever
    // loaded from an absolute folder, never from wherever the program happens to run.
    const std::string folder = CommonFilesFolder();
    if (folder.empty() || WinPath::ToNative(folder).front() != '/')
        return Refuse();
    std::string languageFolder;
    if (!LoadModuleText(m_ownModule, kLanguageFolderText, languageFolder))
        return Refuse();
    const char last = folder.back();
    const std::string path =
        folder + (last == '\\' || last == '/' ? "" : "\\") + languageFolder + kLanguageLibrary;
    m_language = LoadLibraryExA(path.c_str(), 0, LOAD_LIBRARY_AS_DATAFILE);
    return m_language ? true : Refuse();
}

bool CAlbumliftApp::LoadText(std::uint32_t id, std::string& text) const {
    return LoadModuleText(m_language ? m_language : m_ownModule, id, text);
}

std::int32_t CAlbumliftApp::InitializeUploader() {
    if (m_uploader) {
        m_uploader->Disconnect();
        m_retired.push_back(std::move(m_uploader));
    }
    try {
        m_uploader = std::make_unique<CPiAlbumUploader>(*this);
    } catch (const std::bad_alloc&) {
        return KvUpload::kOutOfMemory;
    }
    return m_uploader->Initialize() == 1 ? KvUpload::kOk : KvUpload::kNotInitialised;
}

void CAlbumliftApp::CloseUploader() {
    if (!m_uploader)
        return;
    m_uploader->Close();
    m_uploader.reset();
}
