#include "CKvLensInformation.h"
#include "rawlib/foundation/KvProcessLocks.h"

#include "KvRecordCursor.h"
#include "KvStateIds.h"
#include "platform/quasel/IPravonTagControl.h"
#include "rawlib/foundation/CSyncGlobal.h"
#include "rawlib/foundation/KvProfileFolder.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>

namespace {

Kv::CSyncGlobal& g_lensLock = KvLibrary::g_lensInformation;

std::atomic<int> g_releaseThreshold{0};
std::once_flag g_thresholdArmed;

// The lens-data tag is 31 bytes: a four-character version, then the version's fields.
constexpr ULONG kLensDataSize = 31;
constexpr LONG kLensDataType = 0x108;
// The lens-range tag: shortest and longest focal length, then their apertures, as doubles.
constexpr ULONG kLensRangeSize = 32;
constexpr LONG kLensRangeType = 0x100;

} // namespace

CKvLensInformation::CKvLensInformation(const CKvLensInformation& other) {
    *this = other;
}

CKvLensInformation& CKvLensInformation::operator=(const CKvLensInformation& other) {
    if (this == &other)
        return *this;
    // Built apart first, so that the other object's tables are never the ones being freed; a table the
    // other object lacks stays absent.
    std::array<TablePtr, kTableCount> copies;
    try {
        for (int t = 0; t < kTableCount; ++t) {
            if (!other.m_tables[t])
                continue;
            copies[t].reset(new double[kTableLength]);
            std::copy_n(other.m_tables[t].get(), kTableLength, copies[t].get());
        }
    } catch (const std::bad_alloc&) {
        ClearTables(); // out of memory leaves no tables rather than some
        m_lensModel = other.m_lensModel;
        return *this;
    }
    m_tables = std::move(copies);
    m_lensModel = other.m_lensModel;
    return *this;
}

CKvLensInformation::~CKvLensInformation() {
    CKvSyncGuard guard(GetLock());
    m_manager = nullptr;
    ClearTables();
    for (auto it = m_users.rbegin(); it != m_users.rend(); ++it)
        **it = nullptr;
    m_users.clear();
}

void CKvLensInformation::ClearTables() {
    for (TablePtr& table : m_tables)
        table.reset();
}

int CKvLensInformation::WriteState(BYTE* buffer, int size) {
    // Below 22 bytes there is room for no field behind the header: only the id and the version go in.
    CKvRecordWriter w(buffer, size < 22 ? std::min(size, 18) : size, KvStateIds::kLensInformation, kVersion);
    w.PutU8(m_lensModel);
    auto value = [this](Table table, int i) { return m_tables[table] ? m_tables[table][i] : 0.0; };
    for (int i = 0; i < kTableLength; ++i) {
        w.PutF64(value(kTableA, i));
        w.PutF64(value(kTableB, i));
    }
    for (int i = 0; i < kTableLength; ++i) {
        w.PutF64(value(kTableC, i));
        w.PutF64(value(kTableD, i));
    }
    w.Finish();
    return kRecordSize;
}

int CKvLensInformation::ReadState(const BYTE* buffer, int size) {
    if (!buffer || size < 16)
        return 0;
    CKvRecordReader reader(buffer, size);
    if (!reader.IsRecordOf(KvStateIds::kLensInformation))
        return 0;
    // From here on the record is ours, and anything but a whole version-2 record empties the object. The
    // length field is checked too: a file that states another length than it has is not a lens file.
    if (reader.GetVersion() != kVersion || size != kRecordSize ||
        KvGetValue(buffer + 18, 4) != static_cast<std::uint64_t>(kRecordSize - 18)) {
        ClearTables();
        return 0;
    }
    try {
        std::array<TablePtr, kTableCount> tables;
        for (TablePtr& table : tables)
            table.reset(new double[kTableLength]);
        BYTE lensModel = 0;
        reader.GetU8(lensModel);
        for (Table first : {kTableA, kTableC}) {
            for (int i = 0; i < kTableLength; ++i) {
                reader.GetF64(tables[first][i]);
                reader.GetF64(tables[first + 1][i]);
            }
        }
        m_tables = std::move(tables);
        m_lensModel = lensModel;
        return kRecordSize;
    } catch (const std::bad_alloc&) {
        ClearTables();
        return 0;
    }
}

