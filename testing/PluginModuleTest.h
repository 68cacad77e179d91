// A fixture for a plug-in module as the host loads it: the module and its language library copied from the
// build into a folder of their own, the scripted host on a fresh machine, the temporary files, message
// boxes and printers of the Windows layer kept to the test, and every modal loop bounded by a deadline.
// TearDown closes the started module and delivers what the closing left posted.
#pragma once

#include "platform/host/CScriptedHost.h"
#include "platform/win/WinUser.h"
#include "testing/TempFolder.h"
#include "testing/TempSystemRoot.h"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kvtest {

// Where the build leaves a plug-in, and what the host knows of it.
struct PluginModuleFiles {
    std::string folder;        // the build's folder of the module
    std::string module;        // the module's file name
    std::string language;      // its language library's file name
    std::string configuration; // the name of its configuration file beside the module
    std::string optionsKey;    // its key in the host's registry
    DWORD dialogCommand = 0;   // the host command that opens its dialog
};

class PluginModuleTest : public ::testing::Test {
protected:
    PluginModuleTest(PluginModuleFiles files, DWORD modalDeadline);

    void SetUp() override;
    void TearDown() override;

    // Writes the configuration text beside the module (none for an empty text), then loads and initialises
    // the module, which TearDown closes; kNoModule when it does not load. Either failure fails the test.
    std::size_t Start(const std::string& configuration);
    // Closes and unloads the started module and lays its folder anew without a configuration, for another
    // Start in the same test; the photos added so far are no longer selected by the next AddPhoto.
    void StartOver();

    // A one-coloured JPEG photo at the path in the host's items, selected with those added before it; one
    // not held is asked of the host through the scripts of its full-image request.
    KvwItemId AddPhoto(const std::string& path, LONG width, LONG height, const std::array<BYTE, 3>& rgb,
                       bool held = true);
    // That many items of 400 x 300 without pictures selected in place of the photos.
    void Select(DWORD count);
    // The plug-in's options: whole paths below its key, with the value name "Default".
    void Put(const std::string& path, const std::string& text);
    std::optional<std::string> Stored(const std::string& path) const;

    // The texts of the boxes that the host command to the started module showed.
    std::vector<std::wstring> Command(DWORD command, KvwResult expected = kKvwHandled);
    // Opens the dialog with the steps queued for its modal loop; returns once the loop ended.
    void RunDialog(const std::vector<std::function<bool(HWND)>>& steps);
    // The texts of the message boxes since they were last reset.
    static std::vector<std::wstring> Boxes();

    // The dialog's controls, as the user works them: a click, a choice in a combo box (with the notice
    // the dialog gets), a combo box's entries and choice, whether a control is enabled, and its text.
    static bool Click(HWND dialog, int id);
    static void Choose(HWND dialog, int id, LONG index);
    static std::vector<std::wstring> Entries(HWND dialog, int id);
    static LONG Selected(HWND dialog, int id);
    static bool Enabled(HWND dialog, int id);
    static std::wstring Text(HWND dialog, int id);
    // The button bitmaps that the started module gives the host for the command: by button state, each
    // one's width and the colour of its first pixel (0xAARRGGBB, 0 when it cannot be read).
    using ButtonFaceTable = std::map<DWORD, std::pair<LONG, std::uint32_t>>;
    ButtonFaceTable ButtonFaces(DWORD command);

    TempSystemRoot m_machine;
    TempFolder m_temp;
    TempFolder m_install;
    std::unique_ptr<CScriptedHost> m_host;
    std::size_t m_module = CScriptedHost::kNoModule;
    KvwItemIdList m_ids;

private:
    void Install();

    const PluginModuleFiles m_files;
    const DWORD m_deadline;
};

} // namespace kvtest
