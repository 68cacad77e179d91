// Every settings-record reader over hostile bytes. Beyond "no crash, no undefined behaviour": a refused
// record leaves the object unchanged, and an accepted one writes a record that reads back to the same
// bytes.
#include "FuzzPluginTable.h"
#include "SettingsRecordKinds.h"

#include "rawlib/settings/CKvBrightness.h"
#include "rawlib/settings/CKvChromaBooster.h"
#include "rawlib/settings/CKvDustRemoval.h"
#include "rawlib/settings/CKvExposureAdjustment.h"
#include "rawlib/settings/CKvFilterPluginList.h"
#include "rawlib/settings/CKvFisheye.h"
#include "rawlib/settings/CKvFnRedEye.h"
#include "rawlib/settings/CKvLEGeneral.h"
#include "rawlib/settings/CKvLutGroup.h"
#include "rawlib/settings/CKvNoiseReduction.h"
#include "rawlib/settings/CKvRevelation.h"
#include "rawlib/settings/CKvSizeRes.h"
#include "rawlib/settings/CKvUSM.h"
#include "rawlib/settings/CKvUSMList.h"
#include "rawlib/settings/CKvVignette.h"
#include "rawlib/settings/CKvWBAdjustment.h"
#include "rawlib/settings/KvColorTemperature.h"
#include "rawlib/settings/KvComposeLut.h"
#include "rawlib/settings/KvLchCalibration.h"
#include "rawlib/settings/KvRecordCursor.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "settings record invariant broken: %s\n", what);
    std::abort();
}

template <class T>
std::vector<BYTE> Write(T& object) {
    const int size = object.GetStateSize();
    if (size < 22)
        Fail("record smaller than its header");
    std::vector<BYTE> bytes(static_cast<std::size_t>(size));
    if (object.WriteState(bytes.data(), size) != size)
        Fail("write and size query disagree");
    return bytes;
}

// Reads the input into a default object and into one that already holds settings, then checks what
// the record class promises.
template <class T>
void Probe(const BYTE* data, int size, void (*check)(const T&) = nullptr) {
    T fresh;
    const T before = fresh;
    const int result = fresh.ReadState(data, size);
    if (result < 0)
        Fail("negative result");
    if (result == 0) {
        if (!(fresh == before))
            Fail("a refused record changed the object");
        return;
    }
    if (check)
        check(fresh);

    const std::vector<BYTE> first = Write(fresh);
    T again;
    if (again.ReadState(first.data(), static_cast<int>(first.size())) != static_cast<int>(first.size()))
        Fail("a written record does not read back whole");
    if (Write(again) != first)
        Fail("rewriting a read record changes its bytes");

    // The reader starts from defaults, so what the object held before cannot show through.
    if (again.ReadState(data, size) != result || Write(again) != first)
        Fail("the result depends on what the object held");
}

// A read record holds its reference whole or not at all, and never a map.
void CheckDust(const CKvDustRemoval& dust) {
    if ((dust.GetReferenceSize() == 0) != (dust.GetReference() == nullptr))
        Fail("a dust reference without its bytes");
    if (dust.HasDustMap())
        Fail("a read dust record holds a map");
}

// The curve records have no equality of their own: what they hold is compared as written records.
template <class T>
void ProbeCurve(const BYTE* data, int size, void (*check)(T&)) {
    T fresh;
    const std::vector<BYTE> before = Write(fresh);
    const int result = fresh.ReadState(data, size);
    if (result < 0)
        Fail("negative result");
    if (result == 0) {
        if (Write(fresh) != before)
            Fail("a refused record changed the object");
        return;
    }
    const std::vector<BYTE> first = Write(fresh);
    T again;
    if (again.ReadState(first.data(), static_cast<int>(first.size())) != static_cast<int>(first.size()))
        Fail("a written record does not read back whole");
    if (Write(again) != first)
        Fail("rewriting a read record changes its bytes");
    if (again.ReadState(data, size) != result || Write(again) != first)
        Fail("the result depends on what the object held");
    check(fresh);
}

void CheckFinite(const std::vector<double>& table, double low, double high) {
    for (double v : table)
        if (!(v >= low && v <= high))
            Fail("a curve table holds a value out of its range");
}

