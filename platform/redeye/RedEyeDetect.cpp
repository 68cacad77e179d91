// The detector. A pupil is a 4-connected patch of saturated red pixels (red above kPupilLevel and more
// than twice green and blue) of at least kMinPupilArea pixels, no wider or taller than an eighth of the
// image's shorter side, about as wide as tall, filling its box like a disk rather than a line or a
// square. Automatic detection also wants the face around it: the neighbourhood of one pupil size on every
// side holds little other red, so red cloth or lips are left alone.
#include "RedEyeInternal.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

namespace redeye {

namespace {

constexpr DWORD kPupilLevel = 100;
constexpr DWORD kMinPupilArea = 9;
constexpr LONG kPupilsPerShortSide = 8;
constexpr std::int64_t kMinFillPercent = 50;
// Below this side a small disk and a square cannot be told apart.
constexpr LONG kRoundnessFromSide = 5;
constexpr std::int64_t kMaxFillPercent = 92;
constexpr LONG kProgressRows = 64;
// Clicks farther than this from any pixel of the image find nothing without a long search.
constexpr LONG kMaxRadius = 1 << 12;

enum MaskValue : BYTE { kNotRed = 0, kRed = 1, kVisited = 2 };

// A rectangle of the image, right and bottom exclusive.
struct Window {
    LONG left, top, right, bottom;
};

struct Patch {
    ReRegion box;
    DWORD area = 0;
    bool cutByWindow = false; // reaches an edge of the window that is not an edge of the image
};

bool IsPupilRed(const ImageAccess& image, const Pixel& p) {
    return image.Level(p.r) > kPupilLevel && p.r > 2 * std::max(p.g, p.b);
}

LONG MaxPupilSide(const ImageAccess& image) {
    return std::min(image.Width(), image.Height()) / kPupilsPerShortSide;
}

bool LooksLikePupil(const Patch& patch, LONG maxSide) {
    const std::int64_t w = std::int64_t{patch.box.right} - patch.box.left + 1;
    const std::int64_t h = std::int64_t{patch.box.bottom} - patch.box.top + 1;
    if (patch.cutByWindow || patch.area < kMinPupilArea || std::max(w, h) > maxSide)
        return false;
    if (w > 2 * h || h > 2 * w)
        return false;
    const std::int64_t fill = std::int64_t{patch.area} * 100;
    if (fill < kMinFillPercent * w * h)
        return false;
    return std::max(w, h) < kRoundnessFromSide || fill <= kMaxFillPercent * w * h;
}

// The red pixels of a window of the image, and the patches they form.
class RedMask {
public:
    RedMask(const ImageAccess& image, const Window& window)
        : m_image(image), m_window(window), m_width(window.right - window.left),
          m_mask(static_cast<std::size_t>(m_width) * static_cast<std::size_t>(window.bottom - window.top)) {}

    void BuildRows(LONG top, LONG bottom) {
        for (LONG y = top; y < bottom; ++y)
            for (LONG x = m_window.left; x < m_window.right; ++x)
                At(x, y) = IsPupilRed(m_image, m_image.Get(x, y)) ? kRed : kNotRed;
    }

    bool IsUnvisitedRed(LONG x, LONG y) const { return At(x, y) == kRed; }
    bool IsRed(LONG x, LONG y) const { return At(x, y) != kNotRed; }

    // The patch that holds (x, y), marked as visited.
    Patch Fill(LONG x, LONG y) {
        Patch patch;
        patch.box = {x, y, x, y};
        m_stack.clear();
        m_stack.push_back({x, y});
        At(x, y) = kVisited;
        while (!m_stack.empty()) {
            const auto [px, py] = m_stack.back();
            m_stack.pop_back();
            ++patch.area;
            patch.box.left = std::min(patch.box.left, px);
            patch.box.right = std::max(patch.box.right, px);
            patch.box.top = std::min(patch.box.top, py);
            patch.box.bottom = std::max(patch.box.bottom, py);
            patch.cutByWindow = patch.cutByWindow || OnInnerEdge(px, py);
            const std::pair<LONG, LONG> next[] = {{px - 1, py}, {px + 1, py}, {px, py - 1}, {px, py + 1}};
            for (const auto& [nx, ny] : next)
                if (Inside(nx, ny) && At(nx, ny) == kRed) {
                    At(nx, ny) = kVisited;
                    m_stack.push_back({nx, ny});
                }
        }
        return patch;
    }

