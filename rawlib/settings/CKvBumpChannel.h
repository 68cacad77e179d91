// What the hue and chroma channels share: a set of raised-cosine bumps on the hue circle that the host's
// curve editor edits point by point, a level, and a mode button. The kinds differ in how a pointer's height
// becomes an amount or a level, in their level handle and in their modes.
#pragma once

#include "CKvLutChannelBase.h"
#include "KvCurvePoints.h"

#include <vector>

class CKvBumpChannel : public CKvLutChannelBase {
public:
    LONG GetPointCount() const override { return static_cast<LONG>(EditedPoints().size()); }
    LONG TrackPosition(const LutGraphLayout& layout, LONG x, LONG y) override;
    LONG BeginTrack(const LutGraphLayout& layout, LONG x, LONG y) override;
    LONG EndTrack(const LutGraphLayout& layout) override;
    // A point midway across the first gap of at least 0.02 found walking back from the current point
    // around the circle; nothing when every gap is narrower.
    LONG InsertPoint() override;
    LONG DeletePoint() override;
    LONG RaisePoint(const LutGraphLayout& layout) override;
    LONG LowerPoint(const LutGraphLayout& layout) override;
    LONG MovePointLeft(const LutGraphLayout& layout) override;
    LONG MovePointRight(const LutGraphLayout& layout) override;
    LONG NarrowPoint(const LutGraphLayout& layout);
    LONG WidenPoint(const LutGraphLayout& layout);
    LONG RaiseLevel(const LutGraphLayout& layout);
    LONG LowerLevel(const LutGraphLayout& layout);
    virtual LONG SetMode(LONG mode) = 0;

    // The point the editor shows: the current one, or the one last pointed at; (-1, 0, -1) for none.
    const KvHuePoint& GetDisplayPoint() const { return m_display; }
    // The code of the edit being tracked; 0 when idle.
    LONG GetPendingCode() const { return m_pending; }

protected:
    CKvBumpChannel(CKvLutGroup* group, LONG channelId) : CKvLutChannelBase(group, channelId) {}
    // A copy starts with no tracking state.
    CKvBumpChannel(const CKvBumpChannel& other) : CKvLutChannelBase(other) { m_display = other.m_display; }
    CKvBumpChannel& operator=(const CKvBumpChannel& other);

    virtual std::vector<KvHuePoint>& EditedPoints() = 0;
    virtual const std::vector<KvHuePoint>& EditedPoints() const = 0;
    virtual double GetCurrentLevel() const = 0;
    virtual void SetCurrentLevel(double level) = 0;
    virtual const PravonRect& GetGraph(const LutGraphLayout& layout) const = 0;
    // The amount of a point inserted, or dragged, at pointer height y (-1..1).
    virtual double InsertedAmount(double y) const = 0;
    virtual double DraggedAmount(double y) const = 0;
    virtual LONG GetLevelHandleRow(const PravonRect& graph) const = 0;
    // The level follows a pointer at height y (row py) while the level handle is dragged.
    virtual void DragLevel(double y, LONG py, const PravonRect& graph) = 0;
    // A click on the mode button.
    virtual void AdvanceMode() = 0;

    void RefreshDisplay() override;
    void DropTracking();
    bool HasCurrentPoint() const { return m_current >= 0 && m_current < GetPointCount(); }

private:
    LONG HitTest(const LutGraphLayout& layout, LONG px, LONG py);
    LONG Drag(const LutGraphLayout& layout, LONG px, LONG py);
    LONG ChangeAmount(double by);
    LONG ChangeWidth(double by);
    LONG ChangeLevel(double by);
    LONG Move(double by);

    LONG m_hit = -1;
    LONG m_pending = 0;
    bool m_inserted = false;    // the point being dragged was inserted by this drag
    bool m_modePressed = false; // the pointer is on the mode button while it is dragged
    KvHuePoint m_display{-1, 0, -1};
};
