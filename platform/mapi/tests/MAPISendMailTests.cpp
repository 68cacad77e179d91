// MAPISendMail as the mail plug-in reaches it: found on the search path, loaded by name, writing one draft
// per call into the outbox, read back by the test MIME reader and by Python's email package.
#include "platform/mapi/MAPI.h"

#include "platform/win/WinModule.h"
#include "platform/win/WinRegistry.h"
#include "platform/win/WinSearchPath.h"
#include "testing/MimeMessage.h"
#include "testing/TempFolder.h"
#include "testing/TempSystemRoot.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::uint8_t> Bytes(std::size_t size, unsigned seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 131 + seed * 17 + (i >> 8)) & 0xFF);
    return bytes;
}

// An independent SHA-256 is not needed to compare with Python: Python prints the length and hash of what
// it decoded, the test compares those with Python's hash of the file it was given.
std::string PythonHash(const std::string& path) {
    const std::string command = "python3 -c \"import hashlib,sys; print(hashlib.sha256(open(sys.argv[1],'rb')"
                                ".read()).hexdigest())\" '" +
                                path + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    char line[128] = {};
    if (!pipe || !fgets(line, sizeof line, pipe.get()))
        return std::string();
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

std::vector<std::string> OutputLines(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::vector<std::string> lines;
    char line[4096];
    while (pipe && fgets(line, sizeof line, pipe.get())) {
        std::string text = line;
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        lines.push_back(text);
    }
    return lines;
}

class MapiSendMail : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t path[4096] = {};
        ASSERT_GT(SearchPathW(nullptr, L"MAPI32.DLL", nullptr, 4096, path, nullptr), 0u);
        m_library = LoadLibraryW(path);
        ASSERT_NE(m_library, nullptr);
        m_send = reinterpret_cast<LPMAPISENDMAIL>(GetProcAddress(m_library, "MAPISendMail"));
        ASSERT_NE(m_send, nullptr);
    }
    void TearDown() override {
        if (m_library)
            FreeLibrary(m_library);
    }

    // Sends the files (full paths; names are their last components) as the mail plug-in does.
    ULONG Send(const std::vector<std::string>& paths) {
        std::vector<MapiFileDesc> files(paths.size());
        std::vector<std::string> names;
        for (const std::string& path : paths)
            names.push_back(fs::path(path).filename().string());
        for (std::size_t i = 0; i < paths.size(); ++i) {
            files[i] = MapiFileDesc{0,
                                    0,
                                    0xFFFFFFFFu,
                                    const_cast<char*>(paths[i].c_str()),
                                    const_cast<char*>(names[i].c_str()),
                                    nullptr};
        }
        MapiMessage message{};
        message.nFileCount = static_cast<ULONG>(files.size());
        message.lpFiles = files.empty() ? nullptr : files.data();
        return m_send(0, 0, &message, MAPI_LOGON_UI | MAPI_DIALOG, 0);
    }
    std::vector<fs::path> Outbox() const {
        std::vector<fs::path> files;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(m_machine.File("Outbox"), ec))
            files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        return files;
    }
    std::string Picture(const std::string& name, std::size_t size, unsigned seed) {
        const std::vector<std::uint8_t> bytes = Bytes(size, seed);
        return m_files.Write(name, bytes);
    }

    kvtest::TempSystemRoot m_machine;
    kvtest::TempFolder m_files;
    HMODULE m_library = nullptr;
    LPMAPISENDMAIL m_send = nullptr;
};

