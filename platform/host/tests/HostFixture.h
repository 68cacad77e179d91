// A scripted host with the test modules at hand, on a temporary root of its own.
#pragma once

#include "modules/TestModuleMessages.h"

#include "platform/host/CScriptedHost.h"
#include "platform/win/WinSeams.h"
#include "testing/PravonTestSupport.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        WinSeams::SetTempBase(m_temp.Path());
        m_host = std::make_unique<CScriptedHost>();
    }
    void TearDown() override {
        m_host.reset();
        WinUserTest::PumpPending();
        WinSeams::ResetAll();
    }

    static std::string ModulePath(const std::string& file) {
        return std::string(KV_TEST_MODULE_DIR) + "/" + file;
    }

    // Loads and initialises a test module.
    std::size_t Start(const std::string& file) {
        const std::size_t module = m_host->Load(ModulePath(file));
        EXPECT_NE(module, CScriptedHost::kNoModule) << m_host->LastError();
        if (module != CScriptedHost::kNoModule) {
            EXPECT_EQ(m_host->Initialize(module), kKvwOk);
        }
        return module;
    }

    // A string of the module from one of its sources; empty when the module found none.
    std::wstring Text(std::size_t module, UINT id, TestModule::Source source) {
        wchar_t buffer[256] = {};
        const KvwResult result =
            m_host->Send(module, TestModule::kLoadString, id, source, reinterpret_cast<KvwWord>(buffer), 256);
        return result == kKvwOk ? std::wstring(buffer) : std::wstring();
    }

    static CHostItemRecord Item(KvwItemId id) {
        CHostItemRecord item;
        item.id = id;
        item.source.width = 4000;
        item.source.height = 3000;
        item.previewWidth = 400;
        item.previewHeight = 300;
        item.fullWidth = 4000;
        item.fullHeight = 3000;
        return item;
    }

    kvtest::TempFolder m_temp;
    std::unique_ptr<CScriptedHost> m_host;
};
