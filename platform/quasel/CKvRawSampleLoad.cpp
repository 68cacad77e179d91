#include "CKvRawSampleLoad.h"

#include "CPravonTagControl.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

namespace {

constexpr LONG kComponent = CKvRawSampleLoad::kComponent;

} // namespace

CKvRawSampleLoad::~CKvRawSampleLoad() {
    if (m_image)
        m_image->Release();
    if (m_tags)
        m_tags->Release();
}

ULONG CKvRawSampleLoad::AddRef() {
    return ++m_references;
}

ULONG CKvRawSampleLoad::Release() {
    const ULONG left = --m_references;
    if (left == 0)
        delete this;
    return left;
}

IPravonError* CKvRawSampleLoad::Open(IPravonFileStream* stream, IPravonTagControl* tags) {
    if (!stream || !tags)
        return PravonFail(kComponent, PravonKind::kBadArgument, "a loader needs a stream and a tag control");
    if (m_image) {
        m_image->Release();
        m_image = nullptr;
    }
    if (IPravonError* e = m_file.Open(stream))
        return PravonContext(e, kComponent, "the raw sample file was refused");
    auto* own = dynamic_cast<CPravonTagControl*>(tags);
    if (m_file.HasCameraModel() && !own)
        return PravonFail(kComponent, PravonKind::kBadArgument,
                          "this tag control cannot take a camera-model code");

    // The tag values are handed out as the file stores them: little-endian, which is this target's order.
    static_assert(std::endian::native == std::endian::little);
    const LONG size[3] = {m_file.GetWidth(), m_file.GetHeight(), m_file.GetColorSpace()};
    const ULONG sizeTags[3] = {CKvRawSampleFile::kWidthTag, CKvRawSampleFile::kHeightTag,
                               CKvRawSampleFile::kColorSpaceTag};
    for (int i = 0; i < 3; ++i)
        if (IPravonError* e = tags->WriteTag(sizeTags[i], 4, sizeof(LONG), &size[i]))
            return PravonContext(e, kComponent, "cannot give the source size to the tag control");
    for (const auto& tag : m_file.GetTags())
        if (IPravonError* e =
                tags->WriteTag(tag.tag, tag.type, static_cast<ULONG>(tag.value.size()), tag.value.data()))
            return PravonContext(e, kComponent, "cannot give a tag to the tag control");
    if (own) {
        if (m_file.HasCameraModel())
            own->SetCameraModel(m_file.GetCameraModel());
        else
            own->ClearCameraModel();
    }
    tags->AddRef();
    if (m_tags)
        m_tags->Release();
    m_tags = tags;
    return nullptr;
}

IPravonError* CKvRawSampleLoad::Begin(IPravonImage* image) {
    if (!image)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no image to load into");
    if (!m_file.IsOpen())
        return PravonFail(kComponent, PravonKind::kInvalidState, "the loader has no file open");
    if (IPravonError* e = image->SetColorSpace(m_file.GetColorSpace()))
        return PravonContext(e, kComponent, "cannot give the image its colour space");
    if (IPravonError* e = image->SetSize(m_file.GetWidth(), m_file.GetHeight()))
        return PravonContext(e, kComponent, "cannot give the image its size");
    LONG tileSize = 0;
    if (IPravonError* e = image->GetTileSize(&tileSize))
        return PravonContext(e, kComponent, "cannot read the image's tile size");
    if (tileSize < 1)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the image has no tiles");
    image->AddRef();
    if (m_image)
        m_image->Release();
    m_image = image;
    m_tileSize = tileSize;
    m_nextRow = 0;
    return nullptr;
}

IPravonError* CKvRawSampleLoad::Step() {
    if (!m_image)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the load has not begun");
    if (IsComplete())
        return nullptr;
    const LONG width = m_file.GetWidth();
    const LONG rows = std::min(m_tileSize, m_file.GetHeight() - m_nextRow);
    try {
        m_band.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(rows));
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for a band of rows");
    }
    if (IPravonError* e = m_file.ReadRows(m_nextRow, rows, m_band.data(), static_cast<std::size_t>(width)))
        return PravonContext(e, kComponent, "cannot read the mosaic");

    IPravonTileGrid* grid = nullptr;
    if (IPravonError* e = m_image->MapRect(CPravonRect(0, m_nextRow, width, m_nextRow + rows), &grid))
        return PravonContext(e, kComponent, "cannot map the band onto the image's tiles");
    IPravonError* err = nullptr;
    for (LONG r = 0; !err && r < grid->GetRowCount(); ++r) {
        for (LONG c = 0; !err && c < grid->GetColumnCount(); ++c) {
            void* data = nullptr;
            PravonRect tileRect;
            PravonRect clip;
            LONG rowBytes = 0;
            if ((err = m_image->LockTile(grid, c, r, &data, &tileRect, &clip, &rowBytes)))
                break;
            for (LONG y = clip.top; y < clip.bottom; ++y) {
                const WORD* from =
                    m_band.data() + static_cast<std::size_t>(y - m_nextRow) * width + clip.left;
                BYTE* to = static_cast<BYTE*>(data) + static_cast<std::size_t>(y - tileRect.top) * rowBytes +
                           static_cast<std::size_t>(clip.left - tileRect.left) * sizeof(WORD);
                std::memcpy(to, from, static_cast<std::size_t>(clip.right - clip.left) * sizeof(WORD));
            }
            IPravonTile* tile = nullptr;
            if (!(err = grid->GetTile(c, r, &tile)))
                tile->SetValid();
            err = IPravonError::Chain(err, m_image->UnlockTile(grid, c, r));
        }
    }
    grid->Release();
    if (err)
        return PravonContext(err, kComponent, "cannot fill the image's tiles");
    m_nextRow += rows;
    return nullptr;
}

IPravonError* CKvRawSampleLoad::LoadFile(IPravonManager* manager, const PravonFile& file,
                                         IPravonImage** image, IPravonTagControl** tags) {
    IPravonLoad* rawLoad = nullptr;
    if (IPravonError* e = IPravonLoad::CreateLoad(&rawLoad))
        return e;
    PravonLoadPtr load(rawLoad);
    return IPravonLoad::LoadFile(manager, file, image, tags, load.get());
}
