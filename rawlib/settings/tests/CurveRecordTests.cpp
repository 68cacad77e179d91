#include "CurveBytes.h"
#include "CurveRecordConformance.h"

#include "rawlib/settings/CKvLutGroup.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using kvtest::Bytes;
using kvtest::CurveBytes;
using kvtest::CurveRecordDescription;
using kvtest::Hex;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Bytes SetWord(Bytes bytes, std::size_t at, WORD value) {
    KvPutValue(bytes.data() + at, value, 2);
    return bytes;
}

double Uniform(std::mt19937& random, double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
}

std::vector<KvHuePoint> RandomBumps(std::mt19937& random) {
    std::vector<KvHuePoint> points(random() % 5);
    for (KvHuePoint& p : points)
        p = {Uniform(random, 0, 1), Uniform(random, -1, 1), Uniform(random, 0, 0.5)};
    return points;
}

// The fields of a point list: its count, then every coordinate. The list is read whole or not at all, so
// its value is copied with its last coordinate.
template <class T>
void AddPointFields(std::vector<kvtest::RecordField<T>>& fields, int offset, int countWidth, int count,
                    int coordinates, std::function<void(T&, const T&)> copy) {
    fields.push_back({"point count", offset, countWidth, nullptr});
    int at = offset + countWidth;
    for (int i = 0; i < count * coordinates; ++i, at += 8)
        fields.push_back({"point coordinate", at, 8, i + 1 == count * coordinates ? copy : nullptr});
}

bool SameTone(const CKvLutChannel& a, const CKvLutChannel& b) {
    return a.GetChannelId() == b.GetChannelId() && a.GetSourceParameters() == b.GetSourceParameters() &&
           a.Compare(b) == 1;
}

// ---- tone channel ------------------------------------------------------------------------------------

const char* const kDefaultTone =
    "9D DC 7D 03 65 D4 11 D1 91 94 44 45 53 54 00 00  00 00 00 00  FF  03 00"
    "00000000 00000000 00000000 00000000 00000000 00000000 00000000 00000000 00000000"
    "0000000000000000  000000000000F03F  000000000000F03F"
    "0000000000000000  000000000000F03F  02000000"
    "0000000000000000 0000000000000000  000000000000F03F 000000000000F03F"
    "0000000000000000";

CKvLutChannel Tone(LONG id, double black, double white, double gamma, std::vector<KvTonePoint> points,
                   double brightness) {
    CKvLutChannel t(nullptr, id);
    t.SetBlack(black);
    t.SetWhite(white);
    t.SetGamma(gamma);
    t.SetPoints(std::move(points));
    t.SetBrightness(brightness);
    return t;
}

CurveBytes ToneHeader(LONG id, WORD version) {
    CurveBytes b(KvStateIds::kToneChannel);
    b.I32(id).U8(0xFF).U16(version);
    for (LONG v = 1; v <= 9; ++v)
        b.I32(v * 10);
    return b;
}

