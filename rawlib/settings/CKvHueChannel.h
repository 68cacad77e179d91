// The hue channel: a hue shift as a function of hue, built of raised-cosine bumps on the hue circle and an
// overall level; it renders a table that maps a hue to a new hue.
#pragma once

#include "CKvBumpChannel.h"

class CKvHueChannel : public CKvBumpChannel {
public:
    static constexpr WORD kVersion = 2;

    explicit CKvHueChannel(CKvLutGroup* group = nullptr, LONG channelId = 0);
    CKvHueChannel(const CKvHueChannel& other) = default;
    CKvHueChannel& operator=(const CKvHueChannel& other);

    // Version 2: prefix (id, channel id), 0xFF, version, point count, the points (x, y, z), level, range
    // mode; 39 + 24n bytes. The first layout has no marker and no version (36 + 24n); other marked versions
    // are stepped over (23 bytes) and change nothing but the channel id.
    int WriteState(BYTE* buffer, int size) override;
    int ReadState(const BYTE* buffer, int size) override;
    const BYTE* GetStateId() override;

    bool IsHueChannel() const override { return true; }
    bool IsChromaChannel() const override { return false; }
    DWORD GetActiveMask(DWORD mask) const override;
    void Reset(bool first, bool second) override;
    // The range mode, held to 1..3; the amount entered with the pointer is scaled by mode / 3.
    LONG SetMode(LONG mode) override;
    // Level, count, range mode and every point.
    int Compare(const CKvLutChannelBase& other) const override;
    std::unique_ptr<CKvLutChannelBase> Clone() const override;

    // For j in 0..count-1 the new hue of hue j / count (the end of the circle is not sampled), in [0, 1):
    // fmod(x + (bumps - level) / 2, 1). Element sizes 1, 2 and 4 store trunc(scale x hue + 0.5) (a value of
    // `scale` wraps to 0, the same hue), size 8 the hue itself. Returns the count, or 0 for a missing table,
    // a count below 1 or another element size.
    int BuildTable(void* out, int elementSize, LONG count, LONG scale, DWORD flags);

    double GetLevel() const { return m_level; }
    void SetLevel(double level) { m_level = level; }
    LONG GetMode() const { return m_mode; }
    const std::vector<KvHuePoint>& GetPoints() const { return m_points; }
    // Takes the points as a record would give them (made finite, held to 0..1 and put in order).
    void SetPoints(std::vector<KvHuePoint> points);

protected:
    std::vector<KvHuePoint>& EditedPoints() override { return m_points; }
    const std::vector<KvHuePoint>& EditedPoints() const override { return m_points; }
    double GetCurrentLevel() const override { return m_level; }
    void SetCurrentLevel(double level) override { m_level = level; }
    const PravonRect& GetGraph(const LutGraphLayout& layout) const override { return layout.hueGraph; }
    double InsertedAmount(double y) const override { return y * m_mode / 3; }
    double DraggedAmount(double y) const override { return y * m_mode / 3; }
    LONG GetLevelHandleRow(const PravonRect& graph) const override;
    void DragLevel(double y, LONG py, const PravonRect& graph) override { m_level = y * m_mode / 3; }
    void AdvanceMode() override { m_mode = m_mode % 3 + 1; }

private:
    double m_level = 0;
    std::vector<KvHuePoint> m_points;
    LONG m_mode = 1;
};
