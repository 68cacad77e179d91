// The caption and imprint settings dialog: it edits a copy of the caption and imprint record (which caption
// blocks are printed, the caption font, whether an imprint is printed, with the time or not, and the
// imprint's font and colour) and shows a sample of the imprint. Its caller takes the record back only when
// the dialog ends with OK.
#pragma once

#include "TUserOptions.h"

#include "plugin_framework/TDialog.h"
#include "plugin_framework/TImgBtnCtrl.h"

#include <vector>

class TMetadataSettingsDlg : public TDialog {
public:
    // The controls of the dialog's template.
    enum ControlId : int {
        kBasicBox = 1053,
        kAdditionalBox = 1054,
        kDetailedBox = 1055,
        kCaptionFace = 1060,
        kCaptionStyle = 1061,
        kCaptionSize = 1062,
        kImprintBox = 1064,
        kDateAndTimeBox = 1065,
        kImprintFontLabel = 1066,
        kImprintFace = 1067,
        kImprintStyle = 1068,
        kImprintSize = 1069,
        kImprintColourLabel = 1070,
        kColourButton = 1071,
        kSample = 1072,
    };
    // The language library's names of the four styles (regular, bold, italic, both).
    static constexpr UINT kFirstStyleText = 1069;
    static constexpr LONG kStyleCount = 4;
    // The notification of a combo box whose selection changed.
    static constexpr WORD kSelectionChange = 9;
    static constexpr const wchar_t* kAutomaticText = L"Auto";
    static constexpr const wchar_t* kSampleDate = L"2003/08/08";
    static constexpr const wchar_t* kSampleTime = L"17:40:29";

    TMetadataSettingsDlg() = default;
    ~TMetadataSettingsDlg() override;

    LONG OnInit() override;
    // The colour button goes with the other wrappers.
    bool Destroy() override;
    // The caption flags from the three boxes, then the dialog ends with 1.
    void OnOK() override;

    void SetSettings(const TMetadataSettings& settings) { m_settings = settings; }
    const TMetadataSettings& GetSettings() const { return m_settings; }
    void SetMaxFontSize(LONG points) { m_maxSize = points; }
    // The size in points that "Auto" stands for in the sample.
    void SetAutomaticSize(LONG points) { m_automaticSize = points; }

private:
    // The face, style and size lists of one font, with its entries selected; the face becomes the
    // enumerated name it matches, or the first face when none does (and stays as it was without faces).
    void FillFontLists(const std::vector<TString>& faces, int faceList, int styleList, int sizeList,
                       TFontInfo& font);
    void UpdateSample();
    void EnableImprintControls(bool enable);
    bool IsTicked(int id);
    void Tick(int id, bool ticked);
    // The selected entry of a list: its index and text; false without one.
    bool Selected(int id, LONG& index, TString& text);
    // A font's face, style or size from its list; true when it changed.
    bool TakeFace(int id, TFontInfo& font);
    bool TakeStyle(int id, TFontInfo& font);
    bool TakeSize(int id, TFontInfo& font);
    void ChooseColour();

    LONG OnCommand(TMessageInfo& info);

    // The colour button's wrapper: like every wrapper of the dialog's controls, it belongs to the dialog
    // while the dialog is open; null after construction and when it could not be attached.
    TImgBtnCtrl* m_colourButton = nullptr;
    TMetadataSettings m_settings;
    LONG m_minSize = 4;
    LONG m_maxSize = 32;
    LONG m_automaticSize = 10;
};
