#include "TQwCodecPravon.h"

#include "HostLink.h"
#include "TCodecReadBuffer.h"

#include "platform/pravon/IPravonDataSource.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

// Save defaults: the picture at its size, quality level 4.
constexpr float kDefaultScale = 1.0f;
constexpr LONG kDefaultQualityLevel = 4;
constexpr LONG kLowestQuality = 60;
constexpr LONG kQualityPerLevel = 10;
constexpr LONG kHighestLevel = 5;
// The picture is read this many bytes of its rows at a time.
constexpr std::size_t kBandBytes = std::size_t{1} << 20;

std::mutex& ContextLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

TRefPtr<TCodecHidWnd>& ContextWindow() {
    static auto* window = new TRefPtr<TCodecHidWnd>;
    return *window;
}

bool Succeeded(IPravonError* error) {
    return !PravonErrorPtr(error);
}

// 65535 / 255: a 16-bit sample over this, rounded, is its 8-bit level.
constexpr unsigned kWideStep = 257;

// 16-bit samples (the low byte first, as the imaging framework keeps them) as 8-bit levels.
void NarrowRow(const BYTE* wide, std::size_t samples, BYTE* narrow) {
    for (std::size_t i = 0; i < samples; ++i) {
        const unsigned value = wide[2 * i] | static_cast<unsigned>(wide[2 * i + 1]) << 8;
        narrow[i] = static_cast<BYTE>((value + kWideStep / 2) / kWideStep);
    }
}

} // namespace

LONG CodecQualityLevel(LONG quality) {
    return std::clamp<LONG>((std::max(quality, kLowestQuality) - kLowestQuality) / kQualityPerLevel + 1, 1,
                            kHighestLevel);
}

void TQwCodecPravon::SetContext(IKvwMessage* requester, IKvwItemService* items, TCodecHidWnd* window) {
    if (window)
        window->SetContext(requester, items);
    std::lock_guard<std::mutex> guard(ContextLock());
    ContextWindow() = TRefPtr<TCodecHidWnd>(window);
}

TRefPtr<TCodecHidWnd> TQwCodecPravon::GetContextWindow() {
    std::lock_guard<std::mutex> guard(ContextLock());
    return ContextWindow();
}

TQwCodecPravon::TQwCodecPravon(TRefPtr<TCodecHidWnd> window, TSyncObject* cancel)
    : m_window(std::move(window)), m_cancel(cancel) {}

TQwCodecPravon::~TQwCodecPravon() {
    ForgetItem();
}

void TQwCodecPravon::ForgetItem() {
    if (m_image)
        m_image->Release();
    if (m_item)
        m_item->Release();
    m_image = nullptr;
    m_item = nullptr;
    m_colorSpace = m_bitsPerPixel = 0;
    m_wantedWidth = m_wantedHeight = 0;
}

TQwCodecPravon::Wait TQwCodecPravon::PostAndWait(UINT message, TImageRequest& request) {
    if (!m_window || m_window->IsOwnThread() || !m_window->Post(message, &request))
        return Wait::kRefused;
    return WaitForRequest(request.GetEvent(), m_cancel) ? Wait::kAnswered : Wait::kCancelled;
}

bool TQwCodecPravon::Open(const wchar_t* itemId) {
    std::lock_guard<std::mutex> guard(m_callLock);
    KvwItemId item = 0;
    if (!m_window || !m_window->GetRequester() || !NuidFromString(itemId, item))
        return false;
    ForgetItem();
    m_itemId = item;
    IproCodecInfo info{};
    return GetTags() && GetImageInfo(info);
}

bool TQwCodecPravon::GetTags() {
    TRefPtr<TArgsGetTags> request = TRefPtr<TArgsGetTags>::Adopt(new TArgsGetTags(m_itemId));
    const bool answered = PostAndWait(TCodecHidWnd::kGetTags, *request) == Wait::kAnswered;
    IKvwItem* item = request->TakeItem();
    if (answered)
        m_item = item;
    else if (item)
        item->Release();
    return answered;
}

