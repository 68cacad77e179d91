#include "DngWriter.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace kvtest {

namespace {

enum Type : std::uint16_t { kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kRational = 5, kSRational = 10 };
constexpr std::int32_t kDenominator = 10000;
constexpr std::uint16_t kPhotometricCfa = 32803;
constexpr std::uint16_t kPhotometricLinearRaw = 34892;
constexpr std::uint16_t kExifIfdTag = 34665;
constexpr std::uint16_t kIsoTag = 34855;

struct Entry {
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    std::vector<std::uint8_t> bytes; // the values, little-endian
};

class Bytes {
public:
    void U16(std::uint16_t v) { Push(v, 2); }
    void U32(std::uint32_t v) { Push(v, 4); }
    void Push(std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i)
            data.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    std::vector<std::uint8_t> data;
};

Entry Shorts(std::initializer_list<std::uint16_t> values) {
    Bytes b;
    for (auto v : values)
        b.U16(v);
    return {kShort, static_cast<std::uint32_t>(values.size()), b.data};
}

Entry Longs(std::initializer_list<std::uint32_t> values) {
    Bytes b;
    for (auto v : values)
        b.U32(v);
    return {kLong, static_cast<std::uint32_t>(values.size()), b.data};
}

Entry ByteValues(const std::vector<std::uint8_t>& values) {
    return {kByte, static_cast<std::uint32_t>(values.size()), values};
}

Entry Text(const std::string& text) {
    std::vector<std::uint8_t> b(text.begin(), text.end());
    b.push_back(0);
    return {kAscii, static_cast<std::uint32_t>(b.size()), b};
}

Entry Rationals(const std::vector<double>& values, bool signedValues) {
    Bytes b;
    for (double v : values) {
        b.U32(static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(v * kDenominator))));
        b.U32(kDenominator);
    }
    return {signedValues ? kSRational : kRational, static_cast<std::uint32_t>(values.size()), b.data};
}

// One directory at `at`, its larger values placed from `values` on; returns the end of those values.
std::size_t PlaceDirectory(const std::map<std::uint16_t, Entry>& entries, std::size_t at,
                           std::vector<std::uint8_t>* file, std::size_t values) {
    Bytes dir;
    dir.U16(static_cast<std::uint16_t>(entries.size()));
    std::vector<std::uint8_t> extra;
    for (const auto& [tag, e] : entries) {
        dir.U16(tag);
        dir.U16(e.type);
        dir.U32(e.count);
        if (e.bytes.size() <= 4) {
            std::vector<std::uint8_t> inline4 = e.bytes;
            inline4.resize(4, 0);
            dir.data.insert(dir.data.end(), inline4.begin(), inline4.end());
        } else {
            dir.U32(static_cast<std::uint32_t>(values + extra.size()));
            extra.insert(extra.end(), e.bytes.begin(), e.bytes.end());
            if (extra.size() % 2)
                extra.push_back(0);
        }
    }
    dir.U32(0);
    std::copy(dir.data.begin(), dir.data.end(), file->begin() + static_cast<std::ptrdiff_t>(at));
    std::copy(extra.begin(), extra.end(), file->begin() + static_cast<std::ptrdiff_t>(values));
    return values + extra.size();
}

std::size_t DirectoryBytes(std::size_t count) {
    return 2 + 12 * count + 4;
}

std::size_t ValueBytes(const std::map<std::uint16_t, Entry>& entries) {
    std::size_t n = 0;
    for (const auto& [tag, e] : entries)
        if (e.bytes.size() > 4)
            n += e.bytes.size() + e.bytes.size() % 2;
    return n;
}

} // namespace

