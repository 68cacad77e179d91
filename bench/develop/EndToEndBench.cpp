// From a 24-megapixel camera file (the benchmarks' DNG) to a picture file, as a user runs it, each road in
// a process of its own so that its peak resident size is its own (getrusage of the finished child):
// - on the bench's core (pin it with taskset): our development into an 8-bit PNG and into a JPEG, the same
//   road as it was before ("before": every lookup-table stage making its own tiles, the output colour
//   conversion through lcms2's 16-bit road, libpng's default compression), and LibRaw's dcraw_emu road
//   (open, unpack, AHD, an 8-bit TIFF written) on one thread;
// - on every core whatever the bench's own affinity: a batch of eight such files, one filter chain per
//   worker, against the same files one at a time and against LibRaw developing them one after another with
//   OpenMP on every core;
// - in this process: the PNG compression settings, measured on the developed picture.
// The summary gives medians, ratios of the same run and the load average.
#include "BenchDng.h"
#include "bench/demosaic/DemosaicSample.h"
#include "platform/zov/CZovConversion.h"
#include "testing/ProfileMachine.h"
#include "testing/TempFolder.h"
#include "tools/CKvBatchDevelop.h"
#include "tools/CKvChainDevelop.h"
#include "tools/CKvPngWriter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#if KV_HAVE_LIBRAW
#include <libraw/libraw.h>
#endif

namespace {

constexpr int kRuns = 5;
constexpr int kBatchRuns = 3;
constexpr int kBatchFiles = 8;
constexpr const char* kChildFlag = "--develop-child";

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// ---- The roads, run in a child process. Each prints the seconds its work took.

int OursChild(const std::string& in, const std::string& out, bool before) {
    const double start = Now();
    if (before)
        CZovConversion::SetLibraryOnly(true);
    CKvChainDevelop chain;
    chain.SetReadThrough(!before);
    PravonErrorPtr err(chain.Open(in));
    LONG width = 0, height = 0;
    if (!err && before) {
        // libpng's own defaults: zlib's default level and the filter chosen per row among all five.
        CKvPngWriter writer(
            CKvPngWriter::Compression{Z_DEFAULT_COMPRESSION, PNG_ALL_FILTERS, Z_DEFAULT_STRATEGY});
        err.reset(chain.DevelopInto(writer, out, &width, &height, nullptr));
    } else if (!err) {
        err.reset(chain.DevelopInto(out, &width, &height, nullptr));
    }
    if (err) {
        std::fprintf(stderr, "%s\n", err->Describe().c_str());
        return 1;
    }
    std::printf("%f\n", Now() - start);
    return 0;
}

#if KV_HAVE_LIBRAW
// dcraw_emu's road with its defaults and -T: AHD, an 8-bit TIFF.
bool LibRawDevelop(const std::string& in, const std::string& out) {
    LibRaw raw;
    raw.imgdata.params.user_qual = 3;
    raw.imgdata.params.output_tiff = 1;
    return raw.open_file(in.c_str()) == LIBRAW_SUCCESS && raw.unpack() == LIBRAW_SUCCESS &&
           raw.dcraw_process() == LIBRAW_SUCCESS && raw.dcraw_ppm_tiff_writer(out.c_str()) == LIBRAW_SUCCESS;
}
#endif

int LibRawChild(const std::vector<std::string>& files, const std::string& folder, int threads) {
#if KV_HAVE_LIBRAW
    if (omp_set_num_threads)
        omp_set_num_threads(threads);
    const double start = Now();
    for (const std::string& in : files)
        if (!LibRawDevelop(in, folder + "/" + std::filesystem::path(in).stem().string() + ".tif"))
            return 1;
    std::printf("%f\n", Now() - start);
    return 0;
#else
    return 1;
#endif
}

int BatchChild(const std::vector<std::string>& files, const std::string& folder, unsigned workers) {
    std::vector<CKvBatchDevelop::Job> jobs;
    for (const std::string& in : files)
        jobs.push_back({in, folder + "/" + std::filesystem::path(in).stem().string() + ".png"});
    const double start = Now();
    for (const CKvBatchDevelop::Outcome& outcome : CKvBatchDevelop::Run(jobs, workers, nullptr, nullptr))
        if (!outcome.error.empty()) {
            std::fprintf(stderr, "%s: %s\n", outcome.input.c_str(), outcome.error.c_str());
            return 1;
        }
    std::printf("%f\n", Now() - start);
    return 0;
}

// --develop-child ROAD OUTPUT-OR-FOLDER NUMBER FILE...
int RunChild(int argc, char** argv) {
    if (argc < 6)
        return 2;
    const std::string road = argv[2], out = argv[3];
    const int number = std::atoi(argv[4]);
    const std::vector<std::string> files(argv + 5, argv + argc);
    if (road == "ours" || road == "ours-before")
        return OursChild(files[0], out, road == "ours-before");
    if (road == "libraw")
        return LibRawChild(files, out, number);
    if (road == "batch")
        return BatchChild(files, out, static_cast<unsigned>(number));
    return 2;
}

// ---- The parent: each road in a child, its time and peak resident size.

struct Measured {
    double seconds = 0;
    double peakMegabytes = 0;
    bool ok = false;
};

Measured Spawn(const std::vector<std::string>& arguments, bool everyCore) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return {};
    const pid_t child = fork();
    if (child < 0)
        return {};
    if (child == 0) {
        if (everyCore) {
            cpu_set_t all;
            CPU_ZERO(&all);
            for (long c = 0; c < sysconf(_SC_NPROCESSORS_ONLN) && c < CPU_SETSIZE; ++c)
                CPU_SET(static_cast<int>(c), &all);
            sched_setaffinity(0, sizeof all, &all);
        }
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        std::vector<char*> argv;
        static std::string self = "/proc/self/exe";
        argv.push_back(self.data());
        for (const std::string& a : arguments)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    std::string output;
    char buffer[256];
    for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        output.append(buffer, static_cast<std::size_t>(n));
    close(pipeEnds[0]);
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child)
        return {};
    Measured m;
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    m.seconds = std::atof(output.c_str());
    m.peakMegabytes = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return m;
}

