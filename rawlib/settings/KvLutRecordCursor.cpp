#include "KvLutRecordCursor.h"

#include "KvRecordCursor.h"

#include <climits>
#include <cstring>

int KvSaturatedSize(std::uint64_t size) {
    return size > static_cast<std::uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

CKvLutRecordWriter::CKvLutRecordWriter(BYTE* buffer, int size)
    : m_buffer(buffer), m_size(buffer && size > 0 ? size : 0) {}

bool CKvLutRecordWriter::Fits(std::uint64_t width) const {
    return m_buffer && width <= static_cast<std::uint64_t>(m_size) &&
           static_cast<std::uint64_t>(m_position) <= static_cast<std::uint64_t>(m_size) - width;
}

void CKvLutRecordWriter::Advance(std::uint64_t width) {
    m_position = width > static_cast<std::uint64_t>(INT64_MAX - m_position)
                     ? INT64_MAX
                     : m_position + static_cast<std::int64_t>(width);
}

void CKvLutRecordWriter::Put(std::uint64_t value, int width) {
    if (Fits(width)) {
        KvPutValue(m_buffer + m_position, value, width);
        m_lastEnd = m_position + width;
    }
    Advance(width);
}

void CKvLutRecordWriter::PutF64(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    Put(bits, 8);
}

void CKvLutRecordWriter::PutBytes(const void* data, std::uint64_t count) {
    if (Fits(count)) {
        KvPutBytes(m_buffer + m_position, data, count);
        m_lastEnd = m_position + static_cast<std::int64_t>(count);
    }
    Advance(count);
}

void CKvLutRecordWriter::PutRecord(IKvState& record) {
    const int size = record.GetStateSize();
    const std::uint64_t width = size > 0 ? static_cast<std::uint64_t>(size) : 0;
    if (width && Fits(width)) {
        record.WriteState(m_buffer + m_position, size);
        m_lastEnd = m_position + size;
    }
    Advance(width);
}

void CKvLutRecordWriter::PatchU32(std::int64_t offset, DWORD value) {
    if (m_buffer && offset >= 0 && offset + 4 <= m_size)
        KvPutValue(m_buffer + offset, value, 4);
}

int CKvLutRecordWriter::GetResult() const {
    return KvSaturatedSize(static_cast<std::uint64_t>(m_position));
}
