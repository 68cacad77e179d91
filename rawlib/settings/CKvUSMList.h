// The sharpening list: unsharp-mask passes applied in order. Its record holds an 8-bit entry count and
// the entries as complete unsharp-mask records; a list is written with at most 255 entries so that the
// count always matches what follows it.
#pragma once

#include "CKvUSM.h"

#include <cstddef>
#include <vector>

class CKvUSMList : public IKvState {
public:
    static constexpr WORD kVersion = 2;
    static constexpr std::size_t kMaxStoredEntries = 255;

    CKvUSMList() = default;
    CKvUSMList(const CKvUSMList&) = default;
    CKvUSMList& operator=(const CKvUSMList&) = default;

    void Reset() { m_entries.clear(); }
    bool operator==(const CKvUSMList& other) const { return m_entries == other.m_entries; }

    int WriteState(BYTE* buffer, int size) override;
    // Reads versions 1 (no length field) and 2; any other version is refused.
    int ReadState(const BYTE* buffer, int size) override;
    const BYTE* GetStateId() override;

    void Append(const CKvUSM& entry) { m_entries.push_back(entry); }
    void Clear() { m_entries.clear(); }
    std::size_t GetCount() const { return m_entries.size(); }
    // `index` must be below GetCount().
    const CKvUSM& GetEntry(std::size_t index) const { return m_entries[index]; }
    CKvUSM& GetEntry(std::size_t index) { return m_entries[index]; }

private:
    std::vector<CKvUSM> m_entries;
};
