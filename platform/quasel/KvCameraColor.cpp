#include "KvCameraColor.h"

#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace KvCameraColor {

namespace {

using namespace KvRawDecoder;

// The ICC profile connection white.
constexpr Vector kD50{0.9642, 1.0, 0.8249};
constexpr double kD65Temperature = 6504;
constexpr std::uint32_t kD65Code = 21;
// sRGB's primaries adapted to D50: the colour of a camera whose file tells nothing of its own.
constexpr Matrix kSrgbToXyzD50{0.4360747, 0.3850649, 0.1430804, 0.2225045, 0.7168786,
                               0.0606169, 0.0139322, 0.0971045, 0.7141733};
constexpr Matrix kBradford{0.8951, 0.2664, -0.1614, -0.7502, 1.7135, 0.0367, 0.0389, -0.0685, 1.0296};
constexpr Matrix kIdentity{1, 0, 0, 0, 1, 0, 0, 0, 1};
// Gains further apart than this from green are no camera's white balance.
constexpr double kMaxGain = 64;
// The white point search settles within this many kelvin, or stops after this many rounds.
constexpr double kSettledKelvin = 0.5;
constexpr int kMaxRounds = 32;
constexpr double kSmallestDeterminant = 1e-12;
// sRGB's transfer curve as an ICC parametric curve of type 4: (a x + b)^g above d, c x below.
constexpr double kSrgbCurve[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
constexpr int kParametricType = 4;
constexpr double kProfileVersion = 4.3;

Matrix Multiply(const Matrix& a, const Matrix& b) {
    Matrix m{};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            for (int k = 0; k < 3; ++k)
                m[3 * r + c] += a[3 * r + k] * b[3 * k + c];
    return m;
}

Vector Apply(const Matrix& m, const Vector& v) {
    Vector out{};
    for (int r = 0; r < 3; ++r)
        out[r] = m[3 * r] * v[0] + m[3 * r + 1] * v[1] + m[3 * r + 2] * v[2];
    return out;
}

Matrix Diagonal(const Vector& v) {
    return {v[0], 0, 0, 0, v[1], 0, 0, 0, v[2]};
}

bool Finite(const Matrix& m) {
    return std::all_of(m.begin(), m.end(), [](double v) { return std::isfinite(v); });
}

bool Invert(const Matrix& m, Matrix* inverse) {
    const double det = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
                       m[2] * (m[3] * m[7] - m[4] * m[6]);
    if (!std::isfinite(det) || std::fabs(det) < kSmallestDeterminant)
        return false;
    const Matrix adjugate{m[4] * m[8] - m[5] * m[7], m[2] * m[7] - m[1] * m[8], m[1] * m[5] - m[2] * m[4],
                          m[5] * m[6] - m[3] * m[8], m[0] * m[8] - m[2] * m[6], m[2] * m[3] - m[0] * m[5],
                          m[3] * m[7] - m[4] * m[6], m[1] * m[6] - m[0] * m[7], m[0] * m[4] - m[1] * m[3]};
    for (int i = 0; i < 9; ++i)
        (*inverse)[i] = adjugate[i] / det;
    return Finite(*inverse);
}

Matrix FromFloats(const float* values) {
    Matrix m{};
    for (int i = 0; i < 9; ++i)
        m[i] = values[i];
    return m;
}

Matrix Blend(const Matrix& a, const Matrix& b, double weightOfA) {
    Matrix m{};
    for (int i = 0; i < 9; ++i)
        m[i] = weightOfA * a[i] + (1 - weightOfA) * b[i];
    return m;
}

bool UsableMatrix(const Matrix& m) {
    Matrix unused;
    return Finite(m) && Invert(m, &unused);
}

// One calibration of the file: its illuminant's temperature and its matrices.
struct Calibration {
    double temperature = 0;
    Matrix colorMatrix = kIdentity; // XYZ to the reference camera
    Matrix calibration = kIdentity; // reference camera to this camera
    Matrix forwardMatrix{};
    bool hasForward = false;
};

std::vector<Calibration> CalibrationsOf(const Answer& answer, Source* source) {
    std::vector<Calibration> found;
    if (answer.isDng) {
        for (const DngColor& dng : answer.dng) {
            if (!(dng.fields & kHasColorMatrix) || !UsableMatrix(FromFloats(dng.colorMatrix)))
                continue;
            Calibration c;
            c.temperature = IlluminantTemperature((dng.fields & kHasIlluminant) ? dng.illuminant : 0);
            c.colorMatrix = FromFloats(dng.colorMatrix);
            if ((dng.fields & kHasCalibration) && UsableMatrix(FromFloats(dng.calibration)))
                c.calibration = FromFloats(dng.calibration);
            c.hasForward = (dng.fields & kHasForwardMatrix) && UsableMatrix(FromFloats(dng.forwardMatrix));
            if (c.hasForward)
                c.forwardMatrix = FromFloats(dng.forwardMatrix);
            found.push_back(c);
        }
        *source = Source::kColorMatrix;
    }
    if (found.empty() && UsableMatrix(FromFloats(answer.xyzToCamera))) {
        Calibration c;
        c.temperature = IlluminantTemperature(kD65Code);
        c.colorMatrix = FromFloats(answer.xyzToCamera);
        found.push_back(c);
        *source = Source::kCameraTable;
    }
    // Two calibrations blend only when both name distinct illuminants; otherwise the first serves alone.
    if (found.size() == 2 && (found[0].temperature <= 0 || found[1].temperature <= 0 ||
                              found[0].temperature == found[1].temperature))
        found.resize(1);
    return found;
}

// The weight of the first calibration for a white of `temperature`, linear in reciprocal temperature
// between the two illuminants and held at the nearer one outside them.
double WeightOfFirst(const std::vector<Calibration>& calibrations, double temperature) {
    if (calibrations.size() < 2 || !(temperature > 0))
        return 1;
    const double a = 1 / calibrations[0].temperature, b = 1 / calibrations[1].temperature;
    return std::clamp((1 / temperature - b) / (a - b), 0.0, 1.0);
}

Vector NeutralOf(const Answer& answer) {
    const auto positive = [](const float* v) {
        return std::all_of(v, v + 3, [](float x) { return std::isfinite(x) && x > 0; });
    };
    Vector n{1, 1, 1};
    if (answer.hasAsShotNeutral && positive(answer.asShotNeutral))
        n = {answer.asShotNeutral[0], answer.asShotNeutral[1], answer.asShotNeutral[2]};
    else if (positive(answer.asShotMultipliers))
        n = {1 / double(answer.asShotMultipliers[0]), 1 / double(answer.asShotMultipliers[1]),
             1 / double(answer.asShotMultipliers[2])};
    const Vector scaled{n[0] / n[1], 1, n[2] / n[1]};
    // A neutral that no camera records is no balance at all.
    for (double v : scaled)
        if (!std::isfinite(v) || v <= 0 || v > kMaxGain || v < 1 / kMaxGain)
            return {1, 1, 1};
    return scaled;
}

Vector Chromaticity(const Vector& xyz) {
    const double sum = xyz[0] + xyz[1] + xyz[2];
    return {xyz[0] / sum, xyz[1] / sum, 0};
}

bool PlausibleWhite(const Vector& xyz) {
    const double sum = xyz[0] + xyz[1] + xyz[2];
    if (!std::isfinite(sum) || sum <= 0 || xyz[1] <= 0)
        return false;
    const Vector xy = Chromaticity(xyz);
    return xy[0] > 0 && xy[1] > 0 && xy[0] < 1 && xy[1] < 1;
}

// Camera values (unbalanced) to XYZ (D50) for the calibrations and the neutral, by the colour matrices
// with the white adapted to D50, or by the forward matrices; false when the data give no answer.
bool UnbalancedToXyz(const std::vector<Calibration>& calibrations, const Matrix& analogBalance,
                     const Vector& neutral, Matrix* toXyz, bool* forward) {
    double weight = 1;
    double temperature = kD65Temperature;
    Matrix xyzToCamera{};
    Vector white{};
    for (int round = 0; round < kMaxRounds; ++round) {
        weight = WeightOfFirst(calibrations, temperature);
        const Calibration& first = calibrations[0];
        const Calibration& second = calibrations.size() > 1 ? calibrations[1] : first;
        xyzToCamera = Multiply(Multiply(analogBalance, Blend(first.calibration, second.calibration, weight)),
                               Blend(first.colorMatrix, second.colorMatrix, weight));
        Matrix cameraToXyz;
        if (!Invert(xyzToCamera, &cameraToXyz))
            return false;
        white = Apply(cameraToXyz, neutral);
        if (!PlausibleWhite(white))
            return false;
        const Vector xy = Chromaticity(white);
        const double next = CorrelatedTemperature(xy[0], xy[1]);
        if (calibrations.size() < 2 || !std::isfinite(next) || std::fabs(next - temperature) < kSettledKelvin)
            break;
        temperature = next;
    }
    const Calibration& first = calibrations[0];
    const Calibration& second = calibrations.size() > 1 ? calibrations[1] : first;
    *forward = first.hasForward && second.hasForward;
    if (*forward) {
        const Matrix cameraBalance =
            Multiply(analogBalance, Blend(first.calibration, second.calibration, weight));
        Matrix toReference;
        if (!Invert(cameraBalance, &toReference))
            return false;
        const Vector reference = Apply(toReference, neutral);
        for (double v : reference)
            if (!(std::isfinite(v) && v > 0))
                return false;
        const Matrix fm = Blend(first.forwardMatrix, second.forwardMatrix, weight);
        *toXyz = Multiply(Multiply(fm, Diagonal({1 / reference[0], 1 / reference[1], 1 / reference[2]})),
                          toReference);
    } else {
        Matrix cameraToXyz;
        if (!Invert(xyzToCamera, &cameraToXyz))
            return false;
        *toXyz = Multiply(BradfordToD50(white), cameraToXyz);
    }
    return Finite(*toXyz);
}

// Scaled so that `white` (camera values) has luminance 1.
bool Normalised(Matrix* m, const Vector& white) {
    const double y = Apply(*m, white)[1];
    if (!std::isfinite(y) || y <= 0)
        return false;
    for (double& v : *m)
        v /= y;
    return true;
}

struct ProfileDeleter {
    void operator()(void* p) const { cmsCloseProfile(p); }
};
struct CurveDeleter {
    void operator()(cmsToneCurve* c) const { cmsFreeToneCurve(c); }
};
struct TextDeleter {
    void operator()(cmsMLU* m) const { cmsMLUfree(m); }
};

bool WriteText(cmsHPROFILE profile, cmsTagSignature tag, const std::string& text) {
    std::unique_ptr<cmsMLU, TextDeleter> mlu(cmsMLUalloc(nullptr, 1));
    return mlu && cmsMLUsetASCII(mlu.get(), "en", "US", text.c_str()) && cmsWriteTag(profile, tag, mlu.get());
}

} // namespace

double IlluminantTemperature(std::uint32_t code) {
    switch (code) {
    case 1: // daylight
    case 4: // flash
    case 9: // fine weather
        return 5500;
    case 2:  // fluorescent
    case 14: // cool white fluorescent
        return 4150;
    case 3:  // tungsten
    case 17: // standard light A
        return 2856;
    case 10: // cloudy
        return 6500;
    case 11: // shade
        return 7500;
    case 12: // daylight fluorescent
        return 6430;
    case 13: // day white fluorescent
        return 5000;
    case 15: // white fluorescent
        return 3450;
    case 16: // warm white fluorescent
        return 2940;
    case 18: // standard light B
        return 4874;
    case 19: // standard light C
        return 6774;
    case 20: // D55
        return 5503;
    case 21: // D65
        return 6504;
    case 22: // D75
        return 7504;
    case 23: // D50
        return 5003;
    case 24: // ISO studio tungsten
        return 3200;
    default:
        return 0;
    }
}

double CorrelatedTemperature(double x, double y) {
    // McCamy's cubic, within a few kelvin of the isotemperature lines from 2800 K to 7500 K.
    const double n = (x - 0.3320) / (0.1858 - y);
    return ((449 * n + 3525) * n + 6823.3) * n + 5520.33;
}

Matrix BradfordToD50(const Vector& from) {
    Matrix inverse;
    Invert(kBradford, &inverse);
    const Vector source = Apply(kBradford, from), target = Apply(kBradford, kD50);
    return Multiply(
        Multiply(inverse, Diagonal({target[0] / source[0], target[1] / source[1], target[2] / source[2]})),
        kBradford);
}

CameraColor FromAnswer(const Answer& answer) {
    CameraColor color;
    color.neutral = NeutralOf(answer);
    color.gains = {1 / color.neutral[0], 1, 1 / color.neutral[2]};
    Matrix analogBalance = kIdentity;
    if (answer.isDng && answer.hasAnalogBalance) {
        const Vector ab{answer.analogBalance[0], answer.analogBalance[1], answer.analogBalance[2]};
        if (std::all_of(ab.begin(), ab.end(), [](double v) { return std::isfinite(v) && v > 0; }))
            analogBalance = Diagonal(ab);
    }
    Source source = Source::kNone;
    const std::vector<Calibration> calibrations = CalibrationsOf(answer, &source);
    Matrix unbalanced{};
    bool forward = false;
    const double largest = *std::max_element(color.neutral.begin(), color.neutral.end());
    const Vector fullScaleNeutral{color.neutral[0] / largest, color.neutral[1] / largest,
                                  color.neutral[2] / largest};
    if (!calibrations.empty() &&
        UnbalancedToXyz(calibrations, analogBalance, color.neutral, &unbalanced, &forward) &&
        Normalised(&unbalanced, fullScaleNeutral)) {
        color.source = forward ? Source::kForwardMatrix : source;
    } else {
        // As if the balanced camera saw sRGB's primaries.
        unbalanced = Multiply(kSrgbToXyzD50, Diagonal(color.gains));
        Normalised(&unbalanced, fullScaleNeutral);
        color.source = Source::kNone;
    }
    color.unbalancedToXyz = unbalanced;
    color.balancedToXyz = Multiply(unbalanced, Diagonal(color.neutral));
    Normalised(&color.balancedToXyz, {1, 1, 1});
    return color;
}

std::vector<BYTE> BuildProfile(const Matrix& toXyz, bool srgbEncoded, const std::string& description) {
    if (!Finite(toXyz))
        return {};
    std::unique_ptr<void, ProfileDeleter> profile(cmsCreateProfilePlaceholder(nullptr));
    std::unique_ptr<cmsToneCurve, CurveDeleter> curve(
        srgbEncoded ? cmsBuildParametricToneCurve(nullptr, kParametricType, kSrgbCurve)
                    : cmsBuildGamma(nullptr, 1.0));
    if (!profile || !curve)
        return {};
    cmsHPROFILE p = profile.get();
    cmsSetProfileVersion(p, kProfileVersion);
    cmsSetDeviceClass(p, cmsSigInputClass);
    cmsSetColorSpace(p, cmsSigRgbData);
    cmsSetPCS(p, cmsSigXYZData);
    const cmsCIEXYZ red{toXyz[0], toXyz[3], toXyz[6]}, green{toXyz[1], toXyz[4], toXyz[7]},
        blue{toXyz[2], toXyz[5], toXyz[8]};
    const bool written =
        cmsWriteTag(p, cmsSigRedColorantTag, &red) && cmsWriteTag(p, cmsSigGreenColorantTag, &green) &&
        cmsWriteTag(p, cmsSigBlueColorantTag, &blue) &&
        cmsWriteTag(p, cmsSigMediaWhitePointTag, cmsD50_XYZ()) &&
        cmsWriteTag(p, cmsSigRedTRCTag, curve.get()) && cmsWriteTag(p, cmsSigGreenTRCTag, curve.get()) &&
        cmsWriteTag(p, cmsSigBlueTRCTag, curve.get()) &&
        WriteText(p, cmsSigProfileDescriptionTag, description) &&
        WriteText(p, cmsSigCopyrightTag, "No copyright, use freely");
    cmsUInt32Number size = 0;
    if (!written || !cmsSaveProfileToMem(p, nullptr, &size) || size == 0)
        return {};
    std::vector<BYTE> bytes(size);
    if (!cmsSaveProfileToMem(p, bytes.data(), &size))
        return {};
    bytes.resize(size);
    return bytes;
}

} // namespace KvCameraColor
