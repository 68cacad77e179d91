// Pictures of host items read through the module's codec table from a worker, with the requests to the
// host made on the user-interface thread: what is asked of the host and when, what is written, and what
// a cancel, a late completion or bad input leave behind.
#include "ImageTestSupport.h"

#include "plugin_framework/HostLink.h"
#include "plugin_framework/TQwCodecPravon.h"

#include "platform/host/CHostPhotos.h"

#include "platform/renderers/RendrContext.h"
#include "platform/win/utf16.h"
#include "testing/TempFolder.h"

#include <array>
#include <cmath>
#include <filesystem>
#include <thread>

namespace {

using imagetest::BytesSink;
using imagetest::Codec;

constexpr DWORD kDesignPage = 0x1400;

// A BGRA32 pixel of the sink, as the bytes it holds.
struct Bgra {
    BYTE b, g, r, a;
};
Bgra PixelAt(const BytesSink& sink, std::size_t stride, LONG x, LONG y) {
    const BYTE* p = sink.data.data() + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * 4;
    return Bgra{p[0], p[1], p[2], p[3]};
}

class CodecLoading : public imagetest::ImageHostTest {
protected:
    // Open, wanted size, Read as BGRA32 rows of four-byte alignment, on a worker.
    bool ReadItem(KvwItemId item, LONG width, LONG height, BytesSink& sink, bool preview = false) {
        return OnWorker([&] {
            Codec codec;
            return codec.created && (!preview || codec.SetParameter(IPRO_PARAM_USE_PREVIEW, 1)) &&
                   codec.Open(item) && codec.SetSize(width, height) &&
                   codec.Read(IPRO_FORMAT_BGRA32, 4, sink);
        });
    }
};

TEST_F(CodecLoading, AFullImageHeldAtExactlyTheWantedSizeNeedsNoHostMessageButOnePixelMoreDoes) {
    struct Case {
        LONG heldWidth;
        std::size_t requests;
    };
    for (const Case& c : {Case{30, 0}, Case{31, 1}}) {
        const KvwItemId item = 100 + static_cast<KvwItemId>(c.heldWidth);
        AddItem(item, Pattern(c.heldWidth, 20));
        BytesSink sink;
        const std::size_t before = RequestsOf(KvwPluginRequest::kFullImage);
        ASSERT_TRUE(ReadItem(item, 30, 20, sink)) << c.heldWidth;
        EXPECT_EQ(RequestsOf(KvwPluginRequest::kFullImage) - before, c.requests) << c.heldWidth;
        ASSERT_EQ(sink.data.size(), 30u * 20 * 4);
        if (c.heldWidth == 30) {
            // The picture's red, green, blue come out blue first, opaque.
            for (LONG y : {0, 7, 19}) {
                for (LONG x : {0, 13, 29}) {
                    const Bgra p = PixelAt(sink, 120, x, y);
                    EXPECT_EQ(p.r, static_cast<BYTE>((x * 7 + y * 13) & 0xFF));
                    EXPECT_EQ(p.g, static_cast<BYTE>((x * 7 + y * 13 + 61) & 0xFF));
                    EXPECT_EQ(p.b, static_cast<BYTE>((x * 7 + y * 13 + 122) & 0xFF));
                    EXPECT_EQ(p.a, 0xFF);
                }
            }
        } else {
            // 31 x 20 fitted into 30 x 20 is 30 x 19: the last row of the buffer stays zero.
            EXPECT_EQ(PixelAt(sink, 120, 29, 18).a, 0xFF);
            EXPECT_EQ(PixelAt(sink, 120, 0, 19).a, 0);
            EXPECT_EQ(PixelAt(sink, 120, 15, 19).r, 0);
        }
    }
}

TEST_F(CodecLoading, AFullSixteenBitImageFollowsTheExactSizeRuleAndReadsAsEightBitLevels) {
    struct Case {
        LONG heldWidth;
        std::size_t requests;
    };
    for (const Case& c : {Case{30, 0}, Case{31, 1}}) {
        const KvwItemId item = 150 + static_cast<KvwItemId>(c.heldWidth);
        AddItem(item, std::make_shared<const CHostPicture>(CHostPicture::Pattern16(c.heldWidth, 20, 3)));
        BytesSink sink;
        const std::size_t before = RequestsOf(KvwPluginRequest::kFullImage);
        ASSERT_TRUE(ReadItem(item, 30, 20, sink)) << c.heldWidth;
        EXPECT_EQ(RequestsOf(KvwPluginRequest::kFullImage) - before, c.requests) << c.heldWidth;
        ASSERT_EQ(sink.data.size(), 30u * 20 * 4);
        if (c.heldWidth == 30) {
            // Each 16-bit sample v is the 8-bit level nearest v / 257 (65535 / 255).
            const auto level = [](LONG x, LONG y, LONG channel) {
                const double value = static_cast<double>((x * 1031 + y * 3079 + channel * 7919) & 0xFFFF);
                return static_cast<BYTE>(std::lround(value / 257.0));
            };
            for (LONG y : {0, 7, 19}) {
                for (LONG x : {0, 13, 29}) {
                    const Bgra p = PixelAt(sink, 120, x, y);
                    EXPECT_EQ(p.r, level(x, y, 0)) << x << "," << y;
                    EXPECT_EQ(p.g, level(x, y, 1)) << x << "," << y;
                    EXPECT_EQ(p.b, level(x, y, 2)) << x << "," << y;
                    EXPECT_EQ(p.a, 0xFF);
                }
            }
        } else {
            // Fitted into 30 x 20 at 30 x 19, in 16 bits before the levels are taken.
            EXPECT_EQ(PixelAt(sink, 120, 29, 18).a, 0xFF);
            EXPECT_EQ(PixelAt(sink, 120, 0, 19).a, 0);
        }
    }
}

TEST_F(CodecLoading, APreviewAtLeastAsLargeAsWantedNeedsNoHostMessageASmallerOneIsMadeAtTheSizeAskedFor) {
    std::vector<CKvwSizeRecord> asked;
    m_host->SetScript(KvwPluginRequest::kPreview, [&](const CHostRequest& request) {
        asked.push_back(*reinterpret_cast<const CKvwSizeRecord*>(request.words[2]));
        return m_host->DefaultReply(request);
    });
    // Previews of the full picture's proportions, each of its own colour.
    struct Case {
        LONG previewWidth, previewHeight;
        BYTE red;
        std::size_t requests;
    };
    const Case cases[] = {{60, 40, 10, 0}, {30, 20, 20, 0}, {15, 10, 30, 1}};
    KvwItemId item = 200;
    for (const Case& c : cases) {
        AddItem(++item, Pattern(300, 200), Solid(c.previewWidth, c.previewHeight, {c.red, 90, 200}));
        BytesSink sink;
        const std::size_t before = asked.size();
        ASSERT_TRUE(ReadItem(item, 30, 20, sink, true));
        EXPECT_EQ(asked.size() - before, c.requests) << c.previewWidth;
        EXPECT_EQ(RequestsOf(KvwPluginRequest::kFullImage), 0u);
        for (LONG x : {0, 29}) {
            for (LONG y : {0, 19}) {
                const Bgra p = PixelAt(sink, 120, x, y);
                EXPECT_EQ((std::array<BYTE, 4>{p.r, p.g, p.b, p.a}),
                          (std::array<BYTE, 4>{c.red, 90, 200, 0xFF}))
                    << c.previewWidth << " at " << x << "," << y;
            }
        }
    }
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ((std::array<DWORD, 2>{asked[0].width, asked[0].height}), (std::array<DWORD, 2>{30, 20}));
}

TEST_F(CodecLoading, APreviewSmallerThanWantedIsNeverEnlarged) {
    // This host completes with the preview it has, as it is.
    m_host->SetScript(KvwPluginRequest::kPreview, [&](const CHostRequest& request) {
        return CHostReply{kKvwOk, {CScriptedHost::CompletionOf(request, KvwHostMessage::kPreviewReady)}};
    });
    AddItem(210, Pattern(300, 200), Pattern(20, 10));
    BytesSink sink;
    ASSERT_TRUE(ReadItem(210, 30, 20, sink, true));
    EXPECT_EQ(RequestsOf(KvwPluginRequest::kPreview), 1u);
    // The rest of the buffer stays zero.
    EXPECT_EQ(PixelAt(sink, 120, 19, 0).a, 0xFF);
    EXPECT_EQ(PixelAt(sink, 120, 20, 0).a, 0);
    EXPECT_EQ(PixelAt(sink, 120, 0, 10).a, 0);
}

// The photo's quadrants at the centres of the quadrants of a picture of the size.
void ExpectQuadrants(const BytesSink& sink, LONG width, LONG height,
                     const std::array<std::uint32_t, 4>& colours, const char* what) {
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    for (int q = 0; q < 4; ++q) {
        const LONG x = (q % 2 == 0 ? 1 : 3) * width / 4, y = (q < 2 ? 1 : 3) * height / 4;
        const Bgra p = PixelAt(sink, stride, x, y);
        const std::uint32_t rgb = colours[static_cast<std::size_t>(q)];
        EXPECT_EQ((std::array<BYTE, 3>{p.r, p.g, p.b}),
                  (std::array<BYTE, 3>{static_cast<BYTE>(rgb >> 16), static_cast<BYTE>(rgb >> 8),
                                       static_cast<BYTE>(rgb)}))
            << what << ": quadrant " << q << " at " << x << "," << y;
    }
}

TEST_F(CodecLoading, PreviewsAreMadeAtTheSizeAskedForOnlyWhenTheOneHeldIsTooSmall) {
    const std::array<std::uint32_t, 4> colours{0xC80000, 0x00C800, 0x0000C8, 0xC8C800};
    CHostItemRecord item = CHostPhotos::QuadrantItem(220, CHostPhotos::QuadrantPicture(400, 300, colours));
    item.previewHeld = false;
    m_host->AddItem(item);
    std::vector<CKvwSizeRecord> asked;
    m_host->SetScript(KvwPluginRequest::kPreview, [&](const CHostRequest& request) {
        asked.push_back(*reinterpret_cast<const CKvwSizeRecord*>(request.words[2]));
        return m_host->DefaultReply(request);
    });
    const struct {
        LONG width, height;
        std::size_t asked;
        const char* what;
    } reads[] = {{40, 30, 1, "none held: made at 40 x 30"},
                 {20, 15, 1, "40 x 30 held: fitted down by the codec"},
                 {40, 30, 1, "40 x 30 held: read as it is"},
                 {80, 60, 2, "too small: made at 80 x 60"},
                 {81, 60, 3, "one column short: made again, covering 81 x 60"}};
    for (const auto& r : reads) {
        BytesSink sink;
        ASSERT_TRUE(ReadItem(220, r.width, r.height, sink, true)) << r.what;
        EXPECT_EQ(asked.size(), r.asked) << r.what;
        ASSERT_EQ(sink.data.size(), static_cast<std::size_t>(r.width) * r.height * 4) << r.what;
        ExpectQuadrants(sink, r.width, r.height, colours, r.what);
        IKvwImage* held = nullptr;
        ASSERT_EQ(m_host->Items().GetPreviewImage(220, 0, &held, 0, nullptr), kKvwOk);
        EXPECT_GE(held->GetWidth(), r.width) << r.what;
        EXPECT_GE(held->GetHeight(), r.height) << r.what;
        held->Release();
    }
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ((std::array<DWORD, 2>{asked[2].width, asked[2].height}), (std::array<DWORD, 2>{81, 60}));
}

TEST_F(CodecLoading, AnItemServedByItsPreviewLoadsThePreviewForAFullImage) {
    AddItem(300, Solid(120, 80, {250, 0, 0}), Solid(60, 40, {0, 250, 0}), 0x1100, 0x10000000);
    BytesSink sink;
    ASSERT_TRUE(ReadItem(300, 60, 40, sink));
    EXPECT_EQ(RequestsOf(KvwPluginRequest::kFullImage), 0u);
    EXPECT_EQ(RequestsOf(KvwPluginRequest::kPreview), 0u) << "the preview held is large enough";
    const Bgra p = PixelAt(sink, 240, 30, 20);
    EXPECT_EQ(p.g, 250) << "the preview's green, not the full image's red";
    EXPECT_EQ(p.r, 0);
}

TEST_F(CodecLoading, ThePreviewOfADesignPageIsAlwaysAskedOfTheHost) {
    AddItem(400, Pattern(300, 200), Pattern(60, 40), kDesignPage);
    BytesSink sink;
    ASSERT_TRUE(ReadItem(400, 30, 20, sink, true));
    const auto requests = m_host->RequestsOf(KvwPluginRequest::kPreview);
    ASSERT_EQ(requests.size(), 1u) << "the host renders the page anew";
    const auto& w = requests[0].words;
    const auto* size = reinterpret_cast<const CKvwSizeRecord*>(w[2]);
    EXPECT_EQ(w[0], 400u);
    EXPECT_NE(size, nullptr);
    EXPECT_EQ(w[3], 1u);
    EXPECT_EQ(w[4], kKvwRecordSize);
    EXPECT_EQ(w[5], 6u);
    EXPECT_EQ(w[6], 64u);
    EXPECT_EQ(w[7], kKvwFrameworkRequestTag);
    EXPECT_EQ(PixelAt(sink, 120, 29, 19).a, 0xFF);
}

// The file record of each output request, copied while the host reads it.
class CodecWriting : public CodecLoading {
protected:
    void SetUp() override {
        CodecLoading::SetUp();
        AddItem(500, Solid(40, 20, {10, 120, 230}));
        m_host->SetScript(KvwPluginRequest::kWriteImage, [this](const CHostRequest& request) {
            records.push_back(reinterpret_cast<const CKvwOutputData*>(request.words[2])->filePath);
            return script ? script(request) : m_host->DefaultReply(request);
        });
    }
    bool Write(const std::string& name, const IproCodecParamList* params = nullptr) {
        const std::wstring path = Utf::Utf8ToWide(m_folder.Path() + "/" + name);
        return OnWorker([&] {
            Codec codec;
            return codec.Open(500) && Codec::Table().Write(codec.handle, path.c_str(), params) == TRUE;
        });
    }

