// Where a plug-in's drawing requests end up: a 24-bit device-independent bitmap, first row on top, to be
// put at a position of the device context the plug-in named. The platform has no screen to draw on, so
// the drawing goes to whoever listens.
#pragma once

#include "platform/win/wintypes.h"

class IPluginDisplaySink {
public:
    virtual ~IPluginDisplaySink() = default;
    // The header gives a negative height (rows top first) and bits rows padded to 4 bytes, blue, green,
    // red; the bits hold biSizeImage bytes and live only during the call.
    virtual void DrawDib(void* context, LONG x, LONG y, const BITMAPINFOHEADER& header, const BYTE* bits) = 0;
};
