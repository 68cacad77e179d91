#include "platform/zavoz/ZaVoz.h"
#include "platform/zavoz/testing/CZvTestService.h"
#include "testing/Deadline.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using kvtest::CZvTestService;
using Act = CZvTestService::Act;

std::string Field(const char* text, std::size_t size) {
    return std::string(text, strnlen(text, size));
}

std::string Bytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 9)) & 0xFF);
    return bytes;
}

class ZaVozClient : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GT(m_service.Port(), 0);
        m_service.AddAccount("anna", "secret");
        std::memset(&m_record, 0, sizeof m_record);
        std::strcpy(m_record.user, "anna");
        std::strcpy(m_record.password, "secret");
    }
    std::int32_t Connect() { return PiConnect(&m_record, m_service.BaseUrl().c_str(), 0); }

    std::int32_t Upload(const std::string& bytes, PiUpload& upload, PiAbortProc abort = nullptr,
                        PiProgressProc progress = nullptr) {
        const std::string path = m_folder.Write("photo.jpg", bytes);
        return PiPhotoUpload(&m_record, &upload, path.c_str(), abort, progress);
    }

    CZvTestService m_service;
    kvtest::TempFolder m_folder;
    PiConnection m_record;
};

TEST_F(ZaVozClient, AnAlbumIsMadeAndAPhotoWithItsTextsLandsInIt) {
    ASSERT_EQ(Connect(), kPiOk);
    EXPECT_EQ(PiGetAlbumCount(&m_record), 0);
    PiAlbum album{};
    std::strcpy(album.name, "Sommer 2024");
    std::strcpy(album.description, "Tab\there, 100% & more=yes");
    ASSERT_EQ(PiAlbumNew(&m_record, &album), kPiOk);
    const std::string key = Field(album.key, sizeof album.key);
    ASSERT_EQ(m_service.Albums().size(), 1u);
    EXPECT_EQ(m_service.Albums()[0].key, key);
    EXPECT_EQ(m_service.Albums()[0].description, "Tab\there, 100% & more=yes");

    ASSERT_EQ(PiGetAlbumCount(&m_record), 1);
    PiAlbum listed[2];
    std::memset(listed, 0x55, sizeof listed);
    ASSERT_EQ(PiGetAlbumList(&m_record, listed, 2), kPiOk);
    EXPECT_EQ(Field(listed[0].key, 16), key);
    EXPECT_EQ(Field(listed[0].name, 256), "Sommer 2024");
    EXPECT_EQ(Field(listed[0].description, 264), "Tab\there, 100% & more=yes");
    const PiAlbum zero{};
    EXPECT_EQ(std::memcmp(&listed[1], &zero, sizeof zero), 0) << "the records after the list are zeroed";

    EXPECT_EQ(PiGetSpaceLeft(&m_record), 1000000);
    PiUpload upload{};
    std::strcpy(upload.firstText, "first");
    std::strcpy(upload.secondText, "second \xc3\xa9");
    std::strcpy(upload.thirdText, "third & last");
    const std::string photo = Bytes(300000, 1);
    ASSERT_EQ(Upload(photo, upload), kPiOk);
    const std::string id = Field(upload.photo, sizeof upload.photo);
    ASSERT_EQ(m_service.Photos().size(), 1u);
    const CZvTestService::Photo stored = m_service.Photos()[0];
    EXPECT_EQ(stored.id, id);
    EXPECT_TRUE(stored.bytes == photo) << "the photo arrives byte for byte";
    EXPECT_EQ(stored.text1, "first");
    EXPECT_EQ(stored.text2, "second \xc3\xa9");
    EXPECT_EQ(stored.text3, "third & last");

    ASSERT_EQ(PiAlbumAddPhoto(&m_record, &album, &upload), kPiOk);
    EXPECT_EQ(m_service.Albums()[0].photos, std::vector<std::string>{id});
    EXPECT_EQ(PiDisconnect(&m_record), kPiOk);
    EXPECT_EQ(PiDisconnect(&m_record), kPiOk);
    EXPECT_EQ(m_service.Count("DELETE", CZvTestService::kSession), 1u) << "the second one sends nothing";
}

TEST_F(ZaVozClient, EveryCallWithoutASessionAnswersNotConnectedAndSendsNothing) {
    PiAlbum album{};
    PiUpload upload{};
    const std::string path = m_folder.Write("photo.jpg", Bytes(10, 2));
    EXPECT_EQ(PiGetAlbumCount(&m_record), kPiNotConnected);
    EXPECT_EQ(PiGetAlbumList(&m_record, &album, 1), kPiNotConnected);
    EXPECT_EQ(PiAlbumNew(&m_record, &album), kPiNotConnected);
    EXPECT_EQ(PiGetSpaceLeft(&m_record), kPiNotConnected);
    EXPECT_EQ(PiPhotoUpload(&m_record, &upload, path.c_str(), nullptr, nullptr), kPiNotConnected);
    EXPECT_EQ(PiAlbumAddPhoto(&m_record, &album, &upload), kPiNotConnected);
    EXPECT_TRUE(m_service.Log().empty());
}

