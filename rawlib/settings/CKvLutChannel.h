// The tone channel: input black and white points, a gamma, output levels, a brightness and a natural cubic
// spline through control points, rendered into a tone table. It keeps a reference copy of its curve for
// before-and-after views, and can take an outside table that is applied before or after the curve.
#pragma once

#include "CKvLutChannelBase.h"
#include "KvCurvePoints.h"

#include <array>
#include <vector>

// What a tone table is rendered from; the channel holds a current and a reference set.
struct KvToneSet {
    double black = 0;
    double gamma = 1;
    double white = 1;
    double outputLow = 0;
    double outputHigh = 1;
    std::vector<KvTonePoint> points{KvTonePoint{0, 0}, KvTonePoint{1, 1}};
    bool splineDirty = true; // the points' slopes must be solved again before rendering
};

// Pixel positions of the tone graph's handles: columns of black, gamma and white, rows of the output levels.
struct LutHandlePositions {
    LONG black = 0;
    LONG gamma = 0;
    LONG white = 0;
    LONG outputLow = 0;
    LONG outputHigh = 0;
};

class CKvLutChannel : public CKvLutChannelBase {
public:
    static constexpr WORD kVersion = 3;
    static constexpr double kMinGamma = 0.05;
    static constexpr double kMaxGamma = 20;
    // Three colour triples that describe where the channel came from; stored, never interpreted.
    using SourceParameters = std::array<LONG, 9>;

    // Flags of BuildTable.
    static constexpr DWORD kTableReference = 0x01;      // render the reference set and reference contrast
    static constexpr DWORD kTableComposeFirst = 0x02;   // then apply the group's first channel
    static constexpr DWORD kTableNormaliseInput = 0x04; // input relative to black..white
    static constexpr DWORD kTableOutputLevels = 0x08;
    static constexpr DWORD kTablePoints = 0x10; // the point curve
    static constexpr DWORD kTableGamma = 0x20;
    static constexpr DWORD kTableContrast = 0x40; // the group's contrast (channel 0) and the brightness
    static constexpr DWORD kTableOutside = 0x80;  // the outside table

    // The points (0, 0) and (1, 1), neutral levels, and a reference set equal to the current one.
    explicit CKvLutChannel(CKvLutGroup* group = nullptr, LONG channelId = 0,
                           const SourceParameters& source = {});
    // A deep copy whose tracking state starts empty.
    CKvLutChannel(const CKvLutChannel& other);
    CKvLutChannel& operator=(const CKvLutChannel& other);

    // Version 3: prefix (id, channel id), 0xFF, version, the nine source parameters, black, white, gamma,
    // output low and high, point count, the points (x, y), brightness; 111 + 16n bytes. Version 2 lacks the
    // output levels (95 + 16n); the first layout has no marker and no version (92 + 16n). Other marked
    // versions are stepped over (23 bytes) and change nothing but the channel id.
    int WriteState(BYTE* buffer, int size) override;
    int ReadState(const BYTE* buffer, int size) override;
    const BYTE* GetStateId() override;

    bool IsHueChannel() const override { return false; }
    bool IsChromaChannel() const override { return false; }
    LONG GetPointCount() const override { return static_cast<LONG>(m_set.points.size()); }
    DWORD GetActiveMask(DWORD mask) const override;
    // Neutral levels; the points (0, 0) and (1, 1) when `second` is set, else none; the brightness 0 when
    // `first` is set. The outside table goes.
    void Reset(bool first, bool second) override;
    LONG TrackPosition(const LutGraphLayout& layout, LONG x, LONG y) override;
    LONG BeginTrack(const LutGraphLayout& layout, LONG x, LONG y) override;
    LONG EndTrack(const LutGraphLayout& layout) override;
    // A point in the first gap of at least 0.02 found walking back from the current point, else forward.
    LONG InsertPoint() override;
    // Only while three points or more are left.
    LONG DeletePoint() override;
    LONG RaisePoint(const LutGraphLayout& layout) override;
    LONG LowerPoint(const LutGraphLayout& layout) override;
    LONG MovePointLeft(const LutGraphLayout& layout) override;
    LONG MovePointRight(const LutGraphLayout& layout) override;
    LONG LowerBlack(const LutGraphLayout& layout);
    LONG RaiseBlack(const LutGraphLayout& layout);
    LONG LowerWhite(const LutGraphLayout& layout);
    LONG RaiseWhite(const LutGraphLayout& layout);
    // The current curve becomes the reference set.
    void SaveReference();
    // 1 with the point's position when the index names a point, else 0.
    int GetPoint(LONG index, double* x, double* y) const;
    // Moves the current point to (x, y) under the neighbour rules, both held to 0..1.
    LONG SetPoint(double x, double y);
    // Below 2: no limit on the number of points that can be added.
    void SetMaxPoints(LONG count) { m_maxPoints = count; }
    LONG GetMaxPoints() const { return m_maxPoints; }
    // Black, gamma, white, output levels, count, brightness and every point.
    int Compare(const CKvLutChannelBase& other) const override;
    std::unique_ptr<CKvLutChannelBase> Clone() const override;

