// The launcher's one run: started with "/Startup" at log-on, it runs the importer once, waits for it to
// end and removes its own Startup shortcuts, so that the next log-on does not run it again. The Startup
// folders are the desktop's autostart folders (platform/win/WinShellFolders.h), and the shortcut is the
// desktop entry the build writes (Startwick.desktop.in).
#pragma once

#include "startup_launcher/IStartwickPlatform.h"

#include <string>

class CStartwickLauncher {
public:
    static constexpr const char* kSwitch = "/Startup";
    static constexpr const char* kInstallKey = "SOFTWARE\\Korvel\\Imagyst";
    static constexpr const char* kInstallValue = "InstallDir";
    static constexpr const char* kUserStartupKey =
        ".DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    static constexpr const char* kCommonStartupKey =
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    static constexpr const char* kImporter = "KvtImport.exe";
    static constexpr const char* kShortcut = "Startwick.desktop";
    // The install folder is read into 260 bytes with its terminator; a longer one is refused, not cut.
    static constexpr std::size_t kInstallDirLimit = 259;

    explicit CStartwickLauncher(IStartwickPlatform& platform) : m_platform(platform) {}

    // Acts only when the command line (the arguments, without the program's name) holds "/Startup".
    void Run(const std::string& commandLine);

    // The folder and the name joined with a backslash unless the folder already ends in a separator.
    static std::string PathAppend(const std::string& folder, const std::string& name);

private:
    void RemoveShortcut(IStartwickPlatform::Root root, const char* key, const char* value);

    IStartwickPlatform& m_platform;
};
