// The machine's CUPS queue that writes PDF files (a cups-pdf queue), as tools/run-tests sets it up and names
// it in KV_CUPS_QUEUE, and a second one that refuses every job (KV_CUPS_REFUSING_QUEUE). A test that prints
// to them points the printer services at the machine's own server while the object lives, finds the folder
// the queue writes into from cups-pdf's configuration, and waits for the queue to finish with the lpstat
// tool, which is not ours. Tests run side by side: none changes a queue, and each finds its own files by the
// title of its job.
#pragma once

#include <chrono>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kvtest {

class CupsTestQueue {
public:
    // Skips the test when no queue is named; fails it in CI (CI set), where tools/run-tests always names one.
    static constexpr const char* kQueueVariable = "KV_CUPS_QUEUE";
    static constexpr const char* kRefusingQueueVariable = "KV_CUPS_REFUSING_QUEUE";

    CupsTestQueue();
    ~CupsTestQueue();
    CupsTestQueue(const CupsTestQueue&) = delete;
    CupsTestQueue& operator=(const CupsTestQueue&) = delete;

    // Empty when the test is to be skipped (Reason() says why).
    const std::string& Name() const { return m_name; }
    const std::string& RefusingName() const { return m_refusing; }
    const std::string& Reason() const { return m_reason; }
    // Where the queue's PDF files appear: cups-pdf's "Out" with ${HOME} and ${USER} of this user.
    const std::string& OutputFolder() const { return m_output; }

    // The PDF files the queue has written since this object was made for jobs of the title (cups-pdf begins
    // a file's name with it; a title of letters and digits keeps its form), by name.
    std::vector<std::string> NewFiles(const std::string& title) const;
    // Waits until the queue has no job left (lpstat lists none); false at the deadline.
    bool WaitUntilIdle(std::chrono::seconds limit) const;

    // The folder cups-pdf's configuration text names for a user, or the default it uses without one.
    static std::string OutputFolderOf(const std::string& configuration, const std::string& home,
                                      const std::string& user);

private:
    std::string m_name;
    std::string m_refusing;
    std::string m_reason;
    std::string m_output;
    std::optional<std::string> m_previousServer;
    std::set<std::string> m_before;
};

} // namespace kvtest

// In a test body: skips the test when no queue is named, and fails it in CI, where one always is.
#define KV_REQUIRE_CUPS_QUEUE(queue)                                                                         \
    do {                                                                                                     \
        if ((queue).Name().empty()) {                                                                        \
            if (std::getenv("CI"))                                                                           \
                FAIL() << (queue).Reason();                                                                  \
            GTEST_SKIP() << (queue).Reason();                                                                \
        }                                                                                                    \
    } while (0)
