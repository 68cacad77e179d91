// The folder the pages rendered for the host go to: the module's own temporary folder, whatever its name.
// A renderer library is told the file in a context string, whose pairs end at ';' (and which the
// framework's own reading also cuts at ',' and '='). When the folder's path holds one of those, the
// renderer is given the same file through the folder held open here: a path of this process
// ("/proc/self/fd/N/name") that holds none of them, in the way context strings already carry addresses
// of this process.
#pragma once

#include "plugin_framework/TString.h"

class TPageFolder {
public:
    TPageFolder() = default;
    ~TPageFolder();
    TPageFolder(const TPageFolder&) = delete;
    TPageFolder& operator=(const TPageFolder&) = delete;

    // The module's temporary folder, held open when its path needs it; false when there is none or it
    // cannot be held (no page is then rendered, rather than one put elsewhere).
    bool Open();
    bool IsOpen() const { return !m_path.IsEmpty(); }
    // The folder's path, ending with a separator; empty before Open.
    const TString& GetPath() const { return m_path; }
    // The path that names the folder's file in a context string: the file's own when it can be named
    // there, else through the held folder.
    TString ContextPath(const TString& file) const;
    // Whether a context string can carry the text as a value.
    static bool FitsContext(const TString& text);

private:
    TString m_path;
    TString m_alias;
    int m_descriptor = -1;
};
