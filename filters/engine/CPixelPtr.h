// Cursors over the pixels of a locked tile: CPixelPtr for pixels of whole bytes, CPixelBitPtr also for
// 1, 2 and 4 bits per pixel packed from the most significant bit down. Filters address pixels by column
// and row with them and copy pixels and runs of pixels between tiles.
#pragma once

#include "platform/pravon/IPravonDataSource.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace PravonPixelCursors {

namespace detail {

// One pixel of `bytes` bytes with the fewest moves: one for 1, 2 and 4 bytes, two for 3 and 6.
inline void CopyPixelBytes(BYTE* dst, const BYTE* src, LONG bytes) {
    switch (bytes) {
    case 1:
        *dst = *src;
        break;
    case 2:
        std::memcpy(dst, src, 2);
        break;
    case 3:
        std::memcpy(dst, src, 2);
        dst[2] = src[2];
        break;
    case 4:
        std::memcpy(dst, src, 4);
        break;
    case 6:
        std::memcpy(dst, src, 4);
        std::memcpy(dst + 4, src + 4, 2);
        break;
    default:
        for (LONG i = 0; i < bytes; ++i)
            dst[i] = src[i];
        break;
    }
}

inline void CopyPixelRun(BYTE* dst, const BYTE* src, LONG count, LONG bytes) {
    if (count > 0 && bytes > 0)
        std::memmove(dst, src, static_cast<std::size_t>(count) * static_cast<std::size_t>(bytes));
}

// Copies `bits` bits from bit srcBit of src to bit dstBit of dst (bit 0 is the most significant bit of a
// byte; both positions in 0..7). Bits of dst outside the run keep their values, and no byte of src that
// holds no bit of the run is read.
inline void CopyBitRun(BYTE* dst, LONG dstBit, const BYTE* src, LONG srcBit, std::int64_t bits) {
    if (bits <= 0)
        return;
    if (srcBit == dstBit) {
        const LONG p = dstBit;
        if (p + bits <= 8) {
            const auto mask = static_cast<BYTE>((0xFFu >> p) & ~(0xFFu >> (p + bits)));
            *dst = static_cast<BYTE>((*dst & ~mask) | (*src & mask));
            return;
        }
        if (p > 0) {
            const auto mask = static_cast<BYTE>(0xFFu >> p);
            *dst = static_cast<BYTE>((*dst & ~mask) | (*src & mask));
            ++dst;
            ++src;
            bits -= 8 - p;
        }
        const std::size_t whole = static_cast<std::size_t>(bits / 8);
        std::memmove(dst, src, whole);
        dst += whole;
        src += whole;
        const LONG rest = static_cast<LONG>(bits % 8);
        if (rest > 0) {
            const auto mask = static_cast<BYTE>(~(0xFFu >> rest));
            *dst = static_cast<BYTE>((*dst & ~mask) | (*src & mask));
        }
        return;
    }
    // Source bits stream through an accumulator that never holds more than 15 bits: a byte is loaded only
    // while fewer bits are held than the next destination byte needs.
    std::uint32_t acc = *src++ & (0xFFu >> srcBit);
    LONG held = 8 - srcBit;
    auto take = [&](LONG n) {
        while (held < n) {
            acc = (acc << 8) | *src++;
            held += 8;
        }
        held -= n;
        const std::uint32_t v = (acc >> held) & ((1u << n) - 1);
        acc &= (1u << held) - 1;
        return v;
    };
    const LONG first = static_cast<LONG>(bits < 8 - dstBit ? bits : 8 - dstBit);
    const LONG firstShift = 8 - dstBit - first;
    const auto firstMask = static_cast<BYTE>(((1u << first) - 1) << firstShift);
    *dst = static_cast<BYTE>((*dst & ~firstMask) | (take(first) << firstShift));
    ++dst;
    bits -= first;
    for (; bits >= 8; bits -= 8)
        *dst++ = static_cast<BYTE>(take(8));
    if (bits > 0) {
        const LONG rest = static_cast<LONG>(bits);
        const auto mask = static_cast<BYTE>(~(0xFFu >> rest));
        *dst = static_cast<BYTE>((*dst & ~mask) | (take(rest) << (8 - rest)));
    }
}

} // namespace detail

