#include "IccBytesWriter.h"

namespace kvtest {
namespace {

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

void PutText(std::vector<std::uint8_t>& out, const std::string& four) {
    out.insert(out.end(), four.begin(), four.end());
}

void Set32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

} // namespace

IccBytesWriter::IccBytesWriter(bool bare) {
    if (bare)
        return;
    Xyz("rXYZ", kRed).Xyz("gXYZ", kGreen).Xyz("bXYZ", kBlue).Xyz("wtpt", kWhite);
    Gamma("rTRC", kGamma22).Gamma("gTRC", kGamma22).Gamma("bTRC", kGamma22);
}

IccBytesWriter& IccBytesWriter::ColorSpace(const std::string& signature) {
    m_colorSpace = signature;
    return *this;
}

IccBytesWriter& IccBytesWriter::Xyz(const std::string& signature, const std::int32_t (&xyz)[3]) {
    std::vector<std::uint8_t> data;
    PutText(data, "XYZ ");
    Put32(data, 0);
    for (std::int32_t v : xyz)
        Put32(data, static_cast<std::uint32_t>(v));
    return Tag(signature, std::move(data));
}

IccBytesWriter& IccBytesWriter::Gamma(const std::string& signature, std::uint16_t gamma) {
    std::vector<std::uint8_t> data;
    PutText(data, "curv");
    Put32(data, 0);
    Put32(data, 1);
    Put16(data, gamma);
    return Tag(signature, std::move(data));
}

IccBytesWriter& IccBytesWriter::SampledCurve(const std::string& signature, std::uint32_t entries) {
    std::vector<std::uint8_t> data;
    PutText(data, "curv");
    Put32(data, 0);
    Put32(data, entries);
    for (std::uint32_t i = 0; i < entries; ++i)
        Put16(data, static_cast<std::uint16_t>(entries > 1 ? i * 65535u / (entries - 1) : 0));
    return Tag(signature, std::move(data));
}

IccBytesWriter& IccBytesWriter::Tag(const std::string& signature, std::vector<std::uint8_t> data) {
    for (TagData& tag : m_tags) {
        if (tag.signature == signature) {
            tag.data = std::move(data);
            return *this;
        }
    }
    m_tags.push_back(TagData{signature, std::move(data)});
    return *this;
}

IccBytesWriter& IccBytesWriter::Remove(const std::string& signature) {
    std::erase_if(m_tags, [&](const TagData& tag) { return tag.signature == signature; });
    return *this;
}

IccBytesWriter& IccBytesWriter::DeclareTagCount(std::uint32_t count) {
    m_declaredCount = true;
    m_count = count;
    return *this;
}

std::vector<std::uint8_t> IccBytesWriter::Bytes() const {
    std::vector<std::uint8_t> out;
    Put32(out, 0);          // size, set below
    PutText(out, "none");   // preferred module
    Put32(out, 0x02100000); // version 2.1
    PutText(out, "mntr");
    PutText(out, m_colorSpace);
    PutText(out, "XYZ ");
    out.resize(36, 0); // creation date
    PutText(out, "acsp");
    out.resize(64, 0); // platform, flags, maker, model, attributes
    Put32(out, 0);     // rendering intent
    for (std::int32_t v : kWhite)
        Put32(out, static_cast<std::uint32_t>(v));
    out.resize(128, 0);

    Put32(out, m_declaredCount ? m_count : static_cast<std::uint32_t>(m_tags.size()));
    std::size_t offset = 128 + 4 + 12 * m_tags.size();
    for (const TagData& tag : m_tags) {
        PutText(out, tag.signature);
        Put32(out, static_cast<std::uint32_t>(offset));
        Put32(out, static_cast<std::uint32_t>(tag.data.size()));
        offset += (tag.data.size() + 3) & ~std::size_t(3);
    }
    for (const TagData& tag : m_tags) {
        out.insert(out.end(), tag.data.begin(), tag.data.end());
        out.resize((out.size() + 3) & ~std::size_t(3), 0);
    }
    Set32(out, 0, static_cast<std::uint32_t>(out.size()));
    return out;
}

} // namespace kvtest