TEST_F(ZaVozClient, RefusedCredentialsAndTheStatusOfEachReplyGiveTheirResults) {
    std::strcpy(m_record.password, "Secret");
    EXPECT_EQ(Connect(), kPiCredentialsRefused);
    EXPECT_EQ(m_record.state[0], 0);
    std::strcpy(m_record.password, "secret");
    ASSERT_EQ(Connect(), kPiOk);
    struct Case {
        int status;
        std::int32_t result;
    };
    const Case cases[] = {{401, kPiNotConnected},  {403, kPiRefused},       {404, kPiNotFound},
                          {413, kPiNoRoom},        {507, kPiNoRoom},        {418, kPiRefused},
                          {500, kPiServiceFailed}, {503, kPiServiceFailed}, {302, kPiMalformedReply}};
    int nth = 0;
    for (const Case& c : cases) {
        m_service.AddRule({"GET", CZvTestService::kSpace, ++nth, Act::Status, c.status, "", {}});
        EXPECT_EQ(PiGetSpaceLeft(&m_record), c.result) << "status " << c.status;
    }
    EXPECT_EQ(PiGetSpaceLeft(&m_record), 1000000) << "rules for other requests leave this one alone";
}

TEST_F(ZaVozClient, MalformedRepliesAreRefused) {
    ASSERT_EQ(Connect(), kPiOk);
    struct Case {
        const char* method;
        const char* route;
        std::string body;
    };
    const std::string longName(300, 'n');
    const Case cases[] = {
        {"GET", CZvTestService::kAlbums, "count=2\nalbum=k1\tone\t\n"},
        {"GET", CZvTestService::kAlbums, "count=1\nalbum=k1\tone\n"},
        {"GET", CZvTestService::kAlbums, "count=1\nalbum=k1\tone\t%4\n"},
        {"GET", CZvTestService::kAlbums, "count=10001\n"},
        {"GET", CZvTestService::kAlbums, "count=-1\n"},
        {"GET", CZvTestService::kAlbums, "album=k1\tone\t\n"},
        {"GET", CZvTestService::kAlbums, "Count=0\n"},
        {"GET", CZvTestService::kSpace, "space=12x\n"},
        {"GET", CZvTestService::kSpace, "space=1\nspace=2\n"},
        {"GET", CZvTestService::kSpace, "just text"},
        {"POST", CZvTestService::kAlbums, "key=\n"},
        {"POST", CZvTestService::kAlbums, "key=a%00b\n"},
    };
    for (const Case& c : cases) {
        const bool list = std::string(c.method) == "GET" && std::string(c.route) == CZvTestService::kAlbums;
        const int next = static_cast<int>(m_service.Count(c.method, c.route)) + 1;
        m_service.AddRule({c.method, c.route, next, Act::Malformed, 200, c.body, {}});
        PiAlbum album{};
        std::int32_t result;
        if (list)
            result = PiGetAlbumCount(&m_record);
        else if (std::string(c.route) == CZvTestService::kSpace)
            result = PiGetSpaceLeft(&m_record);
        else
            result = PiAlbumNew(&m_record, &album);
        EXPECT_EQ(result, kPiMalformedReply) << c.body;
    }
}

TEST_F(ZaVozClient, BadTokensAndPhotoIdsAreRefused) {
    const std::string tooLong(20, 't');
    for (const std::string& body : {"token=" + tooLong + "\n", std::string("token=a b\n"),
                                    std::string("token=a%0d\n"), std::string("")}) {
        CZvTestService::Rule rule{"POST", CZvTestService::kSession, 0, Act::Malformed, 200, body, {}};
        CZvTestService service;
        service.AddRule(rule);
        EXPECT_EQ(PiConnect(&m_record, service.BaseUrl().c_str(), 0), kPiMalformedReply) << body;
        EXPECT_EQ(m_record.state[0], 0) << body;
    }
    ASSERT_EQ(Connect(), kPiOk);
    m_service.AddRule({"POST",
                       CZvTestService::kPhotos,
                       0,
                       Act::Malformed,
                       200,
                       "photo=" + std::string(64, 'p') + "\n",
                       {}});
    PiUpload upload{};
    EXPECT_EQ(Upload("jpeg", upload), kPiMalformedReply);
}

TEST_F(ZaVozClient, LongTextsFromTheServiceAreCutWholeAndTerminated) {
    // 254 letters and a two-byte character: 256 bytes, cut to the 254 letters.
    const std::string name = std::string(254, 'n') + "\xc3\xa9";
    const std::string description(400, 'd');
    m_service.AddAlbum("k12345678901234567890", name, description);
    ASSERT_EQ(Connect(), kPiOk);
    PiAlbum album;
    std::memset(&album, 0x7F, sizeof album);
    ASSERT_EQ(PiGetAlbumList(&m_record, &album, 1), kPiOk);
    EXPECT_EQ(std::string(album.key), "k12345678901234");
    EXPECT_EQ(std::string(album.name), std::string(254, 'n'));
    EXPECT_EQ(std::string(album.description), std::string(263, 'd'));
}

