// The adjustment stages the demo host can put between its demosaicing and its scaling, in the development
// pipeline's order and set up from settings as the pipeline sets them: vignette correction (from the
// picture's lens tags), moire reduction, fine edge, and colour noise reduction, which works on Lab: the
// picture goes there and back through two profiles of its own, written when needed.
#pragma once

#include "filters/CPravonFilterCMLEngine.h"
#include "filters/engine/CPravonFilterBase.h"
#include "platform/quasel/IPravonTagControl.h"

#include <memory>
#include <string>
#include <vector>

class CFltVignette;

class CKvDemoAdjustments {
public:
    struct Settings {
        LONG noiseLevel = 0; // the noise reduction settings' colour-noise level: 0 off, 1 .. 10
        LONG moireLevel = 0; // 0 off, 1 .. 3
        bool fineEdge = false;
        SHORT vignetteAmount = 0; // the vignette settings' amount: 0 off, 100 the full correction
    };

    // The strength of a colour-noise level (0.0 for a level outside 1 .. 10) and the moire filter's level of
    // a moire level (0 outside 1 .. 3).
    static double NoiseStrength(LONG level);
    static LONG MoireFilterLevel(LONG level);

    explicit CKvDemoAdjustments(IPravonManager* manager);
    ~CKvDemoAdjustments();
    CKvDemoAdjustments(const CKvDemoAdjustments&) = delete;
    CKvDemoAdjustments& operator=(const CKvDemoAdjustments&) = delete;

    // Connects the stages the settings ask for after input and gives the last (input itself for none).
    // Levels outside their ranges give PravonKind::kOutOfRange. input is 16-bit RGB in the demosaicing's
    // square-root domain; so is the output.
    IPravonError* Build(const Settings& settings, IPravonDataSource* input, IPravonTagControl* tags,
                        WORD cameraModel, IPravonDataSource** output);

private:
    IPravonError* Append(CPravonFilterBase* stage, IPravonDataSource** last);
    IPravonError* AppendLab(bool toLab, IPravonDataSource** last);
    IPravonError* WriteProfiles();

    IPravonManager* m_manager;
    // The stages, source first; the last goes first.
    std::vector<std::unique_ptr<CPravonFilterBase>> m_stages;
    std::vector<std::unique_ptr<CPravonFilterCMLEngine>> m_engines;
    std::string m_profileFolder;
    std::string m_cameraProfile;
    std::string m_labProfile;
};

// The vignette stage's set-up from the settings amount and the picture's tags: the sensor diagonal
// (0x8000A), the lens data (0x80083 and 0x80098 with the f-number of 0x829D), the amount x 0.01 and the
// pixels' aspect factor.
IPravonError* SetUpVignette(CFltVignette& vignette, SHORT amount, IPravonTagControl* tags, WORD cameraModel);
