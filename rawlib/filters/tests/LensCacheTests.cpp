#include "LensFileSupport.h"

#include "rawlib/filters/CFisheyeLensCache.h"
#include "testing/Deadline.h"
#include "testing/PravonTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

using Cache = CFisheyeLensCache;
using Info = CKvLensInformation;

constexpr BYTE kFisheye = Info::kFisheyeLens;

class LensCache : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(Cache::GetEntryCount(), 0u) << "a previous test left an entry behind";
        ASSERT_TRUE(lens.Write({}));
    }
    void TearDown() override { EXPECT_EQ(Cache::GetEntryCount(), 0u) << "the test left an entry behind"; }

    kvtest::LensMachine lens;
};

// Table A at the last entry tells the standard lens file (a rectilinear view) from an identity one (1).
double LastOfTableA(const Info* info) {
    return info && info->GetTable(Info::kTableA) ? info->GetTable(Info::kTableA)[4095] : -1.0;
}

// The cache keeps its entries under the lock named for it, apart from the lens information's own.
TEST_F(LensCache, TakesTheLockNamedForTheCache) {
    EXPECT_EQ(CFisheyeLensCache::GetLock().GetName(), "CFisheyeFilter-InitSection");
    EXPECT_NE(&CFisheyeLensCache::GetLock(), &CKvLensInformation::GetLock());
}

TEST_F(LensCache, TwoUsersShareOneInformationAndTheFileIsReadOnce) {
    Info* first = nullptr;
    Info* second = nullptr;
    ASSERT_PV_OK(Cache::Acquire(kFisheye, &first));
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->HasLensData());
    const double standard = LastOfTableA(first);
    EXPECT_LT(standard, 0.99);

    ASSERT_TRUE(lens.Write({"--identity"})); // a second read would see this
    ASSERT_PV_OK(Cache::Acquire(kFisheye, &second));
    EXPECT_EQ(second, first);
    EXPECT_EQ(LastOfTableA(second), standard) << "the lens file was read again";
    EXPECT_EQ(first->GetUserCount(), 3) << "the cache and the two users";
    EXPECT_EQ(Cache::GetEntryCount(), 1u);
    Cache::Drop(&first);
    Cache::Drop(&second);
}

TEST_F(LensCache, TheInformationGoesWithItsLastUserInEitherOrder) {
    for (bool firstGoesFirst : {true, false}) {
        SCOPED_TRACE(firstGoesFirst ? "first user released first" : "second user released first");
        ASSERT_TRUE(lens.Write({}));
        Info* first = nullptr;
        Info* second = nullptr;
        ASSERT_PV_OK(Cache::Acquire(kFisheye, &first));
        ASSERT_PV_OK(Cache::Acquire(kFisheye, &second));
        Info*& early = firstGoesFirst ? first : second;
        Info*& late = firstGoesFirst ? second : first;
        Cache::Drop(&early);
        EXPECT_EQ(early, nullptr);
        ASSERT_NE(late, nullptr);
        EXPECT_TRUE(late->HasLensData()) << "the other user still has its tables";
        EXPECT_EQ(late->GetUserCount(), 2);
        EXPECT_EQ(Cache::GetEntryCount(), 1u);
        Cache::Drop(&late);
        EXPECT_EQ(late, nullptr);
        EXPECT_EQ(Cache::GetEntryCount(), 0u) << "only the cache's reference was left";

        ASSERT_TRUE(lens.Write({"--identity"}));
        Info* again = nullptr;
        ASSERT_PV_OK(Cache::Acquire(kFisheye, &again));
        EXPECT_EQ(LastOfTableA(again), 1.0) << "a later selection reads the file again";
        Cache::Drop(&again);
    }
}

