// The radial correction tables of one fisheye lens model, read whole from the lens file of the profile folder
// and shared by the filters that use them. Each user registers the address of the pointer it holds to this
// object; when the object goes, every registered pointer is set to null, so no user is left dangling.
#pragma once

#include "IKvState.h"
#include "rawlib/foundation/CKvString.h"
#include "rawlib/foundation/CSyncCritical.h"

#include <array>
#include <memory>
#include <vector>

class IPravonTagControl;

class CKvLensInformation : public IKvState {
public:
    static constexpr WORD kVersion = 2;
    // Entry i of a table is the normalised output radius for the normalised input radius i / 4095.
    static constexpr int kTableLength = 4096;
    // The lens model of the one supported lens; 0 stands for an unknown lens.
    static constexpr BYTE kFisheyeLens = 0x80;
    // The whole lens file: the header, the lens model, then (A, B) and (C, D) interleaved pair by pair.
    static constexpr int kRecordSize = 22 + 1 + 4 * 8 * kTableLength;

    enum Table { kTableA, kTableB, kTableC, kTableD, kTableCount };

    // Told of the number of users after every AddUser and RemoveUser; it decides when the object goes. It
    // is called with the lock held and may destroy the object.
    class IMgr {
    public:
        virtual void Release(CKvLensInformation* information, int userCount) = 0;

    protected:
        ~IMgr() = default;
    };

    CKvLensInformation() = default;
    // Copies the lens model and the tables the other object has; users and manager are not copied.
    CKvLensInformation(const CKvLensInformation& other);
    CKvLensInformation& operator=(const CKvLensInformation& other);
    // Forgets the manager, frees the tables and sets every registered user pointer to null, last first.
    ~CKvLensInformation() override;

    // A missing table is written as zeros.
    int WriteState(BYTE* buffer, int size) override;
    // Only a whole version-2 record whose length field tells the truth is taken: anything else leaves the
    // object without tables and reads as 0.
    int ReadState(const BYTE* buffer, int size) override;
    const BYTE* GetStateId() override;

    BYTE GetLensModel() const { return m_lensModel; }
    void SetLensModel(BYTE lensModel) { m_lensModel = lensModel; }
    // Null for a table the object does not have.
    void GetTables(const double** a, const double** b, const double** c, const double** d) const;
    const double* GetTable(Table table) const { return m_tables[table].get(); }
    // Replaces one table with a copy of kTableLength values, or removes it when values is null; false
    // (and the table unchanged) when memory runs out.
    bool SetTable(Table table, const double* values);
    // Tables A and B, which map output points back to the source, are both present.
    bool HasLensData() const { return m_tables[kTableA] && m_tables[kTableB]; }

    void SetManager(IMgr* manager);
    // Registers the address of a user's pointer to this object, then tells the manager.
    void AddUser(CKvLensInformation** slot);
    // Unregisters the first registration of the address, then tells the manager; without a manager the
    // object destroys itself once the users are down to the release threshold. The object may be gone when
    // this returns. An address that is not registered changes nothing.
    void RemoveUser(CKvLensInformation** slot);
    int GetUserCount() const;

    // The user count at or below which an object without a manager destroys itself, and at which the
    // fisheye cache lets an entry go: 0 until the first fisheye filter is made, then 1 for good (the cache's
    // own reference counts as a user).
    static int GetReleaseThreshold();
    static void ArmReleaseThreshold();

    // The one process-wide lock ("CKvLensInformation", re-entrant) over every user list and the fisheye
    // cache, so that a release from one thread never races a lookup on another.
    static Kv::CSyncCritical& GetLock();

private:
    using TablePtr = std::unique_ptr<double[]>;

    void ClearTables();

    BYTE m_lensModel = 0;
    std::array<TablePtr, kTableCount> m_tables;
    std::vector<CKvLensInformation**> m_users;
    IMgr* m_manager = nullptr;
};

// The lens model of a picture from its tags: the lens-data tag by its version ("0100": byte 6, "0101":
// byte 11, any other: 0), or, when that tag cannot be read, the lens-range tag, whose focal lengths
// 10.5 and 10.5 and apertures 2.8 and 2.8 name the fisheye lens. 0 for an unknown lens or no tags.
BYTE KvGetLensModelCode(IPravonTagControl* tags);

// The lens file of a lens model: the profile folder followed by "Kv0080.lns" for the fisheye lens (0);
// -1, with the path left alone, for any other model.
int GetLensFilePath(CKvString& path, BYTE lensModel);

constexpr const char* kKvLensFileName = "Kv0080.lns";
// Error kinds for a lens file.
namespace KvLensFileKind {
constexpr LONG kRejected = 3000;   // its content is not a whole lens record
constexpr LONG kUnreadable = 3001; // it cannot be opened, measured or read
} // namespace KvLensFileKind
// Tags of the picture that name its lens.
constexpr ULONG kKvLensDataTag = 0x80098;
constexpr ULONG kKvLensRangeTag = 0x80084;
