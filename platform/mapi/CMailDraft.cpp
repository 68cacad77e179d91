#include "CMailDraft.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <random>
#include <stdexcept>

namespace {

constexpr const char* kCrlf = "\r\n";

bool EndsWithNoCase(const std::string& text, const std::string& end) {
    if (text.size() < end.size())
        return false;
    for (std::size_t i = 0; i < end.size(); ++i) {
        char c = text[text.size() - end.size() + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != end[i])
            return false;
    }
    return true;
}

// Base64 (RFC 4648: the standard alphabet, "=" fill) of the bytes in lines of kBase64LineLength, each
// ended by CRLF.
std::string Base64Lines(const std::vector<std::uint8_t>& bytes) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::size_t characters = (bytes.size() + 2) / 3 * 4;
    std::string lines;
    lines.reserve(characters + (characters / CMailDraft::kBase64LineLength + 1) * 2);
    std::size_t onLine = 0;
    const auto put = [&](char c) {
        lines += c;
        if (++onLine == CMailDraft::kBase64LineLength) {
            lines += kCrlf;
            onLine = 0;
        }
    };
    for (std::size_t at = 0; at < bytes.size(); at += 3) {
        const std::size_t left = bytes.size() - at;
        const std::uint32_t group = std::uint32_t{bytes[at]} << 16 |
                                    (left > 1 ? std::uint32_t{bytes[at + 1]} << 8 : 0) |
                                    (left > 2 ? std::uint32_t{bytes[at + 2]} : 0);
        put(kAlphabet[group >> 18 & 63]);
        put(kAlphabet[group >> 12 & 63]);
        put(left > 1 ? kAlphabet[group >> 6 & 63] : '=');
        put(left > 2 ? kAlphabet[group & 63] : '=');
    }
    if (onLine != 0)
        lines += kCrlf;
    return lines;
}

std::string RandomBoundary(std::mt19937_64& random) {
    char text[48];
    std::snprintf(text, sizeof text, "=_KvMail_%016llx%08llx", static_cast<unsigned long long>(random()),
                  static_cast<unsigned long long>(random() & 0xFFFFFFFFu));
    return text;
}

} // namespace

CMailDraft::CMailDraft(std::string from, std::int64_t unixTime, std::string messageId)
    : m_from(std::move(from)), m_time(unixTime), m_messageId(std::move(messageId)) {}

const char* CMailDraft::ContentType(const std::string& name) {
    return EndsWithNoCase(name, ".jpg") || EndsWithNoCase(name, ".jpeg") ? "image/jpeg"
                                                                         : "application/octet-stream";
}

std::string CMailDraft::DateText(std::int64_t unixTime) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t time = static_cast<std::time_t>(unixTime);
    std::tm parts{};
    gmtime_r(&time, &parts);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d +0000", kDays[parts.tm_wday % 7],
                  parts.tm_mday, kMonths[parts.tm_mon % 12], parts.tm_year + 1900, parts.tm_hour,
                  parts.tm_min, parts.tm_sec);
    return text;
}

std::string CMailDraft::Parameter(const char* name, const std::string& value) {
    bool plain = true;
    for (unsigned char c : value)
        plain = plain && c >= 0x20 && c < 0x7F;
    if (plain) {
        std::string quoted = std::string(name) + "=\"";
        for (char c : value) {
            if (c == '"' || c == '\\')
                quoted += '\\';
            quoted += c;
        }
        return quoted + "\"";
    }
    // RFC 2231: attribute characters stay, every other byte is %XX of its UTF-8.
    std::string encoded = std::string(name) + "*=UTF-8''";
    for (unsigned char c : value) {
        const bool attributeChar = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                                   (c >= 'a' && c <= 'z') || c == '.' || c == '-' || c == '_' || c == '~';
        if (attributeChar) {
            encoded += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            encoded += hex;
        }
    }
    return encoded;
}

std::string CMailDraft::Compose() const {
    std::vector<std::string> parts;
    parts.push_back(std::string("Content-Type: text/plain; charset=utf-8") + kCrlf +
                    "Content-Transfer-Encoding: 7bit" + kCrlf + kCrlf);
    for (const Attachment& attachment : m_attachments) {
        std::string part = std::string("Content-Type: ") + ContentType(attachment.name) + ";" + kCrlf + " " +
                           Parameter("name", attachment.name) + kCrlf;
        part += std::string("Content-Disposition: attachment;") + kCrlf + " " +
                Parameter("filename", attachment.name) + kCrlf;
        part += std::string("Content-Transfer-Encoding: base64") + kCrlf + kCrlf;
        part += Base64Lines(attachment.bytes);
        parts.push_back(std::move(part));
    }

    std::mt19937_64 random{std::random_device{}()};
    std::string boundary;
    bool clash = true;
    while (clash) {
        boundary = RandomBoundary(random);
        clash = false;
        for (const std::string& part : parts)
            clash = clash || part.find(boundary) != std::string::npos;
    }

    std::string draft;
    draft += "From: " + m_from + kCrlf;
    draft += "Date: " + DateText(m_time) + kCrlf;
    draft += "Message-ID: " + m_messageId + kCrlf;
    draft += std::string("MIME-Version: 1.0") + kCrlf;
    draft += std::string("X-Unsent: 1") + kCrlf;
    draft += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"" + kCrlf + kCrlf;
    draft += std::string("This is a multi-part message in MIME format.") + kCrlf;
    for (const std::string& part : parts)
        draft += kCrlf + std::string("--") + boundary + kCrlf + part;
    draft += kCrlf + std::string("--") + boundary + "--" + kCrlf;
    return draft;
}
