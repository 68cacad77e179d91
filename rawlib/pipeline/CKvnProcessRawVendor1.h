// The exported raw processor: the internal processor, the settings it develops with (the white balance and
// camera settings stored in the picture's settings tag, with the caller's overrides) and the parameters
// derived from them for camera models 513 to 516.
#pragma once

#include "CProcessRawVendor1.h"
#include "IKvnProcessRawVendor1.h"

#include "rawlib/settings/CKvExposureAdjustment.h"
#include "rawlib/settings/CKvWBAdjustment.h"
#include "rawlib/settings/ImageProperties.h"

class CKvnProcessRawVendor1 final : public IKvnProcessRawVendor1, public CProcessRawVendor1::IProgress {
public:
    static constexpr ULONG kSettingsTag = 0x80E01;
    static constexpr ULONG kToneTag = 0x80094;

    // What the settings give the library: its parameters and the white-balance mode of the private data.
    struct Derived {
        CProcessRawVendor1::Parameters parameters;
        LONG redGain = 128, blueGain = 128; // before the patch, equal to the parameters' gains
        LONG whiteBalanceMode = 0;
    };
    // The parameters for the snapshot's camera model, settings and tags; `current` for other models.
    static Derived DeriveParameters(const ImageProperties& snapshot,
                                    const CProcessRawVendor1::Parameters& current);

    explicit CKvnProcessRawVendor1(CProcessRawVendor1* processor);

    IPravonError* Initialize(IPravonLoad* loader, IPravonTagControl* tagControl,
                             IPravonImage* image) override;
    IPravonError* SetCallbackObject(IKvnProcessRawVendor1::IProgress* progress) override;
    IKvnProcessRawVendor1::IProgress* GetCallbackObject() override { return m_callback; }
    IPravonError* Process() override;
    IPravonError* SetRawOption(strKvnRawOption* option) override;
    IPravonError* GetRawOption(strKvnRawOption* option) override;
    IPravonError* ResetRawOption(strKvnRawOption* option) override;
    void Destroy() override { Release(); }

    CProcessRawVendor1* GetProcessor() const { return m_processor; }

    IPravonError* GetWidth(LONG* width) override { return m_processor->GetWidth(width); }
    IPravonError* GetHeight(LONG* height) override { return m_processor->GetHeight(height); }
    IPravonError* GetColorSpace(LONG* colorSpace) override { return m_processor->GetColorSpace(colorSpace); }
    IPravonError* GetResolution(double* resolution) override {
        return m_processor->GetResolution(resolution);
    }
    IPravonError* GetFlip(bool* flip) override { return m_processor->GetFlip(flip); }
    IPravonError* GetRotation(double* rotation) override { return m_processor->GetRotation(rotation); }
    IPravonError* GetTileSize(LONG* tileSize) override { return m_processor->GetTileSize(tileSize); }
    IPravonError* GetPalette(PravonPalette* palette) override { return m_processor->GetPalette(palette); }
    IPravonError* TileExists(const IPravonTileID& id, bool* exists) override {
        return m_processor->TileExists(id, exists);
    }
    IPravonError* TileExists(LONG column, LONG row, bool* exists) override {
        return m_processor->TileExists(column, row, exists);
    }
    IPravonError* GetTile(const IPravonTileID& id, IPravonTile** tile) override {
        return m_processor->GetTile(id, tile);
    }
    IPravonError* GetTile(LONG column, LONG row, IPravonTile** tile) override {
        return m_processor->GetTile(column, row, tile);
    }
    IPravonError* LockTile(IPravonTileGrid* grid, LONG column, LONG row, void** data, PravonRect* tileRect,
                           PravonRect* clippedRect, LONG* rowBytes) override {
        return m_processor->LockTile(grid, column, row, data, tileRect, clippedRect, rowBytes);
    }
    IPravonError* LockTile(const IPravonTileID& id, void** data, BITMAPINFOHEADER** header) override {
        return m_processor->LockTile(id, data, header);
    }
    IPravonError* LockTile(LONG column, LONG row, void** data, BITMAPINFOHEADER** header) override {
        return m_processor->LockTile(column, row, data, header);
    }
    IPravonError* UnlockTile(IPravonTileGrid* grid, LONG column, LONG row) override {
        return m_processor->UnlockTile(grid, column, row);
    }
    IPravonError* UnlockTile(const IPravonTileID& id) override { return m_processor->UnlockTile(id); }
    IPravonError* UnlockTile(LONG column, LONG row) override { return m_processor->UnlockTile(column, row); }
    IPravonError* MapRect(const PravonRect& rect, IPravonTileGrid** grid) override {
        return m_processor->MapRect(rect, grid);
    }
    IPravonError* SetSize(LONG width, LONG height) override { return m_processor->SetSize(width, height); }
    IPravonError* SetColorSpace(LONG colorSpace) override { return m_processor->SetColorSpace(colorSpace); }
    IPravonError* SetResolution(double resolution) override { return m_processor->SetResolution(resolution); }
    IPravonError* SetTransform(bool flip, double angle, bool relative) override {
        return m_processor->SetTransform(flip, angle, relative);
    }
    IPravonError* SetPalette(const PravonPalette& palette) override {
        return m_processor->SetPalette(palette);
    }
    IPravonError* SetUsage(LONG usage) override { return m_processor->SetUsage(usage); }
    IPravonError* GetUsage(LONG* usage) override { return m_processor->GetUsage(usage); }
    ULONG AddRef() override { return ++m_references; }
    ULONG Release() override;

    // The internal processor's progress: the caller's object hears the library's values.
    int Progress(LONG current, LONG total) override;

private:
    ~CKvnProcessRawVendor1() override;
    IPravonError* Prepare();
    // Reads the exposure and white balance of the stored settings tag; readers of damaged bytes may throw.
    IPravonError* ReadStoredSettings(IPravonTagControl* tags);
    void ApplyWhiteBalanceOverride();

    std::atomic<ULONG> m_references{1};
    CProcessRawVendor1* m_processor; // referenced
    IKvnProcessRawVendor1::IProgress* m_callback = nullptr;
    ImageProperties m_snapshot;
    CKvWBAdjustment m_storedWhiteBalance, m_workingWhiteBalance;
    CKvExposureAdjustment m_storedExposure, m_workingExposure;
    BYTE m_whiteBalanceEnabled = 0;
    BYTE m_exposureEnabled = 0;
    BYTE m_whiteBalanceOverride = 0;
    LONG m_overridePreset = 0;
    LONG m_overrideTemperature = 0;
    BYTE m_exposureOverride = 0;
    double m_overrideExposure = 0.0;
    BYTE m_prepared = 0;
};
