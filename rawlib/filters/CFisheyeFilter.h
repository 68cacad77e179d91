// Remaps an RGB picture taken through a fisheye lens along the rays from its centre, with the radial tables
// of the lens (read from the lens file through the lens cache), interpolating with a radial cubic kernel.
#pragma once

#include "CFisheyeGeometry.h"
#include "CFisheyeLensCache.h"
#include "filters/engine/CPravonFilterBase.h"

#include "CFisheyeWindow.h"

#include <mutex>
#include <optional>

class IPravonTagControl;

class CFisheyeFilter : public CPravonFilterBase {
public:
    static constexpr LONG kCode = kKvFisheyeCode;
    static constexpr LONG kModeCount = 10;
    static constexpr LONG kDefaultMode = 3;

    using CliManager = CFisheyeLensCache::CliManager;
    using CLensCriteria = CFisheyeLensCache::CLensCriteria;
    using LensInfoMap = CFisheyeLensCache::LensInfoMap;

    explicit CFisheyeFilter(IPravonManager* manager);
    ~CFisheyeFilter() override;
    CFisheyeFilter(const CFisheyeFilter&) = delete;
    CFisheyeFilter& operator=(const CFisheyeFilter&) = delete;

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "Fisheye Test Filter"; }

    // 1: tables A and C, with the background under the pixels whose source lies outside the picture; 0:
    // tables B and D, leaving those pixels as they were. With notify on an enabled filter with a source, the
    // whole output is announced as changed.
    IPravonError* SetTableFlag(BYTE flag, bool notify);
    BYTE GetTableFlag() const { return m_tableFlag; }
    // The background colour, 0 to 9 (white, light grey, dark grey, black, red, green, blue, cyan, magenta,
    // yellow); another value gives PravonKind::kBadArgument and changes nothing.
    IPravonError* SetMode(LONG mode, bool notify);
    LONG GetMode() const { return m_mode; }
    // The background colour of a mode as three 16-bit samples (the 8-bit ones times 257).
    static void GetBackground(LONG mode, WORD samples[3]);

    // Takes the lens named by the picture's tags from the lens cache, dropping the one held before. Only the
    // fisheye lens is known; its lens file must be a whole lens record (KvLensFileKind otherwise).
    IPravonError* SelectLensModel(IPravonTagControl* tags);
    // Tables A and B are there: a lens has been selected.
    bool HasLensData() const;
    const CKvLensInformation* GetLensInformation() const { return m_lens; }

    // Source to output (tables C, D) and output to source (A, B) for the given sources' first one (else the
    // filter's own first source). Points are held to the picture; rectangles grow to whole pixels. Nothing
    // moves while the filter is disabled or passing its source through, or before a lens is selected.
    IPravonError* FilterPoint(double* x, double* y, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* FilterPoint(LONG* x, LONG* y, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* FilterRect(PravonDblRect* rect, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* FilterRect(PravonRect* rect, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* DefilterPoint(double* x, double* y, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* DefilterPoint(LONG* x, LONG* y, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* DefilterRect(PravonDblRect* rect, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* DefilterRect(PravonRect* rect, IPravonDataSource* const* sources, LONG count) override;

protected:
    // The interpolation reads one source pixel before and two after the one a pixel maps back to.
    CHalo GetHalo(IPravonDataSource* const* sources, LONG count) override;
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;

private:
    enum class Direction { kForward, kBack };
    // The table of a direction under the current flag; null before a lens is selected.
    const double* TableFor(Direction direction) const;
    // The geometry a mapping moves points by: none while the filter is disabled or passing its source
    // through, or before a lens is selected; else that of the table over the source's size.
    IPravonError* Mapping(Direction direction, IPravonDataSource* const* sources, LONG count,
                          std::optional<CFisheyeGeometry>* geometry) const;
    IPravonError* MapPoint(Direction direction, double* x, double* y, IPravonDataSource* const* sources,
                           LONG count);
    IPravonError* MapRectangle(Direction direction, PravonDblRect* rect, IPravonDataSource* const* sources,
                               LONG count);
    IPravonError* Changed(bool notify);

    BYTE m_tableFlag = 0;
    LONG m_mode = kDefaultMode;
    // The source window of the last tile, kept so that the next one reuses its memory rather than have
    // fresh pages cleared for it; a tile worked out while another holds it makes its own.
    std::mutex m_windowLock;
    CFisheyeWindow m_window;
    CKvLensInformation* m_lens = nullptr; // registered with the information as a user
};
