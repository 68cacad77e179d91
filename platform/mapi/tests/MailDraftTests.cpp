// The formatting rules of the drafts: dates, parameters with any file name, content types.
#include "platform/mapi/CMailDraft.h"

#include "testing/MimeMessage.h"

#include <gtest/gtest.h>

namespace {

TEST(MailDraft, DatesAreEnglishUtcTimes) {
    // Hand-worked: 0 is the epoch; 951782400 is 29 February 2000; 1796739680 the afternoon of 8 December
    // 2026.
    const struct {
        std::int64_t time;
        const char* text;
    } cases[] = {{0, "Thu, 01 Jan 1970 00:00:00 +0000"},
                 {951782400, "Tue, 29 Feb 2000 00:00:00 +0000"},
                 {1796739680, "Tue, 08 Dec 2026 14:21:20 +0000"}};
    for (const auto& c : cases)
        EXPECT_EQ(CMailDraft::DateText(c.time), c.text) << c.time;
}

TEST(MailDraft, NamesAreQuotedOrPercentEncoded) {
    const struct {
        std::string name;
        const char* parameter;
    } cases[] = {
        {"IMG_0001.jpg", "filename=\"IMG_0001.jpg\""},
        {"say \"hi\".jpg", "filename=\"say \\\"hi\\\".jpg\""},
        {"a\\b.jpg", "filename=\"a\\\\b.jpg\""},
        {"\xC3\x89t\xC3\xA9.jpg", "filename*=UTF-8''%C3%89t%C3%A9.jpg"},
        // A line break in a file name must never end the header line.
        {"x\r\nBcc: y.jpg", "filename*=UTF-8''x%0D%0ABcc%3A%20y.jpg"},
        {"100% sure.jpg", "filename=\"100% sure.jpg\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CMailDraft::Parameter("filename", c.name), c.parameter) << c.name;
}

TEST(MailDraft, OnlyJpegNamesAreImages) {
    const struct {
        const char* name;
        const char* type;
    } cases[] = {{"a.jpg", "image/jpeg"},
                 {"a.JPG", "image/jpeg"},
                 {"a.jpeg", "image/jpeg"},
                 {"a.JpEg", "image/jpeg"},
                 {"a.png", "application/octet-stream"},
                 {"jpg", "application/octet-stream"},
                 {"a.jpg.txt", "application/octet-stream"}};
    for (const auto& c : cases)
        EXPECT_STREQ(CMailDraft::ContentType(c.name), c.type) << c.name;
}

TEST(MailDraft, TheReaderGetsBackEveryNameAndByte) {
    CMailDraft draft("A <a@example.org>", 0, "<x@localhost>");
    std::vector<std::uint8_t> every(256);
    for (int i = 0; i < 256; ++i)
        every[i] = static_cast<std::uint8_t>(i);
    // Lengths around a whole line of base64 (57 bytes) and around a group of three.
    const std::size_t sizes[] = {0, 1, 2, 3, 56, 57, 58, 114, 1000};
    for (std::size_t size : sizes) {
        std::vector<std::uint8_t> bytes(size);
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = every[(i * 7 + size) % 256];
        draft.Add({"file" + std::to_string(size) + ".bin", bytes});
    }
    draft.Add({"say \"hi\"\r\n.jpg", every});
    const kvtest::MimeMessage message = kvtest::ParseMime(draft.Compose());
    ASSERT_EQ(message.error, "");
    EXPECT_TRUE(message.onlyCrlf);
    ASSERT_EQ(message.parts.size(), std::size(sizes) + 2);
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        const kvtest::MimePart& part = message.parts[i + 1];
        EXPECT_EQ(part.headers.Parameter("Content-Disposition", "filename"),
                  "file" + std::to_string(sizes[i]) + ".bin");
        EXPECT_TRUE(part.base64Valid);
        EXPECT_LE(part.longestLine, CMailDraft::kBase64LineLength);
        EXPECT_EQ(part.content.size(), sizes[i]);
    }
    EXPECT_EQ(message.parts.back().headers.Parameter("Content-Type", "name"), "say \"hi\"\r\n.jpg");
    EXPECT_EQ(message.parts.back().content, every);
}

} // namespace
