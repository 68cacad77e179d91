// Pages of a design rendered for the host: the design module object started by the scripted host on this
// thread, the real asynchronous renderer drawing a three-photo layout with RGBRenderer into PNG files, and
// the host's answers recorded as they arrive.
#include "design_module/TDesignRenderer.h"
#include "design_module/TKvwDesignModule.h"

#include "plugin_framework/ContextStrings.h"
#include "plugin_framework/HostLink.h"
#include "plugin_framework/TImgLoadMng.h"

#include "platform/dadadud/DadaDud.h"
#include "platform/host/CScriptedHost.h"
#include "platform/win/WinSeams.h"
#include "platform/win/WinUser.h"
#include "platform/win/utf16.h"
#include "testing/Deadline.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace KvwDesign;

constexpr KvwItemId kPage1 = 7001;
constexpr KvwItemId kPage3 = 7003;
constexpr KvwItemId kOtherPage3 = 7013;
constexpr KvwItemId kMissingPage = 7009;
constexpr KvwItemId kNotAPage = 7100;
constexpr KvwItemId kHighPage = (KvwItemId{1} << 63) + 5;
// A page of another design: a design page for the host, none of the open design's.
constexpr KvwItemId kForeignPage = 7020;
constexpr DWORD kBoth = kWantsProgress | kWantsCompletion;

// The four quadrant colours (top left, top right, bottom left, bottom right) of each photo, as ARGB.
struct Photo {
    KvwItemId id;
    LONG x, y, cx, cy; // its box on page 1, in page units (= pixels at 600 x 848)
    std::uint32_t quadrants[4];
};
const Photo kPhotos[] = {
    {101, 40, 60, 240, 180, {0xFFC80000, 0xFF00C800, 0xFF0000C8, 0xFFC8C800}},
    {102, 320, 60, 240, 180, {0xFF00C8C8, 0xFFC800C8, 0xFF804000, 0xFF408000}},
    {103, 100, 400, 400, 300, {0xFF202020, 0xFFE0E0E0, 0xFF800080, 0xFF008080}},
};
constexpr std::uint32_t kBackground = 0xFFFFFFFF;

std::string Layout() {
    std::string text = "<ldf version='1'><page id='1' cx='600' cy='848'>";
    int n = 1;
    for (const Photo& photo : kPhotos)
        text += "<item id='" + std::to_string(n++) + "' kind='image'><bounding-box x='" +
                std::to_string(photo.x) + "' y='" + std::to_string(photo.y) + "' cx='" +
                std::to_string(photo.cx) + "' cy='" + std::to_string(photo.cy) +
                "'/><content><image refType='NUID'>" + std::to_string(photo.id) + "</image></content></item>";
    return text + "</page><page id='2' cx='600' cy='848'/><page id='3' cx='600' cy='848'/></ldf>";
}

// A 4:3 picture of the photo's four quadrants.
std::shared_ptr<const CHostPicture> QuadrantPicture(const Photo& photo) {
    CHostPicture picture;
    picture.width = 80;
    picture.height = 60;
    picture.channels = 3;
    for (LONG y = 0; y < picture.height; ++y)
        for (LONG x = 0; x < picture.width; ++x) {
            const std::uint32_t argb = photo.quadrants[(y >= 30 ? 2 : 0) + (x >= 40 ? 1 : 0)];
            for (int shift : {16, 8, 0})
                picture.samples.push_back(static_cast<BYTE>(argb >> shift));
        }
    return std::make_shared<const CHostPicture>(std::move(picture));
}

class FixtureSource : public IDesignRenderSource {
public:
    explicit FixtureSource(std::wstring path) : m_path(std::move(path)) {}
    std::unique_ptr<TdocDocument> CopyDocument() override {
        std::unique_ptr<TdocDocument> copy(TdocDocument::CreateFromLDF(m_path.c_str()));
        if (copy)
            s_copies.push_back(copy->GetHandle());
        return copy;
    }
    // The handles of the copies made, in order.
    static std::vector<DocHandle> s_copies;
    bool IsDocumentChanged() const override { return true; }

private:
    std::wstring m_path;
};

std::vector<DocHandle> FixtureSource::s_copies;

bool IsLive(DocHandle document) {
    LONG pages = 0;
    return docGetDocNbPages(document, &pages) == 1;
}

// Writes bytes that are no PNG over each page it renders.
class CorruptingRenderer : public TAsyncRenderer {
public:
    void RenderProc(TRndrData* request) override {
        auto owned = TRefPtr<TRndrData>::Adopt(request);
        TRefPtr<CRenderer> binding = HoldBinding();
        RenderLock().Reset();
        RenderRequest(*request, binding.Get());
        std::ofstream(Utf::WideToUtf8(static_cast<const wchar_t*>(GetContextFileName(request->m_context))),
                      std::ios::binary | std::ios::trunc)
            << "not a PNG";
        RenderLock().Unlock();
        Deliver(std::move(owned));
    }
};