struct ToneChannelRecord {
    using Record = CKvLutChannel;
    static CKvLutChannel Sample() {
        CKvLutChannel t = Tone(1, 0.1, 0.9, 1.5, {{0, 0.05}, {0.5, 0.6}, {1, 0.98}}, 0.5);
        t.SetSourceParameters({1, 2, 3, 4, 5, 6, 7, 8, 9});
        t.SetOutputLevels(0.05, 0.95);
        return t;
    }
    static CKvLutChannel WithTens(CKvLutChannel t) {
        t.SetSourceParameters({10, 20, 30, 40, 50, 60, 70, 80, 90});
        return t;
    }
    static CurveRecordDescription<CKvLutChannel> Describe() {
        CurveRecordDescription<CKvLutChannel> s;
        s.sample = Sample;
        s.same = SameTone;
        s.headerSize = 23;
        s.fields = {
            {"channel id", 16, 4, [](auto& to, const auto& from) { to.SetChannelId(from.GetChannelId()); }},
            {"marker", 20, 1, nullptr},
            {"version", 21, 2, nullptr}};
        for (int i = 0; i < 9; ++i)
            s.fields.push_back({"source parameter", 23 + 4 * i, 4, [i](auto& to, const auto& from) {
                                    auto p = to.GetSourceParameters();
                                    p[i] = from.GetSourceParameters()[i];
                                    to.SetSourceParameters(p);
                                }});
        s.fields.push_back(
            {"black", 59, 8, [](auto& to, const auto& from) { to.SetBlack(from.GetBlack()); }});
        s.fields.push_back(
            {"white", 67, 8, [](auto& to, const auto& from) { to.SetWhite(from.GetWhite()); }});
        s.fields.push_back(
            {"gamma", 75, 8, [](auto& to, const auto& from) { to.SetGamma(from.GetGamma()); }});
        s.fields.push_back({"output low", 83, 8, [](auto& to, const auto& from) {
                                to.SetOutputLevels(from.GetOutputLow(), to.GetOutputHigh());
                            }});
        s.fields.push_back({"output high", 91, 8, [](auto& to, const auto& from) {
                                to.SetOutputLevels(to.GetOutputLow(), from.GetOutputHigh());
                            }});
        AddPointFields<CKvLutChannel>(s.fields, 99, 4, 3, 2,
                                      [](auto& to, const auto& from) { to.SetPoints(from.GetPoints()); });
        s.fields.push_back({"brightness", 151, 8,
                            [](auto& to, const auto& from) { to.SetBrightness(from.GetBrightness()); }});
        s.cutResult = [](int cut) { return cut < 21 ? 92 : cut < 23 ? 23 : cut < 103 ? 111 : 159; };
        s.withVersion = [](Bytes b, WORD v) { return SetWord(std::move(b), 21, v); };
        s.unknownVersions = {0, 1, 4, 199, 200, 0xFFFF};
        s.unknownResult = 23;
        s.defaultRecord = Hex(kDefaultTone);

        const CKvLutChannel older = WithTens(Tone(4, 0.2, 0.8, 2.0, {{0, 0.1}, {1, 0.9}}, -0.5));
        auto olderBody = [](CurveBytes b) {
            return b.F64(0.2).F64(0.8).F64(2.0).U32(2).F64(0).F64(0.1).F64(1).F64(0.9).F64(-0.5);
        };
        CurveBytes first(KvStateIds::kToneChannel);
        first.I32(4);
        for (LONG v = 1; v <= 9; ++v)
            first.I32(v * 10);
        auto withGamma = [](double gamma) {
            return ToneHeader(3, 3).F64(0).F64(1).F64(gamma).F64(0).F64(1).U32(0).F64(0);
        };
        auto expectGamma = [](double gamma) {
            return [gamma] {
                CKvLutChannel t = WithTens(Tone(3, 0, 1, gamma, {}, 0));
                return t;
            };
        };
        s.cases = {
            {"the first layout has no marker, no version and no output levels", olderBody(first), 92 + 32,
             [older] { return older; }},
            {"version 2 has no output levels: they read as neutral", olderBody(ToneHeader(4, 2)), 95 + 32,
             [older] { return older; }},
            {"a gamma above the limit reads as 20", withGamma(100), 111, expectGamma(20)},
            {"a gamma below the limit reads as 0.05", withGamma(0.01), 111, expectGamma(0.05)},
            {"a gamma that is not a number reads as 1", withGamma(kNaN), 111, expectGamma(1)},
            {"a count beyond the bytes present reads no points: the two default points stay",
             ToneHeader(3, 3).F64(0).F64(1).F64(1).F64(0).F64(1).U32(1000).F64(0.5), 111 + 16000,
             [] {
                 return WithTens(Tone(3, 0, 1, 1, {{0, 0}, {1, 1}}, 0));
             }},
            {"points are put in order of position",
             ToneHeader(3, 3)
                 .F64(0)
                 .F64(1)
                 .F64(1)
                 .F64(0)
                 .F64(1)
                 .U32(3)
                 .F64(1)
                 .F64(1)
                 .F64(0.3)
                 .F64(0.7)
                 .F64(0)
                 .F64(0)
                 .F64(0),
             111 + 48,
             [] {
                 return WithTens(Tone(3, 0, 1, 1, {{0, 0}, {0.3, 0.7}, {1, 1}}, 0));
             }},
        };
        s.randomize = [](CKvLutChannel& t, std::mt19937& random) {
            t.SetChannelId(static_cast<LONG>(random()));
            CKvLutChannel::SourceParameters p;
            for (LONG& v : p)
                v = static_cast<LONG>(random());
            t.SetSourceParameters(p);
            t.SetBlack(Uniform(random, 0, 0.5));
            t.SetWhite(Uniform(random, 0.5, 1));
            t.SetGamma(Uniform(random, 0.05, 20));
            t.SetOutputLevels(Uniform(random, 0, 0.5), Uniform(random, 0.5, 1));
            std::vector<KvTonePoint> points(random() % 6);
            for (KvTonePoint& q : points)
                q = {Uniform(random, 0, 1), Uniform(random, -0.2, 1.2)};
            t.SetPoints(points);
            t.SetBrightness(Uniform(random, -2, 2));
        };
        return s;
    }
};

