#include "CKvImageProcSet.h"

#include "KvRecordCursor.h"
#include "KvStateIds.h"

#include <algorithm>
#include <climits>
#include <string>

namespace {

constexpr int kHeaderSize = 22;
constexpr int kValueOffset = 22; // where a marker's or value item's payload starts
constexpr int kMinimumOpaqueLength = 4;

bool Selects(DWORD mask, DWORD bit) {
    return mask == 0 || (mask & bit) != 0;
}

void PutItemHeader(BYTE* at, const KvStateId& id, DWORD length) {
    KvPutBytes(at, id.Data(), 16);
    KvPutValue(at + 16, 1, 2);
    KvPutValue(at + 18, length, 4);
}

} // namespace

struct CKvImageProcSet::ReadProgress {
    bool group1Read = false;
    bool group2Read = false;
    bool group3Read = false;
    const BYTE* sizeRecord = nullptr;
    int sizeRecordSize = 0;
};

CKvImageProcSet::CKvImageProcSet(BYTE orientationValue, SHORT rotationValue)
    : orientation(orientationValue), rotation(rotationValue) {}

const BYTE* CKvImageProcSet::GetStateId() {
    return KvStateIds::kImageProcSet.Data();
}

std::array<CKvImageProcSet::Item, CKvImageProcSet::kItemCount> CKvImageProcSet::Items() {
    namespace I = KvStateIds;
    using K = ItemKind;
    return {{
        {kUsmList, &I::kMarkerUsmList, &I::kUsmList, &usmListEnabled, usmList, K::kRecord, 0},
        {kLutGroup1, &I::kMarkerLutGroup1, &I::kLutGroup, &lutGroup1Enabled, lutGroup1, K::kLutGroup, 1},
        {kLutGroup2, &I::kMarkerLutGroup2, &I::kLutGroup, &lutGroup2Enabled, lutGroup2, K::kLutGroup, 2},
        {kLutGroup3, &I::kMarkerLutGroup3, &I::kLutGroup, &lutGroup3Enabled, lutGroup3, K::kLutGroup, 3},
        {kOrientation, nullptr, &I::kItemOrientation, nullptr, nullptr, K::kOrientation, 0},
        {kRotation, nullptr, &I::kItemRotation, nullptr, nullptr, K::kRotation, 0},
        {kRevelation, &I::kMarkerRevelation, &I::kRevelation, &revelationEnabled, revelation, K::kRecord, 0},
        {0, &I::kMarkerAlways, nullptr, &alwaysMarkerValue, nullptr, K::kAlways, 0},
        {kDustRemoval, &I::kMarkerDustRemoval, &I::kDustRemoval, &dustEnabled, dustRemoval, K::kRecord, 0},
        {kSizeRes, nullptr, &I::kSizeRes, nullptr, sizeRes, K::kRecord, 0},
        {kExposure, &I::kMarkerExposure, &I::kExposureAdjustment, &exposureEnabled, exposure, K::kRecord, 0},
        {kWhiteBalance, &I::kMarkerWhiteBalance, &I::kWBAdjustment, &whiteBalanceEnabled, whiteBalance,
         K::kRecord, 0},
        {kNoiseReduction, &I::kMarkerNoiseReduction, &I::kNoiseReduction, &noiseReductionEnabled,
         noiseReduction, K::kRecord, 0},
        {kFisheye, &I::kMarkerFisheye, &I::kFisheye, &fisheyeEnabled, fisheye, K::kRecord, 0},
        {kFilterPlugins, &I::kMarkerFilterPlugins, &I::kFilterPluginList, &filterPluginsEnabled,
         filterPlugins, K::kRecord, 0},
        {kChromaBooster, &I::kMarkerChromaBooster, &I::kChromaBooster, &chromaBoosterEnabled, chromaBooster,
         K::kRecord, 0},
        {kOpaqueBlock, nullptr, &I::kItemOpaqueBlock, nullptr, nullptr, K::kOpaque, 0},
        {kGeneral, nullptr, &I::kLEGeneral, nullptr, general, K::kRecord, 0},
        {kVignette, &I::kMarkerVignette, &I::kVignette, &vignetteEnabled, vignette, K::kRecord, 0},
        {kRedEye, &I::kMarkerRedEye, &I::kFnRedEye, &redEyeEnabled, redEye, K::kRecord, 0},
        {kBrightness, &I::kMarkerBrightness, &I::kBrightness, &brightnessEnabled, brightness, K::kRecord, 0},
        {kExtraBlock, nullptr, &I::kItemExtraBlock, nullptr, nullptr, K::kExtra, 0},
    }};
}

