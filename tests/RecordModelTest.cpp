// The record model on storage laid out by hand at the byte offsets of the
// record tables: the RACES tree walked five levels down through its
// containers, the fields of a heat and a lane in place, and the generated
// descriptor numbers and catalogue.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <span>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"
#include "templates/Varnox.h"
#include "tests/testkernel/TestKernelSupport.h"

namespace {

// Kernel storage in one buffer: handles and offsets count 4-byte units from
// its base, which the member objects are attached to.
class Storage {
 public:
  Storage() : m_aWords(4096) { m_pBase = reinterpret_cast<uint8_t*>(m_aWords.data()); }

  // Reserves zeroed bytes on an 8-byte boundary; answers their offset.
  // Handles below 16 stay unused.
  uint32_t Alloc(size_t uiBytes) {
    const uint32_t uiOffset = m_uiLastValid;
    m_uiLastValid += static_cast<uint32_t>((uiBytes + 7) / 8 * 2);
    if (m_uiLastValid > m_aWords.size() * 2) throw std::length_error("test storage full");
    return uiOffset;
  }
  uint8_t* At(uint32_t uiOffset) { return m_pBase + 4 * static_cast<size_t>(uiOffset); }

  // A live map header at `pAt` (the start of a map slot or a top-level header).
  static KxContainerHeader& MapAt(uint8_t* pAt) {
    auto& header = *reinterpret_cast<KxContainerHeader*>(pAt);
    header.lockWord = KxLockWord::kSignature;
    return header;
  }
  // Appends a clean node with room for a record of `uiRecordBytes` to the
  // map; answers its handle.
  uint32_t AddNode(KxContainerHeader& map, size_t uiRecordBytes) {
    const uint32_t uiHandle = Alloc(sizeof(KxMapNode) + uiRecordBytes);
    reinterpret_cast<KxMapNode*>(At(uiHandle))->signature = KxNodeState::kClean;
    uint32_t* pLink = &map.headHandle;
    while (*pLink != 0) pLink = &reinterpret_cast<KxMapNode*>(At(*pLink))->nextHandle;
    *pLink = uiHandle;
    ++map.count;
    return uiHandle;
  }
  uint8_t* RecordOf(uint32_t uiHandle) { return At(uiHandle) + sizeof(KxMapNode); }

  // Hands the storage to a member object as the kernel does.
  void Attach(CkxDtb2ObjCallback& member, void* pContainer) {
    const KxAttachInfo info{0, pContainer, &m_pBase, &m_uiLastValid};
    member.OnAttach(&info);
  }

  template <class T>
  static void Put(uint8_t* pAt, T value) {
    std::memcpy(pAt, &value, sizeof value);
  }
  template <class T>
  static T Get(const uint8_t* pAt) {
    T value;
    std::memcpy(&value, pAt, sizeof value);
    return value;
  }

 private:
  std::vector<uint64_t> m_aWords;
  uint8_t* m_pBase;
  uint32_t m_uiLastValid = 16;
};

// A RACES file with one schedule entry, one heat, one lane result and three
// laps, laid out at the offsets of the record tables: Heats at 56 of the
// entry, LaneResults at 0 of the heat, Laps at 0 of the lane, 44-byte laps.
class RecordModelTest : public TkNativeFaceTest {
 protected:
  void SetUp() override {
    TkNativeFaceTest::SetUp();

    KxContainerHeader& entries = Storage::MapAt(storage.At(storage.Alloc(24)));
    storage.AddNode(entries, 280);  // another entry first: the walk must follow the handle
    hEntry = storage.AddNode(entries, 280);
    pEntry = storage.RecordOf(hEntry);

    KxContainerHeader& heats = Storage::MapAt(pEntry + 56);
    hHeat = storage.AddNode(heats, 504);
    pHeat = storage.RecordOf(hHeat);

    KxContainerHeader& lanes = Storage::MapAt(pHeat + 0);
    storage.AddNode(lanes, 160);
    hLane = storage.AddNode(lanes, 160);
    pLane = storage.RecordOf(hLane);

    const uint32_t uiLaps = storage.Alloc(3 * 44);
    Storage::Put<uint32_t>(pLane + 4, 3);        // Laps: size
    Storage::Put<uint32_t>(pLane + 12, uiLaps);  // Laps: offset of element 0
    pLaps = storage.At(uiLaps);

    pFile = std::make_unique<CkxVarnoxFT_RACES>();
    storage.Attach(pFile->m_ScheduleEntries, &entries);
  }
  void TearDown() override {
    pFile.reset();
    TkNativeFaceTest::TearDown();
  }

