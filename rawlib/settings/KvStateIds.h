// Every type id of the settings records and of the items of the aggregate settings record. An id never
// changes between versions of its record.
#pragma once

#include "KvStateId.h"

#include <span>

namespace KvStateIds {

// The aggregate settings record, its enable markers and its value items.
inline constexpr KvStateId kImageProcSet = KvGuidId("7A86A940-E91B-11D2-A90A-00AA00B1C1B7");
inline constexpr KvStateId kMarkerUsmList = KvGuidId("76A43200-17A2-11D4-A90A-00AA00B1C1B7");
inline constexpr KvStateId kMarkerLutGroup1 = KvGuidId("76A43201-17A2-11D4-A90A-00AA00B1C1B7");
inline constexpr KvStateId kMarkerLutGroup2 = KvGuidId("76A43202-17A2-11D4-A90A-00AA00B1C1B7");
inline constexpr KvStateId kMarkerExposure = KvGuidId("76A43203-17A2-11D4-A90A-00AA00B1C1B7");
inline constexpr KvStateId kMarkerWhiteBalance = KvGuidId("76A43204-17A2-11D4-A90A-00AA00B1C1B7");
inline constexpr KvStateId kMarkerVignette = KvGuidId("76A43205-17A2-11D4-A90A-00AA00B1C1B7");
inline constexpr KvStateId kItemOrientation = KvGuidId("76A43206-17A2-11D4-A90A-00AA00B1C1B7");
inline constexpr KvStateId kItemRotation = KvGuidId("76A43207-17A2-11D4-A90A-00AA00B1C1B7");
inline constexpr KvStateId kMarkerLutGroup3 = KvBytesId("008AE85E-1836-D411-B66D-0050DA5A1D0D");
inline constexpr KvStateId kMarkerRevelation = KvGuidIdEitherForm("7E085351-CB4F-4C4F-A041-8034553C57E5");
inline constexpr KvStateId kMarkerAlways = KvGuidId("770DD345-6EA3-4E1E-A4BE-CFC18EB5B747");
inline constexpr KvStateId kMarkerDustRemoval = KvBytesId("FE443A45-A792-834C-8A27-F7D76AE29E0B");
inline constexpr KvStateId kMarkerNoiseReduction = KvGuidId("753DCBC0-6D37-11D4-A90A-00AA00B1C1B7");
inline constexpr KvStateId kMarkerFisheye = KvBytesId("F6DD16F5-4347-994C-8661-BD9B50A7E777");
inline constexpr KvStateId kMarkerFilterPlugins = KvBytesId("66C74F79-9822-C84F-922E-C6AC1F6CC95A");
inline constexpr KvStateId kMarkerChromaBooster = KvBytesId("5F0E7D23-6BA7-194F-975E-D376B99B0651");
inline constexpr KvStateId kMarkerRedEye = KvBytesId("FE28A44F-3DD4-624C-90C9-D0558AE1B95D");
inline constexpr KvStateId kMarkerBrightness = KvGuidId("AB5ECA5E-14DE-4AD0-82BE-3A8B085792FA");
inline constexpr KvStateId kItemOpaqueBlock = KvGuidId("9EF5F6E0-158D-11D6-BFF7-00D0B7924146");
inline constexpr KvStateId kItemExtraBlock = KvGuidId("743D8F01-B984-11D4-BFF7-000103208145");
inline constexpr KvStateId kItemName = KvGuidId("24462940-E71E-11D4-BFF7-000103208145");

// The adjustment records.
inline constexpr KvStateId kUsmList = KvGuidId("E42B5161-5DDF-11D2-A90A-00AA00B1C1B7");
inline constexpr KvStateId kUsm = KvGuidId("E42B5160-5DDF-11D2-A90A-00AA00B1C1B7");
inline constexpr KvStateId kRevelation = KvGuidId("AF62868E-B5DC-4D09-961C-699DD054FA0A");
inline constexpr KvStateId kDustRemoval = KvGuidId("F852757D-654C-460B-9D02-64665E45696B");
inline constexpr KvStateId kSizeRes = KvGuidId("374233E0-CCB8-11D2-0AA9-B7C1B100AA00");
inline constexpr KvStateId kExposureAdjustment = KvGuidId("56A54260-049B-11D4-A90A-00AA00B1C1B7");
inline constexpr KvStateId kWBAdjustment = KvGuidId("BF3C6C20-04CA-11D4-A90A-00AA00B1C1B7");
inline constexpr KvStateId kNoiseReduction = KvGuidId("926F13E0-AC19-11D4-BFF7-000103208145");
inline constexpr KvStateId kFisheye = KvBytesId("237D932D-BB69-9B4F-887C-87CE3ACCD6EA");
inline constexpr KvStateId kFilterPluginList = KvGuidId("1C2CA023-C325-4A2C-804A-5780562FDE63");
inline constexpr KvStateId kFilterPlugins = KvBytesId("F2B66C97-8B92-3145-BFA4-780E8DF2F4E7");
inline constexpr KvStateId kChromaBooster = KvBytesId("B999A36F-3F1E-884B-AC63-5964738F33EF");
inline constexpr KvStateId kLEGeneral = KvGuidId("E55C1D00-261B-11D6-BFF7-00D0B7924146");
inline constexpr KvStateId kVignette = KvGuidId("AC6BD5C0-8CF6-11D6-B137-00D0B7924146");
inline constexpr KvStateId kFnRedEye = KvBytesId("3CFC73C6-181F-7C49-85A7-0715FCD2C7E3");
inline constexpr KvStateId kBrightness = KvGuidId("84589434-E9C0-403F-AA15-53B07F51A697");
inline constexpr KvStateId kHeuristic = KvGuidId("F4642A89-AC63-11D1-A777-00AA00B1C1B7");
inline constexpr KvStateId kLensInformation = KvBytesId("A042D706-ED9B-3E4A-A019-772A0A9A769C");

// The curve records: the group and its three channel kinds.
inline constexpr KvStateId kLutGroup = KvBytesId("9DDC7D0065D411D19194444553540000");
inline constexpr KvStateId kToneChannel = KvBytesId("9DDC7D0365D411D19194444553540000");
inline constexpr KvStateId kHueChannel = KvBytesId("9DDC7D0265D411D19194444553540000");
inline constexpr KvStateId kChromaChannel = KvBytesId("9DDC7D0465D411D19194444553540000");

struct NamedId {
    const char* name;
    const KvStateId* id;
};

// Every id above, for lookups by id and for tests that try each one.
std::span<const NamedId> All();

} // namespace KvStateIds
