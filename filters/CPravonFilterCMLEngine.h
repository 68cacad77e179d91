// One colour transformation shared by any number of colour-management filters: source, destination and
// proof profile files, rendering intent and proof mode, and the library transform built from them. It
// knows the filters that use it and the holders that keep it alive; either a manager decides when an idle
// engine goes, or the engine deletes itself when its holders fall to the auto-delete threshold. It also
// reads each profile's colour space and decides whether the two profiles convert to nothing that matters.
#pragma once

#include "filters/TReferencedObjectPointer.h"
#include "platform/pravon/IPravonError.h"
#include "platform/pravon/PravonTypes.h"
#include "platform/zov/KVCM.h"

#include <vector>

class CPravonFilterCML;

class CPravonFilterCMLEngine {
public:
    using Holder = TReferencedObjectPointer<CPravonFilterCMLEngine>;

    // Told of every holder added or removed, with the number of holders left; it alone decides when the
    // engine goes.
    class IMgr {
    public:
        virtual void ReleaseEngine(CPravonFilterCMLEngine* engine, LONG holders) = 0;

    protected:
        virtual ~IMgr() = default;
    };

    CPravonFilterCMLEngine();
    virtual ~CPravonFilterCMLEngine();
    CPravonFilterCMLEngine(const CPravonFilterCMLEngine&) = delete;
    CPravonFilterCMLEngine& operator=(const CPravonFilterCMLEngine&) = delete;

    // Changes nothing when source and destination name the same files as now (the proof path is then not
    // stored either); otherwise stores the three paths and reads both profiles.
    IPravonError* SetProfiles(const PravonFile& source, const PravonFile& destination,
                              const PravonFile& proof);
    IPravonError* SetProfiles(const PravonFile& source, const PravonFile& destination);
    void GetProfiles(PravonFile* source, PravonFile* destination, PravonFile* proof) const;
    // The colour-space signature and channel count of the destination (true) or source profile.
    void GetProfileInfo(bool destination, char signature[4], LONG* channels) const;
    // True when converting from the source to the destination profile changes nothing that matters.
    bool AreProfilesEquivalent() const { return m_equivalent; }
    static IPravonError* ReadProfileInfo(const PravonFile& profile, char signature[4], LONG* channels);

    IPravonError* SetProofMode(bool proof);
    bool IsProofMode() const { return m_proofMode; }
    IPravonError* SetRenderingIntent(LONG intent);
    LONG GetRenderingIntent() const { return m_intent; }

    void SetAutoDeleteThreshold(LONG threshold) { m_autoDeleteThreshold = threshold; }
    LONG GetAutoDeleteThreshold() const { return m_autoDeleteThreshold; }
    void SetManager(IMgr* manager) { m_manager = manager; }
    IMgr* GetManager() const { return m_manager; }

    LONG GetChangeCounter() const { return m_changeCounter; }
    HKVCMXFORM GetCMLTransform() const { return m_transform; }
    LONG GetUserCount() const { return static_cast<LONG>(m_users.size()); }
    CPravonFilterCML* GetUser(LONG index) const;
    void StartUse(CPravonFilterCML* filter);
    void StopUse(CPravonFilterCML* filter);

    // Removing a holder may delete the engine before the call returns.
    void AddReferencedObjectPointer(Holder* holder);
    void RemoveReferencedObjectPointer(Holder* holder);

    // Brings the library transform up to date; wasDirty receives whether it was out of date.
    IPravonError* ResetParameters(bool* wasDirty);

private:
    IPravonError* TestEquivalence();

    LONG m_changeCounter = 0;
    PravonFile m_source;
    char m_sourceSignature[4] = {};
    LONG m_sourceChannels = 0;
    PravonFile m_destination;
    char m_destinationSignature[4] = {};
    LONG m_destinationChannels = 0;
    bool m_proofMode = true;
    SHORT m_intent = 0;
    HKVCMXFORM m_transform = nullptr;
    bool m_needsReset = true;
    bool m_equivalent = false;
    // Whether the signatures, channels and equivalence above belong to the stored paths: a failed read
    // leaves them unknown, and the same paths given again are read again.
    bool m_infoValid = false;
    PravonFile m_proof;
    std::vector<CPravonFilterCML*> m_users;
    std::vector<Holder*> m_holders;
    LONG m_autoDeleteThreshold = -1;
    IMgr* m_manager = nullptr;
};
