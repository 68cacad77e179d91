// The raw sample reader and loader over hostile bytes. Beyond "no crash, no undefined behaviour": a refused
// file leaves the tag control empty and gives no image; an accepted one loads an image whose samples are
// the rows the reader gives, and writing what was read gives a file that reads back the same.
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/quasel/CKvRawSampleFile.h"
#include "platform/quasel/CKvRawSampleLoad.h"
#include "platform/quasel/CPravonTagControl.h"

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

// A stream over bytes in memory, so that each input is read exactly as a file of those bytes would be.
class MemoryStream final : public IPravonFileStream {
public:
    explicit MemoryStream(std::vector<BYTE> bytes) : m_bytes(std::move(bytes)) {}
    ~MemoryStream() override = default;

    IPravonError* Open(const PravonFile&, LONG) override { return nullptr; }
    IPravonError* Close() override { return nullptr; }
    bool IsOpen() const override { return true; }
    IPravonError* Read(void* buffer, ULONG count, ULONG* done) override {
        const std::size_t left = m_at < m_bytes.size() ? m_bytes.size() - m_at : 0;
        const std::size_t n = std::min<std::size_t>(count, left);
        if (n > 0)
            std::memcpy(buffer, m_bytes.data() + m_at, n);
        m_at += n;
        if (done)
            *done = static_cast<ULONG>(n);
        return nullptr;
    }
    IPravonError* Write(const void* data, ULONG count) override {
        if (m_at > m_bytes.size())
            m_bytes.resize(m_at);
        const auto* from = static_cast<const BYTE*>(data);
        for (ULONG i = 0; i < count; ++i, ++m_at) {
            if (m_at < m_bytes.size())
                m_bytes[m_at] = from[i];
            else
                m_bytes.push_back(from[i]);
        }
        return nullptr;
    }
    IPravonError* Seek(ULONGLONG position) override {
        m_at = static_cast<std::size_t>(position);
        return nullptr;
    }
    IPravonError* GetPosition(ULONGLONG* position) override {
        *position = m_at;
        return nullptr;
    }
    IPravonError* GetSize(ULONGLONG* size) override {
        *size = m_bytes.size();
        return nullptr;
    }
    // Lives on the stack of one input; references are counted only to satisfy the interface.
    ULONG AddRef() override { return ++m_references; }
    ULONG Release() override { return --m_references; }

    const std::vector<BYTE>& Bytes() const { return m_bytes; }

private:
    std::vector<BYTE> m_bytes;
    std::size_t m_at = 0;
    ULONG m_references = 1;
};

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
    MemoryStream stream(std::vector<BYTE>(data, data + size));
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

    MemoryStream copy({});
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
