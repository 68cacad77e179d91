#include "TConfigSettings.h"

#include "platform/davuzozi/davuzOzi.h"

bool TConfigSettings::Load(const wchar_t* path) {
    // The module does not keep the XML library running, so it runs for this read only; the document is
    // closed before the library stops.
    if (utlStartup() != 1)
        return false;
    const bool opened = m_file.Open(path, false);
    if (opened)
        m_file.GetLong(L"selection/max_limit", &m_selectionLimit);
    m_file.Close();
    utlShutdown();
    return opened;
}
