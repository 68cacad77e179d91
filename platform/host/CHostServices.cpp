#include "CHostServices.h"

#include "CHostPhotos.h"

#include "platform/zizoraz/IproJpegCodec.h"
#include "platform/zizoraz/IproResample.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// The kind of a design's layout and page records.
constexpr DWORD kLayoutRecordKind = 0x1400;

} // namespace

ULONG CHostItem::AddRef() {
    return ++m_references;
}

ULONG CHostItem::Release() {
    const ULONG left = --m_references;
    if (left == 0)
        delete this;
    return left;
}

KvwResult CHostItem::GetProperty(DWORD id, CKvwItemProperty* property) {
    auto it = m_properties.find(id);
    if (!property || it == m_properties.end())
        return kKvwNothingToWorkOn;
    *property = it->second;
    return kKvwOk;
}

KvwResult CHostItem::GetPropertyText(DWORD id, std::string* text) {
    auto it = m_texts.find(id);
    if (!text || it == m_texts.end())
        return kKvwNothingToWorkOn;
    *text = it->second;
    return kKvwOk;
}

KvwResult CHostItem::GetRecord(DWORD id, BYTE* buffer, DWORD bufferSize, DWORD* length) {
    auto it = m_records.find(id);
    if (!length)
        return kKvwInvalidArgument;
    if (it == m_records.end())
        return kKvwNothingToWorkOn;
    const DWORD size = static_cast<DWORD>(it->second.size());
    *length = size;
    if (!buffer)
        return kKvwOk;
    if (bufferSize < size)
        return kKvwInvalidArgument;
    std::copy(it->second.begin(), it->second.end(), buffer);
    return kKvwOk;
}

std::vector<BYTE> CHostItemRecord::RecordWord(DWORD value) {
    return {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
            static_cast<BYTE>(value >> 24)};
}

void CHostItemRecord::SetSizeRecords(DWORD width, DWORD height) {
    records[KvwItemRecord::kWidth] = RecordWord(width);
    records[KvwItemRecord::kHeight] = RecordWord(height);
}

void CHostItemService::Add(const CHostItemRecord& item) {
    CHostItemRecord added = item;
    if (added.previewPicture) {
        added.previewWidth = added.previewPicture->width;
        added.previewHeight = added.previewPicture->height;
    }
    if (added.fullPicture) {
        added.fullWidth = added.fullPicture->width;
        added.fullHeight = added.fullPicture->height;
    }
    if (added.fullJpeg && !IproJpegCodec::ReadSize(added.fullJpeg->data(), added.fullJpeg->size(),
                                                   added.fullWidth, added.fullHeight))
        added.fullWidth = added.fullHeight = 0;
    std::lock_guard<std::mutex> guard(m_lock);
    m_madePreviews.erase(item.id);
    m_items[item.id] = std::move(added);
}

std::shared_ptr<const CHostPicture> CHostItemService::PreviewSource(KvwItemId id,
                                                                    const CKvwSizeRecord& wanted) {
    std::shared_ptr<const std::vector<BYTE>> jpeg;
    bool full = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_items.find(id);
        if (it == m_items.end())
            return nullptr;
        const CHostItemRecord& item = it->second;
        if (item.previewPicture)
            return item.previewPicture;
        jpeg = item.fullJpeg;
        full = item.fullPicture || (item.fullWidth > 0 && item.fullHeight > 0);
    }
    if (jpeg)
        return CHostPhotos::Decode(*jpeg, &wanted);
    if (full)
        return Picture(id, true);
    // The pattern of the preview's own size, not of one made since.
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_items.find(id);
    if (it == m_items.end() || it->second.previewWidth <= 0 || it->second.previewHeight <= 0)
        return nullptr;
    return std::make_shared<const CHostPicture>(
        CHostPicture::Pattern(it->second.previewWidth, it->second.previewHeight, it->second.channels));
}