    kvtest::TempFolder m_folder;
    std::vector<CKvwFilePath> records;
    CHostScript script;
};

TEST_F(CodecWriting, AHostThatWritesAtOnceEndsTheRequestAndALateCompletionFindsNoRecord) {
    ASSERT_TRUE(Write("at-once.jpg"));
    EXPECT_TRUE(std::filesystem::exists(m_folder.Path() + "/at-once.jpg"));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].folder, m_folder.Path() + "/") << "the folder keeps its last separator";
    EXPECT_EQ(records[0].fileName, "at-once.jpg");
    EXPECT_EQ(records[0].colorSpace, static_cast<DWORD>(PravonColorSpace::kRGB8));
    EXPECT_EQ(records[0].quality, 4) << "no quality given";
    EXPECT_EQ(records[0].scale, 1.0f);
    EXPECT_EQ(records[0].width, 40) << "the wanted size Open took from the host";
    EXPECT_EQ(CodecWindow()->WaiterCount(), 0u);

    Send(kKvwNotify_ImageLoaded, 500, 0, 0, 0, 0, 0, KvwPluginRequest::kWriteImage);
    EXPECT_EQ(CodecWindow()->WaiterCount(), 0u);
    EXPECT_EQ(TImgLoadMng::Existing()->GetState(500), TImgLoadMng::kIdle) << "nobody waited for it";
}

