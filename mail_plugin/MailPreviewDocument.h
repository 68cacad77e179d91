// The document the mail dialog previews individual pictures with: the built-in layout template of one
// picture per page, centred on a page of the attachment size, filled with the selection's item data file.
#pragma once

#include "plugin_framework/GraphTypes.h"
#include "plugin_framework/TString.h"
#include "plugin_framework/TdocObject.h"

#include "platform/win/wintypes.h"

#include <string>

namespace MailPreviewDocument {

// The page size that previews the full-size choice, whose attachment size is (0, 0).
constexpr LONG kFullSizeWidth = 800;
constexpr LONG kFullSizeHeight = 600;

// The template's text for pages of the size on the background colour (a colour word whose bytes, low
// byte first, give "#rrggbbaa").
std::wstring TemplateText(const graphtypes::TSize_T<LONG>& page, DWORD background);

// A new document that the caller owns, or null when either source or the document cannot be made. An
// attachment size without a side above 0 is the full-size choice.
TdocDocument* Create(const graphtypes::TSize_T<LONG>& attachment, DWORD background,
                     const TString& itemDataPath);

} // namespace MailPreviewDocument