class RefusingRenderer : public TDesignRenderer {
public:
    using TDesignRenderer::TDesignRenderer;
    bool QueueRequest(TRndrData*) override { return false; }
};

// Counts the requests its worker took, rendered or skipped.
class CountingRenderer : public TAsyncRenderer {
public:
    void RenderProc(TRndrData* request) override {
        TAsyncRenderer::RenderProc(request);
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_taken;
        m_changed.notify_all();
    }
    bool WaitForTaken(int count) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, kvtest::kThreadDeadline, [&] { return m_taken >= count; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    int m_taken = 0;
};

// After an abort, gets ready only once the worker has taken the first two requests: the second is then
// skipped by the abort, as when the worker is quicker than the user-interface thread.
class SkippingRenderer : public TDesignRenderer {
public:
    SkippingRenderer(TRefPtr<CountingRenderer> renderer, const TFilePath& folder)
        : TDesignRenderer(TRefPtr<TAsyncRenderer>(renderer.Get()), folder), m_counting(std::move(renderer)) {}
    void Abort() override {
        TDesignRenderer::Abort();
        m_aborted = true;
    }
    void SetReady() override {
        if (std::exchange(m_aborted, false)) {
            EXPECT_TRUE(m_counting->WaitForTaken(2));
        }
        TDesignRenderer::SetReady();
    }

private:
    TRefPtr<CountingRenderer> m_counting;
    bool m_aborted = false;
};

enum class RendererKind { kReal, kCorrupting, kRefusing, kNone, kSkipping };

struct Completion {
    KvwItemId item;
    DWORD error; // 0 for success
    DWORD requestId, tag;
};
struct ImageAnswer {
    DWORD message = 0;
    KvwItemId item = 0;
    DWORD first = 0, profile = 0;
    LONG width = 0, height = 0;
    std::vector<std::uint32_t> argb;
    std::uint32_t At(LONG x, LONG y) const { return argb[static_cast<std::size_t>(y) * width + x]; }
};

class DesignPageRenders : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(utlStartup(), 1);
        WinSeams::SetTempBase(m_temp.Path());
        m_layoutPath = Utf::Utf8ToWide(m_layoutFolder.Write("fixture.ldf", Layout()));
        m_host = std::make_unique<CScriptedHost>();
        for (const Photo& photo : kPhotos) {
            CHostItemRecord item;
            item.id = photo.id;
            item.source.width = 80;
            item.source.height = 60;
            item.previewPicture = QuadrantPicture(photo);
            item.previewHeld = true;
            item.fullPicture = item.previewPicture;
            item.fullHeld = true;
            m_host->AddItem(item);
        }
        for (auto [id, page] : {std::pair{kPage1, 1},
                                {kPage3, 3},
                                {kOtherPage3, 3},
                                {kMissingPage, 9},
                                {kHighPage, 3},
                                {kForeignPage, 1},
                                {kNotAPage, 1}}) {
            CHostItemRecord item;
            item.id = id;
            item.source.type = id == kNotAPage ? 0x1100 : 0x1400;
            item.source.value = page;
            m_host->AddItem(item);
        }
        m_host->SetScript(kPageCompleted, [this](const CHostRequest& request) {
            const auto* word = reinterpret_cast<const DWORD*>(request.words[2]);
            EXPECT_EQ(request.words[3], word ? 1u : 0u);
            EXPECT_EQ(request.words[4], word ? kCompletionError : 0u);
            m_completions.push_back(Completion{
                KvwMakeItemId(static_cast<DWORD>(request.words[0]), static_cast<DWORD>(request.words[1])),
                word ? *word : 0, static_cast<DWORD>(request.words[6]),
                static_cast<DWORD>(request.words[7])});
            return CHostReply{};
        });
        m_host->SetScript(kPageProgress, [this](const CHostRequest& request) {
            const auto* words = reinterpret_cast<const DWORD*>(request.words[2]);
            EXPECT_EQ(words[1], 100u);
            m_progress.push_back(static_cast<DWORD>(request.words[7]));
            return CHostReply{};
        });
        for (DWORD message : {kPreviewImage, kFullImage})
            m_host->SetScript(message, [this, message](const CHostRequest& request) {
                ImageAnswer answer;
                answer.message = message;
                answer.item =
                    KvwMakeItemId(static_cast<DWORD>(request.words[0]), static_cast<DWORD>(request.words[1]));
                const auto* record = reinterpret_cast<const CKvwProfileImage*>(request.words[2]);
                EXPECT_EQ(request.words[3], 1u);
                EXPECT_EQ(request.words[4], kProfileImageRecord);
                answer.first = record->first;
                answer.profile = record->profile;
                if (record->image && !record->image->GetSize(&answer.width, &answer.height))
                    for (LONG y = 0; y < answer.height; ++y)
                        for (LONG x = 0; x < answer.width; ++x) {
                            PravonPixel pixel;
                            record->image->GetPixel(x, y, &pixel);
                            // Red, green and blue, after the alpha sample when there is one.
                            const int c = pixel.channels == 4 ? 1 : 0;
                            const std::uint32_t alpha = c ? pixel.sample[0] : 0xFF;
                            answer.argb.push_back(alpha << 24 | pixel.sample[c] << 16 |
                                                  pixel.sample[c + 1] << 8 | pixel.sample[c + 2]);
                        }
                m_images.push_back(std::move(answer));
                return CHostReply{m_imageAnswer, {}};
            });
    }
    void TearDown() override {
        if (m_module != CScriptedHost::kNoModule)
            m_host->Close(m_module);
        m_host.reset();
        WinUserTest::PumpPending();
        WinSeams::ResetAll();
        utlShutdown();
    }

    void Start(RendererKind kind = RendererKind::kReal) {
        // The open design's pages, by page number (each item with a number of its own).
        class Layouts : public IDesignLayouts {
        public:
            KvwResult Open() override { return kKvwOk; }
            void Close() override {}
            bool WriteBack() override { return true; }
            void AnnouncePages() override {}
            LONG GetPageCount() const override { return 3; }
            void ForgetLayoutFile() override {}
            std::map<LONG, KvwItemId> GetPageItems() const override {
                return {{1, kPage1}, {3, kPage3}, {13, kOtherPage3}, {9, kMissingPage}, {23, kHighPage}};
            }
        };
        class Parts : public IDesignParts {
        public:
            Parts(RendererKind kind, std::wstring layout) : m_kind(kind), m_layout(std::move(layout)) {}
            std::unique_ptr<IDesignPane> MakeSinglePagePane(TKvwDesignModule&) override { return nullptr; }
            std::unique_ptr<IDesignPane> MakeContactSheetPane(TKvwDesignModule&) override { return nullptr; }
            std::unique_ptr<IDesignPropertiesPanel> MakePropertiesPanel(TKvwDesignModule&) override {
                return nullptr;
            }
            bool HasPanes() const override { return false; }
            std::unique_ptr<IDesignLayouts> MakeLayouts(TKvwDesignModule&) override {
                return std::make_unique<Layouts>();
            }
            std::unique_ptr<IDesignRenderSource> MakeRenderSource(TKvwDesignModule&) override {
                return std::make_unique<FixtureSource>(m_layout);
            }
            std::unique_ptr<IDesignRenderer> MakeRenderer() override {
                TFilePath folder;
                folder.Set(TString(KV_RENDERER_DIR "/"));
                switch (m_kind) {
                case RendererKind::kCorrupting:
                    return std::make_unique<TDesignRenderer>(
                        TRefPtr<TAsyncRenderer>::Adopt(new CorruptingRenderer), folder);
                case RendererKind::kRefusing:
                    return std::make_unique<RefusingRenderer>(TRefPtr<TAsyncRenderer>(), folder);
                case RendererKind::kNone:
                    return nullptr;
                case RendererKind::kSkipping:
                    return std::make_unique<SkippingRenderer>(
                        TRefPtr<CountingRenderer>::Adopt(new CountingRenderer), folder);
                default:
                    return std::make_unique<TDesignRenderer>(TRefPtr<TAsyncRenderer>(), folder);
                }
            }

        private:
            RendererKind m_kind;
            std::wstring m_layout;
        };
        static RendererKind s_kind;
        static std::wstring s_layout;
        s_kind = kind;
        s_layout = m_layoutPath;
        KvwSetModuleFactory([]() -> TBasicQWComp* {
            return new TKvwDesignModule(std::make_unique<Parts>(s_kind, s_layout));
        });
        TFilePath folder;
        folder.Set(TString(m_moduleFolder.Path().c_str()) + L"/");
        Module().SetModuleFolder(folder);
        m_module = m_host->Add(CHostModule::FromExports("KvwDesign.md7", KvwInitialize, KvwMessage,
                                                        KvwGetInformation, KvwClose));
        ASSERT_NE(m_module, CScriptedHost::kNoModule);
        ASSERT_EQ(m_host->Initialize(m_module), kKvwOk);
        Send(kStartup);
        ASSERT_EQ(Send(kOpenDesign), kKvwOk);
        ASSERT_TRUE(Module().IsDesignOpen());
    }
    TKvwDesignModule& Module() const { return *static_cast<TKvwDesignModule*>(KvwGetModuleObject()); }
    KvwResult Send(DWORD id, KvwWord p1 = 0, KvwWord p2 = 0, KvwWord p3 = 0, KvwWord p4 = 0, KvwWord p5 = 0,
                   KvwWord p6 = 0, KvwWord p7 = 0, KvwWord p8 = 0) {
        return m_host->Send(m_module, id, p1, p2, p3, p4, p5, p6, p7, p8);
    }
    KvwResult Request(DWORD id, KvwItemId item, LONG width, LONG height, DWORD flags, DWORD tag,
                      DWORD record = kKvwRecordSize) {
        m_size[0] = width;
        m_size[1] = height;
        return Send(id, KvwItemIdLow(item), KvwItemIdHigh(item), reinterpret_cast<KvwWord>(m_size), 1, record,
                    flags, 0, tag);
    }
    KvwResult Cancel(KvwItemId item = 0) {
        return Send(kCancelPageRender, KvwItemIdLow(item), KvwItemIdHigh(item));
    }
    // Pumps until every accepted request was answered or dropped and its notice came back.
    bool Settle(std::size_t completions) {
        return WinUserTest::PumpUntil(
            [&] { return m_completions.size() >= completions && Module().GetPendingRenders() == 0; },
            static_cast<DWORD>(kvtest::kThreadDeadline.count()));
    }
    std::set<std::string> RenderedFiles() const {
        std::set<std::string> names;
        const std::string folder = Utf::WideToUtf8(static_cast<const wchar_t*>(Module().GetRenderFolder()));
        if (!folder.empty() && fs::exists(folder))
            for (const auto& entry : fs::directory_iterator(folder))
                names.insert(entry.path().filename().string());
        return names;
    }

    kvtest::TempFolder m_temp;
    kvtest::TempFolder m_moduleFolder;
    kvtest::TempFolder m_layoutFolder;
    std::wstring m_layoutPath;
    std::unique_ptr<CScriptedHost> m_host;
    std::size_t m_module = CScriptedHost::kNoModule;
    LONG m_size[2] = {0, 0};
    KvwResult m_imageAnswer = kKvwOk;
    std::vector<Completion> m_completions;
    std::vector<DWORD> m_progress;
    std::vector<ImageAnswer> m_images;
};

