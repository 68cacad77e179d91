// What the benchmarks that run each case three times and print a table of speeds and ratios share: the
// registration of a repeated case and a reporter that keeps each case's median time.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace kvbench {

// Three repetitions in real time, in milliseconds, only their aggregates reported; returns the benchmark
// for what a case sets beyond that (its iterations or minimum time).
inline benchmark::internal::Benchmark* MedianOfThree(benchmark::internal::Benchmark* bench) {
    return bench->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3)->ReportAggregatesOnly(true);
}

// Keeps the median real time per iteration of each benchmark for the table of ratios: the runs are
// repeated so that a busy machine spoils no single figure.
class CMedianReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" && !run.error_occurred)
                seconds[run.run_name.function_name] = run.GetAdjustedRealTime() / 1e3;
        ConsoleReporter::ReportRuns(runs);
    }
    // Megapixels per second of the named benchmark's median run; 0 when it has none.
    double Speed(const std::string& name, double megapixels) const {
        auto it = seconds.find(name);
        return it == seconds.end() || it->second <= 0 ? 0.0 : megapixels / it->second;
    }
    std::map<std::string, double> seconds;
};

} // namespace kvbench
