#include "platform/win/WinKernel.h"
#include "testing/Deadline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <string>
#include <thread>
#include <vector>

namespace {

// Objects written as in the table below: "A"/"a" auto-reset event signalled or not, "M"/"m" the same for a
// manual-reset event, "S<n>" a semaphore with count n (maximum 9).
class Objects {
public:
    explicit Objects(const std::vector<std::string>& codes) {
        for (const std::string& code : codes) {
            HANDLE h = 0;
            if (code == "A" || code == "a")
                h = CreateEventA(nullptr, FALSE, code == "A", nullptr);
            else if (code == "M" || code == "m")
                h = CreateEventA(nullptr, TRUE, code == "M", nullptr);
            else
                h = CreateSemaphoreA(nullptr, std::stoi(code.substr(1)), 9, nullptr);
            EXPECT_NE(h, 0u) << code;
            m_kinds.push_back(code[0] == 'S' ? 'S' : static_cast<char>(std::toupper(code[0])));
            m_handles.push_back(h);
        }
    }
    ~Objects() {
        for (HANDLE h : m_handles)
            CloseHandle(h);
    }
    const HANDLE* Handles() const { return m_handles.data(); }
    DWORD Count() const { return static_cast<DWORD>(m_handles.size()); }
    HANDLE operator[](std::size_t i) const { return m_handles[i]; }

