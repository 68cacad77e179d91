#include "PlaneHash.h"

#include <cstdio>

namespace kvtest {

namespace {

constexpr std::uint64_t kOffsetBasis = 0xcbf29ce484222325ull;
constexpr std::uint64_t kPrime = 0x100000001b3ull;

void Mix(std::uint64_t& h, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        h ^= (value >> (8 * i)) & 0xFF;
        h *= kPrime;
    }
}

} // namespace

std::uint64_t HashPlane(const TestPlane& plane) {
    std::uint64_t h = kOffsetBasis;
    Mix(h, static_cast<std::uint32_t>(plane.width), 4);
    Mix(h, static_cast<std::uint32_t>(plane.height), 4);
    Mix(h, static_cast<std::uint32_t>(plane.colorSpace), 4);
    const LONG bits = plane.BitsPerSample();
    const LONG channels = bits < 8 ? 1 : plane.Channels();
    const int bytes = bits <= 8 ? 1 : (bits + 7) / 8;
    for (LONG y = 0; y < plane.height; ++y)
        for (LONG x = 0; x < plane.width; ++x)
            for (LONG c = 0; c < channels; ++c)
                Mix(h, plane.Sample(x, y, c), bytes);
    return h;
}

std::uint64_t HashBytes(const void* data, std::size_t size) {
    std::uint64_t h = kOffsetBasis;
    const auto* p = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i)
        Mix(h, p[i], 1);
    return h;
}

std::string HashText(std::uint64_t hash) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%016llx", static_cast<unsigned long long>(hash));
    return text;
}

} // namespace kvtest
