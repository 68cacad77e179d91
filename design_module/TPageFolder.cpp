#include "TPageFolder.h"

#include "plugin_framework/TFilePath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

// What ends a value in a context string, for the renderer libraries or the framework.
constexpr const wchar_t* kContextSeparators = L";,=";
constexpr const wchar_t* kDescriptorFolder = L"/proc/self/fd/";

} // namespace

TPageFolder::~TPageFolder() {
    if (m_descriptor >= 0)
        close(m_descriptor);
}

bool TPageFolder::FitsContext(const TString& text) {
    return std::wstring(static_cast<const wchar_t*>(text)).find_first_of(kContextSeparators) ==
           std::wstring::npos;
}

bool TPageFolder::Open() {
    if (IsOpen())
        return true;
    TFilePath folder;
    if (!GetPluginTempFolder(folder))
        return false;
    TString path = folder.GetPath();
    std::wstring text = static_cast<const wchar_t*>(path);
    if (text.empty())
        return false;
    if (text.back() != L'/' && text.back() != L'\\')
        path += L"/";
    if (FitsContext(path)) {
        m_path = path;
        return true;
    }
    // Held without following a link in its last step, and only when it is a folder of this user.
    while (text.size() > 1 && (text.back() == L'/' || text.back() == L'\\'))
        text.pop_back();
    const std::string native = TFilePathDetail::NativePath(TString(text.c_str()));
    const int descriptor = open(native.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info {};
    if (descriptor < 0)
        return false;
    if (fstat(descriptor, &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid()) {
        close(descriptor);
        return false;
    }
    m_descriptor = descriptor;
    m_alias.Format(L"%ls%d/", kDescriptorFolder, descriptor);
    m_path = path;
    return true;
}

TString TPageFolder::ContextPath(const TString& file) const {
    if (m_descriptor < 0 || FitsContext(file))
        return file;
    const std::wstring text = static_cast<const wchar_t*>(file);
    const std::wstring folder = static_cast<const wchar_t*>(m_path);
    if (text.compare(0, folder.size(), folder) != 0)
        return file;
    return m_alias + TString(text.substr(folder.size()).c_str());
}
