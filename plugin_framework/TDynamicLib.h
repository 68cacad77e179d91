// A library loaded at run time from a file location, and its functions found by name. Libraries stay
// mapped after they are freed (LOAD_LIBRARY_KEEP_MAPPED), so a thread still running code of one after its
// last user let go never runs unmapped code.
#pragma once

#include "TFilePath.h"

#include "platform/win/WinModule.h"

class TDynamicLib {
public:
    TDynamicLib() = default;
    TDynamicLib(const TDynamicLib&) = delete;
    TDynamicLib& operator=(const TDynamicLib&) = delete;
    // Frees the library.
    virtual ~TDynamicLib();

    // Frees any library held, then loads the one at the location; false for an empty path or a library
    // that does not load. The flag has no effect.
    bool Load(const TFilePath& location, bool flag = false);
    // False (out untouched) when no library is held or the name is not found.
    bool GetProc(const char* name, FARPROC& out) const;
    // The same for a typed function pointer.
    template <class Function>
    bool GetProc(const char* name, Function& out) const {
        FARPROC found = nullptr;
        if (!GetProc(name, found))
            return false;
        out = reinterpret_cast<Function>(found);
        return true;
    }
    bool IsLoaded() const { return m_module != nullptr; }
    // Always true.
    bool Free();

private:
    TFilePath m_location;
    HMODULE m_module = nullptr;
};
