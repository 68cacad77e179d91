// The file saver on its worker, loading pictures through the module's codec table from the scripted host
// (this thread is the host's user-interface thread and pumps while the worker waits on it).
#include "SavedJpeg.h"

#include "mail_plugin/TAsyncFileSaver.h"

#include "plugin_framework/TWindow.h"
#include "plugin_framework/tests/ImageTestSupport.h"

#include "platform/host/CHostPhotos.h"
#include "platform/win/utf16.h"
#include "testing/TempFolder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>

namespace {

using mailtest::ReadSavedJpeg;
using Size = graphtypes::TSize_T<LONG>;

constexpr DWORD kFullImageRequest = 0x10000103;

// Photo-like test pixels (red, green, blue, rows packed): four quadrants of their own colour, so that a
// turned or mirrored save shows, each shaded by waves some dozens of pixels long, as detail a photo
// reduced to the mail size keeps.
constexpr std::array<std::array<int, 3>, 4> kQuadrantColours{
    {{200, 60, 50}, {40, 170, 70}, {50, 80, 200}, {220, 210, 60}}};

std::vector<BYTE> QuadrantPhoto(LONG width, LONG height) {
    constexpr double kAcross = 30 * 2 * 3.14159265358979, kDown = 20 * 2 * 3.14159265358979;
    std::vector<BYTE> rgb(static_cast<std::size_t>(width) * height * 3);
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x) {
            const auto& base = kQuadrantColours[(y >= height / 2 ? 2 : 0) + (x >= width / 2 ? 1 : 0)];
            // Thirty waves across and twenty down whatever the size, so that each reduced picture keeps
            // the same detail.
            const double wave = 25 * std::sin(x * kAcross / width) * std::cos(y * kDown / height);
            for (int c = 0; c < 3; ++c)
                rgb[(static_cast<std::size_t>(y) * width + x) * 3 + c] =
                    static_cast<BYTE>(std::clamp(base[c] + wave * (c == 1 ? -1 : 1), 0.0, 255.0));
        }
    return rgb;
}

// The size the mail saver fits a picture into a box at, worked out here: unchanged when it fits, else
// both sides scaled by the smaller of the box-to-picture ratios and rounded to the nearest.
Size FittedSize(Size picture, Size box) {
    if (picture.cx <= box.cx && picture.cy <= box.cy)
        return picture;
    const double factor =
        std::min(static_cast<double>(box.cx) / picture.cx, static_cast<double>(box.cy) / picture.cy);
    return Size(std::lround(picture.cx * factor), std::lround(picture.cy * factor));
}

// The picture reduced to the size by area means: each new sample the mean of the old ones its rectangle
// covers, weighted by the area covered.
std::vector<double> AreaMeans(const mailtest::SavedJpeg& full, Size size) {
    const double sx = static_cast<double>(full.width) / size.cx,
                 sy = static_cast<double>(full.height) / size.cy;
    std::vector<double> out(static_cast<std::size_t>(size.cx) * size.cy * 3);
    for (LONG oy = 0; oy < size.cy; ++oy)
        for (LONG ox = 0; ox < size.cx; ++ox) {
            double sums[3] = {};
            for (LONG y = static_cast<LONG>(oy * sy); y < std::min<double>(full.height, (oy + 1) * sy); ++y) {
                const double down = std::min<double>((oy + 1) * sy, y + 1) - std::max<double>(oy * sy, y);
                for (LONG x = static_cast<LONG>(ox * sx); x < std::min<double>(full.width, (ox + 1) * sx);
                     ++x) {
                    const double across =
                        std::min<double>((ox + 1) * sx, x + 1) - std::max<double>(ox * sx, x);
                    for (int c = 0; c < 3; ++c)
                        sums[c] +=
                            across * down * full.rgb[(static_cast<std::size_t>(y) * full.width + x) * 3 + c];
                }
            }
            for (int c = 0; c < 3; ++c)
                out[(static_cast<std::size_t>(oy) * size.cx + ox) * 3 + c] = sums[c] / (sx * sy);
        }
    return out;
}

// The peak signal-to-noise ratio in dB of the samples against the reference.
double Psnr(const std::vector<unsigned char>& samples, const std::vector<double>& reference) {
    double squares = 0;
    for (std::size_t i = 0; i < samples.size(); ++i)
        squares += (samples[i] - reference[i]) * (samples[i] - reference[i]);
    return 10 * std::log10(255.0 * 255.0 / std::max(squares / samples.size(), 1e-12));
}

