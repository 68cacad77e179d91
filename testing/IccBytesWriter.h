// Writes ICC profile bytes by hand, field by field, for the cases a library would never write: colorants
// a chosen number of units apart, sampled curves, table tags, lying tag counts and cut-off files. The
// default profile is a complete matrix/curve RGB profile (D50-adapted sRGB primaries, gamma 2.2) that
// lcms2 also accepts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kvtest {

class IccBytesWriter {
public:
    // s15Fixed16 values of the default profile.
    static constexpr std::int32_t kRed[3] = {0x6FA2, 0x38F5, 0x0390};
    static constexpr std::int32_t kGreen[3] = {0x6299, 0xB785, 0x18DA};
    static constexpr std::int32_t kBlue[3] = {0x24A0, 0x0F84, 0xB6CF};
    static constexpr std::int32_t kWhite[3] = {0xF6D6, 0x10000, 0xD32D};
    static constexpr std::uint16_t kGamma22 = 0x0233; // u8Fixed8

    // A matrix/curve RGB profile; with bare set, only the header and no tags.
    explicit IccBytesWriter(bool bare = false);

    IccBytesWriter& ColorSpace(const std::string& signature);
    // Replaces the tag of that signature or appends it; tags are written in the order first given.
    IccBytesWriter& Xyz(const std::string& signature, const std::int32_t (&xyz)[3]);
    IccBytesWriter& Gamma(const std::string& signature, std::uint16_t gamma);
    IccBytesWriter& SampledCurve(const std::string& signature, std::uint32_t entries);
    IccBytesWriter& Tag(const std::string& signature, std::vector<std::uint8_t> data);
    IccBytesWriter& Remove(const std::string& signature);
    // The tag count written at byte 128, instead of the real one.
    IccBytesWriter& DeclareTagCount(std::uint32_t count);

    std::vector<std::uint8_t> Bytes() const;

private:
    struct TagData {
        std::string signature;
        std::vector<std::uint8_t> data;
    };
    std::string m_colorSpace = "RGB ";
    std::vector<TagData> m_tags;
    bool m_declaredCount = false;
    std::uint32_t m_count = 0;
};

} // namespace kvtest