// ---- hue channel -------------------------------------------------------------------------------------

CKvHueChannel Hue(LONG id, std::vector<KvHuePoint> points, double level, LONG mode) {
    CKvHueChannel h(nullptr, id);
    h.SetPoints(std::move(points));
    h.SetLevel(level);
    h.SetMode(mode);
    return h;
}

struct HueChannelRecord {
    using Record = CKvHueChannel;
    static CurveRecordDescription<CKvHueChannel> Describe() {
        CurveRecordDescription<CKvHueChannel> s;
        s.sample = [] { return Hue(7, {{0.2, 0.5, 0.1}, {0.7, -0.25, 0.3}}, 0.25, 2); };
        s.same = [](const CKvHueChannel& a, const CKvHueChannel& b) {
            return a.GetChannelId() == b.GetChannelId() && a.Compare(b) == 1;
        };
        s.headerSize = 23;
        s.fields = {
            {"channel id", 16, 4, [](auto& to, const auto& from) { to.SetChannelId(from.GetChannelId()); }},
            {"marker", 20, 1, nullptr},
            {"version", 21, 2, nullptr},
        };
        AddPointFields<CKvHueChannel>(s.fields, 23, 4, 2, 3,
                                      [](auto& to, const auto& from) { to.SetPoints(from.GetPoints()); });
        s.fields.push_back(
            {"level", 75, 8, [](auto& to, const auto& from) { to.SetLevel(from.GetLevel()); }});
        s.fields.push_back(
            {"range mode", 83, 4, [](auto& to, const auto& from) { to.SetMode(from.GetMode()); }});
        s.cutResult = [](int cut) { return cut < 21 ? 36 : cut < 23 ? 23 : cut < 27 ? 39 : 87; };
        s.withVersion = [](Bytes b, WORD v) { return SetWord(std::move(b), 21, v); };
        s.unknownVersions = {0, 1, 3, 199, 200, 0xFFFF};
        s.unknownResult = 23;
        s.defaultRecord = Hex("9D DC 7D 02 65 D4 11 D1 91 94 44 45 53 54 00 00  00 00 00 00  FF  02 00"
                              "00 00 00 00  00 00 00 00 00 00 00 00  01 00 00 00");
        auto v2 = [](LONG id) { return CurveBytes(KvStateIds::kHueChannel).I32(id).U8(0xFF).U16(2); };
        s.cases = {
            {"the first layout has no marker and no version",
             CurveBytes(KvStateIds::kHueChannel).I32(5).U32(1).F64(0.25).F64(0.5).F64(0.1).F64(-0.5).I32(3),
             60,
             [] {
                 return Hue(5, {{0.25, 0.5, 0.1}}, -0.5, 3);
             }},
            {"a range mode of 0 reads as 1", v2(1).U32(0).F64(0).I32(0), 39, [] { return Hue(1, {}, 0, 1); }},
            {"a range mode above 3 reads as 3", v2(1).U32(0).F64(0).I32(9), 39,
             [] { return Hue(1, {}, 0, 3); }},
            {"a count beyond the bytes present reads no points", v2(1).U32(1000).F64(0.5).I32(2), 39 + 24000,
             [] { return Hue(1, {}, 0, 1); }},
            {"points are put in order of position",
             v2(1).U32(2).F64(0.8).F64(0.1).F64(0.1).F64(0.2).F64(0.3).F64(0.2).F64(0).I32(1), 39 + 48,
             [] {
                 return Hue(1, {{0.2, 0.3, 0.2}, {0.8, 0.1, 0.1}}, 0, 1);
             }},
            {"coordinates that are not numbers read as 0 and positions are held to the circle",
             v2(1).U32(2).F64(kNaN).F64(0.5).F64(0.1).F64(1.5).F64(kNaN).F64(0.2).F64(kNaN).I32(1), 39 + 48,
             [] {
                 return Hue(1, {{0, 0.5, 0.1}, {1, 0, 0.2}}, 0, 1);
             }},
        };
        s.randomize = [](CKvHueChannel& h, std::mt19937& random) {
            h.SetChannelId(static_cast<LONG>(random()));
            h.SetPoints(RandomBumps(random));
            h.SetLevel(Uniform(random, -1, 1));
            h.SetMode(static_cast<LONG>(random() % 3 + 1));
        };
        return s;
    }
};