TEST_F(DesignPageRenders, UnusableRequestsAreRefusedAndQueueNothing) {
    Start();
    struct Case {
        const char* what;
        KvwItemId item;
        LONG width, height;
        DWORD record;
        bool nullSize;
    };
    const Case cases[] = {
        {"a record kind of 80", kPage1, 60, 85, 80, false},
        {"height 0", kPage1, 60, 0, kKvwRecordSize, false},
        {"width 0", kPage1, 0, 85, kKvwRecordSize, false},
        {"no design page", kNotAPage, 60, 85, kKvwRecordSize, false},
        {"a page of another design", kForeignPage, 60, 85, kKvwRecordSize, false},
        {"an item the host lacks", 999, 60, 85, kKvwRecordSize, false},
        {"no size", kPage1, 60, 85, kKvwRecordSize, true},
    };
    for (const Case& c : cases) {
        KvwResult result;
        if (c.nullSize)
            result = Send(kPagePreview, KvwItemIdLow(c.item), 0, 0, 1, kKvwRecordSize, kBoth, 0, 9);
        else
            result = Request(kPagePreview, c.item, c.width, c.height, kBoth, 9, c.record);
        EXPECT_EQ(result, kKvwBadPageRequest) << c.what;
        EXPECT_EQ(Module().GetPendingRenders(), 0u) << c.what;
    }
    EXPECT_EQ(Request(kPageFull, kPage1, -5, 85, kBoth, 9), kKvwHandled) << "a size that is not positive";
    WinUserTest::PumpPending();
    EXPECT_TRUE(m_completions.empty());
    EXPECT_TRUE(m_images.empty());
    EXPECT_TRUE(RenderedFiles().empty());
}

