#include "WinDialogTemplate.h"

#include "WinControls.h"
#include "WinDialogs.h"
#include "WinResourceManifest.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace WinDialogTemplate {
namespace {

using WinResourceManifest::NextWord;
using WinResourceManifest::ParseNumber;

constexpr LONG kMaxPosition = 32767;
constexpr LONG kMaxFontPoints = 400;
constexpr std::size_t kMaxClassBytes = 255;

struct StyleName {
    std::string_view name;
    DWORD value;
};

constexpr StyleName kStyleNames[] = {
    {"WS_OVERLAPPED", WS_OVERLAPPED},
    {"WS_POPUP", WS_POPUP},
    {"WS_CHILD", WS_CHILD},
    {"WS_VISIBLE", WS_VISIBLE},
    {"WS_DISABLED", WS_DISABLED},
    {"WS_CLIPSIBLINGS", WS_CLIPSIBLINGS},
    {"WS_CLIPCHILDREN", WS_CLIPCHILDREN},
    {"WS_CAPTION", WS_CAPTION},
    {"WS_BORDER", WS_BORDER},
    {"WS_SYSMENU", WS_SYSMENU},
    {"WS_VSCROLL", WS_VSCROLL},
    {"WS_HSCROLL", WS_HSCROLL},
    {"WS_GROUP", WS_GROUP},
    {"WS_TABSTOP", WS_TABSTOP},
    {"DS_SETFONT", DS_SETFONT},
    {"DS_MODALFRAME", DS_MODALFRAME},
    {"DS_CENTER", DS_CENTER},
    {"SS_LEFT", SS_LEFT},
    {"SS_CENTER", SS_CENTER},
    {"SS_RIGHT", SS_RIGHT},
    {"SS_CENTERIMAGE", SS_CENTERIMAGE},
    {"ES_READONLY", ES_READONLY},
    {"BS_PUSHBUTTON", BS_PUSHBUTTON},
    {"BS_DEFPUSHBUTTON", BS_DEFPUSHBUTTON},
    {"BS_CHECKBOX", BS_CHECKBOX},
    {"BS_AUTOCHECKBOX", BS_AUTOCHECKBOX},
    {"BS_RADIOBUTTON", BS_RADIOBUTTON},
    {"BS_3STATE", BS_3STATE},
    {"BS_AUTO3STATE", BS_AUTO3STATE},
    {"BS_GROUPBOX", BS_GROUPBOX},
    {"BS_AUTORADIOBUTTON", BS_AUTORADIOBUTTON},
    {"BS_OWNERDRAW", BS_OWNERDRAW},
    {"CBS_SORT", CBS_SORT},
    {"LBS_SORT", LBS_SORT},
    {"TBS_VERT", TBS_VERT},
    {"UDS_HORZ", UDS_HORZ},
    // Styles that this platform's controls do not act on, accepted so that templates may say them.
    {"CBS_DROPDOWN", 0x0002},
    {"CBS_DROPDOWNLIST", 0x0003},
    {"ES_AUTOHSCROLL", 0x0080},
    {"ES_NUMBER", 0x2000},
    {"ES_MULTILINE", 0x0004},
    {"LBS_NOTIFY", 0x0001},
    {"PBS_SMOOTH", 0x0001},
    {"TBS_HORZ", 0x0000},
    {"TBS_AUTOTICKS", 0x0001},
    {"TBS_NOTICKS", 0x0010},
    {"UDS_SETBUDDYINT", 0x0002},
    {"UDS_ALIGNRIGHT", 0x0004},
    {"UDS_ARROWKEYS", 0x0020},
    {"UDS_AUTOBUDDY", 0x0010},
    {"SS_NOTIFY", 0x0100},
    {"BS_NOTIFY", 0x4000},
};

bool ParseStyles(std::string_view text, DWORD& style) {
    style = 0;
    return WinResourceManifest::ForEachJoinedPart(text, [&](std::string_view part) {
        std::uint32_t value = 0;
        const auto* named = std::find_if(std::begin(kStyleNames), std::end(kStyleNames),
                                         [&](const StyleName& entry) { return entry.name == part; });
        if (named != std::end(kStyleNames))
            value = named->value;
        else if (!ParseNumber(part, value))
            return false;
        style |= value;
        return true;
    });
}

bool ParseSigned(std::string_view text, LONG low, LONG high, LONG& value) {
    const bool negative = !text.empty() && text[0] == '-';
    if (negative)
        text.remove_prefix(1);
    std::uint32_t magnitude = 0;
    if (!ParseNumber(text, magnitude) || magnitude > 0x80000000u)
        return false;
    const long long signedValue = negative ? -static_cast<long long>(magnitude) : magnitude;
    if (signedValue < low || signedValue > high)
        return false;
    value = static_cast<LONG>(signedValue);
    return true;
}

bool ParseId(std::string_view text, WORD& id) {
    if (text == "-1") {
        id = 0xFFFF;
        return true;
    }
    std::uint32_t value = 0;
    if (!ParseNumber(text, value) || value > 0xFFFF)
        return false;
    id = static_cast<WORD>(value);
    return true;
}

// The rest of the line from pos on, escapes resolved.
bool ParseText(std::string_view line, std::size_t pos, std::string& text, std::string& what) {
    return WinResourceManifest::RestOfLine(line, pos, text, what);
}

struct Reader {
    Template& out;
    bool haveDialog = false;
    bool haveSize = false;
    bool haveFont = false;
    bool haveCaption = false;
    bool haveStyle = false;

