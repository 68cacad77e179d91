#include "CHostRecordDatabase.h"

#include <algorithm>
#include <cstring>

namespace {

KvwItemId IdOf(const std::array<KvwWord, 8>& words) {
    return KvwMakeItemId(words[0], words[1]);
}

template <class T>
T* PointerOf(KvwWord word) {
    return reinterpret_cast<T*>(word);
}

// The count ids of an attach or detach: one record (a CKvwInputData, whose id comes first) or an array of
// 64-bit ids.
KvwItemIdList IdsOf(KvwWord pointer, KvwWord count) {
    KvwItemIdList ids;
    const auto* bytes = PointerOf<const BYTE>(pointer);
    for (KvwWord i = 0; bytes && i < count; ++i) {
        KvwItemId id = 0;
        std::memcpy(&id, bytes + i * sizeof(KvwItemId), sizeof(id));
        ids.push_back(id);
    }
    return ids;
}

} // namespace

bool CHostRecordDatabase::IsRecordRequest(DWORD id) {
    using namespace KvwRecordRequest;
    return id == kRead || id == kReplace || id == kCreate || id == kAttach || id == kDetach || id == kDelete;
}

KvwResult CHostRecordDatabase::OnRequest(DWORD id, const std::array<KvwWord, 8>& words) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_requests.push_back(id);
    auto withheld = m_withheld.find(id);
    if (withheld != m_withheld.end())
        return withheld->second;
    return Answer(id, words);
}

KvwResult CHostRecordDatabase::Answer(DWORD id, const std::array<KvwWord, 8>& words) {
    using namespace KvwRecordRequest;
    const DWORD size = static_cast<DWORD>(words[3]);
    switch (id) {
    case kRead: {
        auto it = m_records.find(IdOf(words));
        if (it == m_records.end())
            return kKvwNothingToWorkOn;
        BYTE* buffer = PointerOf<BYTE>(words[2]);
        const std::vector<BYTE>& data = it->second.data;
        if ((!buffer && !data.empty()) || size < data.size())
            return kKvwInvalidArgument;
        std::copy(data.begin(), data.end(), buffer);
        return kKvwOk;
    }
    case kReplace: {
        auto it = m_records.find(IdOf(words));
        if (it == m_records.end())
            return kKvwNothingToWorkOn;
        const BYTE* data = PointerOf<const BYTE>(words[2]);
        if (!data && size != 0)
            return kKvwInvalidArgument;
        it->second.data.assign(data, data + size);
        return kKvwOk;
    }
    case kCreate: {
        CKvwInputData* input = PointerOf<CKvwInputData>(words[2]);
        if (!input || (!input->data && input->dataLength != 0))
            return kKvwInvalidArgument;
        Record record{input->name, input->kind, input->value, {}, input->flags, input->width, input->height};
        record.data.assign(input->data, input->data + input->dataLength);
        input->id = AddLocked(std::move(record));
        return kKvwOk;
    }
    case kAttach:
    case kDetach: {
        // Attaching names one record; detaching one or several (a count of 0 or 1 names one), all or
        // none of them.
        const KvwWord count = id == kAttach || words[3] == 0 ? 1 : words[3];
        if (!words[2])
            return kKvwInvalidArgument;
        const KvwItemIdList ids = IdsOf(words[2], count);
        KvwItemIdList& list = m_attached[IdOf(words)];
        for (KvwItemId record : ids) {
            if (m_records.find(record) == m_records.end())
                return kKvwNothingToWorkOn;
            if (id == kDetach && std::find(list.begin(), list.end(), record) == list.end())
                return kKvwNothingToWorkOn;
        }
        for (KvwItemId record : ids) {
            auto at = std::find(list.begin(), list.end(), record);
            if (id == kDetach)
                list.erase(at);
            else if (at == list.end())
                list.push_back(record);
        }
        return kKvwOk;
    }
    case kDelete: {
        const KvwItemId record = IdOf(words);
        if (m_records.erase(record) == 0)
            return kKvwNothingToWorkOn;
        for (auto& [owner, list] : m_attached)
            list.erase(std::remove(list.begin(), list.end(), record), list.end());
        return kKvwOk;
    }
    default:
        return kKvwInvalidArgument;
    }
}

KvwResult CHostRecordDatabase::GetSourceData(KvwItemId id, CKvwSourceData* data, DWORD flags) const {
    if (!data)
        return kKvwInvalidArgument;
    std::lock_guard<std::mutex> guard(m_lock);
    if (flags == kKvwSourceRecordList) {
        auto it = m_attached.find(id);
        data->records = it == m_attached.end() ? KvwItemIdList{} : it->second;
        return kKvwOk;
    }
    auto it = m_records.find(id);
    if (it == m_records.end())
        return kKvwNothingToWorkOn;
    const Record& record = it->second;
    data->name = record.name;
    data->type = record.kind;
    data->kind = record.kind;
    data->value = record.value;
    data->dataLength = static_cast<DWORD>(record.data.size());
    data->flags = record.flags;
    data->width = record.width;
    data->height = record.height;
    return kKvwOk;
}

void CHostRecordDatabase::Withhold(DWORD request, KvwResult result) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_withheld[request] = result;
}

void CHostRecordDatabase::Restore() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_withheld.clear();
}

KvwItemId CHostRecordDatabase::Add(const Record& record) {
    std::lock_guard<std::mutex> guard(m_lock);
    return AddLocked(record);
}

KvwItemId CHostRecordDatabase::AddLocked(Record record) {
    const KvwItemId id = m_nextId++;
    m_records.emplace(id, std::move(record));
    return id;
}

void CHostRecordDatabase::Attach(KvwItemId owner, KvwItemId record) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_attached[owner].push_back(record);
}

KvwItemIdList CHostRecordDatabase::Attached(KvwItemId owner) const {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_attached.find(owner);
    return it == m_attached.end() ? KvwItemIdList{} : it->second;
}

bool CHostRecordDatabase::Find(KvwItemId id, Record* record) const {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = m_records.find(id);
    if (it == m_records.end())
        return false;
    if (record)
        *record = it->second;
    return true;
}

std::size_t CHostRecordDatabase::RecordCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_records.size();
}

void CHostRecordDatabase::ClearRequestLog() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_requests.clear();
}

std::vector<DWORD> CHostRecordDatabase::Requests() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_requests;
}
