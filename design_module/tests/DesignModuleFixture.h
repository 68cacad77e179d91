// A scripted host with the design module object of this program, made with parts that record what the
// module asks of them, on a temporary root of its own.
#pragma once

#include "design_module/TKvwDesignModule.h"

#include "platform/host/CScriptedHost.h"
#include "platform/win/WinDialogs.h"
#include "platform/win/WinSeams.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

// What the parts were asked, in order ("renderer stop", "layouts close", ...), and their settings.
struct DesignPartsLog {
    std::vector<std::string> calls;
    KvwResult openResult = kKvwOk;
    LONG pageCount = 3;
    bool rendererStarts = true;
    bool withPanel = true;
    LONG panelWidth = 200;
    LONG panelHeight = 300;
    TString codecParameters;
    std::vector<std::pair<LONG, LONG>> panelSizes;
    // What the module sent on 0x10000077, copied when it was sent.
    std::vector<std::pair<DWORD, std::wstring>> texts;
    std::vector<std::pair<DWORD, DWORD>> states;
    // The open design's page items by page number.
    std::map<LONG, KvwItemId> pageItems;

    struct Pane {
        LONG mode = -1;
        LONG x = 0;
        LONG y = 0;
        LONG width = -1;
        LONG height = -1;
        DWORD zoom = 0;
        LONG page = 1;
        // The page lists the pane was given, in order.
        std::vector<KvwItemIdList> pageLists;
    };
    Pane single;
    Pane sheet;
};

class DesignModuleTest : public ::testing::Test {
public:
    void SetUp() override;
    void TearDown() override;

    // Adds the module object to the host and initialises it; with a configuration, writes it and two
    // templates into the module's folder first.
    std::size_t Start();
    // The module folder's configuration naming the templates folder.
    void WriteConfiguration(const std::string& templatesFolder, const std::string& extra = "");
    // A template with the description in the folder (under the module's).
    void WriteTemplate(const std::string& folder, const std::string& name, const std::string& description);

    TKvwDesignModule& Module() const;
    KvwResult Send(DWORD id, KvwWord p1 = 0, KvwWord p2 = 0, KvwWord p3 = 0, KvwWord p4 = 0, KvwWord p5 = 0,
                   KvwWord p6 = 0, KvwWord p7 = 0, KvwWord p8 = 0);
    // Starts up and opens a design with panes in a host window of the size.
    void OpenDesign(LONG width = 640, LONG height = 480);
    // The texts and state words the module sent for the command since the log was last cleared.
    std::vector<std::wstring> TextsFor(DWORD command) const;
    std::vector<DWORD> StatesFor(DWORD command) const;
    std::size_t CountOf(const std::string& call) const;

    kvtest::TempFolder m_temp;
    kvtest::TempFolder m_moduleFolder;
    std::unique_ptr<CScriptedHost> m_host;
    std::size_t m_module = CScriptedHost::kNoModule;
    static void Log(const std::string& call);
    static DesignPartsLog* s_log;
    DesignPartsLog m_log;
};
