// The demo host: stands in for the suite's imaging component. It opens a raw sample through the I/O
// library, builds the development graph that exists so far (the standard or the high-quality demosaicing,
// set from the sample's colour-filter pattern, as-shot white balance and sensitivity, the adjustments set,
// optionally the automatic brightness measured by a histogram, the scaling to the output size, a quarter
// turn and optionally sharpening), pulls the output tile by tile and turns the square-root-domain result
// into display RGB through the process-wide square table.
#pragma once

#include "filters/CPravonFilterHistogram.h"
#include "filters/CPravonFilterScale.h"
#include "filters/CPravonFilterTransform.h"
#include "filters/CUnsharpMaskFilter.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/quasel/IPravonTagControl.h"
#include "rawlib/filters/CDeBayerBase.h"
#include "rawlib/filters/CFltAutoBrightness.h"
#include "rawlib/settings/CKvBrightness.h"
#include "tools/CKvDemoAdjustments.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CKvDemoHost {
public:
    explicit CKvDemoHost(LONG tileSize = CPravonMemoryManager::kDefaultTileSize);
    ~CKvDemoHost();
    CKvDemoHost(const CKvDemoHost&) = delete;
    CKvDemoHost& operator=(const CKvDemoHost&) = delete;

    IPravonError* Open(const std::string& samplePath);
    // The adjustments the next BuildGraph puts between the demosaicing and the scaling (none at first).
    void SetAdjustments(const CKvDemoAdjustments::Settings& settings) { m_settings = settings; }
    // The mosaic image, then the demosaicing with the pattern of tag 0xA302 and, for every camera model
    // but 257, the as-shot red and blue gains of tag 0x8000C as 12-bit input curves, then the scaling to
    // the adjustments set, then the scaling to the output size (scale 1 passes the picture through). With
    // autoBrightness a histogram and the automatic brightness follow the adjustments: the histogram is
    // counted whole first, and the tonal range is stretched from its measured black level. The turn of
    // SetRotation follows the scaling. A sharpening power above 0 then sharpens the picture with the
    // raised-cosine unsharp mask of that radius.
    IPravonError* BuildGraph(double scale = 1.0, bool autoBrightness = false, double sharpenRadius = 0,
                             double sharpenPower = 0);
    IPravonDataSource* GetOutput() const { return m_output; }
    // Read by the next BuildGraph: the high-quality demosaicing in place of the standard one, tuned by the
    // sensitivity of tag 0x80002, and a clockwise turn of the output by degrees (0 passes it through).
    void SetHighQuality(bool highQuality) { m_highQuality = highQuality; }
    void SetRotation(double degrees) { m_rotation = degrees; }
    IPravonImage* GetMosaic() const { return m_image.get(); }
    IPravonTagControl* GetTags() const { return m_tags.get(); }
    // The brightness settings that watch the automatic brightness: its measured levels, once measured.
    const CKvBrightness& GetBrightness() const { return m_brightness; }

    // Locks every output tile once, row by row, and writes it into rgb (8-bit sRGB, width x height);
    // progress hears (tiles done, tiles in all) after each tile.
    IPravonError* Develop(std::vector<BYTE>* rgb, LONG* width, LONG* height,
                          const std::function<void(LONG, LONG)>& progress);

    // Every tile of a 16-bit RGB output, each sample turned into 8 bits through `display` (65536 entries),
    // or its high byte when display is null.
    static IPravonError* PullRgb8(IPravonDataSource* output, const BYTE* display, std::vector<BYTE>* rgb,
                                  LONG* width, LONG* height, const std::function<void(LONG, LONG)>& progress);
    // Display value of a square-root-domain sample: squared back to linear light, then sRGB-encoded.
    static const BYTE* DisplayTable();

private:
    // Every stage after the demosaicing, downstream first.
    void ReleaseStages();
    // Puts the histogram and the automatic brightness after *output and makes the latter the output.
    IPravonError* AddAutoBrightness(IPravonDataSource** output);
    // The demosaicing chosen, tuned as the development does.
    std::unique_ptr<CDeBayerBase> MakeDemosaicing(WORD cameraModel);

    CPravonMemoryManager m_manager;
    PravonImagePtr m_image;
    PravonTagControlPtr m_tags;
    std::unique_ptr<CDeBayerBase> m_demosaic;
    CKvDemoAdjustments::Settings m_settings;
    std::unique_ptr<CKvDemoAdjustments> m_adjustments;
    std::unique_ptr<CPravonFilterHistogram> m_histogram;
    std::unique_ptr<CFltAutoBrightness> m_autoBrightness;
    CKvBrightness m_brightness;
    std::unique_ptr<CPravonFilterScale> m_scale;
    std::unique_ptr<CPravonFilterTransform> m_transform;
    std::unique_ptr<CUnsharpMaskFilter> m_sharpen;
    IPravonDataSource* m_output = nullptr;
    bool m_highQuality = false;
    double m_rotation = 0;
};
