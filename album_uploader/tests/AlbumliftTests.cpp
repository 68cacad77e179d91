#include "AlbumliftFixture.h"
#include "testing/Deadline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using kvtest::CZvTestService;
using Act = CZvTestService::Act;
using Parms = kvtest::AlbumliftLibrary::Parms;

class Albumlift : public kvtest::AlbumliftFixture {
protected:
    // The one logged request of the method and route (the last one when there are several).
    CZvTestService::LoggedRequest Last(const std::string& method, const std::string& route) {
        CZvTestService::LoggedRequest found;
        for (const auto& request : m_service.Log())
            if (request.method == method && request.route == route)
                found = request;
        return found;
    }
    std::int32_t Upload(const std::string& path, const std::string& key, const std::string& first = "",
                        const std::string& second = "", const std::string& third = "") {
        Parms parms(*m_library);
        parms->s1 = path;
        parms->s2 = first;
        parms->s3 = second;
        parms->s4 = third;
        parms->s5 = key;
        return m_library->UploadPhoto(parms.get());
    }
};

TEST_F(Albumlift, UserAndPasswordAreSentLowerCasedAndCutWhole) {
    ASSERT_EQ(m_library->Initialize(), 0);
    ASSERT_EQ(m_library->Connect("Anna", "SeCrEt", 0), 0);
    EXPECT_EQ(Last("POST", CZvTestService::kSession).fields["user"], "anna");
    EXPECT_EQ(Last("POST", CZvTestService::kSession).fields["password"], "secret");

    struct Case {
        std::string given;
        std::string sent;
    };
    const Case cases[] = {
        // 254 letters and a two-byte character: 256 bytes lower-cased, cut before the character.
        {std::string(254, 'A') + "\xc3\x89", std::string(254, 'a')},
        // The Kelvin sign (3 bytes) lower-cases to 'k' (1 byte): the cut is made on what is sent.
        {std::string(253, 'B') + "\xe2\x84\xaa", std::string(253, 'b') + "k"},
        {"\xc3\x84RGER \xce\xa9", "\xc3\xa4rger \xcf\x89"},
        {"bad \xff\xfe bytes", "bad \xff\xfe bytes"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(m_library->Connect(c.given.c_str(), c.given.c_str(), 0), 31266) << "no such account";
        const auto request = Last("POST", CZvTestService::kSession);
        EXPECT_EQ(request.fields.at("user"), c.sent);
        EXPECT_EQ(request.fields.at("password"), c.sent);
    }
    EXPECT_EQ(m_library->Connect(nullptr, nullptr, 0), 31266);
    EXPECT_EQ(Last("POST", CZvTestService::kSession).fields.at("user"), "");
}

TEST_F(Albumlift, PhotoTextsArriveCutToTheirLimitsAtCharacterBoundaries) {
    m_service.AddAlbum("k00000000000001", "Album", "");
    Ready();
    const std::string photo = PhotoFile("photo.jpg", 1000);
    struct Case {
        std::string first, second, third;
        std::string firstSent, secondSent, thirdSent;
    };
    const std::string e = "\xc3\xa9"; // two bytes
    const Case cases[] = {
        {std::string(300, '1'), std::string(25, '2'), std::string(300, '3'), std::string(255, '1'),
         std::string(20, '2'), std::string(255, '3')},
        {std::string(254, 'x') + e, std::string(19, 'y') + e, std::string(254, 'z') + e,
         std::string(254, 'x'), std::string(19, 'y'), std::string(254, 'z')},
        {std::string(253, 'x') + e, std::string(18, 'y') + e, "", std::string(253, 'x') + e,
         std::string(18, 'y') + e, ""},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Upload(photo, "k00000000000001", c.first, c.second, c.third), 0);
        const CZvTestService::Photo stored = m_service.Photos().back();
        EXPECT_EQ(stored.text1, c.firstSent);
        EXPECT_EQ(stored.text2, c.secondSent);
        EXPECT_EQ(stored.text3, c.thirdSent);
    }
}

