#include "CProcessRawVendor1.h"

#include "KvGlobalManager.h"

#include "platform/pravon/PravonGraph.h"
#include "platform/pravon/PravonImageData.h"
#include "platform/veruzoraz/VERuzOraz.h"
#include "rawlib/foundation/KvOwnFolder.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

namespace {

constexpr LONG kComponent = CProcessRawVendor1::kComponent;
constexpr const char* kLibraryName = "VERuzOraz.dll";
constexpr const char* kEntryName = "sig_proc_ex";
constexpr LONG kTagTypeBytes = 1;
constexpr ULONG kPatternBytes = 8;
constexpr BYTE kPatternBGGR[kPatternBytes] = {0, 2, 0, 2, 2, 1, 1, 0};
constexpr BYTE kPatternYCGM[kPatternBytes] = {0, 2, 0, 2, 5, 3, 1, 4};
// 16-bit positions of the white-balance pairs in the private data: the first one alone, then seven.
constexpr int kFirstPairWord = 148;
constexpr int kSevenPairsWord = 166;
constexpr int kSevenPairs = 7;
// The library's 12-bit samples become 16-bit ones: 4095 maps to 65535.
constexpr std::uint32_t kSampleScale = 4097;
constexpr int kSampleShift = 8;

// The library and the live processors; the lock makes the first load and the last free race-free.
std::mutex g_libraryLock;
HMODULE g_library = nullptr;
SigProcExFunction g_sigProc = nullptr;
std::string g_testPath;

HMODULE OpenLibrary() {
    if (!g_testPath.empty())
        return LoadLibraryA(g_testPath.c_str());
    const std::string folder = Kv::OwnFolder();
    if (!folder.empty())
        if (HMODULE module = LoadLibraryA((folder + "/" + kLibraryName).c_str()))
            return module;
    return LoadLibraryA(kLibraryName);
}

IPravonError* LoadOnce(SigProcExFunction* function) {
    std::lock_guard<std::mutex> guard(g_libraryLock);
    if (!g_library) {
        HMODULE module = OpenLibrary();
        if (!module)
            return PravonFail(kComponent, PravonKind::kInvalidState,
                              "the signal-processing library VERuzOraz could not be loaded");
        auto entry = reinterpret_cast<SigProcExFunction>(GetProcAddress(module, kEntryName));
        if (!entry) {
            FreeLibrary(module);
            return PravonFail(kComponent, PravonKind::kInvalidState,
                              "the signal-processing library VERuzOraz lacks sig_proc_ex");
        }
        g_library = module;
        g_sigProc = entry;
    }
    *function = g_sigProc;
    return nullptr;
}

void FreeWithLast() {
    std::lock_guard<std::mutex> guard(g_libraryLock);
    if (KvLibrary::g_liveProcessors.load() != 0 || !g_library)
        return;
    FreeLibrary(g_library);
    g_library = nullptr;
    g_sigProc = nullptr;
}

IPravonError* WriteRefused() {
    return PravonFail(kComponent, PravonKind::kInvalidState, "the raw processor's image cannot be written");
}

LONG HeightCut(LONG colorSpace) {
    return colorSpace == CProcessRawVendor1::kComplementaryMosaic ? VER_HEIGHT_CUT_YCGM : VER_HEIGHT_CUT_BGGR;
}

void ReplaceReference(IPravonImage*& slot, IPravonImage* image) {
    if (image)
        image->AddRef();
    if (slot)
        slot->Release();
    slot = image;
}

SHORT ReadWord(const std::vector<BYTE>& bytes, int word) {
    return static_cast<SHORT>(bytes[2 * word] | (bytes[2 * word + 1] << 8));
}

void WriteWord(std::vector<BYTE>& bytes, int word, LONG value) {
    const auto v = static_cast<WORD>(value);
    bytes[2 * word] = static_cast<BYTE>(v & 0xFF);
    bytes[2 * word + 1] = static_cast<BYTE>(v >> 8);
}

// The 16-bit position of white-balance pair `index`: the lone pair first, then the seven.
int PairWord(int index) {
    return index == 0 ? kFirstPairWord : kSevenPairsWord + 2 * (index - 1);
}

} // namespace

