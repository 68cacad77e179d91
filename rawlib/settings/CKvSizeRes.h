// The size and resolution settings of one image: crop, output size, print size and resolution (held by
// one heuristic, locked-crop by default), and the orientation as a mirror flag and a quarter-turn angle.
// It forwards the edits to its heuristic, converts print and resolution units, gives the pipeline integer
// rectangles and sizes, and stores all of it as one settings record.
//
// The heuristic works in twice the image's pixel size: image sizes and crops given in pixels are doubled
// on the way in, and a scale factor (GetScaleFactor) of 1 is one output pixel per image pixel. Its frame
// is the oriented (displayed) one; integer rectangles can be had in either frame.
#pragma once

#include "CHeuristic.h"
#include "IKvState.h"

#include "rawlib/foundation/CKvRect.h"

#include <memory>

class CKvSizeRes : public IKvState {
public:
    static constexpr WORD kVersion = 5;
    static constexpr LONG kErrorNoMemory = 31000;
    static constexpr LONG kErrorUnknownHeuristic = 31001;
    // Display unit codes of the conversions.
    static constexpr int kInch = 1;
    static constexpr int kCentimetre = 2;
    static constexpr int kMillimetre = 3;
    static constexpr int kPica = 4;
    static constexpr int kPoint = 5;
    static constexpr int kPerInch = 0;
    static constexpr int kPerCentimetre = 1;
    // The resolution a stored state without usable values falls back to.
    static constexpr double kDefaultResolution = 300.0;

    // A locked-crop heuristic at its defaults.
    CKvSizeRes();
    // The state of a width x height image shown whole (or cropped to `crop`, in pixels) at `resolution`:
    // the output size is the crop's pixel size. Sizes below 1 count as 1.
    CKvSizeRes(LONG width, LONG height, const CKvRect* crop, const UnitValue& resolution);
    CKvSizeRes(const CKvSizeRes& other);
    CKvSizeRes& operator=(const CKvSizeRes& other);
    ~CKvSizeRes() override;

    // What the record stores: heuristic type and values, orientation and flag byte.
    bool operator==(const CKvSizeRes& other) const;

    int WriteState(BYTE* buffer, int size) override;
    // This record is read with ReadRecord, which needs the image size; this always answers 0.
    int ReadState(const BYTE* buffer, int size) override;
    const BYTE* GetStateId() override;
    void SetLastError(LONG code) { m_lastError = code; }
    LONG GetLastError() const { return m_lastError; }

    // The crop covers the bounds (as integer rectangles) at a scale factor of exactly 1.
    bool IsNeutral() const;

    // Inches in a display length unit (0 for an unknown code), and pixels per inch in a display
    // resolution unit; then the way back, to inches (unit 0) and pixels per inch (unit 1).
    static double InchesToUnit(double value, int unitCode);
    static double ResolutionToUnit(double value, int unitCode);
    static UnitValue UnitToInches(double value, int unitCode);
    static UnitValue ResolutionFromUnit(double value, int unitCode);

    // Edits, in the heuristic's coordinates; results as the heuristic's (0 taken, 1 adjusted).
    int BeginTrack() { return m_heuristic->BeginTrack(); }
    int TrackCrop(const DblRect& rect, int hint) { return m_heuristic->TrackCrop(rect, hint); }
    int TrackCrop(double left, double top, double right, double bottom, int hint) {
        return m_heuristic->TrackCrop(left, top, right, bottom, hint);
    }
    int SetCrop(const DblRect& rect, int hint) { return m_heuristic->SetCrop(rect, hint); }
    int SetCrop(double left, double top, double right, double bottom, int hint) {
        return m_heuristic->SetCrop(left, top, right, bottom, hint);
    }
    int SetCropSize(double width, double height, int hint) {
        return m_heuristic->SetCropSize(width, height, hint);
    }
    int MoveCrop(double x, double y) { return m_heuristic->MoveCrop(x, y); }
    int SetBounds(const DblRect& rect) { return m_heuristic->SetBounds(rect); }
    int SetBoundsSize(double width, double height) { return m_heuristic->SetBoundsSize(width, height); }
    int SetPrintWidth(const UnitValue& width);
    int SetPrintHeight(const UnitValue& height);
    int SetScale(const UnitValue& scale) { return m_heuristic->SetScale(scale); }
    int SetScaleMin(const UnitValue& minimum) { return m_heuristic->SetScaleMin(minimum); }
    int SetScaleMax(const UnitValue& maximum) { return m_heuristic->SetScaleMax(maximum); }
    // With `keepFixed` the output size stays and the print size follows the new resolution.
    int SetResolution(const UnitValue& resolution, int keepFixed);
    int SetScaleRatio(double ratio) { return m_heuristic->SetScaleRatio(ratio); }
    int SetOutputWidth(double width);
    int SetOutputHeight(double height);
    int SetOutputArea(double area) { return m_heuristic->SetOutputArea(area); }
    int ConstrainWidth(double& width) { return m_heuristic->ConstrainWidth(width); }
    int ConstrainHeight(double& height) { return m_heuristic->ConstrainHeight(height); }