    // Red pixels of the patch's neighbourhood that are not its own.
    std::int64_t RedAround(const Patch& patch) const {
        const LONG side = std::max(patch.box.right - patch.box.left, patch.box.bottom - patch.box.top) + 1;
        const LONG left = std::max(m_window.left, patch.box.left - side);
        const LONG right = std::min(m_window.right - 1, patch.box.right + side);
        const LONG top = std::max(m_window.top, patch.box.top - side);
        const LONG bottom = std::min(m_window.bottom - 1, patch.box.bottom + side);
        std::int64_t red = 0;
        for (LONG y = top; y <= bottom; ++y)
            for (LONG x = left; x <= right; ++x)
                red += IsRed(x, y) ? 1 : 0;
        return red - patch.area;
    }

private:
    bool Inside(LONG x, LONG y) const {
        return x >= m_window.left && x < m_window.right && y >= m_window.top && y < m_window.bottom;
    }
    bool OnInnerEdge(LONG x, LONG y) const {
        return (x == m_window.left && x > 0) || (x == m_window.right - 1 && x < m_image.Width() - 1) ||
               (y == m_window.top && y > 0) || (y == m_window.bottom - 1 && y < m_image.Height() - 1);
    }
    BYTE& At(LONG x, LONG y) { return m_mask[Offset(x, y)]; }
    BYTE At(LONG x, LONG y) const { return m_mask[Offset(x, y)]; }
    std::size_t Offset(LONG x, LONG y) const {
        return static_cast<std::size_t>(y - m_window.top) * static_cast<std::size_t>(m_width) +
               static_cast<std::size_t>(x - m_window.left);
    }

    const ImageAccess& m_image;
    Window m_window;
    LONG m_width;
    std::vector<BYTE> m_mask;
    std::vector<std::pair<LONG, LONG>> m_stack;
};

// Appends a node per patch, or none when memory runs out.
DWORD AppendPatches(ReList* found, const std::vector<Patch>& patches) {
    std::vector<RegionNode*> nodes;
    nodes.reserve(patches.size());
    for (const Patch& patch : patches) {
        RegionNode* node = NewRegion(patch.box, patch.area);
        if (!node) {
            for (RegionNode* made : nodes)
                FreeRegion(made);
            return RE_E_MEMORY;
        }
        nodes.push_back(node);
    }
    for (RegionNode* node : nodes)
        Append(found, node);
    return RE_OK;
}

class Progress {
public:
    Progress(ReProgress routine, void* context) : m_routine(routine), m_context(context) {}
    // False when the routine asks to stop.
    bool Report(int state, int value) { return !m_routine || m_routine(m_context, state, value) == 0; }

private:
    ReProgress m_routine;
    void* m_context;
};

DWORD DetectAuto(const ReImage& descriptor, Progress& progress, std::vector<Patch>& pupils) {
    const ImageAccess image(descriptor);
    const LONG width = image.Width(), height = image.Height();
    RedMask mask(image, {0, 0, width, height});
    if (!progress.Report(0, 0))
        return RE_E_CANCELLED;
    // Half of the reported progress is finding the red pixels, the other half grouping them.
    for (LONG y = 0; y < height; y += kProgressRows) {
        mask.BuildRows(y, std::min(height, y + kProgressRows));
        if (!progress.Report(1, static_cast<int>(std::int64_t{y} * 50 / height)))
            return RE_E_CANCELLED;
    }
    const LONG maxSide = MaxPupilSide(image);
    for (LONG y = 0; y < height; ++y) {
        if (y % kProgressRows == 0 &&
            !progress.Report(1, static_cast<int>(50 + std::int64_t{y} * 50 / height)))
            return RE_E_CANCELLED;
        for (LONG x = 0; x < width; ++x) {
            if (!mask.IsUnvisitedRed(x, y))
                continue;
            const Patch patch = mask.Fill(x, y);
            if (LooksLikePupil(patch, maxSide) && mask.RedAround(patch) * 2 <= patch.area)
                pupils.push_back(patch);
        }
    }
    progress.Report(2, 100);
    return RE_OK;
}

DWORD DetectNearest(const ReImage& descriptor, const RePoint& point, LONG radius,
                    std::vector<Patch>& pupils) {
    const ImageAccess image(descriptor);
    const LONG maxSide = MaxPupilSide(image);
    const std::int64_t reach = std::int64_t{radius} + maxSide;
    const Window window{static_cast<LONG>(std::max<std::int64_t>(0, point.x - reach)),
                        static_cast<LONG>(std::max<std::int64_t>(0, point.y - reach)),
                        static_cast<LONG>(std::min<std::int64_t>(image.Width(), point.x + reach + 1)),
                        static_cast<LONG>(std::min<std::int64_t>(image.Height(), point.y + reach + 1))};
    if (window.left >= window.right || window.top >= window.bottom)
        return RE_S_NOTHING;
    RedMask mask(image, window);
    mask.BuildRows(window.top, window.bottom);

    // The red pixel nearest the point, the first in row order among equals.
    const std::int64_t limit = std::int64_t{radius} * radius;
    std::int64_t best = limit + 1;
    LONG bestX = 0, bestY = 0;
    for (LONG y = window.top; y < window.bottom; ++y)
        for (LONG x = window.left; x < window.right; ++x) {
            const std::int64_t dx = x - std::int64_t{point.x}, dy = y - std::int64_t{point.y};
            const std::int64_t distance = dx * dx + dy * dy;
            if (distance < best && mask.IsRed(x, y)) {
                best = distance;
                bestX = x;
                bestY = y;
            }
        }
    if (best > limit)
        return RE_S_NOTHING;
    const Patch patch = mask.Fill(bestX, bestY);
    if (!LooksLikePupil(patch, maxSide))
        return RE_S_NOTHING;
    pupils.push_back(patch);
    return RE_OK;
}

} // namespace

} // namespace redeye

