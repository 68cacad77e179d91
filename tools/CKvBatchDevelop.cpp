#include "CKvBatchDevelop.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <malloc.h>
#include <mutex>
#include <system_error>
#include <thread>

namespace {
constexpr int kHeapStepBytes = 16 << 20;
} // namespace

unsigned CKvBatchDevelop::DefaultWorkers() {
    return std::max(1u, std::thread::hardware_concurrency());
}

std::vector<CKvBatchDevelop::Outcome> CKvBatchDevelop::Run(const std::vector<Job>& jobs, unsigned workers,
                                                           const Prepare& prepare, const Progress& progress) {
    std::vector<Outcome> outcomes(jobs.size());
    std::atomic<std::size_t> next{0};
    std::size_t done = 0;
    std::mutex reporting;
    const auto work = [&] {
        // One chain for all the files this worker takes.
        CKvChainDevelop chain;
        // Each picture is developed once: the stages keep a few bands rather than whole pictures, so the
        // workers together touch far less fresh memory, whose first write is what they all wait on.
        chain.SetSinglePass(true);
        for (std::size_t i = next++; i < jobs.size(); i = next++) {
            Outcome outcome{jobs[i].input, jobs[i].output, {}};
            try {
                PravonErrorPtr err(chain.Open(jobs[i].input));
                if (!err && prepare)
                    err.reset(prepare(chain));
                LONG width = 0, height = 0;
                if (!err)
                    err.reset(chain.DevelopInto(jobs[i].output, &width, &height, nullptr));
                if (err)
                    outcome.error = err->Describe();
            } catch (const std::exception& e) {
                outcome.error = e.what();
            }
            outcomes[i] = outcome;
            std::lock_guard hold(reporting);
            ++done;
            if (progress)
                progress(done, jobs.size(), outcome);
        }
    };

    const std::size_t wanted = std::min<std::size_t>(workers ? workers : DefaultWorkers(), jobs.size());
    // Each worker's heap grows in steps of this much rather than a few pages at a time: every step is a
    // change to the process's mappings, during which the other workers' page faults wait.
    if (wanted > 1)
        mallopt(M_TOP_PAD, kHeapStepBytes);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < wanted; ++t) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break; // the threads that did start take the files
        }
    }
    if (threads.empty())
        work();
    for (std::thread& thread : threads)
        thread.join();
    return outcomes;
}