TEST_F(DesignPageRenders, PreviewAndFullImagesAreAnsweredAtTheAskedSize) {
    Start();
    ASSERT_EQ(Request(kPagePreview, kPage3, 60, 85, kBoth, 0x51), kKvwQueued);
    ASSERT_TRUE(Settle(1));
    ASSERT_EQ(Request(kPageFull, kPage3, 120, 170, kWantsCompletion, 0x52), kKvwQueued);
    ASSERT_TRUE(Settle(2));
    ASSERT_EQ(m_images.size(), 2u);
    const std::pair<DWORD, LONG> expected[] = {{kPreviewImage, 60}, {kFullImage, 120}};
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(m_images[i].message, expected[i].first);
        EXPECT_EQ(m_images[i].item, kPage3);
        EXPECT_EQ(m_images[i].first, 1u);
        EXPECT_EQ(m_images[i].profile, kPageProfile);
        EXPECT_EQ(m_images[i].width, expected[i].second);
        EXPECT_EQ(m_images[i].height, expected[i].second * 170 / 120);
    }
    ASSERT_EQ(m_completions.size(), 2u);
    EXPECT_EQ(m_completions[0].requestId, kPagePreview);
    EXPECT_EQ(m_completions[0].tag, 0x51u);
    EXPECT_EQ(m_completions[0].error, 0u);
    EXPECT_EQ(m_completions[1].requestId, kPageFull);
    EXPECT_EQ(m_completions[1].tag, 0x52u);
    EXPECT_TRUE(m_progress.empty()) << "neither a preview nor a request without flag 2 gets progress";
    EXPECT_EQ(RenderedFiles(), (std::set<std::string>{"design_p3.png", "design_p3_001.png"}));
}