TEST_F(Albumlift, PhotoSizeAndSpaceAreCheckedBeforeThePhotoIsSent) {
    m_service.AddAlbum("k00000000000001", "Album", "");
    Ready();
    const std::string big = m_files.Write("big.jpg", std::string());
    std::filesystem::resize_file(big, 0x300000);
    const std::string justUnder = PhotoFile("under.jpg", 0x2FFFFF);
    m_service.SetSpace(4000);
    struct Case {
        std::int64_t space;
        std::string path;
        std::int32_t result;
    };
    const Case cases[] = {
        {4000, big, 31275},
        {4000, justUnder, 0},
        {4000, m_files.File("missing.jpg"), 31275},
        {4000, m_files.Path(), 31275},
        {1000, PhotoFile("million.jpg", 1000000), 0},
        {1000, PhotoFile("more.jpg", 1000001), 31274},
        {-1, PhotoFile("small.jpg", 10), 31274},
        // 4,294,968 units are more bytes than 32 bits hold; in 32 bits they would be 704.
        {4294968, PhotoFile("thousand.jpg", 1000), 0},
    };
    for (const Case& c : cases) {
        m_service.SetSpace(c.space);
        const std::size_t sent = m_service.Count("POST", CZvTestService::kPhotos);
        EXPECT_EQ(Upload(c.path, "k00000000000001"), c.result) << c.path << " with space " << c.space;
        EXPECT_EQ(m_service.Count("POST", CZvTestService::kPhotos), sent + (c.result == 0 ? 1 : 0)) << c.path;
    }
}

TEST_F(Albumlift, AnUnknownAlbumKeyIsRefusedAfterThePhotoWasSent) {
    m_service.AddAlbum("k00000000000001", "Album", "");
    Ready();
    const std::string photo = PhotoFile("photo.jpg", 500);
    EXPECT_EQ(Upload(photo, "k00000000000009"), 31264);
    EXPECT_EQ(m_service.Count("POST", CZvTestService::kPhotos), 1u) << "the photo went first";
    EXPECT_EQ(m_service.Count("POST", CZvTestService::kAlbumPhotos), 0u);
    m_service.AddRule({"POST", CZvTestService::kPhotos, 2, Act::Status, 500, "", {}});
    EXPECT_EQ(Upload(photo, "k00000000000009"), 31271) << "an upload failure is heard before the key";
    EXPECT_EQ(Upload(photo, "k0000000000000"), 31264) << "keys compare whole";
}

TEST_F(Albumlift, AlbumsAreListedCreatedAndTheirTextsTerminated) {
    Ready();
    EXPECT_EQ(m_library->GetAlbumCount(), 0) << "an account without albums";
    Parms parms(*m_library);
    parms->s1 = "Ferien";
    parms->s4 = std::string(300, 'd');
    ASSERT_EQ(m_library->NewAlbum(parms.get()), 0);
    EXPECT_EQ(parms->s5.size(), 15u);
    EXPECT_EQ(m_service.Albums().at(0).description, std::string(263, 'd'));
    EXPECT_EQ(m_library->GetAlbumCount(), 0) << "the list is read only on request";

    m_service.AddAlbum("k12345678901234567890", std::string(300, 'n'), "long key and name");
    ASSERT_EQ(m_library->GetAlbumList(0), 0);
    ASSERT_EQ(m_library->GetAlbumCount(), 2);
    EXPECT_EQ(std::string(m_library->GetAlbumID(0)), parms->s5);
    EXPECT_EQ(std::string(m_library->GetAlbumID(1)), "k12345678901234");
    parms->index = 1;
    EXPECT_EQ(std::string(m_library->GetAlbumName(parms.get())), std::string(255, 'n'));
    for (std::int32_t index : {-1, 2}) {
        parms->index = index;
        EXPECT_EQ(m_library->GetAlbumName(parms.get()), nullptr) << index;
        EXPECT_EQ(m_library->GetAlbumID(index), nullptr) << index;
    }
    EXPECT_EQ(m_library->GetAlbumName(nullptr), nullptr);
}

