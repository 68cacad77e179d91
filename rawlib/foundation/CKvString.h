// The raw library's own narrow string (UTF-8) for paths, names and plug-in identities: a growable byte
// buffer holding a NUL-terminated text. The capacity only grows, and allocation goes through virtual
// Allocate, Free and Reserve so that a subclass can change how memory is had.
#pragma once

#include "platform/win/wintypes.h"

#include <cstdarg>
#include <cstddef>

// Holds the length rule; the storage slots are left to the implementation.
class CKvStringBase {
public:
    virtual ~CKvStringBase() = default;
    // Index of the first NUL within the capacity; 0 when the buffer holds no NUL (or there is none).
    virtual int GetLength() const;
    // Makes a buffer of max(n, 4) bytes the string's buffer and capacity; the old buffer is left to the
    // caller. False, with buffer and capacity unchanged, when no memory is to be had.
    virtual bool Allocate(int n) = 0;
    virtual void Free(char* buffer) = 0;
    // When the capacity is below n: Allocate(n), copy the old capacity's bytes over, Free the old buffer.
    // False when the capacity could not be reached; the string is then unchanged.
    virtual bool Reserve(int n) = 0;
    virtual int GetCapacity() const = 0;
    virtual const char* GetBuffer() const = 0;
    // -1: no limit.
    virtual int GetMaxLength() const = 0;
};

class CKvString : public CKvStringBase {
public:
    CKvString();
    CKvString(const char* text);
    CKvString(const CKvString& other);
    CKvString& operator=(const char* text);
    CKvString& operator=(const CKvString& other);
    ~CKvString() override;

    bool Allocate(int n) override;
    void Free(char* buffer) override;
    bool Reserve(int n) override;
    int GetCapacity() const override;
    const char* GetBuffer() const override;
    char* GetBuffer() { return const_cast<char*>(static_cast<const CKvString*>(this)->GetBuffer()); }
    int GetMaxLength() const override;

    // Copies the text with its NUL (null counts as ""). The text may lie inside this string's own buffer.
    // False, with the string unchanged, when memory for it cannot be had.
    bool Assign(const char* text);
    // Takes over the other's whole buffer (at least its capacity).
    bool Assign(const CKvString& other);
    // Adds the text behind the current length; an empty text changes nothing. The text may lie inside
    // this string's own buffer (s.Append(s) doubles s).
    bool Append(const char* text);
    bool Append(const CKvString& other);

    // Case-blind comparison (ASCII letters). count -1: same length and the whole texts match. A count
    // >= 0: this string is at least count long and its first count letters match. 1 for a match, else 0.
    int CompareNoCase(const char* text, int count = -1) const;
    int CompareNoCase(const CKvString& other, int count = -1) const;

    // The first byte is NUL.
    bool IsEmpty() const;
    // The letter at index, or NUL outside the text.
    char GetAt(int index) const;
    operator const char*() const { return GetBuffer() ? GetBuffer() : ""; }

    // The piece of count letters from start into out. A start beyond the length leaves out as it is; a
    // negative start counts as 0; a negative count, or one larger than what remains, takes the rest.
    void Mid(CKvString& out, int start, int count = -1) const;
    CKvString Left(int count) const;
    // The last min(count, length) letters; a negative count takes the whole text.
    CKvString Right(int count) const;

    // Reserves n bytes and returns the buffer address plus n; null for a negative n or without memory.
    char* GetBufferEnd(int n);

    // A length byte followed by that many letters. The form with a size refuses (false, string unchanged)
    // a length byte that claims more letters than the bytes hold.
    bool FromPascal(const BYTE* bytes);
    bool FromPascal(const BYTE* bytes, std::size_t size);
    // Writes the length, cut to 255, then that many letters without a NUL; out holds at least 256 bytes
    // (or length + 1). Returns the number of bytes written.
    int ToPascal(BYTE* out) const;

    // printf-style formatting into the string. A LONG prints with "%d" (C++ long is 64-bit here). The text
    // is formatted apart and then assigned, so arguments may point into this string. False, with the
    // string unchanged, for an encoding error or a text longer than kMaxFormatLength.
    bool Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    bool FormatV(const char* format, va_list args) __attribute__((format(printf, 2, 0)));
    static constexpr int kMaxFormatLength = (1 << 24) - 1;

private:
    // Makes the text the n bytes at p, or puts them behind the current length; p may point into this
    // string's own buffer, which a reallocation copies to the same offsets.
    bool AssignBytes(const char* p, std::size_t n);
    bool AppendBytes(const char* p, std::size_t n);
    // The length of a C text; within this buffer it is bounded by the capacity.
    std::size_t TextLength(const char* text) const;
    // The offset of p within this string's buffer, or -1 when it lies outside.
    std::ptrdiff_t OffsetInBuffer(const char* p) const;

    int m_capacity = 0;
    char* m_buffer = nullptr;
};
