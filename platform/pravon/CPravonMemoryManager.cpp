#include "CPravonMemoryManager.h"

#include "CPravonMemoryImage.h"
#include "platform/win/FourCC.h"

void CPravonMemoryImageRegistry::Add(const CPravonMemoryImage* image) {
    std::lock_guard lock(m_mutex);
    m_images.insert(image);
}

void CPravonMemoryImageRegistry::Remove(const CPravonMemoryImage* image) {
    std::lock_guard lock(m_mutex);
    m_images.erase(image);
}

std::size_t CPravonMemoryImageRegistry::GetImageCount() const {
    std::lock_guard lock(m_mutex);
    return m_images.size();
}

LONG CPravonMemoryImageRegistry::GetLockCount() const {
    std::lock_guard lock(m_mutex);
    LONG n = 0;
    for (const CPravonMemoryImage* image : m_images)
        n += image->GetLockCount();
    return n;
}

CPravonMemoryManager::CPravonMemoryManager(LONG tileSize)
    : m_tileSize(tileSize >= 1 && tileSize <= CPravonMemoryImage::kMaxTileSize ? tileSize : kDefaultTileSize),
      m_registry(std::make_shared<CPravonMemoryImageRegistry>()),
      m_pool(std::make_shared<CPravonTilePool>()) {}

IPravonError* CPravonMemoryManager::CreateImage(LONG usage, IPravonImage** image) {
    return CPravonMemoryImage::Create(m_tileSize, usage, image, m_registry, m_pool);
}

IPravonError* CPravonMemoryManager::SetTileSize(LONG tileSize) {
    if (tileSize < 1 || tileSize > CPravonMemoryImage::kMaxTileSize)
        return PravonFail(FourCC("PRVN"), PravonKind::kOutOfRange, "tile size out of range");
    m_tileSize = tileSize;
    return nullptr;
}
