// One editable curve of the development settings (tone, hue or chroma), owned by a LUT group to which it
// points back. The host's curve editor drives it through the point-editing and tracking operations, each
// of which returns what it changed as one of the codes below (0 when nothing changed).
#pragma once

#include "IKvState.h"
#include "LutGraphLayout.h"

#include <memory>

class CKvLutGroup;

// Active-mask bits and change codes of the channels; also the results of hit tests and tracking.
namespace LutCode {
constexpr LONG kEmptyPlace = 0x01;  // hit test: inside the graph, away from every point
constexpr LONG kCurve = 0x03;       // active: the curve differs from identity (both bits together)
constexpr LONG kOtherPoint = 0x02;  // hit test: a point that is not the current one
constexpr LONG kPoints = 0x04;      // the points changed; hit test: the current point
constexpr LONG kBlack = 0x10;       // tone black point
constexpr LONG kGamma = 0x20;       // tone gamma
constexpr LONG kWhite = 0x40;       // tone white point
constexpr LONG kLevel = 0x80;       // hue or chroma level
constexpr LONG kWidth = 0x100;      // a point's width
constexpr LONG kMode = 0x200;       // the range or scale mode
constexpr LONG kOutputLow = 0x400;  // tone output low
constexpr LONG kOutputHigh = 0x800; // tone output high
} // namespace LutCode

class CKvLutChannelBase : public IKvState {
public:
    ~CKvLutChannelBase() override = default;

    CKvLutGroup* GetGroup() const { return m_group; }
    void SetGroup(CKvLutGroup* group) { m_group = group; }
    LONG GetChannelId() const { return m_channelId; }
    void SetChannelId(LONG id) { m_channelId = id; }
    // The current point's index; -1 when there is none.
    LONG GetCurrentPoint() const { return m_current; }
    // Something the editor shows changed since the flag was last cleared.
    bool IsDirty() const { return m_dirty; }
    void ClearDirty() { m_dirty = false; }

    virtual bool IsHueChannel() const = 0;
    virtual bool IsChromaChannel() const = 0;
    virtual LONG GetPointCount() const = 0;
    // The active-mask bits of this channel that are also in `mask`.
    virtual DWORD GetActiveMask(DWORD mask) const = 0;
    virtual void Reset(bool first, bool second) = 0;
    // Idle: what the pointer is over (a hit-test code). While tracking: applies the pointer to what is
    // being dragged and returns the pending code.
    virtual LONG TrackPosition(const LutGraphLayout& layout, LONG x, LONG y) = 0;
    virtual LONG BeginTrack(const LutGraphLayout& layout, LONG x, LONG y) = 0;
    virtual LONG EndTrack(const LutGraphLayout& layout) = 0;
    virtual LONG InsertPoint() = 0;
    virtual LONG DeletePoint() = 0;
    // The next or previous point becomes current, held at the ends.
    virtual LONG SelectNextPoint();
    virtual LONG SelectPreviousPoint();
    virtual LONG RaisePoint(const LutGraphLayout& layout) = 0;
    virtual LONG LowerPoint(const LutGraphLayout& layout) = 0;
    virtual LONG MovePointLeft(const LutGraphLayout& layout) = 0;
    virtual LONG MovePointRight(const LutGraphLayout& layout) = 0;
    // 1 in the low byte when the other channel is of this kind and holds the same curve, else 0.
    virtual int Compare(const CKvLutChannelBase& other) const = 0;
    // A deep copy of this channel's kind (its tracking state empty), belonging to the same group.
    virtual std::unique_ptr<CKvLutChannelBase> Clone() const = 0;

protected:
    CKvLutChannelBase(CKvLutGroup* group, LONG channelId) : m_group(group), m_channelId(channelId) {}
    CKvLutChannelBase(const CKvLutChannelBase& other) = default;
    // Keeps this channel's group: a channel belongs to the group that made it.
    CKvLutChannelBase& operator=(const CKvLutChannelBase& other);

    // Brings the editor's copy of the current point up to date after a change.
    virtual void RefreshDisplay() = 0;
    // Marks the channel changed and refreshes the display copy.
    void Touch();
    // The channel id from a record prefix (id at 0, channel id at 16) when the record holds it.
    void ReadChannelId(const BYTE* buffer, int size);

    CKvLutGroup* m_group;
    LONG m_channelId;
    LONG m_current = -1;
    bool m_dirty = true;
};
