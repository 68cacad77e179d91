// Random edit sequences under each lock keep what the size settings promise: the crop stays inside its
// bounds and the bounds inside the image, the values stay consistent, the locked crop or output size
// stays as it was, and checking or storing a state changes nothing.
#include "RecordConformance.h"
#include "SizeTestPrinters.h"

#include "rawlib/settings/CKvSizeRes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>
#include <string>

namespace {

using kvtest::Bytes;

Bytes Record(const CKvSizeRes& s) {
    CKvSizeRes copy(s);
    return kvtest::WriteRecord(copy);
}

// What is wrong with the state, or an empty text. Ranges allow a rounding error relative to the sizes
// involved. The equalities are those Validate checks; they are left out while the crop or the output is
// below one unit, where the crop's width (right - left beside far larger coordinates) has lost the
// precision that the comparison asks for.
std::string Broken(const CHeuristic& h) {
    const double t = 1e-9;
    const DblRect c = h.GetCrop();
    const DblRect b = h.GetBounds();
    const double iw = h.GetImageWidth(), ih = h.GetImageHeight();
    if (b.left < -t * iw || b.right > iw * (1 + t) || b.top < -t * ih || b.bottom > ih * (1 + t))
        return "bounds outside the image";
    if (c.left < b.left - t * b.Width() || c.right > b.right + t * b.Width() ||
        c.top < b.top - t * b.Height() || c.bottom > b.bottom + t * b.Height())
        return "crop outside the bounds";
    if (!(c.Width() > 0 && c.Height() > 0))
        return "empty crop";
    const double scale = h.GetScale().value, res = h.GetResolution().value, max = h.GetScaleMax().value;
    if (scale < h.GetScaleMin().value * (1 - t) || scale > max * (1 + t))
        return "scale outside its limits";
    if (h.GetOutputWidth() > b.Width() * (1 + t) || h.GetOutputHeight() > b.Height() * (1 + t))
        return "output larger than the bounds";
    if (c.Width() < 1 || c.Height() < 1 || h.GetOutputWidth() < 1 || h.GetOutputHeight() < 1)
        return "";
    struct Relation {
        const char* what;
        double a, b;
    };
    const Relation relations[] = {
        {"output width = resolution x print width", h.GetOutputWidth(), res * h.GetPrintWidth().value},
        {"output height = resolution x print height", h.GetOutputHeight(), res * h.GetPrintHeight().value},
        {"area = width x height", h.GetOutputArea(), h.GetOutputWidth() * h.GetOutputHeight()},
        {"aspect = output aspect", h.GetAspect(), h.GetOutputWidth() / h.GetOutputHeight()},
        {"aspect = print aspect", h.GetAspect(), h.GetPrintWidth().value / h.GetPrintHeight().value},
        {"aspect = crop aspect", h.GetAspect(), c.Width() / c.Height()},
        {"ratio = scale / resolution", h.GetScaleRatio(), scale / res},
        {"output width = scaled crop width", h.GetOutputWidth(), scale * c.Width() / max},
        {"output height = scaled crop height", h.GetOutputHeight(), scale * c.Height() / max},
    };
    for (const Relation& r : relations)
        if (!KvNearlyEqual(r.a, r.b))
            return r.what;
    return "";
}

bool Inside(const CKvRect& r, const CKvRect& outer) {
    return r.left >= outer.left && r.top >= outer.top && r.right <= outer.right && r.bottom <= outer.bottom &&
           r.left <= r.right && r.top <= r.bottom;
}

enum class EditKind { kCrop, kValue, kOther };

class RandomEdits {
public:
    explicit RandomEdits(unsigned start) : m_random(start) {}

    CKvSizeRes Start(DWORD type) {
        CKvSizeRes s(Int(20, 6000), Int(20, 6000), nullptr, UnitValue::PerInch(Real(72, 600)));
        s.SetHeuristicType(type);
        if (Int(0, 2) == 0)
            s.SetOrientation(Int(0, 1), 90 * Int(0, 3), 1);
        return s;
    }