bool CKvImageProcSet::MarkerSelected(const Item& item) const {
    if (!item.marker)
        return false;
    if (item.kind == ItemKind::kAlways)
        return true;
    if (markerMask != 0)
        return (markerMask & item.bit) != 0;
    // Without a marker mask, the curve and sharpening markers go only with their records.
    const bool needsRecord = item.bit == kUsmList || item.kind == ItemKind::kLutGroup;
    return !needsRecord || item.record;
}

bool CKvImageProcSet::RecordSelected(const Item& item) const {
    if (!Selects(recordMask, item.bit))
        return false;
    switch (item.kind) {
    case ItemKind::kRecord:
    case ItemKind::kLutGroup:
        return item.record != nullptr;
    case ItemKind::kOpaque:
        return opaqueBlock.HasData();
    case ItemKind::kOrientation:
    case ItemKind::kRotation:
    case ItemKind::kExtra:
        return true;
    case ItemKind::kAlways:
        return false;
    }
    return false;
}

std::int64_t CKvImageProcSet::ItemSize(const Item& item) {
    switch (item.kind) {
    case ItemKind::kLutGroup:
        // The kind goes into the group's record, so it is set before the size is taken.
        static_cast<CKvLutGroup*>(item.record)->SetKind(item.lutKind);
        return item.record->GetStateSize();
    case ItemKind::kRecord:
        return item.record->GetStateSize();
    case ItemKind::kOrientation:
    case ItemKind::kAlways:
        return kMarkerSize;
    case ItemKind::kRotation:
        return kRotationSize;
    case ItemKind::kOpaque:
        return static_cast<std::int64_t>(opaqueBlock.GetSize()) + kHeaderSize;
    case ItemKind::kExtra:
        return kExtraBlockSize;
    }
    return 0;
}

void CKvImageProcSet::WriteItem(const Item& item, BYTE* at, int size) {
    switch (item.kind) {
    case ItemKind::kRecord:
    case ItemKind::kLutGroup:
        item.record->WriteState(at, size);
        break;
    case ItemKind::kOrientation:
        PutItemHeader(at, KvStateIds::kItemOrientation, kMarkerSize - 18);
        at[kValueOffset] = orientation;
        break;
    case ItemKind::kRotation:
        PutItemHeader(at, KvStateIds::kItemRotation, kRotationSize - 18);
        KvPutValue(at + kValueOffset, static_cast<WORD>(rotation), 2);
        break;
    case ItemKind::kOpaque:
        PutItemHeader(at, KvStateIds::kItemOpaqueBlock,
                      static_cast<DWORD>(opaqueBlock.GetSize() + kMinimumOpaqueLength));
        KvPutBytes(at + kValueOffset, opaqueBlock.GetData(), opaqueBlock.GetSize());
        break;
    case ItemKind::kExtra:
        PutItemHeader(at, KvStateIds::kItemExtraBlock, kExtraBlockSize - 18);
        for (int i = 0; i < kExtraWords; ++i)
            KvPutValue(at + kValueOffset + 4 * i, extraBlock[i], 4);
        break;
    case ItemKind::kAlways:
        break;
    }
}

int CKvImageProcSet::WriteState(BYTE* buffer, int size) {
    DWORD records = 0;
    DWORD markers = 0;
    std::int64_t total = kHeaderSize;
    std::int64_t written = kHeaderSize;
    const auto place = [&](std::int64_t itemSize) -> BYTE* {
        total += itemSize;
        if (!buffer || total > size)
            return nullptr;
        written = total;
        return buffer + (total - itemSize);
    };
    for (const Item& item : Items()) {
        if (MarkerSelected(item)) {
            if (BYTE* at = place(kMarkerSize)) {
                PutItemHeader(at, *item.marker, kMarkerSize - 18);
                at[kValueOffset] = *item.enabled;
                markers |= item.bit;
            }
        }
        if (RecordSelected(item)) {
            const std::int64_t itemSize = ItemSize(item);
            if (BYTE* at = place(itemSize)) {
                WriteItem(item, at, static_cast<int>(itemSize));
                records |= item.bit;
            }
        }
    }
    if (buffer) {
        if (size >= 16)
            KvPutBytes(buffer, KvStateIds::kImageProcSet.Data(), 16);
        if (size >= 18)
            KvPutValue(buffer + 16, kVersion, 2);
        if (size >= kHeaderSize)
            KvPutValue(buffer + 18, static_cast<DWORD>(written - 18), 4);
    }
    recordsDone = records;
    markersDone = markers;
    return static_cast<int>(std::min<std::int64_t>(total, INT_MAX));
}

