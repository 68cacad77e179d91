// Text items of a layout page (captions, imprints): their text drawn through pango-cairo with the item's
// face, size, style and colour, wrapped to the box and cut there with an ellipsis.
#pragma once

#include "platform/zizoraz/zIzoRaz.h"

#include <string>

struct PageTextStyle {
    std::wstring face;
    // The height of one line in the target's pixels; the font's size is this less the line spacing.
    double lineHeight = 0;
    bool bold = false;
    bool italic = false;
    DWORD colour = 0xFF000000u; // red in the low byte
    // "left", "center" or "right"; anything else is left.
    std::wstring alignment;
};

namespace PageItemText {

// "#rrggbbaa" or "#rrggbb" (opaque); false, the colour untouched, for anything else.
bool ParseColour(const std::wstring& text, DWORD& colour);
// Draws the text into the box; true with nothing drawn for an empty text, a line of no height or an
// empty box, false when the canvas library fails.
bool Draw(IproHandle canvas, const std::wstring& text, const PageTextStyle& style, double left, double top,
          double width, double height);

} // namespace PageItemText
