#include "CKvRawDecoderProcess.h"

#include "CPravonFileStream.h"
#include "IPravonFileStream.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using namespace KvRawDecoder;

constexpr LONG kComponent = CKvRawDecoderProcess::kComponent;
// The program's address space: its libraries and working memory, plus what a file of its size may need
// (the file, LibRaw's unpacked sensor data and the answer, each a few times the file at most).
constexpr ULONGLONG kBaseMemoryBytes = ULONGLONG{2} << 30;
constexpr ULONGLONG kMemoryPerFileByte = 8;
// Descriptors below this are where the program expects its three; ours are moved above it first.
constexpr int kFirstFreeDescriptor = 10;
constexpr int kMillisecondsPerSecond = 1000;
// Where this process's open descriptors have names.
constexpr const char* kOwnDescriptors = "/proc/self/fd/";

std::mutex g_settingsLock;
CKvRawDecoderProcess::Settings g_settings;

IPravonError* Failed(const std::string& why) {
    return PravonFail(kComponent, PravonKind::kMissingInput, "the file could not be decoded: " + why);
}

std::string SecondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

// A descriptor closed when it goes out of scope.
class CDescriptor {
public:
    explicit CDescriptor(int fd = -1) : m_fd(fd) {}
    ~CDescriptor() { Reset(); }
    CDescriptor(const CDescriptor&) = delete;
    CDescriptor& operator=(const CDescriptor&) = delete;
    int Get() const { return m_fd; }
    int Release() { return std::exchange(m_fd, -1); }
    void Reset(int fd = -1) {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

// Moved above the three places the program expects, so that placing one never overwrites another; the
// original is closed.
int Lifted(int fd) {
    if (fd < 0)
        return -1;
    const int lifted = fcntl(fd, F_DUPFD_CLOEXEC, kFirstFreeDescriptor);
    close(fd);
    return lifted;
}

// The size of the pieces the file and the answer are moved in: small enough to stay in the cache.
constexpr std::size_t kCopyPieceBytes = std::size_t{1} << 20;

// The file's bytes in sealed memory the program can map but nobody can change any more. They are written
// through the descriptor, a piece at a time, rather than through a mapping of our own: each page such a
// mapping first touches is a fault, which on some virtual machines costs as much as writing the page many
// times over, and several workers faulting at once wait on one another.
IPravonError* ShareFile(IPravonFileStream* stream, ULONGLONG size, CDescriptor* file) {
    file->Reset(Lifted(memfd_create("kv-raw-file", MFD_CLOEXEC | MFD_ALLOW_SEALING)));
    if (file->Get() < 0 || ftruncate(file->Get(), static_cast<off_t>(size)) != 0)
        return PravonFail(kComponent, PravonKind::kOutOfMemory,
                          "no memory to share the file with the decoder");
    std::vector<BYTE> piece;
    try {
        piece.resize(static_cast<std::size_t>(std::min<ULONGLONG>(size, kCopyPieceBytes)));
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory,
                          "no memory to share the file with the decoder");
    }
    if (IPravonError* e = stream->Seek(0))
        return PravonContext(e, kComponent, "cannot read the file");
    for (ULONGLONG at = 0; at < size;) {
        const auto want = static_cast<ULONG>(std::min<ULONGLONG>(size - at, piece.size()));
        ULONG done = 0;
        if (IPravonError* e = stream->Read(piece.data(), want, &done))
            return PravonContext(e, kComponent, "cannot read the file");
        if (done == 0 || done > want)
            return Failed("the file ends early");
        for (ULONG written = 0; written < done;) {
            const ssize_t n =
                pwrite(file->Get(), piece.data() + written, done - written, static_cast<off_t>(at + written));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return PravonFail(kComponent, PravonKind::kOutOfMemory,
                                  "no memory to share the file with the decoder");
            written += static_cast<ULONG>(n);
        }
        at += done;
    }
    fcntl(file->Get(), F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
    return nullptr;
}

// The file itself for the decoder to read, when the stream is a plain file of the size the loader was
// told: opened afresh by its descriptor's name, so that the decoder's reading never moves the stream's
// position, and with no copy of its bytes. False where the stream is no plain file or the name cannot be
// opened; the caller then shares a copy.
bool OpenFileItself(IPravonFileStream* stream, ULONGLONG size, CDescriptor* file) {
    const auto* plain = dynamic_cast<const CPravonFileStream*>(stream);
    if (!plain || plain->Descriptor() < 0)
        return false;
    const std::string name = kOwnDescriptors + std::to_string(plain->Descriptor());
    int fd = -1;
    do {
        fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    file->Reset(Lifted(fd));
    struct stat status {};
    if (file->Get() >= 0 && fstat(file->Get(), &status) == 0 && S_ISREG(status.st_mode) &&
        static_cast<ULONGLONG>(status.st_size) == size)
        return true;
    file->Reset();
    return false;
}

// Reads `bytes` bytes at `at` of the descriptor whole; false when it holds fewer or cannot be read.
bool ReadAt(int fd, void* to, std::size_t bytes, std::size_t at) {
    for (std::size_t done = 0; done < bytes;) {
        const ssize_t n = pread(fd, static_cast<BYTE*>(to) + done, bytes - done, static_cast<off_t>(at + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

struct Ending {
    bool done = false;     // the program wrote its completion byte
    bool timedOut = false; // killed at the deadline
    bool reaped = false;
    int status = 0;
};

// Waits for the completion byte and the end of the pipe, then for the program; kills it at the deadline.
Ending WaitFor(pid_t pid, int pipe, double deadlineSeconds) {
    Ending ending;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(std::llround(deadlineSeconds * kMillisecondsPerSecond));
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ending.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        pollfd wait{pipe, POLLIN, 0};
        const int ready = poll(&wait, 1, static_cast<int>(std::min<long long>(left.count(), INT32_MAX)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            continue;
        char bytes[16];
        const ssize_t n = read(pipe, bytes, sizeof bytes);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        ending.done = ending.done || std::memchr(bytes, kDoneByte, static_cast<std::size_t>(n)) != nullptr;
    }
    for (;;) {
        const pid_t reaped = waitpid(pid, &ending.status, 0);
        if (reaped == pid) {
            ending.reaped = true;
            break;
        }
        // A host that ignores SIGCHLD has its children reaped for it: the pipe and the answer still tell.
        if (reaped < 0 && errno != EINTR)
            break;
    }
    return ending;
}

std::string WhyItEnded(const Ending& ending, double deadlineSeconds) {
    if (ending.timedOut)
        return "the decoder took longer than " + SecondsText(deadlineSeconds) + " s";
    if (ending.reaped && WIFSIGNALED(ending.status)) {
        const int signal = WTERMSIG(ending.status);
        if (signal == SIGXCPU || signal == SIGKILL)
            return "the decoder took longer than " + SecondsText(deadlineSeconds) + " s of processor time";
        if (signal == SIGXFSZ)
            return "the decoder's answer grew larger than the file can fill";
        return "the decoder stopped on damaged data (signal " + std::to_string(signal) + ")";
    }
    if (ending.reaped && WIFEXITED(ending.status) && WEXITSTATUS(ending.status) != 0)
        return "the decoder failed (exit " + std::to_string(WEXITSTATUS(ending.status)) + ")";
    if (!ending.done)
        return "the decoder ended without an answer";
    return {};
}

bool Terminated(const char* text, std::size_t size) {
    return std::memchr(text, '\0', size) != nullptr;
}

// Whether any sample exceeds `white`, a power of two less one: all of them ORed together show it.
bool AnyAbove(const WORD* samples, std::size_t count, std::uint32_t white) {
    WORD any = 0;
    for (std::size_t i = 0; i < count; ++i)
        any |= samples[i];
    return (any & ~white) != 0;
}

bool FiniteAll(const float* values, std::size_t count) {
    return std::all_of(values, values + count, [](float v) { return std::isfinite(v); });
}

} // namespace

CKvRawDecodedFile::CKvRawDecodedFile(const Answer& answer, int descriptor)
    : m_answer(answer), m_descriptor(descriptor) {}

CKvRawDecodedFile::~CKvRawDecodedFile() {
    if (m_descriptor >= 0)
        close(m_descriptor);
}

std::size_t CKvRawDecodedFile::GetSampleCount() const {
    return static_cast<std::size_t>(m_answer.sampleBytes / sizeof(WORD));
}

bool CKvRawDecodedFile::ReadSamples(std::size_t first, std::size_t count, WORD* to) const {
    const std::size_t total = GetSampleCount();
    if (first > total || count > total - first)
        return false;
    return ReadAt(m_descriptor, to, count * sizeof(WORD),
                  static_cast<std::size_t>(m_answer.sampleOffset) + first * sizeof(WORD));
}

void CKvRawDecoderProcess::Configure(const Settings& settings) {
    std::lock_guard lock(g_settingsLock);
    g_settings = settings;
}

CKvRawDecoderProcess::Settings CKvRawDecoderProcess::GetSettings() {
    std::lock_guard lock(g_settingsLock);
    return g_settings;
}

std::string CKvRawDecoderProcess::DefaultProgram() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&CKvRawDecoderProcess::DefaultProgram), &info) || !info.dli_fname)
        return kProgramName;
    std::string library = info.dli_fname;
    const std::size_t slash = library.find_last_of('/');
    return (slash == std::string::npos ? std::string() : library.substr(0, slash + 1)) + kProgramName;
}

std::string CKvRawDecoderProcess::CheckAnswer(const Answer& answer, std::size_t answerBytes,
                                              ULONGLONG fileBytes) {
    if (std::memcmp(answer.magic, kMagic, sizeof kMagic) != 0 || answer.version != kVersion)
        return "the decoder's answer is not one this loader reads";
    if (!Terminated(answer.message, sizeof answer.message) || !Terminated(answer.make, sizeof answer.make) ||
        !Terminated(answer.model, sizeof answer.model))
        return "the decoder's answer holds an unterminated text";
    if (answer.status != kDecoded)
        return {};
    if (answer.channels != kMosaicChannels && answer.channels != kLinearChannels)
        return "the decoder's answer has no known sample layout";
    const std::uint32_t white = answer.channels == kMosaicChannels ? kMaxSample : 0xFFFFu;
    if (answer.maxSample != white)
        return "the decoder's answer has the wrong white level";
    const ULONGLONG pixels = ULONGLONG{answer.width} * answer.height;
    if (answer.width < 2 || answer.height < 2 || answer.width > 0xFFFF || answer.height > 0xFFFF ||
        pixels > kMaxPixelsPerFileByte * fileBytes)
        return "the decoder's answer has an impossible size";
    if (answer.sampleBytes != pixels * answer.channels * sizeof(WORD) ||
        answer.sampleOffset < sizeof(Answer) || answer.sampleOffset % sizeof(WORD) != 0 ||
        answer.sampleOffset > answerBytes || answer.sampleBytes > answerBytes - answer.sampleOffset)
        return "the decoder's answer does not hold the samples it announces";
    if (answer.channels == kMosaicChannels) {
        bool colours[3] = {false, false, false};
        for (std::uint8_t cell : answer.cells) {
            if (cell > 2)
                return "the decoder's answer names an unknown filter colour";
            colours[cell] = true;
        }
        if (!colours[0] || !colours[1] || !colours[2])
            return "the decoder's answer has no red, green and blue in its mosaic";
    }
    if (!FiniteAll(answer.asShotMultipliers, 3) || !FiniteAll(answer.asShotNeutral, 3) ||
        !FiniteAll(answer.analogBalance, 3) || !FiniteAll(answer.xyzToCamera, 9))
        return "the decoder's answer holds a colour value that is no number";
    for (const DngColor& dng : answer.dng)
        if (!FiniteAll(dng.colorMatrix, 9) || !FiniteAll(dng.forwardMatrix, 9) ||
            !FiniteAll(dng.calibration, 9))
            return "the decoder's answer holds a colour value that is no number";
    return {};
}

std::string CKvRawDecoderProcess::CheckSamples(const CKvRawDecodedFile& file) {
    const Answer& answer = file.GetAnswer();
    const std::uint32_t white = answer.channels == kMosaicChannels ? kMaxSample : 0xFFFFu;
    std::vector<WORD> piece;
    try {
        piece.resize(std::min(file.GetSampleCount(), kCopyPieceBytes / sizeof(WORD)));
    } catch (const std::bad_alloc&) {
        return "no memory to check the decoder's answer";
    }
    for (std::size_t at = 0; at < file.GetSampleCount(); at += piece.size()) {
        const std::size_t count = std::min(piece.size(), file.GetSampleCount() - at);
        if (!file.ReadSamples(at, count, piece.data()))
            return "the decoder's answer cannot be read";
        if (AnyAbove(piece.data(), count, white))
            return "the decoder's answer holds samples above their white level";
    }
    return {};
}

IPravonError* CKvRawDecoderProcess::Decode(IPravonFileStream* stream, ULONGLONG size,
                                           std::unique_ptr<CKvRawDecodedFile>* out) {
    if (!stream || !out)
        return PravonFail(kComponent, PravonKind::kBadArgument, "a decode needs a stream and a place for it");
    out->reset();
    const Settings settings = GetSettings();
    const std::string program = settings.program.empty() ? DefaultProgram() : settings.program;
    const double deadline = std::isfinite(settings.deadlineSeconds) && settings.deadlineSeconds > 0
                                ? settings.deadlineSeconds
                                : kDefaultDeadlineSeconds;

    CDescriptor file;
    if (!OpenFileItself(stream, size, &file))
        if (IPravonError* e = ShareFile(stream, size, &file))
            return e;
    CDescriptor answer(Lifted(memfd_create("kv-raw-answer", MFD_CLOEXEC)));
    int ends[2] = {-1, -1};
    if (answer.Get() < 0 || pipe2(ends, O_CLOEXEC) != 0)
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory or descriptors for the decoder");
    CDescriptor readEnd(Lifted(ends[0])), writeEnd(Lifted(ends[1]));
    if (readEnd.Get() < 0 || writeEnd.Get() < 0)
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no descriptors for the decoder");

    const ULONGLONG memory = kBaseMemoryBytes + kMemoryPerFileByte * size;
    const ULONGLONG answerLimit =
        sizeof(Answer) + kMaxPixelsPerFileByte * size * kLinearChannels * sizeof(WORD);
    const long long cpuSeconds = std::max<long long>(1, std::llround(std::ceil(deadline)));
    const std::string arguments[] = {program, std::to_string(memory), std::to_string(cpuSeconds),
                                     std::to_string(answerLimit), std::to_string(getpid())};
    char* argv[] = {const_cast<char*>(arguments[0].c_str()), const_cast<char*>(arguments[1].c_str()),
                    const_cast<char*>(arguments[2].c_str()), const_cast<char*>(arguments[3].c_str()),
                    const_cast<char*>(arguments[4].c_str()), nullptr};
    // One thread; and a sanitized build's program ends of its crash as any other does, by the signal,
    // with no leak report at its exit.
    char threads[] = "OMP_NUM_THREADS=1";
    char address[] = "ASAN_OPTIONS=detect_leaks=0:handle_segv=0:handle_sigbus=0:handle_abort=0";
    char thread[] = "TSAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_abort=0";
    // The program's big blocks (the unpacked sensor data) in huge pages where the system has them: a
    // fresh process faults in every page it writes, and on some virtual machines each ordinary page's
    // first touch costs as much as writing it many times over, for every core at once.
    char hugePages[] = "GLIBC_TUNABLES=glibc.malloc.hugetlb=1";
    char* environment[] = {threads, address, thread, hugePages, nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGXCPU, SIGXFSZ, SIGSEGV, SIGBUS, SIGCHLD})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    for (int fd = 0; fd < 3; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, file.Get(), kInputDescriptor);
    posix_spawn_file_actions_adddup2(&actions, answer.Get(), kAnswerDescriptor);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), kDoneDescriptor);
    posix_spawn_file_actions_addclosefrom_np(&actions, kDoneDescriptor + 1);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environment);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0)
        return PravonFail(kComponent, PravonKind::kMissingInput,
                          "the camera raw decoder " + program +
                              " could not be started: " + std::strerror(spawned));
    // Only the program holds the pipe's writing end now, so its exit ends our reading.
    writeEnd.Reset();
    file.Reset();

    const Ending ending = WaitFor(pid, readEnd.Get(), deadline);
    if (const std::string why = WhyItEnded(ending, deadline); !why.empty())
        return Failed(why);

    struct stat status {};
    if (fstat(answer.Get(), &status) != 0 || status.st_size < static_cast<off_t>(sizeof(Answer)))
        return Failed("the decoder's answer is too short");
    const std::size_t answerBytes = static_cast<std::size_t>(status.st_size);
    // The answer stays where the decoder wrote it, and is read a piece at a time: once here for the
    // checks, and once more by whoever takes the samples.
    Answer header;
    if (!ReadAt(answer.Get(), &header, sizeof header, 0))
        return Failed("the decoder's answer is too short");
    std::string why = CheckAnswer(header, answerBytes, size);
    auto decoded = std::make_unique<CKvRawDecodedFile>(header, answer.Release());
    if (why.empty() && header.status == kDecoded)
        why = CheckSamples(*decoded);
    if (!why.empty())
        return Failed(why);
    if (header.status == kNoMemory)
        return Failed("the decoder ran out of memory");
    if (header.status != kDecoded) {
        std::string message = header.message;
        // The decoder's words reach the user: only printable ones.
        std::replace_if(
            message.begin(), message.end(), [](char c) { return c < ' ' || c > '~'; }, '?');
        return PravonFail(kComponent, PravonKind::kMissingInput,
                          header.status == kDamaged ? "the file is damaged: " + message
                                                    : "not a camera raw file that can be read: " + message);
    }
    *out = std::move(decoded);
    return nullptr;
}
