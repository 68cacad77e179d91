// The chroma channel: a chroma gain as a function of hue, built of raised-cosine bumps like the hue
// channel. It carries two point sets with a level each: the edited set, and the calibration set that an
// LCh calibration file fills. The set selector says which of them is current (1: the edited set).
#pragma once

#include "CKvBumpChannel.h"

class CKvChromaChannel : public CKvBumpChannel {
public:
    static constexpr WORD kVersion = 1;

    explicit CKvChromaChannel(CKvLutGroup* group = nullptr, LONG channelId = 0);
    CKvChromaChannel(const CKvChromaChannel& other) = default;
    CKvChromaChannel& operator=(const CKvChromaChannel& other);

    // Version 1: prefix (id, channel id), version, point count (16-bit), the current set's points, level
    // A, and one byte that readers ignore (written as 0); 33 + 24n bytes. A read fills the current set and
    // level A and keeps the other set. Other versions are stepped over (23 bytes) and change nothing but
    // the channel id.
    int WriteState(BYTE* buffer, int size) override;
    int ReadState(const BYTE* buffer, int size) override;
    const BYTE* GetStateId() override;

    bool IsHueChannel() const override { return false; }
    bool IsChromaChannel() const override { return true; }
    DWORD GetActiveMask(DWORD mask) const override;
    // Drops the edited points and sets the current set's level to 0; with `second` also drops the
    // calibration set and sets both levels to 0.
    void Reset(bool first, bool second) override;
    // Sets the scale mode back to 1.
    LONG SetMode(LONG mode) override;
    // Level A, count, scale mode and every edited point.
    int Compare(const CKvLutChannelBase& other) const override;
    std::unique_ptr<CKvLutChannelBase> Clone() const override;

    // Renders a chroma table over the hue circle (entry j at hue j / count): the gain
    // k = level + bumps + 1 held to 0..2 - 1/scale, stored as trunc(scale x k / 2) (so 1.0 is scale / 2) for
    // element sizes 1, 2 and 4 and as k for size 8. The edited set with level A is rendered when `fill`
    // equals the set selector, else the calibration set with level B (level A whenever fill is not 0).
    // With fill 0 and the render flag 1 the table is filled with fill bytes instead. Returns the count
    // rendered (0 for a missing table, a count below 1 or another element size) or the fill value.
    int RenderChannelBitmap(int fill, void* out, int elementSize, LONG count, LONG scale, DWORD flags);
    // The other channel's current set and its level become this channel's calibration set and level B.
    void CopyCalibrationSet(const CKvChromaChannel& other);

    LONG GetSetSelector() const { return m_selector; }
    const std::vector<KvHuePoint>& GetEditedPoints() const { return m_edited; }
    const std::vector<KvHuePoint>& GetCalibrationPoints() const { return m_calibration; }
    double GetLevelA() const { return m_levelA; }
    double GetLevelB() const { return m_levelB; }
    void SetLevelA(double level) { m_levelA = level; }
    LONG GetScaleMode() const { return m_scaleMode; }
    // Each takes points as a record would give them (made finite, held to 0..1 and put in order).
    void SetEditedPoints(std::vector<KvHuePoint> points);
    // The calibration set as a calibration file gives it; the tracking state goes.
    void SetCalibration(std::vector<KvHuePoint> points, double level);

protected:
    std::vector<KvHuePoint>& EditedPoints() override { return m_edited; }
    const std::vector<KvHuePoint>& EditedPoints() const override { return m_edited; }
    double GetCurrentLevel() const override { return m_selector == 1 ? m_levelA : m_levelB; }
    void SetCurrentLevel(double level) override { (m_selector == 1 ? m_levelA : m_levelB) = level; }
    const PravonRect& GetGraph(const LutGraphLayout& layout) const override { return layout.chromaGraph; }
    double InsertedAmount(double y) const override;
    double DraggedAmount(double y) const override;
    LONG GetLevelHandleRow(const PravonRect& graph) const override;
    void DragLevel(double y, LONG py, const PravonRect& graph) override;
    void AdvanceMode() override { m_scaleMode = m_scaleMode == 1 ? 2 : 1; }

private:
    std::vector<KvHuePoint>& CurrentSet() { return m_selector == 1 ? m_edited : m_calibration; }
    const std::vector<KvHuePoint>& CurrentSet() const { return m_selector == 1 ? m_edited : m_calibration; }

    LONG m_selector = 1;
    std::vector<KvHuePoint> m_edited;
    double m_levelA = 0;
    std::vector<KvHuePoint> m_calibration;
    double m_levelB = 0;
    LONG m_scaleMode = 1;
    LONG m_renderFlag = 0;
};
