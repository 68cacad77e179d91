#include "TKorvelDbPrefs.h"

#include "platform/win/utf16.h"

using namespace Utf;

namespace {

// The flag words of the record requests, the host's own.
constexpr KvwWord kDataFlag = 1;
constexpr KvwWord kCreateKind = 0x93;
constexpr KvwWord kItemLinkKind = 0x20;

} // namespace

void TKorvelDbPrefs::SetHost(KvwHostCallback callback, IKvwItemService* items) {
    m_callback = callback;
    m_items = items;
}

void TKorvelDbPrefs::SetItem(DWORD idLow, DWORD idHigh) {
    m_item = KvwMakeItemId(idLow, idHigh);
}

KvwResult TKorvelDbPrefs::Send(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5,
                               KvwWord p6) const {
    if (!m_callback)
        return kKvwInvalidArgument;
    return m_callback(id, p1, p2, p3, p4, p5, p6, 0, 0);
}

bool TKorvelDbPrefs::FindRecord(const wchar_t* key, Found& found) const {
    if (m_item == 0 || !key || !m_items)
        return false;
    CKvwSourceData source;
    if (!KvwSucceeded(m_items->GetSourceData(KvwItemIdLow(m_item), KvwItemIdHigh(m_item), &source,
                                             kKvwSourceRecordList)))
        return false;
    const std::string name = WideToUtf8(key);
    for (KvwItemId id : source.records) {
        CKvwSourceData fields;
        if (!KvwSucceeded(
                m_items->GetSourceData(KvwItemIdLow(id), KvwItemIdHigh(id), &fields, kKvwSourceRecordFields)))
            continue;
        if (fields.kind == kRecordKind && fields.name == name) {
            found.id = id;
            found.fields = std::move(fields);
            return true;
        }
    }
    return false;
}

bool TKorvelDbPrefs::ReadData(const Found& found, std::vector<BYTE>& data) const {
    const DWORD length = found.fields.dataLength;
    if (length > kMaxDataLength)
        return false;
    data.assign(length, 0);
    return KvwSucceeded(Send(KvwRecordRequest::kRead, KvwItemIdLow(found.id), KvwItemIdHigh(found.id),
                             reinterpret_cast<KvwWord>(data.data()), length, 0, kDataFlag));
}

bool TKorvelDbPrefs::GetString(const wchar_t* key, TString& value) {
    Found found;
    std::vector<BYTE> data;
    if (!FindRecord(key, found) || !ReadData(found, data))
        return false;
    // The text ends at its first terminator; a block without one (or of an odd length) ends where it does.
    std::u16string units = Utf16FromLEBytes(data.data(), data.size() & ~std::size_t{1});
    units.resize(std::char_traits<char16_t>::length(units.c_str()));
    value = TString(Utf16ToWide(units).c_str());
    return true;
}

bool TKorvelDbPrefs::SetString(const wchar_t* key, const wchar_t* value) {
    std::vector<BYTE> bytes;
    AppendUtf16LE(bytes, WideToUtf16(value ? value : L""));
    bytes.push_back(0);
    bytes.push_back(0);
    return SetBinary(key, bytes.data(), static_cast<DWORD>(bytes.size()));
}

bool TKorvelDbPrefs::GetBinary(const wchar_t* key, BYTE*& buffer, DWORD& size) {
    buffer = nullptr;
    size = 0;
    Found found;
    std::vector<BYTE> data;
    if (!FindRecord(key, found) || !ReadData(found, data))
        return false;
    size = static_cast<DWORD>(data.size());
    if (size != 0) {
        buffer = new BYTE[size];
        std::copy(data.begin(), data.end(), buffer);
    }
    return true;
}

bool TKorvelDbPrefs::SetBinary(const wchar_t* key, const BYTE* data, DWORD size) {
    if (m_item == 0 || !key || (!data && size != 0))
        return false;
    Found found;
    if (FindRecord(key, found))
        return KvwSucceeded(Send(KvwRecordRequest::kReplace, KvwItemIdLow(found.id), KvwItemIdHigh(found.id),
                                 reinterpret_cast<KvwWord>(data), size, 0, kDataFlag));
    CKvwInputData record;
    return CreateRecord(key, 0, data, size, record);
}

bool TKorvelDbPrefs::GetLong(const TString& key, LONG* value) {
    Found found;
    if (!value || !FindRecord(key, found))
        return false;
    *value = found.fields.value;
    return true;
}

bool TKorvelDbPrefs::SetLong(const TString& key, LONG value) {
    if (m_item == 0)
        return false;
    Found old;
    const bool replacing = FindRecord(key, old);
    // The new record is made and attached before the old one goes, so that a refusal on the way leaves
    // the old value readable.
    CKvwInputData record;
    if (!CreateRecord(key, value, nullptr, 0, record))
        return false;
    if (!replacing)
        return true;
    CKvwInputData oldRecord;
    oldRecord.id = old.id;
    if (!DetachRecord(oldRecord)) {
        // The old record stays first in the item's list: the new one goes again, or it would shadow a
        // later value.
        DetachRecord(record);
        DeleteRecord(record.id);
        return false;
    }
    // Detached, the old record is read no more: a refused delete leaves it behind, the new value stands.
    return DeleteRecord(old.id);
}

bool TKorvelDbPrefs::DetachRecord(const CKvwInputData& record) const {
    return KvwSucceeded(Send(KvwRecordRequest::kDetach, KvwItemIdLow(m_item), KvwItemIdHigh(m_item),
                             reinterpret_cast<KvwWord>(&record), 1, kItemLinkKind));
}

bool TKorvelDbPrefs::DeleteRecord(KvwItemId id) const {
    return KvwSucceeded(
        Send(KvwRecordRequest::kDelete, KvwItemIdLow(id), KvwItemIdHigh(id), 0, 0, kItemLinkKind));
}

bool TKorvelDbPrefs::CreateRecord(const wchar_t* key, LONG value, const BYTE* data, DWORD size,
                                  CKvwInputData& record) {
    record.name = WideToUtf8(key);
    record.kind = kRecordKind;
    record.value = value;
    record.data = data;
    record.dataLength = size;
    if (!KvwSucceeded(
            Send(KvwRecordRequest::kCreate, 0, 0, reinterpret_cast<KvwWord>(&record), 1, kCreateKind)))
        return false;
    if (KvwSucceeded(Send(KvwRecordRequest::kAttach, KvwItemIdLow(m_item), KvwItemIdHigh(m_item),
                          reinterpret_cast<KvwWord>(&record), 1, kItemLinkKind)))
        return true;
    DeleteRecord(record.id); // attached to nothing, it would never be found again
    return false;
}