using namespace redeye;

DWORD ReDetectAuto(const ReImage* image, DWORD reserved, ReProgress progress, void* context, DWORD flags,
                   ReList* found) {
    std::string detail = DescribeImage(image);
    if (auto forced = Enter(ReCall::kDetectAuto, detail))
        return *forced;
    if (CheckImage(image) != RE_OK || !found)
        return Leave(ReCall::kDetectAuto, RE_E_ARGUMENT, detail);
    std::vector<Patch> pupils;
    DWORD result = RE_OK;
    try {
        Progress reporter(progress, context);
        result = DetectAuto(*image, reporter, pupils);
    } catch (const std::bad_alloc&) {
        result = RE_E_MEMORY;
    }
    if (result == RE_OK)
        result = AppendPatches(found, pupils);
    return Leave(ReCall::kDetectAuto, result,
                 detail + " found " + std::to_string(result ? 0 : pupils.size()));
}

DWORD ReDetectNearest(const ReImage* image, const RePoint* point, LONG radius, LONG reserved1, LONG reserved2,
                      LONG reserved3, ReList* found) {
    std::string detail = DescribeImage(image);
    if (point)
        detail += " point (" + std::to_string(point->x) + "," + std::to_string(point->y) + ") radius " +
                  std::to_string(radius);
    if (auto forced = Enter(ReCall::kDetectNearest, detail))
        return *forced;
    if (CheckImage(image) != RE_OK || !point || !found || radius < 0 || radius > kMaxRadius)
        return Leave(ReCall::kDetectNearest, RE_E_ARGUMENT, detail);
    std::vector<Patch> pupils;
    DWORD result = RE_OK;
    try {
        result = DetectNearest(*image, *point, radius, pupils);
    } catch (const std::bad_alloc&) {
        result = RE_E_MEMORY;
    }
    if (result == RE_OK)
        result = AppendPatches(found, pupils);
    return Leave(ReCall::kDetectNearest, result,
                 detail + " found " + std::to_string(result ? 0 : pupils.size()));
}
