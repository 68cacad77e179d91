#include "CFltFnRedeye.h"

#include "filters/engine/ClearUncovered.h"
#include "filters/engine/ForEachSourcePart.h"
#include "filters/engine/Int32Math.h"
#include "platform/pravon/PravonGraph.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string>

namespace {

constexpr ULONG kTagModel = 0x110;
constexpr ULONG kTagSubjectDistance = 0x9206;
constexpr ULONG kTagFlash = 0x9209;
constexpr ULONG kTagFocalLength = 0x920A;
// Tag data types as the tag control is told them.
constexpr LONG kTypeAscii = 2;
constexpr LONG kTypeLong = 4;
constexpr LONG kTypeDouble = 12;

// The error kind of a library result other than RE_OK.
LONG KindOf(DWORD result) {
    switch (result) {
    case RE_S_NOTHING:
        return 0;
    case RE_E_ARGUMENT:
        return PravonKind::kBadArgument;
    case RE_E_MEMORY:
        return PravonKind::kOutOfMemory;
    default:
        return PravonKind::kInvalidState;
    }
}

IPravonError* LibraryFail(LONG kind, const char* what, DWORD result,
                          PravonSourceLocation at = PravonSourceLocation::current()) {
    char text[160];
    std::snprintf(text, sizeof text, "%s (red-eye library result 0x%08" PRIX32 ")", what, result);
    return PravonFail(CFltFnRedeye::kCode, kind, text, at);
}

// The host's callback and its context, handed to the library's progress routine.
struct ProgressBridge {
    CFltFnRedeye::ProgressCallback host;
    LONG context;
};

int ReportProgress(void* context, int state, int value) {
    const auto* bridge = static_cast<const ProgressBridge*>(context);
    const LONG mapped = state == 0 ? 0 : state == 2 ? 2 : 1;
    return bridge->host(mapped, value, bridge->context) ? 0 : 1;
}

// Stored region bytes go to and come from the library through a region buffer; a call that cannot move
// every byte asked for fails, so the library never reads past what was stored.
int ReadStored(void* context, void* destination, DWORD length) {
    return static_cast<CKvRegionBuffer*>(context)->Read(destination, length) == length ? 1 : 0;
}

int WriteStored(void* context, const void* bytes, DWORD length) {
    return static_cast<CKvRegionBuffer*>(context)->Write(bytes, length) == length ? 1 : 0;
}

// Copies the rows of a source piece into pixels held in memory, where `origin` is the pixel at (left, top).
void CopyPiece(const CSourcePart& piece, BYTE* origin, LONG left, LONG top, std::size_t rowBytes,
               std::size_t pixel) {
    const CPravonRect& clip = piece.part;
    const std::size_t run = static_cast<std::size_t>(clip.right - clip.left) * pixel;
    for (LONG y = clip.top; y < clip.bottom; ++y)
        std::memcpy(origin + static_cast<std::size_t>(y - top) * rowBytes +
                        static_cast<std::size_t>(clip.left - left) * pixel,
                    piece.Row(y) + static_cast<std::size_t>(clip.left - piece.tileRect.left) * pixel, run);
}

// The red-eye library works on 8- and 16-bit RGB.
IPravonError* CheckColorSpace(LONG colorSpace) {
    if (colorSpace == PravonColorSpace::kRGB8 || colorSpace == PravonColorSpace::kRGB16)
        return nullptr;
    return PravonFail(CFltFnRedeye::kCode, PravonKind::kUnsupportedColorSpace, "Bad source data color space");
}

// Adds a further error to those collected so far (null adds nothing).
void Collect(PravonErrorPtr& all, IPravonError* error) {
    all.reset(IPravonError::Chain(all.release(), error));
}

// A temporary region list that frees what is left in it.
struct TemporaryList {
    TemporaryList() { ReListInit(&head); }
    ~TemporaryList() { ReListEmpty(&head); }
    TemporaryList(const TemporaryList&) = delete;
    TemporaryList& operator=(const TemporaryList&) = delete;
    ReList head;
};

bool IsEmpty(const ReList& list) {
    return ReListNext(&list, nullptr) == nullptr;
}

// An 8-byte real tag as a whole number; anything else leaves the value as it is.
IPravonError* ReadWholeNumberTag(IPravonTagControl* tags, ULONG tag, LONG* value) {
    if (tags->GetTagSize(tag) != sizeof(double))
        return nullptr;
    double real = 0;
    if (IPravonError* e = tags->ReadTag(tag, kTypeDouble, sizeof real, &real))
        return e;
    *value = Int32Math::SaturatedTrunc(real);
    return nullptr;
}

} // namespace

