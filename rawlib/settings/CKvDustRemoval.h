// The dust-removal settings: the bytes of the dust reference ("DstR") with the time it was taken, and the
// dust map built for the image or loaded from stored map bytes, which the record shares with the dust filter.
#pragma once

#include "IKvState.h"

#include "rawlib/filters/dust/CDustMap.h"

#include "platform/quasel/IPravonTagControl.h"

#include <memory>

class CKvDustRemoval : public IKvState {
public:
    static constexpr WORD kVersion = 1;
    // The record without its reference bytes.
    static constexpr int kFixedSize = 37;

    struct Stamp {
        WORD year = 1900;
        BYTE month = 1;
        BYTE day = 1;
        BYTE hour = 0;
        BYTE minute = 0;
        BYTE second = 0;
        bool operator==(const Stamp&) const = default;
    };

    // Called as (kind, percent, context): kind 0 before the work, 1 for progress (0 to 5 during the
    // analysis, 5 to 100 during the map), 2 with 100 at the end; false cancels.
    using Progress = bool (*)(LONG kind, LONG percent, void* context);
    static constexpr LONG kProgressStart = 0;
    static constexpr LONG kProgressStep = 1;
    static constexpr LONG kProgressEnd = 2;
    // The progress category under which the development reports the dust map.
    static constexpr LONG kDustCategory = 0x40000;
    // The development's progress: (category, percent, context); false cancels.
    using CategoryProgress = bool (*)(LONG category, LONG percent, void* context);

    // Results of BuildDustMap.
    static constexpr LONG kBuilt = 0;
    static constexpr LONG kBuildFailed = 1;
    static constexpr LONG kBuildBadArgument = 2;
    static constexpr LONG kBuildOutOfMemory = 3;
    static constexpr LONG kBuildCancelled = 4;
    static constexpr LONG kBuildNoReference = 5;

    // Results of LoadDustMap and LoadDustReference.
    static constexpr LONG kDone = CDustMap::kLoaded;
    static constexpr LONG kBadArgument = CDustMap::kLoadBadArgument;
    static constexpr LONG kOutOfMemory = CDustMap::kLoadOutOfMemory;
    static constexpr LONG kUnreadable = CDustMap::kLoadUnreadable;

    CKvDustRemoval() = default;
    // Copies the reference and the stamp, and gives the copy a map of its own read from the source map's
    // stored form; what cannot be copied is left out whole (no reference, or no map).
    CKvDustRemoval(const CKvDustRemoval& other);
    CKvDustRemoval& operator=(const CKvDustRemoval& other);

    // Frees the reference and drops the map; every member back to its default.
    void Reset();
    bool IsEmpty() const { return m_referenceSize == 0 && !m_reference; }
    // What the record stores: the reference bytes, the stamp and the two extra values (not the map).
    bool operator==(const CKvDustRemoval& other) const;

    int WriteState(BYTE* buffer, int size) override;
    int ReadState(const BYTE* buffer, int size) override;
    const BYTE* GetStateId() override;

    // Frees the old bytes and makes room for `size` uninitialised ones; false (and size 0) when there is no
    // memory for them.
    bool SetReferenceSize(DWORD size);
    DWORD GetReferenceSize() const { return m_referenceSize; }
    BYTE* GetReference() { return m_reference.get(); }
    const BYTE* GetReference() const { return m_reference.get(); }
    // Keeps a copy of the reference bytes as they were read from the image's tags.
    LONG LoadDustReference(IPravonManager* manager, const BYTE* data, DWORD size);

    const Stamp& GetStamp() const { return m_stamp; }
    void SetStamp(const Stamp& stamp) { m_stamp = stamp; }
    WORD GetFirstExtra() const { return m_firstExtra; }
    void SetFirstExtra(WORD value) { m_firstExtra = value; }
    WORD GetSecondExtra() const { return m_secondExtra; }
    void SetSecondExtra(WORD value) { m_secondExtra = value; }

    // Analyses the reference for the image and builds its map, reporting progress through `progress` (may
    // be null). The current map is dropped first; the new one is kept only when it is complete, so a
    // cancelled or failed build leaves the record without a map.
    LONG BuildDustMap(IPravonManager* manager, IPravonDataSource* source, IPravonTagControl* tags,
                      bool linearSamples, bool rawMode, Progress progress, void* context);
    // The same for the development: progress goes to `progress` under `category`; an error (kind 1007
    // "Cancelled" for a cancelled build) when no map was made.
    IPravonError* ComputeDustMap(IPravonManager* manager, IPravonDataSource* source, IPravonTagControl* tags,
                                 bool linearSamples, bool rawMode, CategoryProgress progress, void* context,
                                 LONG category = kDustCategory);

    // Drops the current map and reads a new one from a "DstL" blob: kBadArgument for missing or empty
    // input (the current map stays), kOutOfMemory, kUnreadable (no map afterwards), kDone.
    LONG LoadDustMap(IPravonManager* manager, const BYTE* data, DWORD size);
    bool HasDustMap() const { return m_map != nullptr; }
    // The map for the dust filter, which shares it: a map the record drops lives on while the filter uses it.
    std::shared_ptr<CDustMap> GetDustMap() const { return m_map; }
    void SetDustMap(std::shared_ptr<CDustMap> map) { m_map = std::move(map); }

private:
    void CopyFrom(const CKvDustRemoval& other);
    LONG RunBuild(IPravonManager* manager, IPravonDataSource* source, IPravonTagControl* tags,
                  bool linearSamples, bool rawMode, Progress progress, void* context);

    DWORD m_referenceSize = 0;
    std::unique_ptr<BYTE[]> m_reference;
    Stamp m_stamp;
    WORD m_firstExtra = 0;
    WORD m_secondExtra = 0;
    std::shared_ptr<CDustMap> m_map;
};
