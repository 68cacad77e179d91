// Dialog templates: the small text form in which a library's dialogs are written. A template is compiled
// into the library's resources as data of type 5 (RT_DIALOG) under the dialog's id, by a manifest line
//     data 5 <id> <file>
// The resource compiler reads every template as it builds the table, so one it cannot read fails the
// build; the dialog manager reads it again, as outside data, whenever a dialog is made from it.
//
// Lines (UTF-8; blank lines and lines whose first word starts with '#' are skipped):
//     dialog <id>                          first, once: the id the resource is filed under
//     size <width> <height>                once: the dialog's client size in pixels
//     font <points> <face>                 at most once: the font of the dialog and of its controls
//     caption <text>                       at most once: the dialog's title
//     style <styles>                       at most once: the dialog's own styles (WS_POPUP without it)
//     control <class> <id> <styles> <x> <y> <width> <height> [<text>]
// Controls are made in the order of their lines, as children of the dialog (WS_CHILD is implied), at
// pixel positions in its client area; the class is a window class name ("Button", "msctls_progress32").
// Styles are names (WS_VISIBLE, BS_OWNERDRAW, ...) or numbers ("0x10", "16") joined by '|', without
// blanks. Ids are 0 to 65535, or -1 for a control that is never asked for by its id (kept as 65535).
// Positions are -32768 to 32767, sizes 0 to 32767, font sizes 1 to 400 points. Texts (at most 4096 bytes)
// run to the end of the line, with the escapes \n, \t and \\. A dialog is always a pop-up: WS_CHILD in
// its own style is dropped.
#pragma once

#include "wintypes.h"

#include <string>
#include <string_view>
#include <vector>

namespace WinDialogTemplate {

struct Control {
    std::string className;
    WORD id = 0;
    DWORD style = 0; // as written, without WS_CHILD
    LONG x = 0;
    LONG y = 0;
    LONG width = 0;
    LONG height = 0;
    std::string text;
};

struct Template {
    WORD id = 0;
    LONG width = 0;
    LONG height = 0;
    LONG fontPoints = 0; // 0: no font line
    std::string fontFace;
    std::string caption;
    DWORD style = 0;
    std::vector<Control> controls;
};

// More controls than this make a template unreadable.
constexpr std::size_t kMaxControls = 1024;

// Reads the template's text. False with "<line>: <what>" in error for the first line that cannot be read,
// or for a template without its dialog or size line; the template is then not to be used.
bool Parse(std::string_view text, Template& out, std::string& error);

} // namespace WinDialogTemplate