TEST_F(CodecWriting, TheQualityGivenBecomesALevelFromOneToFiveAndTheScaleIsPassedOn) {
    struct Case {
        LONG quality;
        LONG level;
    };
    const Case cases[] = {{59, 1}, {60, 1}, {69, 1}, {70, 2}, {99, 4}, {100, 5}, {255, 5}, {-7, 1}};
    for (const Case& c : cases) {
        LONG quality = c.quality;
        float scale = 0.5f;
        IproCodecParam qualityEntry{IPRO_PARAM_QUALITY, reinterpret_cast<std::uintptr_t>(&quality)};
        IproCodecParam scaleEntry{IPRO_PARAM_SCALE, reinterpret_cast<std::uintptr_t>(&scale)};
        IproCodecParam* entries[] = {&qualityEntry, &scaleEntry};
        const IproCodecParamList list{sizeof(IproCodecParamList), 2, entries};
        records.clear();
        ASSERT_TRUE(Write("q.jpg", &list)) << c.quality;
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].quality, c.level) << "quality " << c.quality;
        EXPECT_EQ(records[0].scale, 0.5f);
    }
}

TEST_F(CodecWriting, AHostThatWritesLaterEndsTheRequestWithItsCompletionAndAFailureAtOnce) {
    script = [this](const CHostRequest& request) {
        const KvwResult written = m_host->WriteOutput(request);
        return CHostReply{written == kKvwOk ? kKvwOk : written,
                          {CScriptedHost::CompletionOf(request, kKvwNotify_ImageLoaded)}};
    };
    EXPECT_TRUE(Write("later.png"));
    EXPECT_TRUE(std::filesystem::exists(m_folder.Path() + "/later.png"));
    EXPECT_EQ(CodecWindow()->WaiterCount(), 0u);

    m_host->SetAnswer(KvwPluginRequest::kWriteImage, kKvwNothingToWorkOn);
    script = [](const CHostRequest&) { return CHostReply{kKvwNothingToWorkOn, {}}; };
    EXPECT_FALSE(Write("failed.png"));
    EXPECT_EQ(CodecWindow()->WaiterCount(), 0u);
}

