// The file saver on its worker, loading pictures through the module's codec table from the scripted host
// (this thread is the host's user-interface thread and pumps while the worker waits on it).
#include "SavedJpeg.h"

#include "mail_plugin/TAsyncFileSaver.h"

#include "plugin_framework/TWindow.h"
#include "plugin_framework/tests/ImageTestSupport.h"

#include "platform/host/CHostPhotos.h"
#include "platform/win/utf16.h"
#include "testing/TempFolder.h"

#include <filesystem>

namespace {

using mailtest::ReadSavedJpeg;
using Size = graphtypes::TSize_T<LONG>;

constexpr DWORD kFullImageRequest = 0x10000103;

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
