// The dust map reader over hostile bytes. Beyond "no crash, no undefined behaviour": a refused blob leaves a
// map that already held one unchanged, and an accepted one writes a blob that reads back and writes again
// to the same bytes.
#include "rawlib/filters/dust/CDustImageEncoder.h"
#include "rawlib/filters/dust/CDustMap.h"

#include "platform/pravon/CPravonMemoryManager.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "dust map invariant broken: %s\n", what);
    std::abort();
}

std::vector<BYTE> Write(const CDustMap& map) {
    std::vector<BYTE> out(map.GetDataSize());
    if (out.empty())
        Fail("a complete map has no size");
    if (IPravonError* e = map.WriteData(static_cast<ULONG>(out.size()), out.data())) {
        e->Release();
        Fail("a complete map cannot be written");
    }
    return out;
}

// A small map written by the engine's own writer, for the "keeps what it held" check.
const std::vector<BYTE>& HeldBlob() {
    static const std::vector<BYTE> blob = [] {
        CPravonMemoryManager manager;
        IPravonImage* raw = nullptr;
        if (manager.CreateImage(1, &raw))
            Fail("no image");
        PravonImagePtr image(raw);
        if (image->SetColorSpace(PravonColorSpace::kGrey8) || image->SetSize(8, 8))
            Fail("no image");
        CDustBlockList blocks;
        if (CDustImageEncoder::Encode(image.get(), &blocks))
            Fail("the map cannot be compressed");
        std::vector<BYTE> tone;
        if (KvDust::CompressToneTable(std::vector<WORD>(KvDust::kToneEntries8, 9), &tone))
            Fail("the tone table cannot be compressed");
        DustMapHeader header;
        header.width = 8;
        header.height = 8;
        header.toneEntries = KvDust::kToneEntries8;
        std::vector<BYTE> out(40 + tone.size() + blocks.GetLength());
        if (KvDust::WriteMap(header, tone, blocks, CDustBlockList(), out.size(), out.data()))
            Fail("the map cannot be written");
        return out;
    }();
    return blob;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (std::size_t{1} << 20))
        return 0;
    CPravonMemoryManager manager(size > 0 && (data[size - 1] & 1) ? 7 : 64);
    CDustMap map(&manager);
    const std::vector<BYTE>& held = HeldBlob();
    if (IPravonError* e = map.ReadData(static_cast<ULONG>(held.size()), held.data())) {
        e->Release();
        Fail("the held map cannot be read");
    }
    IPravonError* error = map.ReadData(static_cast<ULONG>(size), data);
    if (error) {
        error->Release();
        if (Write(map) != held)
            Fail("a refused blob changed the map");
        return 0;
    }
    const std::vector<BYTE> written = Write(map);
    CDustMap again(&manager);
    if (IPravonError* e = again.ReadData(static_cast<ULONG>(written.size()), written.data())) {
        e->Release();
        Fail("a written map cannot be read back");
    }
    if (Write(again) != written)
        Fail("a map read back writes other bytes");
    return 0;
}