// The mean colour of the 9 x 9 pixels around (x, y).
std::array<double, 3> MeanAround(const std::vector<unsigned char>& rgb, LONG width, LONG x, LONG y) {
    std::array<double, 3> sums{};
    for (LONG j = y - 4; j <= y + 4; ++j)
        for (LONG i = x - 4; i <= x + 4; ++i)
            for (int c = 0; c < 3; ++c)
                sums[c] += rgb[(static_cast<std::size_t>(j) * width + i) * 3 + c];
    for (double& sum : sums)
        sum /= 81;
    return sums;
}

// Made on the test's thread, which must pump its messages for notices to arrive.
class SaverNoticeWindow : public TWindow {
public:
    struct Notice {
        DWORD id;
        LONG result;
        LONG references;
    };

    SaverNoticeWindow() {
        Create(L"SaverNoticeWnd", 0, TRect(0, 0, 2, 2), nullptr);
        AddMessageHandler(kFileSaveFinishedMessage, TMessageHandler{this, &SaverNoticeWindow::OnFinished});
        m_handle.Attach(this);
    }
    TAutoHandle* Target() { return &m_handle; }
    std::vector<Notice> notices;

private:
    static LONG OnFinished(TMessageInfo* info, void* context) {
        auto* request = reinterpret_cast<TFileSaveData*>(info->lParam);
        static_cast<SaverNoticeWindow*>(context)->notices.push_back(
            Notice{request->GetId(), request->m_result, request->GetRefCount()});
        request->Release();
        return 1;
    }

    TAutoHandle m_handle;
};

class FileSaver : public imagetest::ImageHostTest {
protected:
    void SetUp() override {
        imagetest::ImageHostTest::SetUp();
        ASSERT_EQ(iproStartup(), 1);
        m_window = std::make_unique<SaverNoticeWindow>();
        m_saver.SetNotifyTarget(m_window->Target());
        ASSERT_TRUE(m_saver.Start());
    }
    void TearDown() override {
        m_saver.Terminate();
        m_window.reset();
        EXPECT_EQ(CodecWindow()->WaiterCount(), 0u);
        EXPECT_EQ(iproShutdown(), 1);
        imagetest::ImageHostTest::TearDown();
    }

    void AddSolid(KvwItemId id, LONG width, LONG height, const std::vector<BYTE>& rgb) {
        AddItem(id, Solid(width, height, rgb));
    }
    // An item whose full image the host has yet to make: a load asks the host for it.
    void AddNotHeld(KvwItemId id) {
        CHostItemRecord item;
        item.id = id;
        item.source.width = 64;
        item.source.height = 48;
        item.fullPicture = Solid(64, 48, {1, 2, 3});
        m_host->AddItem(item);
    }
    // A request for the item, as the mail dialog fills it in: the host's size of the picture.
    TRefPtr<TFileSaveData> Request(KvwItemId id, Size maximum, LONG quality, const std::string& name,
                                   Size hostSize, bool designPage = false) {
        auto request = TRefPtr<TFileSaveData>::Adopt(new TFileSaveData);
        request->m_maxSize = maximum;
        request->m_jpegQuality = quality;
        request->m_item.id = id;
        request->m_item.pictureSize = hostSize;
        request->m_item.designPage = designPage;
        request->m_targetPath = TString(Utf::Utf8ToWide(m_folder.File(name)).c_str());
        return request;
    }
    // The host completes a load after the saver gave up on it: nothing is fetched for it any more.
    void CompleteLate(KvwItemId id) {
        m_host->Items().Hold(id, true);
        Send(KvwHostMessage::kFullImageReady, static_cast<KvwWord>(id), 0, 0, 0, 0, 0, kFullImageRequest);
    }
    // Posts the requests and checks that each was saved at the size paired with it.
    void SaveAndCheckSizes(const std::vector<std::pair<TRefPtr<TFileSaveData>, Size>>& requests) {
        for (const auto& [request, size] : requests)
            ASSERT_TRUE(m_saver.Post(request.Get()));
        ASSERT_TRUE(PumpUntilNotices(requests.size()));
        for (const auto& [request, size] : requests) {
            EXPECT_EQ(request->m_result, kFileSaved);
            const auto saved =
                ReadSavedJpeg(Utf::WideToUtf8(static_cast<const wchar_t*>(request->m_targetPath)));
            ASSERT_TRUE(saved);
            EXPECT_EQ(Size(saved->width, saved->height), size);
        }
    }
    bool PumpUntilNotices(std::size_t count) {
        return PumpUntil([&] { return m_window->notices.size() >= count; });
    }
    bool Exists(const std::string& name) const { return std::filesystem::exists(m_folder.File(name)); }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_folder.Path()))
            names.push_back(entry.path().filename().string());
        return names;
    }

    kvtest::TempFolder m_folder;
    std::unique_ptr<SaverNoticeWindow> m_window;
    TAsyncFileSaver m_saver;
};

