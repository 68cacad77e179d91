#include "AlbumliftFixture.h"
#include "testing/Deadline.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

using kvtest::CZvTestService;
using Act = CZvTestService::Act;
using Parms = kvtest::AlbumliftLibrary::Parms;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class AlbumliftEndToEnd : public kvtest::AlbumliftFixture {};

TEST_F(AlbumliftEndToEnd, FivePhotosThroughADropAFailureAndAnAbortAllLandAfterARetry) {
    kvtest::Watchdog watchdog("five uploads");
    Ready();
    Parms album(*m_library);
    album->s1 = "Holidays";
    album->s4 = "Five photos";
    ASSERT_EQ(m_library->NewAlbum(album.get()), 0);
    const std::string key = album->s5;
    ASSERT_EQ(m_library->GetAlbumList(0), 0);
    ASSERT_EQ(m_library->GetAlbumCount(), 1);

    std::vector<std::string> paths, originals;
    for (int i = 0; i < 5; ++i) {
        paths.push_back(PhotoFile("photo " + std::to_string(i + 1) + ".jpg", 40000 + 90000 * i, i + 1));
        originals.push_back(ReadFile(paths.back()));
    }
    auto upload = [&](int i) {
        Parms parms(*m_library);
        parms->s1 = paths[i];
        parms->s2 = "photo " + std::to_string(i + 1);
        parms->s3 = "second " + std::to_string(i + 1);
        parms->s4 = "third " + std::to_string(i + 1);
        parms->s5 = key;
        return m_library->UploadPhoto(parms.get());
    };

    m_service.AddRule({"POST", CZvTestService::kPhotos, 2, Act::Drop, 0, "", {}});
    m_service.AddRule({"POST", CZvTestService::kPhotos, 3, Act::Status, 500, "", {}});
    m_service.AddRule({"POST", CZvTestService::kPhotos, 5, Act::Stall, 0, "", {}});
    std::vector<std::int32_t> results;
    for (int i = 0; i < 4; ++i)
        results.push_back(upload(i));
    std::thread aborter([this] {
        kvtest::WaitUntil([this] { return m_service.Stalled() == 1; });
        m_library->DoAbort();
    });
    results.push_back(upload(4));
    aborter.join();
    m_service.ReleaseStalls();
    EXPECT_EQ(results, (std::vector<std::int32_t>{0, 31265, 31271, 0, 4098}));

    // Every photo reported sent is in the album, byte for byte with its texts; no other is.
    auto albumPhotos = [this] {
        std::vector<CZvTestService::Photo> found;
        const std::vector<CZvTestService::Photo> photos = m_service.Photos();
        const std::vector<CZvTestService::Album> albums = m_service.Albums();
        for (const std::string& id : albums.at(0).photos)
            for (const auto& photo : photos)
                if (photo.id == id)
                    found.push_back(photo);
        return found;
    };
    auto holds = [&](const std::vector<CZvTestService::Photo>& photos, int i) {
        for (const auto& photo : photos)
            if (photo.bytes == originals[i] && photo.text1 == "photo " + std::to_string(i + 1) &&
                photo.text2 == "second " + std::to_string(i + 1) &&
                photo.text3 == "third " + std::to_string(i + 1))
                return true;
        return false;
    };
    std::vector<CZvTestService::Photo> inAlbum = albumPhotos();
    EXPECT_EQ(inAlbum.size(), 2u);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(holds(inAlbum, i), results[i] == 0) << "photo " << i + 1;

    ASSERT_EQ(m_library->Connect("anna", "secret", 0), 0);
    for (int i = 0; i < 5; ++i) {
        if (results[i] != 0) {
            EXPECT_EQ(upload(i), 0) << "retry of photo " << i + 1;
        }
    }
    inAlbum = albumPhotos();
    EXPECT_EQ(inAlbum.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(holds(inAlbum, i)) << "photo " << i + 1;
        EXPECT_TRUE(ReadFile(paths[i]) == originals[i]) << "the local file is unchanged";
    }
}

} // namespace
