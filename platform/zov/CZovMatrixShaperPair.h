// RGB to RGB between two matrix-shaper profiles, on our side: every input code through the input profile's
// curves (a table of linear values), the two colorant matrices joined into one 3 x 3 matrix applied in
// double precision, and the output profile's inverted curves read from a table over the linear value's
// exponent and leading mantissa bits, whose steps follow a curve that rises steeply from black. The library
// builds the tables once; a pair whose conversion does not agree with the library's own in double precision
// keeps the library.
#pragma once

#include "platform/win/wintypes.h"

#include <lcms2.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class CZovMatrixShaperPair {
public:
    // Null when either profile is no RGB matrix-shaper profile, the intent is absolute colorimetric, a
    // curve does not start at black, the matrices have no inverse, or the conversion strays from the
    // library's own in double precision on a sweep of the RGB cube. inBits and outBits are 8 or 16.
    static std::unique_ptr<const CZovMatrixShaperPair>
    Make(cmsHPROFILE input, cmsHPROFILE output, cmsUInt32Number intent, LONG inBits, LONG outBits);

    // Converts width x height interleaved pixels; rows are rowBytes apart. Each pixel is read whole before
    // it is written, so source and destination may be the same memory when the two pixel sizes are equal.
    void Convert(LONG width, LONG height, const std::uint8_t* source, std::uint8_t* destination,
                 std::size_t sourceRowBytes, std::size_t destinationRowBytes) const;

    // One pixel's three output values in 16-bit units before rounding, for checking the tables.
    void Evaluate(const USHORT input[3], double output[3]) const;

    // The output table: linear values from 2^-kOctaves to 1, 2^kStepBits nodes an octave.
    static constexpr int kOctaves = 64;
    static constexpr int kStepBits = 10;
    static constexpr std::size_t kOutputNodes = std::size_t(kOctaves) << kStepBits;

private:
    CZovMatrixShaperPair() = default;
    // A pixel's linear value of an output channel, held to the output table's range.
    float Linear(const USHORT input[3], int channel) const;
    // The output table at a linear value, in 16-bit units.
    float Output(int channel, float linear) const;
    // Whether the linear values agree with the library's own conversion to the output's colorants.
    static bool AgreesWithLibrary(const CZovMatrixShaperPair& pair, cmsHPROFILE input, cmsHPROFILE output,
                                  cmsUInt32Number intent);
    void ConvertRow(const std::uint8_t* in, std::uint8_t* out, std::size_t count) const;
    void ConvertRowAvx2(const std::uint8_t* in, std::uint8_t* out, std::size_t count) const;

    LONG m_inBits = 16;
    LONG m_outBits = 16;
    // The input curves at every input code, one table per distinct curve (a camera profile has one curve
    // for its three channels, and the tables then stay in the processor's cache), and each channel's.
    std::vector<std::vector<float>> m_inputTables;
    std::array<const float*, 3> m_input{};
    // Input linear RGB to output linear RGB, row by row.
    std::array<double, 9> m_matrix{};
    // A node of an output table, in 16-bit units: the value at the node and the rise to the next, read
    // together.
    struct Node {
        float value;
        float rise;
    };
    // Per distinct output curve kOutputNodes + 1 nodes, the last at a linear value of 1; and each channel's.
    std::vector<std::vector<Node>> m_outputTables;
    std::array<const Node*, 3> m_output{};
};
