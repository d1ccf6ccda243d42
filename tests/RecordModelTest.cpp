// The record model on storage laid out by hand at the byte offsets of the
// record tables: the RACES tree walked five levels down through its
// containers; and the generated catalogue, walked whole: the file templates'
// members as the descriptors list them, each class once, and the invariants
// of every record. (Field offsets are checked where the records are
// generated, descriptor numbers by the generator's own test.)
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <stdexcept>
#include <vector>

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"
#include "templates/Varnox.h"
#include "tests/StorageBuilder.h"
#include "tests/testkernel/TestKernelSupport.h"

namespace {

// A live map header at `pAt` (the start of a map slot or a top-level header).
KxContainerHeader& MapAt(uint8_t* pAt) {
  auto& header = *reinterpret_cast<KxContainerHeader*>(pAt);
  header.lockWord = KxLockWord::kSignature;
  return header;
}

template <class T>
T Get(const uint8_t* pAt) {
  T value;
  std::memcpy(&value, pAt, sizeof value);
  return value;
}

// A RACES file with one schedule entry, one heat, one lane result and three
// laps, laid out at the offsets of the record tables: Heats at 56 of the
// entry, LaneResults at 0 of the heat, Laps at 0 of the lane, 44-byte laps.
class RecordModelTest : public TkNativeFaceTest {
 protected:
  void SetUp() override {
    TkNativeFaceTest::SetUp();

    KxContainerHeader& entries = storage.NewMap();
    storage.AddNode(entries, 280);  // another entry first: the walk must follow the handle
    hEntry = storage.AddNode(entries, 280);
    pEntry = &storage.Record<uint8_t>(hEntry);

    KxContainerHeader& heats = MapAt(pEntry + 56);
    hHeat = storage.AddNode(heats, 504);
    pHeat = &storage.Record<uint8_t>(hHeat);

    KxContainerHeader& lanes = MapAt(pHeat + 0);
    storage.AddNode(lanes, 160);
    hLane = storage.AddNode(lanes, 160);
    pLane = &storage.Record<uint8_t>(hLane);

    KxArrayHeader& laps = *reinterpret_cast<KxArrayHeader*>(pLane);  // Laps
    storage.FillArray(laps, 3, 44);
    pLaps = &storage.At<uint8_t>(laps.dataOffset);

    // Attached as the kernel attaches a member.
    pFile = std::make_unique<CkxVarnoxFT_RACES>();
    const KxAttachInfo info{0, &entries, &storage.m_pBase, &storage.m_uiLastValid};
    pFile->m_ScheduleEntries.OnAttach(&info);
  }
  void TearDown() override {
    pFile.reset();
    TkNativeFaceTest::TearDown();
  }

  CkxScheduleOneEntry& Entry() { return pFile->m_ScheduleEntries.m_Container[hEntry]; }
  CkxCompOneHeat& Heat() { return Entry().Heats[hHeat]; }
  CkxCompOneLane& Lane() { return Heat().LaneResults[hLane]; }

  StorageBuilder storage;
  std::unique_ptr<CkxVarnoxFT_RACES> pFile;
  uint32_t hEntry = 0, hHeat = 0, hLane = 0;
  uint8_t* pEntry = nullptr;
  uint8_t* pHeat = nullptr;
  uint8_t* pLane = nullptr;
  uint8_t* pLaps = nullptr;
};

TEST_F(RecordModelTest, ALapTimeIsReachedFiveLevelsDownThroughTheContainers) {
  uint8_t* pTime = pLaps + 2 * 44 + 4 + 4 * 5;  // lap 2, Time[5]
  std::memcpy(pTime, "\x05\xEE\xFF\xC0", 4);

  uint32_t& time = Lane().Laps[2].Time[5];
  EXPECT_EQ(reinterpret_cast<uint8_t*>(&time), pTime);
  EXPECT_EQ(time, 0xC0FFEE05u);
  time = 61234;
  EXPECT_EQ(Get<uint32_t>(pTime), 61234u);

  // The other fields of the lap sit around the times.
  Lane().Laps[2].Lap = 3;
  Lane().Laps[2].SortId = 9;
  EXPECT_EQ(Get<int32_t>(pLaps + 2 * 44), 3);
  EXPECT_EQ(Get<int32_t>(pLaps + 2 * 44 + 40), 9);

  // Eight times per lap, three laps.
  EXPECT_NO_THROW(Lane().Laps[2].Time[7]);
  EXPECT_THROW(Lane().Laps[2].Time[8], CkxD2RangeException);
  EXPECT_THROW(Lane().Laps[3], CkxD2RangeException);
}

TEST(RecordCatalogueTest, FilesAndMemberClassesAreListedOnceByClassId) {
  // The catalogue lists the file templates in their order, each with the
  // members its template registers, in registration order.
  const KxCatalogue& catalogue = VarnoxCatalogue();
  ASSERT_EQ(catalogue.fileCount, VarnoxFileTemplates::kCount);
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

  // Each member class is listed once, and the members name listed classes.
  std::set<const KxMemberClass*> classes;
  std::set<uint32_t> classIds;
  for (uint32_t i = 0; i < catalogue.classCount; ++i) {
    classes.insert(&catalogue.classes[i]);
    classIds.insert(catalogue.classes[i].classId);
  }
  EXPECT_EQ(classIds.size(), catalogue.classCount);
  for (uint32_t f = 0; f < catalogue.fileCount; ++f) {
    for (uint32_t m = 0; m < catalogue.files[f].memberCount; ++m) {
      EXPECT_TRUE(classes.contains(catalogue.files[f].members[m].memberClass));
    }
  }
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