    // The states in the same notation, read without changing them.
    std::vector<std::string> States() const {
        std::vector<std::string> states;
        for (std::size_t i = 0; i < m_handles.size(); ++i) {
            const HANDLE h = m_handles[i];
            if (m_kinds[i] == 'S') {
                LONG count = 0;
                while (WaitForSingleObject(h, 0) == WAIT_OBJECT_0)
                    ++count;
                if (count > 0)
                    ReleaseSemaphore(h, count, nullptr);
                states.push_back("S" + std::to_string(count));
            } else {
                const bool signalled = WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
                if (signalled && m_kinds[i] == 'A')
                    SetEvent(h);
                states.push_back(std::string(1, signalled ? m_kinds[i] : static_cast<char>(m_kinds[i] + 32)));
            }
        }
        return states;
    }

private:
    std::vector<HANDLE> m_handles;
    std::vector<char> m_kinds;
};

struct WaitCase {
    const char* name;
    bool waitAll;
    std::vector<std::string> before;
    DWORD expected;
    std::vector<std::string> after;
};

// Worked by hand from the rules: all or none for a wait for all, the lowest signalled index for a wait
// for any, and only auto-reset events and semaphores give up their signal.
const std::vector<WaitCase> kWaitTable = {
    {"AnyTakesTheLowestSignalledOnly", false, {"a", "A", "A"}, WAIT_OBJECT_0 + 1, {"a", "a", "A"}},
    {"AnyLeavesAManualEventSignalled", false, {"M", "A"}, WAIT_OBJECT_0, {"M", "A"}},
    {"AnyTakesOneSemaphoreCount", false, {"a", "S2", "M"}, WAIT_OBJECT_0 + 1, {"a", "S1", "M"}},
    {"AnyOfNothingSignalledTimesOut", false, {"a", "m", "S0"}, WAIT_TIMEOUT, {"a", "m", "S0"}},
    {"AllTakesEveryObject", true, {"A", "M", "S2"}, WAIT_OBJECT_0, {"a", "M", "S1"}},
    {"AllTakesEveryAutoObject", true, {"S3", "A", "A"}, WAIT_OBJECT_0, {"S2", "a", "a"}},
    {"AllOfManualEventsTakesNothing", true, {"M", "M"}, WAIT_OBJECT_0, {"M", "M"}},
    {"AllWithOneMissingTakesNone", true, {"A", "a"}, WAIT_TIMEOUT, {"A", "a"}},
    {"AllWithAnEmptySemaphoreTakesNone", true, {"S0", "A", "S1"}, WAIT_TIMEOUT, {"S0", "A", "S1"}},
    {"SingleSemaphore", true, {"S1"}, WAIT_OBJECT_0, {"S0"}},
};

void PrintTo(const WaitCase& c, std::ostream* os) {
    *os << c.name;
}

class WaitTable : public testing::TestWithParam<WaitCase> {};

TEST_P(WaitTable, PollGivesTheWorkedResult) {
    const WaitCase& c = GetParam();
    Objects objects(c.before);
    EXPECT_EQ(WaitForMultipleObjects(objects.Count(), objects.Handles(), c.waitAll, 0), c.expected);
    EXPECT_EQ(objects.States(), c.after);
}

TEST_P(WaitTable, ShortTimeOutGivesTheSameResult) {
    const WaitCase& c = GetParam();
    Objects objects(c.before);
    EXPECT_EQ(WaitForMultipleObjects(objects.Count(), objects.Handles(), c.waitAll, 5), c.expected);
    EXPECT_EQ(objects.States(), c.after);
}

INSTANTIATE_TEST_SUITE_P(Kernel, WaitTable, testing::ValuesIn(kWaitTable),
                         [](const testing::TestParamInfo<WaitCase>& info) { return info.param.name; });

TEST(KernelWait, SingleObjectWaitsFollowTheObjectKind) {
    Objects objects({"A", "M", "S1"});
    EXPECT_EQ(WaitForSingleObject(objects[0], 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(objects[0], 0), WAIT_TIMEOUT) << "an auto-reset event is consumed";
    EXPECT_EQ(WaitForSingleObject(objects[1], 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(objects[1], 0), WAIT_OBJECT_0) << "a manual-reset event stays set";
    EXPECT_EQ(WaitForSingleObject(objects[2], 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(objects[2], 1), WAIT_TIMEOUT);
}

TEST(KernelWait, BadArgumentsFailAndTakeNothing) {
    Objects objects({"S1", "A"});
    const HANDLE twice[] = {objects[0], objects[0]};
    EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_FAILED) << "one object twice in a wait for all";
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WaitForMultipleObjects(2, twice, FALSE, 0), WAIT_OBJECT_0) << "twice is fine for any";

    const HANDLE withStale[] = {objects[1], 0x00012345};
    EXPECT_EQ(WaitForMultipleObjects(2, withStale, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(objects.States(), (std::vector<std::string>{"S0", "A"})) << "a failed wait consumed something";

    EXPECT_EQ(WaitForMultipleObjects(0, objects.Handles(), FALSE, 0), WAIT_FAILED);
    std::vector<HANDLE> tooMany(MAXIMUM_WAIT_OBJECTS + 1, objects[1]);
    EXPECT_EQ(WaitForMultipleObjects(static_cast<DWORD>(tooMany.size()), tooMany.data(), FALSE, 0),
              WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects(1, nullptr, FALSE, 0), WAIT_FAILED);
}

TEST(KernelWait, WaitForAllSleepsWithoutTakingUntilTheLastObjectComes) {
    kvtest::Watchdog watchdog("wait for all");
    Objects objects({"S0", "A"});
    std::atomic<DWORD> result{WAIT_FAILED};
    std::thread waiter([&] { result = WaitForMultipleObjects(2, objects.Handles(), TRUE, 10000); });
    ASSERT_TRUE(kvtest::WaitUntil([&] { return WinKernelTest::WaitingThreads(objects[0]) == 1; }));

    EXPECT_EQ(WaitForSingleObject(objects[1], 0), WAIT_OBJECT_0) << "the waiting thread took the event";
    SetEvent(objects[1]);
    ReleaseSemaphore(objects[0], 1, nullptr);
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_OBJECT_0);
    EXPECT_EQ(objects.States(), (std::vector<std::string>{"S0", "a"}));
}

TEST(KernelWait, WaitForAnyWakesWithTheIndexOfTheObjectSignalled) {
    kvtest::Watchdog watchdog("wait for any");
    Objects objects({"a", "a", "S0"});
    std::atomic<DWORD> result{WAIT_FAILED};
    std::thread waiter([&] { result = WaitForMultipleObjects(3, objects.Handles(), FALSE, 10000); });
    ASSERT_TRUE(kvtest::WaitUntil([&] { return WinKernelTest::WaitingThreads(objects[2]) == 1; }));
    ReleaseSemaphore(objects[2], 2, nullptr);
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(objects.States(), (std::vector<std::string>{"a", "a", "S1"}));
}

TEST(KernelWait, AutoResetEventReleasesOneWaiterAndManualReleasesAll) {
    kvtest::Watchdog watchdog("event waiters");
    for (const bool manual : {false, true}) {
        const HANDLE event = CreateEventA(nullptr, manual, FALSE, nullptr);
        std::atomic<int> woken{0};
        std::vector<std::thread> waiters;
        for (int i = 0; i < 3; ++i) {
            waiters.emplace_back([&] {
                if (WaitForSingleObject(event, 10000) == WAIT_OBJECT_0)
                    ++woken;
            });
        }
        ASSERT_TRUE(kvtest::WaitUntil([&] { return WinKernelTest::WaitingThreads(event) == 3; }));
        if (manual) {
            SetEvent(event);
            ASSERT_TRUE(kvtest::WaitUntil([&] { return woken == 3; }));
        } else {
            // Each signal wakes exactly one waiter; the next comes only once that one has taken it.
            for (int k = 1; k <= 3; ++k) {
                SetEvent(event);
                ASSERT_TRUE(kvtest::WaitUntil(
                    [&] { return woken == k && WinKernelTest::WaitingThreads(event) == DWORD(3 - k); }));
            }
        }
        for (auto& t : waiters)
            t.join();
        EXPECT_EQ(woken.load(), 3);
        EXPECT_EQ(WaitForSingleObject(event, 0), manual ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
        CloseHandle(event);
    }
}

TEST(KernelWait, ClosingAHandleDoesNotFreeWhatAWaitIsUsing) {
    kvtest::Watchdog watchdog("close during wait");
    const HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::atomic<DWORD> result{WAIT_FAILED};
    std::thread waiter([&] { result = WaitForSingleObject(event, 50); });
    ASSERT_TRUE(kvtest::WaitUntil([&] { return WinKernelTest::WaitingThreads(event) == 1; }));
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_FALSE(SetEvent(event)) << "the closed handle still reached its event";
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_TIMEOUT);
}

// Two consumers compete for two semaphores, one wanting both at once and one wanting the first only; a
// wait for all that took part of its set would break the count of the first semaphore.
TEST(KernelWait, WaitForAllNeverTakesPartOfItsSetUnderContention) {
    kvtest::Watchdog watchdog("contention");
    constexpr LONG kRounds = 2000;
    const HANDLE a = CreateSemaphoreA(nullptr, 0, kRounds, nullptr);
    const HANDLE b = CreateSemaphoreA(nullptr, 0, kRounds, nullptr);
    const HANDLE both[] = {a, b};
    std::atomic<bool> producing{true};
    std::atomic<LONG> pairs{0}, singles{0};
    std::thread pairTaker([&] {
        while (producing)
            if (WaitForMultipleObjects(2, both, TRUE, 1) == WAIT_OBJECT_0)
                ++pairs;
    });
    std::thread singleTaker([&] {
        while (producing)
            if (WaitForSingleObject(a, 1) == WAIT_OBJECT_0)
                ++singles;
    });
    for (LONG i = 0; i < kRounds; ++i) {
        ReleaseSemaphore(i % 2 ? b : a, 1, nullptr);
        ReleaseSemaphore(i % 2 ? a : b, 1, nullptr);
    }
    producing = false;
    pairTaker.join();
    singleTaker.join();
    LONG leftA = 0, leftB = 0;
    while (WaitForSingleObject(a, 0) == WAIT_OBJECT_0)
        ++leftA;
    while (WaitForSingleObject(b, 0) == WAIT_OBJECT_0)
        ++leftB;
    EXPECT_EQ(pairs + singles + leftA, kRounds);
    EXPECT_EQ(pairs + leftB, kRounds);
    CloseHandle(a);
    CloseHandle(b);
}

} // namespace
