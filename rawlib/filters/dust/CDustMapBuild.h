// The work of building one dust map: the phases from orienting the reference and demosaicing a mosaic to
// compressing both maps, one tile per step, with the planes each phase reads and the filters it pulls. The
// map owns one while it is being built and takes the results over when it completes.
#pragma once

#include "CDustBlockList.h"
#include "CDustImageEncoder.h"
#include "KvDustMapFormat.h"
#include "KvDustMapSteps.h"
#include "KvDustTuning.h"

#include "platform/pravon/IPravonImage.h"

#include <memory>
#include <vector>

class CDustAnalyzer;
class CDeBayerSingleHQ4Filter;
class CPravonFilterTransform;

class CDustMapBuild {
public:
    // The phases in the order they run; the numbers are the map's states.
    enum Phase : LONG {
        kOrient = 1,
        kDemosaic = 2,
        kStartLuminance = 3,
        kLuminance = 4,
        kLuminance8 = 5,
        kClassify = 6,
        kContrast = 7,
        kSpread = 8,
        kSecondMap = 9,
        kCorrection = 10,
        kStartCompression = 11,
        kCompressCorrection = 12,
        kCompressSecond = 13,
        kDone = 14,
    };

    // What a finished build hands to the map.
    struct Result {
        DustMapHeader header;
        std::vector<WORD> toneTable;
        std::vector<BYTE> compressedTone;
        PravonImagePtr correction;
        PravonImagePtr second;
        CDustBlockList correctionBlocks;
        CDustBlockList secondBlocks;
    };

    explicit CDustMapBuild(IPravonManager* manager);
    ~CDustMapBuild();
    CDustMapBuild(const CDustMapBuild&) = delete;
    CDustMapBuild& operator=(const CDustMapBuild&) = delete;

    // Sets everything up from a complete analysis; afterwards the build is at its first phase, or done when
    // the analysis found no dust.
    IPravonError* Begin(const CDustAnalyzer& analyzer, IPravonDataSource* source, bool linearSamples,
                        bool rawMode);
    // One tile of the current phase (one strip of rows in the compressions).
    IPravonError* Step();

    Phase GetPhase() const { return m_phase; }
    bool IsDone() const { return m_phase == kDone; }
    LONG GetPosition() const;
    LONG GetTotal() const;
    Result& GetResult() { return m_result; }

    // What the build chose, for those who check it.
    LONG GetWidth() const { return m_width; }
    LONG GetHeight() const { return m_height; }
    LONG GetTileCount() const { return m_tileCount; }
    LONG GetPhaseCount() const { return static_cast<LONG>(m_phases.size()); }
    LONG GetThreshold() const { return m_threshold; }
    double GetScaleX() const { return m_scaleX; }
    double GetScaleY() const { return m_scaleY; }

private:
    IPravonError* SetUpDemosaic(IPravonDataSource* source, const DustTuning& tuning);
    IPravonError* SetUpOrientation(IPravonImage* analysed, bool flip, double angle);
    IPravonError* MakeMapImage(PravonImagePtr* image);
    IPravonError* StepTile();
    IPravonError* EndPhase();
    IPravonError* StepCompression();
    IPravonError* Orient();
    IPravonError* Luminance(const PravonRect& rect);
    PravonRect TileRect(LONG tile, LONG width, LONG height) const;
    void Advance();
    void ReleaseFilters();
    void ReleaseTransform();
    void ReleaseDemosaic();

    IPravonManager* m_manager;
    Phase m_phase = kDone;
    std::vector<Phase> m_phases;
    std::size_t m_phaseIndex = 0;

    IPravonDataSource* m_source = nullptr;
    bool m_linear = false;
    bool m_mosaic = false;
    ULONG m_cameraType = 0;
    LONG m_sensitivity = 0;
    ULONG m_thresholdWord = 0;
    LONG m_quality = 1;
    LONG m_width = 0;
    LONG m_height = 0;
    LONG m_sourceColorSpace = 0;
    LONG m_threshold = 0;
    double m_scaleX = 1;
    double m_scaleY = 1;

    LONG m_tileSize = 0;
    LONG m_tilesPerRow = 0;
    LONG m_tileCount = 0;
    LONG m_tilesDone = 0;
    bool m_reverse = false;

    IPravonImage* m_analysed = nullptr;
    std::unique_ptr<CPravonFilterTransform> m_transform;
    std::unique_ptr<CDeBayerSingleHQ4Filter> m_demosaic;
    LONG m_orientTiles = 0;
    LONG m_orientTilesPerRow = 0;

    KvDust::DustPlane8 m_reference;
    KvDust::DustPlane16 m_rgb;
    KvDust::DustPlane16 m_luminance;
    KvDust::DustPlane8 m_luminance8;
    KvDust::DustPlane8 m_classes;
    KvDust::DustPlane8 m_flags;
    KvDust::DustPlane8 m_spread;
    KvDust::DustPlane8 m_second;
    KvDust::DustPlane8 m_correction;
    std::vector<LONG> m_columns;
    std::vector<LONG> m_rows;
    std::vector<BYTE> m_tile;

    CDustImageEncoder m_encoder;
    Result m_result;
};