// ---- chroma channel ----------------------------------------------------------------------------------

CKvChromaChannel Chroma(LONG id, std::vector<KvHuePoint> points, double level) {
    CKvChromaChannel c(nullptr, id);
    c.SetEditedPoints(std::move(points));
    c.SetLevelA(level);
    return c;
}

struct ChromaChannelRecord {
    using Record = CKvChromaChannel;
    static CurveRecordDescription<CKvChromaChannel> Describe() {
        CurveRecordDescription<CKvChromaChannel> s;
        s.sample = [] { return Chroma(2, {{0.1, 0.4, 0.2}, {0.6, -0.3, 0.25}}, 0.3); };
        // What the record holds: the channel id, the current (here: edited) set and level A.
        s.same = [](const CKvChromaChannel& a, const CKvChromaChannel& b) {
            return a.GetChannelId() == b.GetChannelId() && a.GetEditedPoints() == b.GetEditedPoints() &&
                   a.GetLevelA() == b.GetLevelA();
        };
        s.headerSize = 22;
        s.fields = {
            {"channel id", 16, 4, [](auto& to, const auto& from) { to.SetChannelId(from.GetChannelId()); }},
            {"version", 20, 2, nullptr},
        };
        AddPointFields<CKvChromaChannel>(s.fields, 22, 2, 2, 3, [](auto& to, const auto& from) {
            to.SetEditedPoints(from.GetEditedPoints());
        });
        s.fields.push_back(
            {"level A", 72, 8, [](auto& to, const auto& from) { to.SetLevelA(from.GetLevelA()); }});
        s.fields.push_back({"spare byte, written as 0", 80, 1, nullptr});
        s.cutResult = [](int cut) { return cut < 22 ? 23 : cut < 24 ? 33 : 81; };
        s.withVersion = [](Bytes b, WORD v) { return SetWord(std::move(b), 20, v); };
        s.unknownVersions = {0, 2, 3, 0xFFFF};
        s.unknownResult = 23;
        s.defaultRecord = Hex("9D DC 7D 04 65 D4 11 D1 91 94 44 45 53 54 00 00  00 00 00 00  01 00  00 00"
                              "00 00 00 00 00 00 00 00  00");
        auto v1 = [](LONG id) { return CurveBytes(KvStateIds::kChromaChannel).I32(id).U16(1); };
        s.cases = {
            {"the byte after the level is ignored",
             v1(4).U16(1).F64(0.5).F64(0.2).F64(0.1).F64(-0.25).U8(0xAB), 57,
             [] {
                 return Chroma(4, {{0.5, 0.2, 0.1}}, -0.25);
             }},
            {"a record without the spare byte reads the same", v1(4).U16(0).F64(0.75), 33,
             [] { return Chroma(4, {}, 0.75); }},
            {"a count beyond the bytes present reads no points", v1(4).U16(500).F64(0.75), 33 + 12000,
             [] { return Chroma(4, {}, 0); }},
            {"points are put in order of position",
             v1(4).U16(2).F64(0.9).F64(0.1).F64(0.1).F64(0.3).F64(0.2).F64(0.2).F64(0).U8(0), 81,
             [] {
                 return Chroma(4, {{0.3, 0.2, 0.2}, {0.9, 0.1, 0.1}}, 0);
             }},
        };
        s.randomize = [](CKvChromaChannel& c, std::mt19937& random) {
            c.SetChannelId(static_cast<LONG>(random()));
            c.SetEditedPoints(RandomBumps(random));
            c.SetLevelA(Uniform(random, -1, 1));
        };
        return s;
    }
};

