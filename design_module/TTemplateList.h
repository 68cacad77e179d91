// The layout templates the design module offers: the XML files of one folder, each with the description
// its metadata gives, in the order of their paths compared without regard to case (the first is the
// default template).
#pragma once

#include "plugin_framework/TFilePath.h"
#include "plugin_framework/TString.h"

#include <vector>

class TTemplateList {
public:
    struct Entry {
        TString path;
        TString description;
    };

    static constexpr const wchar_t* kDescriptionKey = L"metadata/property[@name='template_description']";

    // Lists the folder's files with the extension "xml" (in any case) and reads each one's description
    // (empty when the file has none or does not read). False, with the list empty, when the folder cannot
    // be listed.
    bool Load(const TFilePath& folder);
    void Clear() { m_entries.clear(); }

    int GetCount() const { return static_cast<int>(m_entries.size()); }
    // Empty for an index outside the list.
    TString GetPath(int index) const;
    TString GetDescription(int index) const;
    // The index of the path (compared without regard to case), or -1.
    int Find(const TString& path) const;

private:
    std::vector<Entry> m_entries;
};