int CKvImageProcSet::ReadFromTag(const BYTE* buffer, int size, LONG width, LONG height) {
    if (!buffer || size < 16 || !KvStateIds::kImageProcSet.Matches(buffer))
        return 0;
    recordsDone = 0;
    markersDone = 0;
    readFlag = 1;
    alwaysMarkerValue = 0;
    if (size < 18)
        return 16;
    const WORD version = static_cast<WORD>(KvGetValue(buffer + 16, 2));
    if (version == 1)
        return ReadVersion1(buffer, size, width, height);
    if (version != 2)
        return version > 2 && size >= kHeaderSize ? kHeaderSize : 18;
    if (size < kHeaderSize)
        return 18;
    return ReadVersion2(buffer, size, width, height);
}

int CKvImageProcSet::ReadVersion2(const BYTE* buffer, int size, LONG width, LONG height) {
    if (resetCurves) {
        if (lutGroup1 && Selects(recordMask, kLutGroup1))
            lutGroup1->ResetAll(true);
        if (lutGroup2 && Selects(recordMask, kLutGroup2))
            lutGroup2->ResetAll(true);
    }
    // The items end where the stored length says, but never past the bytes given.
    const std::int64_t end = std::min<std::int64_t>(size, 18 + KvGetValue(buffer + 18, 4));
    const auto items = Items();
    ReadProgress progress;
    std::int64_t position = kHeaderSize;
    while (end - position >= 16) {
        const BYTE* at = buffer + position;
        const Item* marker = nullptr;
        const Item* stored = nullptr;
        for (const Item& item : items) {
            if (item.marker && item.marker->Matches(at)) {
                marker = &item;
                break;
            }
            if (!stored && item.id && item.id->Matches(at))
                stored = &item;
        }
        if (marker) {
            if (end - position < kMarkerSize)
                break;
            if (marker->kind == ItemKind::kAlways) {
                alwaysMarkerValue = at[kValueOffset];
            } else if (Selects(markerMask, marker->bit)) {
                *marker->enabled = at[kValueOffset];
                markersDone |= marker->bit;
            }
            position += kMarkerSize;
            continue;
        }
        if (end - position < kHeaderSize)
            break;
        // Lengths are taken whole: records over 64 KiB (a dust reference) are normal.
        const std::int64_t itemSize = 18 + static_cast<std::int64_t>(KvGetValue(at + 18, 4));
        if (itemSize > end - position)
            break;
        if (stored)
            ReadItem(*stored, at, static_cast<int>(itemSize), progress);
        // A name item too short to reach its text holds no name.
        else if (KvStateIds::kItemName.Matches(at) && itemSize >= kValueOffset &&
                 Selects(markerMask, kName)) {
            const char* text = reinterpret_cast<const char*>(at + kValueOffset);
            const std::size_t room = static_cast<std::size_t>(itemSize - kValueOffset);
            const std::string value(text, std::find(text, text + room, '\0'));
            name = value.c_str();
            recordsDone |= kName;
        }
        position += itemSize;
    }
    if (progress.sizeRecord)
        ApplySizeRecord(progress.sizeRecord, progress.sizeRecordSize, width, height);
    RebuildLutGroups(progress.group1Read, progress.group2Read, progress.group3Read);
    RepairWhiteBalance();
    return static_cast<int>(position);
}