bool CHostItemService::MakePreview(KvwItemId id, const CKvwSizeRecord& wanted) {
    const std::int64_t wantedWidth = wanted.width, wantedHeight = wanted.height;
    if (wantedWidth < 1 || wantedHeight < 1 || !IproLimits::Allowed(wantedWidth, wantedHeight))
        return false;
    const std::shared_ptr<const CHostPicture> source = PreviewSource(id, wanted);
    if (!source || source->width < 1 || source->height < 1 || source->ColorSpace() == 0)
        return false;
    // The side that needs the larger scale gets its wanted length; the other is at least its own.
    const double scale = std::max(static_cast<double>(wantedWidth) / source->width,
                                  static_cast<double>(wantedHeight) / source->height);
    const std::int64_t width = std::max<std::int64_t>(wantedWidth, std::llround(source->width * scale));
    const std::int64_t height = std::max<std::int64_t>(wantedHeight, std::llround(source->height * scale));
    IproPixels resized;
    if (!IproLimits::Allowed(width, height) ||
        !IproResample::Resize(source->ToPixels(), static_cast<LONG>(width), static_cast<LONG>(height),
                              resized))
        return false;
    auto made = std::make_shared<const CHostPicture>(CHostPicture::FromPixels(resized, source->channels));
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_items.count(id) == 0)
        return false;
    m_madePreviews[id] = std::move(made);
    return true;
}

std::shared_ptr<const CHostPicture> CHostItemService::Picture(KvwItemId id, bool full) {
    std::shared_ptr<const std::vector<BYTE>> jpeg;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_items.find(id);
        if (it == m_items.end())
            return nullptr;
        if (!full) {
            auto made = m_madePreviews.find(id);
            if (made != m_madePreviews.end())
                return made->second;
        }
        CHostItemRecord& item = it->second;
        std::shared_ptr<const CHostPicture>& picture = full ? item.fullPicture : item.previewPicture;
        jpeg = full && !picture ? item.fullJpeg : nullptr;
        if (!jpeg) {
            const LONG width = full ? item.fullWidth : item.previewWidth;
            const LONG height = full ? item.fullHeight : item.previewHeight;
            if (!picture && width > 0 && height > 0)
                picture =
                    std::make_shared<const CHostPicture>(CHostPicture::Pattern(width, height, item.channels));
            return picture;
        }
    }
    // A JPEG's picture is the file decoded at its full size.
    return CHostPhotos::Decode(*jpeg, nullptr);
}

bool CHostItemService::Has(KvwItemId id) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_items.count(id) != 0;
}

void CHostItemService::SetPagePicture(KvwItemId page, bool full,
                                      std::shared_ptr<const CHostPicture> picture) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto& pictures = m_pagePictures[page];
    (full ? pictures.second : pictures.first) = std::move(picture);
}

void CHostItemService::Hold(KvwItemId id, bool full) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_items.find(id);
    if (it != m_items.end())
        (full ? it->second.fullHeld : it->second.previewHeld) = true;
}

void CHostItemService::SetRecordDatabase(const CHostRecordDatabase* records) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_records = records;
}

KvwResult CHostItemService::GetSourceData(DWORD idLow, DWORD idHigh, CKvwSourceData* data, DWORD flags) {
    std::lock_guard<std::mutex> guard(m_lock);
    // A record id is told apart by the database knowing it: whatever fields are asked for, a record (a
    // design's page among them, which the host shows as an item) answers with its own.
    const KvwItemId id = KvwMakeItemId(idLow, idHigh);
    if (m_records && (flags == kKvwSourceRecordList || m_records->Find(id, nullptr)))
        return m_records->GetSourceData(id, data, flags);
    auto it = m_items.find(KvwMakeItemId(idLow, idHigh));
    if (it == m_items.end() || !data)
        return kKvwNothingToWorkOn;
    *data = it->second.source;
    return kKvwOk;
}

KvwResult CHostItemService::GetItemData(DWORD idLow, DWORD idHigh, CKvwItemData* data, DWORD) {
    std::lock_guard<std::mutex> guard(m_lock);
    const KvwItemId id = KvwMakeItemId(idLow, idHigh);
    auto it = m_items.find(id);
    if (it == m_items.end() || !data)
        return kKvwNothingToWorkOn;
    *data = it->second.data;
    // The records attached to the item follow its own entries; a design's layout record (kind 0x1400,
    // not a page) is flagged as the item's layout.
    for (KvwItemId record : m_records ? m_records->Attached(id) : KvwItemIdList{}) {
        CHostRecordDatabase::Record fields;
        const bool layout = m_records->Find(record, &fields) && fields.kind == kLayoutRecordKind &&
                            (fields.flags & kKvwDesignPageFlag) == 0;
        data->entries.push_back(CKvwItemEntry{record, layout ? kKvwItemEntryLayout : 0});
    }
    return kKvwOk;
}

