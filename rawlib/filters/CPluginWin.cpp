#include "CPluginWin.h"

#include "rawlib/filters/KvPluginResources.h"

#include "platform/win/WinDebug.h"

#include <sys/sysinfo.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <new>

namespace {

using namespace KvPlugin;

// Three bytes a pixel, rows padded to whole 32-bit words.
std::int64_t DibRowBytes(std::int64_t width) {
    return (width * 3 + 3) & ~std::int64_t{3};
}

} // namespace

CPluginWin::~CPluginWin() {
    Unload();
}

CPluginWin* CPluginWin::Create() {
    return new (std::nothrow) CPluginWin;
}

SHORT CPluginWin::Load() {
    if (m_library.IsOpen())
        Unload();
    if (!m_library.Open(GetPluginFile()) || !(m_entry = m_library.GetEntry())) {
        Unload();
        return kErrNoModule;
    }
    KvPluginNames names{"?", "?"};
    const auto pipl = m_library.GetResource(kPiplType, kResourceId);
    if (!KvReadPluginPipl(pipl.data(), pipl.size(), &names))
        names = {"?", "?"};
    const auto aete = m_library.GetResource(kAeteType, kResourceId);
    SetResourceNames(names.name.c_str(), names.category.c_str(), KvReadPluginAete(aete.data(), aete.size()));
    SetLoaded(true);
    return kNoError;
}

void CPluginWin::Unload() {
    m_library.Close();
    m_entry = nullptr;
    SetLoaded(false);
}

SHORT CPluginWin::CallEntry(SHORT selector, void* record, std::intptr_t* data) {
    if (!m_library.IsOpen())
        return kErrNotLoaded;
    if (!m_entry)
        return kErrNoEntry;
    std::int16_t result = kNoError;
    m_entry(selector, record, data, &result);
    return result;
}

void CPluginWin::ResetFilterRecord() {
    IPlugin::ResetFilterRecord();
    if (!GetMainWindow())
        OutputDebugStringA("Warning: CPluginWin has no main window handle.\n");
}

LONG CPluginWin::GetFreeMemory() {
    struct sysinfo info {};
    if (sysinfo(&info) != 0)
        return 0;
    const unsigned long long bytes = (static_cast<unsigned long long>(info.freeram) + info.bufferram) *
                                     std::max<unsigned>(info.mem_unit, 1);
    return static_cast<LONG>(std::min<unsigned long long>(bytes, std::numeric_limits<LONG>::max()));
}

SHORT CPluginWin::DisplayPixels(const KvPixelMap* source, const KvPluginRect* rect, LONG row, LONG column,
                                void* context) {
    if (!source || !rect || !source->baseAddress)
        return kNoError;
    if (source->imageMode != kModeGrey && source->imageMode != kModeRGB)
        return kNoError;
    const CPravonRect bounds(source->bounds.left, source->bounds.top, source->bounds.right,
                             source->bounds.bottom);
    const CPravonRect area = CPravonRect(rect->left, rect->top, rect->right, rect->bottom).Intersect(bounds);
    if (area.Empty())
        return kNoError;
    const std::int64_t width = area.Width(), height = area.Height();
    const std::int64_t rowBytes = DibRowBytes(width);
    if (rowBytes * height > std::numeric_limits<LONG>::max())
        return kNoError;
    std::unique_ptr<BYTE[]> bits(new (std::nothrow) BYTE[static_cast<std::size_t>(rowBytes * height)]());
    if (!bits)
        return kNoError;
    const bool grey = source->imageMode == kModeGrey;
    const auto* base = static_cast<const BYTE*>(source->baseAddress);
    for (std::int64_t y = 0; y < height; ++y) {
        BYTE* out = bits.get() + y * rowBytes;
        for (std::int64_t x = 0; x < width; ++x, out += 3) {
            const BYTE* pixel = base + (area.top - bounds.top + y) * std::int64_t{source->rowBytes} +
                                (area.left - bounds.left + x) * std::int64_t{source->columnBytes};
            const std::int64_t plane = grey ? 0 : source->planeBytes;
            out[0] = pixel[2 * plane];
            out[1] = pixel[plane];
            out[2] = pixel[0];
        }
    }
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = static_cast<LONG>(width);
    header.biHeight = -static_cast<LONG>(height);
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(rowBytes * height);
    header.biXPelsPerMeter = header.biYPelsPerMeter = kPixelsPerMeter;
    if (m_sink)
        m_sink->DrawDib(context, column, row, header, bits.get());
    return kNoError;
}
