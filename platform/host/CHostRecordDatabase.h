// The host's record database: named records with a 32-bit value and a data block, created, attached to
// items in order, read, replaced, detached (one record, or an array of ids with their count) and deleted
// through the record requests. Any request can be
// made to fail, so that tests reach a module's refusal paths.
#pragma once

#include "platform/kvtrtl/KvwHostTypes.h"
#include "platform/kvtrtl/KvwRecords.h"

#include <array>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class CHostRecordDatabase {
public:
    struct Record {
        std::string name;
        DWORD kind = 0;
        LONG value = 0;
        std::vector<BYTE> data;
        DWORD flags = 0;
        DWORD width = 0;
        DWORD height = 0;
    };

    static bool IsRecordRequest(DWORD id);
    // Answers a record request; 0x1008 for a null or too short buffer, 0x1101 for an unknown record.
    KvwResult OnRequest(DWORD id, const std::array<KvwWord, 8>& words);
    // The records attached to an id (kKvwSourceRecordList), or a record's fields (any other flag): its
    // name, kind (also as the type), value, data length, flags and size words; 0x1101 when the database
    // knows nothing of the record.
    KvwResult GetSourceData(KvwItemId id, CKvwSourceData* data, DWORD flags) const;

    // The answer to every request of that id from now on, until restored.
    void Withhold(DWORD request, KvwResult result = kKvwInvalidArgument);
    void Restore();

    KvwItemId Add(const Record& record);
    void Attach(KvwItemId owner, KvwItemId record);
    KvwItemIdList Attached(KvwItemId owner) const;
    bool Find(KvwItemId id, Record* record) const;
    std::size_t RecordCount() const;
    // Every request answered so far, in order (since the log was last cleared).
    std::vector<DWORD> Requests() const;
    void ClearRequestLog();

private:
    KvwResult Answer(DWORD id, const std::array<KvwWord, 8>& words);
    KvwItemId AddLocked(Record record);

    mutable std::mutex m_lock;
    std::map<KvwItemId, Record> m_records;
    std::map<KvwItemId, KvwItemIdList> m_attached;
    std::map<DWORD, KvwResult> m_withheld;
    std::vector<DWORD> m_requests;
    // Record ids start in a range of their own so that they never name a test's items.
    KvwItemId m_nextId = 0x0000100000000001ull;
};
