// The text of a layout document as the document library saves it: the document is saved as LDF to a
// numbered "layout.xml" of the module's temporary folder, read back and the file deleted, whether the save
// succeeded or not.
#pragma once

#include "TString.h"

#include "platform/dadadud/DadaDud.h"

// The saved UTF-16 text without its byte-order mark; true when it is not empty (a document the library
// cannot save gives an empty text and false).
bool GetLayoutText(DocHandle document, TString& text);
// The same text as narrow (UTF-8) text; its declaration still names the UTF-16 form the library saved.
bool GetLayoutTextA(DocHandle document, TStringA& text);
