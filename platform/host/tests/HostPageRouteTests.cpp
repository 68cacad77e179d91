// The design pages' road through the host: a module registers a page record, another module (or the same)
// asks the host for the page's picture, and the host passes the request on to the module that registered
// the page, keeps the picture that module answers with and passes its completion back. Both modules are
// stand-ins of this program that record what they are sent; the test plays the drawing module's part.
#include "HostFixture.h"

#include "platform/host/CHostImage.h"
#include "platform/host/CHostModule.h"
#include "platform/pravon/CPravonMemoryManager.h"

#include <array>
#include <functional>
#include <vector>

namespace {

constexpr DWORD kDesignKind = 20;
constexpr DWORD kPageKind = 0x1400;
constexpr DWORD kPreviewAnswer = 0x80000102;
constexpr KvwWord kManagerFlags = 4;
constexpr KvwWord kCodecFlags = 6;
constexpr DWORD kErrorKind = 33;
// An A4 page's size words: the longer side 65535, the other in proportion (2100 / 2970).
constexpr DWORD kA4Width = 46337;
constexpr DWORD kA4Height = 65535;

// What a stand-in module was sent: the words, and the size record p3 pointed at when it carried one.
struct Received {
    DWORD id;
    std::array<KvwWord, 8> words;
    CKvwSizeRecord size;
    DWORD error;
};

struct StandIn {
    KvwHostCallback callback = nullptr;
    DWORD kind = 0;
    std::vector<Received> received;
    // The answer to a page request (the others are answered 0).
    KvwResult pageAnswer = kKvwQueued;
};

template <int N>
StandIn& Module() {
    static StandIn module;
    return module;
}

template <int N>
KvwResult Initialize(KvwHostCallback callback, IKvwHost*) {
    Module<N>().callback = callback;
    return kKvwOk;
}

template <int N>
KvwResult Message(DWORD id, KvwWord p1, KvwWord p2, KvwWord p3, KvwWord p4, KvwWord p5, KvwWord p6,
                  KvwWord p7, KvwWord p8) {
    Received received{id, {p1, p2, p3, p4, p5, p6, p7, p8}, {}, 0};
    if (p3 && p4 == 1 && p5 == kKvwRecordSize)
        received.size = *reinterpret_cast<const CKvwSizeRecord*>(p3);
    if (id == KvwHostMessage::kImageLoaded && p3 && p4 == 1)
        received.error = *reinterpret_cast<const DWORD*>(p3);
    Module<N>().received.push_back(received);
    const bool page = id == KvwPluginRequest::kPreview || id == KvwPluginRequest::kFullImage;
    return page ? Module<N>().pageAnswer : kKvwOk;
}

template <int N>
KvwResult Information(DWORD* kind, DWORD* version) {
    *kind = Module<N>().kind;
    *version = 0x10000000;
    return kKvwOk;
}

template <int N>
void Close() {}

template <int N>
std::unique_ptr<CHostModule> StandInModule() {
    Module<N>() = StandIn{};
    Module<N>().kind = N == 0 ? 0x2001 : kDesignKind;
    return CHostModule::FromExports("StandIn" + std::to_string(N), &Initialize<N>, &Message<N>,
                                    &Information<N>, &Close<N>);
}

template <int N>
std::vector<Received> ReceivedOf(DWORD id) {
    std::vector<Received> found;
    for (const Received& r : Module<N>().received)
        if (r.id == id)
            found.push_back(r);
    return found;
}

class HostPageRoutes : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        m_requester = m_host->Add(StandInModule<0>());
        m_drawer = m_host->Add(StandInModule<1>());
        ASSERT_EQ(m_host->Initialize(m_requester), kKvwOk);
        ASSERT_EQ(m_host->Initialize(m_drawer), kKvwOk);
        m_page = Register<1>();
    }

    // A page record of an A4 page, made by the stand-in module N; its id.
    template <int N>
    KvwItemId Register() {
        CKvwInputData record;
        record.kind = kPageKind;
        record.flags = kKvwDesignPageFlag;
        record.value = 1;
        record.name = "page1";
        record.width = kA4Width;
        record.height = kA4Height;
        EXPECT_EQ(Module<N>().callback(KvwRecordRequest::kCreate, 0, 0, reinterpret_cast<KvwWord>(&record), 1,
                                       0x93, 0, 0, 0),
                  kKvwOk);
        return record.id;
    }
    // The requester asks for the page's preview at the size.
    KvwResult Ask(KvwWord flags, DWORD width = 100, DWORD height = 100) {
        m_wanted = CKvwSizeRecord{width, height};
        return Module<0>().callback(KvwPluginRequest::kPreview, KvwItemIdLow(m_page), KvwItemIdHigh(m_page),
                                    reinterpret_cast<KvwWord>(&m_wanted), 1, kKvwRecordSize, flags, 64,
                                    kKvwFrameworkRequestTag);
    }
    // The drawing module answers the passed-on request with a picture of the size, then completes it (with
    // the error word, when one is given).
    void Draw(const Received& asked, LONG width, LONG height, DWORD error = 0) {
        CPravonMemoryManager imaging;
        auto* made = new CHostImage(imaging, CHostPicture::Solid(width, height, {0x20, 0x80, 0xC0}));
        CKvwProfileImage answer;
        answer.first = 1;
        answer.profile = 0x2000;
        answer.image = static_cast<IPravonImage*>(made->GetDataSource());
        answer.image->AddRef();
        made->Release();
        if (error == 0) {
            EXPECT_EQ(Module<1>().callback(kPreviewAnswer, asked.words[0], asked.words[1],
                                           reinterpret_cast<KvwWord>(&answer), 1, 150, 0, 0, 0),
                      kKvwOk);
        }
        Module<1>().callback(KvwHostMessage::kImageLoaded, asked.words[0], asked.words[1],
                             error ? reinterpret_cast<KvwWord>(&error) : 0, error ? 1 : 0,
                             error ? kErrorKind : 0, 0, asked.id, asked.words[7]);
    }
    // The size of the preview the host holds for the page (0 x 0: none).
    std::pair<LONG, LONG> HeldPreview() {
        IKvwImage* image = nullptr;
        if (!KvwSucceeded(m_host->Items().GetPreviewImage(KvwItemIdLow(m_page), KvwItemIdHigh(m_page), &image,
                                                          0, nullptr)) ||
            !image)
            return {0, 0};
        const std::pair<LONG, LONG> size{image->GetWidth(), image->GetHeight()};
        image->Release();
        return size;
    }

    std::size_t m_requester = 0;
    std::size_t m_drawer = 0;
    KvwItemId m_page = 0;
    CKvwSizeRecord m_wanted;
};

