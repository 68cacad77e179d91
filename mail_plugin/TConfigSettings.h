// The mail plug-in's fixed settings from its configuration file "MailPluginCfg.xml": the largest number of
// selected pictures it takes. Read-only: the plug-in never writes the file.
#pragma once

#include "plugin_framework/TXMLFilePreferences.h"

class TConfigSettings {
public:
    static constexpr const wchar_t* kFileName = L"MailPluginCfg.xml";
    static constexpr LONG kDefaultSelectionLimit = 500;

    TConfigSettings() = default;
    virtual ~TConfigSettings() = default;

    // Reads the existing file (never creating it); false when it cannot be opened or parsed. Otherwise
    // "selection/max_limit", when present, replaces the limit. The file is not kept open.
    bool Load(const wchar_t* path);
    LONG GetMaxLimit() const { return m_selectionLimit; }

private:
    TXMLFilePreferences m_file;
    LONG m_selectionLimit = kDefaultSelectionLimit;
};
