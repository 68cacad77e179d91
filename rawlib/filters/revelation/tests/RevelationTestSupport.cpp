#include "rawlib/filters/revelation/tests/RevelationTestSupport.h"

namespace revtest {

void RevelationTest::SetUp() {
    DragTestReset();
    CDRAGBase::SetStripBytesForTesting(0);
}

void RevelationTest::TearDown() {
    EXPECT_EQ(CDRAGBase::GetLibraryUseCount(), 0) << "every session gave its handle back";
    EXPECT_EQ(DragTestLiveAllocations(), 0u) << "the library gave back all its memory";
    EXPECT_EQ(m_manager.GetLockCount(), 0) << "no tile stays locked";
    CDRAGBase::SetStripBytesForTesting(0);
    DragTestReset();
}

IPravonError* RevelationTest::RunToEnd(CDRAGBase& session, LONG amount) {
    LONG progress = 0;
    LONG last = 0;
    while (!session.IsIdle()) {
        if (IPravonError* e = session.Process(&progress, amount))
            return e;
        EXPECT_GE(progress, last) << "progress never goes back";
        last = progress;
    }
    EXPECT_EQ(progress, 100);
    return nullptr;
}

IPravonError* RevelationTest::Develop(CDRAGBase& session, IPravonDataSource* source,
                                      IPravonImage* destination, const Setting& s) {
    if (IPravonError* e = session.BeginWhole(source, nullptr, s.flag, s.depth, s.kind, nullptr))
        return e;
    if (IPravonError* e = RunToEnd(session))
        return e;
    if (IPravonError* e =
            session.BeginTiled(source, s.p1, s.p2, s.p3, destination, s.flag, s.depth, s.kind, true, nullptr))
        return e;
    return RunToEnd(session);
}

PravonImagePtr RevelationTest::NewImage() {
    IPravonImage* image = nullptr;
    EXPECT_PV_OK(m_manager.CreateImage(1, &image));
    return PravonImagePtr(image);
}

kvtest::TestPlane Scene(LONG width, LONG height, LONG colorSpace) {
    kvtest::TestPlane plane(width, height, colorSpace);
    const ULONG top = PravonColorSpace::BitsPerSample(colorSpace) == 8 ? 255 : 65535;
    for (LONG y = 0; y < height; ++y) {
        for (LONG x = 0; x < width; ++x) {
            for (LONG c = 0; c < plane.Channels(); ++c) {
                const double ramp = 0.05 + 0.85 * x / std::max<LONG>(width - 1, 1);
                const double texture = ((x * 7 + y * 13 + c * 5) % 11) / 11.0 * 0.08;
                plane.SetSample(x, y, c, static_cast<ULONG>((ramp + texture) * top));
            }
        }
    }
    return plane;
}

} // namespace revtest
