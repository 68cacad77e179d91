#include "platform/plugins/CKvPluginLibrary.h"
#include "platform/plugins/testplugins/KvTestPluginProbe.h"
#include "platform/plugins/testplugins/TestPluginResources.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using KvTestPlugins::PathOf;

std::vector<std::uint8_t> Bytes(std::span<const std::uint8_t> span) {
    return {span.begin(), span.end()};
}

TEST(PluginLibrary, EveryTestPluginCarriesTheResourcesItWasBuiltWith) {
    for (const KvTestPlugins::Resources& expected : KvTestPlugins::AllResources()) {
        SCOPED_TRACE(expected.library);
        CKvPluginLibrary library;
        ASSERT_TRUE(library.Open(PathOf(expected.library).c_str()));
        EXPECT_EQ(library.GetEntry() != nullptr, expected.library != "KvNoEntry");
        EXPECT_EQ(Bytes(library.GetResource(KvPlugin::kPiplType, KvPlugin::kPluginResourceId)),
                  expected.pipl);
        EXPECT_EQ(Bytes(library.GetResource(KvPlugin::kAeteType, KvPlugin::kPluginResourceId)),
                  expected.aete);
        EXPECT_TRUE(library.GetResource(KvPlugin::kPiplType, KvPlugin::kPluginResourceId + 1).empty());
        EXPECT_TRUE(library.GetResource("NONE", KvPlugin::kPluginResourceId).empty());
    }
}

TEST(PluginLibrary, ALibraryThatCannotBeLoadedLeavesNothingOpen) {
    CKvPluginLibrary library;
    ASSERT_TRUE(library.Open(PathOf("KvInvert").c_str()));
    EXPECT_FALSE(library.Open(PathOf("NoSuchLibrary").c_str())) << "opening another closes the first";
    EXPECT_FALSE(library.IsOpen());
    EXPECT_EQ(library.GetEntry(), nullptr);
    EXPECT_TRUE(library.GetResource(KvPlugin::kPiplType, KvPlugin::kPluginResourceId).empty());
    EXPECT_FALSE(library.Open(nullptr));
    EXPECT_FALSE(library.Open(""));
}

TEST(PluginLibrary, TheEntryRunsThePluginWithTheSelectorsItIsGiven) {
    KvTestPlugins::Probe probe("KvInvert");
    ASSERT_TRUE(probe.IsLoaded());
    CKvPluginLibrary library;
    ASSERT_TRUE(library.Open(PathOf("KvInvert").c_str()));
    KvAboutRecord about{};
    std::intptr_t data = 0;
    std::int16_t result = -1;
    library.GetEntry()(KvPlugin::kSelectorAbout, &about, &data, &result);
    EXPECT_EQ(result, KvPlugin::kNoError);
    EXPECT_EQ(probe.Log(), "0") << "the probe and the library share one loaded plug-in";
}

} // namespace