TEST_F(CodecWriting, TwoWritesOfOneItemCompleteInTheOrderTheyWereAskedFor) {
    kvtest::Watchdog watchdog("two writes of one item");
    script = [](const CHostRequest&) { return CHostReply{kKvwOk, {}}; };
    std::atomic<int> finished{0};
    std::atomic<int> firstDone{-1};
    const std::wstring paths[2] = {Utf::Utf8ToWide(m_folder.Path() + "/a.png"),
                                   Utf::Utf8ToWide(m_folder.Path() + "/b.png")};
    std::vector<std::thread> writers;
    for (int i = 0; i < 2; ++i) {
        writers.emplace_back([&, i] {
            Codec codec;
            const bool written =
                codec.Open(500) && Codec::Table().Write(codec.handle, paths[i].c_str(), nullptr);
            EXPECT_TRUE(written) << i;
            int none = -1;
            firstDone.compare_exchange_strong(none, i);
            ++finished;
        });
    }
    ASSERT_TRUE(PumpUntil([&] { return records.size() == 2; }));
    const int askedFirst = records[0].fileName == "a.png" ? 0 : 1;
    EXPECT_EQ(CodecWindow()->WaiterCount(), 2u);
    EXPECT_EQ(finished.load(), 0);

    Send(kKvwNotify_ImageLoaded, 500, 0, 0, 0, 0, 0, KvwPluginRequest::kWriteImage);
    ASSERT_TRUE(PumpUntil([&] { return finished.load() == 1; }));
    EXPECT_EQ(firstDone.load(), askedFirst) << "the oldest request is the one completed";
    EXPECT_EQ(CodecWindow()->WaiterCount(), 1u);
    Send(kKvwNotify_ImageLoaded, 500, 0, 0, 0, 0, 0, KvwPluginRequest::kWriteImage);
    ASSERT_TRUE(PumpUntil([&] { return finished.load() == 2; }));
    for (std::thread& writer : writers)
        writer.join();
    EXPECT_EQ(CodecWindow()->WaiterCount(), 0u);
}