// ---- group -------------------------------------------------------------------------------------------

bool SameChannel(const CKvLutChannelBase& a, const CKvLutChannelBase& b) {
    if (a.GetChannelId() != b.GetChannelId() || a.Compare(b) != 1)
        return false;
    const auto* ta = dynamic_cast<const CKvLutChannel*>(&a);
    const auto* tb = dynamic_cast<const CKvLutChannel*>(&b);
    return !ta || ta->GetSourceParameters() == tb->GetSourceParameters();
}

bool SameGroup(const CKvLutGroup& a, const CKvLutGroup& b) {
    if (a.GetKind() != b.GetKind() || a.GetChannelCount() != b.GetChannelCount() ||
        a.GetCurrentIndex() != b.GetCurrentIndex() || a.GetContrast() != b.GetContrast())
        return false;
    for (LONG i = 0; i < a.GetChannelCount(); ++i)
        if (!SameChannel(*a.GetChannelAt(i), *b.GetChannelAt(i)))
            return false;
    return true;
}

Bytes ToneRecord(CKvLutChannel tone) {
    return kvtest::WriteRecord(tone);
}

CKvLutGroup GroupWithTone(BYTE kind, double contrast, const CKvLutChannel& tone) {
    CKvLutGroup g;
    g.SetKind(kind);
    g.SetContrast(contrast);
    auto* first = static_cast<CKvLutChannel*>(g.GetChannelAt(0));
    *first = tone;
    return g;
}

