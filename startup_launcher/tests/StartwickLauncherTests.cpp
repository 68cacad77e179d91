#include "startup_launcher/CStartwickLauncher.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using Root = IStartwickPlatform::Root;

// A machine of registry values that records every call.
class RecordingPlatform : public IStartwickPlatform {
public:
    std::map<std::string, std::string> values; // "<root>|<key>|<value>" -> text
    bool startSucceeds = true;
    std::vector<std::string> calls;

    void Set(Root root, const std::string& key, const std::string& value, const std::string& text) {
        values[Name(root, key, value)] = text;
    }
    bool ReadString(Root root, const std::string& key, const std::string& value, std::string& text) override {
        calls.push_back("read " + value);
        auto it = values.find(Name(root, key, value));
        if (it == values.end())
            return false;
        text = it->second;
        return true;
    }
    bool StartAndWait(const std::string& path) override {
        calls.push_back("start " + path);
        return startSucceeds;
    }
    bool DeleteFile(const std::string& path) override {
        calls.push_back("delete " + path);
        return true;
    }

private:
    static std::string Name(Root root, const std::string& key, const std::string& value) {
        return (root == Root::Users ? "HKU|" : "HKLM|") + key + "|" + value;
    }
};

class StartwickLauncher : public ::testing::Test {
protected:
    void SetUp() override {
        m_platform.Set(Root::LocalMachine, CStartwickLauncher::kInstallKey, "InstallDir", "C:\\Korvel");
        m_platform.Set(Root::Users, CStartwickLauncher::kUserStartupKey, "Startup", "/home/default/Startup");
        m_platform.Set(Root::LocalMachine, CStartwickLauncher::kCommonStartupKey, "Common Startup",
                       "/all/Startup/");
    }
    std::vector<std::string> Run(const std::string& commandLine) {
        m_platform.calls.clear();
        CStartwickLauncher(m_platform).Run(commandLine);
        return m_platform.calls;
    }
    std::vector<std::string> Acts() const {
        std::vector<std::string> acts;
        for (const std::string& call : m_platform.calls)
            if (call.rfind("read ", 0) != 0)
                acts.push_back(call);
        return acts;
    }

    RecordingPlatform m_platform;
};

// "C:\Korvel" is not absolute on this machine; the cases that start set an absolute folder.
TEST_F(StartwickLauncher, OnlyTheExactSwitchAnywhereInTheCommandLineActs) {
    struct Case {
        std::string line;
        bool acts;
    };
    const Case cases[] = {{"", false},          {"/startup", false}, {"/STARTUP", false},
                          {"Startup", false},   {"/Startup", true},  {"x /Startup y", true},
                          {"-a/Startup", true}, {"/Start up", false}};
    for (const Case& c : cases) {
        const std::vector<std::string> calls = Run(c.line);
        EXPECT_EQ(calls.empty(), !c.acts) << "\"" << c.line << "\"";
    }
}

TEST_F(StartwickLauncher, TheImporterRunsFromTheInstallFolderThenBothShortcutsGo) {
    m_platform.Set(Root::LocalMachine, CStartwickLauncher::kInstallKey, "InstallDir", "/opt/Korvel Imagyst");
    Run("/Startup");
    EXPECT_EQ(Acts(), (std::vector<std::string>{"start /opt/Korvel Imagyst\\KvtImport.exe",
                                                "delete /home/default/Startup\\Startwick.desktop",
                                                "delete /all/Startup/Startwick.desktop"}));
    m_platform.startSucceeds = false;
    Run("/Startup");
    EXPECT_EQ(Acts().size(), 3u) << "the shortcuts go even when the importer cannot start";
}

TEST_F(StartwickLauncher, MissingOrUnusableFoldersAreSkippedOneByOne) {
    struct Case {
        const char* what;
        std::string install; // "-": missing
        std::string user;
        std::string common;
        std::vector<std::string> acts;
    };
    const std::string longest = "/" + std::string(258, 'i');
    const std::vector<Case> cases = {
        {"no install folder",
         "-",
         "/u",
         "/c",
         {"delete /u\\Startwick.desktop", "delete /c\\Startwick.desktop"}},
        {"empty install folder",
         "",
         "/u",
         "/c",
         {"delete /u\\Startwick.desktop", "delete /c\\Startwick.desktop"}},
        {"relative install folder", "Korvel", "/u", "-", {"delete /u\\Startwick.desktop"}},
        {"drive letter", "C:\\Korvel", "-", "/c", {"delete /c\\Startwick.desktop"}},
        {"259 bytes", longest, "-", "-", {"start " + longest + "\\KvtImport.exe"}},
        {"260 bytes", longest + "i", "-", "-", {}},
        {"relative startup folders", "/i", "Startup", ".", {"start /i\\KvtImport.exe"}},
        {"empty startup folders", "/i\\", "", "", {"start /i\\KvtImport.exe"}},
    };
    for (const Case& c : cases) {
        m_platform.values.clear();
        auto set = [&](Root root, const char* key, const char* value, const std::string& text) {
            if (text != "-")
                m_platform.Set(root, key, value, text);
        };
        set(Root::LocalMachine, CStartwickLauncher::kInstallKey, "InstallDir", c.install);
        set(Root::Users, CStartwickLauncher::kUserStartupKey, "Startup", c.user);
        set(Root::LocalMachine, CStartwickLauncher::kCommonStartupKey, "Common Startup", c.common);
        Run("/Startup");
        EXPECT_EQ(Acts(), c.acts) << c.what;
    }
}

} // namespace
