// The colour of a camera raw file, from its own data: the matrix that takes the camera's values to CIE
// XYZ under D50 (from a DNG's colour and forward matrices with their calibration illuminants, or the
// decoding library's matrix for the camera), the as-shot neutral and the gains that balance it, and the
// ICC input profile the development converts from.
#pragma once

#include "KvRawDecoderAnswer.h"
#include "platform/win/wintypes.h"

#include <array>
#include <string>
#include <vector>

namespace KvCameraColor {

using Matrix = std::array<double, 9>; // row-major
using Vector = std::array<double, 3>;

// Where the matrix came from.
enum class Source { kForwardMatrix, kColorMatrix, kCameraTable, kNone };

struct CameraColor {
    // Camera values to XYZ (D50). For white-balanced values (each channel times its gain) a neutral of
    // full scale maps to the D50 white of luminance 1; for unbalanced values the as-shot neutral, scaled
    // to a largest channel of 1, does.
    Matrix balancedToXyz{};
    Matrix unbalancedToXyz{};
    // The as-shot neutral (linear camera values of a grey, green 1) and the gains that make it equal
    // (green 1).
    Vector neutral{1, 1, 1};
    Vector gains{1, 1, 1};
    Source source = Source::kNone;
};

// The colour the answer's data gives. A file without usable colour data is developed as if its camera
// saw the sRGB primaries (source kNone), never refused for it.
CameraColor FromAnswer(const KvRawDecoder::Answer& answer);

// The correlated colour temperature of chromaticity (x, y), in kelvin.
double CorrelatedTemperature(double x, double y);
// The temperature of an EXIF light-source code; 0 for codes without one.
double IlluminantTemperature(std::uint32_t code);
// Bradford adaptation from the white `from` (XYZ) to D50.
Matrix BradfordToD50(const Vector& from);

// An ICC input profile (matrix and tone curves) for camera values encoded with the sRGB transfer curve
// (`srgbEncoded`) or linear, with `toXyz` as its colorants; empty when it cannot be made.
std::vector<BYTE> BuildProfile(const Matrix& toXyz, bool srgbEncoded, const std::string& description);

} // namespace KvCameraColor
