#include "platform/veruzoraz/VERuzOraz.h"
#include "platform/veruzoraz/VerHooks.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr std::int32_t kUnitOf128 = 128;
constexpr std::int32_t kUnitOf256 = 256;
constexpr std::int32_t kFactorUnit = 256;

struct Rgb {
    std::int64_t r, g, b;
};

std::int64_t Sample(const std::uint16_t* mosaic, std::int64_t width, std::int64_t x, std::int64_t y) {
    return std::min<std::int64_t>(mosaic[y * width + x], VER_MAX_SAMPLE);
}

// The 2 x 2 cell whose top-left sample lies at (x, y).
Rgb Cell(const std::uint16_t* mosaic, std::int64_t width, std::int64_t x, std::int64_t y, std::int32_t pattern) {
    const std::int64_t a = Sample(mosaic, width, x, y);         // blue or yellow
    const std::int64_t b = Sample(mosaic, width, x + 1, y);     // green or cyan
    const std::int64_t c = Sample(mosaic, width, x, y + 1);     // green
    const std::int64_t d = Sample(mosaic, width, x + 1, y + 1); // red or magenta
    if (pattern == VER_PATTERN_BGGR)
        return {d, (b + c) / 2, a};
    // Yellow = red + green, cyan = green + blue, magenta = red + blue.
    return {(a + d - b) / 2, (a + b - d) / 2, (b + d - a) / 2};
}

std::uint16_t Scaled(std::int64_t value, std::int64_t gain, std::int64_t unit, std::int64_t exposure,
                     std::int64_t tone) {
    std::int64_t v = std::max<std::int64_t>(value, 0) * gain / unit;
    v = v * exposure / kFactorUnit * tone / kFactorUnit;
    return static_cast<std::uint16_t>(std::clamp<std::int64_t>(v, 0, VER_MAX_SAMPLE));
}

} // namespace

extern "C" std::int32_t sig_proc_ex(const std::uint16_t* mosaic, std::int32_t heightMinus1, std::int32_t width,
                                    std::int32_t redGain, std::int32_t blueGain, std::int32_t firstMode,
                                    std::int32_t secondMode, std::int32_t exposureFactor,
                                    std::int32_t toneFactor, std::uint8_t* privateData,
                                    VerProgressFunction progress, void* context, std::uint16_t* output,
                                    std::int32_t pattern) {
    VerCall call;
    call.heightMinus1 = heightMinus1;
    call.width = width;
    call.redGain = redGain;
    call.blueGain = blueGain;
    call.firstMode = firstMode;
    call.secondMode = secondMode;
    call.exposureFactor = exposureFactor;
    call.toneFactor = toneFactor;
    call.pattern = pattern;
    call.hadProgress = progress != nullptr;
    if (privateData)
        std::copy(privateData, privateData + VER_PRIVATE_BYTES, call.privateData.begin());
    if (const auto forced = veruzoraz::ForcedResult()) {
        call.result = *forced;
        return veruzoraz::Log(std::move(call));
    }

    const bool bggr = pattern == VER_PATTERN_BGGR;
    const std::int64_t height = std::int64_t{heightMinus1} + 1;
    const std::int64_t outWidth = std::int64_t{width} - VER_WIDTH_CUT;
    const std::int64_t outHeight = height - (bggr ? VER_HEIGHT_CUT_BGGR : VER_HEIGHT_CUT_YCGM);
    if (!mosaic || !output || !privateData || (!bggr && pattern != VER_PATTERN_YCGM) || outWidth <= 0 ||
        outHeight <= 0) {
        call.result = VER_BAD_SIZE;
        return veruzoraz::Log(std::move(call));
    }
    const std::int64_t unit = privateData[0] == 1 ? kUnitOf128 : kUnitOf256;
    const std::int64_t top = bggr ? VER_TOP_MARGIN_BGGR : VER_TOP_MARGIN_YCGM;
    const auto report = [&](std::int64_t row) {
        if (!progress)
            return true;
        const auto current = static_cast<std::int32_t>(row);
        const auto total = static_cast<std::int32_t>(outHeight);
        const std::int32_t answer = progress(context, current, total);
        call.progress.emplace_back(current, total);
        call.answers.push_back(answer);
        return answer != 0;
    };
    for (std::int64_t y = 0; y < outHeight; ++y) {
        if (y % VER_PROGRESS_ROWS == 0 && !report(y)) {
            call.result = VER_CANCELLED;
            return veruzoraz::Log(std::move(call));
        }
        const std::int64_t my = (y + top) & ~std::int64_t{1};
        std::uint16_t* row = output + y * outWidth * 3;
        for (std::int64_t x = 0; x < outWidth; ++x) {
            const std::int64_t mx = (x + VER_LEFT_MARGIN) & ~std::int64_t{1};
            const Rgb rgb = Cell(mosaic, width, mx, my, pattern);
            row[3 * x] = Scaled(rgb.r, redGain, unit, exposureFactor, toneFactor);
            row[3 * x + 1] = Scaled(rgb.g, 1, 1, exposureFactor, toneFactor);
            row[3 * x + 2] = Scaled(rgb.b, blueGain, unit, exposureFactor, toneFactor);
        }
    }
    if (!report(outHeight)) {
        call.result = VER_CANCELLED;
        return veruzoraz::Log(std::move(call));
    }
    call.result = VER_OK;
    return veruzoraz::Log(std::move(call));
}
