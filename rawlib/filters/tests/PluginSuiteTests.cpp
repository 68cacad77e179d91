// The host's suites called directly, as a plug-in calls them through the record.
#include "rawlib/filters/CPluginWin.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

namespace {

using namespace KvPlugin;

TEST(PluginSuites, AHandleKeepsItsBytesAndItsIdentityThroughResizes) {
    CPluginWin host;
    EXPECT_EQ(host.NewHandle(-1), nullptr);
    KvHandle handle = host.NewHandle(5);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(host.GetHandleSize(handle), 5);
    std::memcpy(host.LockHandle(handle, FALSE), "bytes", 5);
    for (LONG size : {4096, 1 << 22, 3, 9}) {
        ASSERT_EQ(host.SetHandleSize(handle, size), kNoError) << size;
        EXPECT_EQ(host.GetHandleSize(handle), size) << "the size asked for, not the allocator's";
    }
    EXPECT_EQ(std::memcmp(host.LockHandle(handle, FALSE), "byt\0\0\0\0\0\0", 9), 0)
        << "shrinking kept the first bytes and growing added zeros";

    EXPECT_EQ(host.SetHandleSize(handle, -4), kErrParameter);
    EXPECT_EQ(host.GetHandleSize(handle), 9) << "a refused size leaves the handle as it was";

    // Handles the host never issued, or disposed, reach nothing.
    KvHandle foreign = reinterpret_cast<KvHandle>(std::uintptr_t{0x1000});
    EXPECT_EQ(host.GetHandleSize(foreign), 0);
    EXPECT_EQ(host.LockHandle(foreign, FALSE), nullptr);
    EXPECT_EQ(host.SetHandleSize(foreign, 4), kErrParameter);
    host.DisposeHandle(foreign);
    host.DisposeRegularHandle(handle);
    EXPECT_EQ(host.LockHandle(handle, FALSE), nullptr);
    host.DisposeHandle(handle);
    // Handles left over are the host's to free (the address sanitizer's leak check holds it to that).
    ASSERT_NE(host.NewHandle(100), nullptr);
}

TEST(PluginSuites, BufferIdsAreSlotsAndAFreedSlotIsReusedFirst) {
    CPluginWin host;
    KvBufferId ids[4] = {-1, -1, -1, -1};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(host.AllocateBuffer(64 * (i + 1), &ids[i]), kNoError);
        EXPECT_EQ(ids[i], i);
    }
    host.FreeBuffer(1);
    EXPECT_EQ(host.LockBuffer(1, FALSE), nullptr) << "a freed slot holds no data";
    ASSERT_EQ(host.AllocateBuffer(10, &ids[3]), kNoError);
    EXPECT_EQ(ids[3], 1);
    std::memset(host.LockBuffer(1, FALSE), 0x5A, 10);

    KvBufferId empty = -1;
    EXPECT_EQ(host.AllocateBuffer(0, &empty), -1) << "a buffer without data";
    EXPECT_EQ(empty, 3);
    EXPECT_EQ(host.AllocateBuffer(8, nullptr), kErrParameter);
    for (KvBufferId bad : {-1, 4, 1000, std::numeric_limits<KvBufferId>::min()}) {
        EXPECT_EQ(host.LockBuffer(bad, FALSE), nullptr) << bad;
        host.UnlockBuffer(bad);
        host.FreeBuffer(bad);
    }
    EXPECT_NE(host.LockBuffer(2, FALSE), nullptr) << "bad ids touched no slot";
    host.ReleaseBuffers();
    EXPECT_EQ(host.LockBuffer(0, FALSE), nullptr);
    KvBufferId again = -1;
    ASSERT_EQ(host.AllocateBuffer(8, &again), kNoError);
    EXPECT_EQ(again, 0);
}

TEST(PluginSuites, ColourServicesConvertNothingButAnswerTheRest) {
    CPluginWin host;
    struct Case {
        std::int16_t selector, source, result;
        SHORT answer;
    };
    for (const Case& c :
         {Case{kColorServicesConvert, 3, 3, kNoError}, Case{kColorServicesConvert, 3, 1, kErrParameter},
          Case{kColorServicesConvert, 0, 2, kErrParameter}, Case{0, 3, 1, kNoError},
          Case{2, 1, 4, kNoError}}) {
        KvColorServicesInfo info{sizeof(KvColorServicesInfo), c.selector, c.source, c.result, {}};
        EXPECT_EQ(host.CheckColorServices(&info), c.answer)
            << c.selector << " " << c.source << " " << c.result;
    }
    EXPECT_EQ(host.CheckColorServices(nullptr), kNoError);
}

TEST(PluginSuites, FreeSpaceIsAPositive32BitCount) {
    CPluginWin host;
    EXPECT_GT(host.GetFreeMemory(), 0);
    EXPECT_GT(host.BufferSpace(), 0);
}

