// The contact sheet's page state: a sheet of the selected pictures, laid out by the sheet stylesheet to fit
// the pane's width (mode 1) or in one row (mode 2), rebuilt when the pictures, the mode or the width change.
#pragma once

#include "TGenericPane.h"

#include "plugin_framework/TFilePath.h"
#include "plugin_framework/TString.h"

#include "platform/kvtrtl/KvwHostTypes.h"

#include <cstdint>
#include <memory>
#include <vector>

// The sheet's grid: what the stylesheet is given.
struct TContactSheet {
    graphtypes::TSize_T<double> pageSize{0, 0};
    graphtypes::TRect_T<double> margins{0, 0, 0, 0};
    graphtypes::TSize_T<double> spacing{0, 0};
    graphtypes::TSize_T<double> itemSize{0, 0};
    graphtypes::TSize_T<LONG> grid{0, 0}; // columns, rows
    DWORD background = 0;

    // The grid of n pictures for a pane of W x H in the mode; false when nothing is to be built (mode 0, a
    // pane below 10 x 10 in mode 1, a page without height in mode 2). A pane narrower than one item keeps
    // one column.
    static bool Compute(LONG mode, double width, double height, LONG pictures, DWORD background,
                        TContactSheet& sheet);
    // The stylesheet's parameters, each followed by "<;/>".
    TString FormatParameters() const;
};

class TGenMultiPagePane : public TGenericPane {
public:
    static constexpr UINT kSheetTemplate = 4007;
    static constexpr UINT kSheetStylesheet = 4008;
    static constexpr const wchar_t* kSheetFileName = L"MP_sheet_ltf.xml";

    using TGenericPane::TGenericPane;
    ~TGenMultiPagePane() override;

    // Loads the sheet template and stylesheet of the module's own file; false when either is missing.
    bool Init(HWND parent, UINT controlId) override;
    void DestroyPane() override;
    void SetMode(LONG mode) override;
    void OnResize() override;
    void OnTimer() override;
    bool SecondDrawingFlag() const override { return m_mode == kOneRow; }
    void OnModuleHook(LONG pageIndex) override;

    // The sheet of these pictures: a new bundle file (the previous one deleted), then the sheet built
    // again; a bundle that cannot be made changes nothing. An empty list lets go of the sheet: no
    // pictures are left to show.
    void RefreshPageNUIDS(const KvwItemIdList& ids);
    // The picture of the index from 1 takes the focus (once the sheet is built, when it is not yet).
    void FocusItem(LONG index);
    // A click on a picture passes its index (from 0) to the module hook.
    LONG OnLButtonDown(const TLPoint& point, WPARAM flags) override;
    // Builds the sheet for the window's size; false (the sheet shown stays) when nothing is built.
    bool BuildSheet();

    // Where the sheet's resources come from (tests name missing ones).
    void SetSheetResources(UINT templateId, UINT stylesheetId);
    const TContactSheet& GetSheet() const { return m_sheet; }
    LONG GetPictureCount() const { return m_pictures; }
    const TFilePath& GetBundleFile() const { return m_bundle; }
    // The sheet item that shows the picture of the index from 1 (0: none).
    std::uint32_t GetPictureItem(LONG index) const;

private:
    void DeleteBundle();
    // Which sheet item shows which picture: the item ids of the sheet's page in picture order, each found
    // by the item id its picture comes from.
    void MapPictures(const TdocDocument& sheet);

    TFilePath m_bundle;
    LONG m_pictures = 0;
    TString m_templateText;
    TString m_stylesheetText;
    UINT m_templateId = kSheetTemplate;
    UINT m_stylesheetId = kSheetStylesheet;
    TContactSheet m_sheet;
    std::unique_ptr<TdocDocument> m_sheetDocument;
    KvwItemIdList m_ids;
    // The sheet items by picture (index from 0), and the picture to focus once the sheet is built.
    std::vector<std::uint32_t> m_pictureItems;
    LONG m_focusPicture = 0;
};
