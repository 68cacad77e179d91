#include "PageItemFit.h"

#include "platform/zizoraz/IproHandles.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string_view>

namespace {

double Position(std::wstring_view word, std::wstring_view start, std::wstring_view startWord,
                std::wstring_view end, std::wstring_view endWord) {
    if (word == start || word == startWord)
        return 0.0;
    if (word == end || word == endWord)
        return 1.0;
    return 0.5;
}

} // namespace

namespace PageItemFit {

ContentAlignment ReadAlignment(const wchar_t* horizontal, const wchar_t* vertical) {
    ContentAlignment alignment;
    if (horizontal)
        alignment.horizontal = Position(horizontal, L"l", L"left", L"r", L"right");
    if (vertical)
        alignment.vertical = Position(vertical, L"t", L"top", L"b", L"bottom");
    return alignment;
}

PictureFit Fit(double boxLeft, double boxTop, double boxWidth, double boxHeight, double pictureWidth,
               double pictureHeight, const wchar_t* fit, const wchar_t* rotation,
               const ContentAlignment& alignment) {
    PictureFit result;
    result.cover = fit && std::wstring_view(fit) == L"cover";
    // A square picture or box has no orientation to match.
    result.turned = rotation && std::wstring_view(rotation) == L"best-fit" && pictureWidth != pictureHeight &&
                    boxWidth != boxHeight && (pictureWidth > pictureHeight) != (boxWidth > boxHeight);
    const double w = result.turned ? pictureHeight : pictureWidth;
    const double h = result.turned ? pictureWidth : pictureHeight;
    const double across = boxWidth / w, down = boxHeight / h;
    const double scale = result.cover ? std::max(across, down) : std::min(across, down);
    result.width = w * scale;
    result.height = h * scale;
    result.left = boxLeft + (boxWidth - result.width) * alignment.horizontal;
    result.top = boxTop + (boxHeight - result.height) * alignment.vertical;
    return result;
}

bool Draw(IproHandle canvas, IproHandle picture, const PictureFit& fit, double boxLeft, double boxTop,
          double boxWidth, double boxHeight) {
    LONG width = 0, height = 0;
    if (iproGetImageSize(picture, &width, &height) != 1 || width <= 0 || height <= 0)
        return false;
    if (!fit.turned && !fit.cover)
        return iproDrawImage(canvas, picture, static_cast<float>(fit.left), static_cast<float>(fit.top),
                             static_cast<float>(fit.width), static_cast<float>(fit.height), 255) == 1;
    // Turned or cut pictures are drawn through a transform of their own, clipped to the box.
    std::shared_ptr<CIproCanvas> target = IproHandles::FindCanvas(canvas);
    std::shared_ptr<CIproImage> source = IproHandles::FindImage(picture);
    if (!target || !source)
        return false;
    const double scale = fit.turned ? fit.width / height : fit.width / width;
    return target->Paint(source.get(), [&](cairo_t* context, cairo_surface_t* from) {
        cairo_rectangle(context, boxLeft, boxTop, boxWidth, boxHeight);
        cairo_clip(context);
        cairo_translate(context, fit.left + fit.width / 2, fit.top + fit.height / 2);
        if (fit.turned)
            cairo_rotate(context, std::numbers::pi / 2);
        cairo_scale(context, scale, scale);
        cairo_set_source_surface(context, from, -width / 2.0, -height / 2.0);
        cairo_pattern_set_filter(cairo_get_source(context), CAIRO_FILTER_GOOD);
        cairo_paint(context);
    });
}

} // namespace PageItemFit