DngFile WriteDng(const DngContent& content) {
    const bool mosaic = content.channels == 1;
    const std::uint32_t dataBytes = content.width * content.height * content.channels * 2;
    std::map<std::uint16_t, Entry> main;
    main[254] = Longs({0});
    main[256] = Longs({content.width});
    main[257] = Longs({content.height});
    main[258] = mosaic ? Shorts({16}) : Shorts({16, 16, 16});
    main[259] = Shorts({1});
    main[262] = Shorts({mosaic ? kPhotometricCfa : kPhotometricLinearRaw});
    main[271] = Text(content.make);
    main[272] = Text(content.model);
    main[273] = Longs({0}); // placed below
    main[274] = Shorts({content.orientation});
    main[277] = Shorts({static_cast<std::uint16_t>(content.channels)});
    main[278] = Longs({content.height});
    main[279] = Longs({dataBytes});
    main[284] = Shorts({1});
    if (mosaic) {
        main[33421] = Shorts({2, 2});
        std::vector<std::uint8_t> cells;
        for (char c : content.pattern)
            cells.push_back(static_cast<std::uint8_t>(c == 'R' ? 0 : c == 'G' ? 1 : 2));
        main[33422] = ByteValues(cells);
        main[50710] = ByteValues({0, 1, 2});
        main[50711] = Shorts({1});
    }
    main[33434] = Rationals({content.exposureTime}, false);
    main[33437] = Rationals({content.fNumber}, false);
    main[kExifIfdTag] = Longs({0}); // placed below
    main[50706] = ByteValues({1, 4, 0, 0});
    main[50707] = ByteValues({1, 1, 0, 0});
    main[50708] = Text(content.make + " " + content.model);
    main[50714] = Longs({content.black});
    main[50717] = Longs({content.white});
    static constexpr std::uint16_t kColorMatrixTags[2] = {50721, 50722};
    static constexpr std::uint16_t kIlluminantTags[2] = {50778, 50779};
    static constexpr std::uint16_t kForwardMatrixTags[2] = {50964, 50965};
    for (std::size_t i = 0; i < content.calibrations.size() && i < 2; ++i) {
        const DngCalibration& c = content.calibrations[i];
        main[kColorMatrixTags[i]] =
            Rationals(std::vector<double>(c.colorMatrix.begin(), c.colorMatrix.end()), true);
        main[kIlluminantTags[i]] = Shorts({c.illuminant});
        if (c.hasForwardMatrix)
            main[kForwardMatrixTags[i]] =
                Rationals(std::vector<double>(c.forwardMatrix.begin(), c.forwardMatrix.end()), true);
    }
    if (content.hasAsShotNeutral)
        main[50728] = Rationals({content.asShotNeutral[0], content.asShotNeutral[1], content.asShotNeutral[2]}, false);
    std::map<std::uint16_t, Entry> exif;
    exif[kIsoTag] = Shorts({content.iso});

    const std::size_t mainAt = 8;
    const std::size_t mainValues = mainAt + DirectoryBytes(main.size());
    const std::size_t exifAt = mainValues + ValueBytes(main);
    const std::size_t exifValues = exifAt + DirectoryBytes(exif.size());
    const std::size_t dataAt = exifValues + ValueBytes(exif);
    main[273] = Longs({static_cast<std::uint32_t>(dataAt)});
    main[kExifIfdTag] = Longs({static_cast<std::uint32_t>(exifAt)});

    DngFile out;
    out.bytes.assign(dataAt + dataBytes, 0);
    const std::uint8_t header[8] = {'I', 'I', 42, 0, static_cast<std::uint8_t>(mainAt), 0, 0, 0};
    std::copy(header, header + 8, out.bytes.begin());
    PlaceDirectory(main, mainAt, &out.bytes, mainValues);
    PlaceDirectory(exif, exifAt, &out.bytes, exifValues);
    for (std::size_t i = 0; i < content.samples.size() && 2 * i + 1 < dataBytes; ++i) {
        out.bytes[dataAt + 2 * i] = static_cast<std::uint8_t>(content.samples[i] & 0xFF);
        out.bytes[dataAt + 2 * i + 1] = static_cast<std::uint8_t>(content.samples[i] >> 8);
    }
    out.imageDataOffset = dataAt;
    return out;
}

} // namespace kvtest
