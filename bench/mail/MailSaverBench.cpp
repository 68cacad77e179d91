// Three 24-megapixel (6000 x 4000) photos saved to 640 pixels at quality 80 by the mail plug-in's file
// saver, loading them by item id from the scripted host on its worker as the mail dialog does; then the
// same pictures through libvips' thumbnail call in this process (from the file's bytes in memory, as the
// host holds them, into a JPEG file, on one thread and with its operation cache off), and the same files
// through vipsthumbnail -s 640 and ImageMagick's convert with a JPEG size hint as programs, when they are
// on the PATH (their times include starting the program). The saver and libvips' call take turns, one
// batch of the three pictures each a round, the first of them changing every round, so that load on the
// machine falls on both alike. Printed per tool: the median wall time and process CPU time per picture
// over the rounds, the peak resident memory of the run (ours only), the mean file size, how many times
// faster ours is (peer time / our time, by wall and by CPU time), and the SSIM of our luminance against
// each peer's output. Both run with the allocator's thresholds fixed. "mail_bench --ours N" runs only the
// saver, N rounds, for a profiler.
#include "mail_plugin/TAsyncFileSaver.h"

#include "plugin_framework/TBasicQWComp.h"
#include "plugin_framework/TModuleValues.h"
#include "plugin_framework/TWindow.h"

#include "platform/host/CHostPhotos.h"
#include "platform/host/CScriptedHost.h"
#include "platform/win/WinUser.h"
#include "platform/win/utf16.h"
#include "platform/zizoraz/IproJpegCodec.h"
#include "platform/zizoraz/zIzoRaz.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <malloc.h>
#include <string>
#include <time.h>
#include <unistd.h>
#include <vector>

#if KV_HAVE_VIPS
#include <vips/vips.h>
#endif

const TModuleValues g_moduleValues{L"Mail plugin", L"E-mail"};

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr LONG kWidth = 6000;
constexpr LONG kHeight = 4000;
constexpr int kPictures = 3;
constexpr int kRuns = 9;
// glibc's largest mmap threshold, and a trim threshold above what one round holds.
constexpr int kMmapThreshold = 32 << 20;
constexpr int kTrimThreshold = 256 << 20;
// The programs take long to start; fewer runs of them do.
constexpr int kProgramRuns = 3;
constexpr LONG kQuality = 80;

class BenchModule : public TBasicQWComp {
public:
    TString GetName() override { return L"Mail bench module"; }
    TString GetLanguageDllName() override { return L"NoMailBenchLang.dll"; }
};

class NoticeWindow : public TWindow {
public:
    NoticeWindow() {
        Create(L"MailBenchNoticeWnd", 0, TRect(0, 0, 2, 2), nullptr);
        AddMessageHandler(kFileSaveFinishedMessage, TMessageHandler{this, &NoticeWindow::OnFinished});
        m_handle.Attach(this);
    }
    TAutoHandle* Target() { return &m_handle; }
    int finished = 0;
    int failed = 0;

private:
    static LONG OnFinished(TMessageInfo* info, void* context) {
        auto* request = reinterpret_cast<TFileSaveData*>(info->lParam);
        auto* window = static_cast<NoticeWindow*>(context);
        ++window->finished;
        window->failed += request->m_result == kFileSaved ? 0 : 1;
        request->Release();
        return 1;
    }
    TAutoHandle m_handle;
};

std::vector<BYTE> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>((std::istreambuf_iterator<char>(in)), {});
}

// The luminance of a decoded file, or nothing.
struct Luma {
    LONG width = 0, height = 0;
    std::vector<double> values;
};

Luma LumaOf(const fs::path& path) {
    const std::vector<BYTE> bytes = ReadFile(path);
    IproPixels pixels;
    Luma luma;
    if (!IproJpegCodec::Decode(bytes.data(), bytes.size(), pixels))
        return luma;
    luma.width = pixels.width;
    luma.height = pixels.height;
    for (std::uint32_t p : pixels.argb)
        luma.values.push_back(0.299 * (p >> 16 & 0xFF) + 0.587 * (p >> 8 & 0xFF) + 0.114 * (p & 0xFF));
    return luma;
}