// A layout whose graphs the editing operations below work in.
LutGraphLayout EditorLayout() {
    LutGraphLayout layout;
    layout.hueGraph = layout.chromaGraph = {0, 0, 64, 32};
    layout.toneGraph = {0, 0, 65, 65};
    layout.toneHandles = {0, 65, 65, 70};
    layout.toneOutputHandles = {65, 0, 70, 65};
    layout.levelHandle = {64, 0, 70, 32};
    layout.widthHandle = {0, 32, 64, 36};
    layout.modeButton = {70, 0, 80, 8};
    return layout;
}

// Every table a channel renders stays finite and in range, also after a run of edits on what was read.
void RenderAndEdit(CKvLutChannelBase& channel) {
    const LutGraphLayout layout = EditorLayout();
    std::vector<double> table(33);
    std::vector<WORD> words(33);
    for (int round = 0; round < 2; ++round) {
        if (auto* tone = dynamic_cast<CKvLutChannel*>(&channel)) {
            for (DWORD flags = 0; flags < 0x100; flags += 0x11) {
                tone->BuildTable(table.data(), 8, 33, 65536, flags, flags & 1 ? 2.2 : 0);
                CheckFinite(table, 0, 1);
                tone->BuildTable(words.data(), 2, 33, 65536, flags, 0);
            }
            tone->LowerBlack(layout);
            tone->RaiseWhite(layout);
        } else if (auto* hue = dynamic_cast<CKvHueChannel*>(&channel)) {
            hue->BuildTable(table.data(), 8, 33, 1, 0);
            CheckFinite(table, 0, 1);
            hue->BuildTable(words.data(), 2, 33, 65536, 0);
            hue->WidenPoint(layout);
        } else if (auto* chroma = dynamic_cast<CKvChromaChannel*>(&channel)) {
            for (int fill : {0, 1}) {
                chroma->RenderChannelBitmap(fill, table.data(), 8, 33, 65536, 60);
                CheckFinite(table, 0, 2);
                chroma->RenderChannelBitmap(fill, words.data(), 2, 33, 65536, 60);
            }
            chroma->NarrowPoint(layout);
        }
        channel.SelectNextPoint();
        channel.InsertPoint();
        channel.MovePointLeft(layout);
        channel.RaisePoint(layout);
        channel.BeginTrack(layout, 20, 10);
        channel.TrackPosition(layout, 90, 10);
        channel.EndTrack(layout);
        channel.SelectPreviousPoint();
        channel.MovePointRight(layout);
        channel.DeletePoint();
    }
}

template <class T>
void CheckChannel(T& channel) {
    RenderAndEdit(channel);
}

void CheckGroup(CKvLutGroup& group) {
    for (LONG i = 0; i < group.GetChannelCount(); ++i)
        RenderAndEdit(*group.GetChannelAt(i));
    group.GetActiveMask(0xFFFFFFFF);
    CKvLutGroup copy(group);
    if (Write(copy) != Write(group))
        Fail("a copied group writes other bytes");
}

void ProbeCalibration(const BYTE* data, int size) {
    CKvChromaChannel channel;
    const int result = KvParseLchCalibration(channel, data, size > 0 ? static_cast<std::size_t>(size) : 0);
    if (result != 0) {
        if (result != 3 || !channel.GetCalibrationPoints().empty() || channel.GetLevelB() != 0)
            Fail("a refused calibration file changed the channel");
        return;
    }
    if (channel.GetCalibrationPoints().size() != KvGetValue(data + 2, 2))
        Fail("a calibration file gave another number of points");
    std::vector<double> table(64);
    channel.RenderChannelBitmap(0, table.data(), 8, 64, 65536, 60);
    CheckFinite(table, 0, 2);
}

// Composition with the first bytes as the tables: every lookup is held to its table.
void ProbeComposition(const BYTE* data, int size) {
    if (size < 4)
        return;
    const LONG firstCount = data[0] % 17, secondCount = data[1] % 17;
    std::vector<WORD> first(firstCount ? firstCount : 1), second(secondCount ? secondCount : 1);
    for (std::size_t i = 0; i < first.size(); ++i)
        first[i] = static_cast<WORD>(data[i % size] * 257);
    for (std::size_t i = 0; i < second.size(); ++i)
        second[i] = static_cast<WORD>(data[(i + 2) % size] * 251);
    std::vector<BYTE> out(static_cast<std::size_t>(data[2] % 9));
    const LONG ranges[] = {0, 1, 2, 16, 256, 65536};
    KvComposeLut(first.data(), 2, firstCount, ranges[data[3] % 6], second.data(), 2, secondCount,
                 ranges[(data[3] / 6) % 6], out.empty() ? nullptr : out.data(), 1,
                 static_cast<LONG>(out.size()), ranges[(data[3] / 36) % 6]);
}

