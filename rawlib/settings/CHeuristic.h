// The value model behind the crop, output-size and resolution settings of one developed image: the crop
// and the bounds it must stay inside, the image size, the print size, a scale with its limits, the print
// resolution and the output pixel size. It keeps them consistent, records which of them an operation
// changed (change bits), checks them (Validate) and stores itself as a versioned record.
//
// CHeuristic answers every edit by storing the value as given; its subclasses decide what is held fixed
// when one value is edited (CHDevSetup refuses edits, CHLockCrop keeps the crop, CHLockSize keeps the
// output size). Coordinates are those of the owner; the size state works in twice the image's pixels.
#pragma once

#include "DblRect.h"

#include "platform/win/wintypes.h"

// The editability queries the owner forwards. Only their relations are fixed: a composite query is true
// when one of its parts is.
enum class KvEditQuery {
    kCrop, // kCropPosition or kCropSize
    kCropPosition,
    kCropWidth,
    kCropHeight,
    kCropSize, // kCropWidth or kCropHeight
    kPrintWidth,
    kPrintHeight,
    kPrintSize, // kPrintWidth or kPrintHeight
    kScale,
    kResolution,
    kScaleRatio,
    kOutputWidth,
    kOutputHeight,
    kOutputSize, // kOutputWidth or kOutputHeight
    kOutputArea,
    kFixedAspect, // no heuristic offers it
};

// a and b compared by mantissa and binary exponent, to 1e-10 of the mantissa.
bool KvNearlyEqual(double a, double b);

class CHeuristic {
public:
    // Type codes: four characters read as a big-endian 32-bit number.
    static constexpr DWORD kTypeNone = 0x4E6F6E65;     // "None"
    static constexpr DWORD kTypeDevSetup = 0x44536574; // "DSet"
    static constexpr DWORD kTypeLockCrop = 0x43726F70; // "Crop"
    static constexpr DWORD kTypeLockSize = 0x53697A65; // "Size"

    // Change bits, compared with the values at the start of the outermost operation.
    static constexpr DWORD kChangedCropOrigin = 0x1;
    static constexpr DWORD kChangedCropWidth = 0x2;
    static constexpr DWORD kChangedCropHeight = 0x4;
    static constexpr DWORD kChangedPrintWidth = 0x8;
    static constexpr DWORD kChangedPrintHeight = 0x10;
    static constexpr DWORD kChangedScale = 0x20;
    static constexpr DWORD kChangedResolution = 0x40;
    static constexpr DWORD kChangedScaleRatio = 0x80;
    static constexpr DWORD kChangedRatioLimits = 0x100;
    static constexpr DWORD kChangedOutputWidth = 0x200;
    static constexpr DWORD kChangedOutputHeight = 0x400;
    static constexpr DWORD kChangedOutputArea = 0x800;
    // Not a change bit: the output size is fixed.
    static constexpr DWORD kOutputSizeFixed = 0x1000;

    static constexpr WORD kVersion = 3;
    static constexpr int kRecordSize = 223;
    static constexpr int kOldRecordSize = 219; // versions 1 and 2, without a length field
    static constexpr double kEpsilon = 1e-10;
    static constexpr double kRatioMin = 1e-10;
    static constexpr double kRatioMax = 1e10;

    // Validate's results.
    static constexpr int kValid = 0;
    static constexpr int kScaleOutsideLimits = 100;
    static constexpr int kCropLeftOutside = 101;
    static constexpr int kCropRightOutside = 102;
    static constexpr int kCropTopOutside = 103;
    static constexpr int kCropBottomOutside = 104;
    static constexpr int kOutputWidthOutside = 105;
    static constexpr int kOutputHeightOutside = 106;
    static constexpr int kOutputWidthNotResolutionTimesPrint = 200;
    static constexpr int kOutputHeightNotResolutionTimesPrint = 201;
    static constexpr int kAreaNotWidthTimesHeight = 202;
    static constexpr int kAspectNotOutputAspect = 203;
    static constexpr int kAspectNotPrintAspect = 204;
    static constexpr int kAspectNotCropAspect = 205;
    static constexpr int kRatioNotScaleOverResolution = 206;
    static constexpr int kOutputWidthNotScaledCrop = 207;
    static constexpr int kOutputHeightNotScaledCrop = 208;

