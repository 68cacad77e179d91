#include "CFltPlugin.h"

#include "filters/engine/ClearUncovered.h"
#include "platform/pravon/PravonGraph.h"
#include "rawlib/foundation/CSyncGlobal.h"

#include <algorithm>
#include <cstring>

namespace {

// One plug-in call at a time in the process: the plug-ins' callbacks and their libraries' state are
// not made for overlapping runs.
constinit Kv::CSyncGlobal g_pluginLock("CFltPlugin");

bool Accepted(LONG colorSpace) {
    return colorSpace == PravonColorSpace::kGrey8 || colorSpace == PravonColorSpace::kGrey16 ||
           colorSpace == PravonColorSpace::kRGB8 || colorSpace == PravonColorSpace::kRGB16;
}

} // namespace

CFltPlugin::CFltPlugin(IPravonManager* manager) : CPravonFilterBase(manager, 1) {}

CFltPlugin::~CFltPlugin() {
    if (m_plugin)
        m_plugin->UnregisterFilter(this);
}

IPravonError* CFltPlugin::SetPlugin(IPlugin* plugin, bool notify) {
    m_done = 0;
    if (plugin != m_plugin.Get()) {
        if (m_plugin)
            m_plugin->UnregisterFilter(this);
        m_plugin = CPluginRef(plugin);
        if (m_plugin)
            m_plugin->RegisterFilter(this);
    }
    SetCacheCheck();
    if (!m_plugin || !notify || PravonGetDataDestinationCount(this) == 0)
        return nullptr;
    IPravonDataSource* source = PravonGetDataSource(this, 0);
    if (!source)
        return nullptr;
    LONG width = 0, height = 0;
    if (IPravonError* error = source->GetSize(&width, &height))
        return PravonContext(error, kCode, "Cannot read the source's size");
    PravonRect whole{0, 0, width, height};
    return PravonSendDataNotification(this, PravonNotification::kData, &whole);
}

IPravonError* CFltPlugin::SetScaleAndResolution(double scale, double resolution, bool notify) {
    if (scale == m_scale && resolution == m_resolution)
        return nullptr;
    m_scale = scale;
    m_resolution = resolution;
    m_done = 0;
    SetCacheCheck();
    if (m_plugin)
        m_plugin->SettingsChanged();
    if (!notify || !IsEnabled() || PravonGetDataDestinationCount(this) == 0)
        return nullptr;
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    GetSources(&sources, &count);
    if (count == 0)
        return nullptr;
    LONG width = 0, height = 0;
    if (IPravonError* error = GetFilteredSize(sources, count, &width, &height))
        return PravonContext(error, kCode, "Cannot read the output size");
    PravonRect whole{0, 0, width, height};
    return PravonSendDataNotification(this, PravonNotification::kData, &whole);
}

IPravonError* CFltPlugin::PravonNotify(IPravonDataSource* source, LONG type, void* data) {
    if (m_plugin)
        m_plugin->SettingsChanged();
    return CPravonFilterBase::PravonNotify(source, type, data);
}

CPravonFilterBase::CHalo CFltPlugin::GetHalo(IPravonDataSource* const*, LONG) {
    return {m_padding, m_padding, m_padding, m_padding};
}

bool CFltPlugin::ReportProgress(LONG kind, LONG value, void* filter) {
    Progress progress;
    if (kind == 0) {
        progress = {0, 1};
    } else if (kind == 1) {
        progress = {value, 100};
    } else {
        progress = {100, 100};
    }
    // A watcher's error cannot stop the plug-in from here; it is dropped.
    PravonErrorPtr(static_cast<CFltPlugin*>(filter)->NotifyWatchers(kCode, &progress));
    return true;
}

IPravonError* CFltPlugin::Translate(SHORT result) const {
    return m_plugin->TranslateResult(result, kCode);
}

IPravonError* CFltPlugin::CheckRun(IPravonDataSource* source) const {
    if (!m_plugin)
        return PravonFail(kCode, PravonKind::kBadArgument, "The filter has no plug-in");
    LONG colorSpace = 0;
    if (IPravonError* error = source->GetColorSpace(&colorSpace))
        return PravonContext(error, kCode, "Cannot read the source's colour space");
    if (!Accepted(colorSpace))
        return PravonFail(kCode, PravonKind::kUnsupportedColorSpace,
                          "Plug-ins run on 8- and 16-bit grey and RGB images only");
    return nullptr;
}

IPravonError* CFltPlugin::Prepare() {
    const SHORT result = m_plugin->Prepare();
    m_padding = std::max<LONG>(m_plugin->GetFilterRecord().inputPadding, 0);
    if (result == KvPlugin::kPrepareDone) {
        m_done = 1;
        return nullptr;
    }
    return Translate(result);
}

