// Hands files to the user's mail program through simple MAPI: it finds the MAPI library, sends the files
// as attachments of a new message the user completes there, and turns a MAPI result into a message text.
// The mail dialog owns one.
#pragma once

#include "plugin_framework/TDynamicLib.h"
#include "plugin_framework/TResource.h"
#include "plugin_framework/TString.h"

#include <vector>

class TMailManager {
public:
    // SendMail's answer when the library has no MAPISendMail.
    static constexpr ULONG kNoEntryPoint = 0x7FFFFFFF;
    // The language library's text of a successful hand-over; the other results' texts follow in the
    // table of GetErrorText.
    static constexpr UINT kSuccessText = 13;

    // The message resource starts as the plug-in module's own.
    TMailManager();
    virtual ~TMailManager();
    TMailManager(const TMailManager&) = delete;
    TMailManager& operator=(const TMailManager&) = delete;

    // Reads the default mail client's name, then requires the platform's simple MAPI flag
    // (GetProfileIntW "MAIL", "MAPI") and "MAPI32.DLL" on the search path, and loads it; true when loaded.
    bool Init();
    // The resource module of the error texts (the dialog's language library).
    void SetResource(const TResource& resource) { m_resource = resource; }
    bool IsLoaded() const { return m_library.IsLoaded(); }
    bool Unload();

    // Sends the files that exist, in order, with the owner window as the mail program's parent. The MAPI
    // result (0 success); kNoEntryPoint when MAPISendMail cannot be bound; MAPI_E_ATTACHMENT_NOT_FOUND,
    // without calling anything, when no file is left.
    ULONG SendMail(const std::vector<TString>& paths, HWND owner);
    // The language library's text of a known result, else the system's message text (empty for a result
    // the system does not know).
    TString GetErrorText(ULONG result) const;
    TString GetDefaultMailClient() const { return m_defaultMailClient; }

private:
    TString m_defaultMailClient;
    TString m_unused; // kept empty, as the mail dialog never sets it
    TDynamicLib m_library;
    TResource m_resource;
};
