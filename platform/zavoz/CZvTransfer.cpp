#include "CZvTransfer.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <mutex>

namespace {

constexpr long kConnectTimeoutSeconds = 10;
constexpr long kStallSeconds = 30;

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MimeDeleter {
    void operator()(curl_mime* mime) const { curl_mime_free(mime); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct Progress {
    const CZvTransfer::Request* request;
    std::int32_t reported = 0;
};

struct Sink {
    std::string* body;
    bool overLimit = false;
};

std::size_t Write(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const std::size_t bytes = size * count;
    if (sink->body->size() + bytes > CZvTransfer::kReplyLimit) {
        sink->overLimit = true;
        return 0; // ends the transfer
    }
    sink->body->append(data, bytes);
    return bytes;
}

int Tick(void* user, curl_off_t, curl_off_t, curl_off_t uploadTotal, curl_off_t uploaded) {
    auto* progress = static_cast<Progress*>(user);
    const CZvTransfer::Request& request = *progress->request;
    if (request.abort && request.abort(request.context) != 0)
        return 1;
    if (request.progress && uploadTotal > 0 && request.fileSize > 0) {
        // The body also holds the texts and the part headers; the photo's share is scaled to its size.
        const std::int64_t done = std::min<std::int64_t>(
            request.fileSize, static_cast<std::int64_t>(uploaded) * request.fileSize / uploadTotal);
        if (done > progress->reported) {
            progress->reported = static_cast<std::int32_t>(done);
            request.progress(request.context, progress->reported,
                             static_cast<std::int32_t>(request.fileSize));
        }
    }
    return 0;
}

void StartCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::int32_t ResultOfCode(CURLcode code, const Sink& sink) {
    switch (code) {
    case CURLE_OK:
        return kPiOk;
    case CURLE_ABORTED_BY_CALLBACK:
        return kPiAborted;
    case CURLE_WRITE_ERROR:
        return sink.overLimit ? kPiMalformedReply : kPiFailed;
    case CURLE_OUT_OF_MEMORY:
    case CURLE_READ_ERROR:
    case CURLE_FAILED_INIT:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return kPiFailed;
    default:
        return kPiTransportFailed;
    }
}

} // namespace

std::int32_t CZvTransfer::Perform(const Request& request, Reply& reply) {
    StartCurl();
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy)
        return kPiFailed;
    CURL* handle = easy.get();
    reply = Reply{};
    Sink sink{&reply.body};
    Progress progress{&request};
    std::unique_ptr<curl_slist, ListDeleter> headers;
    std::unique_ptr<curl_mime, MimeDeleter> mime;
    std::string form;

    bool ok = curl_easy_setopt(handle, CURLOPT_URL, request.url.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok = ok && curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK;
    ok = ok && curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
    // The loopback address is never reached through a proxy named in the environment.
    ok = ok && curl_easy_setopt(handle, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1") == CURLE_OK;
    ok = ok && curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds) == CURLE_OK;
    ok = ok && curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, kStallSeconds) == CURLE_OK;
    ok = ok && curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, Write) == CURLE_OK;
    ok = ok && curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink) == CURLE_OK;
    ok = ok && curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
    ok = ok && curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, Tick) == CURLE_OK;
    ok = ok && curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &progress) == CURLE_OK;

    // No "Expect: 100-continue" round trip before a photo.
    curl_slist* list = curl_slist_append(nullptr, "Expect:");
    if (list && !request.session.empty()) {
        curl_slist* more = curl_slist_append(list, ("X-Session: " + request.session).c_str());
        if (!more) {
            curl_slist_free_all(list);
            list = nullptr;
        } else {
            list = more;
        }
    }
    headers.reset(list);
    ok = ok && list && curl_easy_setopt(handle, CURLOPT_HTTPHEADER, list) == CURLE_OK;

    const std::string method = request.method;
    if (!request.filePath.empty()) {
        mime.reset(curl_mime_init(handle));
        ok = ok && mime;
        if (ok) {
            curl_mimepart* part = curl_mime_addpart(mime.get());
            ok = part && curl_mime_name(part, "photo") == CURLE_OK &&
                 curl_mime_filedata(part, request.filePath.c_str()) == CURLE_OK;
        }
        for (const auto& [name, value] : request.form) {
            curl_mimepart* part = ok ? curl_mime_addpart(mime.get()) : nullptr;
            ok = part && curl_mime_name(part, name.c_str()) == CURLE_OK &&
                 curl_mime_data(part, value.data(), value.size()) == CURLE_OK;
        }
        ok = ok && curl_easy_setopt(handle, CURLOPT_MIMEPOST, mime.get()) == CURLE_OK;
    } else if (method == "POST") {
        for (const auto& [name, value] : request.form)
            form += (form.empty() ? "" : "&") + Escape(name) + "=" + Escape(value);
        ok =
            ok && curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE, static_cast<long>(form.size())) == CURLE_OK;
        ok = ok && curl_easy_setopt(handle, CURLOPT_POSTFIELDS, form.c_str()) == CURLE_OK;
    } else if (method == "DELETE") {
        ok = ok && curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, "DELETE") == CURLE_OK;
    }
    if (!ok)
        return kPiFailed;

    const std::int32_t result = ResultOfCode(curl_easy_perform(handle), sink);
    if (result != kPiOk)
        return result;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &reply.status);
    return kPiOk;
}

std::int32_t CZvTransfer::ResultOfStatus(long status, bool login) {
    if (status >= 200 && status < 300)
        return kPiOk;
    if (login && (status == 401 || status == 403))
        return kPiCredentialsRefused;
    if (status == 401)
        return kPiNotConnected;
    if (status == 404)
        return kPiNotFound;
    if (status == 413 || status == 507)
        return kPiNoRoom;
    if (status >= 400 && status < 500)
        return kPiRefused;
    if (status >= 500 && status < 600)
        return kPiServiceFailed;
    return kPiMalformedReply; // a status this protocol never uses
}

std::string CZvTransfer::Escape(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        const bool letterOrDigit = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (letterOrDigit || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}
