// The row stages of the high-quality demosaicing and their sliding row buffers. Every buffer row spans the
// same source columns (the tile's mosaic window, firstColumn - 13 on) and holds the row of source row y in
// slot y mod rows, so that each stage names the rows it reads by their source rows. One step for index E
// runs every stage once, each on the newest row its inputs allow:
//   load E + 13, activities E + 12, class and colour difference E + 10, spread E + 9, chroma E + 7,
//   second activities E + 5, strength, second class and luminance E + 3, RGB E + 2.
// A stage defined at the red and blue sites only works every site of its row without a branch, so that the
// compiler can vectorise it; the values it leaves at green sites are never read. Every value fits 32 bits:
// the largest, the chroma ring sums, stay below 1.62e9.
#pragma once

#include "rawlib/filters/CDeBayerSingleHQ4Filter.h"

#include <cstdint>
#include <vector>

class CDeBayerSingleHQ4Filter::CRowStages {
public:
    // Source columns the mosaic window reaches beyond the tile's first and last column.
    static constexpr LONG kMosaicMargin = 13;

    // Sizes and clears the buffers for a tile whose output covers columns source columns from
    // firstColumn, with the tuning's thresholds and the mosaic's phases; false when memory runs out.
    bool Prepare(LONG columns, LONG firstColumn, const HQ4Tuning& tuning, LONG greenPhase, LONG redRowPhase);

    // The mosaic row that the step for e fills before it runs: source row e + kLoadLead, from source column
    // MosaicFirstColumn(), MosaicWidth() values.
    LONG* MosaicRowFor(LONG e) { return m_mosaic.Row(e + kLoadLead); }
    LONG MosaicFirstColumn() const { return m_origin; }
    LONG MosaicWidth() const { return m_width; }

    // Runs the stages of step e on the rows loaded so far.
    void Step(LONG e);

    // After the step for e: the RGB rows of source rows e - 1 .. e + 2 (rows[1] is row e), each from the
    // tile's first column on.
    void RgbRows(LONG e, const Rgb16* rows[4]) const;

private:
    // Rows of m_width values; source row y lives in slot y mod the row count. The count is the rows asked
    // for rounded up to a power of two, so that a step's seventy row look-ups take a mask, not a division.
    template <class T>
    class CRing {
    public:
        void Reset(LONG rows, std::size_t width);
        T* Row(LONG y) { return m_data.data() + Slot(y) * m_width; }
        const T* Row(LONG y) const { return m_data.data() + Slot(y) * m_width; }

    private:
        // Two's complement: the mask gives the remainder of negative rows too.
        std::size_t Slot(LONG y) const { return static_cast<std::size_t>(static_cast<ULONG>(y) & m_mask); }
        std::vector<T> m_data;
        ULONG m_mask = 0;
        std::size_t m_width = 0;
    };

    // Window position j of row y is a green site when (j + GreenParity(y)) is odd.
    LONG GreenParity(LONG y) const { return (m_origin + y + m_greenPhase) & 1; }
    bool IsRedRow(LONG y) const { return ((y + m_redRowPhase) & 1) != 0; }

    // The step compiled for the processor's AVX2 and for any processor; both run StepBody.
    void StepAvx2(LONG e);
    void StepPlain(LONG e);
    void StepBody(LONG e);

    LONG m_origin = 0; // the source column of window position 0
    LONG m_width = 0;  // window positions: the tile's columns and the margins
    LONG m_greenPhase = 0;
    LONG m_redRowPhase = 0;
    bool m_avx2 = false;
    LONG m_classThreshold = 0;    // horizontal against vertical
    LONG m_diagonalThreshold = 0; // one diagonal against the other
    LONG m_secondThreshold = 0;   // horizontal against vertical near strong colour edges

    CRing<LONG> m_mosaic;
    // Activities as the differences the classification compares: across less down, and the diagonal from
    // top left to bottom right less the one from bottom left to top right.
    CRing<LONG> m_axisActivity;
    CRing<LONG> m_diagonalActivity;
    CRing<LONG> m_class;
    CRing<LONG> m_difference; // 16 x (sample - green estimate) at red and blue sites
    // 64 x (red - green) and 64 x (blue - green) at every site, summed with weights 1, 2, 1 across over
    // the sites one and two apart: what the smoothing down the rows reads.
    CRing<LONG> m_redNear;
    CRing<LONG> m_redFar;
    CRing<LONG> m_blueNear;
    CRing<LONG> m_blueFar;
    CRing<LONG> m_chroma;
    CRing<LONG> m_strength;
    CRing<LONG> m_secondActivity; // across less down
    CRing<LONG> m_secondClass;
    CRing<LONG> m_luminance; // 16 x (red / 4 + green / 2 + blue / 4)
    CRing<Rgb16> m_rgb;
    // Rows of one step's own: codes, spread differences, smoothed differences, colours.
    std::vector<LONG> m_scratch[5];
};