const BYTE* CKvLensInformation::GetStateId() {
    return KvStateIds::kLensInformation.Data();
}

void CKvLensInformation::GetTables(const double** a, const double** b, const double** c,
                                   const double** d) const {
    if (a)
        *a = m_tables[kTableA].get();
    if (b)
        *b = m_tables[kTableB].get();
    if (c)
        *c = m_tables[kTableC].get();
    if (d)
        *d = m_tables[kTableD].get();
}

bool CKvLensInformation::SetTable(Table table, const double* values) {
    if (!values) {
        m_tables[table].reset();
        return true;
    }
    try {
        TablePtr copy(new double[kTableLength]);
        std::copy_n(values, kTableLength, copy.get());
        m_tables[table] = std::move(copy);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void CKvLensInformation::SetManager(IMgr* manager) {
    CKvSyncGuard guard(GetLock());
    m_manager = manager;
}

void CKvLensInformation::AddUser(CKvLensInformation** slot) {
    CKvSyncGuard guard(GetLock());
    try {
        m_users.push_back(slot);
    } catch (const std::bad_alloc&) {
        return; // not registered: the user's pointer is not emptied when the object goes
    }
    if (m_manager)
        m_manager->Release(this, static_cast<int>(m_users.size()));
}

void CKvLensInformation::RemoveUser(CKvLensInformation** slot) {
    CKvSyncGuard guard(GetLock());
    const auto it = std::find(m_users.begin(), m_users.end(), slot);
    if (it == m_users.end())
        return;
    m_users.erase(it);
    const int count = static_cast<int>(m_users.size());
    if (m_manager)
        m_manager->Release(this, count); // may destroy this object: nothing of it is touched afterwards
    else if (count <= GetReleaseThreshold())
        delete this;
}

int CKvLensInformation::GetUserCount() const {
    CKvSyncGuard guard(GetLock());
    return static_cast<int>(m_users.size());
}

int CKvLensInformation::GetReleaseThreshold() {
    return g_releaseThreshold.load(std::memory_order_acquire);
}

void CKvLensInformation::ArmReleaseThreshold() {
    std::call_once(g_thresholdArmed, [] { g_releaseThreshold.store(1, std::memory_order_release); });
}

Kv::CSyncCritical& CKvLensInformation::GetLock() {
    return g_lensLock.Get();
}

BYTE KvGetLensModelCode(IPravonTagControl* tags) {
    if (!tags)
        return 0;
    BYTE data[kLensDataSize];
    PravonErrorPtr noData(tags->ReadTag(kKvLensDataTag, kLensDataType, sizeof data, data));
    if (!noData) {
        if (std::memcmp(data, "0100", 4) == 0)
            return data[6];
        if (std::memcmp(data, "0101", 4) == 0)
            return data[11];
        return 0;
    }
    BYTE range[kLensRangeSize];
    PravonErrorPtr noRange(tags->ReadTag(kKvLensRangeTag, kLensRangeType, sizeof range, range));
    if (noRange)
        return 0;
    CKvFieldReader reader(range, sizeof range);
    double shortest = 0, longest = 0, shortestAperture = 0, longestAperture = 0;
    reader.GetF64(shortest);
    reader.GetF64(longest);
    reader.GetF64(shortestAperture);
    reader.GetF64(longestAperture);
    const bool fisheye =
        shortest == 10.5 && longest == 10.5 && shortestAperture == 2.8 && longestAperture == 2.8;
    return fisheye ? CKvLensInformation::kFisheyeLens : 0;
}

int GetLensFilePath(CKvString& path, BYTE lensModel) {
    if (lensModel != CKvLensInformation::kFisheyeLens)
        return -1;
    CKvString composed = GetProfileFolder();
    if (!composed.Append(kKvLensFileName))
        return -1;
    path = composed;
    return 0;
}
