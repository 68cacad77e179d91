// The camera raw loader over hostile bytes, through the decoder program it starts: a crash of the decoder
// is a refused file there, so what this finds is ours. Beyond "no crash, no undefined behaviour": a refused
// file leaves the tag control empty; an accepted one gives samples of the size it announced within their
// white level (12 bits for a mosaic), whose load ends in as many steps as it has bands.
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/quasel/CPravonCameraRawLoad.h"
#include "platform/quasel/CPravonTagControl.h"

#include "testing/MemoryFileStream.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "camera raw load invariant broken: %s\n", what);
    std::abort();
}

struct TagsReleaser {
    void operator()(CPravonTagControl* tags) const { tags->Release(); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    MemoryFileStream stream(std::vector<BYTE>(data, data + size));
    PravonLoadPtr load(new CPravonCameraRawLoad());
    auto* camera = static_cast<CPravonCameraRawLoad*>(load.get());
    std::unique_ptr<CPravonTagControl, TagsReleaser> tags(new CPravonTagControl());
    if (PravonErrorPtr(load->Open(&stream, tags.get()))) {
        if (tags->GetTagCount() != 0)
            Fail("a refused file changed the tag control");
        return 0;
    }
    const bool mosaic = camera->GetColorSpace() == CPravonCameraRawLoad::kMosaic;
    if (camera->GetSampleCount() != std::size_t(camera->GetWidth()) * camera->GetHeight() * (mosaic ? 1 : 3))
        Fail("the samples are not as many as the size announces");
    std::vector<WORD> samples(camera->GetSampleCount());
    if (!camera->ReadSamples(0, samples.size(), samples.data()))
        Fail("the announced samples cannot be read");
    if (camera->ReadSamples(1, samples.size(), samples.data()))
        Fail("a read past the last sample succeeded");
    if (mosaic)
        for (std::size_t i = 0; i < camera->GetSampleCount(); ++i)
            if (samples[i] > CPravonCameraRawLoad::kMaxSample)
                Fail("a sample beyond 12 bits");
    CPravonMemoryManager manager(64);
    IPravonImage* rawImage = nullptr;
    if (PravonErrorPtr(manager.CreateImage(1, &rawImage)))
        return 0;
    PravonImagePtr image(rawImage);
    if (PravonErrorPtr(load->Begin(image.get())))
        Fail("an accepted file cannot begin its load");
    LONG width = 0, height = 0;
    if (PravonErrorPtr(image->GetSize(&width, &height)) || width != camera->GetWidth() ||
        height != camera->GetHeight())
        Fail("the image does not have the announced size");
    LONG steps = 0;
    while (!load->IsComplete()) {
        if (PravonErrorPtr(load->Step()))
            Fail("a step of an accepted file failed");
        if (++steps > height)
            Fail("the load steps past its rows");
    }
    return 0;
}
