// The high-quality demosaicing for the tests: the filter connected to a mosaic image, and the
// interpolation as its definition reads, worked out over whole planes (no row buffers), with counts of
// the classes and strength flags it met so that a test can tell it exercised them all.
#pragma once

#include "rawlib/filters/CDeBayerSingleHQ4Filter.h"
#include "rawlib/filters/tests/DeBayerTestSupport.h"

#include <array>
#include <memory>
#include <vector>

namespace kvtest {

struct HQ4Demosaic {
    explicit HQ4Demosaic(const TestPlane& mosaic,
                         const std::vector<BYTE>& descriptor = BayerLayouts()[0].descriptor,
                         LONG tileSize = 64)
        : manager(tileSize), source(MakeImage(manager, mosaic)),
          filter(std::make_unique<CDeBayerSingleHQ4Filter>(&manager)) {
        EXPECT_PV_OK(PravonConnect(source.get(), filter.get()));
        EXPECT_PV_OK(filter->SetCFAPattern(descriptor.data(), static_cast<ULONG>(descriptor.size()), false));
    }

    TestPlane Pull(PullOrder order = PullOrder::TileOrder) {
        TestPlane out;
        EXPECT_PV_OK(PullAll(filter.get(), &out, order));
        return out;
    }

    CPravonMemoryManager manager;
    PravonImagePtr source;
    std::unique_ptr<CDeBayerSingleHQ4Filter> filter;
};

class ReferenceHQ4 {
public:
    struct Rgb {
        LONG r, g, b;
    };

    // luts: the red, green and blue LUTs the samples go through (12-bit sample to square-root domain).
    ReferenceHQ4(const TestPlane& mosaic, const BayerLayout& layout, const LONG* const luts[3],
                 const LONG levels[3]);

    // Output pixel (u, v) in uncropped output coordinates.
    Rgb Output(LONG u, LONG v, bool nonSquare) const;

    // The final class byte and the strength flag of source site (x, y).
    int ClassAt(LONG x, LONG y) const { return At(m_class2, x, y); }
    int FirstClassAt(LONG x, LONG y) const { return At(m_class, x, y); }
    int StrengthAt(LONG x, LONG y) const { return At(m_strength, x, y); }

    // How often each final class byte (0..10) and each strength flag (0..3) occurred inside the image.
    std::array<LONG, 11> classCounts{};
    std::array<LONG, 4> strengthCounts{};
    // Red and blue sites whose class the second classification changed.
    LONG reclassified = 0;

private:
    static constexpr LONG kMargin = 20;

    template <class T>
    struct Plane {
        LONG width = 0;
        std::vector<T> v;
    };
    template <class T>
    void Resize(Plane<T>& p) const {
        p.width = m_width;
        p.v.assign(static_cast<std::size_t>(m_width) * m_height, T{});
    }
    // Positions beyond the planes read the nearest one inside: those values are never used for the image.
    template <class T>
    T& At(Plane<T>& p, LONG x, LONG y) const {
        return p.v[Index(x, y)];
    }
    template <class T>
    const T& At(const Plane<T>& p, LONG x, LONG y) const {
        return p.v[Index(x, y)];
    }
    std::size_t Index(LONG x, LONG y) const;

    bool IsGreen(LONG x, LONG y) const;
    bool IsRedRow(LONG y) const { return ((y + m_layout.redRowPhase) & 1) != 0; }
    LONG M(LONG x, LONG y) const { return At(m_m, x, y); }
    Rgb Pixel(LONG x, LONG y) const { return At(m_rgb, x, y); }

    const BayerLayout& m_layout;
    LONG m_imageWidth;
    LONG m_imageHeight;
    LONG m_width;
    LONG m_height;
    Plane<LONG> m_m;
    Plane<BYTE> m_class;
    Plane<BYTE> m_class2;
    Plane<BYTE> m_strength;
    Plane<Rgb> m_rgb;
};

} // namespace kvtest
