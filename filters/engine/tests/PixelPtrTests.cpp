#include "filters/engine/CPixelPtr.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

namespace {

using PravonPixelCursors::CPixelBitPtr;
using PravonPixelCursors::CPixelPtr;

// Grey codes of 1, 2 and 4 bits: one channel, bits per sample in the high byte.
constexpr LONG kGrey1 = 0x01020001;
constexpr LONG kGrey2 = 0x02020001;
constexpr LONG kGrey4 = 0x04020001;

LONG GreyOf(LONG bits) {
    return bits == 1 ? kGrey1 : bits == 2 ? kGrey2 : kGrey4;
}

unsigned ReadPixel(const std::vector<BYTE>& bytes, std::size_t index, LONG bits) {
    const std::size_t bit = index * bits;
    return (bytes[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
}

void WritePixel(std::vector<BYTE>& bytes, std::size_t index, LONG bits, unsigned value) {
    const std::size_t bit = index * bits;
    const unsigned shift = 8 - bits - bit % 8;
    const auto mask = static_cast<BYTE>(((1u << bits) - 1) << shift);
    bytes[bit / 8] = static_cast<BYTE>((bytes[bit / 8] & ~mask) | ((value << shift) & mask));
}

TEST(PixelBitPtrTest, BitOffsetSelectsThePixelWithinTheGivenByte) {
    BYTE row[4] = {};
    CPixelBitPtr p(row, 13, kGrey1, 4);
    EXPECT_EQ(p.GetPtr(), row);
    EXPECT_EQ(p.GetBit(), 5);
    p.IncX();
    p.IncX();
    p.IncX();
    EXPECT_EQ(p.GetPtr(), row + 1);
    EXPECT_EQ(p.GetBit(), 0);

    // Two- and four-bit offsets fall back to the start of the pixel they lie in.
    EXPECT_EQ(CPixelBitPtr(row, 3, kGrey2, 4).GetBit(), 2);
    EXPECT_EQ(CPixelBitPtr(row, 7, kGrey4, 4).GetBit(), 4);
    EXPECT_EQ(CPixelBitPtr(row, 5, PravonColorSpace::kGrey8, 4).GetBit(), 0);
    EXPECT_EQ(CPixelPtr(row + 2, 13, PravonColorSpace::kRGB8, 4).GetPtr(), row + 2);
}

TEST(PixelBitPtrTest, MovesCarryIntoThePointerBorrowFromItAndCompareByBitPosition) {
    BYTE row[32] = {};
    for (LONG bits : {1, 2, 4}) {
        const CPixelBitPtr start(row + 16, 0, GreyOf(bits), 8);
        for (LONG n = -20; n <= 20; ++n) {
            CPixelBitPtr moved = start.OffsetX(n);
            const std::int64_t bit = 128 + std::int64_t{n} * bits;
            EXPECT_EQ(moved.GetPtr(), row + bit / 8) << bits << " bits, n " << n;
            EXPECT_EQ(moved.GetBit(), bit % 8) << bits << " bits, n " << n;
            EXPECT_EQ(n < 0, moved < start);
            EXPECT_EQ(n <= 0, moved <= start);
            EXPECT_EQ(n > 0, moved > start);
            moved.MoveX(-n);
            EXPECT_EQ(moved, start);
        }
        CPixelBitPtr p = start.Offset(1, 1);
        p.DecX();
        EXPECT_EQ(p, start.OffsetY(1));
        EXPECT_EQ(p.GetPtr(), row + 24);
        EXPECT_EQ(start.GetPtr(), row + 16) << "offsets leave the cursor where it was";
    }
    CPixelPtr p(row, PravonColorSpace::kRGB16, 8);
    EXPECT_EQ(p.OffsetY(2).GetPtr(), row + 16);
    p.Move(2, 1);
    p.DecY();
    EXPECT_EQ(p.GetPtr(), row + 12);
    EXPECT_GT(p, CPixelPtr(row, PravonColorSpace::kRGB16, 8));
}

TEST(PixelPtrTest, SinglePixelCopiesMoveExactlyOnePixelAtAnyAddress) {
    // 1 to 4 channels of 8 and 16 bits, and 32-bit grey: 1, 2, 3, 4, 6 and 8 bytes, copied between
    // unaligned addresses.
    const LONG spaces[] = {PravonColorSpace::kGrey8,
                           0x08040001,
                           PravonColorSpace::kRGB8,
                           0x08080001,
                           PravonColorSpace::kGrey16,
                           PravonColorSpace::kRGB16,
                           0x10080001,
                           0x20020001};
    for (LONG cs : spaces) {
        std::array<BYTE, 32> src{};
        for (std::size_t i = 0; i < src.size(); ++i)
            src[i] = static_cast<BYTE>(i * 37 + 11);
        std::array<BYTE, 32> dst{};
        dst.fill(0xEE);
        const CPixelPtr from(src.data() + 1, cs, 0);
        const LONG n = from.GetBytesPerPixel();
        from.CopyPixelTo(CPixelPtr(dst.data() + 3, cs, 0));
        for (std::size_t i = 0; i < dst.size(); ++i) {
            const bool inPixel = i >= 3 && i < 3 + static_cast<std::size_t>(n);
            EXPECT_EQ(dst[i], inPixel ? src[i - 2] : 0xEE) << std::hex << cs << " byte " << i;
        }
        std::array<BYTE, 32> back{};
        CPixelPtr(back.data() + 5, cs, 0).CopyPixelFrom(dst.data() + 3);
        EXPECT_EQ(0, std::memcmp(back.data() + 5, src.data() + 1, n));
        EXPECT_EQ(back[5 + n], 0);
    }
}

TEST(PixelPtrTest, RunsCopyCountPixelsAndNothingForCountsBelowOne) {
    std::vector<BYTE> src(64);
    for (std::size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<BYTE>(i + 1);
    std::vector<BYTE> dst(64, 0);
    const CPixelPtr from(src.data() + 3, PravonColorSpace::kRGB8, 64);
    from.CopyPixelsTo(dst.data(), 0);
    from.CopyPixelsTo(dst.data(), -4);
    EXPECT_EQ(dst, std::vector<BYTE>(64, 0));
    from.CopyPixelsTo(CPixelPtr(dst.data() + 1, PravonColorSpace::kRGB8, 64), 5);
    for (std::size_t i = 0; i < dst.size(); ++i)
        EXPECT_EQ(dst[i], i >= 1 && i < 16 ? src[i + 2] : 0) << "byte " << i;
    CPixelPtr(dst.data() + 40, PravonColorSpace::kRGB8, 64).CopyPixelsFrom(from, 2);
    EXPECT_EQ(0, std::memcmp(dst.data() + 40, src.data() + 3, 6));
    EXPECT_EQ(dst[46], 0);
}

// Every bit position, depth and run length against a pixel-by-pixel copy; bits outside the run must keep
// their values, so the destination starts out random.
TEST(PixelBitPtrTest, BitRunCopiesChangeExactlyTheRunForEveryAlignment) {
    std::mt19937 random(7);
    for (LONG bits : {1, 2, 4}) {
        const LONG perByte = 8 / bits;
        for (LONG srcPixel = 0; srcPixel < perByte; ++srcPixel) {
            for (LONG dstPixel = 0; dstPixel < perByte; ++dstPixel) {
                for (LONG count = 0; count <= 20; ++count) {
                    std::vector<BYTE> src(16);
                    std::vector<BYTE> dst(16);
                    for (auto& b : src)
                        b = static_cast<BYTE>(random());
                    for (auto& b : dst)
                        b = static_cast<BYTE>(random());
                    std::vector<BYTE> expected = dst;
                    // Start one byte in, so a borrow or an over-read before the run would show.
                    const std::size_t s0 = perByte + srcPixel;
                    const std::size_t d0 = perByte + dstPixel;
                    for (LONG i = 0; i < count; ++i)
                        WritePixel(expected, d0 + i, bits, ReadPixel(src, s0 + i, bits));
                    const CPixelBitPtr from(src.data() + 1, srcPixel * bits, GreyOf(bits), 16);
                    const CPixelBitPtr to(dst.data() + 1, dstPixel * bits, GreyOf(bits), 16);
                    if (count == 1 && (srcPixel + dstPixel) % 2 == 0)
                        from.CopyPixelTo(to);
                    else if (count % 2 == 0)
                        from.CopyPixelsTo(to, count);
                    else
                        to.CopyPixelsFrom(from, count);
                    ASSERT_EQ(dst, expected) << bits << " bits, from pixel " << srcPixel << " to pixel "
                                             << dstPixel << ", " << count << " pixels";
                }
            }
        }
    }
}

TEST(PixelBitPtrTest, BitRunCopyTouchesNoByteOutsideTheRun) {
    // Buffers of exactly the bytes that hold the run: ASan reports any access past them.
    for (LONG bits : {1, 2, 4}) {
        for (LONG srcBit = 0; srcBit < 8; srcBit += bits) {
            for (LONG dstBit = 0; dstBit < 8; dstBit += bits) {
                for (LONG count = 1; count <= 12; ++count) {
                    const std::int64_t runBits = std::int64_t{count} * bits;
                    std::vector<BYTE> src(static_cast<std::size_t>((srcBit + runBits + 7) / 8), 0xA5);
                    std::vector<BYTE> dst(static_cast<std::size_t>((dstBit + runBits + 7) / 8), 0x00);
                    CPixelBitPtr(src.data(), srcBit, GreyOf(bits), 0)
                        .CopyPixelsTo(CPixelBitPtr(dst.data(), dstBit, GreyOf(bits), 0), count);
                    for (LONG i = 0; i < count; ++i)
                        ASSERT_EQ(ReadPixel(dst, dstBit / bits + i, bits),
                                  ReadPixel(src, srcBit / bits + i, bits));
                }
            }
        }
    }
}

TEST(PixelBitPtrTest, SetPixelLeavesTheOtherPixelsOfTheByteAlone) {
    for (LONG bits : {1, 2, 4}) {
        const LONG perByte = 8 / bits;
        for (LONG i = 0; i < perByte; ++i) {
            std::vector<BYTE> row = {0x5A, 0xC3};
            std::vector<BYTE> expected = row;
            const unsigned value = (0xB5u >> i) & ((1u << bits) - 1);
            WritePixel(expected, perByte + i, bits, value);
            const CPixelBitPtr p(row.data() + 1, i * bits, GreyOf(bits), 2);
            EXPECT_EQ(p.GetPixel(), ReadPixel(row, perByte + i, bits));
            p.SetPixel(static_cast<BYTE>(value | 0xF0)); // bits above the pixel's width are dropped
            EXPECT_EQ(row, expected) << bits << " bits, pixel " << i;
            EXPECT_EQ(p.GetPixel(), value);
        }
    }
}

TEST(PixelBitPtrTest, WholeBytePixelsMoveAndCopyAsBytes) {
    std::vector<BYTE> src(30);
    for (std::size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<BYTE>(200 - i);
    std::vector<BYTE> dst(30, 0);
    const CPixelBitPtr from = CPixelBitPtr(src.data(), 0, PravonColorSpace::kRGB8, 30).OffsetX(1);
    from.CopyPixelsTo(CPixelBitPtr(dst.data() + 6, 0, PravonColorSpace::kRGB8, 30), 2);
    EXPECT_EQ(0, std::memcmp(dst.data() + 6, src.data() + 3, 6));
    EXPECT_EQ(dst[12], 0);
}

} // namespace
