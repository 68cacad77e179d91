#include "CFisheyeLensCache.h"

#include "rawlib/foundation/KvFileBytes.h"

#include <new>
#include <string>
#include <system_error>
#include <vector>

namespace {

// The entries, guarded by the lens lock. At process end every entry goes with its information.
struct CacheEntries {
    ~CacheEntries() {
        CKvSyncGuard guard(CFisheyeLensCache::GetLock());
        while (!entries.empty()) {
            CFisheyeLensCache::Entry& entry = entries.front();
            entry.released = true;
            delete entry.slot; // empties the slot and every user's pointer
            entries.pop_front();
        }
    }
    CFisheyeLensCache::LensInfoMap entries;
};

CacheEntries& Cache() {
    static CacheEntries cache;
    return cache;
}

// Reads the lens file of the model whole into the information.
IPravonError* LoadLensFile(CKvLensInformation& information, BYTE lensModel) {
    CKvString path;
    if (GetLensFilePath(path, lensModel) != 0)
        return PravonFail(kKvFisheyeCode, PravonKind::kOutOfRange,
                          "Error: fisheye lens model is not supported.");
    const std::string name(path.GetBuffer());
    std::vector<BYTE> bytes;
    int error = 0;
    // A file longer than a lens record cannot be one: it is refused before it is read.
    switch (KvReadFileBytes(name, CKvLensInformation::kRecordSize, bytes, &error)) {
    case KvFileRead::kRead:
        break;
    case KvFileRead::kTooLong:
        return PravonFail(kKvFisheyeCode, KvLensFileKind::kRejected, "the lens file is too long: " + name);
    case KvFileRead::kNoMemory:
        return PravonFail(kKvFisheyeCode, PravonKind::kOutOfMemory, "no memory to read the lens file");
    case KvFileRead::kUnreadable:
        return PravonFail(kKvFisheyeCode, KvLensFileKind::kUnreadable,
                          "cannot read the lens file " + name + ": " +
                              std::error_code(error, std::generic_category()).message());
    }
    if (information.ReadState(bytes.data(), static_cast<int>(bytes.size())) == 0)
        return PravonFail(kKvFisheyeCode, KvLensFileKind::kRejected,
                          "the lens file is not a whole lens record: " + name);
    return nullptr;
}

} // namespace

void CFisheyeLensCache::CliManager::Release(CKvLensInformation* information, int userCount) {
    if (userCount > CKvLensInformation::GetReleaseThreshold())
        return;
    CKvSyncGuard guard(GetLock());
    LensInfoMap& entries = Cache().entries;
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it->slot != information || it->released)
            continue;
        // Marked first: whatever the destruction sets off finds the entry taken already.
        it->released = true;
        delete information; // empties it->slot and every other user's pointer
        entries.erase(it);
        return;
    }
}

IPravonError* CFisheyeLensCache::Acquire(BYTE lensModel, CKvLensInformation** target) {
    if (!target)
        return PravonFail(0, PravonKind::kBadArgument, "no reference to point at the lens information");
    CKvSyncGuard guard(GetLock());
    CKvLensInformation::ArmReleaseThreshold();
    Drop(target);

    LensInfoMap& entries = Cache().entries;
    const CLensCriteria key{lensModel};
    LensInfoMap pending; // the entry being filled, linked into the cache only when it is whole
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it->key != key || it->released)
            continue;
        if (CKvLensInformation* shared = it->slot) {
            *target = shared;
            shared->AddUser(target);
            return nullptr;
        }
        pending.splice(pending.begin(), entries, it); // its information went: the entry is filled anew
        break;
    }
    if (pending.empty()) {
        try {
            pending.emplace_back();
        } catch (const std::bad_alloc&) {
            return PravonFail(0, PravonKind::kOutOfMemory, "no memory for a lens cache entry");
        }
        pending.front().key = key;
    }

    Entry& entry = pending.front();
    entry.slot = new (std::nothrow) CKvLensInformation;
    if (!entry.slot)
        return PravonFail(kKvFisheyeCode, PravonKind::kOutOfMemory, "no memory for the lens information");
    entry.slot->AddUser(&entry.slot);
    if (IPravonError* failed = LoadLensFile(*entry.slot, lensModel)) {
        delete entry.slot;
        return failed;
    }
    entry.slot->SetManager(&GetManager());
    *target = entry.slot;
    entry.slot->AddUser(target);
    entries.splice(entries.begin(), pending);
    return nullptr;
}

void CFisheyeLensCache::Drop(CKvLensInformation** target) {
    if (!target)
        return;
    CKvSyncGuard guard(GetLock());
    if (CKvLensInformation* previous = *target) {
        *target = nullptr;
        previous->RemoveUser(target); // may let the information go
    }
}

CFisheyeLensCache::CliManager& CFisheyeLensCache::GetManager() {
    static CliManager manager;
    return manager;
}

std::size_t CFisheyeLensCache::GetEntryCount() {
    CKvSyncGuard guard(GetLock());
    return Cache().entries.size();
}
