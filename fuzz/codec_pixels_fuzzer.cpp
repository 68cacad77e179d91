// The codec's pixel paths over hostile input: whatever picture, destination format, mode, alignment and
// wanted size a host and a renderer bring, Read's buffer holds exactly its rows, is written only where the
// picture's pixels land and never beyond; and whatever size an item codec reports and however many bytes
// it delivers, the canvas library's loader takes only pixels of exactly the size reported.
#include "CodecPixelsInput.h"

#include "plugin_framework/TCodecReadBuffer.h"

#include "platform/zizoraz/IproCodecLoad.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "codec pixel invariant broken: %s\n", what);
    std::abort();
}

// The item codec that the loader drives: it reports the input's size and delivers the input's bytes.
struct Script {
    LONG width = 0, height = 0;
    long delta = 0;
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
} g_script;

BOOL Create(IproCodecHandle* codec, void*) {
    *codec = 1;
    return TRUE;
}
BOOL Open(IproCodecHandle, const wchar_t*) {
    return TRUE;
}
BOOL Read(IproCodecHandle, DWORD, LONG, IIproCodecSink* sink) {
    const long wanted = static_cast<long>(g_script.width) * g_script.height * 4 + g_script.delta;
    std::vector<BYTE> out(static_cast<std::size_t>(std::max(0L, wanted)));
    for (std::size_t i = 0; i < out.size() && g_script.size; ++i)
        out[i] = g_script.bytes[i % g_script.size];
    return sink->SetSize(out.size()) && sink->Write(out.data(), out.size(), 0);
}
BOOL Write(IproCodecHandle, const wchar_t*, const IproCodecParamList*) {
    return FALSE;
}
BOOL GetInfo(IproCodecHandle, LONG, void* data) {
    *static_cast<IproCodecInfo*>(data) = IproCodecInfo{g_script.height, g_script.width, 0x08060201, 24};
    return TRUE;
}
BOOL SetOption(IproCodecHandle, LONG, void*) {
    return TRUE;
}
BOOL SetParameters(IproCodecHandle, const IproCodecParamList*) {
    return TRUE;
}
BOOL Destroy(IproCodecHandle) {
    return TRUE;
}
const IproCodecTable kTable{sizeof(IproCodecTable), &Create, &Open, &Read, &Write, &GetInfo, &SetOption,
                            &SetParameters,         &Destroy};

void ReadPicture(const codecfuzz::Header& h, const std::uint8_t* bytes, std::size_t size) {
    const LONG wantedWidth = h.wantedWidth % codecfuzz::kMaxSide,
               wantedHeight = h.wantedHeight % codecfuzz::kMaxSide;
    const LONG channels = 1 + h.channels % 8;
    const LONG width = 1 + h.width % codecfuzz::kMaxSide, rows = h.rows % codecfuzz::kMaxSide;
    // Alignments up to 64 (of either sign); larger ones are refused above the buffer cap, as a unit test
    // shows, and would only slow the search.
    const LONG alignment = h.alignment % 65;
    TCodecReadBuffer buffer;
    if (!buffer.Allocate(h.format, alignment, wantedWidth, wantedHeight))
        return;
    const std::size_t pixelBytes = TCodecReadBuffer::PixelBytes(h.format);
    if (buffer.GetStride() < pixelBytes * wantedWidth ||
        buffer.GetBytes().size() != buffer.GetStride() * wantedHeight)
        Fail("the buffer is not the wanted rows");
    std::vector<BYTE> row(static_cast<std::size_t>(width) * channels);
    for (LONG y = 0; y < rows; ++y) {
        for (std::size_t i = 0; i < row.size(); ++i)
            row[i] = size ? bytes[(static_cast<std::size_t>(y) * row.size() + i) % size] : 0;
        buffer.PutRow(y, row.data(), width, channels, h.mode);
    }
    const std::vector<BYTE>& out = buffer.GetBytes();
    for (LONG y = 0; y < wantedHeight; ++y) {
        for (std::size_t x = 0; x < buffer.GetStride(); ++x) {
            const bool padding = x >= pixelBytes * wantedWidth;
            if ((padding || y >= rows) && out[static_cast<std::size_t>(y) * buffer.GetStride() + x] != 0)
                Fail("a byte no picture pixel reaches was written");
        }
    }
}

void LoadPicture(const codecfuzz::Header& h, const std::uint8_t* bytes, std::size_t size) {
    g_script = Script{h.reportedWidth % codecfuzz::kMaxSide, h.reportedHeight % codecfuzz::kMaxSide,
                      std::clamp<long>(h.byteDelta, -64, 64), bytes, size};
    IproPixels pixels;
    const bool loaded = IproCodecLoad::Load(L"1", &kTable, nullptr, nullptr, 0, 0, pixels);
    const bool whole = g_script.width >= 1 && g_script.height >= 1 && g_script.delta == 0;
    if (loaded != whole)
        Fail(loaded ? "pixels of another size were taken" : "whole pixels were refused");
    if (loaded && (pixels.width != g_script.width || pixels.height != g_script.height))
        Fail("the picture is not of the size reported");
    for (std::uint32_t pixel : pixels.argb) {
        const std::uint32_t alpha = pixel >> 24;
        if ((pixel >> 16 & 0xFF) > alpha || (pixel >> 8 & 0xFF) > alpha || (pixel & 0xFF) > alpha)
            Fail("a colour above its alpha");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    codecfuzz::Header header;
    if (!codecfuzz::Parse(data, size, header))
        return 0;
    ReadPicture(header, data + codecfuzz::kHeaderBytes, size - codecfuzz::kHeaderBytes);
    LoadPicture(header, data + codecfuzz::kHeaderBytes, size - codecfuzz::kHeaderBytes);
    return 0;
}
