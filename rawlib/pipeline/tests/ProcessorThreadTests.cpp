#include "rawlib/pipeline/CProcessRawVendor1.h"
#include "rawlib/pipeline/IKvnFilterChain.h"
#include "rawlib/pipeline/KvGlobalManager.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonImageData.h"
#include "platform/quasel/CPravonTagControl.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

// A loader without sub-images.
class PlainLoad final : public IPravonLoad {
public:
    IPravonError* Open(IPravonFileStream*, IPravonTagControl*) override { return nullptr; }
    IPravonError* Begin(IPravonImage*) override { return nullptr; }
    IPravonError* Step() override { return nullptr; }
    bool IsComplete() const override { return true; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
};

// Processors and filter chains made, converted and destroyed on several threads at once: the library is
// loaded by whichever converts first and freed with the last processor, and the counts come back even.
TEST(ProcessorThreads, ProcessorsAndChainsComeAndGoOnManyThreads) {
    constexpr int kThreads = 4, kRounds = 20;
    const LONG chains = KvLibrary::g_liveFilterChains;
    const LONG processors = KvLibrary::g_liveProcessors;
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &failures] {
            CPravonMemoryManager manager(16);
            PravonTagControlPtr tags(new CPravonTagControl());
            const BYTE pattern[8] = {0, 2, 0, 2, 2, 1, 1, 0};
            const std::vector<BYTE> data(360, 0);
            PravonErrorPtr(tags->WriteTag(CProcessRawVendor1::kPatternTag, 1, 8, pattern));
            PravonErrorPtr(tags->WriteTag(CProcessRawVendor1::kPrivateTag, 1, 360, data.data()));
            IPravonImage* made = nullptr;
            PravonErrorPtr(manager.CreateImage(0, &made));
            PravonImagePtr mosaic(made);
            PravonErrorPtr(mosaic->SetColorSpace(CProcessRawVendor1::kMosaic));
            PravonErrorPtr(mosaic->SetSize(24, 12));
            PlainLoad load;
            for (int round = 0; round < kRounds; ++round) {
                IKvnFilterChain* chain = nullptr;
                PravonErrorPtr(IKvnFilterChain::CreateObject(&chain));
                auto* processor = new CProcessRawVendor1(&manager);
                if (PravonErrorPtr(processor->Initialize(&load, tags.get(), mosaic.get())) ||
                    PravonErrorPtr(processor->Convert()))
                    ++failures[t];
                if ((round + t) % 2)
                    PravonErrorPtr(chain->Destroy());
                processor->Release();
                if ((round + t) % 2 == 0)
                    PravonErrorPtr(chain->Destroy());
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(failures[t], 0) << "thread " << t;
    EXPECT_EQ(KvLibrary::g_liveFilterChains, chains);
    EXPECT_EQ(KvLibrary::g_liveProcessors, processors);
    EXPECT_FALSE(CProcessRawVendor1::IsLibraryLoaded());
}

} // namespace
