// Preferences kept as named records attached to one host item in the host's record database: each key is a
// record of kind kRecordKind whose name is the key, holding a 32-bit value or a data block. Every operation
// answers false, sending nothing, while no item is selected (item id 0).
#pragma once

#include "plugin_framework/TGenPreferences.h"

#include "platform/kvtrtl/IKvwHost.h"

#include <vector>

class TKorvelDbPrefs : public TGenPreferences {
public:
    static constexpr DWORD kRecordKind = 0x1600;
    // Larger data blocks are refused rather than read: no preference comes near it.
    static constexpr DWORD kMaxDataLength = 16u << 20;

    // The module's host callback and the host's item service (not owned).
    void SetHost(KvwHostCallback callback, IKvwItemService* items);
    void SetItem(DWORD idLow, DWORD idHigh);
    KvwItemId GetItem() const { return m_item; }

    // A host answer of 0x1000 or more ends an operation with false; nothing sent before it is undone.
    bool GetString(const wchar_t* key, TString& value) override;
    // The text's UTF-16 units with their terminating zero.
    bool SetString(const wchar_t* key, const wchar_t* value) override;
    bool GetBinary(const wchar_t* key, BYTE*& buffer, DWORD& size) override;
    bool SetBinary(const wchar_t* key, const BYTE* data, DWORD size) override;
    // The record's own 32-bit value (not a text). Setting replaces the record by a new one (its id
    // changes); a refused request on the way keeps the old record and value.
    bool GetLong(const TString& key, LONG* value);
    bool SetLong(const TString& key, LONG value);

private:
    struct Found {
        KvwItemId id = 0;
        CKvwSourceData fields;
    };
    // The first record of the item's list with the key's name and kRecordKind.
    bool FindRecord(const wchar_t* key, Found& found) const;
    bool ReadData(const Found& found, std::vector<BYTE>& data) const;
    // Creates a record with the key's name and attaches it to the item; one that cannot be attached is
    // deleted again.
    bool CreateRecord(const wchar_t* key, LONG value, const BYTE* data, DWORD size, CKvwInputData& record);
    bool DetachRecord(const CKvwInputData& record) const;
    bool DeleteRecord(KvwItemId id) const;
    KvwResult Send(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5,
                   KvwWord p6 = 0) const;

    KvwHostCallback m_callback = nullptr;
    IKvwItemService* m_items = nullptr;
    KvwItemId m_item = 0;
};
