#include "DesignTextFormat.h"

#include <cwchar>
#include <string>
#include <vector>

namespace designtext {
namespace {

struct Conversion {
    std::wstring flags;
    int width = 0;
    wchar_t length = 0; // 'h', 'l' or none
    wchar_t type = 0;   // 'd', 'i' or 'u'
};

// One piece of a parsed format: literal text, or a conversion.
struct Piece {
    std::wstring text;
    bool isConversion = false;
    Conversion conversion;
};

bool Parse(const wchar_t* format, std::size_t valueCount, std::vector<Piece>& pieces) {
    if (!format)
        return false;
    std::size_t conversions = 0;
    Piece literal;
    for (const wchar_t* p = format; *p;) {
        if (*p != L'%') {
            literal.text.push_back(*p++);
            continue;
        }
        ++p;
        if (*p == L'%') {
            literal.text.push_back(*p++);
            continue;
        }
        Piece piece;
        piece.isConversion = true;
        Conversion& c = piece.conversion;
        while (*p && std::wcschr(L"-+ #0", *p))
            c.flags.push_back(*p++);
        while (*p >= L'0' && *p <= L'9') {
            c.width = c.width * 10 + (*p++ - L'0');
            if (c.width > kMaxWidth)
                return false;
        }
        if (*p == L'h' || *p == L'l')
            c.length = *p++;
        if (*p != L'd' && *p != L'i' && *p != L'u')
            return false;
        c.type = *p++;
        if (++conversions > valueCount)
            return false;
        pieces.push_back(std::move(literal));
        literal = Piece{};
        pieces.push_back(std::move(piece));
    }
    pieces.push_back(std::move(literal));
    return true;
}

// Each value is printed through a conversion of our own making, as the 32-bit (or, for "h", 16-bit)
// number the text asked for.
std::wstring FormatOne(const Conversion& c, LONG value) {
    const std::wstring conversion = L"%" + c.flags + (c.width ? std::to_wstring(c.width) : L"") + c.type;
    wchar_t buffer[kMaxWidth + 32];
    int written;
    if (c.type == L'u') {
        const unsigned number =
            c.length == L'h' ? static_cast<unsigned short>(value) : static_cast<DWORD>(value);
        written = std::swprintf(buffer, std::size(buffer), conversion.c_str(), number);
    } else {
        const int number = c.length == L'h' ? static_cast<short>(value) : static_cast<int>(value);
        written = std::swprintf(buffer, std::size(buffer), conversion.c_str(), number);
    }
    return written < 0 ? std::wstring() : std::wstring(buffer, static_cast<std::size_t>(written));
}

} // namespace

bool IsAcceptedFormat(const wchar_t* format, std::size_t valueCount) {
    std::vector<Piece> pieces;
    return Parse(format, valueCount, pieces);
}

TString Format(const wchar_t* format, const wchar_t* fixedText, std::initializer_list<LONG> values) {
    std::vector<Piece> pieces;
    if (!Parse(format, values.size(), pieces)) {
        pieces.clear();
        if (!Parse(fixedText, values.size(), pieces))
            return TString();
    }
    std::wstring out;
    const LONG* value = values.begin();
    for (const Piece& piece : pieces) {
        if (piece.isConversion)
            out += FormatOne(piece.conversion, *value++);
        else
            out += piece.text;
    }
    return TString(out.c_str());
}

} // namespace designtext
