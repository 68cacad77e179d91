#include "platform/veruzoraz/CVerDemosaic.h"
#include "platform/veruzoraz/CVerEncoding.h"
#include "platform/veruzoraz/VERuzOraz.h"
#include "platform/veruzoraz/VerHooks.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

namespace {

constexpr std::int32_t kUnitOf128 = 128;
constexpr std::int32_t kUnitOf256 = 256;

std::int32_t Develop(const std::uint16_t* mosaic, std::int32_t heightMinus1, std::int32_t width,
                     std::int32_t redGain, std::int32_t blueGain, std::int32_t firstMode,
                     std::int32_t secondMode, std::int32_t exposureFactor, std::int32_t toneFactor,
                     std::uint8_t* privateData, VerProgressFunction progress, void* context,
                     std::uint16_t* output, std::int32_t pattern) {
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
    const std::int32_t unit = privateData[0] == 1 ? kUnitOf128 : kUnitOf256;
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
    // Green carries no gain of its own.
    const std::int64_t multipliers[3] = {CVerDemosaic::ChannelMultiplier(redGain, unit, exposureFactor),
                                         CVerDemosaic::ChannelMultiplier(unit, unit, exposureFactor),
                                         CVerDemosaic::ChannelMultiplier(blueGain, unit, exposureFactor)};
    CVerDemosaic demosaic(mosaic, width, pattern, VER_LEFT_MARGIN, top, multipliers);
    const CVerEncoding encoding(toneFactor);
    std::vector<std::int32_t> linear(static_cast<std::size_t>(3 * outWidth));
    for (std::int64_t y = 0; y < outHeight; ++y) {
        if (y % VER_PROGRESS_ROWS == 0 && !report(y)) {
            call.result = VER_CANCELLED;
            return veruzoraz::Log(std::move(call));
        }
        demosaic.Row(y, outWidth, linear.data());
        std::uint16_t* row = output + y * outWidth * 3;
        for (std::int64_t i = 0; i < 3 * outWidth; ++i)
            row[i] = encoding.Encode(linear[i]);
    }
    if (!report(outHeight)) {
        call.result = VER_CANCELLED;
        return veruzoraz::Log(std::move(call));
    }
    call.result = VER_OK;
    return veruzoraz::Log(std::move(call));
}

} // namespace

extern "C" std::int32_t sig_proc_ex(const std::uint16_t* mosaic, std::int32_t heightMinus1,
                                    std::int32_t width, std::int32_t redGain, std::int32_t blueGain,
                                    std::int32_t firstMode, std::int32_t secondMode,
                                    std::int32_t exposureFactor, std::int32_t toneFactor,
                                    std::uint8_t* privateData, VerProgressFunction progress, void* context,
                                    std::uint16_t* output, std::int32_t pattern) {
    // No exception leaves the library: a conversion without the memory it needs fails.
    try {
        return Develop(mosaic, heightMinus1, width, redGain, blueGain, firstMode, secondMode, exposureFactor,
                       toneFactor, privateData, progress, context, output, pattern);
    } catch (const std::bad_alloc&) {
        return VER_NO_MEMORY;
    }
}
