// The mail manager over the platform's MAPI library: when it can send, what it hands over, and the texts
// of the results.
#include "mail_plugin/TMailManager.h"

#include "platform/mapi/MAPI.h"
#include "platform/win/WinModule.h"
#include "platform/win/WinRegistry.h"
#include "platform/win/WinSeams.h"
#include "testing/MimeMessage.h"
#include "testing/TempFolder.h"
#include "testing/TempSystemRoot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class MailManagerTest : public ::testing::Test {
protected:
    void TearDown() override { WinSeams::ResetAll(); }

    std::vector<fs::path> Outbox() const {
        std::vector<fs::path> files;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(m_machine.File("Outbox"), ec))
            files.push_back(entry.path());
        return files;
    }
    TString Write(const std::string& name, const std::string& bytes) {
        return TString(m_files.Write(name, bytes).c_str());
    }

    kvtest::TempSystemRoot m_machine;
    kvtest::TempFolder m_files;
};

TEST_F(MailManagerTest, AFreshMachineCanSendThroughItsDefaultClient) {
    TMailManager manager;
    EXPECT_FALSE(manager.IsLoaded());
    ASSERT_TRUE(manager.Init());
    EXPECT_TRUE(manager.IsLoaded());
    EXPECT_EQ(manager.GetDefaultMailClient(), TString(kRegDefaultMailClient));
    EXPECT_TRUE(manager.Unload());
    EXPECT_FALSE(manager.IsLoaded());
    EXPECT_EQ(manager.SendMail({Write("a.jpg", "a")}, nullptr), TMailManager::kNoEntryPoint);
    EXPECT_TRUE(Outbox().empty());
}

TEST_F(MailManagerTest, WithoutTheProfileFlagOrTheLibraryThereIsNoSending) {
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRegMailProfileKey, 0, KEY_ALL_ACCESS, &key),
                  ERROR_SUCCESS);
        const char zero[] = "0";
        ASSERT_EQ(RegSetValueExA(key, "MAPI", 0, REG_SZ, reinterpret_cast<const BYTE*>(zero), 2),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        TMailManager manager;
        EXPECT_FALSE(manager.Init());
        EXPECT_FALSE(manager.IsLoaded());
        EXPECT_EQ(manager.GetDefaultMailClient(), TString(kRegDefaultMailClient)) << "read before the checks";
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRegMailProfileKey, 0, KEY_ALL_ACCESS, &key),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegDeleteValueA(key, "MAPI"), ERROR_SUCCESS);
        RegCloseKey(key);
        EXPECT_FALSE(manager.Init());
    }
    kvtest::TempSystemRoot freshMachine;
    // No default client registered is no error.
    const std::string own = std::string(kRegMailClientsKey) + "\\" + kRegDefaultMailClient;
    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, own.c_str()), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kRegMailClientsKey), ERROR_SUCCESS);
    kvtest::TempFolder emptySystem;
    WinSeams::SetSystemFolder(emptySystem.Path());
    TMailManager manager;
    EXPECT_FALSE(manager.Init()) << "MAPI32 is on no folder of the search path";
    EXPECT_TRUE(manager.GetDefaultMailClient().IsEmpty());
    WinSeams::ResetAll();
    EXPECT_TRUE(manager.Init());
    EXPECT_TRUE(manager.GetDefaultMailClient().IsEmpty());
}

TEST_F(MailManagerTest, TheFilesThatExistAreAttachedInOrderUnderTheirLastComponent) {
    TMailManager manager;
    ASSERT_TRUE(manager.Init());
    std::vector<TString> paths = {Write("IMG_0002.jpg", std::string(3000, 'x')), Write("gone.jpg", "g"),
                                  Write("\xC3\x89t\xC3\xA9.jpg", "\x01\x02\x03"),
                                  Write("IMG_0001.jpg", std::string("\0\xFF", 2))};
    // A path written with the other separator names the same file, under the same name.
    paths.back() = TString((m_files.Path() + "\\IMG_0001.jpg").c_str());
    fs::remove(m_files.File("gone.jpg"));
    ASSERT_EQ(manager.SendMail(paths, nullptr), SUCCESS_SUCCESS);
    const std::vector<fs::path> drafts = Outbox();
    ASSERT_EQ(drafts.size(), 1u);
    const kvtest::MimeMessage message = kvtest::ParseMime(ReadFile(drafts[0]));
    ASSERT_EQ(message.error, "");
    const struct {
        const char* name;
        std::string bytes;
    } expected[] = {{"IMG_0002.jpg", std::string(3000, 'x')},
                    {"\xC3\x89t\xC3\xA9.jpg", "\x01\x02\x03"},
                    {"IMG_0001.jpg", std::string("\0\xFF", 2)}};
    ASSERT_EQ(message.parts.size(), std::size(expected) + 1);
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const kvtest::MimePart& part = message.parts[i + 1];
        EXPECT_EQ(part.headers.Parameter("Content-Disposition", "filename"), expected[i].name);
        EXPECT_EQ(std::string(part.content.begin(), part.content.end()), expected[i].bytes)
            << expected[i].name;
    }
}

TEST_F(MailManagerTest, WithNoFileLeftNothingIsHandedOver) {
    TMailManager manager;
    ASSERT_TRUE(manager.Init());
    const TString gone = Write("gone.jpg", "g");
    fs::remove(m_files.File("gone.jpg"));
    EXPECT_EQ(manager.SendMail({gone}, nullptr), MAPI_E_ATTACHMENT_NOT_FOUND);
    EXPECT_EQ(manager.SendMail({}, nullptr), MAPI_E_ATTACHMENT_NOT_FOUND);
    EXPECT_TRUE(Outbox().empty());
}

TEST_F(MailManagerTest, ResultsHaveTheLanguageLibrarysTextsOrTheSystems) {
    const std::string language = std::string(KV_MAIL_MODULE_DIR) + "/KvtEmailLang.so";
    HMODULE library = LoadLibraryExA(language.c_str(), 0, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(library, nullptr);
    TResource resource;
    resource.SetModule(library);
    TMailManager manager;
    manager.SetResource(resource);
    const struct {
        ULONG result;
        const wchar_t* text;
    } cases[] = {
        {0, L"The pictures were handed to your e-mail program."},
        {1, L"Sending was cancelled."},
        {2, L"The e-mail program reported a failure."},
        {3, L"Logging on to the e-mail program failed."},
        {5, L"There is not enough memory to send the e-mail."},
        {9, L"There are too many attachments."},
        {10, L"There are too many recipients."},
        {11, L"No attachment could be found."},
        {12, L"An attachment could not be opened."},
        {14, L"A recipient is not known."},
        {15, L"A recipient type is not valid."},
        {18, L"The text of the message is too long."},
        {21, L"A recipient is not valid."},
        {25, L"The e-mail program does not support this request."},
        // Not mapped: the system's text where it has one, else nothing.
        {6, L"The handle is invalid.\r\n"},
        {13, L"The data is invalid.\r\n"},
        {4, L""},
        {26, L""},
        {TMailManager::kNoEntryPoint, L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(manager.GetErrorText(c.result), TString(c.text)) << c.result;
    FreeLibrary(library);
}

} // namespace
