// libAlbumlift.so as its callers see it: loaded at run time, its exports found by name. Each owner loads
// the library afresh, so each test starts it anew; Unload tells whether it really went.
#pragma once

#include "album_uploader/Albumlift.h"
#include "platform/win/wintypes.h"

#include <string>

namespace kvtest {

class AlbumliftLibrary {
public:
    AlbumliftLibrary();
    ~AlbumliftLibrary();
    AlbumliftLibrary(const AlbumliftLibrary&) = delete;
    AlbumliftLibrary& operator=(const AlbumliftLibrary&) = delete;

    bool Loaded() const { return m_module != nullptr; }
    // Frees the library; true when it is no longer in the process.
    bool Unload();

    decltype(&::Initialize) Initialize = nullptr;
    decltype(&::Connect) Connect = nullptr;
    decltype(&::KvDisconnect) KvDisconnect = nullptr;
    decltype(&::Close) Close = nullptr;
    decltype(&::NewAlbum) NewAlbum = nullptr;
    decltype(&::UploadPhoto) UploadPhoto = nullptr;
    decltype(&::GetProgress) GetProgress = nullptr;
    decltype(&::DoAbort) DoAbort = nullptr;
    decltype(&::GetAlbumList) GetAlbumList = nullptr;
    decltype(&::GetAlbumCount) GetAlbumCount = nullptr;
    decltype(&::GetAlbumName) GetAlbumName = nullptr;
    decltype(&::GetAlbumID) GetAlbumID = nullptr;
    decltype(&::GetErrorString) GetErrorString = nullptr;
    decltype(&::GetInformation) GetInformation = nullptr;
    decltype(&::CreateObject) CreateObject = nullptr;
    decltype(&::DestroyObject) DestroyObject = nullptr;
    decltype(&::GetAlbumKey) GetAlbumKey = nullptr;
    decltype(&::KvGetFolderName) KvGetFolderName = nullptr;
    decltype(&::GetFolderList) GetFolderList = nullptr;
    decltype(&::NewFolder) NewFolder = nullptr;

    // A parameter record made by the library, destroyed with the owner.
    class Parms {
    public:
        explicit Parms(const AlbumliftLibrary& library);
        ~Parms();
        Parms(const Parms&) = delete;
        Parms& operator=(const Parms&) = delete;
        KvUploadParms* operator->() const { return m_parms; }
        KvUploadParms* get() const { return m_parms; }

    private:
        const AlbumliftLibrary& m_library;
        KvUploadParms* m_parms = nullptr;
    };

private:
    HMODULE m_module = nullptr;
};

// Writes the language library as a resource file where the uploader looks for it on the machine of
// KV_SYSTEM_ROOT: the connection string and the texts of the codes the tests read.
void WriteLanguageFile(const std::string& machineRoot, const std::string& connection);
// The language file's path on that machine.
std::string LanguageFilePath(const std::string& machineRoot);

} // namespace kvtest
