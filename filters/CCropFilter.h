// Cuts a rectangle out of its single source. The rectangle is in source coordinates; a new crop filter,
// or one whose rectangle is the whole source, passes its source through unchanged.
#pragma once

#include "filters/engine/CPravonFilterBase.h"
#include "platform/win/FourCC.h"

class CCropFilter : public CPravonFilterBase {
public:
    static constexpr LONG kCode = FourCC("Crop");

    explicit CCropFilter(IPravonManager* manager);
    ~CCropFilter() override;

    LONG GetFilterCode() const override { return kCode; }
    const char* GetFilterDescription() const override { return "Crop Filter"; }

    // Stores the rectangle; all zero stands for the whole source when there is one. An inverted rectangle
    // (right < left or bottom < top), or one whose sides do not fit 32 bits, gives PravonKind::kOutOfRange
    // and changes nothing. Left and top may be negative: what lies outside the source comes out as zeros.
    // With notify on an enabled filter, kSize goes out with the old and new crop sizes, even when nothing
    // changed.
    IPravonError* SetCrop(const PravonRect& rect, bool notify);
    const PravonRect& GetCrop() const { return m_crop; }

    // Output = source minus the crop's corner; none of them moves anything while the filter is disabled
    // or passing its source through.
    IPravonError* FilterPoint(double* x, double* y, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* FilterPoint(LONG* x, LONG* y, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* FilterRect(PravonDblRect* rect, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* FilterRect(PravonRect* rect, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* DefilterPoint(double* x, double* y, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* DefilterPoint(LONG* x, LONG* y, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* DefilterRect(PravonDblRect* rect, IPravonDataSource* const* sources, LONG count) override;
    IPravonError* DefilterRect(PravonRect* rect, IPravonDataSource* const* sources, LONG count) override;

    // The source's size, each side cut to the crop's while the filter crops.
    IPravonError* GetFilteredSize(IPravonDataSource* const* sources, LONG count, LONG* width,
                                  LONG* height) override;
    // A source of a new size moves the crop, keeping its size where it fits, so that it stays inside.
    IPravonError* FilterSize(IPravonDataSource* source, ChangeSize* change) override;

private:
    // Copies the source pixels under the invalid part; pixels no source pixel covers become zeros.
    IPravonError* ProcessTile(IPravonTile* tile, CProcessInfo* info) override;
    bool WritesWholeInvalidArea() const override { return true; }

    bool Crops() const { return IsEnabled() && !IsPassThrough(); }
    // Moves by the crop's corner, sign -1 into output coordinates and 1 back, while the filter crops.
    template <class T>
    IPravonError* Shift(T* x, T* y, int sign) const;
    template <class R>
    IPravonError* ShiftRect(R* rect, int sign) const;

    CPravonRect m_crop;
};