TEST_F(FileSaver, WritesEachPictureFittedIntoTheBoxAtItsQuality) {
    kvtest::Watchdog watchdog("three saves");
    struct Case {
        Size picture;
        std::vector<BYTE> rgb;
        LONG quality;
        Size saved;
    };
    const Case cases[] = {
        {{1280, 1024}, {200, 30, 40}, 80, {600, 480}},
        {{300, 200}, {20, 160, 90}, 50, {300, 200}},
        {{1000, 1000}, {90, 90, 220}, 100, {480, 480}},
        {{240, 1600}, {128, 128, 128}, 65, {72, 480}},
    };
    KvwItemId id = 1;
    for (const Case& c : cases) {
        AddSolid(id, c.picture.cx, c.picture.cy, c.rgb);
        auto request = Request(id, {640, 480}, c.quality, "pic" + std::to_string(id) + ".jpg", c.picture);
        ASSERT_TRUE(m_saver.Post(request.Get()));
        ++id;
    }
    ASSERT_TRUE(PumpUntilNotices(std::size(cases)));
    id = 1;
    for (const Case& c : cases) {
        const auto& notice = m_window->notices[id - 1];
        EXPECT_EQ(notice.result, kFileSaved);
        EXPECT_EQ(notice.references, 1) << "the worker's reference, handed to the receiver";
        const auto saved = ReadSavedJpeg(m_folder.File("pic" + std::to_string(id) + ".jpg"));
        ASSERT_TRUE(saved) << id;
        EXPECT_EQ(Size(saved->width, saved->height), c.saved) << id;
        for (int channel = 0; channel < 3; ++channel)
            EXPECT_NEAR(saved->meanRgb[channel], c.rgb[channel], 2.0) << id << " channel " << channel;
        const auto tables = mailtest::ReferenceTables(c.quality);
        EXPECT_EQ(saved->luma, tables[0]) << "quality " << c.quality;
        EXPECT_EQ(saved->chroma, tables[1]) << "quality " << c.quality;
        ++id;
    }
    EXPECT_TRUE(m_saver.IsIdle());
}