    // Crop and bounds (0, 0, 1, 1), image and print 1 x 1, scale, limits, resolution and the derived
    // values 1, no bits.
    CHeuristic();
    // A base construction followed by Assign.
    CHeuristic(const CHeuristic& other);
    CHeuristic& operator=(const CHeuristic&) = delete; // Assign copies what a copy takes

    // Results of the editing operations: 0 the input was taken as given, 1 it was adjusted or refused.
    virtual int ConstrainCropSize(double& width, double& height, int hint);
    virtual ~CHeuristic() = default;
    // Copies every value and the bits except kChangedRatioLimits; not the drag start or the snapshot.
    virtual void Assign(const CHeuristic& other);
    virtual DWORD GetTypeCode() const { return kTypeNone; }
    virtual double GetAspect() const { return m_aspect; }
    virtual void SetAspect(double aspect) { m_aspect = aspect; }
    virtual int FlipHorizontal();
    virtual int FlipVertical();
    // Quarter turns of the crop and bounds within the image; image, print and output sizes swap.
    virtual int RotateClockwise();
    virtual int RotateCounterClockwise();
    // Remembers the crop as the start of an interactive drag.
    virtual int BeginTrack();
    virtual int TrackCrop(const DblRect& rect, int hint);
    virtual int TrackCrop(double left, double top, double right, double bottom, int hint);
    virtual int SetCrop(const DblRect& rect, int hint);
    virtual int SetCrop(double left, double top, double right, double bottom, int hint);
    virtual int SetCropSize(double width, double height, int hint);
    virtual int MoveCrop(double x, double y);
    virtual int SetBounds(const DblRect& rect);
    virtual int SetBoundsSize(double width, double height);
    virtual int SetImageSize(double width, double height);
    virtual int SetPrintWidth(UnitValue width);
    virtual int SetPrintHeight(UnitValue height);
    virtual int SetScale(UnitValue scale);
    virtual int SetScaleMin(UnitValue minimum);
    virtual int SetScaleMax(UnitValue maximum);
    virtual int SetResolution(UnitValue resolution);
    virtual int SetScaleRatio(double ratio);
    virtual int SetOutputWidth(double width);
    virtual int SetOutputHeight(double height);
    virtual int SetOutputArea(double area);
    virtual int SetOutputSizeFixed(int fixed);
    virtual int ConstrainWidth(double& width);
    virtual int ConstrainHeight(double& height);
    virtual double GetRatioMin() const { return kRatioMin; }
    virtual double GetRatioMax() const { return kRatioMax; }
    // 1 when the value the query stands for can be edited, else 0.
    virtual int IsEditable(KvEditQuery query) const;
    // Writes the fields that fit whole into `size` bytes (a field is written only when the size reaches
    // its end), sets `size` to the full record size and returns whether the whole record was written.
    // With no buffer it only reports the size.
    virtual bool WriteState(BYTE* buffer, int& size);
    // Reads the fields that `size` covers into this object and returns 1 when the whole record of its
    // version was there; 0 for another record's id. Reading adds no change bits.
    virtual int ReadState(const BYTE* buffer, int size);
    // Fits the state to a new image size and scale limits.
    virtual int Reset(double width, double height, const UnitValue& scaleMin, const UnitValue& scaleMax);
    // The first failing check (kValid when all pass); with `useBounds` the crop is checked against the
    // bounds, else against the image.
    virtual int Validate(int useBounds) const;

