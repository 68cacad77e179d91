#include "rawlib/pipeline/IKvnFilterChain.h"
#include "rawlib/pipeline/IKvnProcessRawVendor1.h"
#include "rawlib/pipeline/KvGlobalManager.h"

#include "platform/pravon/CPravonMemoryManager.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

TEST(LibraryStartUp, TheNamedLocksExistFromLoadAndAreDistinct) {
    EXPECT_GE(KvLibrary::GetAttachCount(), 1) << "the entry point ran when the library was mapped";
    const struct {
        const Kv::CSyncGlobal& lock;
        const char* name;
    } locks[] = {
        {KvLibrary::g_revelationLocal, "DORARevLocal"},
        {KvLibrary::g_revelationWhole, "DORARevWholeThing"},
        {KvLibrary::g_lchTables, "CFltLch-RatLInit-Guard"},
        {KvLibrary::g_lensInformation, "CKvLensInformation"},
        {KvLibrary::g_fisheyeCache, "CFisheyeFilter-InitSection"},
        {KvLibrary::g_filterLibrary, ""},
    };
    std::set<const Kv::CSyncCritical*> distinct;
    for (const auto& entry : locks) {
        EXPECT_EQ(entry.lock.Get().GetName(), std::string(entry.name));
        distinct.insert(&entry.lock.Get());
    }
    EXPECT_EQ(distinct.size(), std::size(locks));
    // A second attach makes nothing anew.
    const Kv::CSyncCritical* before = &KvLibrary::g_lensInformation.Get();
    KvLibrary::Attach();
    EXPECT_EQ(&KvLibrary::g_lensInformation.Get(), before);
    KvLibrary::Detach();
}

TEST(LibraryStartUp, CountsTheLiveObjectsInAnyOrder) {
    const LONG chains = KvLibrary::g_liveFilterChains, processors = KvLibrary::g_liveProcessors;
    CPravonMemoryManager manager;
    IKvnFilterChain *a = nullptr, *b = nullptr;
    IKvnProcessRawVendor1* p = nullptr;
    ASSERT_FALSE(IKvnFilterChain::CreateObject(&a));
    ASSERT_FALSE(IKvnProcessRawVendor1::CreateObject(&manager, &p));
    ASSERT_FALSE(IKvnFilterChain::CreateObject(&b));
    EXPECT_EQ(KvLibrary::g_liveFilterChains, chains + 2);
    EXPECT_EQ(KvLibrary::g_liveProcessors, processors + 1);
    PravonErrorPtr(a->Destroy());
    p->Destroy();
    EXPECT_EQ(KvLibrary::g_liveProcessors, processors);
    PravonErrorPtr(b->Destroy());
    EXPECT_EQ(KvLibrary::g_liveFilterChains, chains);
}

} // namespace