TEST_F(Albumlift, AFailedListLeavesTheListEmptyAndComesBackAsTheServiceSaidIt) {
    m_service.AddAlbum("k00000000000001", "One", "");
    Ready();
    ASSERT_EQ(m_library->GetAlbumCount(), 1);
    // The count and the list are two requests: the second fails.
    m_service.AddRule({"GET", CZvTestService::kAlbums, 4, Act::Status, 500, "", {}});
    EXPECT_EQ(m_library->GetAlbumList(0), -7);
    EXPECT_EQ(m_library->GetAlbumCount(), 0);
    m_service.AddRule({"GET", CZvTestService::kAlbums, 5, Act::Status, 503, "", {}});
    EXPECT_EQ(m_library->GetAlbumList(0), 31265) << "a failed count";
    m_service.AddRule({"GET", CZvTestService::kAlbums, 6, Act::Malformed, 200, "count=-3\n", {}});
    EXPECT_EQ(m_library->GetAlbumList(0), 31265);
    EXPECT_EQ(m_library->GetAlbumList(0), 0);
    EXPECT_EQ(m_library->GetAlbumCount(), 1);
}

TEST_F(Albumlift, AnAbortStopsTheUploadAndEveryLaterOneUntilTheNextConnect) {
    kvtest::Watchdog watchdog("abort of a stalled upload");
    m_service.AddAlbum("k00000000000001", "Album", "");
    Ready();
    const std::string photo = PhotoFile("photo.jpg", 200000);
    m_service.AddRule({"POST", CZvTestService::kPhotos, 1, Act::Stall, 0, "", {}});
    std::atomic<bool> sawBadProgress{false};
    std::thread other([&] {
        std::int32_t done = 0, total = 0;
        kvtest::WaitUntil([&] {
            m_library->GetProgress(&done, &total);
            if (done < 0 || done > total)
                sawBadProgress = true;
            return m_service.Stalled() == 1;
        });
        m_library->GetProgress(nullptr, nullptr);
        EXPECT_EQ(m_library->DoAbort(), 0);
    });
    EXPECT_EQ(Upload(photo, "k00000000000001"), 4098);
    other.join();
    m_service.ReleaseStalls();
    EXPECT_FALSE(sawBadProgress);

    EXPECT_EQ(Upload(photo, "k00000000000001"), 4098) << "still aborted";
    EXPECT_EQ(m_service.Count("POST", CZvTestService::kPhotos), 1u) << "the second sent nothing";
    ASSERT_EQ(m_library->Connect("anna", "secret", 0), 0);
    EXPECT_EQ(Upload(photo, "k00000000000001"), 0);
    std::int32_t done = 0, total = 0;
    m_library->GetProgress(&done, &total);
    EXPECT_EQ(done, 200000);
    EXPECT_EQ(total, 200000);
}

TEST_F(Albumlift, WithoutAnUploaderEveryExportAnswersWithoutHarm) {
    for (int round = 0; round < 2; ++round) {
        Parms parms(*m_library);
        ASSERT_NE(parms.get(), nullptr);
        EXPECT_EQ(m_library->Connect("anna", "secret", 0), 4104);
        EXPECT_EQ(m_library->KvDisconnect(), 4104);
        EXPECT_EQ(m_library->NewAlbum(parms.get()), 4104);
        EXPECT_EQ(m_library->UploadPhoto(parms.get()), 4104);
        EXPECT_EQ(m_library->GetAlbumList(0), 4104);
        EXPECT_EQ(m_library->GetAlbumCount(), 0);
        EXPECT_EQ(m_library->GetAlbumName(parms.get()), nullptr);
        EXPECT_EQ(m_library->GetAlbumID(0), nullptr);
        std::string text = "unchanged";
        EXPECT_EQ(m_library->GetErrorString(31274, &text), 4104);
        EXPECT_EQ(text, "unchanged");
        EXPECT_EQ(m_library->DoAbort(), 0);
        m_library->GetProgress(nullptr, nullptr);
        m_library->Close();
        // The second round: after an uploader was made and closed.
        ASSERT_EQ(m_library->Initialize(), 0);
        m_library->Close();
    }
    EXPECT_TRUE(m_service.Log().empty());
    EXPECT_EQ(m_library->NewAlbum(nullptr), 4104);
    EXPECT_EQ(m_library->CreateObject(nullptr), 4104);
    m_library->DestroyObject(nullptr);
}

