#include "platform/pravon/CPravonMemoryImage.h"
#include "platform/quasel/CPravonTagControl.h"
#include "rawlib/settings/CKvImageAttributes.h"
#include "rawlib/settings/KvSharedObjectRegistry.h"
#include "testing/Deadline.h"
#include "testing/PravonTestSupport.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

namespace {

// References held on an object, read through the pair of calls that reports them.
template <class T>
ULONG References(T* object) {
    const ULONG count = object->AddRef();
    object->Release();
    return count - 1;
}

TEST(SharedObjectsOnThreads, ImagesOpenedAndClosedOnManyThreadsAreReleasedOnceAtTheEnd) {
    const kvtest::Watchdog watchdog("shared images on threads");
    const kvtest::TempFolder folder;
    const std::string file = folder.Write("KvP.tmp", std::string("pixels"));
    IPravonImage* image = nullptr;
    ASSERT_PV_OK(CPravonMemoryImage::Create(64, 0, &image));
    const PravonImagePtr imageOwner(image);
    auto* control = new CPravonTagControl();
    const PravonTagControlPtr tagsOwner(control);
    control->SetCameraModel(1025);

    // One attributes object keeps both alive while the threads come and go.
    auto keeper = std::make_unique<CKvImageAttributes>();
    keeper->SetSourceImage(image);
    keeper->SetTagControl(control);
    keeper->temporaryFileFlag = 1;
    keeper->temporaryFilePath = file;

    constexpr int kThreads = 6;
    constexpr int kRounds = 200;
    std::vector<std::thread> threads;
    std::vector<std::set<DWORD>> numbers(kThreads);
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                CKvImageAttributes attributes;
                attributes.SetSourceImage(image);
                attributes.SetTagControl(control);
                attributes.AddExtraImage(static_cast<DWORD>(t), static_cast<DWORD>(i), image);
                numbers[static_cast<std::size_t>(t)].insert(attributes.instanceNumber);
                attributes.ReadSourceInformation();
            }
        });
    for (std::thread& thread : threads)
        thread.join();

    EXPECT_EQ(KvSharedObjectRegistry::ImageUsers(image), 1u);
    EXPECT_EQ(KvSharedObjectRegistry::TagControlUsers(control), 1u);
    EXPECT_TRUE(std::filesystem::exists(file)) << "the keeper still uses the image";
    std::set<DWORD> all;
    for (const auto& own : numbers)
        all.insert(own.begin(), own.end());
    EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads * kRounds)) << "every object has its own number";

    keeper.reset();
    EXPECT_EQ(KvSharedObjectRegistry::ImageUsers(image), 0u);
    EXPECT_EQ(References(image), 1u);
    EXPECT_EQ(References(control), 1u);
    EXPECT_FALSE(std::filesystem::exists(file));
}

} // namespace