// For pixels of 8 bits and more; a step is one pixel of whole bytes. Below 8 bits the byte step is 0, so
// the cursor neither moves across a row nor copies anything (CPixelBitPtr serves those formats).
class CPixelPtr {
public:
    CPixelPtr() = default;
    CPixelPtr(LONG colorSpace, LONG rowBytes) : CPixelPtr(nullptr, colorSpace, rowBytes) {}
    CPixelPtr(BYTE* data, LONG colorSpace, LONG rowBytes)
        : m_data(data), m_bitsPerPixel(IPravonDataSource::GetBitsPerPixel(colorSpace)),
          m_bytesPerPixel(m_bitsPerPixel / 8), m_rowBytes(rowBytes) {}
    // Whole-byte pixels have no position inside a byte: the cursor points at data itself.
    CPixelPtr(BYTE* data, LONG bitOffset, LONG colorSpace, LONG rowBytes)
        : CPixelPtr(data, colorSpace, rowBytes) {}
    CPixelPtr(const CPixelPtr&) = default;
    CPixelPtr& operator=(const CPixelPtr&) = default;

    BYTE* GetPtr() const { return m_data; }
    void SetPtr(BYTE* data) { m_data = data; }
    LONG GetBitsPerPixel() const { return m_bitsPerPixel; }
    LONG GetBytesPerPixel() const { return m_bytesPerPixel; }
    LONG GetRowBytes() const { return m_rowBytes; }

    void IncX() { m_data += m_bytesPerPixel; }
    void DecX() { m_data -= m_bytesPerPixel; }
    void IncY() { m_data += m_rowBytes; }
    void DecY() { m_data -= m_rowBytes; }
    void MoveX(LONG n) { m_data += static_cast<std::ptrdiff_t>(n) * m_bytesPerPixel; }
    void MoveY(LONG n) { m_data += static_cast<std::ptrdiff_t>(n) * m_rowBytes; }
    void Move(LONG x, LONG y) {
        MoveX(x);
        MoveY(y);
    }
    CPixelPtr OffsetX(LONG n) const {
        CPixelPtr p(*this);
        p.MoveX(n);
        return p;
    }
    CPixelPtr OffsetY(LONG n) const {
        CPixelPtr p(*this);
        p.MoveY(n);
        return p;
    }
    CPixelPtr Offset(LONG x, LONG y) const {
        CPixelPtr p(*this);
        p.Move(x, y);
        return p;
    }

    // The copies write through the cursor's pointer; the cursor itself does not move.
    void CopyPixelTo(BYTE* dst) const { detail::CopyPixelBytes(dst, m_data, m_bytesPerPixel); }
    void CopyPixelTo(const CPixelPtr& dst) const { CopyPixelTo(dst.m_data); }
    void CopyPixelFrom(const BYTE* src) const { detail::CopyPixelBytes(m_data, src, m_bytesPerPixel); }
    void CopyPixelFrom(const CPixelPtr& src) const { CopyPixelFrom(src.m_data); }
    // A run of count pixels along the row; count <= 0 copies nothing.
    void CopyPixelsTo(BYTE* dst, LONG count) const {
        detail::CopyPixelRun(dst, m_data, count, m_bytesPerPixel);
    }
    void CopyPixelsTo(const CPixelPtr& dst, LONG count) const { CopyPixelsTo(dst.m_data, count); }
    void CopyPixelsFrom(const BYTE* src, LONG count) const {
        detail::CopyPixelRun(m_data, src, count, m_bytesPerPixel);
    }
    void CopyPixelsFrom(const CPixelPtr& src, LONG count) const { CopyPixelsFrom(src.m_data, count); }