CFltFnRedeye::CFltFnRedeye(IPravonManager* manager) : CPravonFilterBase(manager, 1) {
    ReListInit(&m_automatic);
    ReListInit(&m_manual);
}

CFltFnRedeye::~CFltFnRedeye() {
    ReListEmpty(&m_automatic);
    ReListEmpty(&m_manual);
}

IPravonError* CFltFnRedeye::ReadCameraTags(IPravonTagControl* tags) {
    if (m_camera.size)
        return nullptr;
    if (!tags)
        return PravonFail(kCode, PravonKind::kBadArgument, "no tag control to read the camera tags from");
    ReCameraInfo camera{sizeof(ReCameraInfo), nullptr, 0, 0, 0};
    std::unique_ptr<char[]> model;
    if (tags->TagExists(kTagModel)) {
        const ULONG size = tags->GetTagSize(kTagModel);
        // One byte more than the tag holds, so that the text ends even when the tag's own end is missing.
        model.reset(new (std::nothrow) char[static_cast<std::size_t>(size) + 1]());
        if (!model)
            return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for the camera model");
        if (size)
            if (IPravonError* e = tags->ReadTag(kTagModel, kTypeAscii, size, model.get()))
                return PravonContext(e, kCode, "cannot read the camera model");
        camera.model = model.get();
    }
    if (IPravonError* e = ReadWholeNumberTag(tags, kTagFocalLength, &camera.focalLength))
        return PravonContext(e, kCode, "cannot read the focal length");
    if (IPravonError* e = ReadWholeNumberTag(tags, kTagSubjectDistance, &camera.subjectDistance))
        return PravonContext(e, kCode, "cannot read the subject distance");
    if (tags->GetTagSize(kTagFlash) == sizeof(LONG)) {
        LONG flash = 0;
        if (IPravonError* e = tags->ReadTag(kTagFlash, kTypeLong, sizeof flash, &flash))
            return PravonContext(e, kCode, "cannot read the flash tag");
        camera.flash = flash != 0 ? 1 : 0;
    }
    m_model = std::move(model);
    m_camera = camera;
    m_image.camera = &m_camera;
    return nullptr;
}

CFltFnRedeye::Shown CFltFnRedeye::ShownLists() const {
    switch (m_mode) {
    case CKvFnRedEye::kModeAutomatic:
        return {m_automaticShown, false};
    case CKvFnRedEye::kModeManual:
        return {m_keepAutomatic != 0, true};
    default:
        return {};
    }
}

ReList* CFltFnRedeye::ListOf(RegionListId which) {
    return which == kAutomaticList ? &m_automatic : &m_manual;
}

const ReList* CFltFnRedeye::GetRegionList(RegionListId which) const {
    return which == kAutomaticList ? &m_automatic : &m_manual;
}

IPravonError* CFltFnRedeye::SetMode(LONG mode, bool notify) {
    if (mode == m_mode)
        return nullptr;
    if (mode != CKvFnRedEye::kModeOff && mode != CKvFnRedEye::kModeAutomatic &&
        mode != CKvFnRedEye::kModeManual)
        return PravonFail(kCode, PravonKind::kOutOfRange, "no such red-eye mode");
    const Shown before = ShownLists();
    const LONG previous = m_mode;
    // Automatic regions kept in manual mode stay in the picture when automatic mode returns; otherwise
    // they come back with detection.
    m_automaticShown =
        mode == CKvFnRedEye::kModeAutomatic && previous == CKvFnRedEye::kModeManual && m_keepAutomatic != 0;
    m_mode = mode;
    // Going from automatic to manual always announces the manual corrections.
    const bool notifyManual = notify || (previous == CKvFnRedEye::kModeAutomatic);
    return ChangeShown(before, notify, notifyManual);
}