TEST_F(Albumlift, InitializingAgainEndsTheOldSessionAndKeepsItsTexts) {
    m_service.AddAlbum("k00000000000001", "Kept name", "");
    Ready();
    const char* name = m_library->GetAlbumID(0);
    ASSERT_NE(name, nullptr);
    ASSERT_EQ(m_library->Initialize(), 0);
    EXPECT_EQ(m_service.Count("DELETE", CZvTestService::kSession), 1u);
    EXPECT_EQ(std::string(name), "k00000000000001") << "texts handed out stay readable";
    EXPECT_EQ(m_library->GetAlbumCount(), 0) << "the new uploader has its own list";
    ASSERT_EQ(m_library->Initialize(), 0);
}

TEST_F(Albumlift, AConnectionStringThatDoesNotFitFailsInitialize) {
    m_library.reset(); // each round loads and starts the library afresh
    for (std::size_t length : {255u, 256u, 300u}) {
        std::string address = m_service.BaseUrl() + "/";
        address += std::string(length - address.size(), 'a');
        kvtest::WriteLanguageFile(m_machine.Path(), address);
        kvtest::AlbumliftLibrary library;
        EXPECT_EQ(library.Initialize(), length < 256 ? 0 : 4104) << length;
        std::string text;
        EXPECT_EQ(library.GetErrorString(4104, &text), 0) << "the uploader is there to say why";
        EXPECT_EQ(text, "Not started.");
        library.Close();
    }
    std::filesystem::remove(kvtest::LanguageFilePath(m_machine.Path()));
    std::ofstream(kvtest::LanguageFilePath(m_machine.Path())) << "string 31279 No address\n";
    kvtest::AlbumliftLibrary library;
    EXPECT_EQ(library.Initialize(), 4104) << "no connection string";
    library.Close();
    EXPECT_TRUE(m_service.Log().empty());
}

TEST_F(Albumlift, InformationAndTextsComeFromTheLanguageLibrary) {
    std::int32_t kind = 0, flags = 0;
    std::string name, text;
    EXPECT_EQ(m_library->GetInformation(&kind, &flags, &name), 0);
    EXPECT_EQ(kind, 1);
    EXPECT_EQ(flags, 0x10000000);
    EXPECT_EQ(name, "Test uploader");
    EXPECT_EQ(m_library->GetInformation(nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(m_library->Initialize(), 0);
    EXPECT_EQ(m_library->GetErrorString(31274, &text), 0);
    EXPECT_EQ(text, "No space.");
    EXPECT_EQ(m_library->GetErrorString(31273, &text), 4104) << "a code without text";
    EXPECT_EQ(m_library->GetErrorString(-1, &text), 4104);
    EXPECT_EQ(m_library->GetAlbumKey(1, 2), 0);
    EXPECT_EQ(m_library->KvGetFolderName(3), 0);
    EXPECT_EQ(m_library->GetFolderList(), 0);
    EXPECT_EQ(m_library->NewFolder(), 0);

    Parms parms(*m_library);
    EXPECT_EQ(parms->index, 0);
    EXPECT_GE(parms->s2.capacity(), 255u);
    EXPECT_GE(parms->s6.capacity(), 255u);
}

TEST_F(Albumlift, TheBuiltLanguageLibraryNamesTheUploaderAndItsResults) {
    std::filesystem::copy_file(KV_ALBUMLIFT_LANGUAGE, kvtest::LanguageFilePath(m_machine.Path()),
                               std::filesystem::copy_options::overwrite_existing);
    std::string name, text;
    EXPECT_EQ(m_library->GetInformation(nullptr, nullptr, &name), 0);
    EXPECT_EQ(name, "Albumlift web albums");
    ASSERT_EQ(m_library->Initialize(), 0);
    for (std::int32_t code : {4098, 4099, 4104, 31264, 31265, 31266, 31267, 31268, 31269, 31270, 31271, 31272,
                              31273, 31274, 31275}) {
        text.clear();
        EXPECT_EQ(m_library->GetErrorString(code, &text), 0) << code;
        EXPECT_FALSE(text.empty()) << code;
    }
}

} // namespace