// What a user receives: JPEG photos of several sizes (larger than the box, with odd sides, just over it,
// smaller, upright) written by libjpeg here, saved to the mail size, and read back with libjpeg. The file
// is read scaled by libjpeg's DCT to the smallest eighth not below the saved size and then resized; it
// must stay close to the whole file decoded and reduced by area means here: a PSNR against that
// reduction no more than kMaxPsnrLoss dB below the one of the reduction itself written by libjpeg at the
// same quality (what the file format alone loses; the landscape photos lose under 0.5 dB more, the upright
// one read at 3/8 about 1.5), never below kMinPsnr dB, and every quadrant's colour where it belongs.
TEST_F(FileSaver, SavedPhotosMatchTheWholeFileReducedByAreaMeans) {
    kvtest::Watchdog watchdog("photo pixels");
    constexpr double kMinPsnr = 28.0;
    constexpr double kMaxPsnrLoss = 2.0;
    constexpr double kColourTolerance = 6.0;
    const Size box(640, 480);
    struct Case {
        Size picture;
        LONG quality;
    };
    const Case cases[] = {
        {{6000, 4000}, 80}, {{3000, 2000}, 90}, {{1999, 1333}, 90}, {{641, 481}, 90},
        {{300, 200}, 90},   {{1201, 1601}, 90}, {{17, 9}, 90},
    };
    KvwItemId id = 1;
    std::vector<mailtest::SavedJpeg> sources;
    for (const Case& c : cases) {
        const std::vector<BYTE> jpeg =
            mailtest::EncodeJpeg(c.picture.cx, c.picture.cy, QuadrantPhoto(c.picture.cx, c.picture.cy), 95);
        sources.push_back(*mailtest::DecodeJpeg(jpeg));
        m_host->AddItem(CHostPhotos::JpegItem(id, "/photos/p" + std::to_string(id) + ".jpg", jpeg));
        ASSERT_TRUE(
            m_saver.Post(Request(id, box, c.quality, "p" + std::to_string(id) + ".jpg", c.picture).Get()));
        ++id;
    }
    ASSERT_TRUE(PumpUntilNotices(std::size(cases)));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(std::to_string(c.picture.cx) + "x" + std::to_string(c.picture.cy));
        EXPECT_EQ(m_window->notices[i].result, kFileSaved);
        const auto saved = ReadSavedJpeg(m_folder.File("p" + std::to_string(i + 1) + ".jpg"));
        ASSERT_TRUE(saved);
        const Size size = FittedSize(c.picture, box);
        ASSERT_EQ(Size(saved->width, saved->height), size);
        const std::vector<double> expected = AreaMeans(sources[i], size);
        // The reduction written by libjpeg at the same quality: what the file format alone loses.
        std::vector<unsigned char> rounded(expected.size());
        for (std::size_t k = 0; k < expected.size(); ++k)
            rounded[k] = static_cast<unsigned char>(std::lround(expected[k]));
        const double written = Psnr(
            mailtest::DecodeJpeg(mailtest::EncodeJpeg(size.cx, size.cy, rounded, c.quality))->rgb, expected);
        const double psnr = Psnr(saved->rgb, expected);
        EXPECT_GE(psnr, kMinPsnr);
        EXPECT_GE(psnr, written - kMaxPsnrLoss);
        if (size.cx < 20)
            continue;
        for (int q = 0; q < 4; ++q) {
            const LONG x = (q % 2 == 0 ? 1 : 3) * size.cx / 4, y = (q < 2 ? 1 : 3) * size.cy / 4;
            const auto got = MeanAround(saved->rgb, size.cx, x, y);
            for (int ch = 0; ch < 3; ++ch) {
                double want = 0;
                for (LONG j = y - 4; j <= y + 4; ++j)
                    for (LONG k = x - 4; k <= x + 4; ++k)
                        want += expected[(static_cast<std::size_t>(j) * size.cx + k) * 3 + ch] / 81;
                EXPECT_NEAR(got[ch], want, kColourTolerance) << "quadrant " << q << " channel " << ch;
                // The quadrant's own colour, give or take its waves.
                EXPECT_NEAR(got[ch], kQuadrantColours[q][ch], 25 + kColourTolerance) << "quadrant " << q;
            }
        }
    }
}

TEST_F(FileSaver, TakesTheDecodedSizeOverTheHostsNumbers) {
    kvtest::Watchdog watchdog("saves with odd host sizes");
    AddSolid(1, 1280, 960, {10, 20, 30});
    AddSolid(2, 800, 600, {10, 20, 30});
    const std::vector<std::pair<TRefPtr<TFileSaveData>, Size>> requests = {
        // The host could not tell the size: the picture is still fitted.
        {Request(1, {640, 480}, 80, "unknown.jpg", {0, 0}), {640, 480}},
        // Full size with a size the host got wrong.
        {Request(2, {0, 0}, 80, "full.jpg", {400, 300}), {800, 600}},
        // Full size with no size from the host at all.
        {Request(2, {0, 0}, 80, "full-unknown.jpg", {0, 0}), {800, 600}},
    };
    SaveAndCheckSizes(requests);
}

TEST_F(FileSaver, ResizesADesignPageByTheHostsNumbers) {
    kvtest::Watchdog watchdog("design pages");
    AddSolid(1, 800, 600, {250, 250, 250});
    const std::vector<std::pair<TRefPtr<TFileSaveData>, Size>> requests = {
        {Request(1, {640, 480}, 90, "scaled-width.jpg", {65535, 49151}, true), {640, 480}},
        {Request(1, {400, 300}, 90, "height-rule.jpg", {1600, 1200}, true), {400, 300}},
        // Neither a height nor a maximum to go by: saved as it is.
        {Request(1, {640, 0}, 90, "no-height.jpg", {1600, 0}, true), {800, 600}},
    };
    SaveAndCheckSizes(requests);
}