CProcessRawVendor1::CProcessRawVendor1(IPravonManager* manager) : m_manager(manager) {
    ++KvLibrary::g_liveProcessors;
}

CProcessRawVendor1::~CProcessRawVendor1() {
    SetProgressReceiver(nullptr);
    ReplaceReference(m_mainSource, nullptr);
    ReplaceReference(m_alternativeSource, nullptr);
    ReplaceReference(m_result, nullptr);
    --KvLibrary::g_liveProcessors;
    FreeWithLast();
}

ULONG CProcessRawVendor1::AddRef() {
    return ++m_references;
}

ULONG CProcessRawVendor1::Release() {
    const ULONG left = --m_references;
    if (left == 0)
        delete this;
    return left;
}

bool CProcessRawVendor1::IsLibraryLoaded() {
    std::lock_guard<std::mutex> guard(g_libraryLock);
    return g_library != nullptr;
}

LONG CProcessRawVendor1::GetLiveCount() {
    return KvLibrary::g_liveProcessors;
}

void CProcessRawVendor1::SetLibraryPathForTesting(const std::string& path) {
    std::lock_guard<std::mutex> guard(g_libraryLock);
    g_testPath = path;
}

IPravonError* CProcessRawVendor1::Invalidate(bool notify) {
    m_dirty = 1;
    if (!notify)
        return nullptr;
    IPravonError* failed = PravonSendDataNotification(this, PravonNotification::kUpdateAll, nullptr);
    if (m_servingImage)
        failed = IPravonError::Chain(failed,
                                     PravonSendDataNotification(m_servingImage, PravonNotification::kUpdateAll, nullptr));
    return PravonContext(failed, kComponent, "a destination failed the full update");
}

IPravonError* CProcessRawVendor1::SetParameters(const Parameters& parameters, bool notify) {
    if (parameters == m_parameters)
        return nullptr;
    m_parameters = parameters;
    return Invalidate(notify);
}

void CProcessRawVendor1::SetProgressReceiver(IProgress* receiver) {
    if (m_progress)
        m_progress->Progress(kProgressDetached, 0);
    m_progress = receiver;
    if (m_progress)
        m_progress->Progress(kProgressAttached, 0);
}

IPravonError* CProcessRawVendor1::UseSubImage(bool on, bool notify) {
    if (on == (m_useSubImage != 0) || !m_alternativeSource)
        return nullptr;
    m_useSubImage = on ? 1 : 0;
    return Invalidate(notify);
}

IPravonError* CProcessRawVendor1::Initialize(IPravonLoad* loader, IPravonTagControl* tags, IPravonImage* image) {
    if (!loader || !tags || !image)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no loader, tag control or image");
    if (!tags->TagExists(kPatternTag) || tags->GetTagKind(kPatternTag) != kTagTypeBytes ||
        tags->GetTagSize(kPatternTag) != kPatternBytes)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the colour-filter pattern tag is missing or wrong");
    BYTE pattern[kPatternBytes] = {};
    if (IPravonError* e = tags->ReadTag(kPatternTag, kTagTypeBytes, kPatternBytes, pattern))
        return PravonContext(e, kComponent, "the colour-filter pattern cannot be read");
    if (std::memcmp(pattern, kPatternBGGR, kPatternBytes) != 0 && std::memcmp(pattern, kPatternYCGM, kPatternBytes) != 0)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the colour-filter pattern is not one the library knows");
    if (!tags->TagExists(kPrivateTag))
        return PravonFail(kComponent, PravonKind::kInvalidState, "the camera's private data are missing");
    const ULONG size = tags->GetTagSize(kPrivateTag);
    std::vector<BYTE> data;
    try {
        data.resize(size);
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the camera's private data");
    }
    if (IPravonError* e = tags->ReadTag(kPrivateTag, kTagTypeBytes, size, data.data()))
        return PravonContext(e, kComponent, "the camera's private data cannot be read");
    m_privateData = std::move(data);
    m_whiteBalanceSaved = false;
    m_whiteBalanceMode = 0;
    ReplaceReference(m_mainSource, image);

    IPravonImage* found = nullptr;
    const LONG count = loader->GetSubImageCount();
    for (LONG index = 1; index <= count && !found; ++index) {
        LONG code = 0;
        if (PravonErrorPtr(loader->GetSubImageColorSpace(index, &code)) || code != kComplementaryMosaic)
            continue;
        if (!m_alternativeSource)
            if (!m_manager || PravonErrorPtr(m_manager->CreateImage(0, &m_alternativeSource)))
                return PravonFail(kComponent, PravonKind::kInvalidState, "no image for the sub-image");
        if (IPravonError* e = loader->LoadSubImage(index, m_alternativeSource))
            return PravonContext(e, kComponent, "the sub-image cannot be loaded");
        found = m_alternativeSource;
    }
    if (!found) {
        ReplaceReference(m_alternativeSource, nullptr);
        m_useSubImage = 0;
    }
    m_dirty = 1;
    return nullptr;
}

