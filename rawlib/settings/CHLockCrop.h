// The locked-crop heuristic: the crop stays where the user put it. Editing a print size, the scale, the
// resolution or the output size changes the scale and the sizes derived from it; the print size follows
// the crop's aspect.
#pragma once

#include "CHeuristic.h"

#include <memory>

class CHLockCrop : public CHeuristic {
public:
    CHLockCrop() = default;
    // A copy of another heuristic's values that locks that heuristic's resolution.
    explicit CHLockCrop(const CHeuristic& other);
    CHLockCrop(const CHLockCrop& other) : CHLockCrop(static_cast<const CHeuristic&>(other)) {}

    using CHeuristic::SetCrop;
    DWORD GetTypeCode() const override { return kTypeLockCrop; }
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
    int ConstrainWidth(double& width) override;
    int ConstrainHeight(double& height) override;
    double GetRatioMin() const override;
    double GetRatioMax() const override;

    // The resolution last set; print-size edits scale with it.
    const UnitValue& GetLockedResolution() const { return m_lockedResolution; }

private:
    UnitValue m_lockedResolution = UnitValue::PerInch(1.0);
};

// Replaces the heuristic in `slot` by a CHLockCrop that copies it (a default one when the slot is empty).
// 0 done, 1 no slot, 2 no memory (the slot keeps its heuristic).
int ToLockCrop(std::unique_ptr<CHeuristic>* slot);
