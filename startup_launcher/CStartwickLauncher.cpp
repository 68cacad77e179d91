#include "CStartwickLauncher.h"

namespace {

// Only an absolute folder is used: an empty or relative one would resolve against wherever the launcher
// happens to run, starting or deleting whatever lies there.
bool IsAbsoluteFolder(const std::string& folder) {
    return !folder.empty() && (folder[0] == '/' || folder[0] == '\\');
}

} // namespace

std::string CStartwickLauncher::PathAppend(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '\\' || folder.back() == '/')
        return folder + name;
    return folder + "\\" + name;
}

void CStartwickLauncher::Run(const std::string& commandLine) {
    if (commandLine.find(kSwitch) == std::string::npos)
        return;
    std::string install;
    if (m_platform.ReadString(IStartwickPlatform::Root::LocalMachine, kInstallKey, kInstallValue, install) &&
        install.size() <= kInstallDirLimit && IsAbsoluteFolder(install))
        m_platform.StartAndWait(PathAppend(install, kImporter));
    RemoveShortcut(IStartwickPlatform::Root::Users, kUserStartupKey, "Startup");
    RemoveShortcut(IStartwickPlatform::Root::LocalMachine, kCommonStartupKey, "Common Startup");
}

void CStartwickLauncher::RemoveShortcut(IStartwickPlatform::Root root, const char* key, const char* value) {
    std::string folder;
    if (m_platform.ReadString(root, key, value, folder) && IsAbsoluteFolder(folder))
        m_platform.DeleteFile(PathAppend(folder, kShortcut));
}
