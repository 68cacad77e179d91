#include "SheetLayout.h"

#include "plugin_framework/HostLink.h"
#include "plugin_framework/PackedColor.h"

TString SheetLayout::FormatParameters(const TFontInfo& captionFont) const {
    const wchar_t* s = kSeparator;
    const TString face = HostRequests::DefuseSeparators(captionFont.face);
    const TString background = QuotedHexColor(backgroundColour);
    const TString text = QuotedHexColor(textColour);
    TString out;
    out.Format(
        L"pageW=%lf%lspageH=%lf%lsitemW=%lf%lsitemH=%lf%lsnbCols=%d%lsnbRows=%d%lsborderL=%lf%lsborderT="
        L"%lf%lsborderR=%lf%lsborderB=%lf%lsspaceW=%lf%lsspaceH=%lf%lsbestFit=%d%lsborderlessPrint=%d%ls"
        L"textHeight=%lf%lsfontName='%ls'%lsitalic=%d%lsbold=%d%lsuseBasicInfo=%d%lsuseAdditionalInfo=%d"
        L"%lsuseDetailedInfo=%d%lsbkColor=%ls%lstextColor=%ls",
        pageSize.cx, s, pageSize.cy, s, itemSize.cx, s, itemSize.cy, s, grid.cx, s, grid.cy, s, margins.left,
        s, margins.top, s, margins.right, s, margins.bottom, s, spacing.cx, s, spacing.cy, s, bestFit ? 1 : 0,
        s, borderless ? 1 : 0, s, textHeight, s, static_cast<const wchar_t*>(face), s,
        (captionFont.style & TFontInfo::kItalic) ? 1 : 0, s, (captionFont.style & TFontInfo::kBold) ? 1 : 0,
        s, useBasic ? 1 : 0, s, useAdditional ? 1 : 0, s, useDetailed ? 1 : 0, s,
        static_cast<const wchar_t*>(background), s, static_cast<const wchar_t*>(text));
    return out;
}