TEST_F(ZaVozClient, AReplyOverTheLimitIsRefused) {
    std::string body = "count=0\n";
    while (body.size() <= (1u << 20))
        body += "note=" + std::string(1000, 'x') + "\n";
    ASSERT_EQ(Connect(), kPiOk);
    m_service.AddRule({"GET", CZvTestService::kAlbums, 0, Act::Malformed, 200, body, {}});
    EXPECT_EQ(PiGetAlbumCount(&m_record), kPiMalformedReply);
    m_service.AddRule(
        {"GET", CZvTestService::kSpace, 0, Act::Malformed, 200, "note=x\r\n\r\nspace=7\r\n", {}});
    EXPECT_EQ(PiGetSpaceLeft(&m_record), 7) << "unknown keys, empty lines and CR LF are fine";
}

TEST_F(ZaVozClient, ADroppedConnectionOrAServiceGoneIsATransportFailure) {
    ASSERT_EQ(Connect(), kPiOk);
    m_service.AddRule({"POST", CZvTestService::kPhotos, 1, Act::Drop, 0, "", {}});
    PiUpload upload{};
    EXPECT_EQ(Upload(Bytes(5000, 3), upload), kPiTransportFailed);
    EXPECT_TRUE(m_service.Photos().empty());
    EXPECT_EQ(Upload(Bytes(5000, 3), upload), kPiOk) << "only the first was dropped";
    m_service.Stop();
    EXPECT_EQ(PiGetSpaceLeft(&m_record), kPiTransportFailed);
}

TEST_F(ZaVozClient, OnlyHttpAddressesAreUsed) {
    const std::string secret = m_folder.Write("secret.txt", std::string("token=stolen\n"));
    for (const std::string& address :
         {"file://" + secret, std::string("ftp://127.0.0.1/v1"), std::string("")}) {
        EXPECT_EQ(PiConnect(&m_record, address.c_str(), 0), kPiFailed) << address;
        EXPECT_EQ(m_record.state[0], 0);
    }
    const std::string tooLong = m_service.BaseUrl() + "/" + std::string(256, 'a');
    EXPECT_EQ(PiConnect(&m_record, tooLong.c_str(), 0), kPiFailed) << "a connection string is never cut";
    EXPECT_TRUE(m_service.Log().empty());
}

// Set from the test, read by the client's abort callback on the uploading thread.
std::atomic<std::int32_t> g_abort{0};
std::int32_t AbortFlag(void*) {
    return g_abort.load();
}

TEST_F(ZaVozClient, AnAbortStopsAStalledUploadAndAnEarlierOneSendsNothing) {
    kvtest::Watchdog watchdog("abort of a stalled upload");
    ASSERT_EQ(Connect(), kPiOk);
    g_abort = 1;
    PiUpload upload{};
    EXPECT_EQ(Upload(Bytes(100, 4), upload, AbortFlag), kPiAborted);
    EXPECT_EQ(m_service.Count("POST", CZvTestService::kPhotos), 0u);

    g_abort = 0;
    m_service.AddRule({"POST", CZvTestService::kPhotos, 0, Act::Stall, 0, "", {}});
    std::thread aborter([this] {
        kvtest::WaitUntil([this] { return m_service.Stalled() == 1; });
        g_abort = 1;
    });
    EXPECT_EQ(Upload(Bytes(100, 4), upload, AbortFlag), kPiAborted);
    aborter.join();
    g_abort = 0;
    m_service.ReleaseStalls();
}

std::vector<std::pair<std::int32_t, std::int32_t>> g_progress;
void RecordProgress(void*, std::int32_t done, std::int32_t total) {
    g_progress.emplace_back(done, total);
}

TEST_F(ZaVozClient, ProgressRunsFromNothingToTheWholePhoto) {
    ASSERT_EQ(Connect(), kPiOk);
    g_progress.clear();
    PiUpload upload{};
    const std::int32_t size = 2 << 20;
    ASSERT_EQ(Upload(Bytes(size, 5), upload, nullptr, RecordProgress), kPiOk);
    ASSERT_GE(g_progress.size(), 2u);
    EXPECT_EQ(g_progress.front(), std::make_pair(0, size));
    EXPECT_EQ(g_progress.back(), std::make_pair(size, size));
    for (std::size_t i = 1; i < g_progress.size(); ++i) {
        EXPECT_LE(g_progress[i - 1].first, g_progress[i].first);
        EXPECT_EQ(g_progress[i].second, size);
    }
}

TEST_F(ZaVozClient, AMissingOrUnusualFileIsALocalFailure) {
    ASSERT_EQ(Connect(), kPiOk);
    PiUpload upload{};
    EXPECT_EQ(PiPhotoUpload(&m_record, &upload, m_folder.File("missing.jpg").c_str(), nullptr, nullptr),
              kPiFailed);
    EXPECT_EQ(PiPhotoUpload(&m_record, &upload, m_folder.Path().c_str(), nullptr, nullptr), kPiFailed);
    EXPECT_EQ(m_service.Count("POST", CZvTestService::kPhotos), 0u);
}

} // namespace