    bool operator==(const CPixelPtr& o) const { return m_data == o.m_data; }
    bool operator!=(const CPixelPtr& o) const { return m_data != o.m_data; }
    bool operator<(const CPixelPtr& o) const { return m_data < o.m_data; }
    bool operator>(const CPixelPtr& o) const { return m_data > o.m_data; }
    bool operator<=(const CPixelPtr& o) const { return m_data <= o.m_data; }
    bool operator>=(const CPixelPtr& o) const { return m_data >= o.m_data; }

private:
    BYTE* m_data = nullptr;
    LONG m_bitsPerPixel = 0;
    LONG m_bytesPerPixel = 0;
    LONG m_rowBytes = 0;
};

// For every depth: below 8 bits per pixel a step is bits per pixel within the row, carried into the data
// pointer in whole bytes with the bit position kept in 0..7; from 8 bits on it behaves as CPixelPtr. Depths
// below 8 other than 1, 2 and 4 do not pack into bytes: such a cursor moves but reads, writes and copies
// nothing.
class CPixelBitPtr {
public:
    CPixelBitPtr() = default;
    CPixelBitPtr(LONG colorSpace, LONG rowBytes) : CPixelBitPtr(nullptr, 0, colorSpace, rowBytes) {}
    // The bit offset selects the pixel within the byte at data: it is masked with (8 - bits per pixel), so
    // bits of value 8 and above are ignored and the data pointer stays where it was given. A caller that
    // counts bits from a row start passes (row + bits / 8, bits).
    CPixelBitPtr(BYTE* data, LONG bitOffset, LONG colorSpace, LONG rowBytes)
        : m_data(data), m_bitsPerPixel(IPravonDataSource::GetBitsPerPixel(colorSpace)),
          m_bytesPerPixel(m_bitsPerPixel / 8), m_rowBytes(rowBytes) {
        const LONG b = m_bitsPerPixel;
        if (b == 1 || b == 2 || b == 4)
            m_mask = static_cast<BYTE>(0xFFu >> (8 - b));
        SetBit(bitOffset);
    }
    CPixelBitPtr(const CPixelBitPtr&) = default;
    CPixelBitPtr& operator=(const CPixelBitPtr&) = default;

    BYTE* GetPtr() const { return m_data; }
    void SetPtr(BYTE* data) { m_data = data; }
    LONG GetBit() const { return m_bit; }
    // Masked as in the constructor, so the position always names a whole pixel of the byte.
    void SetBit(LONG position) {
        m_bit = IsSubByte() ? (position & (8 - m_bitsPerPixel)) : 0;
        UpdateShift();
    }
    LONG GetBitsPerPixel() const { return m_bitsPerPixel; }
    LONG GetBytesPerPixel() const { return m_bytesPerPixel; }
    LONG GetRowBytes() const { return m_rowBytes; }
    BYTE GetMask() const { return m_mask; }

    void IncX() { MoveX(1); }
    void DecX() { MoveX(-1); }
    void IncY() { m_data += m_rowBytes; }
    void DecY() { m_data -= m_rowBytes; }
    void MoveX(LONG n) {
        if (!IsSubByte()) {
            m_data += static_cast<std::ptrdiff_t>(n) * m_bytesPerPixel;
            return;
        }
        const std::int64_t bit = m_bit + static_cast<std::int64_t>(n) * m_bitsPerPixel;
        m_data += static_cast<std::ptrdiff_t>(bit >> 3); // arithmetic shift: negative moves borrow
        m_bit = static_cast<LONG>(bit & 7);
        UpdateShift();
    }
    void MoveY(LONG n) { m_data += static_cast<std::ptrdiff_t>(n) * m_rowBytes; }
    void Move(LONG x, LONG y) {
        MoveX(x);
        MoveY(y);
    }
    CPixelBitPtr OffsetX(LONG n) const {
        CPixelBitPtr p(*this);
        p.MoveX(n);
        return p;
    }
    CPixelBitPtr OffsetY(LONG n) const {
        CPixelBitPtr p(*this);
        p.MoveY(n);
        return p;
    }
    CPixelBitPtr Offset(LONG x, LONG y) const {
        CPixelBitPtr p(*this);
        p.Move(x, y);
        return p;
    }

