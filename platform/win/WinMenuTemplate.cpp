#include "WinMenuTemplate.h"

#include "WinResourceManifest.h"

#include <algorithm>

namespace WinMenuTemplate {
namespace {

using WinResourceManifest::NextWord;
using WinResourceManifest::ParseNumber;

bool ParseWord(std::string_view text, WORD& value) {
    std::uint32_t number = 0;
    if (!ParseNumber(text, number) || number > 0xFFFF)
        return false;
    value = static_cast<WORD>(number);
    return true;
}

using WinResourceManifest::NothingMore;

bool ParseText(std::string_view line, std::size_t pos, std::string& text, std::string& what) {
    return WinResourceManifest::RestOfLine(line, pos, text, what);
}

// The first line of either template: the keyword and an id from 1 to 65535.
bool ReadHead(std::string_view line, std::string_view head, bool& seen, WORD& id, std::string& what) {
    std::size_t pos = 0;
    const std::string_view keyword = NextWord(line, pos);
    if (seen || keyword != head) {
        what = seen ? std::string(head) + " is given twice"
                    : "a template starts with its " + std::string(head) + " line";
        return false;
    }
    seen = true;
    if (!ParseWord(NextWord(line, pos), id) || id == 0) {
        what = std::string(head) + " needs an id from 1 to 65535";
        return false;
    }
    return NothingMore(line, pos, what);
}

bool Skipped(std::string_view line) {
    std::size_t pos = 0;
    const std::string_view keyword = NextWord(line, pos);
    return keyword.empty() || keyword[0] == '#';
}

struct MenuReader {
    Menu& out;
    bool haveHead = false;
    std::vector<std::vector<Item>*> open; // the item lists being filled, innermost last
    std::size_t count = 0;

    bool Line(std::string_view line, std::string& what) {
        if (Skipped(line))
            return true;
        if (!haveHead) {
            open.push_back(&out.items);
            return ReadHead(line, "menu", haveHead, out.id, what);
        }
        std::size_t pos = 0;
        const std::string_view keyword = NextWord(line, pos);
        if (keyword == "end") {
            if (open.size() < 2) {
                what = "end without a popup";
                return false;
            }
            open.pop_back();
            return NothingMore(line, pos, what);
        }
        if (++count > kMaxItems) {
            what = "a menu holds at most 4096 items";
            return false;
        }
        Item item;
        if (keyword == "separator") {
            item.separator = true;
            if (!NothingMore(line, pos, what))
                return false;
        } else if (keyword == "item") {
            if (!ParseWord(NextWord(line, pos), item.command)) {
                what = "item needs a command from 0 to 65535";
                return false;
            }
            if (!ParseText(line, pos, item.text, what))
                return false;
        } else if (keyword == "popup") {
            if (open.size() > kMaxDepth) {
                what = "sub-menus nest at most 16 deep";
                return false;
            }
            item.popup = true;
            if (!ParseText(line, pos, item.text, what))
                return false;
        } else {
            what = "unknown keyword " + std::string(keyword);
            return false;
        }
        std::vector<Item>& list = *open.back();
        list.push_back(std::move(item));
        if (list.back().popup)
            open.push_back(&list.back().items);
        return true;
    }
};

struct Modifier {
    std::string_view name;
    BYTE flag;
};
constexpr Modifier kModifiers[] = {{"NONE", 0}, {"CONTROL", FCONTROL}, {"SHIFT", FSHIFT}, {"ALT", FALT}};

bool ParseModifiers(std::string_view text, BYTE& flags) {
    flags = FVIRTKEY;
    return WinResourceManifest::ForEachJoinedPart(text, [&](std::string_view part) {
        const auto* named = std::find_if(std::begin(kModifiers), std::end(kModifiers),
                                         [&](const Modifier& entry) { return entry.name == part; });
        if (named == std::end(kModifiers))
            return false;
        flags |= named->flag;
        return true;
    });
}

bool ParseKey(std::string_view text, WORD& key) {
    if (text.size() == 1 && ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= '0' && text[0] <= '9'))) {
        key = static_cast<WORD>(text[0]);
        return true;
    }
    if (text.size() == 1 && text[0] >= 'a' && text[0] <= 'z') {
        key = static_cast<WORD>(text[0] - 'a' + 'A');
        return true;
    }
    return text.size() > 1 && ParseWord(text, key);
}

struct AcceleratorReader {
    AcceleratorTable& out;
    bool haveHead = false;

    bool Line(std::string_view line, std::string& what) {
        if (Skipped(line))
            return true;
        if (!haveHead)
            return ReadHead(line, "accelerators", haveHead, out.id, what);
        std::size_t pos = 0;
        const std::string_view keyword = NextWord(line, pos);
        if (keyword != "key") {
            what = "unknown keyword " + std::string(keyword);
            return false;
        }
        if (out.entries.size() >= kMaxKeys) {
            what = "a table holds at most 1024 keys";
            return false;
        }
        Accelerator entry;
        if (!ParseModifiers(NextWord(line, pos), entry.flags)) {
            what = "key needs NONE or modifiers CONTROL, SHIFT and ALT joined by '|'";
            return false;
        }
        if (!ParseKey(NextWord(line, pos), entry.key)) {
            what = "key needs a letter, a digit or a key number";
            return false;
        }
        if (!ParseWord(NextWord(line, pos), entry.command)) {
            what = "key needs a command from 0 to 65535";
            return false;
        }
        out.entries.push_back(entry);
        return NothingMore(line, pos, what);
    }
};

// Reads the lines with the reader; a template needs its first line.
template <class Reader>
bool Run(std::string_view text, Reader& reader, std::string_view head, std::string& error) {
    const int end = WinResourceManifest::ForEachLine(
        text, [&](std::string_view line, std::string& what) { return reader.Line(line, what); }, error);
    if (end == 0)
        return false;
    if (!reader.haveHead) {
        error = std::to_string(end) + ": the template has no " + std::string(head) + " line";
        return false;
    }
    return true;
}

} // namespace

bool ParseMenu(std::string_view text, Menu& out, std::string& error) {
    out = Menu{};
    MenuReader reader{out, false, {}, 0};
    if (!Run(text, reader, "menu", error))
        return false;
    if (reader.open.size() > 1) {
        error = "the template ends with a popup left open";
        return false;
    }
    return true;
}

bool ParseAccelerators(std::string_view text, AcceleratorTable& out, std::string& error) {
    out = AcceleratorTable{};
    AcceleratorReader reader{out};
    return Run(text, reader, "accelerators", error);
}

} // namespace WinMenuTemplate