bool TQwCodecPravon::Load() {
    const CKvwSizeRecord wanted = HasWantedSize() ? CKvwSizeRecord{static_cast<DWORD>(m_wantedWidth),
                                                                   static_cast<DWORD>(m_wantedHeight)}
                                                  : CKvwSizeRecord{};
    TRefPtr<TArgsLoadImage> request =
        TRefPtr<TArgsLoadImage>::Adopt(new TArgsLoadImage(m_itemId, wanted, m_mode));
    const UINT message = m_usePreview == 1 ? TCodecHidWnd::kLoadPreview : TCodecHidWnd::kLoadFullImage;
    const Wait wait = PostAndWait(message, *request);
    IKvwImage* image = request->TakeImage();
    if (wait != Wait::kAnswered) {
        if (image)
            image->Release();
        // The host need not go on with the image nobody waits for.
        if (wait == Wait::kCancelled)
            m_window->PostRelease(new TArgsReleaseItem{m_itemId, m_window->GetRequester()});
        return false;
    }
    m_image = image;
    IproCodecInfo info{};
    return GetImageInfo(info);
}

bool TQwCodecPravon::GetImageInfo(IproCodecInfo& info) {
    if (m_image) {
        IPravonDataSource* source = m_image->GetDataSource();
        LONG width = 0, height = 0, colorSpace = 0;
        if (!source || !Succeeded(source->GetSize(&width, &height)) ||
            !Succeeded(source->GetColorSpace(&colorSpace)))
            return false;
        if (!HasWantedSize()) {
            m_wantedWidth = width;
            m_wantedHeight = height;
        }
        m_colorSpace = colorSpace;
        m_bitsPerPixel = IPravonDataSource::GetBitsPerPixel(colorSpace);
        info = IproCodecInfo{m_wantedHeight, m_wantedWidth, m_colorSpace, m_bitsPerPixel};
        return true;
    }
    if (HasWantedSize()) {
        info = IproCodecInfo{m_wantedHeight, m_wantedWidth, m_colorSpace, m_bitsPerPixel};
        return true;
    }
    // Neither: the host's source size becomes the wanted size; the record is not written.
    TRefPtr<TArgsSourceInfo> request = TRefPtr<TArgsSourceInfo>::Adopt(new TArgsSourceInfo(m_itemId));
    const bool answered = PostAndWait(TCodecHidWnd::kGetSourceInfo, *request) == Wait::kAnswered;
    CKvwSourceData source;
    const bool success = request->TakeAnswer(source) && answered;
    constexpr DWORD kLargest = static_cast<DWORD>(std::numeric_limits<LONG>::max());
    if (success && source.width > 0 && source.height > 0 && source.width <= kLargest &&
        source.height <= kLargest) {
        m_wantedWidth = static_cast<LONG>(source.width);
        m_wantedHeight = static_cast<LONG>(source.height);
    }
    return success;
}

bool TQwCodecPravon::GetProperty(IproCodecProperty& property) {
    CKvwItemProperty found;
    if (!m_item || !KvwSucceeded(m_item->GetProperty(property.tag, &found)))
        return false;
    const DWORD length = found.Length();
    if (property.buffer && property.size >= length)
        found.CopyTo(static_cast<BYTE*>(property.buffer));
    property.size = length;
    return true;
}

bool TQwCodecPravon::GetInfo(LONG kind, void* data) {
    std::lock_guard<std::mutex> guard(m_callLock);
    if (!data)
        return false;
    if (kind == IPRO_INFO_IMAGE)
        return GetImageInfo(*static_cast<IproCodecInfo*>(data));
    if (kind == IPRO_INFO_PROPERTY)
        return GetProperty(*static_cast<IproCodecProperty*>(data));
    return false;
}

bool TQwCodecPravon::SetOption(LONG kind, void* data) {
    std::lock_guard<std::mutex> guard(m_callLock);
    if (kind != IPRO_OPTION_SIZE || !data)
        return false;
    LONG size[2];
    std::memcpy(size, data, sizeof(size));
    const LONG height = size[0], width = size[1];
    if (width < 0 || height < 0)
        return false;
    if (width == 0 || height == 0) {
        m_wantedWidth = m_wantedHeight = 0;
        return true;
    }
    m_wantedWidth = width;
    m_wantedHeight = height;
    return !m_image || m_image->Resize(width, height);
}

bool TQwCodecPravon::SetParameters(const IproCodecParamList* params) {
    std::lock_guard<std::mutex> guard(m_callLock);
    return ForEachCodecParam(params, [this](std::uintptr_t type, std::uintptr_t value) {
        if (type == IPRO_PARAM_USE_PREVIEW)
            m_usePreview = *reinterpret_cast<const LONG*>(value);
        else if (type == IPRO_PARAM_MODE)
            m_mode = *reinterpret_cast<const DWORD*>(value);
    });
}

