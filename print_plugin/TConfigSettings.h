// The print plug-in's fixed settings from its configuration file "PrintPluginCfg.xml": units, spacing,
// caption sizing, the standard layouts, the printer types and the index-print limits, each with a default
// for what the file leaves out. Read-only: the plug-in never writes the file.
#pragma once

#include "plugin_framework/GraphTypes.h"
#include "plugin_framework/LengthUnits.h"
#include "plugin_framework/TString.h"
#include "plugin_framework/TXMLFilePreferences.h"

#include <vector>

// A kind of printer the dialog offers: a name and a resolution in dots per inch.
struct PrinterTypeRecord {
    TString name;
    graphtypes::TSize_T<LONG> resolution;
};

// A standard layout: by rows and columns (size = rows, columns) or by picture size (size = width, height).
struct LayoutRecord {
    TString name;
    bool byRowsCols = false;
    graphtypes::TSize_T<double> size;
};

class TConfigSettings {
public:
    static constexpr const wchar_t* kFileName = L"PrintPluginCfg.xml";

    TConfigSettings() = default;
    virtual ~TConfigSettings() = default;

    // Reads the existing file. False when it cannot be opened or parsed (nothing changes then), and when
    // an index-print limit is missing or out of range (the values read before it stay).
    bool Load(const wchar_t* path);
    // Empties both lists.
    void Clear();

    LONG GetUnit() const { return m_unit; }
    const std::vector<PrinterTypeRecord>& GetPrinterTypes() const { return m_printerTypes; }
    LONG GetLargestColumnCount() const { return m_largestColumnCount; }
    const std::vector<LayoutRecord>& GetStandardLayouts() const { return m_layouts; }
    const graphtypes::TSize_T<double>& GetImageSpacing() const { return m_imageSpacing; }
    LONG GetCaptionMaxSize() const { return m_captionMaxSize; }
    double GetCaptionAutoSizeRatio() const { return m_captionAutoSizeRatio; }
    double GetItemAspectRatio() const { return m_itemAspectRatio; }
    LONG GetCaptionAlignment() const { return m_captionAlignment; }
    double GetIndexPrintMinSize() const { return m_indexMinSize; }
    double GetIndexPrintMaxSize() const { return m_indexMaxSize; }
    double GetIndexPrintSizeIncrement() const { return m_indexIncrement; }
    LONG GetMaxLimit() const { return m_selectionLimit; }

private:
    // The elements of the list at the path, each asked for its two children; an element missing either
    // (or with either empty) is skipped.
    template <class Add>
    void ReadList(const wchar_t* path, const wchar_t* first, const wchar_t* second, Add add);
    bool ReadIndexPrintLimits();

    TXMLFilePreferences m_file;
    LONG m_unit = LengthUnit::kInch;
    std::vector<PrinterTypeRecord> m_printerTypes;
    LONG m_largestColumnCount = 5;
    std::vector<LayoutRecord> m_layouts;
    graphtypes::TSize_T<double> m_imageSpacing{0.05, 0.05};
    LONG m_captionMaxSize = 16; // points
    double m_captionAutoSizeRatio = 0.1;
    double m_itemAspectRatio = 1.33;
    LONG m_captionAlignment = 0;
    double m_indexMinSize = 0;
    double m_indexMaxSize = 0;
    double m_indexIncrement = 0;
    LONG m_selectionLimit = 500;
};
