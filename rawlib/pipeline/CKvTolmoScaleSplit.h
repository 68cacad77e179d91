// How the development spreads its output scale over the scale stages: the reductions before the turn
// (the first and second scale stages), the enlargements after it (enlarge, enlarge to size) and the
// aspect correction.
#pragma once

#include "platform/win/wintypes.h"

struct CKvTolmoScaleSplit {
    // A stage on is set to the requested output size (bySize) or scaled by its factors; the factors of a
    // stage set by size say what that size amounts to, for a caller without a requested size.
    struct Stage {
        bool enabled = false;
        bool bySize = false;
        double sx = 1.0, sy = 1.0;
    };
    struct Input {
        double scale = 1.0;         // S: the source ratio times the output scale
        double settingsScale = 1.0; // K': the size settings' output scale factor times the source ratio
        double aspect = 1.0;        // A: the horizontal stretch the sensor's pixels need
        bool fisheye = false;
        bool cropped = false;
        LONG width = 0, height = 0; // W0, H0: the demosaiced size
    };
    // The first reduction's factor (1 when the first scale stage is off), then each stage's set-up.
    double firstReduction = 1.0;
    bool aspectConsumedByFirst = false;
    Stage first, second, enlarge, enlargeToSize, aspectStage;

    // Splits the input; false when the first scale stage needs the demosaiced size and it is 0 x 0.
    static bool Compute(const Input& in, CKvTolmoScaleSplit* split);
};