TEST_F(FileSaver, FailuresEndWithStatusZeroAndNoFile) {
    kvtest::Watchdog watchdog("failed saves");
    AddSolid(1, 64, 48, {1, 2, 3});
    auto unknownItem = Request(99, {640, 480}, 80, "unknown-item.jpg", {64, 48});
    auto missingFolder = Request(1, {640, 480}, 80, "no-such-folder/pic.jpg", {64, 48});
    auto notJpeg = Request(1, {640, 480}, 80, "pic.tif", {64, 48});
    for (auto* request : {unknownItem.Get(), missingFolder.Get(), notJpeg.Get()})
        ASSERT_TRUE(m_saver.Post(request));
    ASSERT_TRUE(PumpUntilNotices(3));
    for (const auto& notice : m_window->notices)
        EXPECT_EQ(notice.result, kFileSaveFailed);
    EXPECT_TRUE(Files().empty()) << "no file, not even a partial one";
}

TEST_F(FileSaver, ACorruptJpegEndsWithStatusZeroAndNoFile) {
    kvtest::Watchdog watchdog("a corrupt photo");
    std::vector<BYTE> cut = CHostPhotos::SceneJpeg(640, 480);
    cut.resize(cut.size() / 2);
    m_host->AddItem(CHostPhotos::JpegItem(1, "/photos/cut.jpg", cut));
    m_host->AddItem(
        CHostPhotos::JpegItem(2, "/photos/fine.jpg", CHostPhotos::SolidJpeg(640, 480, {9, 99, 199})));
    auto corrupt = Request(1, {320, 240}, 80, "cut.jpg", {640, 480});
    auto fine = Request(2, {320, 240}, 80, "fine.jpg", {640, 480});
    ASSERT_TRUE(m_saver.Post(corrupt.Get()));
    ASSERT_TRUE(m_saver.Post(fine.Get()));
    ASSERT_TRUE(PumpUntilNotices(2));
    EXPECT_EQ(corrupt->m_result, kFileSaveFailed);
    EXPECT_EQ(fine->m_result, kFileSaved) << "the next picture is saved all the same";
    EXPECT_EQ(Files(), std::vector<std::string>{"fine.jpg"});
}

TEST_F(FileSaver, SavesPhotosWhateverTheirNames) {
    kvtest::Watchdog watchdog("awkward names");
    const auto paths = CHostPhotos::AwkwardPaths();
    std::vector<TRefPtr<TFileSaveData>> requests;
    KvwItemId id = 1;
    for (const std::string& path : paths) {
        m_host->AddItem(CHostPhotos::JpegItem(id, path, CHostPhotos::SolidJpeg(800, 600, {50, 60, 70})));
        // The dialog reserves a distinct name for each picture; the saver writes what it is given.
        const std::string base = path.substr(path.find_last_of('/') + 1);
        requests.push_back(Request(id, {640, 480}, 80, std::to_string(id) + "-" + base, {800, 600}));
        ASSERT_TRUE(m_saver.Post(requests.back().Get()));
        ++id;
    }
    ASSERT_TRUE(PumpUntilNotices(paths.size()));
    for (const auto& request : requests) {
        EXPECT_EQ(request->m_result, kFileSaved);
        const auto saved = ReadSavedJpeg(Utf::WideToUtf8(static_cast<const wchar_t*>(request->m_targetPath)));
        ASSERT_TRUE(saved);
        EXPECT_EQ(Size(saved->width, saved->height), Size(640, 480));
    }
}

TEST_F(FileSaver, AsksTheHostForALargePhotoAtTheSizeItIsSavedAt) {
    kvtest::Watchdog watchdog("a photo read fitted");
    m_host->AddItem(
        CHostPhotos::JpegItem(1, "/photos/big.jpg", CHostPhotos::SolidJpeg(1600, 1200, {70, 80, 90})));
    std::vector<CKvwSizeRecord> wanted;
    m_host->SetScript(kFullImageRequest, [&](const CHostRequest& request) {
        // The record lives only for the call.
        if (request.words[3] == 1)
            wanted.push_back(*reinterpret_cast<const CKvwSizeRecord*>(request.words[2]));
        return m_host->DefaultReply(request);
    });
    auto fitted = Request(1, {640, 480}, 80, "fitted.jpg", {1600, 1200});
    auto full = Request(1, {0, 0}, 80, "full.jpg", {1600, 1200});
    ASSERT_TRUE(m_saver.Post(fitted.Get()));
    ASSERT_TRUE(m_saver.Post(full.Get()));
    ASSERT_TRUE(PumpUntilNotices(2));
    ASSERT_EQ(wanted.size(), 1u) << "only the fitted load names a size";
    EXPECT_EQ(wanted[0].width, 640u);
    EXPECT_EQ(wanted[0].height, 480u);
    const auto saved = ReadSavedJpeg(m_folder.File("fitted.jpg"));
    ASSERT_TRUE(saved);
    EXPECT_EQ(Size(saved->width, saved->height), Size(640, 480));
    EXPECT_NEAR(saved->meanRgb[0], 70, 2.0);
    const auto whole = ReadSavedJpeg(m_folder.File("full.jpg"));
    ASSERT_TRUE(whole);
    EXPECT_EQ(Size(whole->width, whole->height), Size(1600, 1200));
}

