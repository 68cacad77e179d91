// Where the picture of an image item goes in its box: fitted inside it or covering it (cut at the box),
// turned a quarter when the item asks for the best fit and the picture's orientation is not the box's,
// and placed in the box by the page's content alignment.
#pragma once

#include "platform/zizoraz/zIzoRaz.h"

struct PictureFit {
    // The drawn picture's rectangle as it stands (after any turn), in the target's pixels; it lies inside
    // the box unless the picture covers it.
    double left = 0, top = 0, width = 0, height = 0;
    bool turned = false;
    bool cover = false;
};

// Where the content sits in its box on each axis: 0 at the left or top, 0.5 centred, 1 at the right or
// bottom.
struct ContentAlignment {
    double horizontal = 0.5;
    double vertical = 0.5;
};

namespace PageItemFit {

// The page's "content-alignment" words: "l", "c", "r" across and "t", "c", "b" down (also spelt out);
// anything else centres.
ContentAlignment ReadAlignment(const wchar_t* horizontal, const wchar_t* vertical);

// The fit of a picture of the size in a box; the fit word is "cover" or anything else for inside, the
// rotation word "best-fit" or anything else for none. Sizes must be above 0.
PictureFit Fit(double boxLeft, double boxTop, double boxWidth, double boxHeight, double pictureWidth,
               double pictureHeight, const wchar_t* fit, const wchar_t* rotation,
               const ContentAlignment& alignment);

// Draws the picture at its fit, cut at the box; false when the canvas library fails.
bool Draw(IproHandle canvas, IproHandle picture, const PictureFit& fit, double boxLeft, double boxTop,
          double boxWidth, double boxHeight);

} // namespace PageItemFit
