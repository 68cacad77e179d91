// What the camera raw decoder program hands back to the loader in its answer memory: one fixed header,
// then the samples. Both sides are built from this header; the loader still reads every field as
// untrusted, since the program works on hostile files with a library that has crashed on them before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace KvRawDecoder {

constexpr char kMagic[4] = {'K', 'v', 'R', 'D'};
constexpr std::uint32_t kVersion = 1;

enum Status : std::uint32_t {
    kDecoded = 0,
    // The file is not a camera raw file the decoder can read; the message says why.
    kRefused = 1,
    // The file is one, but its image data is cut short or damaged.
    kDamaged = 2,
    // The decoder could not get the memory the file asks for.
    kNoMemory = 3,
};

// The samples of a decoded file are 12-bit: black removed and the white level scaled to this.
constexpr std::uint16_t kMaxSample = 4095;
// One mosaic sample per pixel, or three linear samples of a file that holds no mosaic.
constexpr std::uint32_t kMosaicChannels = 1;
constexpr std::uint32_t kLinearChannels = 3;
constexpr std::size_t kMessageBytes = 240;
constexpr std::size_t kNameBytes = 64;

// Bits of DngColor::fields.
constexpr std::uint32_t kHasColorMatrix = 1;
constexpr std::uint32_t kHasForwardMatrix = 2;
constexpr std::uint32_t kHasCalibration = 4;
constexpr std::uint32_t kHasIlluminant = 8;

// One calibration of a DNG: its illuminant (an EXIF light-source code), the matrix from CIE XYZ to the
// reference camera space, the one from white-balanced camera space to XYZ under D50, and the camera's
// own calibration, each row-major over the three camera channels.
struct DngColor {
    std::uint32_t fields;
    std::uint32_t illuminant;
    float colorMatrix[9];
    float forwardMatrix[9];
    float calibration[9];
};

struct Answer {
    char magic[4];
    std::uint32_t version;
    std::uint32_t status;
    char message[kMessageBytes]; // zero-terminated

    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t channels;
    // The white level of the samples: kMaxSample for a mosaic, 65535 for linear samples.
    std::uint32_t maxSample;
    // Colour of each cell of the 2 x 2 filter repeat, row by row: 0 red, 1 green, 2 blue.
    std::uint8_t cells[4];
    // EXIF orientation code 1..8 of the file (1 when it gives none).
    std::uint32_t orientation;

    // As-shot multipliers of red, green and blue (the camera's white balance); zeros when unknown.
    float asShotMultipliers[3];
    std::uint32_t isDng;
    DngColor dng[2];
    std::uint32_t hasAsShotNeutral;
    float asShotNeutral[3];
    std::uint32_t hasAnalogBalance;
    float analogBalance[3];
    // The decoding library's own matrix from XYZ (D65) to the camera's channels, for cameras it knows;
    // zeros when it has none.
    float xyzToCamera[9];

    float iso;
    float exposureTime; // seconds
    float fNumber;
    char make[kNameBytes];  // zero-terminated
    char model[kNameBytes]; // zero-terminated

    // Where the samples start in the answer memory, and their length in bytes (16-bit, little-endian,
    // row after row, `channels` per pixel).
    std::uint64_t sampleOffset;
    std::uint64_t sampleBytes;
};
static_assert(std::is_trivially_copyable_v<Answer>);

// File descriptors the decoder program finds open: the file's bytes, the answer memory it fills, and a
// pipe it writes one byte to once the answer is complete.
constexpr int kInputDescriptor = 3;
constexpr int kAnswerDescriptor = 4;
constexpr int kDoneDescriptor = 5;
// The byte written to the pipe when the answer is complete.
constexpr char kDoneByte = 'D';

// A file holds at most this many pixels per byte, half a bit each: lossless coding of sensor data never
// spends less than a bit on a sample. A header that claims more is refused before
// anything is allocated for it.
constexpr std::uint64_t kMaxPixelsPerFileByte = 16;

} // namespace KvRawDecoder