struct Summary {
    double seconds = 0;
    double peakMegabytes = 0;
};

std::map<std::string, Summary>& Results() {
    static std::map<std::string, Summary> results;
    return results;
}

// The runs of one road: the median time and the largest peak.
void Record(benchmark::State& state, const std::string& name, const std::vector<std::string>& arguments,
            bool everyCore) {
    std::vector<double> times;
    double peak = 0;
    for (auto _ : state) {
        const Measured m = Spawn(arguments, everyCore);
        if (!m.ok) {
            state.SkipWithError(("the road failed: " + name).c_str());
            return;
        }
        times.push_back(m.seconds);
        peak = std::max(peak, m.peakMegabytes);
        state.SetIterationTime(m.seconds);
    }
    std::sort(times.begin(), times.end());
    const std::size_t n = times.size();
    Results()[name] = {n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2, peak};
    state.counters["peak_MB"] = peak;
}

kvtest::TempFolder& Scratch() {
    static kvtest::TempFolder folder;
    return folder;
}

// Eight copies of the benchmarks' DNG: eight files, as a user's batch has, rather than eight names of one
// file, whose pages the decoders would all wait on at once.
const std::vector<std::string>& BatchFiles() {
    static const std::vector<std::string> files = [] {
        std::vector<std::string> made;
        for (int i = 0; i < kBatchFiles; ++i) {
            const std::string path = Scratch().File("batch-" + std::to_string(i) + ".dng");
            std::filesystem::copy_file(developbench::DngPath(), path,
                                       std::filesystem::copy_options::overwrite_existing);
            made.push_back(path);
        }
        return made;
    }();
    return files;
}

// output: the picture file, or none for a road that names its file in the scratch folder itself.
void Road(benchmark::State& state, const char* name, const char* road, const char* output) {
    const std::string to = *output ? Scratch().File(output) : Scratch().Path();
    Record(state, name, {kChildFlag, road, to, "1", developbench::DngPath()}, false);
}

void Batch(benchmark::State& state, const char* name, const char* road, int number) {
    std::vector<std::string> arguments = {kChildFlag, road, Scratch().Path(), std::to_string(number)};
    for (const std::string& f : BatchFiles())
        arguments.push_back(f);
    Record(state, name, arguments, true);
}

// ---- The PNG settings, on the picture developed once.

struct PngSetting {
    const char* name;
    CKvPngWriter::Compression compression;
};
std::vector<std::pair<std::string, std::pair<double, double>>>& PngTable() {
    static std::vector<std::pair<std::string, std::pair<double, double>>> table;
    return table;
}

