#include "TFontInfo.h"

#include "platform/win/WinFonts.h"

#include <algorithm>

namespace {

int AddFace(const LOGFONTW* font, const TEXTMETRICW*, DWORD type, LPARAM data) {
    auto* faces = reinterpret_cast<std::vector<TString>*>(data);
    if (font && (type & (TRUETYPE_FONTTYPE | DEVICE_FONTTYPE))) {
        const TString face(font->lfFaceName);
        if (std::find(faces->begin(), faces->end(), face) == faces->end())
            faces->push_back(face);
    }
    return 1;
}

} // namespace

bool EnumerateFontFaces(std::vector<TString>& faces, HDC dc) {
    faces.clear();
    LOGFONTW all{};
    all.lfCharSet = DEFAULT_CHARSET;
    EnumFontFamiliesExW(dc, &all, AddFace, reinterpret_cast<LPARAM>(&faces), 0);
    return true;
}