TEST_F(DesignPageRenders, ProgressGoesOnlyToFullRequestsThatAskForIt) {
    Start();
    ASSERT_EQ(Request(kPageFull, kPage1, 60, 85, kBoth, 0x61), kKvwQueued);
    ASSERT_TRUE(Settle(1));
    EXPECT_FALSE(m_progress.empty());
    for (DWORD tag : m_progress)
        EXPECT_EQ(tag, 0x61u);
    m_progress.clear();
    ASSERT_EQ(Request(kPagePreview, kPage1, 60, 85, kBoth, 0x62), kKvwQueued);
    ASSERT_TRUE(Settle(2));
    EXPECT_TRUE(m_progress.empty());
}

TEST_F(DesignPageRenders, TwoRequestsForOnePageKeepTheirOwnFilesIdsAndTags) {
    Start();
    ASSERT_EQ(Request(kPagePreview, kPage3, 40, 56, kWantsCompletion, 0x71), kKvwQueued);
    ASSERT_EQ(Request(kPagePreview, kOtherPage3, 40, 56, kWantsCompletion, 0x72), kKvwQueued);
    ASSERT_EQ(Request(kPageFull, kPage3, 40, 56, 0, 0x73), kKvwQueued);
    ASSERT_TRUE(Settle(2));
    ASSERT_TRUE(WinUserTest::PumpUntil([&] { return m_images.size() == 3; },
                                       static_cast<DWORD>(kvtest::kThreadDeadline.count())));
    ASSERT_EQ(m_completions.size(), 2u) << "the third asked for no completion";
    EXPECT_EQ(m_completions[0].item, kPage3);
    EXPECT_EQ(m_completions[0].tag, 0x71u);
    EXPECT_EQ(m_completions[1].item, kOtherPage3);
    EXPECT_EQ(m_completions[1].tag, 0x72u);
    EXPECT_EQ(m_images[0].item, kPage3);
    EXPECT_EQ(m_images[1].item, kOtherPage3);
    EXPECT_EQ(m_images[2].message, kFullImage);
    for (const ImageAnswer& image : m_images)
        EXPECT_EQ(image.width, 40) << "every answer read its own whole file";
    EXPECT_EQ(RenderedFiles(),
              (std::set<std::string>{"design_p3.png", "design_p3_001.png", "design_p3_002.png"}));
}

TEST_F(DesignPageRenders, CancellingOneItemLeavesTheOthersToComplete) {
    Start();
    ASSERT_EQ(Request(kPagePreview, kPage3, 40, 56, kWantsCompletion, 0xA1), kKvwQueued);
    ASSERT_EQ(Request(kPagePreview, kOtherPage3, 40, 56, kWantsCompletion, 0xB1), kKvwQueued);
    EXPECT_EQ(Cancel(kPage3), kKvwHandled);
    EXPECT_EQ(Cancel(kPage3), kKvwHandled) << "a second cancel finds nothing";
    ASSERT_TRUE(Settle(2));
    ASSERT_EQ(m_completions.size(), 2u);
    EXPECT_EQ(m_completions[0].item, kPage3);
    EXPECT_EQ(m_completions[0].error, static_cast<DWORD>(kKvwCancelled));
    EXPECT_EQ(m_completions[0].tag, 0xA1u);
    EXPECT_EQ(m_completions[1].item, kOtherPage3);
    EXPECT_EQ(m_completions[1].error, 0u);
    ASSERT_EQ(m_images.size(), 1u);
    EXPECT_EQ(m_images[0].item, kOtherPage3);
    EXPECT_EQ(RenderedFiles(), (std::set<std::string>{"design_p3_001.png"}))
        << "the cancelled page's file went";
}

TEST_F(DesignPageRenders, ARequestSkippedByAnotherItemsCancelIsRenderedAfterAll) {
    kvtest::Watchdog watchdog("a request skipped by another item's cancel");
    Start(RendererKind::kSkipping);
    ASSERT_EQ(Request(kPagePreview, kPage3, 40, 56, kWantsCompletion, 0xA1), kKvwQueued);
    ASSERT_EQ(Request(kPagePreview, kOtherPage3, 40, 56, kWantsCompletion, 0xB1), kKvwQueued);
    EXPECT_EQ(Cancel(kPage3), kKvwHandled);
    ASSERT_TRUE(Settle(2));
    ASSERT_EQ(m_completions.size(), 2u);
    EXPECT_EQ(m_completions[0].error, static_cast<DWORD>(kKvwCancelled));
    EXPECT_EQ(m_completions[1].item, kOtherPage3);
    EXPECT_EQ(m_completions[1].error, 0u) << "queued again, not dropped";
    ASSERT_EQ(m_images.size(), 1u);
    EXPECT_EQ(m_images[0].width, 40);
}

