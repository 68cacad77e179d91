#include "LayoutText.h"

#include "FileData.h"
#include "TFilePath.h"

#include <memory>

bool GetLayoutText(DocHandle document, TString& text) {
    text.Empty();
    TFilePath location;
    if (!MakeUniqueFileName(L"layout", L"xml", location))
        return false;
    if (docSaveLDF(document, location.GetPath()) == 1) {
        wchar_t* read = nullptr;
        if (ReadUnicodeTextFile(location, read, true)) {
            const std::unique_ptr<wchar_t[]> owned(read);
            text = read;
        }
    }
    location.Delete();
    return !text.IsEmpty();
}

bool GetLayoutTextA(DocHandle document, TStringA& text) {
    text.Empty();
    TString wide;
    if (!GetLayoutText(document, wide))
        return false;
    text = TStringA(static_cast<const wchar_t*>(wide));
    return !text.IsEmpty();
}
