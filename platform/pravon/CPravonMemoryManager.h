// The framework's manager: makes in-memory images whose tile size is a setting of the manager
// (256 unless set), keeps count of the images it made for leak and lock checks, and owns the pool their
// tile memory comes from and goes back to.
#pragma once

#include "CPravonTilePool.h"
#include "IPravonImage.h"

#include <memory>
#include <mutex>
#include <unordered_set>

class CPravonMemoryImage;

// The live images of one manager; images keep it alive, so it may outlast the manager.
class CPravonMemoryImageRegistry {
public:
    void Add(const CPravonMemoryImage* image);
    void Remove(const CPravonMemoryImage* image);
    std::size_t GetImageCount() const;
    LONG GetLockCount() const;

private:
    mutable std::mutex m_mutex;
    std::unordered_set<const CPravonMemoryImage*> m_images;
};

class CPravonMemoryManager : public IPravonManager {
public:
    static constexpr LONG kDefaultTileSize = 256;

    explicit CPravonMemoryManager(LONG tileSize = kDefaultTileSize);

    IPravonError* CreateImage(LONG usage, IPravonImage** image) override;

    // Applies to images made afterwards. Outside 1..16384 gives PravonKind::kOutOfRange.
    IPravonError* SetTileSize(LONG tileSize);
    LONG GetTileSize() const { return m_tileSize; }

    std::size_t GetImageCount() const { return m_registry->GetImageCount(); }
    LONG GetLockCount() const { return m_registry->GetLockCount(); }
    // Shared by every image of the manager; it may outlast the manager.
    CPravonTilePool& GetTilePool() { return *m_pool; }

private:
    LONG m_tileSize;
    std::shared_ptr<CPravonMemoryImageRegistry> m_registry;
    std::shared_ptr<CPravonTilePool> m_pool;
};
