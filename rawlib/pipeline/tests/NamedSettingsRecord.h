// A stored settings record with the picture's name appended, for tests that need a reader to allocate a
// block of a size they choose: the name's copy takes its length plus one.
#pragma once

#include "rawlib/settings/KvRecordCursor.h"
#include "rawlib/settings/KvStateIds.h"

#include <cstddef>
#include <vector>

namespace kvtest {

inline std::vector<BYTE> WithNameItem(std::vector<BYTE> record, std::size_t nameLength) {
    // The item: its id, version 1, its length (counted from the length field) and the text with its NUL.
    std::vector<BYTE> name(KvStateIds::kItemName.stored.begin(), KvStateIds::kItemName.stored.end());
    name.resize(name.size() + 6);
    KvPutValue(name.data() + 16, 1, 2);
    KvPutValue(name.data() + 18, 4 + nameLength + 1, 4);
    name.insert(name.end(), nameLength, 'n');
    name.push_back(0);
    record.insert(record.end(), name.begin(), name.end());
    // The aggregate's own length covers the new item.
    KvPutValue(record.data() + 18, record.size() - 18, 4);
    return record;
}

} // namespace kvtest
