// The print plug-in's printer: chooses one (by name, else the system default), keeps its device-mode and
// names blocks, its papers and its page measured in inches, runs the page-setup and print dialogs and owns
// the device context of a print job.
#pragma once

#include "PrinterOptionRecord.h"

#include "plugin_framework/GraphTypes.h"
#include "plugin_framework/LengthUnits.h"
#include "plugin_framework/TString.h"

#include "platform/win/WinSpool.h"

#include <map>
#include <string>
#include <vector>

// A paper of the printer: its platform id, its size in inches and its name.
struct PaperRecord {
    WORD id = 0;
    graphtypes::TSize_T<double> size;
    LONG unit = LengthUnit::kInch;
    TString name;
};

class TPrinter {
public:
    using PageSetupCompletion = void (*)(bool accepted, bool changed, void* context);
    using PrintCompletion = void (*)(bool accepted, const std::vector<LONG>& pages, void* context);

    TPrinter() = default;
    virtual ~TPrinter();
    TPrinter(const TPrinter&) = delete;
    TPrinter& operator=(const TPrinter&) = delete;

    // Chooses the record's printer, else the default one, reads its papers and measures the page; the user
    // margins become the hardware margins. False (no printer kept) when neither printer can be had, its
    // papers cannot be listed or its page cannot be measured.
    bool Init(const PrinterOptionRecord& record, HWND owner);
    // Ends any job (aborting it) and frees the blocks.
    void Release();
    bool IsValid() const { return m_devMode && m_devNames; }

    // False when not valid or without a completion; otherwise runs the dialog and calls the completion.
    bool PageSetupDialog(HWND owner, PageSetupCompletion completion, void* context);
    // The same, with the pages chosen (every page from 1 when no range is); false also for no pages.
    bool PrintDialog(HWND owner, LONG pageCount, PrintCompletion completion, void* context);

    graphtypes::TRect_T<double> GetPaperRect(LONG unit) const;
    graphtypes::TRect_T<double> GetMinMarginRect(LONG unit) const;
    // In page coordinates, or in device coordinates (from the printable offset) when pageCoordinates is
    // false.
    graphtypes::TRect_T<double> GetPrintableRect(LONG unit, bool pageCoordinates) const;
    const graphtypes::TSize_T<LONG>& GetResolution() const { return m_resolution; }
    const TString& GetPrinterName() const { return m_options.printerName; }
    const TString& GetPaperName() const { return m_options.paperName; }
    bool IsPortrait() const { return m_options.portrait != 0; }
    // The record the user options read and write.
    PrinterOptionRecord& GetOptionRecord() { return m_options; }
    const std::map<std::wstring, PaperRecord>& GetPaperTable() const { return m_papers; }
    const graphtypes::TRect_T<double>& GetUserMargins() const { return m_userMargins; }

    // A new device context with the document started; false (no context kept) when either fails.
    bool StartDocument(const TString& documentName);
    bool StartPage(HDC* dc);
    bool EndPage();
    // End or abort the document and delete the context; true when the end or abort succeeded.
    bool EndDocument();
    bool AbortDocument();

private:
    struct Names {
        std::string driver, device, port;
    };

    bool SelectPrinterByName(const PrinterOptionRecord& record);
    bool SelectDefaultPrinter(HWND owner);
    bool BuildPaperTable();
    bool UpdateMetrics(bool* changed);
    bool ReadNames(Names& names) const;
    // Takes the handles, freeing the ones held before when they differ.
    void KeepHandles(HGLOBAL devMode, HGLOBAL devNames);
    void DeleteContext();

    graphtypes::TRect_T<double> m_minMargins;
    HGLOBAL m_devMode = nullptr;
    HGLOBAL m_devNames = nullptr;
    HDC m_dc = nullptr;
    std::map<std::wstring, PaperRecord> m_papers;
    PrinterOptionRecord m_options;
    graphtypes::TRect_T<double> m_printable;
    graphtypes::TSize_T<LONG> m_resolution;
    graphtypes::TRect_T<double> m_userMargins;
};
