// One raw picture for the development tests: a 12-bit mosaic of camera model 258 with the tags its camera
// file carries, developed through a fresh exported filter-chain object.
#pragma once

#include "rawlib/pipeline/IKvnFilterChain.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/IPravonFilterChain.h"
#include "platform/quasel/CPravonTagControl.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TestPlane.h"

#include <gtest/gtest.h>

#include <functional>

namespace kvtest {

class ChainPicture {
public:
    static constexpr LONG kWidth = 76;
    static constexpr LONG kHeight = 52;
    // The demosaicing keeps all but a margin of 6 pixels on every side.
    static constexpr LONG kMargin = 6;
    static constexpr LONG kDevelopedWidth = kWidth - 2 * kMargin;
    static constexpr LONG kDevelopedHeight = kHeight - 2 * kMargin;
    // The camera's colour mode and white-balance tags, which samples written before the sample maker
    // wrote them lack.
    enum class CameraTags { kAll, kWithoutColorModeAndWhiteBalance };

    // A random mosaic, or one of a single 12-bit value when flat is 0 to 4095.
    explicit ChainPicture(int flat = -1, CameraTags cameraTags = CameraTags::kAll)
        : ChainPicture(
              [flat](LONG, LONG, WORD random) { return flat >= 0 ? static_cast<WORD>(flat) : random; },
              cameraTags) {}
    // A mosaic whose sample at (x, y) is `sample`(x, y, a random 12-bit value).
    explicit ChainPicture(const std::function<WORD(LONG x, LONG y, WORD random)>& sample,
                          CameraTags cameraTags = CameraTags::kAll) {
        mosaic = MakePlane(kWidth, kHeight, PravonColorSpace::kRawMosaic16, FillPattern::Random, 7);
        for (LONG y = 0; y < kHeight; ++y) {
            auto* row = reinterpret_cast<WORD*>(mosaic.Row(y));
            for (LONG x = 0; x < kWidth; ++x)
                row[x] = sample(x, y, static_cast<WORD>(row[x] & 0x0FFF));
        }
        image = MakeImage(manager, mosaic);
        tags = new CPravonTagControl();
        const LONG longs[][2] = {
            {0x10000, kWidth}, {0x10001, kHeight}, {0x10002, PravonColorSpace::kRawMosaic16}};
        for (const auto& tag : longs)
            EXPECT_PV_OK(tags->WriteTag(static_cast<ULONG>(tag[0]), 4, 4, &tag[1]));
        const BYTE pattern[] = {0, 2, 0, 2, 0, 1, 1, 2};
        EXPECT_PV_OK(tags->WriteTag(0xA302, 1, sizeof pattern, pattern));
        tags->SetCameraModel(258);
        if (cameraTags == CameraTags::kAll) {
            // Taken in sRGB, which the development then keeps as its output space.
            const LONG srgbMode = 0;
            EXPECT_PV_OK(tags->WriteTag(0x8008D, 9, 4, &srgbMode));
            // The camera's automatic white balance, as its own files record it.
            const LONG automaticWhiteBalance[2] = {0, 0};
            EXPECT_PV_OK(tags->WriteTag(0x80005, 9, sizeof automaticWhiteBalance, automaticWhiteBalance));
        }
    }
    ~ChainPicture() {
        if (object)
            object->Destroy();
        tags->Release();
    }
    ChainPicture(const ChainPicture&) = delete;
    ChainPicture& operator=(const ChainPicture&) = delete;

    IPravonError* Open() {
        if (IPravonError* e = IKvnFilterChain::CreateObject(&object))
            return e;
        return object->Initialize(&manager, image.get(), tags);
    }
    // The chain's output, pulled whole in random tile order.
    TestPlane Develop() {
        IPravonFilterChain* chain = nullptr;
        TestPlane out;
        EXPECT_PV_OK(object->GetFilterChain(&chain));
        if (chain) {
            EXPECT_PV_OK(PullAll(chain->GetOutput(), &out, PullOrder::RandomOrder));
        }
        return out;
    }

    CPravonMemoryManager manager{16};
    TestPlane mosaic;
    PravonImagePtr image;
    CPravonTagControl* tags = nullptr;
    IKvnFilterChain* object = nullptr;
};

} // namespace kvtest
