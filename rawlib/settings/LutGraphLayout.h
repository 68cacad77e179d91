// How the host's curve editor lays out its graphs on screen, which the channels read when they turn pointer
// positions and key presses into edits, and the two callbacks through which they report them.
#pragma once

#include "platform/pravon/PravonTypes.h"
#include "platform/win/wintypes.h"

#include <functional>

struct LutGraphStyle {
    LONG levelTolerance = 3; // pixels between the pointer and the level handle's row
    LONG widthTolerance = 3; // pixels between the pointer and the width handle's column
};

struct LutGraphLayout {
    PravonRect toneGraph{};
    PravonRect toneHandles{};       // the strip of the black, gamma and white handles
    PravonRect toneOutputHandles{}; // the strip of the output low and high handles
    PravonRect hueGraph{};
    PravonRect chromaGraph{};
    PravonRect levelHandle{};
    PravonRect widthHandle{};
    PravonRect modeButton{};
    LONG pickRadius = 4;
    bool zoomX = false; // the tone graph's x axis shows black..white
    bool zoomY = false; // the tone graph's y axis shows output low..high
    double toneVerticalStep = 0.01;
    double toneHorizontalStep = 0.01;
    double curveVerticalStep = 0.01;
    double curveHorizontalStep = 0.01;
    LutGraphStyle style;
    std::function<void(LONG code)> changed;  // a tracked edit changed the curve
    std::function<void(LONG code)> finished; // a tracked edit ended
};
