// Menu and accelerator templates: the small text forms in which a library's menus (data of type 4,
// RT_MENU) and accelerator tables (type 9, RT_ACCELERATOR) are written, filed by a manifest line
//     data 4 <id> <file>        or        data 9 <id> <file>
// The resource compiler reads every template as it builds the table; the loaders read them again, as
// outside data, whenever a menu or a table is made from one.
//
// Menu lines (UTF-8; blank lines and lines whose first word starts with '#' are skipped):
//     menu <id>                 first, once: the id the resource is filed under
//     popup <text>              a sub-menu; the lines up to its "end" are its items
//     item <command> <text>     a command (0 to 65535) with its text
//     separator
//     end                       closes the sub-menu opened last
// Accelerator lines:
//     accelerators <id>         first, once
//     key <modifiers> <key> <command>
// where the modifiers are NONE or CONTROL, SHIFT and ALT joined by '|', and the key is a letter or digit
// (its virtual key) or a number. Texts (at most 4096 bytes) run to the end of the line, with the escapes
// \n, \t and \\.
#pragma once

#include "wintypes.h"

#include <string>
#include <string_view>
#include <vector>

namespace WinMenuTemplate {

struct Item {
    WORD command = 0;
    std::string text;
    bool separator = false;
    bool popup = false;
    std::vector<Item> items; // a sub-menu's
};

struct Menu {
    WORD id = 0;
    std::vector<Item> items;
};

// Accelerator flags (the fVirt byte).
constexpr BYTE FVIRTKEY = 0x01;
constexpr BYTE FSHIFT = 0x04;
constexpr BYTE FCONTROL = 0x08;
constexpr BYTE FALT = 0x10;

struct Accelerator {
    BYTE flags = 0;
    WORD key = 0;
    WORD command = 0;
};

struct AcceleratorTable {
    WORD id = 0;
    std::vector<Accelerator> entries;
};

// More items (over all levels), deeper nesting or more keys than these make a template unreadable.
constexpr std::size_t kMaxItems = 4096;
constexpr std::size_t kMaxDepth = 16;
constexpr std::size_t kMaxKeys = 1024;

// Read the template's text. False with "<line>: <what>" in error for the first line that cannot be read,
// or for a template without its first line or with a sub-menu left open; the result is then not to be used.
bool ParseMenu(std::string_view text, Menu& out, std::string& error);
bool ParseAccelerators(std::string_view text, AcceleratorTable& out, std::string& error);

} // namespace WinMenuTemplate