    // Orientation changes: the heuristic turns with them.
    void FlipHorizontal();
    void FlipVertical();
    void RotateClockwise();
    void RotateCounterClockwise();

    double GetRatioMin() const { return m_heuristic->GetRatioMin(); }
    double GetRatioMax() const { return m_heuristic->GetRatioMax(); }
    DblRect GetCrop() const { return m_heuristic->GetCrop(); }
    DblRect GetBounds() const { return m_heuristic->GetBounds(); }
    DblRect GetImageRect() const { return {0, 0, GetImageWidth(), GetImageHeight()}; }
    double GetImageWidth() const { return m_heuristic->GetImageWidth(); }
    double GetImageHeight() const { return m_heuristic->GetImageHeight(); }
    UnitValue GetPrintWidth() const { return m_heuristic->GetPrintWidth(); }
    UnitValue GetPrintHeight() const { return m_heuristic->GetPrintHeight(); }
    UnitValue GetScale() const { return m_heuristic->GetScale(); }
    UnitValue GetScaleMin() const { return m_heuristic->GetScaleMin(); }
    UnitValue GetScaleMax() const { return m_heuristic->GetScaleMax(); }
    UnitValue GetResolution() const { return m_heuristic->GetResolution(); }
    double GetScaleRatio() const { return m_heuristic->GetScaleRatio(); }
    // The output size cut to whole pixels, at least 1.
    LONG GetOutputWidth() const;
    LONG GetOutputHeight() const;
    // The product of the output width and height, each at least 1, not cut.
    double GetOutputArea() const;
    // Either pointer may be null.
    void GetCropSize(double* width, double* height) const;
    void GetCropSize(LONG* width, LONG* height) const;
    void GetBoundsSize(double* width, double* height) const;

    // Change bits of the heuristic since the last ClearChanges (kChangedRatioLimits is never cleared).
    void ClearChanges();
    bool IsCropChanged() const { return HasChanged(0x7); }
    bool IsCropMoved() const { return HasChanged(CHeuristic::kChangedCropOrigin); }
    bool IsCropWidthChanged() const { return HasChanged(CHeuristic::kChangedCropWidth); }
    bool IsCropHeightChanged() const { return HasChanged(CHeuristic::kChangedCropHeight); }
    bool IsCropSizeChanged() const { return HasChanged(0x6); }
    bool IsPrintWidthChanged() const { return HasChanged(CHeuristic::kChangedPrintWidth); }
    bool IsPrintHeightChanged() const { return HasChanged(CHeuristic::kChangedPrintHeight); }
    bool IsPrintSizeChanged() const { return HasChanged(0x18); }
    bool IsScaleChanged() const { return HasChanged(CHeuristic::kChangedScale); }
    bool IsResolutionChanged() const { return HasChanged(CHeuristic::kChangedResolution); }
    bool IsScaleRatioChanged() const { return HasChanged(CHeuristic::kChangedScaleRatio); }
    bool IsRatioLimitsChanged() const { return HasChanged(CHeuristic::kChangedRatioLimits); }
    bool IsOutputWidthChanged() const { return HasChanged(CHeuristic::kChangedOutputWidth); }
    bool IsOutputHeightChanged() const { return HasChanged(CHeuristic::kChangedOutputHeight); }
    bool IsOutputSizeChanged() const { return HasChanged(0x600); }
    bool IsOutputAreaChanged() const { return HasChanged(CHeuristic::kChangedOutputArea); }
    int IsEditable(KvEditQuery query) const { return m_heuristic->IsEditable(query); }
    bool AnyChange() const { return HasChanged(0xFFF); }

