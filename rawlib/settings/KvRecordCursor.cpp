#include "KvRecordCursor.h"

#include <climits>
#include <cstring>

void KvPutBytes(BYTE* dest, const void* source, std::size_t count) {
    if (count)
        std::memcpy(dest, source, count);
}

bool KvPutValue(BYTE* dest, std::uint64_t value, int width) {
    if (width != 1 && width != 2 && width != 4 && width != 8)
        return false;
    for (int i = 0; i < width; ++i)
        dest[i] = static_cast<BYTE>(value >> (8 * i));
    return true;
}

std::uint64_t KvGetValue(const BYTE* source, int width) {
    if (width != 1 && width != 2 && width != 4 && width != 8)
        return 0;
    std::uint64_t value = 0;
    for (int i = 0; i < width; ++i)
        value |= static_cast<std::uint64_t>(source[i]) << (8 * i);
    return value;
}

CKvRecordWriter::CKvRecordWriter(BYTE* buffer, int size, const KvStateId& id, WORD version, bool lengthField)
    : m_buffer(buffer), m_size(buffer && size > 0 ? size : 0) {
    if (m_size >= 16) {
        KvPutBytes(m_buffer, id.Data(), 16);
        m_lastEnd = 16;
    }
    if (m_size >= 18) {
        KvPutValue(m_buffer + 16, version, 2);
        m_lastEnd = 18;
    }
    if (lengthField) {
        m_position = 22;
        if (m_size >= 22) {
            m_lengthWritten = true;
            m_lastEnd = 22;
        } else {
            m_shift = 4;
        }
    }
}

bool CKvRecordWriter::Fits(std::uint64_t width) const {
    const std::int64_t at = m_position - m_shift;
    return m_buffer && width <= static_cast<std::uint64_t>(m_size) &&
           static_cast<std::uint64_t>(at) <= static_cast<std::uint64_t>(m_size) - width;
}

void CKvRecordWriter::Put(std::uint64_t value, int width) {
    if (Fits(width)) {
        KvPutValue(m_buffer + (m_position - m_shift), value, width);
        m_lastEnd = m_position - m_shift + width;
    }
    m_position += width;
}

void CKvRecordWriter::PutF64(double value) {
    std::uint64_t bits;
    static_assert(sizeof bits == sizeof value);
    std::memcpy(&bits, &value, sizeof bits);
    Put(bits, 8);
}

void CKvRecordWriter::PutBytes(const void* data, std::uint64_t count) {
    if (Fits(count)) {
        KvPutBytes(m_buffer + (m_position - m_shift), data, count);
        m_lastEnd = m_position - m_shift + static_cast<std::int64_t>(count);
    }
    // Sizes past the int range only come from corrupt objects; the saturated result below reports them.
    m_position = count > static_cast<std::uint64_t>(INT64_MAX - m_position)
                     ? INT64_MAX
                     : m_position + static_cast<std::int64_t>(count);
}

int CKvRecordWriter::Finish() {
    if (m_lengthWritten)
        KvPutValue(m_buffer + 18, static_cast<std::uint64_t>(m_lastEnd - 18), 4);
    return m_position > INT_MAX ? INT_MAX : static_cast<int>(m_position);
}

CKvFieldReader::CKvFieldReader(const BYTE* buffer, int size, std::int64_t position)
    : m_buffer(buffer), m_size(buffer && size > 0 ? size : 0), m_position(position) {}

namespace {
std::int64_t FieldsStart(const BYTE* buffer, int size, bool lengthField) {
    return buffer && lengthField && size >= 22 ? 22 : 18;
}
} // namespace

CKvRecordReader::CKvRecordReader(const BYTE* buffer, int size, bool lengthField)
    : CKvFieldReader(buffer, size, FieldsStart(buffer, size, lengthField)) {
    if (m_size >= 18)
        m_version = static_cast<WORD>(KvGetValue(m_buffer + 16, 2));
}

bool CKvRecordReader::IsRecordOf(const KvStateId& id) const {
    return m_size >= 16 && id.Matches(m_buffer);
}

std::uint64_t CKvFieldReader::GetRemaining() const {
    return m_position < m_size ? static_cast<std::uint64_t>(m_size - m_position) : 0;
}

bool CKvFieldReader::Take(std::uint64_t width, const BYTE** at) {
    const bool present = width <= GetRemaining();
    if (present)
        *at = m_buffer + m_position;
    m_position = width > static_cast<std::uint64_t>(INT64_MAX - m_position)
                     ? INT64_MAX
                     : m_position + static_cast<std::int64_t>(width);
    return present;
}

bool CKvFieldReader::GetU8(BYTE& value) {
    const BYTE* at = nullptr;
    if (!Take(1, &at))
        return false;
    value = at[0];
    return true;
}

bool CKvFieldReader::GetFlag(BYTE& value) {
    BYTE raw = 0;
    if (!GetU8(raw))
        return false;
    value = raw ? 1 : 0;
    return true;
}

bool CKvFieldReader::GetU16(WORD& value) {
    const BYTE* at = nullptr;
    if (!Take(2, &at))
        return false;
    value = static_cast<WORD>(KvGetValue(at, 2));
    return true;
}

bool CKvFieldReader::GetI16(SHORT& value) {
    WORD raw = 0;
    if (!GetU16(raw))
        return false;
    value = static_cast<SHORT>(raw);
    return true;
}

bool CKvFieldReader::GetU32(DWORD& value) {
    const BYTE* at = nullptr;
    if (!Take(4, &at))
        return false;
    value = static_cast<DWORD>(KvGetValue(at, 4));
    return true;
}

bool CKvFieldReader::GetI32(LONG& value) {
    DWORD raw = 0;
    if (!GetU32(raw))
        return false;
    value = static_cast<LONG>(raw);
    return true;
}

bool CKvFieldReader::GetF64(double& value) {
    const BYTE* at = nullptr;
    if (!Take(8, &at))
        return false;
    const std::uint64_t bits = KvGetValue(at, 8);
    std::memcpy(&value, &bits, sizeof value);
    return true;
}

bool CKvFieldReader::GetBytes(void* data, std::uint64_t count) {
    const BYTE* at = nullptr;
    if (!Take(count, &at))
        return false;
    KvPutBytes(static_cast<BYTE*>(data), at, count);
    return true;
}

void CKvFieldReader::Skip(std::uint64_t count) {
    const BYTE* at = nullptr;
    Take(count, &at);
}
