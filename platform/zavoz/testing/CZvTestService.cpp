#include "CZvTestService.h"

#include <httplib.h>

#include <algorithm>
#include <cstdio>

namespace kvtest {
namespace {

constexpr const char* kBase = "/v1";
constexpr const char* kText = "text/plain";

std::string Numbered(char prefix, int width, int number) {
    char text[32];
    std::snprintf(text, sizeof text, "%c%0*d", prefix, width, number);
    return text;
}

} // namespace

CZvTestService::CZvTestService() : m_server(std::make_unique<httplib::Server>()) {
    auto route = [this](const char* method, const char* name) {
        return [this, method, name](const httplib::Request& request, httplib::Response& response) {
            Serve(request, response, method, name);
        };
    };
    const std::string base = kBase;
    m_server->Post(base + kSession, route("POST", kSession));
    m_server->Delete(base + kSession, route("DELETE", kSession));
    m_server->Get(base + kAlbums, route("GET", kAlbums));
    m_server->Post(base + kAlbums, route("POST", kAlbums));
    m_server->Get(base + kSpace, route("GET", kSpace));
    m_server->Post(base + kPhotos, route("POST", kPhotos));
    m_server->Post(base + "/albums/([^/]+)/photos", route("POST", kAlbumPhotos));
    m_server->set_payload_max_length(8u << 20);
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port > 0) {
        m_listener = std::thread([this] { m_server->listen_after_bind(); });
        // A stop that came before the server runs would be lost, and the listener would never end.
        const auto deadline = std::chrono::steady_clock::now() + kLifetime;
        while (!m_server->is_running() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
    }
    m_watchdog = std::thread([this] {
        std::unique_lock<std::mutex> lock(m_lock);
        if (m_changed.wait_for(lock, kLifetime, [this] { return m_stopping; }))
            return;
        std::fprintf(stderr, "test service: not stopped by its owner within %lld s, stopping\n",
                     static_cast<long long>(kLifetime.count()));
        m_stopping = true;
        m_changed.notify_all();
        lock.unlock();
        m_server->stop();
    });
}

CZvTestService::~CZvTestService() {
    Stop();
}

std::string CZvTestService::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(m_port) + kBase;
}

void CZvTestService::Stop() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_server->stop();
    if (m_listener.joinable())
        m_listener.join();
    if (m_watchdog.joinable())
        m_watchdog.join();
}

void CZvTestService::AddAccount(const std::string& user, const std::string& password) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_accounts[user] = password;
}

void CZvTestService::AddAlbum(const std::string& key, const std::string& name,
                              const std::string& description) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_albums.push_back({key, name, description, {}});
}

void CZvTestService::SetSpace(std::int64_t units) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_space = units;
}

void CZvTestService::AddRule(const Rule& rule) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_rules.push_back(rule);
}

void CZvTestService::ReleaseStalls() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_released = true;
    }
    m_changed.notify_all();
}

std::vector<CZvTestService::Album> CZvTestService::Albums() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_albums;
}

std::vector<CZvTestService::Photo> CZvTestService::Photos() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_photos;
}

std::vector<CZvTestService::LoggedRequest> CZvTestService::Log() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_log;
}

std::size_t CZvTestService::Count(const std::string& method, const std::string& route) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return static_cast<std::size_t>(std::count_if(m_log.begin(), m_log.end(), [&](const LoggedRequest& r) {
        return r.method == method && r.route == route;
    }));
}

int CZvTestService::Stalled() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_stalled;
}

std::string CZvTestService::Encode(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           c == '-' || c == '_' || c == '.' || c == '~' || c == ' ';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02x", c);
            out += escape;
        }
    }
    return out;
}

std::string CZvTestService::Line(const std::string& key, const std::string& value) {
    return key + "=" + Encode(value) + "\n";
}

std::string CZvTestService::AlbumList(const std::vector<Album>& albums) {
    std::string body = "count=" + std::to_string(albums.size()) + "\n";
    for (const Album& album : albums)
        body += "album=" + Encode(album.key) + "\t" + Encode(album.name) + "\t" + Encode(album.description) +
                "\n";
    return body;
}

bool CZvTestService::WaitFor(std::chrono::milliseconds limit, bool stall) {
    std::unique_lock<std::mutex> lock(m_lock);
    if (stall)
        ++m_stalled;
    m_changed.notify_all();
    m_changed.wait_for(lock, limit, [&] { return m_stopping || (stall && m_released); });
    if (stall)
        --m_stalled;
    return !m_stopping;
}

