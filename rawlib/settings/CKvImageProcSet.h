// The aggregate settings record of one image: every adjustment's enable marker and record in one blob,
// stored in the image's settings tag. The set borrows the adjustments it writes and reads; two masks
// choose which parts take part, and two more report what the last call wrote or read.
#pragma once

#include "CKvBrightness.h"
#include "CKvChromaBooster.h"
#include "CKvDustRemoval.h"
#include "CKvExposureAdjustment.h"
#include "CKvFilterPluginList.h"
#include "CKvFisheye.h"
#include "CKvFnRedEye.h"
#include "CKvLEGeneral.h"
#include "CKvLutGroup.h"
#include "CKvNoiseReduction.h"
#include "CKvRevelation.h"
#include "CKvSizeRes.h"
#include "CKvUSMList.h"
#include "CKvVignette.h"
#include "CKvWBAdjustment.h"
#include "IKvState.h"
#include "KvOwnedBlock.h"
#include "KvStateId.h"
#include "rawlib/foundation/CKvString.h"

#include <array>
#include <cstdint>

class CKvImageProcSet : public IKvState {
public:
    static constexpr WORD kVersion = 2;

    // Part bits of the masks.
    static constexpr DWORD kUsmList = 0x1;
    static constexpr DWORD kLutGroup1 = 0x2;
    static constexpr DWORD kLutGroup2 = 0x4;
    static constexpr DWORD kOrientation = 0x8;
    static constexpr DWORD kRotation = 0x10;
    static constexpr DWORD kSizeRes = 0x20;
    static constexpr DWORD kExposure = 0x40;
    static constexpr DWORD kWhiteBalance = 0x80;
    static constexpr DWORD kNoiseReduction = 0x100;
    static constexpr DWORD kLutGroup3 = 0x400;
    static constexpr DWORD kExtraBlock = 0x10000;
    static constexpr DWORD kName = 0x20000;
    static constexpr DWORD kOpaqueBlock = 0x80000;
    static constexpr DWORD kGeneral = 0x100000;
    static constexpr DWORD kVignette = 0x200000;
    static constexpr DWORD kRedEye = 0x400000;
    static constexpr DWORD kRevelation = 0x800000;
    static constexpr DWORD kDustRemoval = 0x1000000;
    static constexpr DWORD kFisheye = 0x2000000;
    static constexpr DWORD kFilterPlugins = 0x4000000;
    static constexpr DWORD kChromaBooster = 0x8000000;
    static constexpr DWORD kBrightness = 0x10000000;

    // Stored sizes of the fixed-layout items.
    static constexpr int kMarkerSize = 23;
    static constexpr int kRotationSize = 24;
    static constexpr int kExtraBlockSize = 50;
    static constexpr int kExtraWords = 7;

    CKvImageProcSet(BYTE orientation = 0, SHORT rotation = 0);

    // Version 2: the header, then every selected item in the fixed order. Returns the size of everything
    // selected; items are written while they fit whole.
    int WriteState(BYTE* buffer, int size) override;
    // The set is read only through ReadFromTag; this always answers 0.
    int ReadState(const BYTE*, int) override { return 0; }
    const BYTE* GetStateId() override;

    // Reads a version-2 blob (items in any order, dispatched by id) or a version-1 blob (fixed order, no
    // ids). `width` and `height` are the image's, handed to the size record. Returns the bytes consumed;
    // items that do not lie whole within the blob are not read.
    virtual int ReadFromTag(const BYTE* buffer, int size, LONG width, LONG height);

    // Plain members: the caller sets the masks and pointers before a call and reads the rest after it.
    DWORD recordMask = 0; // 0 selects every record
    DWORD markerMask = 0; // 0 selects every marker
    DWORD recordsDone = 0;
    DWORD markersDone = 0;
    BYTE resetCurves = 1; // LUT groups 1 and 2 go back to their defaults before a version-2 read

    BYTE usmListEnabled = 0;
    CKvUSMList* usmList = nullptr;
    BYTE lutGroup1Enabled = 0;
    CKvLutGroup* lutGroup1 = nullptr;
    BYTE lutGroup2Enabled = 0;
    CKvLutGroup* lutGroup2 = nullptr;
    BYTE orientation;
    SHORT rotation;
    BYTE revelationEnabled = 0;
    CKvRevelation* revelation = nullptr;
    BYTE alwaysMarkerValue = 1;
    BYTE lutGroup3Enabled = 0;
    CKvLutGroup* lutGroup3 = nullptr;
    CKvSizeRes* sizeRes = nullptr;
    BYTE exposureEnabled = 0;
    CKvExposureAdjustment* exposure = nullptr;
    BYTE whiteBalanceEnabled = 0;
    CKvWBAdjustment* whiteBalance = nullptr;
    BYTE noiseReductionEnabled = 0;
    CKvNoiseReduction* noiseReduction = nullptr;
    BYTE vignetteEnabled = 0;
    CKvVignette* vignette = nullptr;
    BYTE redEyeEnabled = 0;
    CKvFnRedEye* redEye = nullptr;
    BYTE dustEnabled = 0;
    CKvDustRemoval* dustRemoval = nullptr;
    CKvString name;
    double version1RedScale = 0.0;
    double version1BlueScale = 0.0;
    BYTE curvesRebuilt = 0;
    KvOwnedBlock opaqueBlock;
    CKvLEGeneral* general = nullptr;
    BYTE fisheyeEnabled = 0;
    CKvFisheye* fisheye = nullptr;
    BYTE filterPluginsEnabled = 0;
    CKvFilterPluginList* filterPlugins = nullptr;
    BYTE chromaBoosterEnabled = 0;
    CKvChromaBooster* chromaBooster = nullptr;
    BYTE brightnessEnabled = 0;
    CKvBrightness* brightness = nullptr;
    std::array<DWORD, kExtraWords> extraBlock{0, 0, 0, 1, 0, 0, 0};
    // The extra block's first word names the colour space the settings were made in, as a selection code
    // that the pipeline maps to a colour-space code (0: none).
    static constexpr std::size_t kColorSpaceSelectionWord = 0;
    DWORD GetColorSpaceSelection() const { return extraBlock[kColorSpaceSelectionWord]; }
    DWORD readFlag = 0;

private:
    enum class ItemKind : BYTE { kRecord, kLutGroup, kOrientation, kRotation, kAlways, kOpaque, kExtra };
    // One row of the item table: a part's marker and what it stores.
    struct Item {
        DWORD bit;
        const KvStateId* marker; // null for parts without a marker
        const KvStateId* id;     // the stored item's id; null for the marker-only item
        BYTE* enabled;
        IKvState* record;
        ItemKind kind;
        BYTE lutKind;
    };
    static constexpr std::size_t kItemCount = 22;

    std::array<Item, kItemCount> Items();
    bool MarkerSelected(const Item& item) const;
    bool RecordSelected(const Item& item) const;
    std::int64_t ItemSize(const Item& item);
    void WriteItem(const Item& item, BYTE* at, int size);

    int ReadVersion2(const BYTE* buffer, int size, LONG width, LONG height);
    int ReadVersion1(const BYTE* buffer, int size, LONG width, LONG height);
    struct ReadProgress;
    void ReadItem(const Item& item, const BYTE* at, int itemSize, ReadProgress& progress);
    void ReadLutGroup(const BYTE* at, int itemSize, ReadProgress& progress);
    void ApplySizeRecord(const BYTE* record, int size, LONG width, LONG height);
    void RebuildLutGroups(bool group1Read, bool group2Read, bool group3Read);
    void RepairWhiteBalance();
};