void CKvImageProcSet::ReadItem(const Item& item, const BYTE* at, int itemSize, ReadProgress& progress) {
    switch (item.kind) {
    case ItemKind::kLutGroup:
        ReadLutGroup(at, itemSize, progress);
        return;
    case ItemKind::kRecord:
        if (item.bit == kSizeRes) {
            progress.sizeRecord = at;
            progress.sizeRecordSize = itemSize;
        } else if (RecordSelected(item)) {
            item.record->ReadState(at, itemSize);
            recordsDone |= item.bit;
        }
        return;
    case ItemKind::kOrientation:
        if (itemSize >= kMarkerSize && Selects(recordMask, kOrientation)) {
            orientation = at[kValueOffset];
            recordsDone |= kOrientation;
        }
        return;
    case ItemKind::kRotation:
        if (itemSize >= kRotationSize && Selects(recordMask, kRotation)) {
            rotation = static_cast<SHORT>(KvGetValue(at + kValueOffset, 2));
            recordsDone |= kRotation;
        }
        return;
    case ItemKind::kExtra:
        if (itemSize >= kExtraBlockSize && Selects(recordMask, kExtraBlock)) {
            for (int i = 0; i < kExtraWords; ++i)
                extraBlock[i] = static_cast<DWORD>(KvGetValue(at + kValueOffset + 4 * i, 4));
            recordsDone |= kExtraBlock;
        }
        return;
    case ItemKind::kOpaque:
        // The item is 22 bytes and the block; its stored length counts the block and 4.
        if (itemSize >= kHeaderSize && Selects(markerMask, kOpaqueBlock)) {
            if (opaqueBlock.Set(at + kValueOffset, static_cast<std::size_t>(itemSize - kHeaderSize)))
                recordsDone |= kOpaqueBlock;
        }
        return;
    case ItemKind::kAlways:
        return;
    }
}

void CKvImageProcSet::ReadLutGroup(const BYTE* at, int itemSize, ReadProgress& progress) {
    // The three groups share one id; a temporary read tells which one this is.
    CKvLutGroup probe;
    if (probe.ReadState(at, itemSize) == 0)
        return;
    CKvLutGroup* target = nullptr;
    DWORD bit = 0;
    bool* read = nullptr;
    switch (probe.GetKind()) {
    case 1:
        target = lutGroup1, bit = kLutGroup1, read = &progress.group1Read;
        break;
    case 2:
        target = lutGroup2, bit = kLutGroup2, read = &progress.group2Read;
        break;
    case 3:
        target = lutGroup3, bit = kLutGroup3, read = &progress.group3Read;
        break;
    default:
        return;
    }
    if (!target || !Selects(recordMask, bit))
        return;
    target->ReadState(at, itemSize);
    recordsDone |= bit;
    *read = true;
}

void CKvImageProcSet::ApplySizeRecord(const BYTE* record, int size, LONG width, LONG height) {
    if (!sizeRes || !Selects(recordMask, kSizeRes))
        return;
    const LONG angle = ((rotation % 360) + 360) % 360;
    sizeRes->SetOrientation(orientation != 0 ? 1 : 0, angle, 0);
    if (angle % 180 != 0)
        sizeRes->ReadRecord(record, size, height, width);
    else
        sizeRes->ReadRecord(record, size, width, height);
    recordsDone |= kSizeRes;
}

void CKvImageProcSet::RebuildLutGroups(bool group1Read, bool group2Read, bool group3Read) {
    using Triples = CKvLutChannel::SourceParameters;
    const Triples blackWhite{0, 0, 0, 255, 255, 255, 0, 0, 0};
    const auto needsRebuild = [&](CKvLutGroup* group, DWORD bit) {
        return group && Selects(recordMask, bit) && group->GetChannelCount() != 4;
    };
    // Keeps only the first channel; a group stored with none gets the tone channel a new group starts
    // with, so that the rebuilt group has its four channels at once.
    const auto keepFirst = [](CKvLutGroup* group) {
        group->RemoveExtraChannels();
        if (group->GetChannelCount() == 0)
            group->AddLutChannel(0);
    };
    if (needsRebuild(lutGroup1, kLutGroup1)) {
        curvesRebuilt |= group1Read ? 1 : 0;
        keepFirst(lutGroup1);
        if (auto* master = dynamic_cast<CKvLutChannel*>(lutGroup1->GetChannelAt(0)))
            master->SetSourceParameters(blackWhite);
        lutGroup1->AddLutChannel(1, Triples{255, 0, 0, 0, 0, 0, 0, 0, 0});
        lutGroup1->AddLutChannel(2, Triples{0, 255, 0, 0, 0, 0, 0, 0, 0});
        lutGroup1->AddLutChannel(3, Triples{0, 0, 255, 0, 0, 0, 0, 0, 0});
        lutGroup1->SelectChannel(0);
    }
    if (needsRebuild(lutGroup3, kLutGroup3)) {
        curvesRebuilt |= group3Read ? 1 : 0;
        keepFirst(lutGroup3);
        lutGroup3->AddLutChannel(1, blackWhite);
        lutGroup3->AddChromaChannel(2);
        lutGroup3->AddHueChannel(3);
        lutGroup3->SelectChannel(0);
    }
    if (needsRebuild(lutGroup2, kLutGroup2)) {
        curvesRebuilt |= group2Read ? 1 : 0;
        keepFirst(lutGroup2);
        for (LONG id = 1; id <= 3; ++id)
            lutGroup2->AddLutChannel(id);
        lutGroup2->SelectChannel(0);
    }
}

