// Moves the dust shadows of a reference shot with another lens: the reference is rescaled about its centre
// by the lens factor, bilinearly with 12-bit weights through one fixed-point map entry per column and row.
#pragma once

#include "platform/pravon/IPravonDataSource.h"

#include <vector>

class CDustRescale {
public:
    static constexpr LONG kFractionBits = 12;
    // What a sample outside the reference counts as.
    static constexpr LONG kOutsideSample = 128;

    // The factor by which the shadows move away from the centre, for a distance constant D and the lens
    // codes of image and reference (both 1..255).
    static double ScaleFactor(double distance, ULONG imageLens, ULONG referenceLens);

    // One entry per column and row of a width x height image: the source position of each, 12 fraction bits.
    IPravonError* Build(LONG width, LONG height, double scale);
    void Release();
    const std::vector<LONG>& GetColumnMap() const { return m_columns; }
    const std::vector<LONG>& GetRowMap() const { return m_rows; }

    // Computes the output rectangle from the source (the reference, of the maps' size) into `out`, `stride`
    // bytes a row.
    IPravonError* Process(IPravonDataSource* source, const PravonRect& rect, BYTE* out, std::size_t stride);

private:
    static IPravonError* BuildMap(LONG count, double scale, std::vector<LONG>* map);

    std::vector<LONG> m_columns;
    std::vector<LONG> m_rows;
    std::vector<BYTE> m_window;
};
