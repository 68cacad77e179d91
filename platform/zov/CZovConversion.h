// A library conversion built for one state of an object: the transform's profiles and intent, the bits
// per component on each side and the lookup tables. Without tables the pixels go through the library in
// their own formats in one call; with tables every row is widened to 16 bits through the input tables,
// converted at 16 bits and narrowed through the output tables. LCh goes row by row: the library converts
// between Lab and the other side, and Lab becomes LCh, or LCh Lab, on our side. No table of the library
// holds LCh well: the hue jumps from the top of its range to 0 where b crosses 0 with a above 0, and a
// table interpolated across that jump gives hues half way round the circle, while tables resampled over
// the hue circle streak saturated colours. Towards LCh the library gives 16-bit Lab, whose a and b keep
// their sign. From LCh or Lab no resampled table is used either, as it would bend where the output's
// colours clip at the edge of its gamut: a matrix-shaper RGB output is converted on our side
// (CZovMatrixShaperOut), and the library evaluates any other output's profile as it is. Between two
// matrix-shaper RGB profiles the conversion is ours as well (CZovMatrixShaperPair): the library's 16-bit
// road resamples it into a table that strays near black and at the gamut's edge, and is several times
// slower. Between other RGB profiles, at 16 bits, we interpolate the library's own table (CZovRgbGrid).
#pragma once

#include "CZovMatrixShaperOut.h"
#include "CZovMatrixShaperPair.h"
#include "CZovRgbGrid.h"
#include "CZovTransformState.h"

#include <cstdint>
#include <memory>
#include <vector>

// A channel's lookup table as it was given.
struct CZovLutChannel {
    bool merged = true;
    LONG inBits = 0;
    LONG outBits = 0;
    std::vector<USHORT> table; // 2^inBits entries; empty when the channel has no table

    bool HasTable() const { return !table.empty(); }
    bool operator==(const CZovLutChannel&) const = default;
};

enum CZovSide { kZovInput = 0, kZovOutput = 1 };
using CZovLutTables = CZovLutChannel[2][4];

// The pixel layout the library uses for a profile colour space; false for one it has none for.
bool ZovPixelLayout(cmsUInt32Number space, cmsUInt32Number* pixelType, LONG* channels);

class CZovConversion {
public:
    ~CZovConversion();
    CZovConversion(const CZovConversion&) = delete;
    CZovConversion& operator=(const CZovConversion&) = delete;

    static LONG Build(const CZovTransformState::Snapshot& state, LONG inBits, LONG outBits,
                      const CZovLutTables& luts, std::unique_ptr<const CZovConversion>* conversion);

    // For tests and benchmarks: conversions built from now on leave every pair of RGB profiles to the
    // library's own road, as the reference the pair conversion is measured against (true), or convert
    // matrix-shaper pairs on our side (false, the default).
    static void SetLibraryOnly(bool libraryOnly);

    std::size_t InPixelBytes() const { return std::size_t(m_inChannels) * std::size_t(m_inBits / 8); }
    std::size_t InSampleBytes() const { return std::size_t(m_inBits / 8); }
    std::size_t OutPixelBytes() const { return std::size_t(m_outChannels) * std::size_t(m_outBits / 8); }

    // Source and destination must not overlap; rows are rowBytes apart.
    void Convert(LONG width, LONG height, const std::uint8_t* source, std::uint8_t* destination,
                 std::size_t sourceRowBytes, std::size_t destinationRowBytes) const;

    // The same, each source sample first replaced by its entry in its channel's table (2^inBits entries,
    // one table per input channel, entries of the input's depth). The grid road looks a stretch of a row
    // up at a time next to its interpolation; the others convert row by row from a looked-up copy.
    void ConvertThroughTables(LONG width, LONG height, const std::uint8_t* source, std::uint8_t* destination,
                              std::size_t sourceRowBytes, std::size_t destinationRowBytes,
                              const USHORT* const* tables) const;

private:
    CZovConversion() = default;
    void ConvertByRows(LONG width, LONG height, const std::uint8_t* source, std::uint8_t* destination,
                       std::size_t sourceRowBytes, std::size_t destinationRowBytes) const;

    cmsHTRANSFORM m_transform = nullptr;
    LONG m_inChannels = 0;
    LONG m_outChannels = 0;
    LONG m_inBits = 8;
    LONG m_outBits = 8;
    bool m_throughTables = false;
    bool m_fromLch = false;
    // From Lab or LCh to a matrix-shaper RGB profile: the conversion of Lab values, done on our side.
    std::unique_ptr<const CZovMatrixShaperOut> m_toMatrixShaper;
    // Between two matrix-shaper RGB profiles: the whole conversion, done on our side.
    std::unique_ptr<const CZovMatrixShaperPair> m_pair;
    // Between other RGB profiles at 16 bits: the library's grid, interpolated on our side.
    std::unique_ptr<const CZovRgbGrid> m_grid;
    // With it, from a Lab profile that only decodes its samples.
    bool m_labAsEncoded = false;
    bool m_toLch = false;
    // Through tables only: per input channel, sample (2^inBits entries) -> 16-bit value; per output channel,
    // 16-bit value -> output sample.
    std::vector<std::vector<USHORT>> m_inputMaps;
    std::vector<std::vector<USHORT>> m_outputMaps;
};