void CKvImageProcSet::RepairWhiteBalance() {
    if (!whiteBalance || !Selects(recordMask, kWhiteBalance))
        return;
    if (whiteBalance->GetRedGain() == 0.0 || whiteBalance->GetBlueGain() == 0.0) {
        whiteBalance->SetMode(CKvWBAdjustment::kModeAsShot);
        whiteBalance->SetGains(1.0, 1.0);
    }
}

int CKvImageProcSet::ReadVersion1(const BYTE* buffer, int size, LONG width, LONG height) {
    CKvFieldReader reader(buffer, size, 18);
    ReadProgress progress;
    // One enabled byte, a size and a record; old blobs keep only the low 16 bits of the size clean.
    const auto readPart = [&](BYTE& enabled, DWORD bit, IKvState* record, bool sizeOnly) {
        BYTE value = 0;
        if (!sizeOnly) {
            if (!reader.GetU8(value))
                return false;
            if (Selects(markerMask, bit)) {
                enabled = value;
                markersDone |= bit;
            }
        }
        DWORD stored = 0;
        if (!reader.GetU32(stored))
            return false;
        const int length = static_cast<int>(stored & 0xFFFF);
        if (!reader.Has(static_cast<std::uint64_t>(length)))
            return false;
        if (sizeOnly) {
            progress.sizeRecord = reader.Here();
            progress.sizeRecordSize = length;
        } else if (record && Selects(recordMask, bit) && length > 0) {
            record->ReadState(reader.Here(), length);
            recordsDone |= bit;
        }
        reader.Skip(static_cast<std::uint64_t>(length));
        return true;
    };
    BYTE unused = 0;
    bool reachedGains = readPart(usmListEnabled, kUsmList, usmList, false) &&
                        readPart(lutGroup1Enabled, kLutGroup1, lutGroup1, false) &&
                        readPart(lutGroup2Enabled, kLutGroup2, lutGroup2, false) &&
                        readPart(unused, kSizeRes, nullptr, true);
    if (reachedGains) {
        BYTE value = 0;
        if ((reachedGains = reader.GetU8(value)) && Selects(recordMask, kOrientation)) {
            orientation = value;
            recordsDone |= kOrientation;
        }
    }
    if (reachedGains) {
        SHORT value = 0;
        if ((reachedGains = reader.GetI16(value)) && Selects(recordMask, kRotation)) {
            rotation = value;
            recordsDone |= kRotation;
        }
    }
    if (progress.sizeRecord && progress.sizeRecordSize > 0)
        ApplySizeRecord(progress.sizeRecord, progress.sizeRecordSize, width, height);
    if (reachedGains && whiteBalance && Selects(recordMask, kWhiteBalance)) {
        whiteBalance->SetMode(CKvWBAdjustment::kModeAsShot);
        whiteBalance->SetGains(1.0, 1.0);
        const auto readGain = [&](double scale, bool red) {
            if (scale == 0.0) {
                reader.Skip(8);
                return;
            }
            double gain = 0;
            if (!reader.GetF64(gain))
                return;
            if (red)
                whiteBalance->SetGains(gain * scale, whiteBalance->GetBlueGain());
            else
                whiteBalance->SetGains(whiteBalance->GetRedGain(), gain * scale);
            whiteBalance->SetMode(CKvWBAdjustment::kModeOldGains);
            if (Selects(markerMask, kWhiteBalance)) {
                whiteBalanceEnabled = 1;
                markersDone |= kWhiteBalance;
            }
            recordsDone |= kWhiteBalance;
        };
        readGain(version1RedScale, true);
        readGain(version1BlueScale, false);
    } else if (reachedGains) {
        reader.Skip(16);
    }
    RepairWhiteBalance();
    return static_cast<int>(std::min<std::int64_t>(reader.GetPosition(), size));
}
