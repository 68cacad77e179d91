#include "design_module/TUserOptions.h"

#include "plugin_framework/HostLink.h"

#include "platform/host/CScriptedHost.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

class UserOptionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_host = std::make_unique<CScriptedHost>();
        HostLink::Instance()->Bind(m_host.get(), &m_host->Items(), nullptr);
    }
    void TearDown() override {
        HostLink::Instance()->Bind(nullptr, nullptr, nullptr);
        m_host.reset();
    }

    std::unique_ptr<CScriptedHost> m_host;
};

TEST_F(UserOptionsTest, TheLastLayoutPathRoundTripsThroughTheRegistryService) {
    {
        TUserOptions options;
        ASSERT_TRUE(options.Load());
        EXPECT_TRUE(options.GetLastLayoutPath().IsEmpty()) << "no key yet";
        options.SetLastLayoutPath(L"/templates/Caf\u00e9.ltf");
        ASSERT_TRUE(options.Save());
    }
    EXPECT_EQ(m_host->Registry().Text("Design", "last_ltf_path"), std::string("/templates/Caf\xc3\xa9.ltf"));
    EXPECT_EQ(m_host->Registry().Commits(), 1);
    EXPECT_EQ(m_host->Registry().OpenKeys(), 0u);
    EXPECT_EQ(m_host->Registry().HeldByModules(), 0) << "the options give the service back";

    TUserOptions again;
    ASSERT_TRUE(again.Load());
    EXPECT_EQ(std::wstring(again.GetLastLayoutPath()), L"/templates/Caf\u00e9.ltf");
}

TEST_F(UserOptionsTest, WithoutARegistryServiceNothingIsReadOrWritten) {
    m_host->WithholdService(KvwService::kRegistry, kKvwNothingToWorkOn);
    TUserOptions options;
    EXPECT_FALSE(options.Load());
    options.SetLastLayoutPath(L"/somewhere.ltf");
    EXPECT_FALSE(options.Save());
    EXPECT_TRUE(m_host->Registry().Calls().empty());
    EXPECT_FALSE(m_host->Registry().Text("Design", "last_ltf_path").has_value());
}

TEST_F(UserOptionsTest, ARefusedCommitMakesSaveFail) {
    TUserOptions options;
    ASSERT_TRUE(options.Load());
    m_host->Registry().FailEntry(CHostRegistryService::kCommit, kKvwInvalidArgument);
    EXPECT_FALSE(options.Save());
}

} // namespace
