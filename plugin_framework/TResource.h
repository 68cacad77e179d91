// The resource accessor: one resource module (a module's language library or its own file) from which
// strings, typed resources and dialogs are taken, and the folder that module lies in. One process-wide
// accessor (per module: every module has its own copy of the framework) serves the user interface; every
// window carries its own for its dialog template.
#pragma once

#include "TFilePath.h"
#include "TString.h"

#include "platform/win/WinDialogs.h"

class TResource {
public:
    // Created empty on first use; it goes when the module is unloaded.
    static TResource* Instance();

    // A null module is ignored: the previous one stays.
    void SetModule(HINSTANCE module);
    // Forgets the module when it is the one set, since its library is being freed.
    void ForgetModule(HINSTANCE module);
    void SetType(const TString& typeName);
    void SetParent(HWND parent);
    void SetDialogProc(DLGPROC procedure);
    void SetDialogParam(LPARAM parameter);

    HINSTANCE GetModule() const { return m_module; }
    const TString& GetType() const { return m_type; }

    // Every load fails (and leaves the out value empty) without a module, for id 0, or for a resource the
    // module does not have.
    bool LoadString(UINT id, TString& text) const;
    // The resource of the current type as text: UTF-16LE bytes when wide (size / 2 characters for text
    // below U+10000), else UTF-8. True when the text is not empty.
    bool Load(UINT id, TString& text, bool wide) const;
    // A copy of the resource's bytes in a new array the caller frees with delete[]; true when not empty.
    bool LoadRaw(UINT id, BYTE*& data, DWORD& size) const;

    // The dialog of the template with the parent, procedure and parameter set here. False without a
    // procedure, a module or a template id; otherwise the platform's answer is stored in result.
    bool DoModal(UINT templateId, INT_PTR* result) const;
    bool CreateModeless(UINT templateId, HWND* window) const;

    // A text resource of the current module's own file (not its language library), as Load reads it
    // narrow: every module has its own copy of the framework, so this is the calling module's.
    static bool LoadOwnText(const wchar_t* type, UINT id, TString& text);

    // The folder of the resource module's file, ending with a separator; with no module set, the folder of
    // the host program's file.
    bool GetModuleFolder(TFilePath& folder) const;

private:
    HINSTANCE m_module = nullptr;
    HWND m_parent = nullptr;
    DLGPROC m_dialogProc = nullptr;
    LPARAM m_dialogParam = 0;
    TString m_type;
};
