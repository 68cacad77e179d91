#include "CupsTestQueue.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

namespace kvtest {
namespace {

namespace fs = std::filesystem;

// cups-pdf's configuration lies beside the scheduler's; a queue may have one of its own.
constexpr const char* kServerRoot = "/etc/cups";
constexpr const char* kDefaultOut = "/var/spool/cups-pdf/${USER}";
constexpr std::chrono::milliseconds kPollInterval{100};

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::set<std::string> PdfFiles(const std::string& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (entry.path().extension() == ".pdf")
            names.insert(entry.path().filename().string());
    }
    return names;
}

std::string Output(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string text;
    char line[512];
    while (pipe && fgets(line, sizeof line, pipe.get()))
        text += line;
    return text;
}

} // namespace

CupsTestQueue::CupsTestQueue() {
    const char* queue = std::getenv(kQueueVariable);
    const char* refusing = std::getenv(kRefusingQueueVariable);
    if (!queue || !*queue || !refusing || !*refusing) {
        m_reason = std::string(kQueueVariable) + " or " + kRefusingQueueVariable +
                   " names no CUPS queue (tools/run-tests sets them up)";
        return;
    }
    m_name = queue;
    m_refusing = refusing;
    if (const char* server = std::getenv("CUPS_SERVER"))
        m_previousServer = server;
    // The machine's own server, as libcups finds it without the variable.
    unsetenv("CUPS_SERVER");
    passwd* user = getpwuid(geteuid());
    std::string configuration = ReadText(std::string(kServerRoot) + "/cups-pdf-" + m_name + ".conf");
    if (configuration.empty())
        configuration = ReadText(std::string(kServerRoot) + "/cups-pdf.conf");
    m_output = OutputFolderOf(configuration, user ? user->pw_dir : "", user ? user->pw_name : "");
    m_before = PdfFiles(m_output);
}

CupsTestQueue::~CupsTestQueue() {
    if (m_name.empty())
        return;
    if (m_previousServer)
        setenv("CUPS_SERVER", m_previousServer->c_str(), 1);
}

std::string CupsTestQueue::OutputFolderOf(const std::string& configuration, const std::string& home,
                                          const std::string& user) {
    std::string out = kDefaultOut;
    std::istringstream lines(configuration);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string key, value;
        if (words >> key && key == "Out" && std::getline(words >> std::ws, value))
            out = value;
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '\r'))
        out.pop_back();
    return Replace(Replace(out, "${HOME}", home), "${USER}", user);
}

std::vector<std::string> CupsTestQueue::NewFiles(const std::string& title) const {
    std::vector<std::string> made;
    for (const std::string& name : PdfFiles(m_output)) {
        if (!m_before.count(name) && name.rfind(title, 0) == 0)
            made.push_back(m_output + "/" + name);
    }
    return made;
}

bool CupsTestQueue::WaitUntilIdle(std::chrono::seconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (Output("lpstat -o '" + m_name + "' 2>/dev/null").empty())
            return true;
        std::this_thread::sleep_for(kPollInterval);
    }
    return false;
}

} // namespace kvtest
