// The raw sample reader and loader over hostile bytes. Beyond "no crash, no undefined behaviour": a refused
// file leaves the tag control empty and gives no image; an accepted one loads an image whose samples are
// the rows the reader gives, and writing what was read gives a file that reads back the same.
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/quasel/CKvRawSampleFile.h"
#include "platform/quasel/CKvRawSampleLoad.h"
#include "platform/quasel/CPravonTagControl.h"

#include "testing/MemoryFileStream.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "raw sample invariant broken: %s\n", what);
    std::abort();
}

struct TagsReleaser {
    void operator()(CPravonTagControl* tags) const { tags->Release(); }
};

std::vector<WORD> AllRows(CKvRawSampleFile& file) {
    std::vector<WORD> samples(static_cast<std::size_t>(file.GetWidth()) * file.GetHeight());
    PravonErrorPtr e(
        file.ReadRows(0, file.GetHeight(), samples.data(), static_cast<std::size_t>(file.GetWidth())));
    if (e)
        Fail("an accepted file cannot give its rows");
    return samples;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    MemoryFileStream stream(std::vector<BYTE>(data, data + size));
    std::unique_ptr<CPravonTagControl, TagsReleaser> tags(new CPravonTagControl());
    IPravonLoad* rawLoad = nullptr;
    if (PravonErrorPtr(IPravonLoad::CreateLoad(&rawLoad)))
        return 0;
    PravonLoadPtr load(rawLoad);
    if (PravonErrorPtr(load->Open(&stream, tags.get()))) {
        if (tags->GetTagCount() != 0)
            Fail("a refused file changed the tag control");
        return 0;
    }
    CPravonMemoryManager manager(64);
    IPravonImage* rawImage = nullptr;
    if (PravonErrorPtr(manager.CreateImage(1, &rawImage)))
        return 0;
    PravonImagePtr image(rawImage);
    if (PravonErrorPtr(load->Begin(image.get())))
        Fail("an accepted file cannot begin its load");
    while (!load->IsComplete())
        if (PravonErrorPtr(load->Step()))
            Fail("an accepted file cannot be loaded to its end");

    CKvRawSampleFile file;
    if (PravonErrorPtr(file.Open(&stream)))
        Fail("an accepted file is refused the second time");
    CKvRawSampleFile::Content content;
    content.width = file.GetWidth();
    content.height = file.GetHeight();
    content.samples = AllRows(file);
    content.hasCameraModel = file.HasCameraModel();
    content.cameraModel = file.GetCameraModel();
    content.tags = file.GetTags();
    for (LONG y = 0; y < content.height; y += 17) {
        for (LONG x = 0; x < content.width; x += 13) {
            PravonPixel pixel;
            if (PravonErrorPtr(image->GetPixel(x, y, &pixel)) ||
                pixel.sample[0] != content.samples[static_cast<std::size_t>(y) * content.width + x])
                Fail("the loaded image differs from the file's rows");
        }
    }

    MemoryFileStream copy({});
    if (PravonErrorPtr(CKvRawSampleFile::Write(&copy, content)))
        Fail("what was read cannot be written");
    CKvRawSampleFile again;
    if (PravonErrorPtr(again.Open(&copy)))
        Fail("a written file is refused");
    if (again.GetWidth() != content.width || again.GetHeight() != content.height ||
        again.HasCameraModel() != content.hasCameraModel || again.GetCameraModel() != content.cameraModel ||
        again.GetTags().size() != content.tags.size() || AllRows(again) != content.samples)
        Fail("a written file reads back differently");
    for (std::size_t i = 0; i < content.tags.size(); ++i)
        if (again.GetTags()[i].tag != content.tags[i].tag ||
            again.GetTags()[i].type != content.tags[i].type ||
            again.GetTags()[i].value != content.tags[i].value)
            Fail("a tag reads back differently");
    return 0;
}