    // One edit with random arguments; says what it was.
    EditKind Apply(CKvSizeRes& s, std::string& what) {
        const DblRect b = s.GetBounds();
        std::ostringstream log;
        EditKind kind = EditKind::kValue;
        switch (Int(0, 14)) {
        case 0: {
            const double l = Real(b.left - 50, b.right), t = Real(b.top - 50, b.bottom);
            const double r = l + Real(1, b.Width()), bottom = t + Real(1, b.Height());
            const int hint = Int(0, 3);
            log << "SetCrop(" << l << ", " << t << ", " << r << ", " << bottom << ", " << hint << ")";
            s.SetCrop(l, t, r, bottom, hint);
            kind = EditKind::kCrop;
            break;
        }
        case 1: {
            const double w = Real(1, b.Width() * 1.2), h = Real(1, b.Height() * 1.2);
            log << "SetCropSize(" << w << ", " << h << ")";
            s.SetCropSize(w, h, Int(0, 3));
            kind = EditKind::kCrop;
            break;
        }
        case 2: {
            const double x = Real(b.left - 100, b.right), y = Real(b.top - 100, b.bottom);
            log << "MoveCrop(" << x << ", " << y << ")";
            s.MoveCrop(x, y);
            kind = EditKind::kCrop;
            break;
        }
        case 3: {
            s.BeginTrack();
            DblRect c = s.GetCrop();
            c.right += Real(-c.Width() / 2, c.Width() / 2);
            c.bottom += Real(-c.Height() / 2, c.Height() / 2);
            const int hint = Int(0, 15);
            log << "TrackCrop(to right " << c.right << ", bottom " << c.bottom << ", hint " << hint << ")";
            s.TrackCrop(c, hint);
            kind = EditKind::kCrop;
            break;
        }
        case 4: {
            const double v = Real(0.5, 40);
            log << "SetPrintWidth(" << v << ")";
            s.SetPrintWidth(UnitValue::Inches(v));
            break;
        }
        case 5: {
            const double v = Real(0.5, 40);
            log << "SetPrintHeight(" << v << ")";
            s.SetPrintHeight(UnitValue::Inches(v));
            break;
        }
        case 6: {
            const double v = Real(1, 700);
            log << "SetScale(" << v << ")";
            s.SetScale(UnitValue::PerInch(v));
            break;
        }
        case 7: {
            const double v = Real(10, 1200);
            const int keep = Int(0, 1);
            log << "SetResolution(" << v << ", " << keep << ")";
            s.SetResolution(UnitValue::PerInch(v), keep);
            break;
        }
        case 8: {
            const double v = Real(0.01, 3);
            log << "SetScaleRatio(" << v << ")";
            s.SetScaleRatio(v);
            break;
        }
        case 9: {
            const double v = Real(1, b.Width());
            log << "SetOutputWidth(" << v << ")";
            s.SetOutputWidth(v);
            break;
        }
        case 10: {
            const double v = Real(1, b.Height());
            log << "SetOutputHeight(" << v << ")";
            s.SetOutputHeight(v);
            break;
        }
        case 11: {
            const double v = Real(1, b.Width() * b.Height() / 4);
            log << "SetOutputArea(" << v << ")";
            s.SetOutputArea(v);
            break;
        }
        case 12: {
            const int mirrored = Int(0, 1), angle = 90 * Int(0, 3);
            log << "SetOrientation(" << mirrored << ", " << angle << ")";
            s.SetOrientation(mirrored, angle, 1);
            kind = EditKind::kOther;
            break;
        }
        case 13: {
            const int w = Int(20, 6000), h = Int(20, 6000);
            log << "ResetImage(" << w << ", " << h << ")";
            s.ResetImage(w, h);
            kind = EditKind::kOther;
            break;
        }
        default: {
            const double v = Real(0.5, 100);
            log << "SetScaleMin(" << v << ")";
            s.SetScaleMin(UnitValue::PerInch(v));
            kind = EditKind::kOther;
            break;
        }
        }
        what = log.str();
        return kind;
    }

private:
    int Int(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_random); }
    double Real(double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(m_random);
    }
    std::mt19937 m_random;
};

void CheckRandomEdits(DWORD type, unsigned start) {
    RandomEdits edits(start);
    for (int run = 0; run < 300; ++run) {
        CKvSizeRes s = edits.Start(type);
        std::string history;
        for (int step = 0; step < 40; ++step) {
            const DblRect cropBefore = s.GetCrop();
            const double aspectBefore = s.GetHeuristic().GetAspect();
            const double widthBefore = s.GetHeuristic().GetOutputWidth();
            const double heightBefore = s.GetHeuristic().GetOutputHeight();
            std::string what;
            const EditKind kind = edits.Apply(s, what);
            history += "\n  " + what;
            SCOPED_TRACE("run " + std::to_string(run) + ", edits:" + history);
            const CHeuristic& h = s.GetHeuristic();

            ASSERT_EQ(Broken(h), "");
            if (type == CHeuristic::kTypeLockCrop && kind == EditKind::kValue) {
                ASSERT_EQ(s.GetCrop(), cropBefore) << "a value edit moved the locked crop";
                ASSERT_TRUE(KvNearlyEqual(h.GetAspect(), aspectBefore));
            }
            if (type == CHeuristic::kTypeLockSize && kind == EditKind::kCrop) {
                ASSERT_EQ(h.GetOutputWidth(), widthBefore) << "a crop edit changed the locked output";
                ASSERT_EQ(h.GetOutputHeight(), heightBefore);
                ASSERT_TRUE(KvNearlyEqual(h.GetAspect(), aspectBefore));
            }

            CKvRect crop(0, 0, 0, 0), image(0, 0, 0, 0);
            s.GetCropRect(crop, 0);
            s.GetImageRectInt(image, 0);
            ASSERT_TRUE(Inside(crop, image)) << "the integer crop leaves the image";

            // Checking and storing change nothing: the answer repeats, and the stored state reads back to
            // the same record with the same answer.
            const Bytes before = Record(s);
            const int verdict = h.Validate(1);
            ASSERT_EQ(h.Validate(1), verdict);
            ASSERT_EQ(Record(s), before);
            CKvSizeRes read;
            read.SetOrientation(s.IsMirrored(), s.GetAngle(), 0);
            ASSERT_EQ(read.ReadRecord(before.data(), static_cast<int>(before.size()), 0, 0), 259);
            ASSERT_TRUE(Record(read) == before) << "a stored state reads back differently";
            ASSERT_EQ(read.GetHeuristic().Validate(1), verdict);
        }
    }
}

TEST(SizeResProperties, RandomEditsUnderTheLockedCropKeepTheCropAndTheInvariants) {
    CheckRandomEdits(CHeuristic::kTypeLockCrop, 20240701);
}

TEST(SizeResProperties, RandomEditsUnderTheLockedSizeKeepTheOutputAndTheInvariants) {
    CheckRandomEdits(CHeuristic::kTypeLockSize, 20240702);
}

} // namespace
