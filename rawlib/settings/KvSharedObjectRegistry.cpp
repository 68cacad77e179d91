#include "KvSharedObjectRegistry.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>

namespace {

struct Entry {
    unsigned users = 0;
    std::string temporaryFile;
};

// One table per kind of object; several images may be opened and closed on several threads at once.
template <class T>
class Registry {
public:
    void Add(T* object, const std::string& temporaryFile) {
        if (!object)
            return;
        std::lock_guard lock(m_mutex);
        Entry& entry = m_entries[object];
        if (entry.users++ == 0)
            object->AddRef();
        if (!temporaryFile.empty())
            entry.temporaryFile = temporaryFile;
    }

    bool Release(T* object, const std::string& temporaryFile) {
        std::string doomed;
        {
            std::lock_guard lock(m_mutex);
            const auto found = m_entries.find(object);
            if (found == m_entries.end())
                return false;
            // A path named by an earlier user still goes with the last release.
            if (!temporaryFile.empty())
                found->second.temporaryFile = temporaryFile;
            if (--found->second.users > 0)
                return false;
            doomed = found->second.temporaryFile;
            m_entries.erase(found);
        }
        // The object and its file go outside the lock: releasing an image may release others.
        object->Release();
        if (!doomed.empty()) {
            std::error_code ignored;
            std::filesystem::remove(doomed, ignored);
        }
        return true;
    }

    unsigned Users(T* object) {
        std::lock_guard lock(m_mutex);
        const auto found = m_entries.find(object);
        return found == m_entries.end() ? 0 : found->second.users;
    }

private:
    std::mutex m_mutex;
    std::map<T*, Entry> m_entries;
};

Registry<IPravonImage>& Images() {
    static Registry<IPravonImage> registry;
    return registry;
}

Registry<IPravonTagControl>& TagControls() {
    static Registry<IPravonTagControl> registry;
    return registry;
}

} // namespace

namespace KvSharedObjectRegistry {

void AddImageUser(IPravonImage* image, const std::string& temporaryFile) {
    Images().Add(image, temporaryFile);
}

bool ReleaseImage(IPravonImage* image, const std::string& temporaryFile) {
    return Images().Release(image, temporaryFile);
}

unsigned ImageUsers(IPravonImage* image) {
    return Images().Users(image);
}

void AddTagControlUser(IPravonTagControl* tags) {
    TagControls().Add(tags, {});
}

bool ReleaseTagControl(IPravonTagControl* tags) {
    return TagControls().Release(tags, {});
}

unsigned TagControlUsers(IPravonTagControl* tags) {
    return TagControls().Users(tags);
}

} // namespace KvSharedObjectRegistry