TEST_F(HostPageRoutes, APageRequestReachesItsModuleWhichsPictureAndCompletionComeBack) {
    const struct {
        KvwWord flags;
        DWORD completion;
    } cases[] = {{kManagerFlags, KvwHostMessage::kImageLoaded}, {kCodecFlags, KvwHostMessage::kPreviewReady}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        Module<0>().received.clear();
        Module<1>().received.clear();
        EXPECT_EQ(Ask(c.flags), kKvwOk);
        EXPECT_TRUE(ReceivedOf<1>(KvwPluginRequest::kPreview).empty())
            << "passed on later, not inside the call";
        WinUserTest::PumpPending();
        const auto asked = ReceivedOf<1>(KvwPluginRequest::kPreview);
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(KvwMakeItemId(asked[0].words[0], asked[0].words[1]), m_page);
        // 100 x 100 enlarged to the page's proportions: 100 wide, 65535 / 46337 times as high.
        EXPECT_EQ(asked[0].size.width, 100u);
        EXPECT_EQ(asked[0].size.height, 141u);
        EXPECT_EQ(asked[0].words[5] & kManagerFlags, kManagerFlags) << "a completion is asked for";
        EXPECT_EQ(asked[0].words[5] & 2, c.flags & 2) << "progress as the requester asked";
        EXPECT_NE(asked[0].words[7], 0u) << "the host's tag";
        EXPECT_TRUE(ReceivedOf<0>(c.completion).empty());

        Draw(asked[0], 100, 141);
        EXPECT_EQ(HeldPreview(), std::make_pair(100, 141)) << "the drawn page is the page's preview";
        WinUserTest::PumpPending();
        const auto done = ReceivedOf<0>(c.completion);
        ASSERT_EQ(done.size(), 1u);
        EXPECT_EQ(KvwMakeItemId(done[0].words[0], done[0].words[1]), m_page);
        EXPECT_EQ(done[0].words[2], 0u) << "no error";
        EXPECT_EQ(done[0].words[6], KvwPluginRequest::kPreview);
    }
}

