// The record model on storage laid out by hand at the byte offsets of the
// record tables: the RACES tree walked five levels down through its
// containers. (The catalogue's files and class ids are checked against the
// templates by FileTemplateTest, its layout rules by the generator's test.)
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

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

}  // namespace