IPravonError* CFltFnRedeye::SetKeepAutomatic(BYTE keep, bool notify) {
    if ((keep != 0) == (m_keepAutomatic != 0)) {
        m_keepAutomatic = keep;
        return nullptr;
    }
    const Shown before = ShownLists();
    m_keepAutomatic = keep;
    return ChangeShown(before, notify);
}

void CFltFnRedeye::SetClickPoint(LONG x, LONG y) {
    m_click = {x, y};
    m_pointPending = true;
}

IPravonError* CFltFnRedeye::ChangeShown(const Shown& before, bool notify, bool notifyManual) {
    const Shown after = ShownLists();
    PravonErrorPtr err;
    const bool restoreManual = before.manual && !after.manual;
    const bool restoreAutomatic = before.automatic && !after.automatic;
    if (restoreManual)
        Collect(err, Restore(m_manual, notify));
    if (restoreAutomatic)
        Collect(err, Restore(m_automatic, notify));
    if (restoreManual || restoreAutomatic)
        Collect(err, CorrectLists(before.automatic && after.automatic, before.manual && after.manual));
    if (!before.automatic && after.automatic)
        Collect(err, Apply(m_automatic, notify));
    if (!before.manual && after.manual)
        Collect(err, Apply(m_manual, notifyManual));
    return err.release();
}

IPravonError* CFltFnRedeye::DetectAuto(ProgressCallback progress, LONG context, bool notify) {
    if (IPravonError* e = SetMode(CKvFnRedEye::kModeAutomatic, notify))
        return e;
    PravonErrorPtr detection;
    if (!m_automaticDone) {
        if (IPravonError* e = RefreshCopy())
            return e;
        // Regions loaded before detection ran stand for it.
        if (IsEmpty(m_automatic)) {
            ProgressBridge bridge{progress, context};
            const DWORD result =
                ReDetectAuto(&m_image, 0, progress ? ReportProgress : nullptr, &bridge, 0, &m_automatic);
            if (result != RE_OK)
                detection.reset(LibraryFail(KindOf(result), "automatic red-eye detection failed", result));
        }
        m_automaticDone = true;
    }
    m_automaticShown = true;
    return IPravonError::Chain(detection.release(), Apply(m_automatic, notify));
}

IPravonError* CFltFnRedeye::DetectAtPoint(bool notify) {
    if (!m_pointPending)
        return nullptr;
    m_pointPending = false;
    const RePoint point = m_click;
    if (IPravonError* e = SetMode(CKvFnRedEye::kModeManual, notify))
        return e;
    if (IPravonError* e = RefreshCopy())
        return e;
    TemporaryList found;
    if (ReDetectNearest(&m_image, &point, kNearestRadius, 0, 0, 0, &found.head) != RE_OK ||
        ReCorrectRegions(&m_image, &found.head, nullptr, nullptr, kCorrectionStrength) != RE_OK)
        return nullptr;
    const ReRegion* first = ReListNext(&found.head, nullptr);
    if (!first)
        return nullptr;
    const ReRegion firstBox = *first;
    IPravonError* err = Changed(found.head, false);
    ReListMerge(&m_manual, &found.head);
    return IPravonError::Chain(err, ChangedRegion(firstBox, notify));
}

IPravonError* CFltFnRedeye::ClearRegions(bool notify) {
    const Shown shown = ShownLists();
    PravonErrorPtr err;
    if (shown.manual)
        err.reset(Restore(m_manual, notify));
    ReListEmpty(&m_manual);
    if (shown.manual)
        Collect(err, CorrectShown());
    return err.release();
}