    const DblRect& GetCrop() const { return m_crop; }
    const DblRect& GetTrackStart() const { return m_trackStart; }
    const DblRect& GetBounds() const { return m_bounds; }
    double GetImageWidth() const { return m_imageWidth; }
    double GetImageHeight() const { return m_imageHeight; }
    const UnitValue& GetPrintWidth() const { return m_printWidth; }
    const UnitValue& GetPrintHeight() const { return m_printHeight; }
    const UnitValue& GetScale() const { return m_scale; }
    const UnitValue& GetScaleMin() const { return m_scaleMin; }
    const UnitValue& GetScaleMax() const { return m_scaleMax; }
    const UnitValue& GetResolution() const { return m_resolution; }
    double GetScaleRatio() const { return m_scaleRatio; }
    double GetOutputWidth() const { return m_outputWidth; }
    double GetOutputHeight() const { return m_outputHeight; }
    double GetOutputArea() const { return m_outputArea; }
    DWORD GetFlags() const { return m_flags; }
    bool IsOutputSizeFixed() const { return (m_flags & kOutputSizeFixed) != 0; }
    // The owner clears the change bits it has seen.
    void ClearFlags(DWORD bits) { m_flags &= ~bits; }
    // Whether the two would write the same record, byte for byte.
    bool SameRecord(const CHeuristic& other) const;

protected:
    // Takes the snapshot when the outermost operation starts and ORs in the change bits when it ends, so
    // that operations calling one another report every change once.
    class ChangeScope {
    public:
        explicit ChangeScope(CHeuristic& h);
        ~ChangeScope();
        ChangeScope(const ChangeScope&) = delete;
        ChangeScope& operator=(const ChangeScope&) = delete;

    private:
        CHeuristic& m_h;
    };

    // Moves v into [low, high]; when the range is empty the upper end wins. True when v moved.
    static bool HoldWithin(double& v, double low, double high);

    // Shared by the locked heuristics.
    // A value clamped to [1e-10, 1e10]; a clamped value takes `unitCode`. 1 when clamped.
    static int ClampToRatioRange(UnitValue& value, LONG unitCode);
    // The scale held to [scaleMin, scaleMax], taking the limit's unit; 1 when held.
    int ClampScale(UnitValue& scale) const;
    // Brings a candidate crop into the bounds, sizing it through ConstrainCropSize.
    int KeepInBounds(DblRect& candidate, int hint);
    // SetCrop of the locked heuristics: the candidate kept in the bounds, moved there, then sized.
    int SetLockedCrop(const DblRect& rect, int hint);
    // MoveCrop of the locked heuristics: the position held so that the crop stays in the bounds.
    int MoveLockedCrop(double x, double y);
    // The crop moved left (up) when it passes the bounds' right (bottom), top (left) kept.
    void KeepCropInBoundsHorizontally();
    void KeepCropInBoundsVertically();
    void RecomputeAspectFromCrop() { m_aspect = m_crop.Width() / m_crop.Height(); }

    DblRect m_crop{0, 0, 1, 1};
    DblRect m_trackStart;
    DblRect m_bounds{0, 0, 1, 1};
    double m_imageWidth = 1.0;
    double m_imageHeight = 1.0;
    UnitValue m_printWidth = UnitValue::Inches(1.0);
    UnitValue m_printHeight = UnitValue::Inches(1.0);
    UnitValue m_scale = UnitValue::PerInch(1.0);
    UnitValue m_scaleMin = UnitValue::PerInch(1.0);
    UnitValue m_scaleMax = UnitValue::PerInch(1.0);
    UnitValue m_resolution = UnitValue::PerInch(1.0);
    double m_scaleRatio = 1.0;
    double m_outputWidth = 1.0;
    double m_outputHeight = 1.0;
    double m_outputArea = 1.0;
    double m_aspect = 1.0;
    DWORD m_flags = 0;

private:
    struct Snapshot {
        DblRect crop;
        UnitValue printWidth, printHeight, scale, resolution;
        double scaleRatio = 0, ratioMin = 0, ratioMax = 0;
        double outputWidth = 0, outputHeight = 0, outputArea = 0;
    };
    void TakeSnapshot();
    void MarkChanges();

    Snapshot m_snapshot;
    int m_depth = 0;
};
