// The platform's filter plug-in: a plug-in library loaded at run time, its resources read, its entry
// called, its drawing turned into bitmaps for a display sink, and the memory still to be had.
#pragma once

#include "platform/plugins/CKvPluginLibrary.h"
#include "rawlib/filters/IPlugin.h"
#include "rawlib/filters/IPluginDisplaySink.h"

class CPluginWin : public IPlugin {
public:
    // Printed into the pixels per metre of every bitmap drawn.
    static constexpr LONG kPixelsPerMeter = 3880;
    static constexpr WORD kResourceId = KvPlugin::kPluginResourceId;

    CPluginWin() = default;
    ~CPluginWin() override;
    // A new plug-in, or null when memory runs out.
    static CPluginWin* Create();

    // Converts the rectangle of the pixel map, cut to the map's bounds, into a 24-bit bitmap (a grey map
    // into three equal channels, an RGB map into blue, green, red) and hands it to the display sink; 0
    // also when nothing is drawn.
    SHORT DisplayPixels(const KvPixelMap* source, const KvPluginRect* rect, LONG row, LONG column,
                        void* context) override;
    SHORT Load() override;
    void Unload() override;
    SHORT CallEntry(SHORT selector, void* record, std::intptr_t* data) override;
    void ResetFilterRecord() override;
    LONG GetFreeMemory() override;

    void SetDisplaySink(IPluginDisplaySink* sink) { m_sink = sink; }

private:
    CKvPluginLibrary m_library;
    KvPluginEntry m_entry = nullptr;
    IPluginDisplaySink* m_sink = nullptr;
};