IPravonError* CFltFnRedeye::LoadRegions(RegionListId which, CKvFnRedEye::RegionList& stored) {
    ReList* list = ListOf(which);
    const Shown shown = ShownLists();
    const bool isShown = which == kAutomaticList ? shown.automatic : shown.manual;
    PravonErrorPtr err;
    // Shown regions go from the picture with the old list and come with the new one.
    if (isShown)
        Collect(err, Restore(*list, false));
    ReListEmpty(list);
    for (CKvRegionBuffer& buffer : stored) {
        buffer.Rewind();
        ReRegion* region = nullptr;
        const DWORD loaded = ReLoadRegion(ReadStored, &buffer, buffer.GetSize(), &region);
        if (loaded != RE_OK) {
            Collect(err, LibraryFail(KindOf(loaded), "a stored red-eye region cannot be loaded", loaded));
            continue;
        }
        if (const DWORD inserted = ReListInsert(list, region); inserted != RE_OK)
            Collect(err, LibraryFail(KindOf(inserted), "a stored red-eye region cannot be listed", inserted));
    }
    if (isShown) {
        Collect(err, CorrectShown());
        Collect(err, Changed(*list, false));
    }
    return err.release();
}

IPravonError* CFltFnRedeye::GetRegions(RegionListId which, CKvFnRedEye::RegionList& stored, bool replaceAll) {
    const ReList* list = ListOf(which);
    if (IsEmpty(*list))
        return nullptr;
    PravonErrorPtr err;
    auto saveAll = [&] {
        for (const ReRegion* r = ReListNext(list, nullptr); r; r = ReListNext(list, r))
            Collect(err, SaveRegion(*r, stored));
    };
    if (replaceAll) {
        stored.clear();
        saveAll();
    } else if (which == kManualList) {
        // The last region is the one the last click added.
        err.reset(SaveRegion(*ReListPrev(list, nullptr), stored));
    } else if (m_automaticDone && stored.empty()) {
        saveAll();
    }
    return err.release();
}

IPravonError* CFltFnRedeye::SaveRegion(const ReRegion& region, CKvFnRedEye::RegionList& stored) {
    DWORD size = 0;
    if (const DWORD result = ReSaveRegion(&region, nullptr, nullptr, &size); result != RE_OK)
        return LibraryFail(KindOf(result), "the red-eye library cannot size a region", result);
    CKvRegionBuffer buffer;
    if (!buffer.Allocate(size))
        return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for a saved red-eye region");
    // A region whose bytes did not all arrive is not stored: it could not be loaded again.
    if (const DWORD result = ReSaveRegion(&region, WriteStored, &buffer, &size); result != RE_OK)
        return LibraryFail(KindOf(result), "the red-eye library cannot save a region", result);
    if (buffer.GetRemaining() != 0)
        return PravonFail(kCode, PravonKind::kInvalidState,
                          "the red-eye library saved fewer bytes than it said");
    buffer.Rewind();
    try {
        stored.push_back(std::move(buffer));
    } catch (const std::bad_alloc&) {
        return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory to store a red-eye region");
    }
    return nullptr;
}

IPravonError* CFltFnRedeye::RefreshCopy() {
    if (!m_copyStale)
        return nullptr;
    IPravonDataSource* source = nullptr;
    if (IPravonError* e = GetFirstSource(nullptr, &source))
        return e;
    LONG width = 0, height = 0, colorSpace = 0;
    if (IPravonError* e = source->GetWidth(&width))
        return PravonContext(e, kCode, "cannot read the source's width");
    if (IPravonError* e = source->GetHeight(&height))
        return PravonContext(e, kCode, "cannot read the source's height");
    if (IPravonError* e = source->GetColorSpace(&colorSpace))
        return PravonContext(e, kCode, "cannot read the source's colour space");
    if (IPravonError* e = CheckColorSpace(colorSpace))
        return e;
    const LONG bytesPerPixel = colorSpace == PravonColorSpace::kRGB16 ? 6 : 3;
    const std::int64_t rowBytes = std::int64_t{width} * bytesPerPixel;
    if (width <= 0 || height <= 0 || rowBytes > std::numeric_limits<LONG>::max())
        return PravonFail(kCode, PravonKind::kOutOfRange,
                          "the source is too large or empty for a working copy");

    m_image = {};
    m_image.camera = m_camera.size ? &m_camera : nullptr;
    try {
        std::vector<BYTE>().swap(m_copy);
        m_copy.assign(static_cast<std::size_t>(rowBytes) * static_cast<std::size_t>(height), 0);
    } catch (const std::bad_alloc&) {
        return PravonFail(kCode, PravonKind::kOutOfMemory, "no memory for the red-eye working copy");
    }
    m_bytesPerPixel = bytesPerPixel;
    IPravonError* copied = ForEachSourcePart(
        source, CPravonRect(0, 0, width, height), [&](const CSourcePart& piece) -> IPravonError* {
            CopyPiece(piece, m_copy.data(), 0, 0, static_cast<std::size_t>(rowBytes),
                      static_cast<std::size_t>(bytesPerPixel));
            return nullptr;
        });
    if (copied)
        return PravonContext(copied, kCode, "cannot copy the source into the red-eye working copy");
    m_image = {sizeof(ReImage),
               width,
               height,
               static_cast<LONG>(rowBytes),
               colorSpace == PravonColorSpace::kRGB16 ? RE_FORMAT_RGB16 : RE_FORMAT_RGB8,
               m_copy.data(),
               m_camera.size ? &m_camera : nullptr,
               {0, 0}};
    m_copyStale = false;
    m_pointPending = false;
    // Regions loaded into automatic mode before detection ran are corrected as detection's would be.
    if (m_mode == CKvFnRedEye::kModeAutomatic && !m_automaticDone && !IsEmpty(m_automatic)) {
        m_automaticShown = true;
        m_automaticDone = true;
    }
    return CorrectShown();
}

