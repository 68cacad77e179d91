// The mail dialog's remembered choices, kept between uses in the host's registry-service preferences
// under the section "MailPI". Load keeps out-of-range indexes as read and Save writes them back unchanged;
// the getters the dialog uses guard them.
#pragma once

#include "plugin_framework/TKorvelRegServPrefs.h"
#include "plugin_framework/TString.h"

#include <memory>

class TUserOptions {
public:
    // The host's number that marks the restricted host.
    static constexpr DWORD kRestrictedHostNumber = 20;
    static constexpr LONG kIndividual = 0;
    static constexpr LONG kIndexSheet = 1;
    // The image size that sends each picture at its own size, without scaling.
    static constexpr LONG kOwnSize = 7;
    // What the restricted host sends in place of the own size.
    static constexpr LONG kRestrictedOwnSize = 2;
    static constexpr LONG kDefaultImageSize = 1;
    static constexpr LONG kPageSizeCount = 4;
    static constexpr LONG kMinimumQuality = 50;
    static constexpr LONG kMaximumQuality = 100;

    TUserOptions();
    virtual ~TUserOptions();
    TUserOptions(const TUserOptions&) = delete;
    TUserOptions& operator=(const TUserOptions&) = delete;

    void SetDefaults();
    // False (nothing changed) when the host offers no registry service; true otherwise, whatever the keys
    // held.
    bool Load();
    // Writes every key, then ends the series of writes; the answer is the end's. False (nothing written)
    // before a Load found the service.
    bool Save();

    bool IsRestrictedHost() const;
    // Individual pictures (0) while the host is restricted, else the stored choice.
    LONG GetSendAs() const;
    // The stored size; one past the sizes offered gives the default size, and while the host is
    // restricted the own size gives kRestrictedOwnSize.
    LONG GetImageSize() const;
    // The stored page size; one past the sizes offered gives the first.
    LONG GetPageSize() const;

    static bool IsIndexSheet(const TString& text);
    // "index_sheet" for kIndexSheet, "individual" for any other value.
    static TString SendAsToString(LONG value);

    // Read and written directly by the mail dialog.
    LONG sendAs = kIndexSheet;
    LONG pageLayout = 0;
    LONG pageSize = 0;
    LONG imageSize = kDefaultImageSize;
    LONG jpegQuality = 80;
    bool showMoreOptions = false;
    bool useCaption = false;
    TString connectionName;
    DWORD pageBackgroundColour = 0xFFFFFFFFu; // red in the low byte, then green, blue, alpha

private:
    std::unique_ptr<TKorvelRegServPrefs> m_prefs;
};
