// Converts between grey and RGB and between 8 and 16 bits per component with fixed integer formulas and no
// colour management. The output's channel model and depth are set apart; either may keep the source's.
// Handles 8- and 16-bit grey and RGB; a source of another model fails its tiles.
#pragma once

#include "filters/engine/CPravonFilterBase.h"
#include "platform/win/FourCC.h"

class CPravonFilterColorSpace : public CPravonFilterBase {
public:
    static constexpr LONG kCode = FourCC("CSpc");

    enum eOutputColorSpace : LONG { kKeepColorSpace = 0, kOneChannel = 1, kThreeChannels = 2 };
    enum eOutputBitDepth : LONG { kKeepBitDepth = 0, k8Bit = 1, k16Bit = 2 };

    explicit CPravonFilterColorSpace(IPravonManager* manager);
    ~CPravonFilterColorSpace() override;

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "No-CMS ColorSpace Filter"; }

    // Stores the output's model and depth (values outside the enumerations give PravonKind::kOutOfRange);
    // the pair already set changes nothing. With notify on an enabled filter, downstream hears the output
    // colour space before and after the change.
    IPravonError* SetOutputColorSpace(eOutputColorSpace colorSpace, eOutputBitDepth bitDepth, bool notify);
    eOutputColorSpace GetOutputColorSpace() const { return m_colorSpace; }
    eOutputBitDepth GetOutputBitDepth() const { return m_bitDepth; }

    // While the source's model still has to be examined, every geometry and tile request does that first.
    // Unlocks are never refused: they go to the base at once.
    IPravonError* GetWidth(LONG* width) override;
    IPravonError* GetHeight(LONG* height) override;
    IPravonError* GetColorSpace(LONG* colorSpace) override;
    IPravonError* GetResolution(double* resolution) override;
    IPravonError* GetFlip(bool* flip) override;
    IPravonError* GetRotation(double* rotation) override;
    IPravonError* GetTileSize(LONG* tileSize) override;
    IPravonError* GetPalette(PravonPalette* palette) override;
    IPravonError* TileExists(const IPravonTileID& id, bool* exists) override;
    IPravonError* TileExists(LONG column, LONG row, bool* exists) override;
    IPravonError* GetTile(const IPravonTileID& id, IPravonTile** tile) override;
    IPravonError* GetTile(LONG column, LONG row, IPravonTile** tile) override;
    IPravonError* LockTile(IPravonTileGrid* grid, LONG column, LONG row, void** data, PravonRect* tileRect,
                           PravonRect* clippedRect, LONG* rowBytes) override;
    IPravonError* LockTile(const IPravonTileID& id, void** data, BITMAPINFOHEADER** header) override;
    IPravonError* LockTile(LONG column, LONG row, void** data, BITMAPINFOHEADER** header) override;
    IPravonError* MapRect(const PravonRect& rect, IPravonTileGrid** grid) override;

    IPravonError* GetFilteredColorSpace(IPravonDataSource* const* sources, LONG count,
                                        LONG* colorSpace) override;

    // After the base's handling: a filter that keeps both of the source's settings lets the framework
    // cache lightly; a new source is examined again before it is converted or passed through.
    IPravonError* PravonAddedDataSource(IPravonDataSource* source) override;
    IPravonError* PravonRemovedDataSource(IPravonDataSource* source) override;

protected:
    // The output code for a source code: the settings, with each kept one taken from the source; 0 when
    // the result is not one of the four handled codes.
    LONG DoColorSpaceFiltering(LONG sourceColorSpace) const;
    // Reads the source's code; for a grey or RGB model the filter passes the source through exactly when
    // it is already the output, and the source needs no more examining.
    IPravonError* CheckSourceColorSpace();

    IPravonError* FilterColorSpace(IPravonDataSource* source, ChangeColorSpace* change) override;
    IPravonError* FilterUpdateAll(IPravonDataSource* source) override;
    bool WritesWholeInvalidArea() const override { return true; }
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;

private:
    bool KeepsBoth() const { return m_colorSpace == kKeepColorSpace && m_bitDepth == kKeepBitDepth; }
    bool KeepsEither() const { return m_colorSpace == kKeepColorSpace || m_bitDepth == kKeepBitDepth; }
    IPravonDataSource* FirstSource() const;
    // The output code while the source has that code: the source's own when both settings keep it.
    LONG OutputFor(LONG sourceColorSpace) const;
    // Pass-through from the settings and, when a source of a handled code is there, from its code.
    IPravonError* UpdatePassThrough();
    template <class Call>
    IPravonError* Checked(Call&& call);

    eOutputColorSpace m_colorSpace = kKeepColorSpace;
    eOutputBitDepth m_bitDepth = kKeepBitDepth;
    bool m_checkPending = false;
};