void TQwCodecPravon::Fit() {
    if (!m_image || !HasWantedSize())
        return;
    const LONG width = m_image->GetWidth(), height = m_image->GetHeight();
    if (width < 1 || height < 1)
        return;
    const double across = static_cast<double>(m_wantedWidth) / width;
    const double down = static_cast<double>(m_wantedHeight) / height;
    if (across >= 1.0 && down >= 1.0)
        return;
    const double factor = std::min(across, down);
    m_image->Resize(std::max<LONG>(1, static_cast<LONG>(std::lround(width * factor))),
                    std::max<LONG>(1, static_cast<LONG>(std::lround(height * factor))));
}

bool TQwCodecPravon::Read(DWORD format, LONG alignment, IIproCodecSink* sink) {
    std::lock_guard<std::mutex> guard(m_callLock);
    if (!sink)
        return false;
    if (!m_image && !Load())
        return false;
    if (!m_image)
        return false;
    IproCodecInfo info{};
    if (!GetImageInfo(info))
        return false;
    Fit();
    IPravonDataSource* source = m_image->GetDataSource();
    LONG width = 0, height = 0, colorSpace = 0;
    if (!source || !Succeeded(source->GetSize(&width, &height)) ||
        !Succeeded(source->GetColorSpace(&colorSpace)))
        return false;
    const LONG channels = PravonColorSpace::Channels(colorSpace);
    const LONG bits = PravonColorSpace::BitsPerSample(colorSpace);
    // The conversions read 8-bit samples; 16-bit ones are brought down to 8 bits first.
    if ((bits != 8 && bits != 16) || channels < 1 || width < 1 || height < 1)
        return false;
    TCodecReadBuffer buffer;
    if (!buffer.Allocate(format, alignment, m_wantedWidth, m_wantedHeight))
        return false;
    const std::size_t samplesPerRow = static_cast<std::size_t>(width) * channels;
    const std::size_t rowBytes = samplesPerRow * static_cast<std::size_t>(bits / 8);
    const LONG rows = std::min(height, m_wantedHeight);
    const LONG band = static_cast<LONG>(std::clamp<std::size_t>(kBandBytes / rowBytes, 1, rows));
    std::vector<BYTE> pixels(rowBytes * band);
    std::vector<BYTE> narrow(bits == 16 ? samplesPerRow : 0);
    for (LONG top = 0; top < rows; top += band) {
        const LONG count = std::min(band, rows - top);
        if (!Succeeded(source->GetData(PravonRect{0, top, width, top + count}, pixels.data(), rowBytes)))
            return false;
        for (LONG r = 0; r < count; ++r) {
            const BYTE* row = pixels.data() + rowBytes * r;
            if (bits == 16) {
                NarrowRow(row, samplesPerRow, narrow.data());
                row = narrow.data();
            }
            buffer.PutRow(top + r, row, width, channels, m_mode);
        }
    }
    const std::vector<BYTE>& bytes = buffer.GetBytes();
    return sink->SetSize(bytes.size()) && sink->Write(bytes.data(), bytes.size(), 0);
}

bool TQwCodecPravon::Write(const wchar_t* path, const IproCodecParamList* params) {
    std::lock_guard<std::mutex> guard(m_callLock);
    if (!path || !*path)
        return false;
    float scale = kDefaultScale;
    LONG level = kDefaultQualityLevel;
    const bool valid = ForEachCodecParam(params, [&](std::uintptr_t type, std::uintptr_t value) {
        if (type == IPRO_PARAM_SCALE)
            scale = *reinterpret_cast<const float*>(value);
        else if (type == IPRO_PARAM_QUALITY)
            level = CodecQualityLevel(*reinterpret_cast<const LONG*>(value));
    });
    if (!valid)
        return false;
    const CKvwSizeRecord wanted = HasWantedSize() ? CKvwSizeRecord{static_cast<DWORD>(m_wantedWidth),
                                                                   static_cast<DWORD>(m_wantedHeight)}
                                                  : CKvwSizeRecord{};
    TRefPtr<TArgsSaveImage> request =
        TRefPtr<TArgsSaveImage>::Adopt(new TArgsSaveImage(m_itemId, path, scale, level, wanted));
    const bool answered = PostAndWait(TCodecHidWnd::kWriteImage, *request) == Wait::kAnswered;
    const bool success = request->TakeSuccess();
    return answered && success;
}
