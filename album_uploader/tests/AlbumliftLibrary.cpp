#include "AlbumliftLibrary.h"

#include "platform/win/WinModule.h"

#include <dlfcn.h>
#include <filesystem>
#include <fstream>

namespace kvtest {
namespace {

template <class Pointer>
void Find(HMODULE module, const char* name, Pointer& pointer) {
    pointer = reinterpret_cast<Pointer>(GetProcAddress(module, name));
}

} // namespace

AlbumliftLibrary::AlbumliftLibrary() : m_module(LoadLibraryA(KV_ALBUMLIFT_LIBRARY)) {
    if (!m_module)
        return;
    Find(m_module, "Initialize", Initialize);
    Find(m_module, "Connect", Connect);
    Find(m_module, "KvDisconnect", KvDisconnect);
    Find(m_module, "Close", Close);
    Find(m_module, "NewAlbum", NewAlbum);
    Find(m_module, "UploadPhoto", UploadPhoto);
    Find(m_module, "GetProgress", GetProgress);
    Find(m_module, "DoAbort", DoAbort);
    Find(m_module, "GetAlbumList", GetAlbumList);
    Find(m_module, "GetAlbumCount", GetAlbumCount);
    Find(m_module, "GetAlbumName", GetAlbumName);
    Find(m_module, "GetAlbumID", GetAlbumID);
    Find(m_module, "GetErrorString", GetErrorString);
    Find(m_module, "GetInformation", GetInformation);
    Find(m_module, "CreateObject", CreateObject);
    Find(m_module, "DestroyObject", DestroyObject);
    Find(m_module, "GetAlbumKey", GetAlbumKey);
    Find(m_module, "KvGetFolderName", KvGetFolderName);
    Find(m_module, "GetFolderList", GetFolderList);
    Find(m_module, "NewFolder", NewFolder);
}

AlbumliftLibrary::~AlbumliftLibrary() {
    Unload();
}

bool AlbumliftLibrary::Unload() {
    if (m_module) {
        FreeLibrary(m_module);
        m_module = nullptr;
    }
    void* still = dlopen(KV_ALBUMLIFT_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
    if (still)
        dlclose(still);
    return still == nullptr;
}

AlbumliftLibrary::Parms::Parms(const AlbumliftLibrary& library) : m_library(library) {
    if (library.CreateObject && library.CreateObject(&m_parms) != 0)
        m_parms = nullptr;
}

AlbumliftLibrary::Parms::~Parms() {
    if (m_parms)
        m_library.DestroyObject(m_parms);
}

std::string LanguageFilePath(const std::string& machineRoot) {
    return machineRoot + "/Common Files/Korvel/Uploader/KvtAlbumliftLang.so";
}

void WriteLanguageFile(const std::string& machineRoot, const std::string& connection) {
    const std::string path = LanguageFilePath(machineRoot);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "# The test's language library.\n"
        << "string 31205 " << connection << "\n"
        << "string 31279 Test uploader\n"
        << "string 4104 Not started.\n"
        << "string 31274 No space.\n";
}

} // namespace kvtest