TEST_F(LensCache, AcquiringAgainDropsTheTargetsInformationFirst) {
    Info* user = nullptr;
    ASSERT_PV_OK(Cache::Acquire(kFisheye, &user));
    ASSERT_TRUE(lens.Write({"--identity"}));
    ASSERT_PV_OK(Cache::Acquire(kFisheye, &user));
    EXPECT_EQ(LastOfTableA(user), 1.0) << "the target was the last user: the file is read anew";
    EXPECT_EQ(user->GetUserCount(), 2);

    lens.Remove();
    EXPECT_PV_KIND(Cache::Acquire(kFisheye, &user), KvLensFileKind::kUnreadable);
    EXPECT_EQ(user, nullptr) << "a failed acquisition leaves the target empty";
}

TEST_F(LensCache, AFileThatIsNotAWholeLensRecordIsRejected) {
    const std::vector<std::string> damages[] = {
        {"--cut", "1000"},  {"--cut", "131094"}, {"--extra", "1"},       {"--extra", "5000000"},
        {"--version", "1"}, {"--version", "3"},  {"--length", "131076"}, {"--cut", "0"},
    };
    for (const auto& damage : damages) {
        SCOPED_TRACE(damage[0] + " " + damage[1]);
        ASSERT_TRUE(lens.Write(damage));
        Info* user = nullptr;
        PravonErrorPtr error(Cache::Acquire(kFisheye, &user));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->GetKind(), KvLensFileKind::kRejected);
        EXPECT_EQ(error->GetComponent(), kKvFisheyeCode);
        EXPECT_EQ(user, nullptr);
        EXPECT_EQ(Cache::GetEntryCount(), 0u) << "nothing of the attempt stays in the cache";
    }
}

TEST_F(LensCache, AFileThatCannotBeReadIsReportedAsSuch) {
    lens.Remove();
    Info* user = nullptr;
    PravonErrorPtr missing(Cache::Acquire(kFisheye, &user));
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->GetKind(), KvLensFileKind::kUnreadable);
    EXPECT_EQ(missing->GetComponent(), kKvFisheyeCode);
    EXPECT_TRUE(missing->HasText("Kv0080.lns")) << missing->Describe();

    std::filesystem::create_directory(lens.LensFile());
    EXPECT_PV_KIND(Cache::Acquire(kFisheye, &user), KvLensFileKind::kUnreadable) << "a folder of that name";
    EXPECT_EQ(user, nullptr);
}

std::vector<BYTE> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Readers take a record's id in either of its forms: a lens file whose id is stored in the other form is
// the lens file, whole or damaged, and no record of another kind.
TEST_F(LensCache, ALensFileMayStoreItsIdInTheOtherForm) {
    Info* standard = nullptr;
    ASSERT_PV_OK(Cache::Acquire(kFisheye, &standard));
    const double expected = LastOfTableA(standard);
    Cache::Drop(&standard);

    ASSERT_TRUE(lens.Write({"--other-id"}));
    Info* user = nullptr;
    ASSERT_PV_OK(Cache::Acquire(kFisheye, &user));
    EXPECT_EQ(LastOfTableA(user), expected);
    Cache::Drop(&user);

    ASSERT_TRUE(lens.Write({"--other-id", "--cut", "300"}));
    EXPECT_PV_KIND(Cache::Acquire(kFisheye, &user), KvLensFileKind::kRejected);
    EXPECT_EQ(user, nullptr);
}