struct LutGroupRecord {
    using Record = CKvLutGroup;
    static CKvLutGroup Sample() {
        CKvLutGroup g;
        g.SetKind(2);
        g.SetContrast(0.5);
        static_cast<CKvLutChannel*>(g.GetChannelAt(0))->SetBlack(0.1);
        g.AddHueChannel(1)->SetPoints({{0.5, 0.5, 0.25}});
        g.SelectChannel(1);
        return g;
    }
    static CurveRecordDescription<CKvLutGroup> Describe() {
        CurveRecordDescription<CKvLutGroup> s;
        s.sample = Sample;
        s.same = SameGroup;
        s.assigned = [](const CKvLutGroup& target, const CKvLutGroup& source) {
            CKvLutGroup result(source);
            result.SetKind(target.GetKind()); // an assignment copies all but the kind
            return result;
        };
        s.lengthOffset = 18;
        s.fields = {
            {"marker", 16, 1, nullptr},
            {"version", 17, 1, nullptr},
            {"length", 18, 4, nullptr},
            {"kind", 22, 1, [](auto& to, const auto& from) { to.SetKind(from.GetKind()); }},
            {"channel count", 23, 1, nullptr},
            {"current index", 24, 1, nullptr},
            {"contrast", 25, 8, [](auto& to, const auto& from) { to.SetContrast(from.GetContrast()); }},
            {"tone channel", 33, 143, [](auto& to, const auto& from) { to.Copy(from); }},
            {"hue channel", 176, 63, nullptr},
        };
        s.cutResult = [](int cut) { return cut == 239 ? 239 : 0; };
        s.withVersion = [](Bytes b, WORD v) {
            b[17] = static_cast<BYTE>(v);
            return b;
        };
        s.unknownVersions = {5, 0xFF};
        s.unknownResult = 0;
        s.defaultRecord =
            Hex(std::string("9D DC 7D 00 65 D4 11 D1 91 94 44 45 53 54 00 00  FF  04  9E 00 00 00"
                            "01  01  00  00 00 00 00 00 00 00 00") +
                kDefaultTone);

        const Bytes curved = ToneRecord(Tone(0, 0, 1, 1, {{0, 0}, {0.4, 0.6}, {1, 1}}, 0));
        const Bytes plain = Hex(kDefaultTone);
        Bytes foreign = plain;
        std::copy(KvStateIds::kUsm.stored.begin(), KvStateIds::kUsm.stored.end(), foreign.begin());
        auto v4 = [](BYTE kind, BYTE count, BYTE current, double contrast) {
            CurveBytes b(KvStateIds::kLutGroup);
            b.U8(0xFF).U8(4).Length().U8(kind).U8(count).U8(current).F64(contrast);
            return b;
        };
        s.cases = {
            {"the first layout has no marker; with only a contrast it becomes kind 2",
             CurveBytes(KvStateIds::kLutGroup).U8(1).U8(0).F64(0.25).Raw(plain), 26 + 143,
             [] { return GroupWithTone(2, 0.25, CKvLutChannel()); }},
            {"a marker before version 1 is the first layout too: its count of 255 finds no channels",
             CurveBytes(KvStateIds::kLutGroup).U8(0xFF).U8(1).F64(0).Raw(plain), 0, nullptr},
            {"version 2 carries the kind before the count",
             CurveBytes(KvStateIds::kLutGroup).U8(0xFF).U8(2).U8(1).U8(1).U8(0).F64(0).Raw(curved), 29 + 159,
             [] {
                 return GroupWithTone(1, 0, Tone(0, 0, 1, 1, {{0, 0}, {0.4, 0.6}, {1, 1}}, 0));
             }},
            {"version 3 reads as version 4",
             [&] {
                 CurveBytes b(KvStateIds::kLutGroup);
                 b.U8(0xFF).U8(3).Length().U8(2).U8(1).U8(0).F64(-0.5).Raw(plain);
                 return Bytes(b);
             }(),
             33 + 143, [] { return GroupWithTone(2, -0.5, CKvLutChannel()); }},
            {"a current index beyond the channels reads as 0", v4(1, 1, 9, 0).Raw(plain), 33 + 143,
             [] { return GroupWithTone(1, 0, CKvLutChannel()); }},
            {"a channel of no known kind refuses the whole record", v4(1, 1, 0, 0).Raw(foreign), 0, nullptr},
            {"a channel record cut short refuses the whole record",
             v4(1, 1, 0, 0).Raw(Bytes(plain.begin(), plain.end() - 1)), 0, nullptr},
        };
        s.randomize = [](CKvLutGroup& g, std::mt19937& random) {
            g.SetKind(static_cast<BYTE>(random() % 2 + 1));
            g.SetContrast(Uniform(random, -2, 2));
            auto* tone = static_cast<CKvLutChannel*>(g.GetChannelAt(0));
            tone->SetBlack(Uniform(random, 0, 0.5));
            tone->SetPoints({{0, Uniform(random, 0, 1)}, {Uniform(random, 0, 1), 0.5}, {1, 1}});
            const int extra = static_cast<int>(random() % 4);
            for (int i = 0; i < extra; ++i) {
                switch (random() % 3) {
                case 0:
                    g.AddLutChannel(i + 1, {1, 2, 3, 4, 5, 6, 7, 8, static_cast<LONG>(random())})
                        ->SetGamma(Uniform(random, 0.05, 20));
                    break;
                case 1:
                    g.AddHueChannel(i + 1)->SetPoints(RandomBumps(random));
                    break;
                default:
                    g.AddChromaChannel(i + 1)->SetEditedPoints(RandomBumps(random));
                }
            }
            g.SelectChannel(static_cast<LONG>(random() % (extra + 1)));
        };
        return s;
    }
};

} // namespace

namespace kvtest {
INSTANTIATE_TYPED_TEST_SUITE_P(ToneChannel, CurveRecordConformance, ToneChannelRecord);
INSTANTIATE_TYPED_TEST_SUITE_P(HueChannel, CurveRecordConformance, HueChannelRecord);
INSTANTIATE_TYPED_TEST_SUITE_P(ChromaChannel, CurveRecordConformance, ChromaChannelRecord);
INSTANTIATE_TYPED_TEST_SUITE_P(LutGroup, CurveRecordConformance, LutGroupRecord);
} // namespace kvtest
