#include "rawlib/filters/revelation/CFltRevelation.h"

#include "filters/engine/ForEachSourcePart.h"
#include "platform/pravon/PravonGraph.h"

#include <cstring>
#include <new>

namespace {

// Rows the library works through between two progress records.
constexpr LONG kRowsPerStep = 100;

// Whether the code lays its samples out as grey or RGB, at whatever depth.
bool IsGreyOrRgbLayout(LONG colorSpace) {
    const ULONG layout = static_cast<ULONG>(colorSpace) & 0x1FFFF;
    return layout == (PravonColorSpace::kGrey8 & 0x1FFFF) || layout == (PravonColorSpace::kRGB8 & 0x1FFFF);
}

} // namespace

CFltRevelation::CFltRevelation(IPravonManager* manager) : CPravonFilterBase(manager, 0) {}

CFltRevelation::~CFltRevelation() = default;

IPravonError* CFltRevelation::SetParameters(LONG kind, LONG depth, BYTE flag, bool notify) {
    if (kind == m_kind && depth == m_depth && (flag != 0) == (m_flagByte != 0))
        return nullptr;
    m_statisticsDirty = true;
    m_outputDirty = true;
    SetCacheCheck();
    m_kind = kind;
    m_depth = depth;
    m_flagByte = flag;
    return notify ? AnnounceWholeOutput() : nullptr;
}

IPravonError* CFltRevelation::SetParameters2(LONG p1, LONG p2, LONG p3, bool notify) {
    if (p1 == m_p1 && p2 == m_p2 && p3 == m_p3)
        return nullptr;
    m_outputDirty = true;
    SetCacheCheck();
    m_p1 = p1;
    m_p2 = p2;
    m_p3 = p3;
    return notify ? AnnounceWholeOutput() : nullptr;
}

IPravonError* CFltRevelation::AnnounceWholeOutput() {
    IPravonDataSource* const* sources = nullptr;
    LONG count = 0;
    GetSources(&sources, &count);
    if (!IsEnabled() || count == 0)
        return nullptr;
    LONG width = 0;
    LONG height = 0;
    if (IPravonError* e = GetFilteredSize(sources, count, &width, &height))
        return PravonContext(e, kCode, "the size of the Revelation output");
    PravonRect whole{0, 0, width, height};
    return PravonContext(PravonSendDataNotification(this, PravonNotification::kData, &whole), kCode,
                         "announcing the Revelation output");
}

IPravonError* CFltRevelation::PravonNotify(IPravonDataSource* source, LONG type, void* data) {
    switch (type) {
    case PravonNotification::kData:
    case PravonNotification::kSize:
    case PravonNotification::kColorSpace:
    case PravonNotification::kPalette:
    case PravonNotification::kDestroyed:
    case PravonNotification::kUpdateAll:
        m_statisticsDirty = true;
        m_outputDirty = true;
        break;
    case PravonNotification::kResolution:
        m_outputDirty = true;
        break;
    default:
        break;
    }
    if (type != PravonNotification::kData && type != PravonNotification::kResolution)
        return CPravonFilterBase::PravonNotify(source, type, data);
    LONG width = 0;
    LONG height = 0;
    if (IPravonError* e = source->GetSize(&width, &height))
        return PravonContext(e, kCode, "the size of the Revelation source");
    // The output's new resolution is read with the geometry.
    if (type == PravonNotification::kResolution)
        SetCacheCheck();
    PravonRect whole{0, 0, width, height};
    return PravonContext(CPravonFilterBase::PravonNotify(source, PravonNotification::kData, &whole), kCode,
                         "passing on a change of the Revelation source");
}

IPravonError* CFltRevelation::CheckCache() {
    if (IsCacheCheckSet() || !GetCacheImage()) {
        m_outputDirty = true;
        if (!GetCacheImage())
            m_statisticsDirty = true;
    }
    return PravonContext(CPravonFilterBase::CheckCache(), kCode, "the Revelation cache");
}

