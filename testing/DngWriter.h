// Writes a DNG file from a camera mosaic or linear RGB samples, with the colour data, orientation and
// exposure a camera records, for the tests of the camera raw road. The image data comes last in the file,
// after every directory, so that a file cut short keeps its header whole.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kvtest {

struct DngCalibration {
    std::uint16_t illuminant = 21;       // an EXIF light-source code; 21 is D65
    std::array<double, 9> colorMatrix{}; // XYZ to camera, row-major
    bool hasForwardMatrix = false;
    std::array<double, 9> forwardMatrix{}; // white-balanced camera to XYZ (D50)
};

struct DngContent {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    // 1: a colour-filter mosaic of `pattern`; 3: linear RGB, interleaved.
    std::uint32_t channels = 1;
    std::string pattern = "RGGB";
    std::vector<std::uint16_t> samples; // width x height x channels, row after row
    std::uint32_t black = 0;
    std::uint32_t white = 65535;
    std::vector<DngCalibration> calibrations; // one or two
    bool hasAsShotNeutral = true;
    std::array<double, 3> asShotNeutral{1, 1, 1};
    std::uint16_t orientation = 1;
    std::string make = "Korvel";
    std::string model = "Test camera";
    double exposureTime = 0.01;
    double fNumber = 5.6;
    std::uint16_t iso = 200;
};

struct DngFile {
    std::vector<std::uint8_t> bytes;
    std::size_t imageDataOffset = 0;
};

DngFile WriteDng(const DngContent& content);

} // namespace kvtest