TEST_F(MapiSendMail, OneCallWritesOneConformingDraftWithEveryFileInOrder) {
    const std::vector<std::string> paths = {Picture("IMG_0002.jpg", 5000, 1),
                                            Picture("\xC3\x89t\xC3\xA9.jpg", 77, 2),
                                            Picture("notes.TXT", 1, 3), Picture("IMG_0001.JPG", 57, 4)};
    ASSERT_EQ(Send(paths), SUCCESS_SUCCESS);
    const std::vector<fs::path> drafts = Outbox();
    ASSERT_EQ(drafts.size(), 1u);
    EXPECT_EQ(drafts[0].extension(), ".eml");
    const std::string text = ReadFile(drafts[0]);
    const kvtest::MimeMessage message = kvtest::ParseMime(text);
    ASSERT_EQ(message.error, "");
    EXPECT_TRUE(message.onlyCrlf);
    EXPECT_EQ(message.headers.Get("From"), kRegDefaultMailFrom);
    EXPECT_TRUE(std::regex_match(message.headers.Get("Date").value_or(""),
                                 std::regex("(Mon|Tue|Wed|Thu|Fri|Sat|Sun), [0-3][0-9] "
                                            "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                                            "20[0-9][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] \\+0000")));
    EXPECT_TRUE(
        std::regex_match(message.headers.Get("Message-ID").value_or(""), std::regex("<[^<>@ ]+@[^<> ]+>")));
    EXPECT_EQ(message.headers.Get("MIME-Version"), "1.0");
    EXPECT_EQ(message.headers.Get("X-Unsent"), "1");
    EXPECT_EQ(message.headers.MainValue("Content-Type"), "multipart/mixed");

    ASSERT_EQ(message.parts.size(), paths.size() + 1);
    EXPECT_EQ(message.parts[0].headers.MainValue("Content-Type"), "text/plain");
    EXPECT_TRUE(message.parts[0].content.empty());
    const char* types[] = {"image/jpeg", "image/jpeg", "application/octet-stream", "image/jpeg"};
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const kvtest::MimePart& part = message.parts[i + 1];
        const std::string name = fs::path(paths[i]).filename().string();
        EXPECT_EQ(part.headers.MainValue("Content-Type"), types[i]) << name;
        EXPECT_EQ(part.headers.Parameter("Content-Type", "name"), name);
        EXPECT_EQ(part.headers.MainValue("Content-Disposition"), "attachment");
        EXPECT_EQ(part.headers.Parameter("Content-Disposition", "filename"), name);
        EXPECT_TRUE(part.base64Valid) << name;
        EXPECT_LE(part.longestLine, 76u) << name;
        const std::string original = ReadFile(paths[i]);
        EXPECT_EQ(std::string(part.content.begin(), part.content.end()), original) << name;
    }
    // The non-ASCII name is written by RFC 2231, never as raw bytes.
    EXPECT_NE(text.find("filename*=UTF-8''%C3%89t%C3%A9.jpg"), std::string::npos);
    for (unsigned char c : text)
        EXPECT_LT(c, 0x80u);
    for (const kvtest::MimePart& part : message.parts)
        EXPECT_EQ(part.rawBody.find(message.boundary), std::string::npos);
}

TEST_F(MapiSendMail, PythonsEmailPackageReadsTheSameAttachments) {
    const std::vector<std::string> paths = {Picture("IMG_0001.jpg", 4000, 5),
                                            Picture("\xC3\x89t\xC3\xA9.jpg", 190, 6),
                                            Picture("data.bin", 0, 7)};
    ASSERT_EQ(Send(paths), SUCCESS_SUCCESS);
    const std::vector<fs::path> drafts = Outbox();
    ASSERT_EQ(drafts.size(), 1u);
    const std::vector<std::string> lines =
        OutputLines("python3 '" KV_MAPI_CROSS_CHECK "' '" + drafts[0].string() + "'");
    ASSERT_EQ(lines.size(), paths.size() + 1);
    EXPECT_EQ(lines[0], "unsent=1 multipart=multipart/mixed defects=0");
    const char* types[] = {"image/jpeg", "image/jpeg", "application/octet-stream"};
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string expected = fs::path(paths[i]).filename().string() + "|" + types[i] + "|" +
                                     std::to_string(fs::file_size(paths[i])) + "|" + PythonHash(paths[i]) +
                                     "|0";
        EXPECT_EQ(lines[i + 1], expected);
    }
}

TEST_F(MapiSendMail, DraftsNeverReplaceEachOther) {
    const std::string picture = Picture("IMG.jpg", 10, 8);
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(Send({picture}), SUCCESS_SUCCESS);
    const std::vector<fs::path> drafts = Outbox();
    ASSERT_EQ(drafts.size(), 5u);
    for (const fs::path& draft : drafts) {
        EXPECT_EQ(draft.extension(), ".eml");
        EXPECT_EQ(kvtest::ParseMime(ReadFile(draft)).parts.size(), 2u);
    }
}

TEST_F(MapiSendMail, AFileThatCannotBeOpenedFailsTheCallAndWritesNothing) {
    const std::string good = Picture("good.jpg", 100, 9);
    const std::string folder = m_files.File("a folder.jpg");
    fs::create_directory(folder);
    const struct {
        std::vector<std::string> paths;
    } cases[] = {{{good, m_files.File("missing.jpg")}}, {{folder}}};
    for (const auto& c : cases) {
        EXPECT_EQ(Send(c.paths), MAPI_E_ATTACHMENT_OPEN_FAILURE);
        EXPECT_TRUE(Outbox().empty());
    }
}

TEST_F(MapiSendMail, AnOutboxThatCannotBeWrittenFailsAndLeavesNoPartialDraft) {
    // The outbox is a file, so no folder can be made there.
    std::ofstream(m_machine.File("Outbox")) << "in the way";
    EXPECT_EQ(Send({Picture("IMG.jpg", 10, 10)}), MAPI_E_FAILURE);
    EXPECT_EQ(ReadFile(m_machine.File("Outbox")), "in the way");

    // A folder that refuses new files.
    fs::remove(m_machine.File("Outbox"));
    fs::create_directory(m_machine.File("Outbox"));
    fs::permissions(m_machine.File("Outbox"), fs::perms::owner_read | fs::perms::owner_exec);
    if (access(m_machine.File("Outbox").c_str(), W_OK) != 0) { // root may write anyway
        EXPECT_EQ(Send({Picture("IMG.jpg", 10, 10)}), MAPI_E_FAILURE);
        EXPECT_TRUE(Outbox().empty());
    }
    fs::permissions(m_machine.File("Outbox"), fs::perms::owner_all);
}

TEST_F(MapiSendMail, TheDraftIsFromTheClientsAddressOnOneLine) {
    HKEY key = nullptr;
    const std::string path = std::string(kRegMailClientsKey) + "\\" + kRegDefaultMailClient;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    const std::string from = "Ann <ann@example.org>\r\nBcc: eve@example.org";
    ASSERT_EQ(RegSetValueExA(key, "From", 0, REG_SZ, reinterpret_cast<const BYTE*>(from.c_str()),
                             static_cast<DWORD>(from.size() + 1)),
              ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(Send({Picture("IMG.jpg", 10, 11)}), SUCCESS_SUCCESS);
    const kvtest::MimeMessage message = kvtest::ParseMime(ReadFile(Outbox().at(0)));
    EXPECT_EQ(message.headers.Get("From"), "Ann <ann@example.org>Bcc: eve@example.org");
    EXPECT_FALSE(message.headers.Get("Bcc"));
}

TEST_F(MapiSendMail, ABadMessageIsAFailure) {
    EXPECT_EQ(m_send(0, 0, nullptr, 0, 0), MAPI_E_FAILURE);
    MapiMessage message{};
    message.nFileCount = 2;
    EXPECT_EQ(m_send(0, 0, &message, 0, 0), MAPI_E_FAILURE);
    EXPECT_TRUE(Outbox().empty());
}

} // namespace

// The desktop's mail client, as a recording xdg-email on PATH: it writes each argument it was given on a
// line of its own, notes whether each attached file is there while it runs, and ends with the code the
// test chose.
class MapiDesktopClient : public MapiSendMail {
protected:
    void SetUp() override {
        MapiSendMail::SetUp();
        m_bin = m_files.File("bin");
        fs::create_directory(m_bin);
        m_log = m_files.File("xdg-email.log");
        WriteClient(0);
        if (const char* path = std::getenv("PATH"))
            m_path = path;
        setenv("PATH", (m_bin + ":" + m_path.value_or("/usr/bin:/bin")).c_str(), 1);
        setenv("DISPLAY", ":9", 1);
    }
    void TearDown() override {
        if (m_path)
            setenv("PATH", m_path->c_str(), 1);
        MapiSendMail::TearDown();
    }
    void WriteClient(int exitCode, bool executable = true) {
        const std::string client = m_bin + "/xdg-email";
        std::ofstream(client) << "#!/bin/sh\n"
                                 "for word in \"$@\"; do printf '%s\\n' \"$word\" >> '"
                              << m_log
                              << "'; done\n"
                                 "while [ $# -gt 1 ]; do\n"
                                 "  if [ \"$1\" = --attach ]; then [ -f \"$2\" ] && echo there >> '"
                              << m_log << "' || echo missing >> '" << m_log
                              << "'; fi\n"
                                 "  shift\n"
                                 "done\n"
                                 "exit "
                              << exitCode << "\n";
        fs::permissions(client,
                        executable ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
    }
    std::vector<std::string> Logged() const {
        std::vector<std::string> lines;
        std::ifstream in(m_log);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    std::string m_bin, m_log;
    std::optional<std::string> m_path;
};

TEST_F(MapiDesktopClient, TheClientGetsEveryFileAsOneArgumentInOrderAndNoDraftIsWritten) {
    const std::vector<std::string> paths = {Picture("IMG 0001.jpg", 300, 1), Picture("it's \"2\".jpg", 20, 2),
                                            Picture("-x.jpg", 5, 3)};
    for (const char* session : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        SCOPED_TRACE(session);
        fs::remove(m_log);
        unsetenv("DISPLAY");
        setenv(session, "wayland-0", 1);
        ASSERT_EQ(Send(paths), SUCCESS_SUCCESS);
        unsetenv(session);
        std::vector<std::string> expected;
        for (const std::string& path : paths)
            expected.insert(expected.end(), {"--attach", path});
        expected.insert(expected.end(), {"there", "there", "there"});
        EXPECT_EQ(Logged(), expected);
        EXPECT_TRUE(Outbox().empty()) << "the client has the message";
    }
}

TEST_F(MapiDesktopClient, WithoutASessionOrAWorkingClientTheDraftIsWritten) {
    const std::string picture = Picture("IMG.jpg", 64, 4);
    const struct {
        const char* what;
        std::function<void()> arrange;
        bool clientRuns;
    } cases[] = {{"no desktop session", [] { unsetenv("DISPLAY"); }, false},
                 {"an empty DISPLAY", [] { setenv("DISPLAY", "", 1); }, false},
                 {"no xdg-email on PATH", [this] { fs::remove(m_bin + "/xdg-email"); }, false},
                 {"xdg-email not executable", [this] { WriteClient(0, false); }, false},
                 {"xdg-email fails", [this] { WriteClient(3); }, true},
                 {"xdg-email has no action for the mail", [this] { WriteClient(4); }, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        setenv("DISPLAY", ":9", 1);
        WriteClient(0);
        fs::remove(m_log);
        for (const fs::path& draft : Outbox())
            fs::remove(draft);
        c.arrange();
        ASSERT_EQ(Send({picture}), SUCCESS_SUCCESS);
        EXPECT_EQ(!Logged().empty(), c.clientRuns);
        const std::vector<fs::path> drafts = Outbox();
        ASSERT_EQ(drafts.size(), 1u);
        const kvtest::MimeMessage message = kvtest::ParseMime(ReadFile(drafts[0]));
        EXPECT_EQ(message.headers.Get("X-Unsent"), "1");
        ASSERT_EQ(message.parts.size(), 2u);
        EXPECT_EQ(std::string(message.parts[1].content.begin(), message.parts[1].content.end()),
                  ReadFile(picture));
    }
}

TEST_F(MapiDesktopClient, AFileThatCannotBeOpenedReachesNeitherTheClientNorTheOutbox) {
    EXPECT_EQ(Send({Picture("good.jpg", 10, 5), m_files.File("gone.jpg")}), MAPI_E_ATTACHMENT_OPEN_FAILURE);
    EXPECT_TRUE(Logged().empty());
    EXPECT_TRUE(Outbox().empty());
}
