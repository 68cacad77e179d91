#include "TTemplateList.h"

#include "plugin_framework/TXMLFilePreferences.h"

#include <algorithm>

bool TTemplateList::Load(const TFilePath& folder) {
    m_entries.clear();
    std::vector<TString> names;
    if (!folder.IsFolder() || !ListFilesByExtension(folder, L"xml", names))
        return false;
    TString base = folder.GetPath();
    const wchar_t last = base.IsEmpty() ? L'/' : static_cast<const wchar_t*>(base)[base.GetLength() - 1];
    if (last != L'/' && last != L'\\')
        base += L"/";
    for (const TString& name : names) {
        Entry entry{base + name, TString()};
        TXMLFilePreferences file;
        if (file.Open(entry.path, false) && !file.GetString(kDescriptionKey, entry.description))
            entry.description.Empty();
        m_entries.push_back(std::move(entry));
    }
    std::stable_sort(m_entries.begin(), m_entries.end(),
                     [](const Entry& a, const Entry& b) { return a.path.CompareNoCase(b.path) < 0; });
    return true;
}

TString TTemplateList::GetPath(int index) const {
    return index >= 0 && index < GetCount() ? m_entries[static_cast<std::size_t>(index)].path : TString();
}

TString TTemplateList::GetDescription(int index) const {
    return index >= 0 && index < GetCount() ? m_entries[static_cast<std::size_t>(index)].description
                                            : TString();
}

int TTemplateList::Find(const TString& path) const {
    for (int i = 0; i < GetCount(); ++i)
        if (m_entries[static_cast<std::size_t>(i)].path.CompareNoCase(path) == 0)
            return i;
    return -1;
}
