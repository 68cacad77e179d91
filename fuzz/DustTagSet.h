// The form in which the dust tuning fuzz target receives the tags of an image: after the mode byte, the
// camera-model code (16 bits, 0 for none), then records of a tag index byte (into kDustTags, modulo its
// size), a 16-bit length and that many value bytes. The corpus writer uses the same form.
#pragma once

#include "platform/quasel/CPravonTagControl.h"

#include <cstddef>
#include <vector>

namespace dustfuzz {

enum class DustTuningMode : BYTE { kReadVector = 0, kBuildFromTags = 1 };

struct DustTag {
    ULONG tag;
    LONG type;
};
// The tags the tuning is built from, and the analysis's threshold tag.
inline constexpr DustTag kDustTags[] = {{0x80004, 4}, {0x829D, 12}, {0x80098, 0x108}, {0x80002, 3},
                                        {0x8000C, 4}, {0xA302, 1},  {0x8008D, 4},     {0x80081, 3},
                                        {0x80097, 1}, {0x80006, 4}};
inline constexpr std::size_t kDustTagCount = sizeof kDustTags / sizeof kDustTags[0];

// Fills the tag control from the records; a record cut short ends the list.
inline void ReadTagSet(const BYTE* data, std::size_t size, CPravonTagControl* tags) {
    if (size < 2)
        return;
    const WORD model = static_cast<WORD>(data[0] | data[1] << 8);
    if (model != 0)
        tags->SetCameraModel(model);
    std::size_t at = 2;
    while (size - at >= 3) {
        const DustTag& tag = kDustTags[data[at] % kDustTagCount];
        const std::size_t length = static_cast<std::size_t>(data[at + 1] | data[at + 2] << 8);
        at += 3;
        if (length > size - at)
            return;
        if (IPravonError* e = tags->WriteTag(tag.tag, tag.type, static_cast<ULONG>(length), data + at))
            e->Release();
        at += length;
    }
}

inline void AppendTag(std::vector<BYTE>& out, BYTE index, const std::vector<BYTE>& value) {
    out.push_back(index);
    out.push_back(static_cast<BYTE>(value.size()));
    out.push_back(static_cast<BYTE>(value.size() >> 8));
    out.insert(out.end(), value.begin(), value.end());
}

} // namespace dustfuzz
