// The document the mail dialog previews individual pictures with: one page of the attachment size per
// picture, filled with the selection's item data file, on which each picture's box is the size its
// attachment will have, centred.
#pragma once

#include "TFileSaveData.h"

#include "plugin_framework/GraphTypes.h"
#include "plugin_framework/TString.h"
#include "plugin_framework/TdocObject.h"

#include "platform/win/wintypes.h"

#include <string>
#include <vector>

namespace MailPreviewDocument {

// The page size that previews the full-size choice, whose attachment size is (0, 0).
constexpr LONG kFullSizeWidth = 800;
constexpr LONG kFullSizeHeight = 600;

// The page a picture is previewed on: the attachment size, or the full-size choice's page.
graphtypes::TSize_T<LONG> PageSize(const graphtypes::TSize_T<LONG>& attachment);

// The picture's box on its page: its own size fitted into the page and never enlarged, as its attachment
// is written, centred; the whole page for a design page (whose size the host encodes) or a picture whose
// size is not known.
graphtypes::TRect_T<double> PictureBox(const graphtypes::TSize_T<LONG>& page,
                                       const TFileSaveData::TItem& item);

// The template's text for pages of the size on the background colour (a colour word whose bytes, low
// byte first, give "#rrggbbaa"): one cluster binding one object to each box, one page per box in order.
std::wstring TemplateText(const graphtypes::TSize_T<LONG>& page, DWORD background,
                          const std::vector<graphtypes::TRect_T<double>>& boxes);

// A new document that the caller owns, or null when either source or the document cannot be made. An
// attachment size without a side above 0 is the full-size choice. The items are the item data file's
// objects in order; without any, every object gets a page whose box is the whole page.
TdocDocument* Create(const graphtypes::TSize_T<LONG>& attachment, DWORD background,
                     const TString& itemDataPath, const std::vector<TFileSaveData::TItem>& items = {});

} // namespace MailPreviewDocument
