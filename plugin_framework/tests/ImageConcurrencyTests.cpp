// Codecs used from several threads at once, as two asynchronous renderers and the mail plug-in's saver use
// them: every call answers as it would alone, and nothing races (the suite runs under ThreadSanitizer).
#include "ImageTestSupport.h"

#include "platform/win/utf16.h"
#include "testing/TempFolder.h"

#include <filesystem>

namespace {

using imagetest::BytesSink;
using imagetest::Codec;

class ImageConcurrency : public imagetest::ImageHostTest {};

TEST_F(ImageConcurrency, TwoRenderThreadsAndASaverUseCodecsAtOnce) {
    kvtest::Watchdog watchdog("codecs on three threads");
    ASSERT_EQ(iproStartup(), 1);
    for (KvwItemId item = 1; item <= 4; ++item)
        AddItem(item, Pattern(48, 32, item % 2 ? 3 : 1), Pattern(24, 16, 4));
    kvtest::TempFolder folder;
    constexpr int kRounds = 12;
    std::atomic<int> finished{0}, failures{0};
    const auto render = [&](bool preview) {
        for (int round = 0; round < kRounds; ++round) {
            for (KvwItemId item = 1; item <= 4; ++item) {
                BytesSink sink;
                Codec codec;
                if (!(codec.SetParameter(IPRO_PARAM_USE_PREVIEW, preview ? 1 : 0) && codec.Open(item) &&
                      codec.SetSize(12, 8) && codec.Read(IPRO_FORMAT_BGRA32, 4, sink) &&
                      sink.data.size() == 12u * 8 * 4 && sink.data[3] == 0xFF))
                    ++failures;
                // The canvas library's loader over the same table.
                IproHandle image = kIproNoHandle;
                if (iproCreateImageFromNUID(std::to_wstring(item).c_str(), GetCodecTable(), nullptr,
                                            &image) != 1)
                    ++failures;
                iproReleaseHandle(image);
            }
        }
        ++finished;
    };
    const auto save = [&] {
        for (int round = 0; round < kRounds; ++round) {
            const std::wstring path =
                Utf::Utf8ToWide(folder.Path() + "/saved-" + std::to_string(round) + ".png");
            Codec codec;
            if (!(codec.Open(1 + round % 4) && Codec::Table().Write(codec.handle, path.c_str(), nullptr)))
                ++failures;
        }
        ++finished;
    };
    std::thread first(render, false), second(render, true), saver(save);
    const bool done = PumpUntil([&] { return finished.load() == 3; });
    first.join();
    second.join();
    saver.join();
    ASSERT_TRUE(done);
    EXPECT_EQ(failures.load(), 0);
    EXPECT_TRUE(std::filesystem::exists(folder.Path() + "/saved-11.png"));
    EXPECT_EQ(CodecWindow()->WaiterCount(), 0u);
    EXPECT_EQ(iproShutdown(), 1);
}

} // namespace
