// The upload service for tests: an HTTP server on 127.0.0.1 (a port of its own) in the test process,
// speaking the client's protocol, with accounts, albums, photos and the room left, a log of every request,
// and misbehaviours on request (a status, a malformed reply, a delay, a stall until released, a dropped
// connection). Delays are capped, and the service stops by itself if its owner never stops it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace kvtest {

class CZvTestService {
public:
    static constexpr std::chrono::milliseconds kDelayCap{2000};
    static constexpr std::chrono::milliseconds kStallCap{4000};
    static constexpr std::chrono::seconds kLifetime{60};

    // The routes, as rules and the log name them.
    static constexpr const char* kSession = "/session";
    static constexpr const char* kAlbums = "/albums";
    static constexpr const char* kSpace = "/space";
    static constexpr const char* kPhotos = "/photos";
    static constexpr const char* kAlbumPhotos = "/albums/*/photos";

    struct Album {
        std::string key;
        std::string name;
        std::string description;
        std::vector<std::string> photos; // ids, in the order they were added
    };
    struct Photo {
        std::string id;
        std::string bytes;
        std::string text1, text2, text3;
    };
    struct LoggedRequest {
        std::string method;
        std::string route;                         // one of the route names above
        std::string path;                          // as sent, without the base
        std::string session;                       // the X-Session header
        std::map<std::string, std::string> fields; // form fields and multipart texts, decoded
        std::string fileName;                      // of the multipart part "photo"
        std::size_t fileSize = 0;
    };

    enum class Act {
        Status,    // answer `status` with an empty body, doing nothing
        Malformed, // answer 200 with `body`, doing nothing
        Delay,     // wait `delay` (capped), then serve the request
        Stall,     // wait until ReleaseStalls or Stop (capped), then serve the request
        Drop,      // promise a reply, then close the connection before it comes
    };
    struct Rule {
        std::string method;
        std::string route;
        int nth = 0; // the nth request of that method and route (from 1); 0 for every one
        Act act = Act::Status;
        int status = 500;
        std::string body;
        std::chrono::milliseconds delay{0};
    };

    CZvTestService();
    ~CZvTestService();
    CZvTestService(const CZvTestService&) = delete;
    CZvTestService& operator=(const CZvTestService&) = delete;

    int Port() const { return m_port; }
    // The connection string of the service: "http://127.0.0.1:<port>/v1".
    std::string BaseUrl() const;
    // Ends stalls, stops serving and joins the server; safe to call more than once.
    void Stop();

    void AddAccount(const std::string& user, const std::string& password);
    void AddAlbum(const std::string& key, const std::string& name, const std::string& description);
    void SetSpace(std::int64_t units);
    void AddRule(const Rule& rule);
    void ReleaseStalls();

    std::vector<Album> Albums() const;
    std::vector<Photo> Photos() const;
    std::vector<LoggedRequest> Log() const;
    // Requests of the method and route so far.
    std::size_t Count(const std::string& method, const std::string& route) const;
    // Requests waiting in a stall now.
    int Stalled() const;

    // The service's reply texts, also used to write the client's fuzzing corpus.
    static std::string Encode(const std::string& text);
    static std::string Line(const std::string& key, const std::string& value);
    static std::string AlbumList(const std::vector<Album>& albums);

private:
    void Serve(const httplib::Request& request, httplib::Response& response, const std::string& method,
               const std::string& route);
    void Answer(const LoggedRequest& logged, const httplib::Request& request, httplib::Response& response);
    bool WaitFor(std::chrono::milliseconds limit, bool stall);
    bool SessionOf(const LoggedRequest& logged) const;

    std::unique_ptr<httplib::Server> m_server;
    int m_port = 0;
    std::thread m_listener;
    std::thread m_watchdog;

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_stopping = false;
    bool m_released = false;
    int m_stalled = 0;
    std::map<std::string, std::string> m_accounts;
    std::map<std::string, std::string> m_sessions;
    std::vector<Album> m_albums;
    std::vector<Photo> m_photos;
    std::int64_t m_space = 1000000;
    std::vector<Rule> m_rules;
    std::vector<LoggedRequest> m_log;
    int m_issued = 0;
};

} // namespace kvtest
