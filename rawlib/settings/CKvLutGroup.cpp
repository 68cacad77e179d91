#include "CKvLutGroup.h"

#include "KvLutRecordCursor.h"
#include "KvLutTables.h"
#include "KvStateIds.h"

#include <new>
#include <utility>

namespace {

enum class ChannelKind { kTone, kHue, kChroma };

ChannelKind KindOf(const CKvLutChannelBase& channel) {
    return channel.IsHueChannel()      ? ChannelKind::kHue
           : channel.IsChromaChannel() ? ChannelKind::kChroma
                                       : ChannelKind::kTone;
}

// A new channel of the kind whose record starts at `bytes` (16 bytes present); null for no known kind.
std::unique_ptr<CKvLutChannelBase> ChannelFor(const BYTE* bytes, CKvLutGroup* group) {
    if (KvStateIds::kToneChannel.Matches(bytes))
        return std::make_unique<CKvLutChannel>(group, -1);
    if (KvStateIds::kHueChannel.Matches(bytes))
        return std::make_unique<CKvHueChannel>(group, -1);
    if (KvStateIds::kChromaChannel.Matches(bytes))
        return std::make_unique<CKvChromaChannel>(group, -1);
    return nullptr;
}

} // namespace

CKvLutGroup::CKvLutGroup() {
    m_channels.push_back(std::make_unique<CKvLutChannel>(this, 0));
}

CKvLutGroup::CKvLutGroup(const CKvLutGroup& other) : IKvState(), m_current(-1), m_kind(other.m_kind) {
    Copy(other);
}

CKvLutGroup& CKvLutGroup::operator=(const CKvLutGroup& other) {
    Copy(other);
    return *this;
}

CKvLutGroup::~CKvLutGroup() = default;

const BYTE* CKvLutGroup::GetStateId() {
    return KvStateIds::kLutGroup.Data();
}

