// The services the host hands its modules: the item service over a table of items, and the browse service
// with the current group and its two id lists. The host owns them; the references the modules take are
// counted, so that a test can see every one given back.
#pragma once

#include "platform/kvtrtl/IKvwHost.h"

#include <atomic>
#include <map>
#include <mutex>

// An item of the host's table.
struct CHostItemRecord {
    KvwItemId id = 0;
    CKvwSourceData source;
    CKvwItemData data;
    // Sizes of the images the host can deliver (0 x 0: none), and whether it holds each one already or only
    // after a module has asked for it and the completion went out.
    LONG previewWidth = 0;
    LONG previewHeight = 0;
    bool previewHeld = false;
    LONG fullWidth = 0;
    LONG fullHeight = 0;
    bool fullHeld = false;
};

// An image handed to a module; it goes with its last reference.
class CHostImage final : public IKvwImage {
public:
    CHostImage(LONG width, LONG height);
    ULONG AddRef() override;
    ULONG Release() override;
    LONG GetWidth() override { return m_width; }
    LONG GetHeight() override { return m_height; }
    // Images that modules still hold, over all hosts.
    static LONG Live();

private:
    ~CHostImage();
    std::atomic<ULONG> m_references{1};
    const LONG m_width;
    const LONG m_height;
};

// An item handed to a module; it goes with its last reference.
class CHostItem final : public IKvwItem {
public:
    explicit CHostItem(KvwItemId id) : m_id(id) {}
    ULONG AddRef() override;
    ULONG Release() override;
    KvwItemId Id() const { return m_id; }

private:
    ~CHostItem() = default;
    std::atomic<ULONG> m_references{1};
    const KvwItemId m_id;
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

    // 0x1101 for an item the table does not have (or an image it does not hold).
    KvwResult GetSourceData(DWORD idLow, DWORD idHigh, CKvwSourceData* data, DWORD flags) override;
    KvwResult GetItemData(DWORD idLow, DWORD idHigh, CKvwItemData* data, DWORD flags) override;
    KvwResult GetItem(DWORD idLow, DWORD idHigh, IKvwItem** item) override;
    KvwResult GetPreviewImage(DWORD idLow, DWORD idHigh, IKvwImage** image, DWORD mode,
                              const CKvwSizeRecord* size) override;
    KvwResult GetFullImage(DWORD idLow, DWORD idHigh, IKvwImage** image, DWORD mode,
                           const CKvwSizeRecord* size) override;

private:
    KvwResult Image(DWORD idLow, DWORD idHigh, IKvwImage** image, bool full);

    mutable std::mutex m_lock;
    std::map<KvwItemId, CHostItemRecord> m_items;
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
