// The raw processor of the camera models whose mosaic the outside signal-processing library develops
// ("VERuzOraz.dll", loaded at run time on first use): an image of the imaging framework whose pixels are
// the library's 16-bit RGB conversion of a 16-bit mosaic, made when the processor is dirty and served tile
// by tile. Caller's thread; the library's handle and the count of live processors are process-wide.
#pragma once

#include "platform/pravon/IPravonImage.h"
#include "platform/quasel/IPravonLoad.h"
#include "platform/veruzoraz/VERuzOraz.h"
#include "platform/win/FourCC.h"
#include "platform/win/WinModule.h"
#include "platform/win/wintypes.h"

#include <array>
#include <atomic>
#include <string>
#include <vector>

class CProcessRawVendor1 : public IPravonImage {
public:
    static constexpr LONG kComponent = FourCC("Raw1");
    static constexpr LONG kLibraryCode = FourCC("sigp");
    static constexpr ULONG kPatternTag = 0xA302;
    static constexpr ULONG kPrivateTag = 0x80014;
    static constexpr LONG kMosaic = 0x10020401;
    static constexpr LONG kComplementaryMosaic = 0x10020403;
    static constexpr LONG kOutputColorSpace = 0x10060201;
    static constexpr std::size_t kMinPrivateBytes = 360;

    // Progress codes passed as "current"; the library's own progress values are 0 and above.
    static constexpr LONG kProgressStart = -1;
    static constexpr LONG kProgressEnd = -2;
    static constexpr LONG kProgressAttached = -3;
    static constexpr LONG kProgressDetached = -4;

    class IProgress {
    public:
        virtual ~IProgress() = default;
        // Non-zero lets the conversion go on.
        virtual int Progress(LONG current, LONG total) = 0;
    };

    // The conversion's parameters in the library's order.
    struct Parameters {
        LONG redGain = 128;
        LONG blueGain = 128;
        LONG firstMode = 0;
        LONG secondMode = 0;
        LONG exposureFactor = 256;
        LONG toneFactor = 256;
        bool operator==(const Parameters&) const = default;
    };

    // The new processor holds one reference.
    explicit CProcessRawVendor1(IPravonManager* manager);
    CProcessRawVendor1(const CProcessRawVendor1&) = delete;
    CProcessRawVendor1& operator=(const CProcessRawVendor1&) = delete;

    // Equal parameters change nothing; others mark the processor dirty and, with notify, send a full
    // update to its destinations.
    IPravonError* SetParameters(const Parameters& parameters, bool notify);
    const Parameters& GetParameters() const { return m_parameters; }
    // The previous receiver hears kProgressDetached, the new one kProgressAttached.
    void SetProgressReceiver(IProgress* receiver);
    IProgress* GetProgressReceiver() const { return m_progress; }
    // Converts the loader's complementary sub-image instead of the main image (only when there is one).
    IPravonError* UseSubImage(bool on, bool notify);
    bool IsUsingSubImage() const { return m_useSubImage != 0; }
    // Checks the colour-filter pattern tag, reads the camera's private data, takes the image as the main
    // source (with a reference) and looks for a complementary sub-image among the loader's. Kind 1007 for
    // a missing or unknown pattern or missing private data.
    IPravonError* Initialize(IPravonLoad* loader, IPravonTagControl* tags, IPravonImage* image);
    // Writes the gains into the private data's white-balance fields: mode 0 puts back the fields as first
    // read, modes 1 and 2 write (blue - 1, red - 1) into each, mode 1 then (blue, red) into the first.
    // Kind 1007 for too little private data, 1014 for a gain below 1. `changed` says whether the mode
    // differs from the last one applied.
    IPravonError* PatchWhiteBalance(LONG redGain, LONG blueGain, LONG mode, bool* changed);
    // Runs the conversion when dirty. A failure leaves the result as it was and the processor dirty.
    IPravonError* Convert();
    // Marks the processor dirty and, with notify, sends a full update to its destinations and to those of
    // the image that serves it (the exported object, whose destinations see only that image).
    IPravonError* Invalidate(bool notify);
    void SetServingImage(IPravonDataSource* image) { m_servingImage = image; }
    bool IsDirty() const { return m_dirty != 0; }
    const std::vector<BYTE>& GetPrivateData() const { return m_privateData; }

