// The locked-size heuristic: the output pixel size stays as set. Editing the crop keeps its aspect and
// moves the scale; editing a print size, the scale or the resolution resizes the crop around the fixed
// output.
#pragma once

#include "CHeuristic.h"

#include <memory>

class CHLockSize : public CHeuristic {
public:
    // Hint bits of ConstrainCropSize and TrackCrop: which dimension leads, which edges are dragged.
    static constexpr int kHintWidthLeads = 1;
    static constexpr int kHintHeightLeads = 2;
    static constexpr int kHintRightEdge = 4;
    static constexpr int kHintBottomEdge = 8;

    CHLockSize() = default;
    // A copy of another heuristic's values that locks that heuristic's resolution.
    explicit CHLockSize(const CHeuristic& other);
    CHLockSize(const CHLockSize& other) : CHLockSize(static_cast<const CHeuristic&>(other)) {}

    using CHeuristic::SetCrop;
    using CHeuristic::TrackCrop;
    // Keeps the aspect, and the crop between the output size and what the scale limits and the bounds
    // allow.
    int ConstrainCropSize(double& width, double& height, int hint) override;
    DWORD GetTypeCode() const override { return kTypeLockSize; }
    int TrackCrop(const DblRect& rect, int hint) override;
    int SetCrop(const DblRect& rect, int hint) override { return SetLockedCrop(rect, hint); }
    int SetCropSize(double width, double height, int hint) override;
    int MoveCrop(double x, double y) override { return MoveLockedCrop(x, y); }
    int SetPrintWidth(UnitValue width) override;
    int SetPrintHeight(UnitValue height) override;
    int SetScale(UnitValue scale) override;
    int SetResolution(UnitValue resolution) override;
    int SetScaleRatio(double ratio) override;
    int SetOutputWidth(double width) override;
    int SetOutputHeight(double height) override;
    int SetOutputArea(double area) override;
    double GetRatioMin() const override;
    double GetRatioMax() const override;
    int Reset(double width, double height, const UnitValue& scaleMin, const UnitValue& scaleMax) override;

    // The resolution last set; print-size edits scale with it.
    const UnitValue& GetLockedResolution() const { return m_lockedResolution; }

private:
    // After a print-size edit: the scale that fits the output into the bounds, the crop from it.
    void FitScaleAndCropToOutput();

    UnitValue m_lockedResolution = UnitValue::PerInch(1.0);
};

// Replaces the heuristic in `slot` by a CHLockSize that copies it (a default one when the slot is empty).
// 0 done, 1 no slot, 2 no memory (the slot keeps its heuristic).
int ToLockSize(std::unique_ptr<CHeuristic>* slot);