void PngSettings(benchmark::State& state) {
    CKvChainDevelop chain;
    std::vector<WORD> picture;
    LONG width = 0, height = 0;
    PravonErrorPtr err(chain.Open(developbench::DngPath()));
    if (!err)
        err.reset(chain.DevelopBands(
            [&](const CKvChainDevelop::CBand& band) -> IPravonError* {
                for (LONG y = 0; y < band.count; ++y)
                    picture.insert(picture.end(), band.rows + std::size_t(y) * band.rowWords,
                                   band.rows + std::size_t(y) * band.rowWords + std::size_t(band.width) * 3);
                return nullptr;
            },
            &width, &height, nullptr));
    if (err)
        return state.SkipWithError(err->Describe().c_str());
    const PngSetting settings[] = {
        {"libpng's defaults (level 6, every filter)",
         {Z_DEFAULT_COMPRESSION, PNG_ALL_FILTERS, Z_DEFAULT_STRATEGY}},
        {"level 6, sub", {6, PNG_FILTER_SUB, Z_DEFAULT_STRATEGY}},
        {"level 3, every filter", {3, PNG_ALL_FILTERS, Z_DEFAULT_STRATEGY}},
        {"level 2, sub", {2, PNG_FILTER_SUB, Z_DEFAULT_STRATEGY}},
        {"level 1, every filter", {1, PNG_ALL_FILTERS, Z_DEFAULT_STRATEGY}},
        {"level 1, none", {1, PNG_FILTER_NONE, Z_DEFAULT_STRATEGY}},
        {"level 1, sub", {1, PNG_FILTER_SUB, Z_DEFAULT_STRATEGY}},
        {"level 1, up", {1, PNG_FILTER_UP, Z_DEFAULT_STRATEGY}},
        {"level 1, paeth", {1, PNG_FILTER_PAETH, Z_DEFAULT_STRATEGY}},
        {"run lengths, sub", {1, PNG_FILTER_SUB, Z_RLE}},
        {"run lengths, up", {1, PNG_FILTER_UP, Z_RLE}},
        {"Huffman only, sub", {1, PNG_FILTER_SUB, Z_HUFFMAN_ONLY}},
        {"level 0 (stored), none", {0, PNG_FILTER_NONE, Z_DEFAULT_STRATEGY}},
    };
    const std::string path = Scratch().File("settings.png");
    for (auto _ : state) {
        PngTable().clear();
        for (const PngSetting& setting : settings) {
            std::vector<double> times;
            for (int run = 0; run < 3; ++run) {
                const double start = Now();
                CKvPngWriter writer(setting.compression);
                std::string failure;
                const bool written =
                    writer.Begin(path, width, height, "", {}, &failure) &&
                    writer.WriteRows(picture.data(), height, std::size_t(width) * 3, &failure) &&
                    writer.Finish(&failure);
                if (!written)
                    return state.SkipWithError(failure.c_str());
                times.push_back(Now() - start);
            }
            std::sort(times.begin(), times.end());
            PngTable().push_back({setting.name, {times[1], double(std::filesystem::file_size(path)) / 1e6}});
        }
    }
}

void PrintSummary() {
    const auto& r = Results();
    double load[3] = {};
    getloadavg(load, 3);
    std::printf("\nfrom a %.0f MP DNG to a picture file, median seconds and peak resident MB (load average "
                "%.1f %.1f %.1f):\n",
                demosaicbench::kMegapixels, load[0], load[1], load[2]);
    for (const auto& [name, s] : r)
        std::printf("  %-44s %8.3f s %8.0f MB\n", name.c_str(), s.seconds, s.peakMegabytes);
    const auto ratio = [&](const char* a, const char* b) {
        const auto x = r.find(a), y = r.find(b);
        if (x != r.end() && y != r.end() && y->second.seconds > 0)
            std::printf("%s / %s: %.3f\n", a, b, x->second.seconds / y->second.seconds);
    };
    ratio("one core: ours to PNG", "one core: LibRaw AHD to TIFF");
    ratio("one core: ours to JPEG", "one core: LibRaw AHD to TIFF");
    ratio("one core: ours to PNG, before", "one core: LibRaw AHD to TIFF");
    ratio("one core: ours to PNG", "one core: ours to PNG, before");
    ratio("every core: 8 files, one at a time", "every core: 8 files, one chain per core");
    ratio("every core: 8 files, one chain per core", "every core: 8 files, LibRaw with OpenMP");
    if (!PngTable().empty()) {
        std::printf("\nPNG settings on the developed picture, median of three writes:\n");
        for (const auto& [name, result] : PngTable())
            std::printf("  %-44s %8.3f s %8.1f MB\n", name.c_str(), result.first, result.second);
    }
}

const bool kRegistered = [] {
    benchmark::RegisterBenchmark("EndToEnd/ours-png", Road, "one core: ours to PNG", "ours", "ours.png")
        ->Iterations(kRuns)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("EndToEnd/ours-jpeg", Road, "one core: ours to JPEG", "ours", "ours.jpg")
        ->Iterations(kRuns)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("EndToEnd/ours-png-before", Road, "one core: ours to PNG, before",
                                 "ours-before", "before.png")
        ->Iterations(kRuns)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
#if KV_HAVE_LIBRAW
    benchmark::RegisterBenchmark("EndToEnd/libraw-tiff", Road, "one core: LibRaw AHD to TIFF", "libraw", "")
        ->Iterations(kRuns)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
#endif
    const int cores = static_cast<int>(CKvBatchDevelop::DefaultWorkers());
    benchmark::RegisterBenchmark("Batch/one-chain-per-core", Batch, "every core: 8 files, one chain per core",
                                 "batch", cores)
        ->Iterations(kBatchRuns)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Batch/one-at-a-time", Batch, "every core: 8 files, one at a time", "batch",
                                 1)
        ->Iterations(kBatchRuns)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
#if KV_HAVE_LIBRAW
    benchmark::RegisterBenchmark("Batch/libraw-openmp", Batch, "every core: 8 files, LibRaw with OpenMP",
                                 "libraw", cores)
        ->Iterations(kBatchRuns)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
#endif
    benchmark::RegisterBenchmark("PngSettings", PngSettings)->Iterations(1)->Unit(benchmark::kMillisecond);
    Results();
    PngTable();
    std::atexit(PrintSummary);
    return true;
}();

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], kChildFlag) == 0)
        return RunChild(argc, argv);
    // The standard profiles the development converts to, in a machine folder of the run's own, which the
    // children find through the environment.
    static kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