void CheckGains(const CKvWBAdjustment& wb) {
    for (WORD model : {259, 260, 513, 514, 515, 516, 1025, 1026}) {
        double red = 0.0, blue = 0.0;
        KvColorTemperatureToGains(wb.GetPreset(), wb.GetTemperature(), &red, &blue, model);
        if (!std::isfinite(red) || !std::isfinite(blue))
            Fail("gains are not finite");
    }
}

std::vector<BYTE> SizeResRecord(const CKvSizeRes& s) {
    CKvSizeRes copy(s);
    return Write(copy);
}

bool Inside(const CKvRect& r, const CKvRect& outer) {
    return r.left >= outer.left && r.top >= outer.top && r.right <= outer.right && r.bottom <= outer.bottom &&
           r.left <= r.right && r.top <= r.bottom;
}

// The integer answers the pipeline takes from a size state stay inside the image.
void CheckSizeResAnswers(const CKvSizeRes& s) {
    for (int oriented = 0; oriented < 2; ++oriented) {
        CKvRect crop(0, 0, 0, 0), bounds(0, 0, 0, 0), image(0, 0, 0, 0);
        s.GetCropRect(crop, oriented);
        s.GetBoundsRect(bounds, oriented);
        s.GetImageRectInt(image, oriented);
        if (!Inside(crop, image) || !Inside(bounds, image))
            Fail("an integer rectangle leaves the image");
        s.GetScaledCropRect(oriented);
    }
    if (s.GetOutputWidth() < 1 || s.GetOutputHeight() < 1)
        Fail("output size below one pixel");
    LONG w = 0, h = 0;
    s.GetCropSize(&w, &h);
    s.IsNeutral();
    s.GetScaleFactor();
    s.GetOutputArea();
}

// Reads a size record for an image size and a reader orientation taken from the input; then the state
// is stored and read again, and turned.
void ProbeSizeRes(const BYTE* data, int size) {
    if (size < 5)
        return;
    const LONG width = static_cast<LONG>(KvGetValue(data, 2));
    const LONG height = static_cast<LONG>(KvGetValue(data + 2, 2));
    const BYTE orientation = data[4];
    const std::vector<BYTE> record(data + 5, data + size);
    const BYTE* bytes = record.empty() ? nullptr : record.data();
    const int length = static_cast<int>(record.size());

    CKvSizeRes target;
    target.SetOrientation(orientation & 1, 90 * ((orientation >> 1) & 3), 0);
    const std::vector<BYTE> before = SizeResRecord(target);
    const int result = target.ReadRecord(bytes, length, width, height);
    if (result < 0)
        Fail("negative result");
    if (result == 0) {
        if (SizeResRecord(target) != before)
            Fail("a refused record changed the object");
        return;
    }
    CheckSizeResAnswers(target);

    // A whole record reads back to the same bytes. A cut one is kept as read, without the turn and the
    // fit to the image, so its rewritten record is fitted once and must then stay as it is.
    const std::vector<BYTE> first = SizeResRecord(target);
    std::vector<BYTE> previous = first;
    for (int round = 0; round < 2; ++round) {
        CKvSizeRes again;
        again.SetOrientation(target.IsMirrored(), target.GetAngle(), 0);
        if (again.ReadRecord(previous.data(), static_cast<int>(previous.size()), width, height) !=
            static_cast<int>(previous.size()))
            Fail("a written record does not read back whole");
        const std::vector<BYTE> next = SizeResRecord(again);
        if (next != previous && (round == 1 || result <= length))
            Fail("rewriting a read record changes its bytes");
        previous = next;
    }

    target.SetOrientation((orientation >> 3) & 1, 90 * ((orientation >> 4) & 3), 1);
    CheckSizeResAnswers(target);
    target.ResetToImage(target.GetResolution());
    CheckSizeResAnswers(target);
}

void InstallPlugins() {
    static const bool installed = (InstallFuzzPlugins(), true);
    (void)installed;
}

