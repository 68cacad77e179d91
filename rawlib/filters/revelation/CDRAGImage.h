// An image as the Revelation library sees it: the context of its row callbacks. Rows are read through a
// source tile cursor that clamps positions outside the image to the nearest edge pixel, and written
// through a cursor of a few locked tiles, clipped to the image. The tiles stay locked between callbacks
// until Release, which the session calls whenever a run ends.
#pragma once

#include "filters/engine/CSourceTileCursor.h"
#include "platform/dragkvl1/DRAGKVL1.h"
#include "platform/pravon/IPravonImage.h"

class CDRAGImage {
public:
    // Tiles a writing cursor keeps locked at most.
    static constexpr LONG kWriteTiles = 4;

    CDRAGImage() = default;
    CDRAGImage(const CDRAGImage&) = delete;
    CDRAGImage& operator=(const CDRAGImage&) = delete;

    // Describes an 8- or 16-bit grey or RGB image, and a grey second source of its size (or null) whose
    // samples fill plane 3, reading rows across the whole width at a time. Geometry is read now.
    IPravonError* Describe(IPravonDataSource* image, IPravonDataSource* second = nullptr);
    // Describes an image that is written; with notify, each written rectangle is announced from it as a
    // data notification.
    IPravonError* DescribeForWriting(IPravonImage* image, bool notify);
    // Lets go of every tile the cursors hold.
    void Release();

    LONG GetWidth() const { return m_width; }
    LONG GetHeight() const { return m_height; }
    LONG GetLastRow() const { return m_height - 1; }
    LONG GetDepth() const { return m_depth; }
    bool IsColour() const { return m_colour; }
    // The reference a parameter block carries, with the area in use.
    DragImageRef Ref(ULONG planes, const PravonRect& area);

    // The row callbacks; description is a CDRAGImage. Rectangles that reach farther past the image than
    // the strip margin are refused with PravonKind::kBadArgument.
    static void* RowSource(const DragRect* rect, std::uint16_t* planar, void* description);
    static void* RowSink(const DragRect* rect, const std::uint16_t* planar, void* description);

    // Whether the code is 8- or 16-bit grey or RGB, the layouts the callbacks carry.
    static bool IsCarried(LONG colorSpace);

private:
    IPravonError* Read(const DragRect& rect, std::uint16_t* planar);
    IPravonError* ReadPlanes(CSourceTileCursor& cursor, LONG colorSpace, const DragRect& rect, int firstPlane,
                             int planes, std::uint16_t* planar);
    IPravonError* Write(const DragRect& rect, const std::uint16_t* planar);
    bool WithinReach(const DragRect& rect) const;

    IPravonDataSource* m_image = nullptr;
    IPravonDataSource* m_second = nullptr;
    CSourceTileCursor m_cursor;
    CSourceTileCursor m_secondCursor;
    LONG m_width = 0;
    LONG m_height = 0;
    LONG m_colorSpace = 0;
    LONG m_secondColorSpace = 0;
    LONG m_depth = 0; // bits per sample
    bool m_colour = false;
    bool m_notify = false;
};
