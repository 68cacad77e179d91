// The dust reference reader over hostile bytes, and the analysis of whatever it accepts. Beyond "no crash,
// no undefined behaviour": a refused blob leaves nothing made, an accepted one keeps its stream byte for
// byte, and the analysis of an accepted reference either refuses to start or runs to a complete result with
// progress that never passes its total.
#include "rawlib/filters/dust/CDustAnalyzer.h"
#include "rawlib/filters/dust/CDustReference.h"
#include "rawlib/filters/dust/KvDustReferenceFormat.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/quasel/CPravonTagControl.h"

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "dust reference invariant broken: %s\n", what);
    std::abort();
}

void PutTag(CPravonTagControl* tags, ULONG tag, LONG type, const void* data, ULONG size) {
    if (IPravonError* e = tags->WriteTag(tag, type, size, data))
        e->Release();
}

// The image's lens, aperture and tile size come from the shooting word, which the reader keeps unused.
void Analyse(CPravonMemoryManager& manager, CDustReference& reference) {
    const ULONG word = reference.GetShootingWord();
    PravonTagControlPtr tags(new CPravonTagControl());
    auto* control = static_cast<CPravonTagControl*>(tags.get());
    control->SetCameraModel(static_cast<WORD>(reference.GetCameraType()));
    const ULONG quality = 1;
    PutTag(control, 0x80004, 4, &quality, 4);
    const double fNumber = KvDust::FNumberOfCode((word >> 8) & 0xFF);
    std::uint64_t bits = std::bit_cast<std::uint64_t>(fNumber);
    BYTE real[8];
    for (int i = 0; i < 8; ++i)
        real[i] = static_cast<BYTE>(bits >> (8 * i));
    PutTag(control, 0x829D, 12, real, 8);
    BYTE lens[31] = {'0', '1', '0', '0'};
    lens[13] = static_cast<BYTE>(word & 0xFF);
    PutTag(control, 0x80098, 0x108, lens, sizeof lens);

    CDustAnalyzer analyzer(&manager);
    if (IPravonError* e = analyzer.Begin(&reference, tags.get())) {
        e->Release();
        if (analyzer.GetState() != CDustAnalyzer::kIdle)
            Fail("a refused analysis did not stay idle");
        return;
    }
    const int abortAfter = (word >> 16) & 0x3F;
    for (int step = 0;; ++step) {
        if (abortAfter != 0 && step == abortAfter) {
            analyzer.Abort();
            if (analyzer.GetState() != CDustAnalyzer::kIdle && !analyzer.IsComplete())
                Fail("Abort did not end the analysis");
            return;
        }
        LONG position = 0;
        LONG total = 0;
        if (IPravonError* e = analyzer.Step(&position, &total)) {
            e->Release();
            Fail("a step of a begun analysis failed");
        }
        if (position > total || position < 0)
            Fail("progress beyond its total");
        if (position == total)
            break;
        if (step > 1000000)
            Fail("the analysis does not end");
    }
    if (!analyzer.IsComplete())
        Fail("the analysis reached its total without completing");
    if (IPravonImage* image = analyzer.GetAnalysedImage()) {
        LONG width = 0;
        LONG height = 0;
        if (IPravonError* e = image->GetSize(&width, &height))
            e->Release();
        if (static_cast<ULONG>(width) != reference.GetWidth() ||
            static_cast<ULONG>(height) != reference.GetHeight())
            Fail("the analysed image is not of the reference's size");
        if (analyzer.GetCompressed().GetLength() == 0)
            Fail("an analysed image without its stream");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (std::size_t{1} << 20))
        return 0;
    const LONG tileSize = size > 0 && (data[size - 1] & 1) ? 7 : 64;
    CPravonMemoryManager manager(tileSize);
    CDustReference reference(&manager);
    IPravonError* error = reference.Load(static_cast<ULONG>(size), data);
    if (error) {
        error->Release();
        if (reference.IsLoaded() || manager.GetImageCount() != 0)
            Fail("a refused blob left an image behind");
        return 0;
    }
    const DustReferenceHeader& header = reference.GetHeader();
    const std::uint64_t offset = header.GetStreamOffset();
    if (reference.GetBlocks().GetLength() != header.compressedLength)
        Fail("the kept stream is not the stated length");
    if (std::memcmp(reference.GetBlocks().ToBytes().data(), data + offset, header.compressedLength) != 0)
        Fail("the kept stream differs from the blob's");
    if (header.headerSize == KvDust::kHeaderSize) {
        std::vector<BYTE> written;
        if (IPravonError* e = KvDust::WriteReference(header, reference.GetBlocks(), &written)) {
            e->Release();
            Fail("a loaded reference cannot be written");
        }
        if (written.size() > size || std::memcmp(written.data(), data, written.size()) != 0)
            Fail("a loaded reference writes another blob");
    }
    // Large references and small tiles make the analysis slow without reaching new paths.
    if (tileSize == 64 && std::uint64_t{header.width} * header.height <= 200 * 200)
        Analyse(manager, reference);
    return 0;
}
