// The standard filter that resizes an image: to a fixed output size, or by a pair of factors, with
// nearest-neighbour, linear or cubic resampling (a direction that shrinks is averaged over areas with
// linear and cubic). The resampling itself is CScalePipeline's; the static mappings serve callers that
// need the geometry without a filter.
#pragma once

#include "filters/CScalePipeline.h"
#include "filters/engine/CPravonFilterBase.h"
#include "platform/win/FourCC.h"

class CPravonFilterScale : public CPravonFilterBase {
public:
    static constexpr LONG kCode = FourCC("scal");
    static constexpr LONG kNearest = 0;
    static constexpr LONG kLinear = 1;
    static constexpr LONG kCubic = 2;

    // Starts with factors 1.0 and 1.0 (so it passes its source through) and an output size of 0 x 0.
    CPravonFilterScale(IPravonManager* manager, LONG method);
    ~CPravonFilterScale() override;

    // Each returns at once when nothing changes; otherwise the change drops the cache and, with notify
    // (when the filter is enabled and has a source), is announced downstream: a new method as a data
    // change over the whole output, a new size or new factors as a size change.
    IPravonError* SetMethod(LONG method, bool notify);
    // Fixed-size mode with this output size; a negative side gives PravonKind::kOutOfRange and changes
    // nothing.
    IPravonError* SetSize(LONG width, LONG height, bool notify);
    // Scale mode when both factors are above 0, else fixed-size mode with the stored size. Factors within
    // 1e-10 of the stored ones change nothing; factors that are not finite give PravonKind::kOutOfRange.
    IPravonError* SetScale(double sx, double sy, bool notify);
    IPravonError* SetScale(double s, bool notify);
    LONG GetMethod() const { return m_method; }
    // The mean of the two factors.
    double GetScale() const { return (m_scaleX + m_scaleY) / 2; }
    void GetScale(double* sx, double* sy) const;

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "Scale"; }

    // Mappings without a filter, in place. The four-size forms take source width and height, then output
    // width and height; integer rectangles are rounded outwards (left and top down, right and bottom up),
    // integer points truncated toward zero. A zero size or factor to divide by leaves that axis alone.
    static void FilterPoint(LONG* x, LONG* y, LONG srcW, LONG srcH, LONG dstW, LONG dstH);
    static void FilterPoint(double* x, double* y, LONG srcW, LONG srcH, LONG dstW, LONG dstH);
    static void FilterRect(PravonRect* rect, LONG srcW, LONG srcH, LONG dstW, LONG dstH);
    static void FilterRect(PravonDblRect* rect, LONG srcW, LONG srcH, LONG dstW, LONG dstH);
    static void FilterPoint(LONG* x, LONG* y, double s);
    static void FilterPoint(double* x, double* y, double s);
    static void FilterRect(PravonRect* rect, double s);
    static void FilterRect(PravonDblRect* rect, double s);
    static void FilterPoint(LONG* x, LONG* y, double sx, double sy);
    static void FilterPoint(double* x, double* y, double sx, double sy);
    static void FilterRect(PravonRect* rect, double sx, double sy);
    static void FilterRect(PravonDblRect* rect, double sx, double sy);
    static void DefilterPoint(LONG* x, LONG* y, LONG srcW, LONG srcH, LONG dstW, LONG dstH);
    static void DefilterPoint(double* x, double* y, LONG srcW, LONG srcH, LONG dstW, LONG dstH);
    static void DefilterRect(PravonRect* rect, LONG srcW, LONG srcH, LONG dstW, LONG dstH);
    static void DefilterRect(PravonDblRect* rect, LONG srcW, LONG srcH, LONG dstW, LONG dstH);
    static void DefilterPoint(LONG* x, LONG* y, double s);
    static void DefilterPoint(double* x, double* y, double s);
    static void DefilterRect(PravonRect* rect, double s);
    static void DefilterRect(PravonDblRect* rect, double s);
    static void DefilterPoint(LONG* x, LONG* y, double sx, double sy);
    static void DefilterPoint(double* x, double* y, double sx, double sy);
    static void DefilterRect(PravonRect* rect, double sx, double sy);
    static void DefilterRect(PravonDblRect* rect, double sx, double sy);

    // Disabled or passing through: unchanged. Scale mode: the factor forms. Fixed-size mode: the four-size
    // forms with the first source's size (of sources, or the filter's own when none are given).
    IPravonError* FilterPoint(double* x, double* y, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* FilterPoint(LONG* x, LONG* y, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* FilterRect(PravonDblRect* rect, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* FilterRect(PravonRect* rect, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* DefilterPoint(double* x, double* y, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* DefilterPoint(LONG* x, LONG* y, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* DefilterRect(PravonDblRect* rect, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* DefilterRect(PravonRect* rect, IPravonDataSource* const* sources, LONG count) override;

    // Scale mode: each source side times its factor, rounded; an output side beyond 32 bits gives kind
    // 1013. Fixed-size mode: the stored size.
    IPravonError* GetFilteredSize(IPravonDataSource* const* sources, LONG count, LONG* width,
                                  LONG* height) override;

    IPravonError* FilterSize(IPravonDataSource* source, ChangeSize* change) override;
    IPravonError* FilterColorSpace(IPravonDataSource* source, ChangeColorSpace* change) override;
    IPravonError* FilterUpdateAll(IPravonDataSource* source) override;

    // The set-up of the last tile, for tests.
    const CScalePipeline& GetPipeline() const { return m_pipeline; }

protected:
    // What one output tile is computed from: the first source (null when it is empty), its size and
    // colour space, and the output size.
    struct CTileSource {
        IPravonDataSource* source = nullptr;
        LONG sourceWidth = 0;
        LONG sourceHeight = 0;
        LONG outputWidth = 0;
        LONG outputHeight = 0;
        LONG colorSpace = 0;
    };
    // Reads them for a tile and checks that the tile is laid out for the source's pixels; an empty source
    // blackens the tile's invalid part and leaves source null.
    IPravonError* ReadTileSource(CProcessInfo* info, const COutputTile& out, CTileSource* tile);

    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;
    // The linear and cubic kernels reach one and two source pixels beyond the pixel an output pixel maps
    // back to, in the directions that enlarge.
    CHalo GetHalo(IPravonDataSource* const* sources, LONG count) override;
    // Every pixel of a tile's invalid part is resampled from the source (black without one).
    bool WritesWholeInvalidArea() const override { return true; }
    // Output pixels are computed from the source and output sizes, which in scale mode the factors only
    // approximate (by up to half an output pixel): a changed area is mapped by the sizes in either mode.
    IPravonError* MapChangedArea(IPravonDataSource* source, const PravonRect& rect,
                                 PravonRect* area) override;

private:
    bool InScaleMode() const { return m_scaleX > 0 && m_scaleY > 0; }
    bool Maps() const { return IsEnabled() && !IsPassThrough(); }
    bool HasSource() const;
    // The first of sources, or of the filter's own when none are given, and its size.
    IPravonError* MappingSourceSize(IPravonDataSource* const* sources, LONG count, LONG* width, LONG* height);
    // Calls map with the geometry of the filter's mode, the arguments of a static mapping after the shape.
    template <class Map>
    IPravonError* MapOwn(IPravonDataSource* const* sources, LONG count, bool given, Map&& map);
    IPravonError* OwnOutputSize(LONG* width, LONG* height);
    IPravonError* AnnounceSize(LONG oldWidth, LONG oldHeight);

    LONG m_method;
    LONG m_width = 0;
    LONG m_height = 0;
    double m_scaleX = 1.0;
    double m_scaleY = 1.0;
    CScalePipeline m_pipeline;
};