    // Back to no mirror and no turn, turning the heuristic with it.
    void ResetOrientation() { SetOrientation(0, 0, 1); }
    // Sets the mirror flag and the angle (any multiple of 90; it is brought into [0, 360)). With `apply`
    // the heuristic is turned from the current orientation into the new one; without, the values are only
    // stored. An angle that is not a right angle is refused (false) and nothing changes.
    bool SetOrientation(int mirrored, LONG angle, int apply);
    bool IsMirrored() const { return m_mirrored != 0; }
    LONG GetAngle() const { return m_angle; }
    // From the image's stored frame into the oriented frame, about the centre of `reference` (the image
    // rectangle in its stored frame); Unorient* is the way back, with the oriented image rectangle as
    // reference. A point is a rectangle of no size.
    void OrientRect(DblRect& rect, const DblRect& reference) const;
    void UnorientRect(DblRect& rect, const DblRect& reference) const;
    void OrientPoint(DblPoint& point, const DblRect& reference) const;
    void UnorientPoint(DblPoint& point, const DblRect& reference) const;

    // Whole-unit rectangles of the crop, the bounds and the image, inside the image, in the heuristic's
    // frame when `oriented` is non-zero, else in the image's stored frame.
    void GetCropRect(CKvRect& rect, int oriented) const;
    void GetBoundsRect(CKvRect& rect, int oriented) const;
    void GetImageRectInt(CKvRect& rect, int oriented) const;

    // Switches to CHLockCrop ("Crop") or CHLockSize ("Size"), keeping every value. 1 on failure, with
    // GetLastError kErrorNoMemory or kErrorUnknownHeuristic.
    int SetHeuristicType(DWORD typeCode);
    DWORD GetHeuristicType() const { return m_heuristic->GetTypeCode(); }
    std::unique_ptr<CHeuristic>* GetHeuristicSlot() { return &m_heuristic; }
    const CHeuristic& GetHeuristic() const { return *m_heuristic; }

    // Reads a stored state for an image of `width` x `height` pixels (0 when not known). The stored
    // heuristic is turned into this object's orientation and fitted to the image. A state that was never
    // set up (or that the record does not hold), or whose values cannot be used, is replaced by the
    // default for the image. Returns the bytes the record's version defines, 0 for a record of another
    // kind.
    int ReadRecord(const BYTE* buffer, int size, LONG width, LONG height);
    // The whole image at `resolution`, the output size one output pixel per image pixel; the heuristic
    // type and the fixed output size are kept.
    void ResetToImage(const UnitValue& resolution);
    // Fits the state to a new image size.
    void ResetImage(LONG width, LONG height);
    // The integer crop in output pixels.
    CKvRect GetScaledCropRect(int oriented) const;
    // Output pixels per image pixel.
    double GetScaleFactor() const;
    // Sets it through the heuristic's scale, which holds it to the scale's limits; the heuristic's result.
    int SetScaleFactor(double factor);
    // The crop size, the output size or the scale ratio changed.
    bool SizeChanged() const { return HasChanged(0x6 | 0x600 | 0x80); }
    // The heuristic's fixed output size follows its type: fixed exactly for "Size".
    void SyncOutputFixed();
    // The version of the record last read into this object; 0 when none was.
    WORD GetRecordVersion() const { return m_recordVersion; }

    BYTE GetFlagByte() const { return m_flagByte; }
    void SetFlagByte(BYTE flag) { m_flagByte = flag; }
    double GetSpareValue() const { return m_spare; }
    void SetSpareValue(double value) { m_spare = value; }

private:
    bool HasChanged(DWORD bits) const { return (m_heuristic->GetFlags() & bits) != 0; }
    // Integer rectangle of `source` (crop or bounds) cut into the image; `atLeastOne` raises its size.
    CKvRect IntRect(const DblRect& source, bool atLeastOne, int oriented) const;

    std::unique_ptr<CHeuristic> m_heuristic;
    LONG m_lastError = 0;
    LONG m_mirrored = 0;
    LONG m_angle = 0;
    WORD m_recordVersion = 0;
    BYTE m_flagByte = 0;
    double m_spare = 5.0; // not copied, stored or read
};
