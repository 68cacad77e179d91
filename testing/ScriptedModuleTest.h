// A fixture that starts this program's own module object under the scripted host, as the host starts a
// module it loaded: the factory makes a Module, the host initialises it on the test's thread, and TearDown
// closes it and delivers what the closing left posted. The suite links the framework and the host.
#pragma once

#include "plugin_framework/TBasicQWComp.h"

#include "platform/host/CScriptedHost.h"
#include "platform/win/WinUser.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>

template <class Module>
class ScriptedModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        KvwClose();
        KvwSetModuleFactory([]() -> TBasicQWComp* { return new Module; });
        m_host = std::make_unique<CScriptedHost>();
        m_module = m_host->Add(CHostModule::FromExports("this program", &KvwInitialize, &KvwMessage,
                                                        &KvwGetInformation, &KvwClose));
        ASSERT_NE(m_module, CScriptedHost::kNoModule);
        ASSERT_EQ(m_host->Initialize(m_module), kKvwOk);
    }
    void TearDown() override {
        m_host->Close(m_module);
        m_host.reset();
        WinUserTest::PumpPending();
    }

    std::unique_ptr<CScriptedHost> m_host;
    std::size_t m_module = CScriptedHost::kNoModule;
};
