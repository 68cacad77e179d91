#include "FileSaveFit.h"

#include <algorithm>
#include <cmath>

float FileSaveFit::ScaleFactor(const graphtypes::TSize_T<LONG>& picture,
                               const graphtypes::TSize_T<LONG>& maximum) {
    if (picture.cx <= 0 || picture.cy <= 0 || maximum.cx <= 0 || maximum.cy <= 0)
        return 1.0f;
    const float across = static_cast<float>(maximum.cx) / static_cast<float>(picture.cx);
    const float down = static_cast<float>(maximum.cy) / static_cast<float>(picture.cy);
    return std::min({across, down, 1.0f});
}

bool FileSaveFit::DesignPageSize(const graphtypes::TSize_T<LONG>& picture,
                                 const graphtypes::TSize_T<LONG>& maximum,
                                 graphtypes::TSize_T<LONG>& target) {
    double width, height;
    if (picture.cx == kDesignPageWidth) {
        if (maximum.cx <= 0)
            return false;
        width = maximum.cx;
        height = maximum.cx * static_cast<double>(picture.cy) / kDesignPageWidth;
    } else {
        if (picture.cy <= 0 || maximum.cy <= 0)
            return false;
        width = maximum.cy * static_cast<double>(picture.cx) / picture.cy;
        height = maximum.cy;
    }
    // Sides beyond 32 bits are no size; the canvas library refuses far smaller ones anyway.
    if (!(width >= 0.5 && height >= 0.5 && width < 2147483647.0 && height < 2147483647.0))
        return false;
    target = graphtypes::TSize_T<LONG>(static_cast<LONG>(std::lround(width)),
                                       static_cast<LONG>(std::lround(height)));
    return true;
}