// The mean SSIM over 8 x 8 windows; -1 when the sizes differ.
double Ssim(const Luma& a, const Luma& b) {
    if (a.width != b.width || a.height != b.height || a.width < 8 || a.height < 8)
        return -1;
    constexpr double c1 = (0.01 * 255) * (0.01 * 255), c2 = (0.03 * 255) * (0.03 * 255);
    double total = 0;
    int windows = 0;
    for (LONG y = 0; y + 8 <= a.height; y += 4) {
        for (LONG x = 0; x + 8 <= a.width; x += 4) {
            double ma = 0, mb = 0, va = 0, vb = 0, cov = 0;
            for (LONG j = 0; j < 8; ++j)
                for (LONG i = 0; i < 8; ++i) {
                    ma += a.values[(y + j) * a.width + x + i];
                    mb += b.values[(y + j) * b.width + x + i];
                }
            ma /= 64;
            mb /= 64;
            for (LONG j = 0; j < 8; ++j)
                for (LONG i = 0; i < 8; ++i) {
                    const double da = a.values[(y + j) * a.width + x + i] - ma;
                    const double db = b.values[(y + j) * b.width + x + i] - mb;
                    va += da * da;
                    vb += db * db;
                    cov += da * db;
                }
            va /= 63;
            vb /= 63;
            cov /= 63;
            total += ((2 * ma * mb + c1) * (2 * cov + c2)) / ((ma * ma + mb * mb + c1) * (va + vb + c2));
            ++windows;
        }
    }
    return total / windows;
}

// The peak resident set since the last reset, in MiB; the reset works on Linux 4.0 and later.
void ResetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}
double PeakMemoryMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024;
    return 0;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool OnPath(const char* program) {
    const std::string command = std::string("command -v ") + program + " > /dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// Seconds per picture of a peer's command run once per picture, median of the runs; 0 when one fails.
double TimePeer(const std::vector<std::string>& commands) {
    std::vector<double> runs;
    for (int run = 0; run < kProgramRuns; ++run) {
        const auto start = Clock::now();
        for (const std::string& command : commands)
            if (std::system(command.c_str()) != 0)
                return 0;
        runs.push_back(std::chrono::duration<double>(Clock::now() - start).count() / commands.size());
    }
    return Median(runs);
}

double MeanSize(const std::vector<fs::path>& files) {
    double total = 0;
    for (const fs::path& file : files)
        total += fs::exists(file) ? static_cast<double>(fs::file_size(file)) : 0;
    return total / files.size() / 1024;
}

std::string Quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

// The wall and process CPU seconds of a piece of work.
struct Spent {
    double wall = 0;
    double cpu = 0;
};

double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

template <class Work>
Spent Timed(Work&& work) {
    const auto start = Clock::now();
    const double cpu = CpuSeconds();
    work();
    return Spent{std::chrono::duration<double>(Clock::now() - start).count(), CpuSeconds() - cpu};
}

// The medians per picture of the rounds' batches.
Spent PerPicture(const std::vector<Spent>& rounds) {
    std::vector<double> wall, cpu;
    for (const Spent& round : rounds) {
        wall.push_back(round.wall / kPictures);
        cpu.push_back(round.cpu / kPictures);
    }
    return Spent{Median(wall), Median(cpu)};
}

#if KV_HAVE_VIPS
// libvips' thumbnail of each photo into the same box and a JPEG file at the same quality; false when one
// fails.
bool VipsThumbnails(const std::vector<std::vector<BYTE>>& photos, const std::vector<fs::path>& outputs) {
    for (std::size_t i = 0; i < photos.size(); ++i) {
        VipsImage* thumbnail = nullptr;
        if (vips_thumbnail_buffer(const_cast<BYTE*>(photos[i].data()), photos[i].size(), &thumbnail, 640,
                                  "height", 480, nullptr))
            return false;
        const int failed =
            vips_jpegsave(thumbnail, outputs[i].c_str(), "Q", static_cast<int>(kQuality), nullptr);
        g_object_unref(thumbnail);
        if (failed)
            return false;
    }
    return true;
}
#endif

} // namespace

