// The print dialog's remembered choices, kept between uses of the dialog in the host's registry-service
// preferences under the section "PrintPI". Load and Save read and write every key; ranges are not checked
// here but where the values are used.
#pragma once

#include "PrinterOptionRecord.h"

#include "plugin_framework/GraphTypes.h"
#include "plugin_framework/TFontInfo.h"
#include "plugin_framework/TKorvelRegServPrefs.h"

#include <memory>

// Captions and imprints as the metadata settings dialog edits them.
struct TMetadataSettings {
    // Which groups of picture information the caption shows.
    static constexpr LONG kBasic = 2;
    static constexpr LONG kAdditional = 4;
    static constexpr LONG kDetailed = 8;

    LONG captionFlags = 0;
    DWORD captionColour = 0xFF000000u; // not kept in the preferences
    TFontInfo captionFont;
    bool imprintEnabled = false;
    bool imprintDateAndTime = false;
    DWORD imprintColour = 0xFF000000u; // red in the low byte, the flag byte on top
    TFontInfo imprintFont;
};

class TUserOptions {
public:
    // The host's number that marks the restricted host.
    static constexpr DWORD kRestrictedHostNumber = 20;
    static constexpr LONG kIndexPrint = 1;
    // The index print type whose item size the user gives.
    static constexpr LONG kAdvancedIndexPrint = 1;
    // The printer kind before one was chosen or stored: the dialog then takes the configuration's type
    // that prints at the printer's own resolution.
    static constexpr LONG kNoPrinterKind = -1;

    TUserOptions();
    virtual ~TUserOptions();
    TUserOptions(const TUserOptions&) = delete;
    TUserOptions& operator=(const TUserOptions&) = delete;

    // Every field but the metadata settings; the printer options are let go.
    void SetDefaults();
    // The printer's record, borrowed: Load and Save read and write its keys only while one is set.
    void SetPrinterSettings(PrinterOptionRecord* record) { m_printerOptions = record; }
    // False (nothing changed) when the host offers no registry service; true otherwise, whatever the keys
    // held.
    bool Load();
    // Writes every key, then ends the series of writes; the answer is the end's. False (nothing written)
    // before a Load found the service.
    bool Save();

    bool IsRestrictedHost() const;
    // The restricted host's fixed values while it is restricted, the stored ones otherwise.
    LONG GetPrintAs() const;
    LONG GetLayoutIndex() const;
    bool GetRotateToFit() const;
    bool GetBorderlessPrint() const;
    bool GetUseReplicate() const;
    bool IsMetadataEnabled() const;

    // Read and written directly by the print dialog.
    LONG printAs = 0;
    LONG layoutIndex = 0;
    LONG indexPrintType = 0;
    LONG columns = 5;
    graphtypes::TSize_T<double> itemSize{1.0, 1.0};
    LONG printerKindIndex = kNoPrinterKind;
    TMetadataSettings metadata;
    bool metadataEnabled = false;
    bool rotateToFit = false;
    bool borderlessPrint = false;
    bool useReplicate = false;
    LONG replicas = 1;

private:
    void ReadPrinterOptions();
    void WritePrinterOptions();

    std::unique_ptr<TKorvelRegServPrefs> m_prefs;
    PrinterOptionRecord* m_printerOptions = nullptr;
};

// The style words of a stored text ("bold", "italic", separated by commas) added to the bits.
LONG AddStyleWords(const TString& text, LONG style);
// "bold", "italic", "bold,italic" or an empty text.
TString StyleWords(LONG style);