TEST_F(CodecLoading, ACancelEndsAWaitTheHostNeverAnswersAndALateCompletionHarmsNothing) {
    kvtest::Watchdog watchdog("a load the host never completes");
    AddItem(600, Pattern(40, 30));
    m_host->SetAnswer(KvwPluginRequest::kFullImage, kKvwOk); // never completes
    TSyncEvent cancel(false, true);
    std::atomic<bool> done{false};
    bool read = true;
    std::thread worker([&] {
        auto codec = std::make_unique<Codec>(&cancel);
        BytesSink sink;
        read = codec->Open(600) && codec->SetSize(20, 15) && codec->Read(IPRO_FORMAT_BGRA32, 4, sink);
        codec.reset();
        done.store(true);
    });
    ASSERT_TRUE(PumpUntil([&] { return RequestsOf(KvwPluginRequest::kFullImage) == 1; }));
    EXPECT_FALSE(done.load());
    cancel.Unlock();
    ASSERT_TRUE(PumpUntil([&] { return done.load() && RequestsOf(KvwPluginRequest::kStopWaiting) == 1; }));
    worker.join();
    EXPECT_FALSE(read);
    const auto released = m_host->RequestsOf(KvwPluginRequest::kStopWaiting);
    EXPECT_EQ(KvwMakeItemId(released[0].words[0], released[0].words[1]), 600u);
    EXPECT_EQ(released[0].words[7], kKvwFrameworkRequestTag);

    // The cancelled record left the waiters with its release: a completion that comes after the codec
    // went finds nothing to fetch for.
    EXPECT_EQ(CodecWindow()->WaiterCount(), 0u);
    m_host->Items().Hold(600, true);
    Send(KvwHostMessage::kFullImageReady, 600, 0, 0, 0, 0, 0, KvwPluginRequest::kFullImage);
    EXPECT_EQ(CodecWindow()->WaiterCount(), 0u);
    EXPECT_EQ(CHostImage::Live(), 0);
}

