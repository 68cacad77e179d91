// The services the host hands its modules: the item service over a table of items, and the browse service
// with the current group and its two id lists. The host owns them; the references the modules take are
// counted, so that a test can see every one given back.
#pragma once

#include "CHostRecordDatabase.h"

#include "CHostImage.h"
#include "CHostPicture.h"

#include "platform/kvtrtl/IKvwHost.h"
#include "platform/pravon/CPravonMemoryManager.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// An item of the host's table.
struct CHostItemRecord {
    KvwItemId id = 0;
    CKvwSourceData source;
    CKvwItemData data;
    // Sizes of the images the host can deliver (0 x 0: none), and whether it holds each one already or only
    // after a module has asked for it and the completion went out. A module that asks for the preview at a
    // size gets one made at that size (CHostItemService::MakePreview).
    LONG previewWidth = 0;
    LONG previewHeight = 0;
    bool previewHeld = false;
    LONG fullWidth = 0;
    LONG fullHeight = 0;
    bool fullHeld = false;
    // The pictures behind the images. A picture given sets the size of its image; an image without one
    // shows CHostPicture::Pattern of its size with this many channels.
    LONG channels = 3;
    std::shared_ptr<const CHostPicture> previewPicture;
    std::shared_ptr<const CHostPicture> fullPicture;
    // A JPEG file's bytes behind the full image instead of a picture: its header sets the image's size
    // (none when it declares no size), and each delivery decodes it, at the smallest eighth of its size
    // not below a wanted size; bytes that do not decode deliver nothing.
    std::shared_ptr<const std::vector<BYTE>> fullJpeg;
    std::map<DWORD, CKvwItemProperty> properties;
    // The properties as the host shows them (UTF-8 texts), and the item's records by id.
    std::map<DWORD, std::string> propertyTexts;
    std::map<DWORD, std::vector<BYTE>> records;

    // The 32-bit value's bytes as a record holds them (little-endian).
    static std::vector<BYTE> RecordWord(DWORD value);
    // Gives the item its width and height records (0x10000, 0x10001).
    void SetSizeRecords(DWORD width, DWORD height);
};

// An item handed to a module; it goes with its last reference.
class CHostItem final : public IKvwItem {
public:
    explicit CHostItem(const CHostItemRecord& record)
        : m_id(record.id), m_properties(record.properties), m_texts(record.propertyTexts),
          m_records(record.records) {}
    ULONG AddRef() override;
    ULONG Release() override;
    KvwResult GetProperty(DWORD id, CKvwItemProperty* property) override;
    KvwResult GetPropertyText(DWORD id, std::string* text) override;
    KvwResult GetRecord(DWORD id, BYTE* buffer, DWORD bufferSize, DWORD* length) override;
    KvwItemId Id() const { return m_id; }

private:
    ~CHostItem() = default;
    std::atomic<ULONG> m_references{1};
    const KvwItemId m_id;
    const std::map<DWORD, CKvwItemProperty> m_properties;
    const std::map<DWORD, std::string> m_texts;
    const std::map<DWORD, std::vector<BYTE>> m_records;
};

// Counts the references that modules hold; the host's own keeps the object alive regardless.
template <class Interface>
class CHostService : public Interface {
public:
    ULONG AddRef() override { return ++m_references; }
    ULONG Release() override { return --m_references; }
    // References held by modules.
    LONG HeldByModules() const { return static_cast<LONG>(m_references.load()) - 1; }

private:
    std::atomic<ULONG> m_references{1};
};

class CHostItemService : public CHostService<IKvwItemService> {
public:
    void Add(const CHostItemRecord& item);
    bool Has(KvwItemId id) const;
    // Makes the preview (or the full image) an image the host holds.
    void Hold(KvwItemId id, bool full);
    // The item's preview made anew at the size asked for, as the host makes one when a module asks for it:
    // the item's picture (the preview picture it was given, else its full image's, else the pattern of its
    // preview's size) resized with the canvas library, its proportions kept, to the smallest size that
    // covers the wanted one (so exactly that size when the proportions agree; enlarged when the picture is
    // smaller), in 8 bits. It stands for the item's preview from then on (until the item is added again).
    // False, with the preview left as it was, for an item without a picture or a wanted size that is empty
    // or beyond the canvas library's limits.
    bool MakePreview(KvwItemId id, const CKvwSizeRecord& wanted);
    // The picture behind the item's preview (the one made last, if any) or full image (its JPEG decoded,
    // or made from the pattern on first use), or null.
    std::shared_ptr<const CHostPicture> Picture(KvwItemId id, bool full);
    // The picture a module rendered for one of its design pages (page records, no items of the table):
    // held from then on as the page's preview or full image, and served as an item's are.
    void SetPagePicture(KvwItemId page, bool full, std::shared_ptr<const CHostPicture> picture);