TEST_F(DesignPageRenders, AReplacedRenderDocumentLivesUntilItsLastRenderCameBack) {
    FixtureSource::s_copies.clear();
    Start();
    ASSERT_EQ(Request(kPagePreview, kPage3, 40, 56, kWantsCompletion, 1), kKvwQueued);
    ASSERT_EQ(Request(kPagePreview, kPage1, 40, 56, kWantsCompletion, 2), kKvwQueued);
    ASSERT_EQ(FixtureSource::s_copies.size(), 2u) << "the pane's document changed before each request";
    EXPECT_TRUE(IsLive(FixtureSource::s_copies[0])) << "the first request may still draw from it";
    ASSERT_TRUE(WinUserTest::PumpUntil([&] { return m_completions.size() == 2; },
                                       static_cast<DWORD>(kvtest::kThreadDeadline.count())));
    EXPECT_FALSE(IsLive(FixtureSource::s_copies[0])) << "freed once its render came back";
    EXPECT_TRUE(IsLive(FixtureSource::s_copies[1])) << "the renderer's document";
    m_host->Close(m_module);
    m_module = CScriptedHost::kNoModule;
    EXPECT_FALSE(IsLive(FixtureSource::s_copies[1])) << "freed when the module closed";
}

TEST_F(DesignPageRenders, CancellingAllCompletesEveryRequestOnceAndTagZeroNever) {
    Start();
    EXPECT_EQ(Cancel(), kKvwHandled) << "idle";
    ASSERT_EQ(Request(kPagePreview, kPage3, 40, 56, kWantsCompletion, 0xC1), kKvwQueued);
    ASSERT_EQ(Request(kPagePreview, kOtherPage3, 40, 56, kWantsCompletion, 0), kKvwQueued);
    ASSERT_EQ(Request(kPagePreview, kPage1, 40, 56, 0, 0xC3), kKvwQueued);
    EXPECT_EQ(Cancel(), kKvwHandled);
    EXPECT_EQ(Cancel(), kKvwHandled);
    ASSERT_TRUE(Settle(1));
    WinUserTest::PumpPending();
    ASSERT_EQ(m_completions.size(), 1u);
    EXPECT_EQ(m_completions[0].tag, 0xC1u);
    EXPECT_EQ(m_completions[0].error, static_cast<DWORD>(kKvwCancelled));
    EXPECT_TRUE(m_images.empty());
    EXPECT_TRUE(RenderedFiles().empty()) << "every discarded page's file went";
    // A request after the cancel renders again.
    ASSERT_EQ(Request(kPagePreview, kPage3, 40, 56, kWantsCompletion, 0xC4), kKvwQueued);
    ASSERT_TRUE(Settle(2));
    EXPECT_EQ(m_completions[1].error, 0u);
    EXPECT_EQ(m_images.size(), 1u);
}

TEST_F(DesignPageRenders, ClearingTheQueueCompletesEveryRequestNotYetAnswered) {
    Start();
    ASSERT_EQ(Request(kPagePreview, kPage3, 40, 56, kWantsCompletion, 0x91), kKvwQueued);
    ASSERT_EQ(Request(kPageFull, kOtherPage3, 40, 56, kWantsCompletion, 0x92), kKvwQueued);
    Module().CancelQueuedRenders();
    ASSERT_EQ(m_completions.size(), 2u) << "at once: the cleared requests never come back";
    for (const Completion& completion : m_completions)
        EXPECT_EQ(completion.error, static_cast<DWORD>(kKvwCancelled));
    // The files keep their names while a render may still write one; once a later request came back,
    // only its own file is left.
    ASSERT_EQ(Request(kPagePreview, kPage3, 40, 56, kWantsCompletion, 0x93), kKvwQueued);
    ASSERT_TRUE(Settle(3));
    EXPECT_EQ(m_completions[2].error, 0u);
    ASSERT_EQ(m_images.size(), 1u);
    EXPECT_EQ(m_images[0].width, 40);
    EXPECT_EQ(RenderedFiles(), (std::set<std::string>{"design_p3_002.png"}));
}