IPravonError* CProcessRawVendor1::PatchWhiteBalance(LONG redGain, LONG blueGain, LONG mode, bool* changed) {
    if (changed)
        *changed = mode != m_whiteBalanceMode;
    if (m_privateData.size() < kMinPrivateBytes)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the camera's private data are too short");
    if (redGain < 1 || blueGain < 1)
        return PravonFail(kComponent, PravonKind::kBadArgument, "a white-balance gain below 1");
    if (!m_whiteBalanceSaved) {
        for (int i = 0; i < kWhiteBalancePairs; ++i)
            m_savedWhiteBalance[i] = {ReadWord(m_privateData, PairWord(i)), ReadWord(m_privateData, PairWord(i) + 1)};
        m_whiteBalanceSaved = true;
    }
    for (int i = 0; i < kWhiteBalancePairs; ++i) {
        const int word = PairWord(i);
        if (mode == 0) {
            WriteWord(m_privateData, word, m_savedWhiteBalance[i][0]);
            WriteWord(m_privateData, word + 1, m_savedWhiteBalance[i][1]);
        } else {
            WriteWord(m_privateData, word, blueGain - 1);
            WriteWord(m_privateData, word + 1, redGain - 1);
        }
    }
    if (mode == 1) {
        WriteWord(m_privateData, kSevenPairsWord, blueGain);
        WriteWord(m_privateData, kSevenPairsWord + 1, redGain);
    }
    m_whiteBalanceMode = mode;
    return nullptr;
}

IPravonImage* CProcessRawVendor1::CurrentSource() const {
    return m_useSubImage && m_alternativeSource ? m_alternativeSource : m_mainSource;
}

IPravonError* CProcessRawVendor1::GetImageSize(LONG* width, LONG* height) {
    IPravonImage* source = CurrentSource();
    if (!source)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the raw processor has no source");
    LONG w = 0, h = 0, code = 0;
    if (IPravonError* e = source->GetSize(&w, &h))
        return e;
    if (IPravonError* e = source->GetColorSpace(&code))
        return e;
    *width = std::max<LONG>(w - VER_WIDTH_CUT, 0);
    *height = std::max<LONG>(h - HeightCut(code), 0);
    return nullptr;
}

IPravonError* CProcessRawVendor1::GetSize(LONG* width, LONG* height) {
    if (!width || !height)
        return PravonFail(kComponent, PravonKind::kBadArgument, "no place for the size");
    // The image's error goes below the processor's own entry.
    if (IPravonError* inner = GetImageSize(width, height))
        return IPravonError::AddWorker(
            IPravonError::Add(nullptr, kComponent, __LINE__, "the output image's size query failed"), inner);
    return nullptr;
}

std::int32_t CProcessRawVendor1::OnProgress(void* context, std::int32_t current, std::int32_t total) {
    auto* self = static_cast<CProcessRawVendor1*>(context);
    return self->m_progress ? self->m_progress->Progress(current, total) : 1;
}

