// Blobs and tags for the dust tests, made here without the engine's writers: zlib streams from zlib's own
// compress, header words laid out by hand, and tag controls filled with the camera tags the analysis reads.
#pragma once

#include "platform/pravon/IPravonImage.h"
#include "platform/quasel/CPravonTagControl.h"
#include "testing/TestPlane.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dusttest {

using Bytes = std::vector<BYTE>;

void PutWord(Bytes& out, ULONG value);
// A zlib stream of the bytes from zlib's compress at the default level.
Bytes ZlibStream(const Bytes& samples);
Bytes Inflate(const Bytes& stream, std::size_t size);
// The samples of an 8-bit single-channel plane, rows packed.
Bytes Samples(const kvtest::TestPlane& plane);
kvtest::TestPlane PlaneOf(LONG width, LONG height, const Bytes& samples);
// Pulls an image whole.
kvtest::TestPlane Pull(IPravonDataSource* image);

// Samples of width x height whose zlib stream is exactly `streamLength` bytes long: a random run followed by
// a constant one, the run's length found by search.
Bytes SamplesWithStreamOf(std::size_t streamLength, LONG width, LONG height);

struct ReferenceFields {
    ULONG magic = 0x52747344; // "DstR"
    ULONG version = 1;
    ULONG headerSize = 28;
    ULONG cameraType = 257;
    ULONG width = 100;
    ULONG height = 100;
    ULONG shootingWord = 0;
    ULONG lensCode = 50;
    ULONG apertureCode = 72;
    std::optional<ULONG> length; // the stream's own length unless given
};
// Header words, (headerSize - 28) further header bytes, then the stream.
Bytes ReferenceBlob(const ReferenceFields& fields, const Bytes& stream);
Bytes ReferenceBlob(const ReferenceFields& fields, const kvtest::TestPlane& plane);

struct MapFields {
    ULONG magic = 0x4C747344; // "DstL"
    ULONG headerSize = 28;
    ULONG width = 0;
    ULONG height = 0;
    ULONG orientation = 0;
    ULONG toneEntries = 65792;
    std::optional<ULONG> toneLength;
    std::optional<ULONG> correctionLength;
    std::optional<ULONG> secondLength;
};
Bytes MapBlob(const MapFields& fields, const Bytes& tone, const Bytes& correction, const Bytes& second);
// A tone table of `entries` values (forward ramp then inverse ramp), compressed with zlib's compress.
std::vector<WORD> ToneTable(ULONG entries);
Bytes ToneStream(const std::vector<WORD>& table);

// The tags of an image as a camera writes them; each optional one is left out when empty.
struct CameraTags {
    std::optional<WORD> cameraModel = 257;
    std::optional<ULONG> quality = 1;
    std::optional<double> fNumber = 8.0;
    std::optional<Bytes> lensData;    // 31 bytes; default: version "0100", lens code 50
    std::optional<Bytes> sensitivity; // two 16-bit values
    std::optional<Bytes> cameraInfo;  // two 8-byte reals and more
    std::optional<Bytes> cfaPattern;  // big-endian columns, rows, cells
    std::optional<ULONG> colorMode;
    std::optional<ULONG> toneCurve;
    std::optional<Bytes> cameraSettings; // 304 bytes
    std::optional<ULONG> thresholdWord;
};
Bytes LensData(const char* version, BYTE code, BYTE kind);
CameraTags DefaultCameraTags();
PravonTagControlPtr MakeTags(const CameraTags& tags);
Bytes RealBytes(double value);

} // namespace dusttest