bool CKvLutGroup::Copy(const CKvLutGroup& other) {
    if (this == &other)
        return true;
    Channels copies;
    try {
        copies.reserve(other.m_channels.size());
        for (const auto& channel : other.m_channels) {
            std::unique_ptr<CKvLutChannelBase> copy = channel->Clone();
            copy->SetGroup(this);
            copies.push_back(std::move(copy));
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    m_channels = std::move(copies);
    m_current = other.m_current;
    m_flag = other.m_flag;
    m_contrast = other.m_contrast;
    m_referenceContrast = other.m_referenceContrast;
    return true;
}

template <class T>
T* CKvLutGroup::Append(std::unique_ptr<T> channel) {
    T* added = channel.get();
    try {
        m_channels.push_back(std::move(channel));
    } catch (const std::bad_alloc&) {
        return nullptr; // the channel goes with its owner
    }
    if (m_current == -1)
        m_current = GetChannelCount() - 1;
    return added;
}

CKvHueChannel* CKvLutGroup::AddHueChannel(LONG channelId) {
    try {
        return Append(std::make_unique<CKvHueChannel>(this, channelId));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

CKvLutChannel* CKvLutGroup::AddLutChannel(LONG channelId, const CKvLutChannel::SourceParameters& source) {
    try {
        return Append(std::make_unique<CKvLutChannel>(this, channelId, source));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

CKvChromaChannel* CKvLutGroup::AddChromaChannel(LONG channelId, const CKvChromaChannel* source) {
    try {
        auto channel = std::make_unique<CKvChromaChannel>(this, channelId);
        if (source)
            channel->CopyCalibrationSet(*source);
        return Append(std::move(channel));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

CKvLutChannelBase* CKvLutGroup::GetChannelAt(LONG index) const {
    if (index == -1)
        index = m_current;
    if (index < 0 || index >= GetChannelCount())
        return nullptr;
    return m_channels[static_cast<std::size_t>(index)].get();
}

CKvLutChannelBase* CKvLutGroup::FindChannel(LONG channelId) const {
    if (channelId == -1)
        return GetChannelAt(-1);
    for (const auto& channel : m_channels)
        if (channel->GetChannelId() == channelId)
            return channel.get();
    return nullptr;
}

bool CKvLutGroup::SelectChannel(LONG channelId) {
    if (channelId == -1)
        return GetChannelAt(-1) != nullptr;
    for (LONG i = 0; i < GetChannelCount(); ++i) {
        if (m_channels[static_cast<std::size_t>(i)]->GetChannelId() == channelId) {
            m_current = i;
            return true;
        }
    }
    return false;
}

DWORD CKvLutGroup::GetActiveMask(DWORD mask) const {
    DWORD active = 0;
    for (const auto& channel : m_channels)
        active |= channel->GetActiveMask(mask);
    return active & mask;
}

void CKvLutGroup::ResetAll(bool flag) {
    if (flag)
        m_contrast = 0;
    for (const auto& channel : m_channels)
        channel->Reset(flag, true);
}

void CKvLutGroup::RemoveExtraChannels() {
    if (m_channels.empty())
        return;
    m_channels.resize(1);
    m_current = 0;
}

int CKvLutGroup::WriteState(BYTE* buffer, int size) {
    // The count is one byte: a group that ever held more keeps its first 255 channels in the record.
    const std::size_t count = std::min<std::size_t>(m_channels.size(), 255);
    CKvLutRecordWriter w(buffer, size);
    w.PutBytes(KvStateIds::kLutGroup.Data(), 16);
    w.PutU8(0xFF);
    w.PutU8(kVersion);
    w.Skip(4); // the length, filled in last
    w.PutU8(m_kind);
    w.PutU8(static_cast<BYTE>(count));
    w.PutU8(static_cast<BYTE>(m_current));
    w.PutF64(m_contrast);
    for (std::size_t i = 0; i < count; ++i)
        w.PutRecord(*m_channels[i]);
    if (w.GetLastEnd() > 22)
        w.PatchU32(18, static_cast<DWORD>(w.GetLastEnd() - 18));
    return w.GetResult();
}

int CKvLutGroup::ReadState(const BYTE* buffer, int size) {
    if (!buffer || size < 16 || !KvStateIds::kLutGroup.Matches(buffer))
        return 0;
    // The header: the first layout has no marker and no version (a marker followed by version 0 or 1 is
    // read as the first layout too), version 2 one byte of kind before the count, versions 3 and 4 a
    // length and the kind.
    int version = 0;
    BYTE kind = m_kind;
    std::int64_t at = 16;
    if (size >= 18 && buffer[16] == 0xFF && buffer[17] >= 2) {
        version = buffer[17];
        if (version > kVersion)
            return 0;
        if (version == 2) {
            if (size < 19)
                return 0;
            if (buffer[18] >= 1 && buffer[18] <= 3)
                kind = buffer[18];
            at = 19;
        } else {
            if (size < 23)
                return 0;
            kind = buffer[22];
            at = 23;
        }
    }
    CKvLutRecordReader r(buffer, size, at);
    BYTE count = 0, current = 0;
    double contrast = 0;
    if (!r.GetU8(count) || !r.GetU8(current) || !r.GetF64(contrast))
        return 0;

    Channels read;
    std::vector<std::pair<std::int64_t, int>> extents; // where each channel's record lies
    try {
        for (int i = 0; i < count; ++i) {
            const std::uint64_t remaining = r.GetRemaining();
            if (remaining < 16)
                return 0;
            std::unique_ptr<CKvLutChannelBase> channel = ChannelFor(r.Here(), this);
            if (!channel)
                return 0;
            const int available = KvSaturatedSize(remaining);
            const int consumed = channel->ReadState(r.Here(), available);
            if (consumed <= 0 || consumed > available)
                return 0;
            extents.emplace_back(r.GetPosition(), consumed);
            r.Skip(static_cast<std::uint64_t>(consumed));
            read.push_back(std::move(channel));
        }

        // LCh groups of older records: their third channel is replaced by an empty chroma channel, and a
        // hue channel stored before the chroma channel changes places with it.
        int replaced = -1;
        bool swapped = false;
        if (kind == kLchKind && version <= 3 && read.size() >= 3) {
            auto chroma = std::make_unique<CKvChromaChannel>(this, read[2]->GetChannelId());
            read[2] = std::move(chroma);
            replaced = 2;
        }
        if (kind == kLchKind && read.size() > 3 && read[2]->IsHueChannel() && read[3]->IsChromaChannel()) {
            std::swap(read[2], read[3]);
            std::swap(extents[2], extents[3]);
            swapped = true;
        }

        bool same = m_channels.size() == read.size();
        for (std::size_t i = 0; same && i < read.size(); ++i)
            same = KindOf(*m_channels[i]) == KindOf(*read[i]);
        if (same) {
            // The group keeps its channel objects (and what their records do not hold, such as a chroma
            // channel's calibration set); each reads its record again within the extent found above.
            for (std::size_t i = 0; i < read.size(); ++i) {
                if (static_cast<int>(i) == replaced)
                    m_channels[i]->Reset(false, false);
                else
                    m_channels[i]->ReadState(buffer + extents[i].first, extents[i].second);
            }
        } else {
            m_channels = std::move(read);
        }
        if (swapped) {
            m_channels[2]->SetChannelId(2);
            m_channels[3]->SetChannelId(3);
        }
    } catch (const std::bad_alloc&) {
        return 0;
    }

    m_current = count == 0 ? -1 : current < count ? current : 0;
    m_contrast = KvFinite(contrast, 0);
    m_kind = kind;
    if (version < 3) {
        const DWORD active = GetActiveMask(0xFFFFFFFF);
        if ((active & 0x01) && !(active & 0x02))
            m_kind = 2;
    }
    return KvSaturatedSize(static_cast<std::uint64_t>(r.GetPosition()));
}