IPravonError* CProcessRawVendor1::Convert() {
    if (!m_dirty)
        return nullptr;
    SigProcExFunction sigProc = nullptr;
    if (IPravonError* e = LoadOnce(&sigProc))
        return e;
    IPravonImage* source = CurrentSource();
    if (!source)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the raw processor has no source");
    LONG colorSpace = 0, width = 0, height = 0;
    if (IPravonError* e = source->GetColorSpace(&colorSpace))
        return PravonContext(e, kComponent, "the source's colour space cannot be read");
    if (IPravonError* e = source->GetSize(&width, &height))
        return PravonContext(e, kComponent, "the source's size cannot be read");
    if (IPravonError* e = RunLibrary(sigProc, source, colorSpace, width, height))
        return e;
    m_dirty = 0;
    return nullptr;
}

IPravonError* CProcessRawVendor1::RunLibrary(SigProcExFunction sigProc, IPravonImage* source, LONG colorSpace, LONG width, LONG height) {
    const std::int64_t outWidth = std::int64_t{width} - VER_WIDTH_CUT;
    const std::int64_t outHeight = std::int64_t{height} - HeightCut(colorSpace);
    if (outWidth <= 0 || outHeight <= 0)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the mosaic is too small for the conversion");
    if (m_privateData.size() < kMinPrivateBytes)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the camera's private data are too short");
    std::vector<std::uint16_t> mosaic, output;
    try {
        mosaic.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        output.resize(static_cast<std::size_t>(3 * outWidth) * static_cast<std::size_t>(outHeight));
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the mosaic or its conversion");
    } catch (const std::length_error&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "the mosaic is too large");
    }
    const PravonRect whole{0, 0, width, height};
    if (IPravonError* e = source->GetData(whole, mosaic.data(), static_cast<std::size_t>(width) * sizeof(std::uint16_t)))
        return PravonContext(e, kComponent, "the mosaic cannot be read");

    if (m_progress)
        m_progress->Progress(kProgressStart, 0);
    const std::int32_t result =
        sigProc(mosaic.data(), height - 1, width, m_parameters.redGain, m_parameters.blueGain, m_parameters.firstMode,
                m_parameters.secondMode, m_parameters.exposureFactor, m_parameters.toneFactor, m_privateData.data(),
                &CProcessRawVendor1::OnProgress, this, output.data(),
                colorSpace == kComplementaryMosaic ? VER_PATTERN_YCGM : VER_PATTERN_BGGR);
    if (result != VER_OK)
        return IPravonError::Add(nullptr, kComponent, __LINE__, kLibraryCode,
                                 result == VER_CANCELLED ? 2001 : 2000);
    for (std::uint16_t& v : output)
        v = static_cast<std::uint16_t>((std::min<std::uint32_t>(v, VER_MAX_SAMPLE) * kSampleScale) >> kSampleShift);

    if (!m_result && (!m_manager || PravonErrorPtr(m_manager->CreateImage(0, &m_result))))
        return PravonFail(kComponent, PravonKind::kInvalidState, "no image for the conversion's result");
    // The result follows the size of the source actually converted.
    if (IPravonError* e = m_result->SetColorSpace(kOutputColorSpace))
        return PravonContext(e, kComponent, "the result image refuses its colour space");
    if (IPravonError* e = m_result->SetSize(static_cast<LONG>(outWidth), static_cast<LONG>(outHeight)))
        return PravonContext(e, kComponent, "the result image refuses its size");
    const PravonRect rect{0, 0, static_cast<LONG>(outWidth), static_cast<LONG>(outHeight)};
    if (IPravonError* e = PravonSetData(m_result, rect, output.data(),
                                        static_cast<std::size_t>(3 * outWidth) * sizeof(std::uint16_t)))
        return PravonContext(e, kComponent, "the result cannot be written");
    if (m_progress)
        m_progress->Progress(kProgressEnd, 0);
    return nullptr;
}

IPravonError* CProcessRawVendor1::Ready() {
    if (IPravonError* e = Convert())
        return e;
    if (!m_result)
        return PravonFail(kComponent, PravonKind::kInvalidState, "the raw processor has no result");
    return nullptr;
}

IPravonError* CProcessRawVendor1::GetWidth(LONG* width) {
    LONG h = 0;
    return width ? GetImageSize(width, &h) : PravonFail(kComponent, PravonKind::kBadArgument, "no place for the width");
}

