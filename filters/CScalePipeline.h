// The resampling machinery behind the scale filter: the set-up of one geometry (reduced ratios,
// reciprocals, direction flags, weight tables, routine choice) and the per-tile pipeline that resamples
// source rows horizontally into a ring of rows and combines ring rows vertically into the output tile.
// The nearest-neighbour method reads the source tiles directly and needs neither ring nor tables.
//
// All per-pixel arithmetic is integer: divisions are multiplications by ceil(2^32 / divisor) and a shift
// by 32, cubic weights are Q14. The results are those stored developments were made with, so every
// formula here is kept exactly; sums and products are 64-bit where 32 bits could overflow, which changes
// nothing where 32 bits suffice.
#pragma once

#include "platform/pravon/IPravonDataSource.h"

#include <cstdint>
#include <memory>
#include <vector>

// One output column's or row's entry of a weight table.
//   linear: word[0] left weight, word[1] right weight (they sum to 2D);
//   area:   word[0] weight of the first (partial) source pixel, word[1] weight of the last (partial) one,
//           word[2] the number of whole pixels between them (first + D * whole + last = S);
//   cubic:  tap[0..3] the Q14 weights of the four taps (16384 = 1.0).
// The advance byte of a linear or cubic entry is 1 when the source window moves one pixel on after it.
struct CScaleTableEntry {
    std::uint32_t word[4] = {};
    std::int32_t tap[4] = {};
    BYTE advance = 0;
};

class CScalePipeline {
public:
    // The flags byte.
    static constexpr BYTE kSettingsChanged = 0x01;
    static constexpr BYTE kEnlargeX = 0x02;
    static constexpr BYTE kReduceX = 0x04;
    static constexpr BYTE kEnlargeY = 0x08;
    static constexpr BYTE kReduceY = 0x10;
    static constexpr BYTE k16Bit = 0x20;
    static constexpr BYTE kSubByte = 0x40; // never set: such sources are refused

    enum class Routine { None, Copy, Area, Linear, Cubic };

    // Set-up pieces, usable without a pipeline.

    // Divides both sizes by their common factors, trying 2, 3, 5, 7, 9, ... (odd numbers, each again after
    // a hit) while the output is at least the divisor and the source not below it; a result of 1 on
    // either side doubles both, so no reciprocal is ever 2^32.
    static void ReduceRatio(LONG source, LONG output, LONG* reducedSource, LONG* reducedOutput);
    // ceil(2^32 / value); 0 for a value below 1.
    static ULONG Reciprocal(LONG value);
    // One entry per output position from 0, for reduced sizes S and D.
    static void BuildLinearTable(LONG S, LONG D, LONG count, std::vector<CScaleTableEntry>* table);
    static void BuildCubicTable(LONG S, LONG D, LONG count, std::vector<CScaleTableEntry>* table);
    static void BuildAreaTable(LONG S, LONG D, LONG count, std::vector<CScaleTableEntry>* table);
    // Enlarging: the source pixel left of output position x's sample point, floor(((2x + 1)S - D) / 2D).
    static std::int64_t EnlargeStart(std::int64_t x, LONG S, LONG D);
    // Reducing: the first source pixel of output position x's span, floor(S x / D).
    static std::int64_t ReduceStart(std::int64_t x, LONG S, LONG D);
    // Nearest neighbour: the source pixel that holds the point (x + 0.5) S / D, a point on a border
    // belonging to the left pixel: ceil((2x + 1) S / 2D) - 1.
    static std::int64_t NearestSource(std::int64_t x, LONG S, LONG D);
    // NearestSource of count positions from first (at least 0) into out, each clamped to [0, last]; one
    // division for the run, then a step of S / D with a remainder per position.
    static void NearestSources(std::int64_t first, LONG count, LONG S, LONG D, std::int64_t last,
                               std::int64_t* out);
    // Source pixels an enlarging method's kernel weighs: two for linear, four for cubic (and for the
    // method values beyond), none for nearest neighbour. A window starts taps / 2 - 1 pixels left of the
    // pixel left of its sample point, so it reaches taps / 2 pixels beyond the pixel its output pixel maps
    // back to on either side.
    static constexpr LONG KernelTaps(LONG method) { return method == 0 ? 0 : method == 1 ? 2 : 4; }
    // The run of source columns one row is gathered over for count output columns from x0 (its first
    // column and length; columns outside the source read the edge), and where in that run each output
    // column's window starts, by the horizontal routine, its table entries from x0 and the reduced widths.
    static void ColumnWindows(Routine routine, LONG method, const CScaleTableEntry* entries, LONG x0,
                              LONG count, LONG S, LONG D, std::int32_t* index, std::int64_t* spanStart,
                              std::int64_t* spanLength);
    // Channel count and depth of the source colour spaces the scale routines take (grey, RGB, BGR, CMYK
    // at 8 bits; grey, RGB, LCh, Lab, YCbCr at 16 bits); false for every other code.
    static bool ReadColorSpace(LONG colorSpace, LONG* channels, bool* sixteenBit);

