// One HTTP exchange with the service over a libcurl easy handle, with the settings every call shares:
// only http and https, no redirects, no signals, TLS verified, replies of at most kReplyLimit bytes, and
// a transfer that stalls for half a minute given up. A photo is streamed from its file as a multipart part.
#pragma once

#include "platform/zavoz/ZaVoz.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class CZvTransfer {
public:
    static constexpr std::size_t kReplyLimit = 1u << 20;

    struct Request {
        const char* method = "GET"; // GET, POST or DELETE
        std::string url;
        std::string session;                                   // sent as X-Session when not empty
        std::vector<std::pair<std::string, std::string>> form; // form fields, or multipart texts
        std::string filePath; // with a file the body is multipart: the file as part "photo"
        std::int64_t fileSize = 0;
        PiAbortProc abort = nullptr;
        PiProgressProc progress = nullptr;
        void* context = nullptr;
    };

    struct Reply {
        long status = 0;
        std::string body;
    };

    // kPiOk with the reply (of whatever status), or kPiTransportFailed, kPiMalformedReply (a reply over
    // the limit), kPiAborted or kPiFailed.
    static std::int32_t Perform(const Request& request, Reply& reply);

    // The result a reply's status stands for; `login` marks the request that opens a session, whose 401 and
    // 403 mean refused credentials.
    static std::int32_t ResultOfStatus(long status, bool login);

    // The text percent-encoded for a form or a path segment (everything but letters, digits and "-._~").
    static std::string Escape(const std::string& text);
};