CPravonFilterBase::CProcessInfo* CFltRevelation::AllocateProcessInfo(LONG, IPravonDataSource* const* sources,
                                                                     LONG count, IPravonImage* image) {
    try {
        return new CRevProcInfo(sources, count, image);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

IPravonError* CFltRevelation::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    // A pass's record is this filter's own; any other record is taken for a pass of its own that needs both
    // passes.
    auto* pass = dynamic_cast<CRevProcInfo*>(info);
    std::unique_ptr<CRevProcInfo> adopted;
    if (info && !pass) {
        try {
            adopted = std::make_unique<CRevProcInfo>(info->sources.data(),
                                                     static_cast<LONG>(info->sources.size()), info->image);
        } catch (const std::bad_alloc&) {
            return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for a Revelation pass");
        }
        pass = adopted.get();
    }
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        IPravonDataSource* source = nullptr;
        if (IPravonError* e = GetFirstSource(info, &source))
            return PravonContext(e, kCode, "the Revelation source");
        LONG colorSpace = 0;
        if (IPravonError* e = source->GetColorSpace(&colorSpace))
            return PravonContext(e, kCode, "the Revelation source");
        if (!IsGreyOrRgbLayout(colorSpace))
            return PravonFail(kCode, PravonKind::kUnsupportedColorSpace, "Bad source data color space");
        if (IsEnabled()) {
            if (IPravonError* e = RunProcess(source, pass))
                return PravonContext(e, kCode, "Revelation");
        }
        // A cancelled run turned the filter off, and an off filter shows its source.
        return IsEnabled() ? nullptr : CopySource(source, colorSpace, out);
    });
}

IPravonError* CFltRevelation::CopySource(IPravonDataSource* source, LONG colorSpace, const COutputTile& out) {
    const std::size_t pixel = static_cast<std::size_t>(GetBitsPerPixel(colorSpace) / 8);
    if (GetBitsPerPixel(out.colorSpace) != GetBitsPerPixel(colorSpace))
        return PravonFail(kCode, PravonKind::kUnsupportedColorSpace,
                          "the Revelation output does not match its source");
    return ForEachSourcePart(source, out.invalid, [&](const CSourcePart& piece) -> IPravonError* {
        for (LONG y = piece.part.top; y < piece.part.bottom; ++y)
            std::memcpy(out.Row(y) + static_cast<std::size_t>(piece.part.left - out.rect.left) * pixel,
                        piece.Row(y) +
                            static_cast<std::size_t>(piece.part.left - piece.tileRect.left) * pixel,
                        static_cast<std::size_t>(piece.part.Width()) * pixel);
        return nullptr;
    });
}

IPravonError* CFltRevelation::RunStatistics(IPravonDataSource* source, CRevProcInfo* info) {
    if (!info) {
        if (IPravonError* e = CheckCache())
            return e;
    }
    bool& needed = info ? info->statisticsNeeded : m_statisticsDirty;
    if (!needed)
        return nullptr;
    return RunPass(info, kStatisticsCode, needed, [&](CREVProcess& session) {
        return session.BeginWhole(source, nullptr, m_flagByte, m_depth, m_kind, nullptr);
    });
}

IPravonError* CFltRevelation::RunProcess(IPravonDataSource* source, CRevProcInfo* info) {
    if (IPravonError* e = RunStatistics(source, info))
        return e;
    // Statistics that were cancelled leave the filter off, and no output is mapped from them.
    bool& needed = info ? info->outputNeeded : m_outputDirty;
    if (!IsEnabled() || !needed)
        return nullptr;
    IPravonImage* destination = info ? info->image : GetCacheImage();
    return RunPass(info, kOutputCode, needed, [&](CREVProcess& session) {
        return session.BeginTiled(source, m_p1, m_p2, m_p3, destination, m_flagByte, m_depth, m_kind, true,
                                  nullptr);
    });
}

IPravonError* CFltRevelation::RunPass(CRevProcInfo* info, LONG code, bool& needed,
                                      TFunctionRef<IPravonError*(CREVProcess& session)> begin) {
    CProgress progress{code, 0, 1, 1, true};
    CREVProcess* session = nullptr;
    IPravonError* failure = NotifyWatchers(kProgressNotification, &progress);
    if (!failure)
        failure = Session(info, &session);
    if (!failure)
        failure = begin(*session);
    while (!failure && progress.continueRun && !session->IsIdle()) {
        LONG done = 0;
        failure = session->Process(&done, kRowsPerStep);
        if (!failure) {
            progress.progress = done;
            progress.total = 100;
            failure = NotifyWatchers(kProgressNotification, &progress);
        }
    }
    const bool cancelled = !progress.continueRun;
    if (!failure && !cancelled) {
        progress.progress = 1;
        progress.total = 1;
        failure = NotifyWatchers(kProgressNotification, &progress);
    }
    // A run still under way after an error or a cancel is aborted, so that its lock and memory go.
    if (session && !session->IsIdle())
        failure = IPravonError::Chain(failure, session->Abort());
    if (failure || cancelled)
        return IPravonError::Chain(failure, Enable(false, true));
    needed = false;
    return nullptr;
}

IPravonError* CFltRevelation::Session(CRevProcInfo* info, CREVProcess** session) {
    std::unique_ptr<CREVProcess>& owner = info ? info->session : m_session;
    if (!owner) {
        try {
            owner = std::make_unique<CREVProcess>(GetManager(), 1);
        } catch (const std::bad_alloc&) {
            return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for a Revelation session");
        }
    }
    *session = owner.get();
    return nullptr;
}
