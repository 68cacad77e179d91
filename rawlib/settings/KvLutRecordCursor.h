// Field cursors for the curve records (the LUT group and its channels), whose headers do not follow the
// common framing: the writer starts at offset 0, puts a field only when it fits whole into the size it was
// given and always moves on by the field's width; the reader takes a field only when it lies wholly within
// the bytes it was given. Positions are 64-bit, so no stated count can wrap them.
#pragma once

#include "IKvState.h"
#include "KvRecordCursor.h"

#include <cstdint>

class CKvLutRecordWriter {
public:
    CKvLutRecordWriter(BYTE* buffer, int size);

    void PutBytes(const void* data, std::uint64_t count);
    void PutU8(BYTE value) { Put(value, 1); }
    void PutU16(WORD value) { Put(value, 2); }
    void PutU32(DWORD value) { Put(value, 4); }
    void PutI32(LONG value) { Put(static_cast<DWORD>(value), 4); }
    void PutF64(double value);
    // A nested record, written whole or not at all.
    void PutRecord(IKvState& record);
    // Moves on without writing, for a field that is filled in last.
    void Skip(std::uint64_t count) { Advance(count); }
    // Writes a 32-bit value at an earlier offset when it fits; the position does not move.
    void PatchU32(std::int64_t offset, DWORD value);

    std::int64_t GetPosition() const { return m_position; }
    // The end of the last byte written (0 when nothing was).
    std::int64_t GetLastEnd() const { return m_lastEnd; }
    // The size of the complete record: the position, saturated to the int range.
    int GetResult() const;

private:
    bool Fits(std::uint64_t width) const;
    void Put(std::uint64_t value, int width);
    void Advance(std::uint64_t width);

    BYTE* m_buffer;
    std::int64_t m_size;
    std::int64_t m_position = 0;
    std::int64_t m_lastEnd = 0;
};

// The curve records' reader: the common bounded field reader, starting wherever the caller says.
class CKvLutRecordReader : public CKvFieldReader {
public:
    using CKvFieldReader::CKvFieldReader;
};

// A 64-bit record size as the int that the record interface returns.
int KvSaturatedSize(std::uint64_t size);