TEST_F(CodecLoading, ACancelledLoadLeavesTheWaitersAndTheHostGoesOnForAnotherLoadOfTheItem) {
    kvtest::Watchdog watchdog("two loads of one item, one cancelled", kvtest::kThreadDeadline * 3);
    CHostItemRecord item;
    item.id = 610;
    item.source.width = 40;
    item.source.height = 30;
    item.fullPicture = Pattern(40, 30); // held only once the host was asked
    m_host->AddItem(item);
    m_host->SetAnswer(KvwPluginRequest::kFullImage, kKvwOk); // completed below, by hand
    // Two loads of the item, as two renders would ask for it; the first is cancelled.
    TSyncEvent cancelFirst(false, true), cancelSecond(false, true);
    std::atomic<int> first{-1}, second{-1};
    const auto load = [](TSyncEvent* cancel, std::atomic<int>* result) {
        return std::jthread([cancel, result] {
            Codec codec(cancel);
            BytesSink sink;
            *result =
                codec.Open(610) && codec.SetSize(40, 30) && codec.Read(IPRO_FORMAT_BGRA32, 4, sink) ? 1 : 0;
        });
    };
    // Whatever happens below, both loads end before the test does.
    struct EndLoads {
        TSyncEvent& a;
        TSyncEvent& b;
        ~EndLoads() {
            a.Unlock();
            b.Unlock();
        }
    };
    std::jthread one = load(&cancelFirst, &first);
    ASSERT_TRUE(PumpUntil([&] { return CodecWindow()->WaiterCount() == 1; }));
    std::jthread two = load(&cancelSecond, &second);
    const EndLoads end{cancelFirst, cancelSecond};
    ASSERT_TRUE(PumpUntil([&] { return CodecWindow()->WaiterCount() == 2; }));
    cancelFirst.Unlock();
    ASSERT_TRUE(PumpUntil([&] { return first.load() != -1 && CodecWindow()->WaiterCount() == 1; }));
    EXPECT_EQ(first.load(), 0);
    WinUserTest::PumpPending();
    EXPECT_EQ(RequestsOf(KvwPluginRequest::kStopWaiting), 0u) << "the second load still waits for the item";

    m_host->Items().Hold(610, true);
    Send(KvwHostMessage::kFullImageReady, 610, 0, 0, 0, 0, 0, KvwPluginRequest::kFullImage);
    ASSERT_TRUE(PumpUntil([&] { return second.load() != -1; }));
    EXPECT_EQ(second.load(), 1);
    EXPECT_EQ(CodecWindow()->WaiterCount(), 0u);
}

TEST_F(CodecLoading, CancelledLoadsLeaveNoWaitersBehind) {
    kvtest::Watchdog watchdog("many cancelled loads", kvtest::kThreadDeadline * 2);
    AddItem(620, Pattern(40, 30), Pattern(40, 30));
    m_host->SetAnswer(KvwPluginRequest::kFullImage, kKvwOk); // never completes
    m_host->SetAnswer(KvwPluginRequest::kPreview, kKvwOk);
    constexpr int kLoads = 20;
    for (int i = 0; i < kLoads; ++i) {
        TSyncEvent cancel(false, true);
        std::atomic<bool> done{false};
        std::thread worker([&] {
            Codec codec(&cancel);
            BytesSink sink;
            // A preview larger than the one held, so that the host is asked for it too.
            if (i % 2 == 1)
                codec.SetParameter(IPRO_PARAM_USE_PREVIEW, 1);
            EXPECT_FALSE(codec.Open(620) && codec.SetSize(80, 60) && codec.Read(IPRO_FORMAT_BGRA32, 4, sink));
            done = true;
        });
        ASSERT_TRUE(PumpUntil([&] { return CodecWindow()->WaiterCount() == 1; })) << i;
        cancel.Unlock();
        ASSERT_TRUE(PumpUntil([&] { return done.load() && CodecWindow()->WaiterCount() == 0; })) << i;
        worker.join();
    }
    EXPECT_EQ(RequestsOf(KvwPluginRequest::kStopWaiting), static_cast<std::size_t>(kLoads));
}