    // Record lookups (kKvwSourceRecordList, and kKvwSourceRecordFields for an id the database knows) are
    // answered from the database, which the service does not own.
    void SetRecordDatabase(const CHostRecordDatabase* records);

    // 0x1101 for an item the table does not have (or an image it does not hold).
    KvwResult GetSourceData(DWORD idLow, DWORD idHigh, CKvwSourceData* data, DWORD flags) override;
    KvwResult GetItemData(DWORD idLow, DWORD idHigh, CKvwItemData* data, DWORD flags) override;
    KvwResult GetItem(DWORD idLow, DWORD idHigh, IKvwItem** item) override;
    KvwResult GetPreviewImage(DWORD idLow, DWORD idHigh, IKvwImage** image, DWORD mode,
                              const CKvwSizeRecord* size) override;
    KvwResult GetFullImage(DWORD idLow, DWORD idHigh, IKvwImage** image, DWORD mode,
                           const CKvwSizeRecord* size) override;

private:
    KvwResult Image(DWORD idLow, DWORD idHigh, IKvwImage** image, bool full, const CKvwSizeRecord* wanted);

    // The picture a preview is made from; null when the item has none.
    std::shared_ptr<const CHostPicture> PreviewSource(KvwItemId id, const CKvwSizeRecord& wanted);
    // An item's JPEG decoded for a full image at the wanted size (null: its own), or null when it does not
    // decode.
    std::shared_ptr<const CHostPicture> DecodeFull(std::shared_ptr<const std::vector<BYTE>> jpeg,
                                                   const CKvwSizeRecord* wanted);

    // The full image decoded last, with the bytes and the wanted size it was decoded from, so that a module
    // that asks for the same image twice in a row (first for one of exactly its size, then to load it) has
    // the file decoded once. Only a picture of at most kKeptDecodeBytes is kept.
    struct DecodedJpeg {
        std::shared_ptr<const std::vector<BYTE>> jpeg;
        DWORD wantedWidth = 0;
        DWORD wantedHeight = 0;
        std::shared_ptr<const CHostPicture> picture;
    };
    static constexpr std::size_t kKeptDecodeBytes = std::size_t{16} << 20;

    mutable std::mutex m_lock;
    std::map<KvwItemId, CHostItemRecord> m_items;
    std::map<KvwItemId, std::shared_ptr<const CHostPicture>> m_madePreviews;
    // The design pages' pictures: preview and full image.
    std::map<KvwItemId, std::pair<std::shared_ptr<const CHostPicture>, std::shared_ptr<const CHostPicture>>>
        m_pagePictures;
    DecodedJpeg m_lastDecoded;
    CPravonMemoryManager m_imaging;
    const CHostRecordDatabase* m_records = nullptr;
};

class CHostBrowseService : public CHostService<IKvwBrowseService> {
public:
    void SetCurrentGroup(KvwItemId id);
    // A list with a failure word answers that word and gives nothing.
    void SetSelectedItems(const KvwItemIdList& ids, KvwResult result = kKvwOk);
    void SetGroupItems(const KvwItemIdList& ids, KvwResult result = kKvwOk);

    KvwItemId GetCurrentGroupId() override;
    KvwResult GetGroupItems(KvwItemIdList* ids) override;
    KvwResult GetSelectedItems(KvwItemIdList* ids) override;

private:
    std::mutex m_lock;
    KvwItemId m_group = 0;
    KvwItemIdList m_selected;
    KvwResult m_selectedResult = kKvwOk;
    KvwItemIdList m_groupItems;
    KvwResult m_groupResult = kKvwOk;
};