IPravonError* CFltFnRedeye::CorrectShown() {
    const Shown shown = ShownLists();
    return CorrectLists(shown.automatic, shown.manual);
}

IPravonError* CFltFnRedeye::CorrectLists(bool automatic, bool manual) {
    if (automatic)
        if (IPravonError* e = Correct(m_automatic))
            return e;
    if (manual)
        if (IPravonError* e = Correct(m_manual))
            return e;
    return nullptr;
}

IPravonError* CFltFnRedeye::Correct(const ReList& list) {
    if (m_copyStale || IsEmpty(list))
        return nullptr;
    const DWORD result = ReCorrectRegions(&m_image, &list, nullptr, nullptr, kCorrectionStrength);
    if (result == RE_OK)
        return nullptr;
    // The copy holds part of the corrections at most: the next use makes it again and tries again.
    m_copyStale = true;
    return LibraryFail(PravonKind::kInvalidState, "the red-eye library cannot correct the regions", result);
}

IPravonError* CFltFnRedeye::Apply(const ReList& list, bool notify) {
    if (IsEmpty(list))
        return nullptr;
    IPravonError* err = Correct(list);
    return IPravonError::Chain(err, Changed(list, notify));
}

IPravonError* CFltFnRedeye::Restore(const ReList& list, bool notify) {
    if (IsEmpty(list))
        return nullptr;
    IPravonError* err = nullptr;
    IPravonDataSource* source = OwnSource();
    if (!source)
        m_copyStale = true;
    if (!m_copyStale) {
        const std::size_t pixel = static_cast<std::size_t>(m_bytesPerPixel);
        const std::size_t rowBytes = static_cast<std::size_t>(m_image.rowBytes);
        for (const ReRegion* r = ReListNext(&list, nullptr); r && !err; r = ReListNext(&list, r)) {
            const CPravonRect rect =
                PictureRect(*r).Intersect(CPravonRect(0, 0, m_image.width, m_image.height));
            if (rect.Empty())
                continue;
            err = ForEachSourcePart(source, rect, [&](const CSourcePart& piece) -> IPravonError* {
                CopyPiece(piece, m_copy.data(), 0, 0, rowBytes, pixel);
                return nullptr;
            });
        }
        if (err) {
            m_copyStale = true;
            err = PravonContext(err, kCode, "cannot restore a red-eye region from the source");
        }
    }
    return IPravonError::Chain(err, Changed(list, notify));
}

IPravonError* CFltFnRedeye::Changed(const ReList& list, bool notify) {
    IPravonError* err = nullptr;
    for (const ReRegion* r = ReListNext(&list, nullptr); r; r = ReListNext(&list, r))
        err = IPravonError::Chain(err, ChangedRegion(*r, notify));
    return err;
}