TEST_F(FileSaver, RefusesRequestsAfterAnAbortUntilCleared) {
    kvtest::Watchdog watchdog("abort and clear");
    AddSolid(1, 64, 48, {1, 2, 3});
    ASSERT_TRUE(m_saver.Abort(true));
    auto refused = Request(1, {640, 480}, 80, "refused.jpg", {64, 48});
    EXPECT_FALSE(m_saver.Post(refused.Get()));
    EXPECT_EQ(refused->GetRefCount(), 1) << "a refused request stays the caller's alone";
    m_saver.ClearAbort();
    auto accepted = Request(1, {640, 480}, 80, "accepted.jpg", {64, 48});
    ASSERT_TRUE(m_saver.Post(accepted.Get()));
    ASSERT_TRUE(PumpUntilNotices(1));
    WinUserTest::PumpPending();
    ASSERT_EQ(m_window->notices.size(), 1u) << "the refused request gets no notice";
    EXPECT_EQ(m_window->notices[0].id, accepted->GetId());
    EXPECT_EQ(m_window->notices[0].result, kFileSaved);
    EXPECT_FALSE(Exists("refused.jpg"));
}

TEST_F(FileSaver, AbortEndsALoadWaitingOnTheHostAndTheQueuedRequests) {
    kvtest::Watchdog watchdog("abort while the host holds a load");
    AddNotHeld(1);
    // The host takes the full-image request and never completes it.
    m_host->SetAnswer(kFullImageRequest, kKvwOk);
    auto blocked = Request(1, {640, 480}, 80, "blocked.jpg", {64, 48});
    auto queued = Request(1, {640, 480}, 80, "queued.jpg", {64, 48});
    ASSERT_TRUE(m_saver.Post(blocked.Get()));
    ASSERT_TRUE(m_saver.Post(queued.Get()));
    ASSERT_TRUE(PumpUntil([&] { return RequestsOf(kFullImageRequest) == 1; }));
    EXPECT_FALSE(m_saver.IsIdle());
    ASSERT_TRUE(m_saver.Abort(true));
    EXPECT_TRUE(m_saver.IsIdle()) << "the abort ended the load instead of waiting out its bound";
    ASSERT_TRUE(PumpUntilNotices(2));
    EXPECT_EQ(m_window->notices[0].id, blocked->GetId());
    EXPECT_EQ(m_window->notices[1].id, queued->GetId());
    for (const auto& notice : m_window->notices)
        EXPECT_EQ(notice.result, kFileSaveAborted);
    EXPECT_EQ(RequestsOf(kFullImageRequest), 1u) << "the queued request was not loaded";
    EXPECT_EQ(RequestsOf(KvwPluginRequest::kStopWaiting), 1u) << "the host is told nobody waits";
    CompleteLate(1);
    EXPECT_TRUE(Files().empty());
}

TEST_F(FileSaver, StopWithAbortReturnsOnceTheBlockedLoadEnded) {
    kvtest::Watchdog watchdog("stop while the host holds a load");
    AddNotHeld(1);
    m_host->SetAnswer(kFullImageRequest, kKvwOk);
    auto blocked = Request(1, {640, 480}, 80, "blocked.jpg", {64, 48});
    auto dropped = Request(1, {640, 480}, 80, "dropped.jpg", {64, 48});
    ASSERT_TRUE(m_saver.Post(blocked.Get()));
    ASSERT_TRUE(m_saver.Post(dropped.Get()));
    ASSERT_TRUE(PumpUntil([&] { return RequestsOf(kFullImageRequest) == 1; }));
    ASSERT_TRUE(m_saver.Stop(true, true));
    EXPECT_TRUE(m_saver.IsIdle());
    ASSERT_TRUE(PumpUntilNotices(1));
    WinUserTest::PumpPending();
    ASSERT_EQ(m_window->notices.size(), 1u) << "the cleared request is released without a notice";
    EXPECT_EQ(m_window->notices[0].result, kFileSaveAborted);
    EXPECT_EQ(dropped->GetRefCount(), 1);
    CompleteLate(1);
}

} // namespace
