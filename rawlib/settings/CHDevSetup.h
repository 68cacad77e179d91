// The heuristic of the plain development set-up: it holds the values it was built with and refuses every
// edit of the crop, print size, scale, resolution and output size. Flips, turns, bounds, image size,
// scale limits, Reset and the record behave as in CHeuristic.
#pragma once

#include "CHeuristic.h"

class CHDevSetup : public CHeuristic {
public:
    // Crop and bounds cover a width x height image shown at `scale`, with the given limits; the
    // resolution is the scale.
    CHDevSetup(double width, double height, const UnitValue& scale, const UnitValue& scaleMin,
               const UnitValue& scaleMax);
    explicit CHDevSetup(const CHeuristic& other) : CHeuristic(other) {}

    DWORD GetTypeCode() const override { return kTypeDevSetup; }
    int SetCrop(const DblRect& rect, int hint) override;
    int SetCrop(double left, double top, double right, double bottom, int hint) override;
    int SetCropSize(double width, double height, int hint) override;
    int MoveCrop(double x, double y) override;
    int SetPrintWidth(UnitValue width) override;
    int SetPrintHeight(UnitValue height) override;
    int SetScale(UnitValue scale) override;
    int SetResolution(UnitValue resolution) override;
    int SetScaleRatio(double ratio) override;
    int SetOutputWidth(double width) override;
    int SetOutputHeight(double height) override;
    int SetOutputArea(double area) override;
    int IsEditable(KvEditQuery query) const override;
};