IPravonError* CFltFnRedeye::ChangedRegion(const ReRegion& region, bool notify) {
    CPravonRect rect = PictureRect(region);
    if (rect.Empty())
        return nullptr;
    if (IPravonError* e = InvalidateCache(rect))
        return e;
    if (!notify || PravonGetDataDestinationCount(this) == 0)
        return nullptr;
    PravonRect changed = rect;
    return PravonSendDataNotification(this, PravonNotification::kData, &changed);
}

IPravonDataSource* CFltFnRedeye::OwnSource() const {
    IPravonDataSource* source = nullptr;
    PravonErrorPtr missing(GetFirstSource(nullptr, &source));
    return missing ? nullptr : source;
}

CPravonRect CFltFnRedeye::PictureRect(const ReRegion& region) const {
    IPravonDataSource* source = OwnSource();
    LONG width = 0, height = 0;
    if (!source)
        return {};
    PravonErrorPtr widthError(source->GetWidth(&width));
    PravonErrorPtr heightError(source->GetHeight(&height));
    if (widthError || heightError)
        return {};
    // Right and bottom are the region's last column and row.
    const CPravonRect rect(region.left, region.top, Int32Math::SaturatedAdd(region.right, 1),
                           Int32Math::SaturatedAdd(region.bottom, 1));
    return rect.Intersect(CPravonRect(0, 0, width, height));
}

bool CFltFnRedeye::MeetsShownRegion(const PravonRect& tile) const {
    // A region meets the tile when they share a pixel: the region's last column and row are its own.
    auto meets = [&tile](const ReList& list) {
        for (const ReRegion* r = ReListNext(&list, nullptr); r; r = ReListNext(&list, r))
            if (r->left < tile.right && tile.left <= r->right && r->top < tile.bottom &&
                tile.top <= r->bottom)
                return true;
        return false;
    };
    const Shown shown = ShownLists();
    return (shown.automatic && meets(m_automatic)) || (shown.manual && meets(m_manual));
}

IPravonError* CFltFnRedeye::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        IPravonDataSource* source = nullptr;
        if (IPravonError* e = GetFirstSource(info, &source))
            return e;
        LONG colorSpace = 0;
        if (IPravonError* e = source->GetColorSpace(&colorSpace))
            return PravonContext(e, kCode, "cannot read the source's colour space");
        if (IPravonError* e = CheckColorSpace(colorSpace))
            return e;
        if (IPravonError* e = RefreshCopy())
            return e;
        const std::size_t pixel = colorSpace == PravonColorSpace::kRGB16 ? 6 : 3;
        const CPravonRect& invalid = out.invalid;
        const std::size_t runBytes = static_cast<std::size_t>(invalid.right - invalid.left) * pixel;

        // The working copy is of the filter's own source; a pass over other sources reads them alone.
        const bool fromCopy =
            OwnSource() == source && MeetsShownRegion(out.rect) &&
            CPravonRect(0, 0, m_image.width, m_image.height).Intersect(invalid) == invalid &&
            static_cast<std::size_t>(m_bytesPerPixel) == pixel;
        if (fromCopy) {
            for (LONG y = invalid.top; y < invalid.bottom; ++y)
                std::memcpy(out.Row(y) + static_cast<std::size_t>(invalid.left - out.rect.left) * pixel,
                            m_copy.data() +
                                static_cast<std::size_t>(y) * static_cast<std::size_t>(m_image.rowBytes) +
                                static_cast<std::size_t>(invalid.left) * pixel,
                            runBytes);
            return nullptr;
        }
        if (IPravonError* e = ClearOutsideSource(source, out, static_cast<LONG>(pixel * 8)))
            return e;
        return ForEachSourcePart(source, invalid, [&](const CSourcePart& piece) -> IPravonError* {
            CopyPiece(piece, out.data, out.rect.left, out.rect.top, static_cast<std::size_t>(out.rowBytes),
                      pixel);
            return nullptr;
        });
    });
}

IPravonError* CFltFnRedeye::CheckCache() {
    if (!GetCacheImage())
        m_copyStale = true;
    return CPravonFilterBase::CheckCache();
}

IPravonError* CFltFnRedeye::PravonNotify(IPravonDataSource* source, LONG type, void* data) {
    if (type >= 0)
        m_copyStale = true;
    return CPravonFilterBase::PravonNotify(source, type, data);
}
