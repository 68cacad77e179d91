// The container of LUT channels that the settings keep for each curve adjustment (a group of tone
// channels, or an LCh group of a tone channel, a lightness channel, a chroma and a hue channel): it owns the
// channels, keeps a current one for the curve editor and a group-wide contrast, and stores itself with all
// its channels as one record.
#pragma once

#include "CKvChromaChannel.h"
#include "CKvHueChannel.h"
#include "CKvLutChannel.h"
#include "IKvState.h"

#include <memory>
#include <vector>

class CKvLutGroup : public IKvState {
public:
    static constexpr BYTE kVersion = 4;
    // The kind that marks an LCh group for the reader's compatibility rules.
    static constexpr BYTE kLchKind = 3;

    // One tone channel with id 0, current; kind 1; contrasts 0.
    CKvLutGroup();
    // A full copy, kind included.
    CKvLutGroup(const CKvLutGroup& other);
    // Copy: the kind stays this group's.
    CKvLutGroup& operator=(const CKvLutGroup& other);
    ~CKvLutGroup() override;

    // Version 4: id, 0xFF, version (8-bit), length, kind, channel count (8-bit), current index, contrast,
    // then the channel records; 33 bytes plus the channels'. A channel that does not fit whole into the
    // given size is left out. The reader also takes the first layout and versions 2 and 3; a record that
    // cannot be read whole (a channel cut or of no known kind, a later version) gives 0 and changes nothing.
    int WriteState(BYTE* buffer, int size) override;
    int ReadState(const BYTE* buffer, int size) override;
    const BYTE* GetStateId() override;

    // The active-mask bits of every channel, within `mask`.
    virtual DWORD GetActiveMask(DWORD mask) const;
    virtual void SetKind(BYTE kind) { m_kind = kind; }
    virtual BYTE GetKind() const { return m_kind; }
    bool IsNeutral() const { return GetActiveMask(0xFFFFFFFF) == 0; }

    // -1 names the current channel; null when there is no such channel.
    CKvLutChannelBase* GetChannelAt(LONG index) const;
    CKvLutChannelBase* FindChannel(LONG channelId) const;
    // Makes the first channel with that id current (-1 keeps the current one); false when there is none.
    bool SelectChannel(LONG channelId);
    // Each makes a channel of this group, appends it (it becomes current when none is) and returns it;
    // null, with the group unchanged, when memory runs out.
    CKvHueChannel* AddHueChannel(LONG channelId);
    CKvLutChannel* AddLutChannel(LONG channelId, const CKvLutChannel::SourceParameters& source = {});
    // With a source, the source's current set becomes the new channel's calibration set.
    CKvChromaChannel* AddChromaChannel(LONG channelId, const CKvChromaChannel* source = nullptr);
    // Every channel is reset with (flag, true); with the flag the contrast becomes 0 too.
    void ResetAll(bool flag);
    // Deletes every channel but the first, which becomes current.
    void RemoveExtraChannels();
    // Deep copies of the other's channels (belonging to this group), its current index, flag byte and
    // both contrasts; the kind stays. False, with this group unchanged, when memory runs out.
    bool Copy(const CKvLutGroup& other);

    LONG GetChannelCount() const { return static_cast<LONG>(m_channels.size()); }
    LONG GetCurrentIndex() const { return m_current; }
    double GetContrast() const { return m_contrast; }
    void SetContrast(double contrast) { m_contrast = contrast; }
    double GetReferenceContrast() const { return m_referenceContrast; }
    void SetReferenceContrast(double contrast) { m_referenceContrast = contrast; }
    BYTE GetFlag() const { return m_flag; }
    void SetFlag(BYTE flag) { m_flag = flag; }

private:
    using Channels = std::vector<std::unique_ptr<CKvLutChannelBase>>;

    // Appends a channel of this group; it becomes current when none is. Null when memory runs out.
    template <class T>
    T* Append(std::unique_ptr<T> channel);

    Channels m_channels;
    LONG m_current = 0;
    BYTE m_kind = 1;
    BYTE m_flag = 0;
    double m_contrast = 0;
    double m_referenceContrast = 0;
};