  CkxScheduleOneEntry& Entry() { return pFile->m_ScheduleEntries.m_Container[hEntry]; }
  CkxCompOneHeat& Heat() { return Entry().Heats[hHeat]; }
  CkxCompOneLane& Lane() { return Heat().LaneResults[hLane]; }

  Storage storage;
  std::unique_ptr<CkxVarnoxFT_RACES> pFile;
  uint32_t hEntry = 0, hHeat = 0, hLane = 0;
  uint8_t* pEntry = nullptr;
  uint8_t* pHeat = nullptr;
  uint8_t* pLane = nullptr;
  uint8_t* pLaps = nullptr;
};

TEST_F(RecordModelTest, ALapTimeIsReachedFiveLevelsDownThroughTheContainers) {
  uint8_t* pTime = pLaps + 2 * 44 + 4 + 4 * 5;  // lap 2, Time[5]
  Storage::Put<uint32_t>(pTime, 0xC0FFEE05);

  uint32_t& time = Lane().Laps[2].Time[5];
  EXPECT_EQ(reinterpret_cast<uint8_t*>(&time), pTime);
  EXPECT_EQ(time, 0xC0FFEE05u);
  time = 61234;
  EXPECT_EQ(Storage::Get<uint32_t>(pTime), 61234u);

  // The other fields of the lap sit around the times.
  Lane().Laps[2].Lap = 3;
  Lane().Laps[2].SortId = 9;
  EXPECT_EQ(Storage::Get<int32_t>(pLaps + 2 * 44), 3);
  EXPECT_EQ(Storage::Get<int32_t>(pLaps + 2 * 44 + 40), 9);

  // Eight times per lap, three laps.
  EXPECT_NO_THROW(Lane().Laps[2].Time[7]);
  EXPECT_THROW(Lane().Laps[2].Time[8], CkxD2RangeException);
  EXPECT_THROW(Lane().Laps[3], CkxD2RangeException);
}

TEST_F(RecordModelTest, TheHeatsPoolConfigurationLiesInsideTheHeatRecord) {
  // A lane of the heat's pool configuration: its Lanes map at 96 of the heat.
  KxContainerHeader& poolLanes = Storage::MapAt(pHeat + 96);
  const uint32_t hPoolLane = storage.AddNode(poolLanes, 12);
  Storage::Put<int32_t>(storage.RecordOf(hPoolLane) + 8, 5);  // m_RightModuleID

  std::vector<uint8_t> before(pHeat, pHeat + 504);
  Heat().PoolConfig.SamplingRate = 0x11223344;
  Heat().PoolConfig.St2Right = true;
  Heat().HeatStatus = -2;
  EXPECT_EQ(Storage::Get<int32_t>(pHeat + 376), 0x11223344);
  EXPECT_EQ(pHeat[367], 1);
  EXPECT_EQ(Storage::Get<int32_t>(pHeat + 412), -2);
  std::vector<size_t> changedAt;
  for (size_t i = 0; i < before.size(); ++i) {
    if (pHeat[i] != before[i]) changedAt.push_back(i);
  }
  EXPECT_THAT(changedAt, ::testing::ElementsAre(367, 376, 377, 378, 379, 412, 413, 414, 415));

  EXPECT_EQ(Heat().PoolConfig.Lanes[hPoolLane].m_RightModuleID, 5);
}

TEST_F(RecordModelTest, TheLaneHandicapStringStartsAt132AfterStatusId) {
  // A dynamic string slot at 132: length word at +4, capacity at +8, text
  // offset at +12.
  const uint32_t uiText = storage.Alloc(16 * 2);
  Storage::Put<uint32_t>(pLane + 132 + 8, 16);
  Storage::Put<uint32_t>(pLane + 132 + 12, uiText);
  Lane().StatusId = 4;

  Lane().LHandicap.ReserveNet(4);
  Lane().LHandicap.SetNet(u"+1.5", 4);
  EXPECT_EQ(Storage::Get<uint32_t>(pLane + 136), 5u);
  EXPECT_EQ(std::u16string_view(reinterpret_cast<const char16_t*>(storage.At(uiText)), 4), u"+1.5");
  EXPECT_EQ(Storage::Get<int32_t>(pLane + 128), 4);
  EXPECT_EQ(Storage::Get<uint32_t>(pLane + 156), 0u);  // padding untouched

  int iLength = 0;
  const char16_t* pText = Lane().LHandicap.GetNet(&iLength);
  EXPECT_EQ(std::u16string_view(pText, static_cast<size_t>(iLength)), u"+1.5");
}

// --------------------------------------------------------------------------
// Descriptor numbers and the catalogue.

template <class T>
std::span<const VarnoxMemberInfo> Members() {
  return VarnoxDescriptors<T>::kMembers;
}

struct DescriptorCase {
  std::span<const VarnoxMemberInfo> members;
  size_t uiIndex;
  VarnoxMemberInfo expected;
};

TEST(RecordDescriptorTest, EveryFieldKindGivesItsDescriptorNumbers) {
  const DescriptorCase cases[] = {
      {Members<CkxCompetitor>(), 0, {"Name", 24, 2, true}},
      {Members<CkxIOSetupParam>(), 0, {"IOType", 24, 1, true}},
      {Members<CkxString>(), 0, {"str", 132, 2, false}},
      {Members<CkxRound>(), 3, {"IdList", 400, 4, false}},
      {Members<CkxCompOneLap>(), 1, {"Time", 32, 4, false}},
      {Members<CkxPoolConfig>(), 5, {"Ha1Left", 1, 1, false}},
      {Members<CkxPoolEventsOnePulse>(), 0, {"SeqID", 4, 4, false}},
      {Members<CkxRecordEntry>(), 4, {"Time", 8, 8, false}},
      {Members<CkxRecordEntry>(), 9, {"Date", 8, 8, false}},
      {Members<CkxScheduleOneEntry>(), 7, {"Heats", 504, 504, true}},
      {Members<CkxPoolConfig>(), 3, {"LeftContacts", 1, 1, true}},
      {Members<CkxRecordEntry>(), 5, {"LapTimes", 8, 8, true}},
      {Members<CkxCompOneLane>(), 0, {"Laps", 44, 44, true}},
      {Members<CkxCompOneHeat>(), 1, {"PoolConfig", 296, 296, false}},
      {Members<CkxVarnoxFT_COMPETITORS>(), 0, {"CompetitorsStringMap", 152, 152, true}},
      {Members<CkxVarnoxFT_GLOBALS>(), 0, {"PoolConfig", 296, 296, false}},
      {Members<CkxVarnoxFT_GLOBALS>(), 7, {"Records", 128, 128, true}},
      {Members<CkxVarnoxFT_RAW_PULSES>(), 1, {"AssociatedPoolConfig", 296, 296, false}},
      {Members<CkxVarnoxFT_IOSETUP>(), 1, {"IODefaultTypeParams", 120, 120, true}},
  };
  for (const DescriptorCase& c : cases) {
    SCOPED_TRACE(c.expected.name);
    ASSERT_LT(c.uiIndex, c.members.size());
    EXPECT_EQ(c.members[c.uiIndex], c.expected);
  }
}

TEST(RecordDescriptorTest, RecordsHaveTheirPropertyCountsAndViewModelDefaults) {
  const std::pair<std::span<const VarnoxMemberInfo>, size_t> counts[] = {
      {Members<CkxCompetitor>(), 8},
      {Members<CkxScheduleOneEntry>(), 11},
      {Members<CkxCompOneHeat>(), 6},
      {Members<CkxCompOneLane>(), 7},
      {Members<CkxCompOneLap>(), 4},
      {Members<CkxCompetitorsIds>(), 1},
      {Members<CkxPoolConfig>(), 16},
      {Members<CkxPoolConfigOneLane>(), 3},
      {Members<CkxOneContact>(), 1},
      {Members<CkxString>(), 1},
      {Members<CkxDistance>(), 4},
      {Members<CkxStyle>(), 2},
      {Members<CkxCategory>(), 2},
      {Members<CkxRound>(), 6},
      {Members<CkxStatus>(), 2},
      {Members<CkxSetupParam>(), 4},
      {Members<CkxRecordEntry>(), 10},
      {Members<CkxRecordLapTime>(), 1},
      {Members<CkxRecordLapDistance>(), 1},
      {Members<CkxPoolEventsOnePulse>(), 9},
      {Members<CkxIOSetupOneEntry>(), 9},
      {Members<CkxIOSetupParam>(), 5},
  };
  for (const auto& [members, uiCount] : counts) {
    SCOPED_TRACE(members.front().name);
    EXPECT_EQ(members.size(), uiCount);
  }

  using Pool = VarnoxDescriptors<CkxPoolConfig>;
  EXPECT_STREQ(Pool::kDefaults[0], "10");    // NbLanes
  EXPECT_STREQ(Pool::kDefaults[1], "50");    // PoolLength
  EXPECT_EQ(Pool::kDefaults[2], nullptr);    // Lanes
  EXPECT_STREQ(Pool::kDefaults[5], "true");  // Ha1Left
  EXPECT_STREQ(Pool::kDefaults[6], "false");
  EXPECT_STREQ(Pool::kDefaults[13], "2");                               // StartContactCfg
  EXPECT_STREQ(VarnoxDescriptors<CkxCompOneLane>::kDefaults[3], "-1");  // Lane
  EXPECT_EQ(VarnoxDescriptors<CkxCompOneHeat>::kDefaults[1], nullptr);  // PoolConfig
  EXPECT_STREQ(VarnoxDescriptors<CkxRecordEntry>::kDefaults[4], "        0.000m");
  EXPECT_STREQ(VarnoxDescriptors<CkxRecordEntry>::kDefaults[9], "01.01.0001  00:00:00.000");
  EXPECT_STREQ(VarnoxDescriptors<CkxIOSetupParam>::kDefaults[0], "");
}

const KxRecordField* FieldNamed(const KxRecordType& record, std::string_view csName) {
  for (uint32_t i = 0; i < record.fieldCount; ++i) {
    if (csName == record.fields[i].name) return &record.fields[i];
  }
  return nullptr;
}

TEST(RecordCatalogueTest, FilesAndMemberClassesAreListedOnceByClassId) {
  // The catalogue lists the five file templates in their order, each with the
  // members its template registers, in registration order.
  const KxCatalogue& catalogue = VarnoxCatalogue();
  ASSERT_EQ(catalogue.fileCount, 5u);
  ASSERT_EQ(VarnoxFileTemplates::kCount, 5u);
  uint32_t uiFile = 0;
  VarnoxFileTemplates::ForEach([&](auto type) {
    using File = typename decltype(type)::type;
    SCOPED_TRACE(File::kFileType);
    const KxFileType& file = catalogue.files[uiFile++];
    EXPECT_STREQ(file.family, CkxVarnoxFile::kFamily);
    EXPECT_STREQ(file.name, File::kFileType);
    const auto& members = VarnoxDescriptors<File>::kMembers;
    ASSERT_EQ(file.memberCount, std::size(members));
    EXPECT_EQ(VarnoxMembers<File>::kCount, std::size(members));
    for (uint32_t i = 0; i < file.memberCount; ++i) {
      EXPECT_STREQ(file.members[i].name, members[i].name);
    }
  });

  // Fourteen members, thirteen classes: the pool configurations share one.
  std::set<uint32_t> classIds;
  for (uint32_t i = 0; i < catalogue.classCount; ++i) classIds.insert(catalogue.classes[i].classId);
  EXPECT_EQ(catalogue.classCount, 13u);
  EXPECT_EQ(classIds.size(), 13u);
  const KxMemberClass* pGlobalsPool = catalogue.files[2].members[0].memberClass;
  EXPECT_EQ(catalogue.files[3].members[1].memberClass, pGlobalsPool);
  EXPECT_STREQ(catalogue.files[3].members[1].name, "AssociatedPoolConfig");
  EXPECT_EQ(pGlobalsPool->classId, 75530582u);
  EXPECT_EQ(pGlobalsPool->kind, KxMemberKind::kSingle);
  EXPECT_EQ(pGlobalsPool->element->size, 296u);

  const KxMemberClass* pDefaults = catalogue.files[4].members[1].memberClass;
  EXPECT_EQ(pDefaults->classId, 17366277u);
  EXPECT_EQ(pDefaults->kind, KxMemberKind::kArray);
  EXPECT_STREQ(pDefaults->element->name, "CkxIOSetupParam");
  EXPECT_EQ(catalogue.files[1].members[0].memberClass->key, KxKeyKind::kText);
  EXPECT_EQ(catalogue.files[0].members[0].memberClass->key, KxKeyKind::kNumber);
}

TEST(RecordCatalogueTest, AHeatListsItsEmbeddedContainersAndPoolConfiguration) {
  const KxRecordType& entry = *VarnoxCatalogue().files[1].members[0].memberClass->element;
  const KxRecordField* pHeats = FieldNamed(entry, "Heats");
  ASSERT_NE(pHeats, nullptr);
  EXPECT_EQ(pHeats->kind, KxFieldKind::kMap);
  EXPECT_EQ(pHeats->key, KxKeyKind::kText);
  EXPECT_EQ(pHeats->offset, 56u);
  const KxRecordType& heat = *pHeats->element;
  EXPECT_STREQ(heat.name, "CkxCompOneHeat");
  EXPECT_EQ(heat.size, 504u);

  struct Expected {
    const char* name;
    KxFieldKind kind;
    KxKeyKind key;
    uint32_t offset;
    uint32_t width;
    const char* element;
  };
  const Expected expected[] = {
      {"LaneResults", KxFieldKind::kMap, KxKeyKind::kNumber, 0, 88, "CkxCompOneLane"},
      {"PoolConfig", KxFieldKind::kRecord, KxKeyKind::kNone, 88, 296, "CkxPoolConfig"},
      {"HeatId", KxFieldKind::kStrDU, KxKeyKind::kNone, 384, 24, nullptr},
      {"SortId", KxFieldKind::kInt32, KxKeyKind::kNone, 408, 4, nullptr},
      {"HeatStatus", KxFieldKind::kInt32, KxKeyKind::kNone, 412, 4, nullptr},
      {"Params", KxFieldKind::kMap, KxKeyKind::kText, 416, 88, "CkxString"},
  };
  ASSERT_EQ(heat.fieldCount, 6u);
  for (uint32_t i = 0; i < heat.fieldCount; ++i) {
    const KxRecordField& field = heat.fields[i];
    SCOPED_TRACE(expected[i].name);
    EXPECT_STREQ(field.name, expected[i].name);
    EXPECT_EQ(field.kind, expected[i].kind);
    EXPECT_EQ(field.key, expected[i].key);
    EXPECT_EQ(field.offset, expected[i].offset);
    EXPECT_EQ(field.width, expected[i].width);
    if (expected[i].element == nullptr) {
      EXPECT_EQ(field.element, nullptr);
    } else {
      ASSERT_NE(field.element, nullptr);
      EXPECT_STREQ(field.element->name, expected[i].element);
    }
  }
  // The lane's string right after StatusId, the lap's eight times.
  const KxRecordType& lane = *heat.fields[0].element;
  EXPECT_EQ(FieldNamed(lane, "LHandicap")->offset, 132u);
  const KxRecordField* pTime = FieldNamed(*FieldNamed(lane, "Laps")->element, "Time");
  EXPECT_EQ(pTime->kind, KxFieldKind::kFixedUInt32);
  EXPECT_EQ(pTime->count, 8u);
  EXPECT_EQ(pTime->width, 32u);
}

// Collects every record reachable from the files.
void Reach(const KxRecordType* pRecord, std::set<const KxRecordType*>& seen) {
  if (!seen.insert(pRecord).second) return;
  for (uint32_t i = 0; i < pRecord->fieldCount; ++i) {
    if (pRecord->fields[i].element != nullptr) Reach(pRecord->fields[i].element, seen);
  }
}

TEST(RecordCatalogueTest, EveryRecordKeepsTheInvariantsAKernelReliesOn) {
  const KxCatalogue& catalogue = VarnoxCatalogue();
  std::set<const KxRecordType*> records;
  for (uint32_t i = 0; i < catalogue.classCount; ++i) Reach(catalogue.classes[i].element, records);
  EXPECT_EQ(records.size(), 22u);

  for (const KxRecordType* pRecord : records) {
    SCOPED_TRACE(pRecord->name);
    uint32_t uiEnd = 0;
    for (uint32_t i = 0; i < pRecord->fieldCount; ++i) {
      const KxRecordField& field = pRecord->fields[i];
      SCOPED_TRACE(field.name);
      EXPECT_GE(field.offset, uiEnd);  // in offset order, no overlap
      uiEnd = field.offset + field.width;
      EXPECT_LE(uiEnd, pRecord->size);
      const bool bContainer = field.kind == KxFieldKind::kMap ||
                              field.kind == KxFieldKind::kArray ||
                              field.kind == KxFieldKind::kRecord;
      EXPECT_EQ(field.element != nullptr, bContainer);
      EXPECT_EQ(field.key != KxKeyKind::kNone, field.kind == KxFieldKind::kMap);
      const bool bCounted = field.kind == KxFieldKind::kFixedInt32 ||
                            field.kind == KxFieldKind::kFixedUInt32 ||
                            field.kind == KxFieldKind::kStrSU;
      EXPECT_EQ(field.count > 1, bCounted);
      if (field.kind == KxFieldKind::kRecord) {
        EXPECT_EQ(field.width, field.element->size);
      }
    }
  }
}

}  // namespace
