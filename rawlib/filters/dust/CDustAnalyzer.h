// Adapts a dust reference to the shooting conditions of one image, in steps that a driver can report and
// cancel between: the reference is rescaled about its centre when the image was shot with another lens,
// blurred when it was shot at a wider aperture, else copied, and the result is compressed. The dust map is
// then built from what the analyzer holds, so it must stay alive and unchanged meanwhile.
#pragma once

#include "CDustBlockList.h"
#include "CDustBoxBlur.h"
#include "CDustImageEncoder.h"
#include "CDustReference.h"
#include "CDustRescale.h"
#include "KvDustTuning.h"

#include "platform/pravon/IPravonImage.h"
#include "platform/quasel/IPravonTagControl.h"

#include <cstdint>
#include <vector>

class CDustAnalyzer {
public:
    enum State : LONG {
        kIdle = 0,
        kRescale = 1,
        kBlur = 2,
        kCopy = 3,
        kStartCompression = 4,
        kCompress = 5,
        kComplete = 6,
    };

    // The image tag whose word the map's thresholds use.
    static constexpr ULONG kThresholdTag = 0x80006;

    explicit CDustAnalyzer(IPravonManager* manager);
    CDustAnalyzer(const CDustAnalyzer&) = delete;
    CDustAnalyzer& operator=(const CDustAnalyzer&) = delete;

    // Starts the analysis of a loaded reference for the image whose tags are given: kind 1014 when either
    // is missing or the camera types differ, 1003 for a reference that is not loaded, smaller than 100 x 100
    // or, when the lens changed, with a lens code outside 1..255; 1007 while an analysis runs; 1013 for an
    // unknown camera type or unusable tags. Allowed when idle or complete; a failure leaves it idle.
    IPravonError* Begin(CDustReference* reference, IPravonTagControl* tags);
    // One tile of the current phase (or one strip of the compression), then the progress: every phase counts
    // the tile count once, the compression last. Idle: 0 of 0 and kind 1007; complete: 1 of 1. Any error
    // leaves the analyzer idle with nothing built.
    IPravonError* Step(LONG* position, LONG* total);
    // Releases everything the running analysis holds and returns to idle; a complete result is kept.
    void Abort();

    LONG GetState() const { return m_state; }
    bool IsComplete() const { return m_state == kComplete; }

    // The result, once complete: the analysed image (null when the blur left no dust), the "DstT" vector
    // and the camera type.
    IPravonImage* GetAnalysedImage() const { return m_analysed; }
    const std::vector<BYTE>& GetTuning() const { return m_tuning; }
    ULONG GetCameraType() const { return m_cameraType; }
    ULONG GetApertureCode() const { return m_apertureCode; }
    ULONG GetLensCode() const { return m_lensCode; }
    LONG GetSensitivity() const { return m_sensitivity; }
    ULONG GetThresholdWord() const { return m_thresholdWord; }
    // The analysed image's compressed stream.
    const CDustBlockList& GetCompressed() const { return m_compressed; }

    // What the analysis found and chose.
    double GetDistanceConstant() const { return m_distance; }
    double GetPitchX() const { return m_pitchX; }
    double GetPitchY() const { return m_pitchY; }
    bool HasLensChange() const { return m_lensChange; }
    bool HasWiderAperture() const { return m_widerAperture; }
    double GetScaleFactor() const { return m_scale; }
    const CDustBoxBlur& GetBlur() const { return m_blur; }
    // Pixels below the dark level after the blur; -1 until a blur ran.
    std::int64_t GetDarkPixelCount() const { return m_darkCount; }
    LONG GetTileCount() const { return m_tileCount; }
    LONG GetTilesPerRow() const { return m_tilesPerRow; }

    // The distance constant D and pixel pitches of a camera type; kind 1013 for a type without them.
    static IPravonError* CameraConstants(ULONG cameraType, double* distance, double* pitchX, double* pitchY);

private:
    IPravonError* StartAnalysis(CDustReference* reference, IPravonTagControl* tags);
    IPravonError* SizeOutput();
    void SetUpBlur();
    IPravonError* ProcessTile();
    IPravonError* EndImagePhase();
    IPravonError* StepCompression();
    PravonRect TileRect(LONG tile) const;
    // Drops everything: the result too unless `keepResult`.
    void Release(bool keepResult);
    void ReportProgress(LONG* position, LONG* total) const;

    IPravonManager* m_manager;
    LONG m_state = kIdle;

    std::vector<BYTE> m_tuning;
    ULONG m_cameraType = 0;
    ULONG m_apertureCode = 0;
    ULONG m_lensCode = 0;
    LONG m_sensitivity = 0;
    ULONG m_thresholdWord = 0;
    double m_distance = 0;
    double m_pitchX = 0;
    double m_pitchY = 0;

    CDustReference* m_reference = nullptr;
    IPravonImage* m_input = nullptr;
    PravonImagePtr m_scratch[2];
    LONG m_output = 0; // which scratch image the current phase writes
    IPravonImage* m_analysed = nullptr;

    bool m_lensChange = false;
    bool m_widerAperture = false;
    double m_scale = 1;
    CDustRescale m_rescale;
    CDustBoxBlur m_blur;
    std::int64_t m_darkCount = -1;

    LONG m_width = 0;
    LONG m_height = 0;
    LONG m_tileSize = 0;
    LONG m_tilesPerRow = 0;
    LONG m_tileCount = 0;
    LONG m_tilesDone = 0;
    bool m_reverse = false; // the tile walk runs backwards in every other phase
    LONG m_phase = 0;
    LONG m_phaseCount = 0;
    std::vector<BYTE> m_tile;

    CDustImageEncoder m_encoder;
    CDustBlockList m_compressed;
};
