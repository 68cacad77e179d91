#include "DustTestSupport.h"

#include "testing/PullAll.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <random>

namespace dusttest {

void PutWord(Bytes& out, ULONG value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<BYTE>(value >> (8 * i)));
}

Bytes ZlibStream(const Bytes& samples) {
    uLongf length = compressBound(static_cast<uLong>(samples.size()));
    Bytes out(length);
    EXPECT_EQ(compress(out.data(), &length, samples.data(), static_cast<uLong>(samples.size())), Z_OK);
    out.resize(length);
    return out;
}

Bytes Inflate(const Bytes& stream, std::size_t size) {
    Bytes out(size + 1);
    uLongf length = static_cast<uLongf>(out.size());
    EXPECT_EQ(uncompress(out.data(), &length, stream.data(), static_cast<uLong>(stream.size())), Z_OK);
    out.resize(length);
    return out;
}

Bytes Samples(const kvtest::TestPlane& plane) {
    Bytes out;
    for (LONG y = 0; y < plane.height; ++y)
        out.insert(out.end(), plane.Row(y), plane.Row(y) + plane.width);
    return out;
}

kvtest::TestPlane PlaneOf(LONG width, LONG height, const Bytes& samples) {
    kvtest::TestPlane plane(width, height, PravonColorSpace::kGrey8);
    for (LONG y = 0; y < height; ++y)
        std::memcpy(plane.Row(y), samples.data() + static_cast<std::size_t>(y) * width,
                    static_cast<std::size_t>(width));
    return plane;
}

kvtest::TestPlane Pull(IPravonDataSource* image) {
    kvtest::TestPlane plane;
    EXPECT_EQ(kvtest::PullAll(image, &plane), nullptr);
    return plane;
}

Bytes SamplesWithStreamOf(std::size_t streamLength, LONG width, LONG height) {
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::mt19937 random(12345);
    Bytes noise(count);
    for (BYTE& b : noise)
        b = static_cast<BYTE>(random());
    const auto lengthFor = [&](std::size_t run) {
        Bytes samples(count, 0x80);
        std::copy(noise.begin(), noise.begin() + static_cast<std::ptrdiff_t>(run), samples.begin());
        return ZlibStream(samples).size();
    };
    // The stream grows by about a byte per random byte: bisect, then walk to the exact length.
    std::size_t low = 0;
    std::size_t high = count;
    while (low < high) {
        const std::size_t mid = (low + high) / 2;
        if (lengthFor(mid) < streamLength)
            low = mid + 1;
        else
            high = mid;
    }
    for (std::size_t run = low > 64 ? low - 64 : 0; run <= std::min(count, low + 64); ++run) {
        if (lengthFor(run) == streamLength) {
            Bytes samples(count, 0x80);
            std::copy(noise.begin(), noise.begin() + static_cast<std::ptrdiff_t>(run), samples.begin());
            return samples;
        }
    }
    ADD_FAILURE() << "no run gives a stream of " << streamLength << " bytes";
    return {};
}

Bytes ReferenceBlob(const ReferenceFields& fields, const Bytes& stream) {
    Bytes out;
    for (ULONG word : {fields.magic, fields.version, fields.headerSize, fields.cameraType, fields.width,
                       fields.height, fields.shootingWord, fields.lensCode, fields.apertureCode,
                       fields.length.value_or(static_cast<ULONG>(stream.size()))})
        PutWord(out, word);
    if (fields.headerSize > 28 && fields.headerSize < 4096)
        out.resize(out.size() + (fields.headerSize - 28), 0xEE);
    out.insert(out.end(), stream.begin(), stream.end());
    return out;
}

Bytes ReferenceBlob(const ReferenceFields& fields, const kvtest::TestPlane& plane) {
    ReferenceFields sized = fields;
    sized.width = static_cast<ULONG>(plane.width);
    sized.height = static_cast<ULONG>(plane.height);
    return ReferenceBlob(sized, ZlibStream(Samples(plane)));
}

Bytes MapBlob(const MapFields& fields, const Bytes& tone, const Bytes& correction, const Bytes& second) {
    Bytes out;
    for (ULONG word :
         {fields.magic, ULONG{1}, fields.headerSize, fields.width, fields.height, fields.orientation,
          fields.toneEntries, fields.toneLength.value_or(static_cast<ULONG>(tone.size())),
          fields.correctionLength.value_or(static_cast<ULONG>(correction.size())),
          fields.secondLength.value_or(static_cast<ULONG>(second.size()))})
        PutWord(out, word);
    if (fields.headerSize > 28 && fields.headerSize < 4096)
        out.resize(out.size() + (fields.headerSize - 28), 0xEE);
    for (const Bytes* part : {&tone, &correction, &second})
        out.insert(out.end(), part->begin(), part->end());
    return out;
}

std::vector<WORD> ToneTable(ULONG entries) {
    std::vector<WORD> table(entries);
    const ULONG forward = entries - 65536;
    for (ULONG i = 0; i < forward; ++i)
        table[i] = static_cast<WORD>(i * 65535 / (forward - 1));
    for (ULONG i = 0; i < 65536; ++i)
        table[forward + i] = static_cast<WORD>(i * (forward - 1) / 65535);
    return table;
}

Bytes ToneStream(const std::vector<WORD>& table) {
    Bytes raw;
    for (WORD w : table) {
        raw.push_back(static_cast<BYTE>(w));
        raw.push_back(static_cast<BYTE>(w >> 8));
    }
    return ZlibStream(raw);
}

Bytes LensData(const char* version, BYTE code, BYTE kind) {
    Bytes lens(31, 0);
    std::memcpy(lens.data(), version, 4);
    if (std::strcmp(version, "0101") == 0) {
        lens[4] = code;
        lens[11] = kind;
    } else {
        lens[13] = code;
        lens[6] = kind;
    }
    return lens;
}

Bytes RealBytes(double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    Bytes out;
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<BYTE>(bits >> (8 * i)));
    return out;
}

CameraTags DefaultCameraTags() {
    CameraTags tags;
    tags.lensData = LensData("0100", 50, 0);
    return tags;
}

PravonTagControlPtr MakeTags(const CameraTags& tags) {
    auto* control = new CPravonTagControl();
    PravonTagControlPtr owned(control);
    const auto word = [&](ULONG tag, std::optional<ULONG> value) {
        if (!value)
            return;
        Bytes bytes;
        PutWord(bytes, *value);
        EXPECT_EQ(control->WriteTag(tag, 4, 4, bytes.data()), nullptr);
    };
    const auto blob = [&](ULONG tag, LONG type, const std::optional<Bytes>& value) {
        if (value) {
            EXPECT_EQ(control->WriteTag(tag, type, static_cast<ULONG>(value->size()), value->data()),
                      nullptr);
        }
    };
    if (tags.cameraModel)
        control->SetCameraModel(*tags.cameraModel);
    word(0x80004, tags.quality);
    if (tags.fNumber)
        blob(0x829D, 12, RealBytes(*tags.fNumber));
    blob(0x80098, 0x108, tags.lensData);
    blob(0x80002, 3, tags.sensitivity);
    blob(0x8000C, 4, tags.cameraInfo);
    blob(0xA302, 1, tags.cfaPattern);
    word(0x8008D, tags.colorMode);
    word(0x80081, tags.toneCurve);
    blob(0x80097, 1, tags.cameraSettings);
    word(0x80006, tags.thresholdWord);
    return owned;
}

} // namespace dusttest
