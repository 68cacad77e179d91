#include "IproCodecLoad.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr std::size_t kPixelBytes = 4;

// Keeps what a codec reads, refusing more bytes than the library's largest image has.
class PixelSink final : public IIproCodecSink {
public:
    BOOL SetSize(std::size_t bytes) override {
        const std::uint64_t cap =
            static_cast<std::uint64_t>(IproLimits::kMaxSide) * IproLimits::kMaxSide * kPixelBytes;
        if (bytes > cap)
            return FALSE;
        try {
            m_bytes.assign(bytes, 0);
        } catch (const std::bad_alloc&) {
            return FALSE;
        }
        return TRUE;
    }
    BOOL Write(const void* data, std::size_t bytes, std::size_t offset) override {
        if (!data || offset > m_bytes.size() || bytes > m_bytes.size() - offset)
            return FALSE;
        std::memcpy(m_bytes.data() + offset, data, bytes);
        return TRUE;
    }
    const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }

private:
    std::vector<std::uint8_t> m_bytes;
};

bool WholeTable(const IproCodecTable* codec) {
    return codec && codec->size == sizeof(IproCodecTable) && codec->Create && codec->Open && codec->Read &&
           codec->Write && codec->GetInfo && codec->SetOption && codec->SetParameters && codec->Destroy;
}

// Destroys the codec whatever path the load leaves by.
class CodecScope {
public:
    CodecScope(const IproCodecTable& table, IproCodecHandle handle) : m_table(table), m_handle(handle) {}
    ~CodecScope() { m_table.Destroy(m_handle); }
    CodecScope(const CodecScope&) = delete;
    CodecScope& operator=(const CodecScope&) = delete;

private:
    const IproCodecTable& m_table;
    IproCodecHandle m_handle;
};

// The size inside the maximum with the proportions kept; the size itself when it fits or no maximum is
// given.
void Fit(LONG maxWidth, LONG maxHeight, LONG& width, LONG& height) {
    if (maxWidth <= 0 || maxHeight <= 0 || (width <= maxWidth && height <= maxHeight))
        return;
    const double factor =
        std::min(static_cast<double>(maxWidth) / width, static_cast<double>(maxHeight) / height);
    width = std::clamp<LONG>(static_cast<LONG>(std::lround(width * factor)), 1, maxWidth);
    height = std::clamp<LONG>(static_cast<LONG>(std::lround(height * factor)), 1, maxHeight);
}

} // namespace

bool IproCodecLoad::Load(const wchar_t* itemId, const IproCodecTable* codec, void* cancel,
                         const IproCodecParamList* params, LONG maxWidth, LONG maxHeight, IproPixels& out) {
    if (!itemId || !WholeTable(codec))
        return false;
    IproCodecHandle handle = 0;
    if (!codec->Create(&handle, cancel))
        return false;
    CodecScope scope(*codec, handle);
    if (params && !codec->SetParameters(handle, params))
        return false;
    IproCodecInfo info{};
    if (!codec->Open(handle, itemId) || !codec->GetInfo(handle, IPRO_INFO_IMAGE, &info))
        return false;
    LONG width = info.width, height = info.height;
    if (width < 1 || height < 1)
        return false;
    // What must be held is the size read: a picture stated larger than that (a design page's proportion
    // words, say) is read fitted into the maximum asked for.
    Fit(maxWidth, maxHeight, width, height);
    if (!IproLimits::Allowed(width, height))
        return false;
    LONG size[2] = {height, width};
    if (!codec->SetOption(handle, IPRO_OPTION_SIZE, size))
        return false;
    PixelSink sink;
    if (!codec->Read(handle, IPRO_FORMAT_BGRA32, static_cast<LONG>(kPixelBytes), &sink))
        return false;
    IproCodecInfo read{};
    if (!codec->GetInfo(handle, IPRO_INFO_IMAGE, &read) || read.width != width || read.height != height)
        return false;
    IproPixels pixels;
    if (!IproLimits::MakePixels(width, height, pixels) ||
        sink.Bytes().size() != pixels.argb.size() * kPixelBytes)
        return false;
    const std::uint8_t* bytes = sink.Bytes().data();
    for (std::uint32_t& pixel : pixels.argb) {
        // Blue, green, red, alpha, as the colours come (not yet multiplied by their alpha).
        pixel = Premultiplied(bytes[3], bytes[2], bytes[1], bytes[0]);
        bytes += kPixelBytes;
    }
    out = std::move(pixels);
    return true;
}
