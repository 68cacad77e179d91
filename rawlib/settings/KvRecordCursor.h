// The shared framing of settings records: a writer that puts each field only when it fits whole and
// fills the length field, a reader that never reads past the bytes it was given, and the read rule with
// its three version policies. Every record class writes and reads through these, so the framing rules
// live in one place.
#pragma once

#include "KvStateId.h"

#include <cstddef>
#include <cstdint>
#include <new>

// Copies `count` bytes from `source` to `dest`.
void KvPutBytes(BYTE* dest, const void* source, std::size_t count);
// Stores the low `width` bytes of `value` little-endian; a width other than 1, 2, 4 or 8 stores nothing
// and gives false.
bool KvPutValue(BYTE* dest, std::uint64_t value, int width);
// Loads a little-endian value of `width` bytes; a width other than 1, 2, 4 or 8 gives 0.
std::uint64_t KvGetValue(const BYTE* source, int width);

class CKvRecordWriter {
public:
    // Writes the id when `size` is at least 16 and the version when it is at least 18. With a length
    // field, a size of at least 22 keeps the four length bytes at 18 and the fields start at 22; a
    // smaller size has no room for the length, and the fields that fit go from 18 on. Records without a
    // length field start their fields at 18.
    CKvRecordWriter(BYTE* buffer, int size, const KvStateId& id, WORD version, bool lengthField = true);

    // Each puts one field at the current position when it fits whole, and always moves on by its width.
    void PutU8(BYTE value) { Put(value, 1); }
    void PutFlag(bool value) { Put(value ? 1 : 0, 1); }
    void PutU16(WORD value) { Put(value, 2); }
    void PutI16(SHORT value) { Put(static_cast<WORD>(value), 2); }
    void PutU32(DWORD value) { Put(value, 4); }
    void PutI32(LONG value) { Put(static_cast<DWORD>(value), 4); }
    void PutF64(double value);
    void PutBytes(const void* data, std::uint64_t count);

    // Full-layout offset of the next field (as if the buffer were large enough).
    std::int64_t GetPosition() const { return m_position; }

    // Stores the length (the distance from offset 18 to the end of the last byte written) when the length
    // field was written, and returns the size of the complete record.
    int Finish();

private:
    bool Fits(std::uint64_t width) const;
    void Put(std::uint64_t value, int width);

    BYTE* m_buffer;
    std::int64_t m_size;
    std::int64_t m_position = 18; // offset in the complete record
    std::int64_t m_shift = 0; // how far before its full-layout offset a field lands (4 without length room)
    bool m_lengthWritten = false;
    std::int64_t m_lastEnd = 0;
};

// A bounded cursor over stored fields: each read takes a field only when it lies wholly within the bytes and
// always moves on by its width; positions are 64-bit, so no stated count can wrap them.
class CKvFieldReader {
public:
    CKvFieldReader(const BYTE* buffer, int size, std::int64_t position = 0);

    // Each reads one field when it lies wholly within the record and always moves on by its width; a
    // field that is not there leaves `value` as it was and gives false.
    bool GetU8(BYTE& value);
    bool GetFlag(BYTE& value); // any non-zero byte reads as 1
    bool GetU16(WORD& value);
    bool GetI16(SHORT& value);
    bool GetU32(DWORD& value);
    bool GetI32(LONG& value);
    bool GetF64(double& value);
    bool GetBytes(void* data, std::uint64_t count);
    void Skip(std::uint64_t count);

    std::int64_t GetPosition() const { return m_position; }
    // Bytes left between the position and the end of the record (0 once past it).
    std::uint64_t GetRemaining() const;
    // Whether `count` more bytes lie within the record from the position on.
    bool Has(std::uint64_t count) const { return count <= GetRemaining(); }
    // The bytes at the position; only meaningful while something remains.
    const BYTE* Here() const { return m_buffer + m_position; }

protected:
    const BYTE* m_buffer;
    std::int64_t m_size;

private:
    bool Take(std::uint64_t width, const BYTE** at);

    std::int64_t m_position;
};

// The reader of a record with the common framing: id, version and (usually) a length field first.
class CKvRecordReader : public CKvFieldReader {
public:
    // Positions the reader after the header: at 22 when the record has a length field and `size` covers
    // it, else at 18.
    CKvRecordReader(const BYTE* buffer, int size, bool lengthField = true);

    // True when the bytes carry at least an id and it is `id` in either of its forms.
    bool IsRecordOf(const KvStateId& id) const;
    // The stored version; 0 when the record is too short to hold one.
    WORD GetVersion() const { return m_version; }

private:
    WORD m_version = 0;
};

// How a class treats the version of a record it reads.
enum class KvVersionPolicy {
    kExact,       // only `exactVersion` is accepted
    kZeroResets,  // version 0 (or no version at all) gives the defaults and 22; newer ones read what is known
    kZeroRejects, // version 0 is refused; newer ones read what is known
};

// The read rule shared by the records: check size and id, apply the version policy, read the fields
// present into a temporary holding the class's defaults, then assign it to the target with the class's
// own assignment. `readFields(reader, version, temporary)` reads the fields of that version and returns
// the size the version defines. A refused record (0) leaves the target unchanged.
template <class T, class ReadFields>
int KvReadRecord(T& target, const BYTE* buffer, int size, const KvStateId& id, KvVersionPolicy policy,
                 WORD exactVersion, ReadFields readFields, bool lengthField = true) {
    if (!buffer || size < 16)
        return 0;
    CKvRecordReader reader(buffer, size, lengthField);
    if (!reader.IsRecordOf(id))
        return 0;
    const WORD version = reader.GetVersion();
    try {
        switch (policy) {
        case KvVersionPolicy::kExact:
            if (version != exactVersion)
                return 0;
            break;
        case KvVersionPolicy::kZeroRejects:
            if (version == 0)
                return 0;
            break;
        case KvVersionPolicy::kZeroResets:
            if (version == 0) {
                target = T();
                return 22;
            }
            break;
        }
        T temporary;
        const int consumed = readFields(reader, version, temporary);
        target = temporary;
        return consumed;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}