TEST_F(CodecLoading, BadInputIsRefusedWithNothingAskedOfTheHost) {
    AddItem(700, Pattern(4, 4));
    const wchar_t* const badIds[] = {L"",    L"12a", L"-1", L"+5", L" 5", L"5 ", L"18446744073709551616",
                                     L"0x10"};
    const bool allRefused = OnWorker([&] {
        Codec codec;
        bool refused = true;
        for (const wchar_t* id : badIds)
            refused = refused && Codec::Table().Open(codec.handle, id) == FALSE;
        refused = refused && Codec::Table().Open(codec.handle, nullptr) == FALSE;
        return refused;
    });
    EXPECT_TRUE(allRefused);
    EXPECT_TRUE(m_host->Requests().empty());
    EXPECT_TRUE(OnWorker([] {
        Codec codec;
        return codec.Open(18446744073709551615ull) == false && codec.Open(700);
    })) << "the largest id is read whole (the host has no such item)";

    // A handle the object manager does not hold, or does not hold as a codec.
    const IproCodecTable& table = Codec::Table();
    BytesSink sink;
    IproCodecInfo info{};
    LONG size[2] = {1, 1};
    for (IproCodecHandle handle : {IproCodecHandle{0}, IproCodecHandle{0xFFFFFF}}) {
        EXPECT_EQ(table.Open(handle, L"700"), FALSE);
        EXPECT_EQ(table.Read(handle, IPRO_FORMAT_BGRA32, 4, &sink), FALSE);
        EXPECT_EQ(table.Write(handle, L"/tmp/x.png", nullptr), FALSE);
        EXPECT_EQ(table.GetInfo(handle, IPRO_INFO_IMAGE, &info), FALSE);
        EXPECT_EQ(table.SetOption(handle, IPRO_OPTION_SIZE, size), FALSE);
        EXPECT_EQ(table.SetParameters(handle, nullptr), FALSE);
        EXPECT_EQ(table.Destroy(handle), FALSE);
    }
    EXPECT_TRUE(sink.sizes.empty());
}

TEST_F(CodecLoading, ParameterListsOptionsAndKindsThatCannotBeUsedAreRefused) {
    Codec codec;
    ASSERT_TRUE(codec.created);
    const IproCodecTable& table = Codec::Table();
    LONG value = 1;
    IproCodecParam entry{IPRO_PARAM_USE_PREVIEW, reinterpret_cast<std::uintptr_t>(&value)};
    IproCodecParam nullValue{IPRO_PARAM_MODE, 0};
    IproCodecParam* entries[] = {&entry};
    IproCodecParam* withNull[] = {&entry, nullptr};
    IproCodecParam* withNullValue[] = {&nullValue};
    struct Case {
        const char* what;
        IproCodecParamList list;
        BOOL expected;
    };
    // The list's size word is its size on this target, 16 bytes; 12, its size where words are 32 bits, is
    // a wrong size here.
    static_assert(sizeof(IproCodecParamList) == 16);
    const Case cases[] = {
        {"this target's size", {16, 1, entries}, TRUE}, {"the size of 32-bit words", {12, 1, entries}, FALSE},
        {"a larger size", {20, 1, entries}, FALSE},     {"entries missing", {16, 1, nullptr}, FALSE},
        {"a null entry", {16, 2, withNull}, FALSE},     {"a null value", {16, 1, withNullValue}, FALSE},
        {"no entries", {16, 0, nullptr}, TRUE},
    };
    for (const Case& c : cases)
        EXPECT_EQ(table.SetParameters(codec.handle, &c.list), c.expected) << c.what;
    EXPECT_EQ(table.SetParameters(codec.handle, nullptr), TRUE) << "no list at all";

    LONG negative[2] = {10, -1};
    LONG zero[2] = {0, 10};
    IproCodecInfo info{};
    EXPECT_EQ(table.SetOption(codec.handle, IPRO_OPTION_SIZE, negative), FALSE);
    EXPECT_EQ(table.SetOption(codec.handle, IPRO_OPTION_SIZE, zero), TRUE) << "0 means no wanted size";
    EXPECT_EQ(table.SetOption(codec.handle, 1, zero), FALSE);
    EXPECT_EQ(table.SetOption(codec.handle, IPRO_OPTION_SIZE, nullptr), FALSE);
    EXPECT_EQ(table.GetInfo(codec.handle, 1, &info), FALSE);
    EXPECT_EQ(table.GetInfo(codec.handle, 7, &info), FALSE);
    EXPECT_EQ(table.Destroy(codec.handle), TRUE);
    EXPECT_EQ(table.Destroy(codec.handle), FALSE) << "a handle destroyed is no longer held";
    codec.created = false;
}

