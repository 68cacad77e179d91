#include "TDynamicLib.h"

TDynamicLib::~TDynamicLib() {
    Free();
}

bool TDynamicLib::Load(const TFilePath& location, bool) {
    Free();
    const TString path = location.GetPath();
    if (path.IsEmpty())
        return false;
    m_location = location;
    m_module = LoadLibraryExW(path, 0, LOAD_WITH_ALTERED_SEARCH_PATH | LOAD_LIBRARY_KEEP_MAPPED);
    return m_module != nullptr;
}

bool TDynamicLib::GetProc(const char* name, FARPROC& out) const {
    if (!m_module || !name)
        return false;
    const FARPROC found = GetProcAddress(m_module, name);
    if (!found)
        return false;
    out = found;
    return true;
}

bool TDynamicLib::Free() {
    if (m_module) {
        FreeLibrary(m_module);
        m_module = nullptr;
    }
    return true;
}
