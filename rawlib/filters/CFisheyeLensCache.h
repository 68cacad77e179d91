// The process-wide cache through which the fisheye filters share one loaded lens information per lens model.
// The cache holds a reference of its own to each information it hands out; when only that one is left, its
// manager takes the entry out and the information goes, so a later selection reads the lens file again.
#pragma once

#include "platform/pravon/IPravonError.h"
#include "platform/win/FourCC.h"
#include "rawlib/foundation/KvProcessLocks.h"
#include "rawlib/settings/CKvLensInformation.h"

#include <cstddef>
#include <list>

// Component code of the fisheye filter and of the lens file loading.
constexpr LONG kKvFisheyeCode = FourCC("FEye");

class CFisheyeLensCache {
public:
    // The key of an entry.
    struct CLensCriteria {
        BYTE lensModel = 0;
        bool operator==(const CLensCriteria&) const = default;
    };

    // The manager of every information the cache hands out: lets an entry go when the cache's reference is
    // the last one. It runs under the lens lock, from AddUser and RemoveUser.
    class CliManager : public CKvLensInformation::IMgr {
    public:
        void Release(CKvLensInformation* information, int userCount) override;
    };

    struct Entry {
        CLensCriteria key;
        CKvLensInformation* slot = nullptr; // the cache's own reference, registered as a user
        bool released = false;              // set while the manager lets the entry go
    };
    // Searched front to back; new entries go to the front. Nodes never move, so a slot's address stays.
    using LensInfoMap = std::list<Entry>;

    // Drops the information *target refers to, then points *target at the information of the lens model
    // (registered as its user), loading the lens file into a new one when the cache has none. Errors:
    // PravonKind::kOutOfMemory (component 0 for the cache's own entries, "FEye" for the information), and
    // from the loading, all "FEye": an unsupported model, KvLensFileKind::kUnreadable for a file that cannot
    // be read, KvLensFileKind::kRejected for one that is not a whole lens record. On failure *target is null
    // and the cache keeps nothing of the attempt.
    // Takes the cache lock (callers may hold it already).
    static IPravonError* Acquire(BYTE lensModel, CKvLensInformation** target);

    // Empties *target and unregisters it from the information it referred to, which goes when only the
    // cache's reference is left. Takes the cache lock.
    static void Drop(CKvLensInformation** target);

    // The cache's own named lock, "CFisheyeFilter-InitSection". While it is held, the lens information's
    // lock may be taken, never the other way round.
    static Kv::CSyncCritical& GetLock() { return KvLibrary::g_fisheyeCache.Get(); }
    static CliManager& GetManager();
    // How many lens models the cache holds now.
    static std::size_t GetEntryCount();
};