IPravonError* CProcessRawVendor1::GetHeight(LONG* height) {
    LONG w = 0;
    return height ? GetImageSize(&w, height) : PravonFail(kComponent, PravonKind::kBadArgument, "no place for the height");
}

IPravonError* CProcessRawVendor1::GetColorSpace(LONG* colorSpace) {
    *colorSpace = kOutputColorSpace;
    return nullptr;
}

IPravonError* CProcessRawVendor1::GetResolution(double* resolution) {
    *resolution = m_resolution;
    return nullptr;
}

IPravonError* CProcessRawVendor1::GetFlip(bool* flip) {
    *flip = false;
    return nullptr;
}

IPravonError* CProcessRawVendor1::GetRotation(double* rotation) {
    *rotation = 0.0;
    return nullptr;
}

#define KV_FORWARD(call)                                                                                   \
    if (IPravonError* e = Ready())                                                                         \
        return e;                                                                                          \
    return m_result->call

IPravonError* CProcessRawVendor1::GetTileSize(LONG* tileSize) { KV_FORWARD(GetTileSize(tileSize)); }
IPravonError* CProcessRawVendor1::GetPalette(PravonPalette* palette) { KV_FORWARD(GetPalette(palette)); }
IPravonError* CProcessRawVendor1::TileExists(const IPravonTileID& id, bool* exists) { KV_FORWARD(TileExists(id, exists)); }
IPravonError* CProcessRawVendor1::TileExists(LONG column, LONG row, bool* exists) {
    KV_FORWARD(TileExists(column, row, exists));
}
IPravonError* CProcessRawVendor1::GetTile(const IPravonTileID& id, IPravonTile** tile) { KV_FORWARD(GetTile(id, tile)); }
IPravonError* CProcessRawVendor1::GetTile(LONG column, LONG row, IPravonTile** tile) {
    KV_FORWARD(GetTile(column, row, tile));
}
IPravonError* CProcessRawVendor1::LockTile(IPravonTileGrid* grid, LONG column, LONG row, void** data,
                                           PravonRect* tileRect, PravonRect* clippedRect, LONG* rowBytes) {
    KV_FORWARD(LockTile(grid, column, row, data, tileRect, clippedRect, rowBytes));
}
IPravonError* CProcessRawVendor1::LockTile(const IPravonTileID& id, void** data, BITMAPINFOHEADER** header) {
    KV_FORWARD(LockTile(id, data, header));
}
IPravonError* CProcessRawVendor1::LockTile(LONG column, LONG row, void** data, BITMAPINFOHEADER** header) {
    KV_FORWARD(LockTile(column, row, data, header));
}
IPravonError* CProcessRawVendor1::UnlockTile(IPravonTileGrid* grid, LONG column, LONG row) {
    KV_FORWARD(UnlockTile(grid, column, row));
}
IPravonError* CProcessRawVendor1::UnlockTile(const IPravonTileID& id) { KV_FORWARD(UnlockTile(id)); }
IPravonError* CProcessRawVendor1::UnlockTile(LONG column, LONG row) { KV_FORWARD(UnlockTile(column, row)); }
IPravonError* CProcessRawVendor1::MapRect(const PravonRect& rect, IPravonTileGrid** grid) { KV_FORWARD(MapRect(rect, grid)); }

#undef KV_FORWARD

IPravonError* CProcessRawVendor1::SetSize(LONG, LONG) { return WriteRefused(); }
IPravonError* CProcessRawVendor1::SetColorSpace(LONG) { return WriteRefused(); }
IPravonError* CProcessRawVendor1::SetResolution(double) { return WriteRefused(); }
IPravonError* CProcessRawVendor1::SetTransform(bool, double, bool) { return WriteRefused(); }
IPravonError* CProcessRawVendor1::SetPalette(const PravonPalette&) { return WriteRefused(); }
IPravonError* CProcessRawVendor1::SetUsage(LONG) { return WriteRefused(); }
IPravonError* CProcessRawVendor1::GetUsage(LONG* usage) {
    *usage = 0;
    return nullptr;
}