    // Held to 0.05..20 (a value that is not a number gives 1).
    void SetGamma(double gamma);
    // The gamma that maps v to 0.5 on the black..white scale: ln v / ln 0.5 (1 for v = 0).
    void SetGammaFromMidpoint(double v);
    LutHandlePositions GetHandlePositions(const LutGraphLayout& layout) const;
    // Installs count entries of 1 or 2 bytes (unsigned) as fractions entry / (valueRange - 1), applied before
    // or after the curve under the outside-table flag. No table or a count of 1 or less installs nothing.
    // Returns 0, or 1 when memory ran out (the old table is gone either way).
    int SetInputTable(const void* table, int elementSize, LONG count, LONG valueRange, bool applyBefore);
    // Renders count entries over the input range 0..1: element sizes 1, 2 and 4 store
    // trunc(Z x (scale - 1) + 0.5), size 8 stores Z. Returns the count, or 0 for a missing table, a count
    // below 1 or another element size.
    int BuildTable(void* out, int elementSize, LONG count, LONG scale, DWORD flags, double outputGamma);
    // The slopes of the natural cubic spline through the points, in their working fields. Fewer than three
    // points have a straight line and need none.
    static void SolveSplineSlopes(std::vector<KvTonePoint>& points);

    double GetBlack() const { return m_set.black; }
    double GetWhite() const { return m_set.white; }
    double GetGamma() const { return m_set.gamma; }
    double GetOutputLow() const { return m_set.outputLow; }
    double GetOutputHigh() const { return m_set.outputHigh; }
    double GetBrightness() const { return m_brightness; }
    void SetBlack(double black);
    void SetWhite(double white);
    void SetOutputLevels(double low, double high);
    void SetBrightness(double brightness);
    const SourceParameters& GetSourceParameters() const { return m_source; }
    void SetSourceParameters(const SourceParameters& source) { m_source = source; }
    const std::vector<KvTonePoint>& GetPoints() const { return m_set.points; }
    // Takes the points as a record would give them (made finite, x held to 0..1, put in order).
    void SetPoints(std::vector<KvTonePoint> points);
    const KvToneSet& GetReference() const { return m_reference; }
    // The point the editor shows: the current one, or the one last pointed at; x is -1 for none.
    const KvTonePoint& GetDisplayPoint() const { return m_display; }
    LONG GetPendingCode() const { return m_pending; }

protected:
    void RefreshDisplay() override;

private:
    struct Pointer;
    Pointer Map(const LutGraphLayout& layout, LONG px, LONG py) const;
    LONG HitTest(const LutGraphLayout& layout, LONG px, LONG py);
    LONG Drag(const LutGraphLayout& layout, LONG px, LONG py);
    void DropTracking();
    bool HasCurrentPoint() const { return m_current >= 0 && m_current < GetPointCount(); }
    void CurveChanged();
    LONG ChangeAmount(double by);
    LONG Move(double to);
    // Steps 2 to 5 of a tone table for one input: normalisation, curve and gamma, contrast and brightness,
    // clamp and output levels.
    static double Render(KvToneSet& set, double x, DWORD flags, bool withContrast, double contrast,
                         double brightness);
    static double Curve(KvToneSet& set, double x, DWORD flags);

    SourceParameters m_source{};
    KvToneSet m_set;
    double m_brightness = 0;
    LONG m_maxPoints = 0;
    KvToneSet m_reference;
    std::vector<double> m_outsideTable;
    bool m_outsideBefore = false;

    LONG m_hit = -1;
    LONG m_pending = 0;
    KvTonePoint m_display{-1, 0};
};
