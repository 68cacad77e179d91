// A standard e-mail draft (RFC 5322 with MIME attachments) that a mail program opens as a new message:
// CRLF line ends, X-Unsent: 1, a multipart/mixed body of an empty text part and then every attachment in
// order, base64 in lines of at most 76 characters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CMailDraft {
public:
    struct Attachment {
        std::string name; // UTF-8; written as RFC 2231 when it is not plain printable ASCII
        std::vector<std::uint8_t> bytes;
    };

    static constexpr std::size_t kBase64LineLength = 76;

    CMailDraft(std::string from, std::int64_t unixTime, std::string messageId);

    void Add(Attachment attachment) { m_attachments.push_back(std::move(attachment)); }
    // The whole draft. The boundary is drawn at random until no part contains it.
    std::string Compose() const;

    // "image/jpeg" for names ending in ".jpg" or ".jpeg" (any letter case), else application/octet-stream.
    static const char* ContentType(const std::string& name);
    // RFC 5322 date of the UTC time, in English whatever the locale ("Wed, 09 Dec 2026 14:21:20 +0000").
    static std::string DateText(std::int64_t unixTime);
    // The parameter name=value: a quoted string for printable ASCII, else name*=UTF-8''percent-encoded.
    static std::string Parameter(const char* name, const std::string& value);

private:
    std::string m_from;
    std::int64_t m_time;
    std::string m_messageId;
    std::vector<Attachment> m_attachments;
};