KvwResult CHostItemService::GetItem(DWORD idLow, DWORD idHigh, IKvwItem** item) {
    if (!item)
        return kKvwInvalidArgument;
    *item = nullptr;
    const KvwItemId id = KvwMakeItemId(idLow, idHigh);
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_items.find(id);
    if (it == m_items.end())
        return kKvwNothingToWorkOn;
    *item = new CHostItem(it->second);
    return kKvwOk;
}

KvwResult CHostItemService::Image(DWORD idLow, DWORD idHigh, IKvwImage** image, bool full,
                                  const CKvwSizeRecord* wanted) {
    if (!image)
        return kKvwInvalidArgument;
    *image = nullptr;
    const KvwItemId id = KvwMakeItemId(idLow, idHigh);
    std::shared_ptr<const std::vector<BYTE>> jpeg;
    std::shared_ptr<const CHostPicture> page;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_items.find(id);
        if (it == m_items.end()) {
            auto rendered = m_pagePictures.find(id);
            if (rendered == m_pagePictures.end())
                return kKvwNothingToWorkOn;
            page = full ? rendered->second.second : rendered->second.first;
            if (!page)
                return kKvwNothingToWorkOn;
        } else if (!(full ? it->second.fullHeld : it->second.previewHeld)) {
            return kKvwNothingToWorkOn;
        } else if (full) {
            jpeg = it->second.fullJpeg;
        }
    }
    std::shared_ptr<const CHostPicture> picture = page   ? page
                                                  : jpeg ? DecodeFull(std::move(jpeg), wanted)
                                                         : Picture(id, full);
    if (!picture)
        return kKvwNothingToWorkOn;
    *image = new CHostImage(m_imaging, *picture);
    return kKvwOk;
}

std::shared_ptr<const CHostPicture>
CHostItemService::DecodeFull(std::shared_ptr<const std::vector<BYTE>> jpeg, const CKvwSizeRecord* wanted) {
    const DWORD wantedWidth = wanted ? wanted->width : 0, wantedHeight = wanted ? wanted->height : 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        // The kept bytes cannot go while they are kept, so no other JPEG can be at their address.
        if (m_lastDecoded.jpeg == jpeg && m_lastDecoded.wantedWidth == wantedWidth &&
            m_lastDecoded.wantedHeight == wantedHeight)
            return m_lastDecoded.picture;
    }
    std::shared_ptr<const CHostPicture> picture = CHostPhotos::Decode(*jpeg, wanted);
    if (picture && picture->samples.size() <= kKeptDecodeBytes) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_lastDecoded = DecodedJpeg{std::move(jpeg), wantedWidth, wantedHeight, picture};
    }
    return picture;
}

KvwResult CHostItemService::GetPreviewImage(DWORD idLow, DWORD idHigh, IKvwImage** image, DWORD,
                                            const CKvwSizeRecord*) {
    return Image(idLow, idHigh, image, false, nullptr);
}

KvwResult CHostItemService::GetFullImage(DWORD idLow, DWORD idHigh, IKvwImage** image, DWORD,
                                         const CKvwSizeRecord* size) {
    return Image(idLow, idHigh, image, true, size);
}

void CHostBrowseService::SetCurrentGroup(KvwItemId id) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_group = id;
}

void CHostBrowseService::SetSelectedItems(const KvwItemIdList& ids, KvwResult result) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_selected = ids;
    m_selectedResult = result;
}

void CHostBrowseService::SetGroupItems(const KvwItemIdList& ids, KvwResult result) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_groupItems = ids;
    m_groupResult = result;
}

KvwItemId CHostBrowseService::GetCurrentGroupId() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_group;
}

KvwResult CHostBrowseService::GetGroupItems(KvwItemIdList* ids) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!ids)
        return kKvwInvalidArgument;
    ids->clear();
    if (KvwSucceeded(m_groupResult))
        *ids = m_groupItems;
    return m_groupResult;
}

KvwResult CHostBrowseService::GetSelectedItems(KvwItemIdList* ids) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!ids)
        return kKvwInvalidArgument;
    ids->clear();
    if (KvwSucceeded(m_selectedResult))
        *ids = m_selected;
    return m_selectedResult;
}