// A step holds its plug-in's name or its missing name, never both, and a list holds only steps that are
// not missing.
void CheckStep(const CKvFilterPlugins& step) {
    if (!step.IsEmpty() && !step.GetMissingName().IsEmpty())
        Fail("a step with a plug-in also has a missing name");
}

void CheckList(const CKvFilterPluginList& list) {
    for (std::size_t i = 0; i < list.GetCount(); ++i)
        if (!list.GetStep(i).GetMissingName().IsEmpty())
            Fail("a missing step was kept as a step");
}

// A red-eye record holds no more region bytes than it was given.
void ProbeRedEye(const BYTE* data, int size) {
    Probe<CKvFnRedEye>(data, size);
    CKvFnRedEye record;
    if (record.ReadState(data, size) == 0)
        return;
    std::uint64_t held = 0;
    for (const auto* list : {&record.GetAutomaticRegions(), &record.GetManualRegions()})
        for (const CKvRegionBuffer& region : *list)
            held += region.GetSize();
    if (held > static_cast<std::uint64_t>(size))
        Fail("red-eye regions hold more bytes than the record");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const auto kind =
        static_cast<SettingsRecordKind>(data[0] % static_cast<BYTE>(SettingsRecordKind::kCount));
    // The record is copied into a block of its exact size, so a read past its end is caught.
    const std::vector<BYTE> record(data + 1, data + size);
    const BYTE* bytes = record.empty() ? nullptr : record.data();
    const int length = record.size() > INT_MAX ? INT_MAX : static_cast<int>(record.size());
    switch (kind) {
    case SettingsRecordKind::kBrightness:
        Probe<CKvBrightness>(bytes, length);
        break;
    case SettingsRecordKind::kExposureAdjustment:
        Probe<CKvExposureAdjustment>(bytes, length);
        break;
    case SettingsRecordKind::kChromaBooster:
        Probe<CKvChromaBooster>(bytes, length);
        break;
    case SettingsRecordKind::kLEGeneral:
        Probe<CKvLEGeneral>(bytes, length);
        break;
    case SettingsRecordKind::kWBAdjustment:
        Probe<CKvWBAdjustment>(bytes, length, CheckGains);
        break;
    case SettingsRecordKind::kToneChannel:
        ProbeCurve<CKvLutChannel>(bytes, length, CheckChannel<CKvLutChannel>);
        break;
    case SettingsRecordKind::kHueChannel:
        ProbeCurve<CKvHueChannel>(bytes, length, CheckChannel<CKvHueChannel>);
        break;
    case SettingsRecordKind::kChromaChannel:
        ProbeCurve<CKvChromaChannel>(bytes, length, CheckChannel<CKvChromaChannel>);
        break;
    case SettingsRecordKind::kLutGroup:
        ProbeCurve<CKvLutGroup>(bytes, length, CheckGroup);
        break;
    case SettingsRecordKind::kLchCalibration:
        ProbeCalibration(bytes, length);
        ProbeComposition(bytes, length);
        break;
    case SettingsRecordKind::kNoiseReduction:
        Probe<CKvNoiseReduction>(bytes, length);
        break;
    case SettingsRecordKind::kUSM:
        Probe<CKvUSM>(bytes, length);
        break;
    case SettingsRecordKind::kUSMList:
        Probe<CKvUSMList>(bytes, length);
        break;
    case SettingsRecordKind::kVignette:
        Probe<CKvVignette>(bytes, length);
        break;
    case SettingsRecordKind::kFisheye:
        Probe<CKvFisheye>(bytes, length);
        break;
    case SettingsRecordKind::kRevelation:
        Probe<CKvRevelation>(bytes, length);
        break;
    case SettingsRecordKind::kSizeRes:
        ProbeSizeRes(bytes, length);
        break;
    case SettingsRecordKind::kFilterPlugins:
        InstallPlugins();
        Probe<CKvFilterPlugins>(bytes, length, CheckStep);
        break;
    case SettingsRecordKind::kFilterPluginList:
        InstallPlugins();
        Probe<CKvFilterPluginList>(bytes, length, CheckList);
        break;
    case SettingsRecordKind::kFnRedEye:
        ProbeRedEye(bytes, length);
        break;
    case SettingsRecordKind::kDustRemoval:
        Probe<CKvDustRemoval>(bytes, length, CheckDust);
        break;
    case SettingsRecordKind::kCount:
        break;
    }
    return 0;
}