    bool Once(bool& seen, std::string_view keyword, std::string& what) {
        if (seen) {
            what = std::string(keyword) + " is given twice";
            return false;
        }
        seen = true;
        return true;
    }

    bool Line(std::string_view line, std::string& what) {
        std::size_t pos = 0;
        const std::string_view keyword = NextWord(line, pos);
        if (keyword.empty() || keyword[0] == '#')
            return true;
        if (!haveDialog && keyword != "dialog") {
            what = "a template starts with its dialog line";
            return false;
        }
        if (keyword == "dialog") {
            if (!Once(haveDialog, keyword, what))
                return false;
            if (!ParseId(NextWord(line, pos), out.id) || out.id == 0xFFFF || out.id == 0) {
                what = "the dialog needs an id from 1 to 65534";
                return false;
            }
            return NothingMore(line, pos, what);
        }
        if (keyword == "size") {
            if (!Once(haveSize, keyword, what))
                return false;
            if (!ParseSigned(NextWord(line, pos), 0, kMaxPosition, out.width) ||
                !ParseSigned(NextWord(line, pos), 0, kMaxPosition, out.height)) {
                what = "size needs a width and a height from 0 to 32767";
                return false;
            }
            return NothingMore(line, pos, what);
        }
        if (keyword == "font") {
            if (!Once(haveFont, keyword, what))
                return false;
            if (!ParseSigned(NextWord(line, pos), 1, kMaxFontPoints, out.fontPoints)) {
                what = "font needs a size from 1 to 400 points";
                return false;
            }
            if (!ParseText(line, pos, out.fontFace, what))
                return false;
            if (out.fontFace.empty()) {
                what = "font needs a face";
                return false;
            }
            return true;
        }
        if (keyword == "caption")
            return Once(haveCaption, keyword, what) && ParseText(line, pos, out.caption, what);
        if (keyword == "style") {
            if (!Once(haveStyle, keyword, what))
                return false;
            if (!ParseStyles(NextWord(line, pos), out.style)) {
                what = "unknown style";
                return false;
            }
            return NothingMore(line, pos, what);
        }
        if (keyword == "control")
            return ControlLine(line, pos, what);
        what = "unknown line \"" + std::string(keyword) + "\"";
        return false;
    }

    bool ControlLine(std::string_view line, std::size_t pos, std::string& what) {
        if (out.controls.size() >= kMaxControls) {
            what = "more than 1024 controls";
            return false;
        }
        Control control;
        const std::string_view className = NextWord(line, pos);
        if (className.empty() || className.size() > kMaxClassBytes) {
            what = "a control needs a class name";
            return false;
        }
        control.className = std::string(className);
        if (!ParseId(NextWord(line, pos), control.id)) {
            what = "a control needs an id from 0 to 65535, or -1";
            return false;
        }
        if (!ParseStyles(NextWord(line, pos), control.style)) {
            what = "unknown style";
            return false;
        }
        if (!ParseSigned(NextWord(line, pos), -kMaxPosition - 1, kMaxPosition, control.x) ||
            !ParseSigned(NextWord(line, pos), -kMaxPosition - 1, kMaxPosition, control.y) ||
            !ParseSigned(NextWord(line, pos), 0, kMaxPosition, control.width) ||
            !ParseSigned(NextWord(line, pos), 0, kMaxPosition, control.height)) {
            what = "a control needs x, y, width and height";
            return false;
        }
        if (!ParseText(line, pos, control.text, what))
            return false;
        out.controls.push_back(std::move(control));
        return true;
    }

    static bool NothingMore(std::string_view line, std::size_t pos, std::string& what) {
        return WinResourceManifest::NothingMore(line, pos, what);
    }
};

} // namespace

bool Parse(std::string_view text, Template& out, std::string& error) {
    out = Template{};
    out.style = WS_POPUP;
    Reader reader{out};
    const int end = WinResourceManifest::ForEachLine(
        text, [&](std::string_view line, std::string& what) { return reader.Line(line, what); }, error);
    if (end == 0)
        return false;
    if (!reader.haveDialog || !reader.haveSize) {
        error = std::to_string(end) + ": " + (reader.haveDialog ? "no size line" : "no dialog line");
        return false;
    }
    return true;
}

} // namespace WinDialogTemplate