TEST_F(LensCache, ADamagedLensFileEmptiesTheInformationWhicheverFormItsIdHas) {
    const std::vector<BYTE> whole = FileBytes(lens.LensFile());
    auto Read = [](Info& info, const std::vector<BYTE>& bytes) {
        return info.ReadState(bytes.data(), static_cast<int>(bytes.size()));
    };
    const std::vector<std::string> damages[] = {
        {"--cut", "300"},
        {"--other-id", "--cut", "300"},
        {"--other-id", "--cut", "22"},
        {"--other-id", "--version", "1"},
        {"--other-id", "--extra", "1"},
    };
    for (const auto& damage : damages) {
        SCOPED_TRACE(damage[0] + " " + damage[1]);
        Info info;
        ASSERT_EQ(Read(info, whole), Info::kRecordSize);
        ASSERT_TRUE(lens.Write(damage));
        EXPECT_EQ(Read(info, FileBytes(lens.LensFile())), 0);
        EXPECT_FALSE(info.HasLensData());
        EXPECT_EQ(info.GetTable(Info::kTableA), nullptr);
    }
    // A record of another kind is no lens file: the information stays as it was.
    std::vector<BYTE> another = whole;
    another[0] ^= 0xFF;
    Info info;
    ASSERT_EQ(Read(info, whole), Info::kRecordSize);
    EXPECT_EQ(Read(info, another), 0);
    EXPECT_TRUE(info.HasLensData());
}

TEST_F(LensCache, TheFileIsFoundInAnyLetterCase) {
    lens.Remove();
    ASSERT_TRUE(lens.Write({}, "KV0080.LNS"));
    Info* user = nullptr;
    ASSERT_PV_OK(Cache::Acquire(kFisheye, &user));
    EXPECT_TRUE(user->HasLensData());
    Cache::Drop(&user);
}

TEST_F(LensCache, AnotherLensModelHasNoFile) {
    for (BYTE model : {0x00, 0x7F, 0x81}) {
        Info* user = nullptr;
        PravonErrorPtr error(Cache::Acquire(model, &user));
        ASSERT_TRUE(error) << int(model);
        EXPECT_TRUE(error->HasText("Error: fisheye lens model is not supported.")) << error->Describe();
        EXPECT_EQ(error->GetComponent(), kKvFisheyeCode);
        EXPECT_EQ(user, nullptr);
        EXPECT_EQ(Cache::GetEntryCount(), 0u);
    }
    EXPECT_PV_KIND(Cache::Acquire(kFisheye, nullptr), PravonKind::kBadArgument);
}

TEST_F(LensCache, AnInformationThatWentElsewhereIsLoadedAgain) {
    Info* user = nullptr;
    ASSERT_PV_OK(Cache::Acquire(kFisheye, &user));
    Info* gone = user;
    delete gone; // empties the cache's reference and the user's
    EXPECT_EQ(user, nullptr);
    ASSERT_PV_OK(Cache::Acquire(kFisheye, &user));
    ASSERT_NE(user, nullptr);
    EXPECT_TRUE(user->HasLensData());
    EXPECT_EQ(Cache::GetEntryCount(), 1u) << "the emptied entry was filled anew, not doubled";
    Cache::Drop(&user);
}

// Users on several threads acquire and drop the shared information at once; every acquisition sees whole
// tables, and the cache ends empty.
TEST_F(LensCache, ManyThreadsAcquireAndDropTogether) {
    kvtest::Watchdog watchdog("lens cache stress");
    constexpr int kThreads = 4;
    constexpr int kRounds = 150;
    const double expected = [] {
        Info* probe = nullptr;
        EXPECT_PV_OK(Cache::Acquire(kFisheye, &probe));
        const double value = LastOfTableA(probe);
        Cache::Drop(&probe);
        return value;
    }();
    std::atomic<int> failures{0};
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < kThreads)
                std::this_thread::yield();
            Info* held[2] = {nullptr, nullptr};
            for (int round = 0; round < kRounds; ++round) {
                Info*& slot = held[(round + t) % 2];
                if (slot && round % 3 == 0) {
                    Cache::Drop(&slot);
                    continue;
                }
                if (IPravonError* e = Cache::Acquire(kFisheye, &slot)) {
                    e->Release();
                    failures.fetch_add(1);
                    continue;
                }
                if (!slot || LastOfTableA(slot) != expected)
                    failures.fetch_add(1);
            }
            Cache::Drop(&held[0]);
            Cache::Drop(&held[1]);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
}

} // namespace