bool CZvTestService::SessionOf(const LoggedRequest& logged) const {
    return !logged.session.empty() && m_sessions.count(logged.session) != 0;
}

void CZvTestService::Serve(const httplib::Request& request, httplib::Response& response,
                           const std::string& method, const std::string& route) {
    LoggedRequest logged;
    logged.method = method;
    logged.route = route;
    logged.path = request.path.substr(std::string(kBase).size());
    logged.session = request.get_header_value("X-Session");
    for (const auto& [name, value] : request.params)
        logged.fields[name] = value;
    for (const auto& [name, part] : request.files) {
        if (name == "photo") {
            logged.fileName = part.filename;
            logged.fileSize = part.content.size();
        } else {
            logged.fields[name] = part.content;
        }
    }

    Rule rule;
    bool misbehave = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_log.push_back(logged);
        const auto seen = std::count_if(m_log.begin(), m_log.end(), [&](const LoggedRequest& r) {
            return r.method == method && r.route == route;
        });
        for (const Rule& candidate : m_rules) {
            if (candidate.method == method && candidate.route == route &&
                (candidate.nth == 0 || candidate.nth == seen)) {
                rule = candidate;
                misbehave = true;
                break;
            }
        }
    }
    m_changed.notify_all();
    if (misbehave) {
        switch (rule.act) {
        case Act::Status:
            response.status = rule.status;
            return;
        case Act::Malformed:
            response.status = 200;
            response.set_content(rule.body, kText);
            return;
        case Act::Drop:
            response.status = 200;
            response.set_content_provider(64, kText,
                                          [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
            return;
        case Act::Delay:
            if (!WaitFor(
                    std::min(rule.delay, std::chrono::duration_cast<std::chrono::milliseconds>(kDelayCap)),
                    false)) {
                response.status = 503;
                return;
            }
            break;
        case Act::Stall:
            if (!WaitFor(kStallCap, true)) {
                response.status = 503;
                return;
            }
            break;
        }
    }
    Answer(logged, request, response);
}

void CZvTestService::Answer(const LoggedRequest& logged, const httplib::Request& request,
                            httplib::Response& response) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto field = [&](const char* name) {
        auto it = logged.fields.find(name);
        return it == logged.fields.end() ? std::string() : it->second;
    };
    if (logged.route == kSession && logged.method == "POST") {
        auto account = m_accounts.find(field("user"));
        if (account == m_accounts.end() || account->second != field("password")) {
            response.status = 401;
            return;
        }
        const std::string token = Numbered('s', 12, ++m_issued);
        m_sessions[token] = account->first;
        response.set_content(Line("token", token), kText);
        return;
    }
    if (!SessionOf(logged)) {
        response.status = 401;
        return;
    }
    if (logged.route == kSession) {
        m_sessions.erase(logged.session);
        response.status = 204;
    } else if (logged.route == kAlbums && logged.method == "GET") {
        response.set_content(AlbumList(m_albums), kText);
    } else if (logged.route == kAlbums) {
        const std::string key = Numbered('k', 14, ++m_issued);
        m_albums.push_back({key, field("name"), field("description"), {}});
        response.set_content(Line("key", key), kText);
    } else if (logged.route == kSpace) {
        response.set_content(Line("space", std::to_string(m_space)), kText);
    } else if (logged.route == kPhotos) {
        auto part = request.files.find("photo");
        if (part == request.files.end()) {
            response.status = 400;
            return;
        }
        if (static_cast<std::int64_t>(part->second.content.size()) > m_space * 1000) {
            response.status = 507;
            return;
        }
        const std::string id = Numbered('p', 6, ++m_issued);
        m_photos.push_back({id, part->second.content, field("text1"), field("text2"), field("text3")});
        response.set_content(Line("photo", id), kText);
    } else {
        const std::string key = request.matches.size() > 1 ? std::string(request.matches[1]) : std::string();
        auto album =
            std::find_if(m_albums.begin(), m_albums.end(), [&](const Album& a) { return a.key == key; });
        const std::string photo = field("photo");
        const bool known =
            std::any_of(m_photos.begin(), m_photos.end(), [&](const Photo& p) { return p.id == photo; });
        if (album == m_albums.end() || !known) {
            response.status = 404;
            return;
        }
        album->photos.push_back(photo);
        response.status = 204;
    }
}

} // namespace kvtest
