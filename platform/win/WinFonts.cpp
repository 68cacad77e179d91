// Font families from fontconfig.
#include "WinFonts.h"

#include "WinGdiInternal.h"
#include "utf16.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <mutex>
#include <optional>

namespace {

struct FontListState {
    std::mutex lock;
    std::optional<std::vector<WinGdiTest::FontStyle>> fixed;
};

FontListState& State() {
    static FontListState* state = new FontListState;
    return *state;
}

std::wstring Text(FcPattern* pattern, const char* object) {
    FcChar8* value = nullptr;
    if (FcPatternGetString(pattern, object, 0, &value) != FcResultMatch || !value)
        return std::wstring();
    return Utf::Utf8ToWide(reinterpret_cast<const char*>(value));
}

int Integer(FcPattern* pattern, const char* object, int fallback) {
    int value = fallback;
    return FcPatternGetInteger(pattern, object, 0, &value) == FcResultMatch ? value : fallback;
}

struct Installed {
    WinGdiTest::FontStyle face;
    int weight;
    int slant;
};

std::vector<Installed> InstalledFonts() {
    std::vector<Installed> fonts;
    FcPattern* pattern = FcPatternCreate();
    FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, FC_STYLE, FC_FONTFORMAT, FC_WEIGHT, FC_SLANT, nullptr);
    FcFontSet* set = pattern && objects ? FcFontList(nullptr, pattern, objects) : nullptr;
    for (int i = 0; set && i < set->nfont; ++i) {
        FcPattern* font = set->fonts[i];
        Installed entry;
        entry.face.family = Text(font, FC_FAMILY);
        entry.face.style = Text(font, FC_STYLE);
        const std::wstring format = Text(font, FC_FONTFORMAT);
        entry.face.type = format == L"TrueType" || format == L"CFF" ? TRUETYPE_FONTTYPE : RASTER_FONTTYPE;
        entry.weight = Integer(font, FC_WEIGHT, FC_WEIGHT_REGULAR);
        entry.slant = Integer(font, FC_SLANT, FC_SLANT_ROMAN);
        if (!entry.face.family.empty())
            fonts.push_back(std::move(entry));
    }
    if (set)
        FcFontSetDestroy(set);
    if (objects)
        FcObjectSetDestroy(objects);
    if (pattern)
        FcPatternDestroy(pattern);
    std::sort(fonts.begin(), fonts.end(), [](const Installed& a, const Installed& b) {
        return a.face.family != b.face.family ? a.face.family < b.face.family : a.face.style < b.face.style;
    });
    return fonts;
}

bool SameFace(const std::wstring& a, const wchar_t* b) {
    const std::size_t length = std::wcslen(b);
    if (a.size() != length)
        return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i]))
            return false;
    }
    return true;
}

void CopyName(wchar_t* out, std::size_t capacity, const std::wstring& name) {
    const std::size_t count = std::min(name.size(), capacity - 1);
    std::copy_n(name.begin(), count, out);
    out[count] = 0;
}

} // namespace

int EnumFontFamiliesExW(HDC dc, const LOGFONTW* filter, FONTENUMPROCW callback, LPARAM data, DWORD) {
    WinGdi::DcAttributes attributes;
    if (!callback || !filter || !WinGdi::ReadAttributes(dc, attributes)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::vector<Installed> fonts;
    bool fixed = false;
    {
        std::lock_guard<std::mutex> guard(State().lock);
        if (State().fixed) {
            fixed = true;
            for (const WinGdiTest::FontStyle& face : *State().fixed)
                fonts.push_back(Installed{face, FC_WEIGHT_REGULAR, FC_SLANT_ROMAN});
        }
    }
    if (!fixed)
        fonts = InstalledFonts();

    wchar_t wanted[LF_FACESIZE];
    std::copy_n(filter->lfFaceName, LF_FACESIZE, wanted);
    wanted[LF_FACESIZE - 1] = 0;
    int answer = 1;
    for (const Installed& font : fonts) {
        if (font.face.family.size() >= static_cast<std::size_t>(LF_FACESIZE))
            continue;
        if (wanted[0] && !SameFace(font.face.family, wanted))
            continue;
        ENUMLOGFONTEXW described{};
        LOGFONTW& logFont = described.elfLogFont;
        logFont.lfHeight = -16;
        logFont.lfWeight = font.weight >= FC_WEIGHT_BOLD ? FW_BOLD : FW_NORMAL;
        logFont.lfItalic = font.slant != FC_SLANT_ROMAN ? 1 : 0;
        logFont.lfCharSet = ANSI_CHARSET;
        CopyName(logFont.lfFaceName, LF_FACESIZE, font.face.family);
        CopyName(described.elfFullName, 64, font.face.family + L" " + font.face.style);
        CopyName(described.elfStyle, LF_FACESIZE, font.face.style);
        CopyName(described.elfScript, LF_FACESIZE, L"Western");
        TEXTMETRICW metrics{};
        metrics.tmHeight = 16;
        metrics.tmWeight = logFont.lfWeight;
        metrics.tmItalic = logFont.lfItalic;
        metrics.tmCharSet = ANSI_CHARSET;
        answer = callback(&logFont, &metrics, font.face.type, data);
        if (answer == 0)
            break;
    }
    return answer;
}

void WinGdiTest::UseFontList(std::vector<FontStyle> fonts) {
    std::lock_guard<std::mutex> guard(State().lock);
    State().fixed = std::move(fonts);
}

void WinGdiTest::UseInstalledFonts() {
    std::lock_guard<std::mutex> guard(State().lock);
    State().fixed.reset();
}