TEST(PluginSuites, CallbacksMadeOutsideAPluginCallDoNothing) {
    CPluginWin host;
    KvFilterRecord& r = host.GetFilterRecord();
    EXPECT_EQ(r.abortProc(), 0);
    EXPECT_EQ(r.advanceState(), 0);
    EXPECT_EQ(r.handleSuite->newHandle(8), nullptr);
    KvBufferId id = 7;
    EXPECT_EQ(r.bufferSuite->allocate(8, &id), 0);
    EXPECT_EQ(id, 7);
    EXPECT_EQ(r.bufferSuite->space(), 0);
    r.progressProc(1, 2);
}

struct Drawn {
    void* context = nullptr;
    LONG x = 0, y = 0;
    BITMAPINFOHEADER header{};
    std::vector<BYTE> bits;
};

class CaptureSink : public IPluginDisplaySink {
public:
    void DrawDib(void* context, LONG x, LONG y, const BITMAPINFOHEADER& header, const BYTE* bits) override {
        drawn.push_back({context, x, y, header, std::vector<BYTE>(bits, bits + header.biSizeImage)});
    }
    std::vector<Drawn> drawn;
};

// A 5 x 3 map at (10, 20) with row bytes 7: sample value 16 * row + column, planes 40 apart.
struct MapPixels {
    std::vector<BYTE> bytes = std::vector<BYTE>(200, 0xEE);
    MapPixels() {
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                for (int p = 0; p < 3; ++p)
                    bytes[y * 7 + x + 40 * p] = static_cast<BYTE>(16 * y + x + 100 * p);
    }
};

TEST(PluginSuites, DrawingClipsToTheMapAndMakesATopDownBlueGreenRedBitmap) {
    CPluginWin host;
    CaptureSink sink;
    host.SetDisplaySink(&sink);
    MapPixels pixels;
    int context = 0;
    const KvPluginRect wide{8, 19, 13, 22}; // cut to (10, 20) - (13, 22): 3 x 2
    const KvPixelMap rgb{1, {10, 20, 15, 23}, kModeRGB, 7, 1, 40, pixels.bytes.data()};
    ASSERT_EQ(host.DisplayPixels(&rgb, &wide, 4, 6, &context), kNoError);
    const KvPixelMap grey{1, {10, 20, 15, 23}, kModeGrey, 7, 1, 0, pixels.bytes.data()};
    ASSERT_EQ(host.DisplayPixels(&grey, &wide, 4, 6, &context), kNoError);
    ASSERT_EQ(sink.drawn.size(), 2u);

    for (const Drawn& d : sink.drawn) {
        EXPECT_EQ(d.context, &context);
        EXPECT_EQ(d.x, 6);
        EXPECT_EQ(d.y, 4);
        EXPECT_EQ(d.header.biSize, 40u);
        EXPECT_EQ(d.header.biWidth, 3);
        EXPECT_EQ(d.header.biHeight, -2) << "first row on top";
        EXPECT_EQ(d.header.biBitCount, 24);
        EXPECT_EQ(d.header.biPlanes, 1);
        EXPECT_EQ(d.header.biXPelsPerMeter, 3880);
        EXPECT_EQ(d.header.biYPelsPerMeter, 3880);
        EXPECT_EQ(d.header.biSizeImage, 24u) << "rows of 9 bytes padded to 12";
    }
    // Row 0 of the cut is map row 0, columns 0 to 2; the third row would be map row 2.
    const std::vector<BYTE> colour = {200, 100, 0,  201, 101, 1,  202, 102, 2,  0, 0, 0,
                                      216, 116, 16, 217, 117, 17, 218, 118, 18, 0, 0, 0};
    const std::vector<BYTE> greys = {0,  0,  0,  1,  1,  1,  2,  2,  2,  0, 0, 0,
                                     16, 16, 16, 17, 17, 17, 18, 18, 18, 0, 0, 0};
    EXPECT_EQ(sink.drawn[0].bits, colour);
    EXPECT_EQ(sink.drawn[1].bits, greys);
}

TEST(PluginSuites, DrawingNothingStillAnswersZero) {
    CPluginWin host;
    CaptureSink sink;
    host.SetDisplaySink(&sink);
    MapPixels pixels;
    const KvPixelMap rgb{1, {10, 20, 15, 23}, kModeRGB, 7, 1, 40, pixels.bytes.data()};
    const KvPixelMap deep{1, {10, 20, 15, 23}, kModeRGB16, 14, 2, 80, pixels.bytes.data()};
    const KvPluginRect beside{15, 20, 30, 23}, inside{10, 20, 12, 21};
    EXPECT_EQ(host.DisplayPixels(&rgb, &beside, 0, 0, nullptr), kNoError);
    EXPECT_EQ(host.DisplayPixels(&deep, &inside, 0, 0, nullptr), kNoError);
    EXPECT_EQ(host.DisplayPixels(nullptr, &inside, 0, 0, nullptr), kNoError);
    EXPECT_EQ(host.DisplayPixels(&rgb, nullptr, 0, 0, nullptr), kNoError);
    EXPECT_TRUE(sink.drawn.empty());
    host.SetDisplaySink(nullptr);
    EXPECT_EQ(host.DisplayPixels(&rgb, &inside, 0, 0, nullptr), kNoError) << "no sink: nothing to draw on";
}

} // namespace
