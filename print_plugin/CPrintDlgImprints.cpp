// The date imprints of the print dialog's sheets and the caption line's description.
#include "CPrintDlg.h"

#include "TMetadataSettingsDlg.h"

#include "plugin_framework/PackedColor.h"
#include "plugin_framework/HostLink.h"
#include "plugin_framework/LengthUnits.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kLineSpacing = 1.2;
// Points become pixels through a division: a whole number of pixels may come out a hair below itself,
// which truncation must not take for the pixel before.
constexpr double kWholeTolerance = 1e-9;

// The date part of a host's date and time text: what stands before its first blank, or all of it.
TString DateOnly(const TString& text) {
    const int blank = text.Find(L' ');
    return blank < 0 ? text : text.Left(blank);
}

} // namespace

LONG CPrintDlg::ImprintHeight(double itemWidth) const {
    LONG verticalDpi = m_printer.GetResolution().cy;
    LONG points = m_options.metadata.imprintFont.size;
    if (points == SheetGeometry::kAutomaticCaptionSize) {
        const double automatic =
            m_config.GetCaptionAutoSizeRatio() *
            ConvertUnits(LengthUnit::kPixel, LengthUnit::kPoint, itemWidth, &verticalDpi);
        // A size that is no number of points gives no imprint.
        if (!std::isfinite(automatic) || automatic < 0.0 || automatic > SheetGeometry::kMaxGridCount)
            return 0;
        points = static_cast<LONG>(std::trunc(automatic));
    } else {
        points =
            std::clamp(points, kMinImprintPoints, std::max(kMinImprintPoints, m_config.GetCaptionMaxSize()));
    }
    const double line =
        ConvertUnits(LengthUnit::kPoint, LengthUnit::kPixel, std::trunc(points * kLineSpacing), &verticalDpi);
    if (!std::isfinite(line) || line < 0.0 || line > SheetGeometry::kMaxGridCount * 100.0)
        return 0;
    return static_cast<LONG>(std::trunc(line + kWholeTolerance));
}

bool CPrintDlg::ImprintParameters(TString& parameters) const {
    graphtypes::TSize_T<double> spacing, itemSize;
    graphtypes::TSize_T<LONG> grid;
    if (!ComputeItemLayout(LengthUnit::kPixel, spacing, grid, m_printer.GetResolution(), itemSize))
        return false;
    const LONG height = ImprintHeight(std::trunc(itemSize.cx));
    const TMetadataSettings& metadata = m_options.metadata;
    const LONG replicas =
        m_options.GetUseReplicate() ? std::clamp<LONG>(m_options.replicas, 1, kMaxReplicas) : 1;
    TString items;
    for (const PrintSelectionRecord& record : m_selectionInfo) {
        const TString text = HostRequests::DefuseSeparators(
            metadata.imprintDateAndTime ? record.dateText : DateOnly(record.dateText));
        TString entry;
        entry.Format(L"%d,%d,%ls;", record.size.cx, record.size.cy, static_cast<const wchar_t*>(text));
        for (LONG copy = 0; copy < replicas; ++copy)
            items += entry;
    }
    const wchar_t* s = SheetLayout::kSeparator;
    const TString face = HostRequests::DefuseSeparators(metadata.imprintFont.face);
    const TString colour = QuotedHexColor(metadata.imprintColour);
    parameters.Format(
        L"arrImprintsInfo='%ls'%lsfontName='%ls'%lsfontHeight=%d%lsitalic=%d%lsbold=%d%lstextColor=%ls",
        static_cast<const wchar_t*>(items), s, static_cast<const wchar_t*>(face), s, height, s,
        (metadata.imprintFont.style & TFontInfo::kItalic) ? 1 : 0, s,
        (metadata.imprintFont.style & TFontInfo::kBold) ? 1 : 0, s, static_cast<const wchar_t*>(colour));
    return true;
}

bool CPrintDlg::ApplyImprintsTo(TdocDocument& document) const {
    TString parameters;
    if (!ImprintParameters(parameters))
        return false;
    return document.ApplyTransform(m_sheet.imprintStylesheet, parameters) == 1;
}

bool CPrintDlg::ApplyImprints() {
    return m_document && ApplyImprintsTo(*m_document);
}

bool CPrintDlg::EditMetadataSettings(HWND parent) {
    constexpr LONG kScreenDpi = 96;
    TRefPtr<TMetadataSettingsDlg> settings = TRefPtr<TMetadataSettingsDlg>::Adopt(new TMetadataSettingsDlg);
    settings->SetResource(*TResource::Instance());
    settings->SetMaxFontSize(m_config.GetCaptionMaxSize());
    settings->SetSettings(m_options.metadata);
    const TSize dpi = GetHandle() ? GetDpi() : TSize(kScreenDpi, kScreenDpi);
    graphtypes::TSize_T<double> spacing, itemSize;
    graphtypes::TSize_T<LONG> grid;
    const graphtypes::TSize_T<LONG> resolution(dpi.cx > 0 ? dpi.cx : kScreenDpi,
                                               dpi.cy > 0 ? dpi.cy : kScreenDpi);
    if (ComputeItemLayout(LengthUnit::kPoint, spacing, grid, resolution, itemSize)) {
        const double automatic = m_config.GetCaptionAutoSizeRatio() * itemSize.cx;
        if (std::isfinite(automatic) && automatic >= 0.0 && automatic <= SheetGeometry::kMaxGridCount)
            settings->SetAutomaticSize(static_cast<LONG>(std::trunc(automatic)));
    }
    if (settings->DoModal(kMetadataDialogTemplate, parent) != 1)
        return false;
    m_options.metadata = settings->GetSettings();
    return true;
}

TString CaptionDescription(const TResource& resources, LONG flags) {
    TString description;
    if ((flags &
         (TMetadataSettings::kBasic | TMetadataSettings::kAdditional | TMetadataSettings::kDetailed)) == 0) {
        resources.LoadString(CPrintDlg::kNoCaptionText, description);
        return description;
    }
    const struct {
        LONG flag;
        UINT text;
    } blocks[] = {{TMetadataSettings::kBasic, CPrintDlg::kCaptionBasicText},
                  {TMetadataSettings::kAdditional, CPrintDlg::kCaptionAdditionalText},
                  {TMetadataSettings::kDetailed, CPrintDlg::kCaptionDetailedText}};
    for (const auto& block : blocks) {
        if (!(flags & block.flag))
            continue;
        TString name;
        resources.LoadString(block.text, name);
        if (!description.IsEmpty())
            description += L",";
        description += name;
    }
    return description;
}