TEST_F(HostPageRoutes, ARequestThatFailsOnTheWayCompletesItsRequesterWithTheError) {
    const struct {
        const char* what;
        KvwResult answer; // the drawing module's answer to the request
        DWORD drawError;  // its completion's error (0: it draws)
        bool closeFirst;  // the drawing module closes before the request reaches it
        bool closeAfter;  // or after it queued it
        DWORD expected;
    } cases[] = {
        {"refused", kKvwBadPageRequest, 0, false, false, static_cast<DWORD>(kKvwBadPageRequest)},
        {"answered 1, which sends nothing", kKvwHandled, 0, false, false,
         static_cast<DWORD>(kKvwInvalidArgument)},
        {"drawing failed", kKvwQueued, 0x1008, false, false, 0x1008},
        {"closed before", kKvwQueued, 0, true, false, static_cast<DWORD>(kKvwCancelled)},
        {"closed after", kKvwQueued, 0, false, true, static_cast<DWORD>(kKvwCancelled)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        Module<1>().pageAnswer = c.answer;
        EXPECT_EQ(Ask(kManagerFlags), kKvwOk);
        if (c.closeFirst)
            m_host->Close(m_drawer);
        WinUserTest::PumpPending();
        const auto asked = ReceivedOf<1>(KvwPluginRequest::kPreview);
        if (c.drawError)
            Draw(asked.at(0), 100, 141, c.drawError);
        if (c.closeAfter)
            m_host->Close(m_drawer);
        WinUserTest::PumpPending();
        const auto done = ReceivedOf<0>(KvwHostMessage::kImageLoaded);
        ASSERT_EQ(done.size(), 1u);
        EXPECT_EQ(done[0].words[3], 1u);
        EXPECT_EQ(done[0].words[4], kErrorKind);
        EXPECT_EQ(done[0].error, c.expected);
        EXPECT_EQ(done[0].words[6], KvwPluginRequest::kPreview);
        EXPECT_EQ(HeldPreview(), std::make_pair(0, 0));
    }
}

TEST_F(HostPageRoutes, ARequesterThatStopsWaitingHasThePagesModuleToldAndGetsNothingMore) {
    EXPECT_EQ(Ask(kCodecFlags), kKvwOk);
    WinUserTest::PumpPending();
    const auto asked = ReceivedOf<1>(KvwPluginRequest::kPreview);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(Module<0>().callback(KvwPluginRequest::kStopWaiting, KvwItemIdLow(m_page),
                                   KvwItemIdHigh(m_page), 0, 0, 0, 0, 0, kKvwFrameworkRequestTag),
              kKvwOk);
    WinUserTest::PumpPending();
    const auto told = ReceivedOf<1>(KvwPluginRequest::kStopWaiting);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(KvwMakeItemId(told[0].words[0], told[0].words[1]), m_page);
    // Its completion of the cancelled render is taken, and goes no further.
    Draw(asked[0], 100, 141, static_cast<DWORD>(kKvwCancelled));
    WinUserTest::PumpPending();
    EXPECT_TRUE(ReceivedOf<0>(KvwHostMessage::kImageLoaded).empty());
    EXPECT_TRUE(ReceivedOf<0>(KvwHostMessage::kPreviewReady).empty());
}

TEST_F(HostPageRoutes, APageOfAModuleThatClosedIsDrawnByTheSameKindOfModuleLoadedAgain) {
    m_host->Close(m_drawer);
    EXPECT_EQ(Ask(kManagerFlags, 50, 50), kKvwNothingToWorkOn) << "no module draws it: the host lacks it";
    WinUserTest::PumpPending();
    EXPECT_TRUE(Module<0>().received.empty());
    const std::size_t again = m_host->Add(StandInModule<1>());
    ASSERT_EQ(m_host->Initialize(again), kKvwOk);
    EXPECT_EQ(Ask(kManagerFlags, 50, 50), kKvwOk);
    WinUserTest::PumpPending();
    const auto asked = ReceivedOf<1>(KvwPluginRequest::kPreview);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].size.height, 71u);
    Draw(asked[0], 50, 71);
    WinUserTest::PumpPending();
    ASSERT_EQ(ReceivedOf<0>(KvwHostMessage::kImageLoaded).size(), 1u);
    EXPECT_EQ(ReceivedOf<0>(KvwHostMessage::kImageLoaded)[0].words[2], 0u);
}

TEST_F(HostPageRoutes, OnlyThePagesOwnModuleGivesItsPicture) {
    CPravonMemoryManager imaging;
    auto* made = new CHostImage(imaging, CHostPicture::Solid(10, 10, {1, 2, 3}));
    CKvwProfileImage answer;
    answer.image = static_cast<IPravonImage*>(made->GetDataSource());
    answer.image->AddRef();
    made->Release();
    EXPECT_EQ(Module<0>().callback(kPreviewAnswer, KvwItemIdLow(m_page), KvwItemIdHigh(m_page),
                                   reinterpret_cast<KvwWord>(&answer), 1, 150, 0, 0, 0),
              kKvwInvalidArgument);
    EXPECT_EQ(HeldPreview(), std::make_pair(0, 0));
    EXPECT_EQ(Module<1>().callback(kPreviewAnswer, KvwItemIdLow(m_page), KvwItemIdHigh(m_page),
                                   reinterpret_cast<KvwWord>(&answer), 1, 150, 0, 0, 0),
              kKvwOk);
    EXPECT_EQ(HeldPreview(), std::make_pair(10, 10));
}

} // namespace
