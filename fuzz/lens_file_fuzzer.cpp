// The lens file's reader over hostile bytes: a rejected file leaves no tables (or, under another id, the
// object as it was); an accepted one is exactly a whole record and writes back byte for byte, but for its id,
// which goes back in the form writers use. An accepted file then goes through the lens cache into a fisheye
// filter, which remaps a small picture through its tables and maps points and rectangles with them, whatever
// values they hold.
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "platform/quasel/CPravonTagControl.h"
#include "rawlib/filters/CFisheyeFilter.h"
#include "rawlib/settings/CKvLensInformation.h"
#include "rawlib/settings/KvStateIds.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "lens file invariant broken: %s\n", what);
    std::abort();
}

// An object that holds tables already, so that what a rejected file leaves behind shows.
CKvLensInformation Loaded() {
    std::vector<double> ramp(CKvLensInformation::kTableLength);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<double>(i) / 4095.0;
    CKvLensInformation information;
    for (int t = 0; t < CKvLensInformation::kTableCount; ++t)
        information.SetTable(static_cast<CKvLensInformation::Table>(t), ramp.data());
    information.SetLensModel(0x11);
    return information;
}

void Check(IPravonError* e, const char* what) {
    if (e) {
        std::fprintf(stderr, "%s: %s\n", what, e->Describe().c_str());
        e->Release();
        Fail(what);
    }
}

// The lens file of a machine folder of this process's own.
std::string LensFile() {
    static const std::string path = [] {
        char folder[] = "/tmp/lens_file_fuzz_XXXXXX";
        if (!mkdtemp(folder))
            Fail("no folder for the machine");
        setenv("KV_SYSTEM_ROOT", folder, 1);
        static const std::string machine = folder;
        std::atexit([] {
            std::error_code error;
            std::filesystem::remove_all(machine, error);
        });
        CKvString file;
        GetLensFilePath(file, CKvLensInformation::kFisheyeLens);
        std::filesystem::create_directories(std::filesystem::path(file.GetBuffer()).parent_path());
        return std::string(file.GetBuffer());
    }();
    return path;
}

// A small picture of both depths through a fisheye filter that selected the lens file, with both table sets,
// pulled whole at a small tile size; then every mapping on the picture's corners and centre.
void Remap(const std::uint8_t* data, std::size_t size) {
    std::ofstream(LensFile(), std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    CPravonTagControl* tags = new CPravonTagControl;
    const double range[4] = {10.5, 10.5, 2.8, 2.8};
    Check(tags->WriteTag(kKvLensRangeTag, 12, sizeof range, range), "tags");
    for (LONG colorSpace : {PravonColorSpace::kRGB8, PravonColorSpace::kRGB16}) {
        CPravonMemoryManager manager(7);
        IPravonImage* image = nullptr;
        Check(manager.CreateImage(1, &image), "source");
        PravonImagePtr source(image);
        Check(source->SetColorSpace(colorSpace), "colour space");
        Check(source->SetSize(13, 9), "size");
        CFisheyeFilter filter(&manager);
        Check(PravonConnect(source.get(), &filter), "connect");
        Check(filter.SelectLensModel(tags), "an accepted lens file was not taken");
        for (BYTE flag : {0, 1}) {
            Check(filter.SetTableFlag(flag, false), "flag");
            for (LONG row = 0; row < 2; ++row)
                for (LONG column = 0; column < 2; ++column) {
                    void* pixels = nullptr;
                    Check(filter.LockTile(column, row, &pixels, nullptr), "remap");
                    Check(filter.UnlockTile(column, row), "unlock");
                }
            for (const PravonRect& r :
                 {PravonRect{0, 0, 13, 9}, PravonRect{6, 4, 7, 5}, PravonRect{2, 1, 11, 8}}) {
                PravonRect back = r, forward = r;
                Check(filter.DefilterRect(&back, nullptr, 0), "defilter");
                Check(filter.FilterRect(&forward, nullptr, 0), "filter");
                if (back.left < 0 || back.right > 13 || back.top < 0 || back.bottom > 9 || forward.left < 0 ||
                    forward.right > 13 || forward.top < 0 || forward.bottom > 9)
                    Fail("a mapped rectangle left the picture");
                LONG x = r.right, y = r.bottom;
                Check(filter.DefilterPoint(&x, &y, nullptr, 0), "defilter point");
                if (x < 0 || x > 13 || y < 0 || y > 9)
                    Fail("a mapped point left the picture");
            }
        }
        Check(PravonDisconnect(source.get(), &filter), "disconnect");
    }
    tags->Release();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > static_cast<std::size_t>(CKvLensInformation::kRecordSize) + 64)
        return 0; // longer files are refused by their length before they are read
    CKvLensInformation information = Loaded();
    const int result = information.ReadState(data, static_cast<int>(size));
    // Either form of the id makes the record the reader's own, as it does for every settings record.
    const KvStateId& id = KvStateIds::kLensInformation;
    const bool ours = size >= 16 && id.Matches(data);
    if (result == 0) {
        if (ours && (information.GetTable(CKvLensInformation::kTableA) || information.HasLensData()))
            Fail("a rejected lens file left tables behind");
        if (!ours && (!information.HasLensData() || information.GetLensModel() != 0x11))
            Fail("a record of another kind changed the object");
        return 0;
    }
    if (result != CKvLensInformation::kRecordSize || size != static_cast<std::size_t>(result))
        Fail("a lens file was accepted that is not exactly a whole record");
    if (!information.HasLensData() || !information.GetTable(CKvLensInformation::kTableD))
        Fail("an accepted lens file left a table out");
    std::vector<std::uint8_t> written(size);
    if (information.WriteState(written.data(), static_cast<int>(size)) != result)
        Fail("write and read disagree on the size");
    if (std::memcmp(written.data(), id.Data(), 16) != 0 ||
        std::memcmp(written.data() + 16, data + 16, size - 16) != 0)
        Fail("an accepted lens file does not write back byte for byte");
    CKvLensInformation copy;
    copy = information;
    for (int t = 0; t < CKvLensInformation::kTableCount; ++t) {
        const auto table = static_cast<CKvLensInformation::Table>(t);
        if (std::memcmp(copy.GetTable(table), information.GetTable(table),
                        sizeof(double) * CKvLensInformation::kTableLength) != 0)
            Fail("assignment did not copy a table whole");
    }
    Remap(data, size);
    return 0;
}
