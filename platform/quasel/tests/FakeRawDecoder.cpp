// A decoder program that misbehaves on purpose, for the loader's tests: what it does is the name it was
// started under (the tests link it under several names).
//   crash         dies of a segmentation fault
//   hang          never answers
//   silent        exits 0 without the completion byte
//   exit3         exits 3 after the completion byte
//   garbage       answers bytes that are no answer
//   short         answers a header shorter than an answer
//   overclaim     announces more samples than it holds
//   hot           answers samples above the 12-bit white level
//   huge          announces more pixels than the file can hold
//   descriptors   answers a mosaic whose width is the number of descriptors it found open
#include "platform/quasel/KvRawDecoderAnswer.h"

#include <csignal>
#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

using namespace KvRawDecoder;

KvRawDecoder::Answer Decoded(std::uint32_t width, std::uint32_t height) {
    KvRawDecoder::Answer a{};
    std::memcpy(a.magic, kMagic, sizeof kMagic);
    a.version = kVersion;
    a.status = kDecoded;
    a.width = width;
    a.height = height;
    a.channels = kMosaicChannels;
    a.maxSample = kMaxSample;
    const std::uint8_t cells[4] = {0, 1, 1, 2};
    std::memcpy(a.cells, cells, 4);
    a.orientation = 1;
    a.sampleOffset = sizeof(Answer);
    a.sampleBytes = std::uint64_t{width} * height * 2;
    return a;
}

void WriteAnswer(const KvRawDecoder::Answer& a, std::size_t sampleBytes, std::uint16_t fill) {
    const std::size_t total = sizeof a + sampleBytes;
    if (ftruncate(kAnswerDescriptor, static_cast<off_t>(total)) != 0)
        _exit(70);
    void* m = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_SHARED, kAnswerDescriptor, 0);
    if (m == MAP_FAILED)
        _exit(71);
    std::memcpy(m, &a, sizeof a);
    auto* samples = reinterpret_cast<std::uint16_t*>(static_cast<char*>(m) + sizeof a);
    for (std::size_t i = 0; i < sampleBytes / 2; ++i)
        samples[i] = fill;
}

void Done() {
    const char done = kDoneByte;
    if (write(kDoneDescriptor, &done, 1) != 1)
        _exit(72);
}

int OpenDescriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (dirent* e = readdir(dir))
            if (e->d_name[0] != '.')
                ++count;
        closedir(dir);
    }
    return count - 1; // the directory's own
}

} // namespace

int main(int, char** argv) {
    const std::string path = argv[0];
    const std::string mode = path.substr(path.find_last_of('/') + 1);
    if (mode == "crash")
        raise(SIGSEGV);
    if (mode == "hang")
        for (;;)
            pause();
    if (mode == "silent")
        return 0;
    if (mode == "exit3") {
        Done();
        return 3;
    }
    if (mode == "garbage") {
        KvRawDecoder::Answer a = Decoded(4, 4);
        a.magic[0] = 'X';
        WriteAnswer(a, 32, 0);
    } else if (mode == "short") {
        if (ftruncate(kAnswerDescriptor, 16) != 0)
            return 70;
    } else if (mode == "overclaim") {
        KvRawDecoder::Answer a = Decoded(64, 64);
        WriteAnswer(a, 100, 0);
    } else if (mode == "hot") {
        WriteAnswer(Decoded(8, 8), 8 * 8 * 2, 5000);
    } else if (mode == "huge") {
        KvRawDecoder::Answer a = Decoded(60000, 60000);
        a.sampleBytes = 0;
        WriteAnswer(a, 0, 0);
    } else if (mode == "descriptors") {
        WriteAnswer(Decoded(static_cast<std::uint32_t>(OpenDescriptors()), 2), 64, 0);
    } else {
        return 64;
    }
    Done();
    return 0;
}