    // Errors of the pipeline are raised and chained under component (the filter's code).
    explicit CScalePipeline(LONG component);
    ~CScalePipeline();
    CScalePipeline(const CScalePipeline&) = delete;
    CScalePipeline& operator=(const CScalePipeline&) = delete;

    // The settings changed: the next Prepare sets everything up again.
    void MarkChanged() { m_flags |= kSettingsChanged; }

    // Sets up the geometry of one output image unless the current set-up is still good for it. A source
    // colour space the routines do not take fails with "Bad source data color space"
    // (PravonKind::kUnsupportedColorSpace), and the next Prepare tries again.
    IPravonError* Prepare(LONG method, LONG sourceWidth, LONG sourceHeight, LONG outputWidth,
                          LONG outputHeight, LONG colorSpace);

    // Computes rect (output coordinates, inside the output size of the last Prepare) from source into
    // out, which points at the rectangle's top-left pixel, rowBytes apart.
    IPravonError* Run(IPravonDataSource* source, const PravonRect& rect, BYTE* out, LONG rowBytes);

    // What the last Prepare set up, for the filter and for tests.
    BYTE GetFlags() const { return m_flags; }
    LONG GetMethod() const { return m_method; }
    LONG GetChannels() const { return m_channels; }
    LONG GetColorSpace() const { return m_colorSpace; }
    LONG GetReducedSourceWidth() const { return m_reducedSourceWidth; }
    LONG GetReducedSourceHeight() const { return m_reducedSourceHeight; }
    LONG GetReducedOutputWidth() const { return m_reducedOutputWidth; }
    LONG GetReducedOutputHeight() const { return m_reducedOutputHeight; }
    // ceil(2^32 / v) of the reduced source width, source height, output width, output height.
    ULONG GetReciprocal(int which) const { return m_recip[which]; }
    Routine GetHorizontalRoutine() const { return m_horizontal; }
    Routine GetVerticalRoutine() const { return m_vertical; }
    const std::vector<CScaleTableEntry>& GetHorizontalTable() const { return m_hTable; }
    const std::vector<CScaleTableEntry>& GetVerticalTable() const { return m_vTable; }
    // Rows of the ring of the last tile, and how many source rows that tile fetched.
    LONG GetRingRows() const { return m_ringRows; }
    std::int64_t GetFetchedRows() const { return m_fetched; }

private:
    struct TileColumns;
    struct NearestPlans;

    IPravonError* RunNearest(IPravonDataSource* source, const PravonRect& rect, BYTE* out, LONG rowBytes);
    IPravonError* RunSeparable(IPravonDataSource* source, const PravonRect& rect, BYTE* out, LONG rowBytes);

    LONG m_component;
    BYTE m_flags = kSettingsChanged;
    LONG m_method = 0;
    LONG m_colorSpace = 0;
    LONG m_channels = 0;
    LONG m_sourceWidth = 0;
    LONG m_sourceHeight = 0;
    LONG m_outputWidth = 0;
    LONG m_outputHeight = 0;
    LONG m_reducedSourceWidth = 0;
    LONG m_reducedSourceHeight = 0;
    LONG m_reducedOutputWidth = 0;
    LONG m_reducedOutputHeight = 0;
    ULONG m_recip[4] = {};
    Routine m_horizontal = Routine::None;
    Routine m_vertical = Routine::None;
    std::vector<CScaleTableEntry> m_hTable;
    std::vector<CScaleTableEntry> m_vTable;

    // Working memory of one tile, kept between tiles so that it is allocated once.
    std::vector<std::uint16_t> m_ring;
    std::vector<std::uint16_t> m_span;
    std::vector<std::int32_t> m_index;
    std::vector<std::int32_t> m_taps;
    std::vector<std::uint32_t> m_acc;
    std::vector<std::int64_t> m_nearest;
    // The nearest-neighbour copy plans of the output tile columns seen since the last set-up: the tiles
    // of one output column copy the same source columns.
    std::unique_ptr<NearestPlans> m_plans;
    LONG m_ringRows = 0;
    std::int64_t m_fetched = 0;
};