TEST_F(DesignPageRenders, FailuresCompleteWithAnErrorAndSendNoImage) {
    struct Case {
        const char* what;
        RendererKind kind;
        KvwItemId item;
        KvwResult queued;
        std::size_t completions;
    };
    const Case cases[] = {
        {"a page the document lacks", RendererKind::kReal, kMissingPage, kKvwQueued, 1},
        {"a corrupt PNG", RendererKind::kCorrupting, kPage3, kKvwQueued, 1},
        {"a refused queueing", RendererKind::kRefusing, kPage3, kKvwInvalidArgument, 0},
        {"no renderer", RendererKind::kNone, kPage3, kKvwInvalidArgument, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        m_module = CScriptedHost::kNoModule;
        m_completions.clear();
        m_images.clear();
        SetUp();
        Start(c.kind);
        EXPECT_EQ(Request(kPageFull, c.item, 40, 56, kWantsCompletion, 0xD1), c.queued);
        ASSERT_TRUE(Settle(c.completions));
        WinUserTest::PumpPending();
        ASSERT_EQ(m_completions.size(), c.completions);
        if (c.completions) {
            EXPECT_EQ(m_completions[0].error, static_cast<DWORD>(kKvwInvalidArgument));
        }
        EXPECT_TRUE(m_images.empty());
        if (c.kind == RendererKind::kRefusing) {
            EXPECT_TRUE(RenderedFiles().empty()) << "the claimed file went";
        }
        EXPECT_EQ(Cancel(), kKvwHandled);
        WinUserTest::PumpPending();
        EXPECT_EQ(m_completions.size(), c.completions) << "an answered request is not completed again";
    }
}

TEST_F(DesignPageRenders, AHostRefusingTheImageGetsItsResultAsTheCompletionsError) {
    Start();
    m_imageAnswer = 0x1101;
    ASSERT_EQ(Request(kPagePreview, kPage3, 40, 56, kWantsCompletion, 0xE1), kKvwQueued);
    ASSERT_TRUE(Settle(1));
    EXPECT_EQ(m_completions[0].error, 0x1101u);
}

TEST_F(DesignPageRenders, AnItemIdAbove2To63RoundTrips) {
    Start();
    ASSERT_EQ(Request(kPagePreview, kHighPage, 40, 56, kWantsCompletion, 0xF1), kKvwQueued);
    ASSERT_TRUE(Settle(1));
    ASSERT_EQ(m_images.size(), 1u);
    EXPECT_EQ(m_images[0].item, kHighPage);
    EXPECT_EQ(m_completions[0].item, kHighPage);
}

// A temporary folder whose path holds what ends a value in a context string: the pages still go to the
// module's own folder and nowhere else, the renderer writing the file the module reads back.
TEST_F(DesignPageRenders, ATemporaryFolderWithContextSeparatorsKeepsThePagesInTheModulesOwnFolder) {
    for (const char* name : {"a;b", "a,b", "a=b", "x;y,z=w"}) {
        SCOPED_TRACE(name);
        TearDown();
        m_module = CScriptedHost::kNoModule;
        m_completions.clear();
        m_images.clear();
        SetUp();
        kvtest::TempFolder odd;
        const std::string tricky = odd.Path() + "/" + name;
        fs::create_directories(tricky);
        WinSeams::SetTempBase(tricky);
        Start();
        ASSERT_EQ(Request(kPagePreview, kPage1, 600, 848, kWantsCompletion, 0x11), kKvwQueued);
        ASSERT_TRUE(Settle(1));
        ASSERT_EQ(m_completions[0].error, 0u);
        ASSERT_EQ(m_images.size(), 1u);
        ASSERT_EQ(m_images[0].width, 600);
        EXPECT_EQ(m_images[0].At(kPhotos[0].x + 10, kPhotos[0].y + 10), kPhotos[0].quadrants[0])
            << "the page drawn is the one read back";
        const std::string folder = Utf::WideToUtf8(static_cast<const wchar_t*>(Module().GetRenderFolder()));
        EXPECT_EQ(folder.rfind(tricky + "/", 0), 0u) << folder << ": the module's own temporary folder";
        EXPECT_EQ(RenderedFiles(), (std::set<std::string>{"design_p1.png"}));
        std::set<std::string> everything;
        for (const auto& entry : fs::recursive_directory_iterator(odd.Path()))
            if (entry.is_regular_file())
                everything.insert(entry.path().string());
        EXPECT_EQ(everything, (std::set<std::string>{folder + "design_p1.png"})) << "no file anywhere else";
        m_host->Close(m_module);
        m_module = CScriptedHost::kNoModule;
        EXPECT_FALSE(fs::exists(folder)) << "the module's folder goes with the module";
    }
}

// The pages of a design that is no longer open are not drawn from another layout under their ids.
TEST_F(DesignPageRenders, APageOfADesignThatWasClosedIsRefused) {
    Start();
    ASSERT_EQ(Request(kPagePreview, kPage3, 40, 56, kWantsCompletion, 0x21), kKvwQueued);
    ASSERT_TRUE(Settle(1));
    Send(kCloseDesign);
    EXPECT_EQ(Request(kPagePreview, kPage3, 40, 56, kWantsCompletion, 0x22), kKvwBadPageRequest);
    EXPECT_EQ(Request(kPageFull, kPage1, 40, 56, kWantsCompletion, 0x23), kKvwBadPageRequest);
    WinUserTest::PumpPending();
    EXPECT_EQ(m_completions.size(), 1u);
    EXPECT_EQ(m_images.size(), 1u);
    EXPECT_EQ(Module().GetPendingRenders(), 0u);
}

TEST_F(DesignPageRenders, RequestsAndCancelsWhileTheWorkerRendersThenCloseWithARenderInFlight) {
    kvtest::Watchdog watchdog("requests and cancels while the worker renders");
    Start();
    std::size_t wanted = 0;
    for (int round = 0; round < 6; ++round) {
        ASSERT_EQ(Request(kPageFull, kPage1, 120, 170, kBoth, 0x100 + round), kKvwQueued);
        ASSERT_EQ(Request(kPagePreview, kPage3, 40, 56, kWantsCompletion, 0x200 + round), kKvwQueued);
        wanted += 2;
        if (round % 2 == 0)
            Cancel(round % 4 == 0 ? kPage1 : 0);
        WinUserTest::PumpPending();
    }
    ASSERT_TRUE(Settle(wanted));
    std::set<DWORD> tags;
    for (const Completion& completion : m_completions)
        EXPECT_TRUE(tags.insert(completion.tag).second) << "one completion per request: " << completion.tag;
    EXPECT_EQ(tags.size(), wanted);
    // Close while a page with photos renders.
    ASSERT_EQ(Request(kPageFull, kPage1, 600, 848, kWantsCompletion, 0x300), kKvwQueued);
    m_host->Close(m_module);
    m_module = CScriptedHost::kNoModule;
    EXPECT_EQ(m_completions.size(), wanted + 1)
        << "the request in flight was completed when the module closed";
}

TEST_F(DesignPageRenders, EndToEndThePreviewOfPage1ShowsThePhotosAtTheirBoxes) {
    kvtest::Watchdog watchdog("the fixture page previewed from end to end");
    Start();
    ASSERT_EQ(Request(kPagePreview, kPage1, 600, 848, kWantsCompletion, 0x600D), kKvwQueued);
    ASSERT_TRUE(Settle(1));
    ASSERT_EQ(m_completions[0].error, 0u);
    ASSERT_EQ(m_images.size(), 1u);
    const ImageAnswer& image = m_images[0];
    ASSERT_EQ(image.width, 600);
    ASSERT_EQ(image.height, 848);
    for (const Photo& photo : kPhotos)
        for (int q = 0; q < 4; ++q) {
            const LONG x = photo.x + photo.cx / 4 + (q % 2) * photo.cx / 2;
            const LONG y = photo.y + photo.cy / 4 + (q / 2) * photo.cy / 2;
            EXPECT_EQ(image.At(x, y), photo.quadrants[q]) << "photo " << photo.id << " quadrant " << q;
        }
    for (auto [x, y] : {std::pair{10, 10}, {300, 30}, {590, 840}, {300, 300}, {50, 800}})
        EXPECT_EQ(image.At(x, y), kBackground) << x << "," << y;
}

// Image checks posted to the manager's window and never dispatched are freed and their requesters woken,
// however the window goes: by its object's Destroy, by DestroyWindow alone, or with its thread.
TEST(ImageCheckRequests, ARequestPostedAndNeverDispatchedIsFreedWhenItsWindowGoes) {
    kvtest::Watchdog watchdog("image checks whose window goes before they are dispatched");
    for (int close = 0; close < 3; ++close) {
        auto window = TRefPtr<TImgMngHidWnd>::Adopt(new TImgMngHidWnd);
        auto request = TRefPtr<TArgsCheckImageLoaded>::Adopt(new TArgsCheckImageLoaded(5, {64, 48}));
        std::promise<void> made, posted;
        std::thread owner([&] {
            if (close == 2)
                window->Create();
            made.set_value();
            posted.get_future().wait(); // the thread ends with the request still queued for it
        });
        made.get_future().wait();
        EXPECT_TRUE((close == 2 || window->Create()) &&
                    window->Post(TImgMngHidWnd::kGetPreview, request.Get()));
        posted.set_value();
        owner.join();
        if (close == 1 && DestroyWindow(window->GetHandle()))
            WinUserTest::PumpPending();
        if (close == 0)
            window->Destroy();
        window = TRefPtr<TImgMngHidWnd>();
        EXPECT_EQ(request->GetRefCount(), 1) << close;
        EXPECT_EQ(request->GetEvent().Lock(0), TSyncObject::kWaitSignalled) << close;
    }
}

} // namespace