int main(int argc, char** argv) {
    // "--ours N": the saver alone, N rounds.
    const bool oursOnly = argc == 3 && std::string(argv[1]) == "--ours";
    const int rounds = oursOnly ? std::max(1, std::atoi(argv[2])) : kRuns;
    // The allocator's thresholds fixed, so that neither road's times depend on what the other freed
    // before it: otherwise glibc raises them after a large block is freed, and whoever runs after a road
    // that freed one is served from the heap instead of fresh, faulting pages.
    mallopt(M_MMAP_THRESHOLD, kMmapThreshold);
    mallopt(M_TRIM_THRESHOLD, kTrimThreshold);
#if KV_HAVE_VIPS
    if (VIPS_INIT(argv[0]))
        return 1;
    vips_concurrency_set(1);
    vips_cache_set_max(0);
#endif
    const fs::path folder = fs::temp_directory_path() / ("kv-mail-bench-" + std::to_string(getpid()));
    fs::create_directories(folder);
    std::printf("making %d photos of %d x %d ...\n", kPictures, kWidth, kHeight);
    std::vector<fs::path> sources;
    std::vector<std::vector<BYTE>> photos;
    std::vector<std::vector<BYTE>> photoBytes;
    for (int i = 0; i < kPictures; ++i) {
        photos.push_back(CHostPhotos::SceneJpeg(kWidth + i * 8, kHeight, 92));
        photoBytes.push_back(photos.back());
        sources.push_back(folder / ("photo" + std::to_string(i) + ".jpg"));
        std::ofstream(sources.back(), std::ios::binary)
            .write(reinterpret_cast<const char*>(photos.back().data()),
                   static_cast<std::streamsize>(photos.back().size()));
    }
    std::vector<fs::path> vipsOutputs;
    for (int i = 0; i < kPictures; ++i)
        vipsOutputs.push_back(folder / ("vips-thumbnail" + std::to_string(i) + ".jpg"));

    KvwSetModuleFactory([]() -> TBasicQWComp* { return new BenchModule; });
    iproStartup();
    std::vector<fs::path> ours;
    std::vector<Spent> oursRounds, vipsRounds;
    bool vipsFailed = false;
    double peak = 0;
    {
        CScriptedHost host;
        const std::size_t module = host.Add(CHostModule::FromExports(
            "mail bench", &KvwInitialize, &KvwMessage, &KvwGetInformation, &KvwClose));
        if (module == CScriptedHost::kNoModule || host.Initialize(module) != kKvwOk) {
            std::fprintf(stderr, "the module does not start\n");
            return 1;
        }
        for (int i = 0; i < kPictures; ++i)
            host.AddItem(CHostPhotos::JpegItem(i + 1, sources[i].string(), photos[i]));
        photos.clear();
        NoticeWindow window;
        TAsyncFileSaver saver;
        saver.SetNotifyTarget(window.Target());
        saver.Start();
        const auto saveAll = [&] {
            window.finished = 0;
            ours.clear();
            for (int i = 0; i < kPictures; ++i) {
                auto request = TRefPtr<TFileSaveData>::Adopt(new TFileSaveData);
                request->m_maxSize = graphtypes::TSize_T<LONG>(640, 480);
                request->m_jpegQuality = kQuality;
                request->m_item.id = i + 1;
                request->m_item.pictureSize = graphtypes::TSize_T<LONG>(kWidth + i * 8, kHeight);
                ours.push_back(folder / ("ours" + std::to_string(i) + ".jpg"));
                request->m_targetPath = TString(Utf::Utf8ToWide(ours.back().string()).c_str());
                saver.Post(request.Get());
            }
            WinUserTest::PumpUntil([&] { return window.finished == kPictures; }, 600000);
        };
        for (int round = 0; round < rounds; ++round) {
            const auto oursRound = [&] {
                ResetPeakMemory();
                oursRounds.push_back(Timed(saveAll));
                peak = std::max(peak, PeakMemoryMiB());
            };
#if KV_HAVE_VIPS
            const auto vipsRound = [&] {
                vipsRounds.push_back(Timed([&] { vipsFailed |= !VipsThumbnails(photoBytes, vipsOutputs); }));
            };
            if (oursOnly) {
                oursRound();
            } else if (round % 2 == 0) {
                oursRound();
                vipsRound();
            } else {
                vipsRound();
                oursRound();
            }
#else
            oursRound();
#endif
        }
        saver.Terminate();
        if (window.failed > 0)
            std::fprintf(stderr, "%d saves failed\n", window.failed);
        host.Close(module);
    }
    iproShutdown();

    const Spent oursTime = PerPicture(oursRounds);
    const Luma oursLuma = LumaOf(ours[0]);
    std::printf("\n%-26s %10s %10s %9s %11s %9s %8s %8s\n", "tool", "ms/picture", "CPU ms", "peak MiB",
                "KiB/picture", "peer/ours", "by CPU", "SSIM");
    std::printf("%-26s %10.1f %10.1f %9.1f %11.1f %9s %8s %8s\n", "mail saver", oursTime.wall * 1e3,
                oursTime.cpu * 1e3, peak, MeanSize(ours), "", "", "");
    if (oursOnly) {
        fs::remove_all(folder);
        return 0;
    }
#if KV_HAVE_VIPS
    if (vipsFailed) {
        std::printf("%-26s (failed)\n", "vips_thumbnail_buffer");
    } else {
        const Spent vipsTime = PerPicture(vipsRounds);
        std::printf("%-26s %10.1f %10.1f %9s %11.1f %9.2f %8.2f %8.4f\n", "vips_thumbnail_buffer",
                    vipsTime.wall * 1e3, vipsTime.cpu * 1e3, "-", MeanSize(vipsOutputs),
                    vipsTime.wall / oursTime.wall, vipsTime.cpu / oursTime.cpu,
                    Ssim(oursLuma, LumaOf(vipsOutputs[0])));
    }
#else
    std::printf("%-26s (not linked: -DKV_BENCH_PEERS=ON after KV_BENCH_PEERS=1 tools/setup-deps)\n",
                "vips_thumbnail_buffer");
#endif
    struct Peer {
        const char* name;
        const char* program;
        std::string (*command)(const fs::path& in, const fs::path& out);
    };
    const Peer peers[] = {
        {"vipsthumbnail -s 640", "vipsthumbnail",
         [](const fs::path& in, const fs::path& out) {
             return "vipsthumbnail -s 640 -o " + Quoted(out.string() + "[Q=80]") + " " + Quoted(in);
         }},
        // Debian's own name for ImageMagick 6's convert.
        {"convert jpeg:size 1280x960", "convert-im6.q16",
         [](const fs::path& in, const fs::path& out) {
             return "convert-im6.q16 -define jpeg:size=1280x960 " + Quoted(in) +
                    " -resize 640x480 -quality 80 " + Quoted(out);
         }},
    };
    for (const Peer& peer : peers) {
        if (!OnPath(peer.program)) {
            std::printf("%-26s (not installed: tools/setup-deps with KV_BENCH_PEERS=1)\n", peer.name);
            continue;
        }
        std::vector<std::string> commands;
        std::vector<fs::path> outputs;
        for (int i = 0; i < kPictures; ++i) {
            outputs.push_back(folder / (std::string(peer.program) + std::to_string(i) + ".jpg"));
            commands.push_back(peer.command(sources[i], outputs.back()));
        }
        const double seconds = TimePeer(commands);
        std::printf("%-26s %10.1f %10s %9s %11.1f %9.2f %8s %8.4f\n", peer.name, seconds * 1e3, "-", "-",
                    MeanSize(outputs), seconds / oursTime.wall, "-", Ssim(oursLuma, LumaOf(outputs[0])));
    }
    fs::remove_all(folder);
    return 0;
}