    // The width and height in pixels of the output image. A null output gives PravonKind::kBadArgument; a
    // failed size query comes back wrapped. Both under the component "Raw1".
    IPravonError* GetSize(LONG* width, LONG* height);

    // Whether the library is loaded now, and how many processors live.
    static bool IsLibraryLoaded();
    static LONG GetLiveCount();
    // For tests: the file to load instead of the library beside the raw library; empty restores it.
    static void SetLibraryPathForTesting(const std::string& path);

    IPravonError* GetWidth(LONG* width) override;
    IPravonError* GetHeight(LONG* height) override;
    IPravonError* GetColorSpace(LONG* colorSpace) override;
    IPravonError* GetResolution(double* resolution) override;
    IPravonError* GetFlip(bool* flip) override;
    IPravonError* GetRotation(double* rotation) override;
    IPravonError* GetTileSize(LONG* tileSize) override;
    IPravonError* GetPalette(PravonPalette* palette) override;
    IPravonError* TileExists(const IPravonTileID& id, bool* exists) override;
    IPravonError* TileExists(LONG column, LONG row, bool* exists) override;
    IPravonError* GetTile(const IPravonTileID& id, IPravonTile** tile) override;
    IPravonError* GetTile(LONG column, LONG row, IPravonTile** tile) override;
    IPravonError* LockTile(IPravonTileGrid* grid, LONG column, LONG row, void** data, PravonRect* tileRect,
                           PravonRect* clippedRect, LONG* rowBytes) override;
    IPravonError* LockTile(const IPravonTileID& id, void** data, BITMAPINFOHEADER** header) override;
    IPravonError* LockTile(LONG column, LONG row, void** data, BITMAPINFOHEADER** header) override;
    IPravonError* UnlockTile(IPravonTileGrid* grid, LONG column, LONG row) override;
    IPravonError* UnlockTile(const IPravonTileID& id) override;
    IPravonError* UnlockTile(LONG column, LONG row) override;
    IPravonError* MapRect(const PravonRect& rect, IPravonTileGrid** grid) override;
    // The processor's pixels come only from its conversion: every write is refused with 1007.
    IPravonError* SetSize(LONG width, LONG height) override;
    IPravonError* SetColorSpace(LONG colorSpace) override;
    IPravonError* SetResolution(double resolution) override;
    IPravonError* SetTransform(bool flip, double angle, bool relative) override;
    IPravonError* SetPalette(const PravonPalette& palette) override;
    IPravonError* SetUsage(LONG usage) override;
    IPravonError* GetUsage(LONG* usage) override;
    ULONG AddRef() override;
    ULONG Release() override;

protected:
    ~CProcessRawVendor1() override;
    // The size of the output of the source that is converted.
    virtual IPravonError* GetImageSize(LONG* width, LONG* height);

private:
    static constexpr int kWhiteBalancePairs = 8;

    IPravonImage* CurrentSource() const;
    IPravonError* Ready();
    IPravonError* RunLibrary(SigProcExFunction sigProc, IPravonImage* source, LONG colorSpace, LONG width, LONG height);
    static std::int32_t OnProgress(void* context, std::int32_t current, std::int32_t total);

    std::atomic<ULONG> m_references{1};
    IPravonManager* m_manager;
    Parameters m_parameters;
    BYTE m_useSubImage = 0;
    std::vector<BYTE> m_privateData;
    IProgress* m_progress = nullptr;
    double m_resolution = 300.0;
    std::array<std::array<SHORT, 2>, kWhiteBalancePairs> m_savedWhiteBalance{};
    bool m_whiteBalanceSaved = false;
    LONG m_whiteBalanceMode = 0;
    IPravonImage* m_mainSource = nullptr;        // referenced
    IPravonImage* m_alternativeSource = nullptr; // referenced
    IPravonImage* m_result = nullptr;            // referenced
    BYTE m_dirty = 1;
    IPravonDataSource* m_servingImage = nullptr;
};
