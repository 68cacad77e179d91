// Mirrors its source horizontally and rotates it clockwise by any angle in degrees. Every image carries a
// transform state (a flip applied first, then a rotation): in relative mode the filter adds its own flip and
// rotation to the source's state, in absolute mode it makes the output's state its own, and moves the pixels
// accordingly. Quarter turns are exact pixel walks; other angles take, for each output pixel, the source
// pixel it maps back to (zeros outside the source). With resizing on, the output grows to hold the rotated
// image; with it off, it keeps the source's size.
#pragma once

#include "filters/engine/CPravonFilterBase.h"
#include "platform/win/FourCC.h"

class CPravonFilterTransform : public CPravonFilterBase {
public:
    static constexpr LONG kCode = FourCC("xfrm");
    // An angle within this of another counts as that angle; near 0 also takes in what lies this close
    // below 360.
    static constexpr double kNear = 1e-10;

    // No flip, rotation 0, relative, resizing: the source passes through.
    explicit CPravonFilterTransform(IPravonManager* manager);
    ~CPravonFilterTransform() override;

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "Flip and Rotate Transform"; }

    // Each setter that changes the flip or the rotation drops the cache; with notify, while the filter is
    // enabled and has a source, a transform change goes downstream with the output's state and size before
    // and after. An angle that is not finite gives PravonKind::kOutOfRange and changes nothing.
    // SetTransform does nothing when all three equal the stored values (the angle as given, before it is
    // brought into [0, 360)).
    IPravonError* SetTransform(bool flip, double rotation, bool relative, bool notify);
    // A further mirror along the vertical axis, or along the horizontal one, on top of the filter's own.
    IPravonError* FlipHorz(bool notify);
    IPravonError* FlipVert(bool notify);
    IPravonError* RotateCW(double angle, bool notify);
    IPravonError* RotateCCW(double angle, bool notify);
    // With notify, a size change goes downstream.
    IPravonError* DoResize(bool resize, bool notify);

    bool GetFilterFlip() const { return m_flip; }
    double GetFilterRotation() const { return m_rotation; }
    bool IsRelative() const { return m_relative; }
    bool IsResizing() const { return m_resize; }

    // Any finite angle brought into [0, 360): -90 gives 270, 450 gives 90.
    static double ValidateRotation(double rotation);

    // The output's transform state from the source's (in place) and the filter's flip and rotation.
    static void DoStateTransform(bool* flip, double* rotation, bool filterFlip, double filterRotation,
                                 bool relative);
    void DoStateTransform(bool* flip, double* rotation) const;
    // What the source's pixels undergo to give that state, from the source's state (in place): in relative
    // mode the filter's own flip and rotation, in absolute mode what takes the source's state to the
    // filter's.
    static void GetRelativeTransform(bool* flip, double* rotation, bool filterFlip, double filterRotation,
                                     bool relative);
    void GetRelativeTransform(bool* flip, double* rotation) const;
    // The same for the first of sources (the filter's own when none are given), reading its state.
    IPravonError* GetRelativeTransform(IPravonDataSource* const* sources, LONG count, bool* flip,
                                       double* rotation);

    // The size of a width x height image rotated by rotation: with resize, the bounding box of the rotated
    // image (sides swapped at quarter turns); without, the same size. A rotation that is not finite, or a
    // side that does not fit 32 bits, gives PravonKind::kOutOfRange and leaves the size alone.
    static IPravonError* GetFilteredSize(LONG* width, LONG* height, double rotation, bool resize);

    // Mappings of a width x height source by a flip and a rotation, in place. Rectangles map to the
    // bounding box of their corners; integer rectangles are worked in doubles and truncated toward zero;
    // points map the pixel (x, y, x + 1, y + 1) and give its top-left corner.
    static void FilterRect(PravonDblRect* rect, LONG width, LONG height, bool flip, double rotation,
                           bool resize);
    static void FilterRect(PravonRect* rect, LONG width, LONG height, bool flip, double rotation,
                           bool resize);
    static void FilterPoint(double* x, double* y, LONG width, LONG height, bool flip, double rotation,
                            bool resize);
    static void FilterPoint(LONG* x, LONG* y, LONG width, LONG height, bool flip, double rotation,
                            bool resize);
    static void DefilterRect(PravonDblRect* rect, LONG width, LONG height, bool flip, double rotation,
                             bool resize);
    static void DefilterRect(PravonRect* rect, LONG width, LONG height, bool flip, double rotation,
                             bool resize);
    static void DefilterPoint(double* x, double* y, LONG width, LONG height, bool flip, double rotation,
                              bool resize);
    static void DefilterPoint(LONG* x, LONG* y, LONG width, LONG height, bool flip, double rotation,
                              bool resize);

    // Disabled or passing through: unchanged. Otherwise the static forms with the relative transform and
    // the size of the first of sources (the filter's own when none are given).
    IPravonError* FilterPoint(double* x, double* y, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* FilterPoint(LONG* x, LONG* y, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* FilterRect(PravonDblRect* rect, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* FilterRect(PravonRect* rect, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* DefilterPoint(double* x, double* y, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* DefilterPoint(LONG* x, LONG* y, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* DefilterRect(PravonDblRect* rect, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* DefilterRect(PravonRect* rect, IPravonDataSource* const* sources, LONG count) override;

    // The source's size, rotated by the relative rotation while the filter is enabled and resizing.
    IPravonError* GetFilteredSize(IPravonDataSource* const* sources, LONG count, LONG* width,
                                  LONG* height) override;
    // The source's state while disabled; otherwise the state DoStateTransform gives.
    IPravonError* GetFilteredTransform(IPravonDataSource* const* sources, LONG count, bool* flip,
                                       double* angle) override;

    // A new source size reaches downstream rotated as the output is.
    IPravonError* FilterSize(IPravonDataSource* source, ChangeSize* change) override;
    // A new source state reaches downstream as the output's new state and size.
    IPravonError* FilterTransform(IPravonDataSource* source, ChangeTransform* change) override;

protected:
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;
    // Quarter turns move pixels whole; any other angle takes the pixel under a corner of the output
    // pixel's mapped square, which may lie up to two pixels from the square's bounding box.
    CHalo GetHalo(IPravonDataSource* const* sources, LONG count) override;
    // Where quarter turns without resizing take the source's edge pixels beyond the source, a change at
    // the source's edge also reaches those bands.
    IPravonError* MapChangedArea(IPravonDataSource* source, const PravonRect& rect,
                                 PravonRect* area) override;
    // Every pixel of the invalid area is a source pixel or zeros.
    bool WritesWholeInvalidArea() const override { return true; }

private:
    // The relative transform and the size of the first of sources.
    struct CSourceView {
        bool flip = false;
        double rotation = 0;
        LONG width = 0;
        LONG height = 0;
    };
    IPravonError* ViewSource(IPravonDataSource* const* sources, LONG count, CSourceView* view);
    // Whether the mappings move anything.
    bool Maps() const { return IsEnabled() && !IsPassThrough(); }
    template <class Map>
    IPravonError* MapOwn(IPravonDataSource* const* sources, LONG count, Map&& map);

    // The output's state and size as downstream sees them.
    struct COutputState {
        bool flip = false;
        double rotation = 0;
        LONG width = 0;
        LONG height = 0;
    };
    IPravonError* ReadOutputState(COutputState* state);
    bool HasSource() const;
    // Applies change (which gives false when nothing changed), drops the cache, sets the pass-through
    // flag, and with notify announces the output's state and size before and after, as a transform or a
    // size notification; a state that cannot be read undoes the change.
    template <class Change>
    IPravonError* ApplyChange(bool notify, LONG notification, Change&& change);
    void UpdatePassThrough();

    bool m_flip = false;
    double m_rotation = 0;
    bool m_relative = true;
    bool m_resize = true;
};
