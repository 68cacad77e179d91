// The filter that applies one filter plug-in of another maker to its source: each output tile is the
// plug-in's output over the matching part of the source, with the input the plug-in asks for around it.
// A whole-image run calls the plug-in's run step, where it may ask the user (a parameters dialog), and
// keeps the parameters it leaves; tiles are then made with those parameters.
#pragma once

#include "filters/engine/CPravonFilterBase.h"
#include "platform/win/FourCC.h"
#include "rawlib/filters/CPluginRef.h"

class CFltPlugin : public CPravonFilterBase {
public:
    static constexpr LONG kCode = FourCC("Plug");
    static constexpr double kDefaultResolution = 300.0;

    // What watchers hear while the plug-in runs, as notification type kCode: position out of total.
    struct Progress {
        LONG position = 0;
        LONG total = 0;
        bool operator==(const Progress&) const = default;
    };

    explicit CFltPlugin(IPravonManager* manager);
    // Unregisters from the plug-in and lets it go.
    ~CFltPlugin() override;

    // Clears the done flag and drops the cached output. A plug-in (the same one again included) is held,
    // registered once and, with notify and a destination and a source, announced as a data change over the
    // whole source; null lets the current one go. A new plug-in replaces the old one's registration.
    IPravonError* SetPlugin(IPlugin* plugin, bool notify);
    IPlugin* GetPlugin() const { return m_plugin.Get(); }
    // Nothing when both are unchanged. Otherwise stores them, clears the done flag, drops the cached output,
    // tells the plug-in that its settings changed and, with notify, announces the whole output as changed.
    IPravonError* SetScaleAndResolution(double scale, double resolution, bool notify);
    double GetScale() const { return m_scale; }
    double GetResolution() const { return m_resolution; }
    // Set when the plug-in answered a prepare with "done"; cleared by the setters.
    bool IsDone() const { return m_done != 0; }

    // Runs the plug-in's run step over the whole image of the source at that input index (-1: the first
    // source): nothing when the plug-in is not ready; PravonKind::kBadArgument without a plug-in and
    // PravonKind::kUnsupportedColorSpace for a source other than 8- or 16-bit grey or RGB.
    IPravonError* Run(LONG input = -1);

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "Filter Plugin"; }

    // A change upstream also changes what the plug-in runs over.
    IPravonError* PravonNotify(IPravonDataSource* source, LONG type, void* data) override;

protected:
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;
    // The padding the plug-in last asked for: a changed source pixel reaches that far into the output.
    CHalo GetHalo(IPravonDataSource* const* sources, LONG count) override;
    // Every invalid pixel gets the plug-in's output (or the host's copy of the input).
    bool WritesWholeInvalidArea() const override { return true; }

private:
    // The watcher side of the plug-in's progress; the run is never stopped from here.
    static bool ReportProgress(LONG kind, LONG value, void* filter);
    // The plug-in and the source's colour space, or the error that stops a run.
    IPravonError* CheckRun(IPravonDataSource* source) const;
    // Prepare with the done answer noted; other answers as errors.
    IPravonError* Prepare();
    // One part of an output tile through the plug-in, from set-up to finish.
    IPravonError* RunPart(IPravonDataSource* source, const CPravonRect& part, const COutputTile& out);
    IPravonError* Translate(SHORT result) const;
    // The host's output of a part into the tile: every plane of each pixel, from either layout.
    static void CopyOutput(const IPlugin::Output& from, const CPravonRect& part, const COutputTile& to);

    CPluginRef m_plugin;
    double m_scale = 1.0;
    double m_resolution = kDefaultResolution;
    BYTE m_done = 0;
    LONG m_padding = 0;
};