IPravonError* CFltPlugin::Run(LONG input) {
    if (!m_plugin)
        return PravonFail(kCode, PravonKind::kBadArgument, "The filter has no plug-in");
    if (!m_plugin->IsReady())
        return nullptr;
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    GetSources(&sources, &count);
    const LONG index = input < 0 ? 0 : input;
    if (index >= count)
        return PravonFail(kCode, PravonKind::kNoSource, "The filter has no source at that input");
    IPravonDataSource* source = sources[index];
    LONG width = 0, height = 0;
    if (IPravonError* error = source->GetSize(&width, &height))
        return PravonContext(error, kCode, "Cannot read the source's size");
    if (IPravonError* error = CheckRun(source))
        return error;

    CKvSyncGuard guard(g_pluginLock);
    if (!m_plugin->PrepareForSource(source, m_scale, m_resolution))
        return PravonFail(kCode, PravonKind::kUnsupportedColorSpace,
                          "The plug-in has no mode for the source");
    PravonErrorPtr error(Translate(m_plugin->SetupRun(source, GetManager(), {0, 0, width, height})));
    if (!error)
        error.reset(Prepare());
    if (!error)
        error.reset(Translate(m_plugin->Run(ReportProgress, this)));
    if (!error)
        return Translate(m_plugin->Finish());
    m_plugin->Abandon();
    return error.release();
}

void CFltPlugin::CopyOutput(const IPlugin::Output& from, const CPravonRect& part, const COutputTile& to) {
    const std::size_t bytes = static_cast<std::size_t>(from.bytesPerSample);
    const std::size_t pixel = bytes * static_cast<std::size_t>(from.planes);
    for (LONG y = part.top; y < part.bottom; ++y) {
        BYTE* target = to.Row(y) + static_cast<std::size_t>(part.left - to.rect.left) * pixel;
        const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(y - from.rect.top) * from.rowBytes;
        const std::size_t column = static_cast<std::size_t>(part.left - from.rect.left);
        if (!from.planar) {
            std::memcpy(target, from.data + row + column * pixel,
                        static_cast<std::size_t>(part.Width()) * pixel);
            continue;
        }
        for (LONG x = 0; x < part.Width(); ++x)
            for (LONG p = 0; p < from.planes; ++p)
                std::memcpy(
                    target + static_cast<std::size_t>(x) * pixel + static_cast<std::size_t>(p) * bytes,
                    from.data + p * from.planeBytes + row + (column + static_cast<std::size_t>(x)) * bytes,
                    bytes);
    }
}

IPravonError* CFltPlugin::RunPart(IPravonDataSource* source, const CPravonRect& part,
                                  const COutputTile& out) {
    PravonErrorPtr error(Translate(m_plugin->SetupRun(source, GetManager(), part)));
    if (!error)
        error.reset(Prepare());
    if (!error)
        error.reset(Translate(m_plugin->Run(ReportProgress, this)));
    if (!error)
        error.reset(Translate(m_plugin->Process()));
    if (error) {
        m_plugin->Abandon();
        return error.release();
    }
    // Only what the host set up for this part is defined, whatever the plug-in did to its output
    // rectangle; the part lies inside the tile.
    CopyOutput(m_plugin->GetOutput(), part, out);
    return Translate(m_plugin->Finish());
}

IPravonError* CFltPlugin::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    IPravonDataSource* source = nullptr;
    if (!m_plugin)
        return PravonFail(kCode, PravonKind::kBadArgument, "The filter has no plug-in");
    if (IPravonError* error = GetFirstSource(info, &source))
        return PravonContext(error, kCode, "The filter has no source");
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        if (out.invalid.Empty())
            return nullptr;
        if (IPravonError* error = CheckRun(source))
            return error;
        if (IPravonError* error = ClearOutsideSource(source, out, PravonColorSpace::BitsPerPixel(out.colorSpace)))
            return PravonContext(error, kCode, "Cannot read the source size");
        IPravonTileGrid* rawGrid = nullptr;
        PravonErrorPtr mapError(source->MapRect(out.invalid, &rawGrid));
        PravonTileGridPtr grid(rawGrid);
        if (mapError)
            return PravonContext(mapError.release(), kCode, "Cannot map the tile on the source");
        if (!grid)
            return PravonFail(kCode, PravonKind::kMissingInput, "The source gave no tiles for the tile");

        CKvSyncGuard guard(g_pluginLock);
        if (!m_plugin->PrepareForSource(source, m_scale, m_resolution))
            return PravonFail(kCode, PravonKind::kUnsupportedColorSpace,
                              "The plug-in has no mode for the source");
        // Each source tile under the output tile is run on its own, as far as it lies in the output tile: no
        // work is done outside the tile, and nothing is copied outside it, whatever the two tile sizes.
        for (LONG row = 0; row < grid->GetRowCount(); ++row)
            for (LONG column = 0; column < grid->GetColumnCount(); ++column) {
                PravonRect part;
                if (IPravonError* error = grid->GetClippedRect(column, row, &part))
                    return PravonContext(error, kCode, "Cannot map the tile on the source");
                const CPravonRect clipped = CPravonRect(part).Intersect(out.invalid);
                if (clipped.Empty())
                    continue;
                if (IPravonError* error = RunPart(source, clipped, out))
                    return error;
            }
        return nullptr;
    });
}
