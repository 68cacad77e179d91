// The launcher's machine: the registry of platform/win, its processes, and the file system.
#pragma once

#include "startup_launcher/IStartwickPlatform.h"

class CStartwickPlatform : public IStartwickPlatform {
public:
    bool ReadString(Root root, const std::string& key, const std::string& value, std::string& text) override;
    bool StartAndWait(const std::string& path) override;
    bool DeleteFile(const std::string& path) override;
};
