#include "platform/dragkvl1/DragSession.h"

#include "platform/dragkvl1/DragHooks.h"

#include <algorithm>

namespace dragkvl1 {

namespace {

bool AreaInside(const DragImageRef& ref) {
    return ref.left < ref.right && ref.top < ref.bottom && ref.right <= ref.width && ref.bottom <= ref.height;
}

bool IsWhole(const DragImageRef& ref) {
    return ref.width > 0 && ref.height > 0 && ref.left == 0 && ref.top == 0 && ref.right == ref.width &&
           ref.bottom == ref.height;
}

// The strip buffer holds the strip with the margin on every side, and its area is the strip.
bool IsStripBuffer(const DragImageRef& buffer, const DragImageRef& source) {
    const std::uint64_t w = source.right - source.left;
    const std::uint64_t h = source.bottom - source.top;
    const std::uint64_t m = DRAG_STRIP_MARGIN;
    return buffer.planes == 3 && buffer.width == w + 2 * m && buffer.height == h + 2 * m &&
           buffer.left == m && buffer.top == m && buffer.right == m + w && buffer.bottom == m + h;
}

bool IsUsableOutput(const DragParams& p) {
    const DragImageRef& s = p.source;
    const DragImageRef& d = p.destination;
    if (p.inputCount != 1 || s.planes != 3 || !AreaInside(s) || p.lastRow != s.height - 1)
        return false;
    if (!IsStripBuffer(p.buffer, s) || p.statistics.planes != 1 || !IsWhole(p.statistics))
        return false;
    if (d.planes != 3 || !AreaInside(d) || d.right - d.left != s.right - s.left ||
        d.bottom - d.top != s.bottom - s.top)
        return false;
    return !(p.useLowest && p.useHighest && std::clamp(p.lowest, 0, 65535) > std::clamp(p.highest, 0, 65535));
}

} // namespace

bool CDragSession::IsUsable(const DragParams& p, const DragInfo* info) {
    if (p.size != sizeof(DragParams) || p.one != 1 || p.sampleBits != 16)
        return false;
    if (!p.rowSource || !p.rowSink || !p.allocate || !p.release || !p.limit)
        return false;
    if (p.pass == DRAG_PASS_STATISTICS) {
        const DragImageRef& m = p.measured;
        const bool planesFit = (p.inputCount == 1 && m.planes == 3) || (p.inputCount == 2 && m.planes == 4);
        return info && info->size == sizeof(DragInfo) && planesFit && AreaInside(m) &&
               p.lastRow == m.height - 1;
    }
    return p.pass == DRAG_PASS_OUTPUT && IsUsableOutput(p);
}

std::int32_t CDragSession::Pass() const {
    return m_state == State::kIdle ? kDragAnyPass : static_cast<std::int32_t>(m_params.pass);
}

std::int32_t CDragSession::Report(std::int32_t result, const std::string& text, void* object,
                                  DragError* error) {
    if (error) {
        error->text = nullptr;
        error->object = nullptr;
        if (result == DRAG_ERR_TEXT) {
            m_errorText = text;
            error->text = m_errorText.c_str();
        } else if (result == DRAG_ERR_OBJECT) {
            error->object = object;
        }
    }
    return result;
}

std::int32_t CDragSession::Init(const DragParams* params, DragInfo* info, DragError* error) {
    if (!error || !params)
        return DRAG_ERR_PARAM;
    if (m_state == State::kRunning)
        return Report(DRAG_ERR_STATE, {}, nullptr, error);
    if (!IsUsable(*params, info))
        return Report(DRAG_ERR_PARAM, {}, nullptr, error);
    m_params = *params;
    m_statistics = {};
    m_info = {};
    if (m_params.pass == DRAG_PASS_STATISTICS) {
        info->statisticsWidth =
            CStatisticsRun::StatisticsSize(m_params.measured.right - m_params.measured.left);
        info->statisticsHeight =
            CStatisticsRun::StatisticsSize(m_params.measured.bottom - m_params.measured.top);
        m_info = *info;
    }
    m_run.reset();
    m_state = State::kInitialised;
    KeepParams(m_params);
    return Report(DRAG_OK, {}, nullptr, error);
}

std::int32_t CDragSession::SetStatisticsImageInfo(const DragImageRef* statistics) {
    if (m_state != State::kInitialised || m_params.pass != DRAG_PASS_STATISTICS)
        return DRAG_ERR_STATE;
    if (!statistics || statistics->planes != 1 || !IsWhole(*statistics) ||
        statistics->width != m_info.statisticsWidth || statistics->height != m_info.statisticsHeight)
        return DRAG_ERR_PARAM;
    m_statistics = *statistics;
    return DRAG_OK;
}

std::int32_t CDragSession::Begin(DragError* error) {
    if (!error)
        return DRAG_ERR_PARAM;
    const bool statistics = m_params.pass == DRAG_PASS_STATISTICS;
    if (m_state != State::kInitialised || (statistics && m_statistics.width == 0))
        return Report(DRAG_ERR_STATE, {}, nullptr, error);
    std::unique_ptr<CDragRun> run;
    if (statistics)
        run = std::make_unique<CStatisticsRun>(m_params, m_statistics);
    else
        run = std::make_unique<COutputRun>(m_params, m_kind);
    void* object = nullptr;
    if (const std::int32_t result = run->Begin(&object))
        return Report(result, {}, object, error);
    m_run = std::move(run);
    m_processCalls = 0;
    m_state = State::kRunning;
    return Report(DRAG_OK, {}, nullptr, error);
}

std::int32_t CDragSession::Process(std::int32_t amount, std::int32_t* progress, DragError* error, int* call) {
    if (!error || !progress || amount <= 0)
        return DRAG_ERR_PARAM;
    if (m_state != State::kRunning)
        return Report(DRAG_ERR_STATE, {}, nullptr, error);
    void* object = nullptr;
    const std::int32_t result = m_run->Step(amount, &object);
    *progress = m_run->Progress();
    *call = ++m_processCalls;
    return Report(result, {}, object, error);
}

std::int32_t CDragSession::Complete() const {
    return m_state == State::kRunning && m_run->Done() ? 1 : 0;
}

std::int32_t CDragSession::End(DragError* error) {
    if (!error)
        return DRAG_ERR_PARAM;
    if (m_state != State::kRunning || !m_run->Done())
        return Report(DRAG_ERR_STATE, {}, nullptr, error);
    m_run.reset();
    m_state = State::kIdle;
    return Report(DRAG_OK, {}, nullptr, error);
}

std::int32_t CDragSession::Abort(DragError* error) {
    if (!error)
        return DRAG_ERR_PARAM;
    m_run.reset();
    m_state = State::kIdle;
    return Report(DRAG_OK, {}, nullptr, error);
}

} // namespace dragkvl1