    // The pixel's bits brought to the low end; below 8 bits per pixel only (0 otherwise).
    BYTE GetPixel() const { return m_mask ? static_cast<BYTE>((*m_data >> m_shift) & m_mask) : 0; }
    // Writes the pixel's bits and leaves the other pixels of the byte as they were; below 8 bits only.
    void SetPixel(BYTE value) const {
        if (!m_mask)
            return;
        const auto bits = static_cast<BYTE>(m_mask << m_shift);
        *m_data = static_cast<BYTE>((*m_data & ~bits) | ((value << m_shift) & bits));
    }

    // A raw pointer stands for bit position 0 of its byte. The cursors themselves do not move.
    void CopyPixelTo(BYTE* dst) const { CopyRun(dst, 0, m_data, m_bit, 1); }
    void CopyPixelTo(const CPixelBitPtr& dst) const { CopyRun(dst.m_data, dst.m_bit, m_data, m_bit, 1); }
    void CopyPixelFrom(const BYTE* src) const { CopyRun(m_data, m_bit, src, 0, 1); }
    void CopyPixelFrom(const CPixelBitPtr& src) const { CopyRun(m_data, m_bit, src.m_data, src.m_bit, 1); }
    // A run of count pixels along the row; count <= 0 copies nothing. Bits of the destination outside the
    // run are never changed. Source and destination runs of sub-byte pixels must not overlap.
    void CopyPixelsTo(BYTE* dst, LONG count) const { CopyRun(dst, 0, m_data, m_bit, count); }
    void CopyPixelsTo(const CPixelBitPtr& dst, LONG count) const {
        CopyRun(dst.m_data, dst.m_bit, m_data, m_bit, count);
    }
    void CopyPixelsFrom(const BYTE* src, LONG count) const { CopyRun(m_data, m_bit, src, 0, count); }
    void CopyPixelsFrom(const CPixelBitPtr& src, LONG count) const {
        CopyRun(m_data, m_bit, src.m_data, src.m_bit, count);
    }

    bool operator==(const CPixelBitPtr& o) const { return m_data == o.m_data && m_bit == o.m_bit; }
    bool operator!=(const CPixelBitPtr& o) const { return !(*this == o); }
    bool operator<(const CPixelBitPtr& o) const {
        return m_data < o.m_data || (m_data == o.m_data && m_bit < o.m_bit);
    }
    bool operator>(const CPixelBitPtr& o) const { return o < *this; }
    bool operator<=(const CPixelBitPtr& o) const { return !(o < *this); }
    bool operator>=(const CPixelBitPtr& o) const { return !(*this < o); }

private:
    bool IsSubByte() const { return m_bitsPerPixel > 0 && m_bitsPerPixel < 8; }
    void UpdateShift() { m_shift = IsSubByte() ? 8 - m_bitsPerPixel - m_bit : 0; }
    void CopyRun(BYTE* dst, LONG dstBit, const BYTE* src, LONG srcBit, LONG count) const {
        if (count <= 0)
            return;
        if (!IsSubByte()) {
            if (count == 1)
                detail::CopyPixelBytes(dst, src, m_bytesPerPixel);
            else
                detail::CopyPixelRun(dst, src, count, m_bytesPerPixel);
        } else if (m_mask) {
            detail::CopyBitRun(dst, dstBit, src, srcBit, static_cast<std::int64_t>(count) * m_bitsPerPixel);
        }
    }

    BYTE* m_data = nullptr;
    LONG m_bit = 0;
    LONG m_bitsPerPixel = 0;
    LONG m_bytesPerPixel = 0;
    BYTE m_mask = 0;
    LONG m_rowBytes = 0;
    LONG m_shift = 0;
};

} // namespace PravonPixelCursors