TEST_F(CodecLoading, APropertyIsCopiedWithItsTypeOnlyIntoABufferLargeEnough) {
    CHostItemRecord record;
    record.id = 800;
    record.fullPicture = Pattern(4, 4);
    record.fullHeld = true;
    CKvwItemProperty caption;
    caption.type = 0x0A0B0C0D;
    caption.value = {'s', 'e', 'a', 0};
    record.properties[1001] = caption;
    m_host->AddItem(record);
    struct Case {
        DWORD tag;
        DWORD size;
        bool buffer;
        BOOL expected;
        DWORD expectedSize;
        bool copied;
    };
    const Case cases[] = {
        {1001, 8, true, TRUE, 8, true},   // exactly the length: type word and value
        {1001, 64, true, TRUE, 8, true},  // more room
        {1001, 7, true, TRUE, 8, false},  // one byte short: only the length
        {1001, 0, false, TRUE, 8, false}, // no buffer: the length
        {1002, 64, true, FALSE, 64, false},
    };
    OnWorker([&] {
        Codec codec;
        EXPECT_TRUE(codec.Open(800));
        for (const Case& c : cases) {
            BYTE buffer[64];
            std::fill(std::begin(buffer), std::end(buffer), 0x55);
            IproCodecProperty property{c.tag, c.size, c.buffer ? buffer : nullptr};
            EXPECT_EQ(Codec::Table().GetInfo(codec.handle, IPRO_INFO_PROPERTY, &property), c.expected)
                << c.size;
            EXPECT_EQ(property.size, c.expectedSize) << c.size;
            const BYTE expected[8] = {0x0D, 0x0C, 0x0B, 0x0A, 's', 'e', 'a', 0};
            for (int i = 0; i < 8; ++i)
                EXPECT_EQ(buffer[i], c.copied ? expected[i] : 0x55)
                    << "byte " << i << " of a buffer of " << c.size;
        }
        return true;
    });
}

TEST_F(CodecLoading, ACodecCallOnTheUserInterfaceThreadAnswersFalseInsteadOfWaitingForItself) {
    AddItem(900, Pattern(4, 4));
    Codec codec;
    ASSERT_TRUE(codec.created);
    EXPECT_FALSE(codec.Open(900));
    BytesSink sink;
    EXPECT_FALSE(codec.Read(IPRO_FORMAT_BGRA32, 4, sink));
    EXPECT_TRUE(m_host->Requests().empty());
    EXPECT_EQ(WinUserTest::QueuedMessages(), 0u) << "nothing was posted to its own window";
}

TEST_F(CodecLoading, InitializeGivesTheCodecItsContextAndTheHostLinkItsBindingAndCloseTakesThemBack) {
    EXPECT_TRUE(HostLink::Instance()->IsBound());
    EXPECT_EQ(HostLink::Instance()->GetModule(), KvwGetModuleObject());
    EXPECT_NE(TImgLoadMng::Existing(), nullptr);
    m_host->Close(m_module);
    EXPECT_FALSE(HostLink::Instance()->IsBound());
    EXPECT_EQ(TImgLoadMng::Existing(), nullptr);
    IproCodecHandle handle = 0;
    EXPECT_EQ(Codec::Table().Create(&handle, nullptr), FALSE) << "no module object, no codec";
}

} // namespace

namespace {

TEST(CodecParameters, TheMediaContextNamesTheCodecTableByItsAddressAndEndsWithoutASemicolon) {
    const std::wstring address = std::to_wstring(reinterpret_cast<std::uintptr_t>(GetCodecTable()));
    TString out;
    ASSERT_TRUE(BuildCodecParameters(out, true, 4096, 90));
    EXPECT_EQ(std::wstring(out),
              L"pravon_codec_addr=" + address + L";preview=1;profile=4096;out_compress_quality=90");
    ASSERT_TRUE(BuildCodecParameters(out, false, 0x2000, 0));
    EXPECT_EQ(std::wstring(out),
              L"pravon_codec_addr=" + address + L";preview=0;profile=8192;out_compress_quality=0");
    EXPECT_EQ(RendrContext(out).Address(L"pravon_codec_addr"), GetCodecTable()) << "as a renderer reads it";
    EXPECT_EQ(GetCodecTable()->size, sizeof(IproCodecTable)) << "the size word is the table's size here";
}

} // namespace
