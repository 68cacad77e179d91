// The two passes of a session as runs that work through rows a few at a time: the statistics run measures
// the source's region block by block, the output run copies a strip with its margin into the strip buffer
// and then maps it row band by row band into the destination.
#pragma once

#include "platform/dragkvl1/DragMemory.h"
#include "platform/dragkvl1/DragToneMap.h"

namespace dragkvl1 {

// Rows a run prefers to handle per band; the caller's limit callback may cut that down.
constexpr std::uint32_t kPreferredBandRows = 64;

class CDragRun {
public:
    explicit CDragRun(const DragParams& params) : m_params(params) {}
    CDragRun(const CDragRun&) = delete;
    CDragRun& operator=(const CDragRun&) = delete;
    virtual ~CDragRun() = default;

    // Each answers DRAG_OK or a failure; with DRAG_ERR_OBJECT, *object holds a callback's error.
    virtual std::int32_t Begin(void** object) = 0;
    // Works through up to rows rows.
    virtual std::int32_t Step(std::int32_t rows, void** object) = 0;
    virtual bool Done() const = 0;
    // 0..100.
    virtual std::int32_t Progress() const = 0;

protected:
    // Rows per band for rows of bytesPerRow bytes, asked of the caller's limit callback.
    std::int32_t BandRows(std::uint64_t bytesPerRow, std::uint32_t* rows, void** object) const;

    DragParams m_params;
};

class CStatisticsRun final : public CDragRun {
public:
    CStatisticsRun(const DragParams& params, const DragImageRef& statistics);

    std::int32_t Begin(void** object) override;
    std::int32_t Step(std::int32_t rows, void** object) override;
    bool Done() const override { return m_done == m_height; }
    std::int32_t Progress() const override;

    // The size of the statistics image for a measured region.
    static std::uint32_t StatisticsSize(std::uint32_t regionSize) {
        return (regionSize + DRAG_STATISTICS_BLOCK - 1) / DRAG_STATISTICS_BLOCK;
    }

private:
    std::int32_t EmitBlockRow(void** object);

    DragImageRef m_statistics;
    std::uint32_t m_width;  // of the region
    std::uint32_t m_height; // of the region
    std::uint32_t m_planes;
    std::uint32_t m_blocksAcross;
    std::uint32_t m_bandRows = 0;
    std::uint32_t m_done = 0;
    std::uint32_t m_rowsInBlock = 0;
    std::uint32_t m_blockRow = 0;
    CCallbackMemory m_band;
    CCallbackMemory m_sums;
    CCallbackMemory m_means;
};

class COutputRun final : public CDragRun {
public:
    COutputRun(const DragParams& params, std::int32_t kind);

    std::int32_t Begin(void** object) override;
    std::int32_t Step(std::int32_t rows, void** object) override;
    bool Done() const override { return m_mapped == m_stripHeight; }
    std::int32_t Progress() const override;

private:
    std::int32_t CopyBand(std::uint32_t rows, void** object);
    std::int32_t MapRows(std::uint32_t rows, void** object);

    std::uint32_t m_stripWidth;
    std::uint32_t m_stripHeight;
    std::uint32_t m_bufferWidth;
    std::uint32_t m_bufferHeight;
    ToneMapping m_mapping;
    CStatisticsField m_field;
    std::uint32_t m_bandRows = 0;
    std::uint32_t m_copied = 0;
    std::uint32_t m_mapped = 0;
    CCallbackMemory m_copy;       // buffer rows on their way from the source
    CCallbackMemory m_in;         // buffer rows with the detail square's reach on every side
    CCallbackMemory m_brightness; // of m_in
    CCallbackMemory m_columns;    // column sums of the detail square
    CCallbackMemory m_out;
};

} // namespace dragkvl1
