// The camera raw decoder program: opens one file with LibRaw, unpacks its sensor data and hands back the
// 12-bit samples and the metadata the loader needs, in a process of its own, so that a crash of LibRaw on
// a damaged or hostile file ends this program and never the one that loads the picture.
//
//   quasel-raw-decoder MEMORY_BYTES CPU_SECONDS ANSWER_BYTES PARENT_PID
//
// The file's bytes are read from descriptor 3, the answer is written into the memory behind descriptor 4,
// and one byte on descriptor 5 says that the answer is complete. The limits are taken before the file is
// touched.
#include "CKvRawDecode.h"

#include "platform/quasel/KvRawDecoderAnswer.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KV_SANITIZED_DECODER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define KV_SANITIZED_DECODER 1
#endif
#endif

namespace {

// Exit codes; the loader reads only the answer and treats any other end as a failed decode.
constexpr int kExitDone = 0;
constexpr int kExitUsage = 64;
constexpr int kExitNoInput = 66;
constexpr int kExitNoAnswer = 74;
constexpr int kMaxDescriptors = 16;
// Where this process's open descriptors have names.
constexpr const char* kOwnDescriptors = "/proc/self/fd/";
// Files from this size on are read by name rather than copied whole: a whole sensor's worth, where the copy
// costs as much fresh memory as the unpacked samples.
constexpr std::size_t kReadByNameBytes = std::size_t{4} << 20;

bool ParseCount(const char* text, unsigned long long* value) {
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    *value = std::strtoull(text, &end, 10);
    return errno == 0 && end && *end == '\0';
}

bool Limit(int resource, rlim_t value) {
    const rlimit limit{value, value};
    return setrlimit(resource, &limit) == 0;
}

// Says on the completion descriptor that the answer is whole.
int Finish() {
    const char done = KvRawDecoder::kDoneByte;
    if (write(KvRawDecoder::kDoneDescriptor, &done, 1) != 1)
        return kExitNoAnswer;
    return kExitDone;
}

} // namespace

int main(int argc, char** argv) {
    unsigned long long memory = 0, cpuSeconds = 0, answerBytes = 0, parent = 0;
    if (argc != 5 || !ParseCount(argv[1], &memory) || !ParseCount(argv[2], &cpuSeconds) ||
        !ParseCount(argv[3], &answerBytes) || !ParseCount(argv[4], &parent))
        return kExitUsage;
    // Never outlive the loader that waits for us.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (static_cast<unsigned long long>(getppid()) != parent)
        return kExitUsage;
    // A crash leaves no core file behind; the processor time and the answer's size are bounded.
    bool limited = Limit(RLIMIT_CORE, 0) && Limit(RLIMIT_CPU, cpuSeconds) &&
                   Limit(RLIMIT_FSIZE, answerBytes) && Limit(RLIMIT_NOFILE, kMaxDescriptors);
#ifndef KV_SANITIZED_DECODER
    // The sanitizers reserve terabytes of address space for their shadow memory; their builds run without
    // this one bound and rely on the others.
    limited = limited && Limit(RLIMIT_AS, memory);
#endif
    if (!limited)
        return kExitUsage;

    struct stat input {};
    if (fstat(KvRawDecoder::kInputDescriptor, &input) != 0 || input.st_size <= 0)
        return kExitNoInput;
    const std::size_t fileBytes = static_cast<std::size_t>(input.st_size);
    // A big file is read by its descriptor's name as LibRaw needs the bytes: a copy of it would be as much
    // fresh memory again as the unpacked sensor data, and a fresh process faults in every page it writes.
    const std::string byName = std::string(kOwnDescriptors) + std::to_string(KvRawDecoder::kInputDescriptor);
    if (fileBytes >= kReadByNameBytes) {
        const int probe = open(byName.c_str(), O_RDONLY | O_CLOEXEC);
        if (probe >= 0) {
            close(probe);
            CKvRawDecode decode(byName, fileBytes);
            return decode.Run(KvRawDecoder::kAnswerDescriptor) ? Finish() : kExitNoAnswer;
        }
    }
    // A small file, or one whose descriptor has no name here, is read into memory of our own, whose big
    // blocks the loader has the allocator take in huge pages.
    std::unique_ptr<unsigned char[]> file(new (std::nothrow) unsigned char[fileBytes]);
    if (!file)
        return kExitNoInput;
    for (std::size_t at = 0; at < fileBytes;) {
        const ssize_t n =
            pread(KvRawDecoder::kInputDescriptor, file.get() + at, fileBytes - at, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return kExitNoInput;
        at += static_cast<std::size_t>(n);
    }

    CKvRawDecode decode(file.get(), fileBytes);
    return decode.Run(KvRawDecoder::kAnswerDescriptor) ? Finish() : kExitNoAnswer;
}
