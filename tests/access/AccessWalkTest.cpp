// The access layer while it is built: every file's wrappers come up on the
// reference kernel, and a five-level walk (lap times of a lane result of a
// heat of a schedule entry) written through the object face reads back
// through the native face.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "access/VarnoxAccess.h"
#include "templates/Varnox.h"
#include "tests/kernel/KernelTestSupport.h"

using namespace Tarvex::Orb::Data::Varnox;
using Tarvex::Orb::DataDirectAcces::OrbKernelException;

namespace {

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment);

template <class File>
bool Create(File& file, const std::string& csName) {
  const std::string csPath = KernelScratch::Get().Path(csName);
  return file.OpenUnm(csPath.c_str(), nullptr, nullptr, "rw", "", true, nullptr, 0, 0, nullptr) > 0;
}

TEST(AccessWalk, LapTimesThroughFiveLevels) {
  CkxVarnoxFT_RACES file;
  ASSERT_TRUE(Create(file, "walk.races"));
  auto pEntries = std::make_shared<D2oVarnox_FT_RACES_ScheduleEntries>(&file.m_ScheduleEntries,
                                                                       nullptr);
  auto pLap = pEntries->Item(u"R1")->Heats()->Item(u"H1")->LaneResults()->Item(uint64_t{3})
                  ->Laps();
  pLap->SetLength(2);
  auto pTimes = pLap->Item(1)->Time();
  pTimes->set_Item(7, 4242);
  EXPECT_EQ(pTimes->GetLength(0), 8u);

  auto& entry = file.m_ScheduleEntries.m_Container[pEntries->Find(u"R1")];
  auto& heat = entry.Heats[entry.Heats(D2MapCmd::Find, 0, "H1")];
  auto& lane = heat.LaneResults[heat.LaneResults(D2MapCmd::Find, 3, nullptr)];
  EXPECT_EQ(lane.Laps[1].Time[7], 4242u);

  try {
    pTimes->Item(8);
    FAIL() << "index 8 of a lap's times was read";
  } catch (const OrbKernelException& e) {
    EXPECT_EQ(e.Message(), u"D2iVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults_Laps_Time[]:\r\n");
  }
}

TEST(AccessWalk, EveryFileComesUp) {
  CkxVarnoxFT_COMPETITORS competitors;
  CkxVarnoxFT_GLOBALS globals;
  CkxVarnoxFT_RAW_PULSES pulses;
  CkxVarnoxFT_IOSETUP iosetup;
  ASSERT_TRUE(Create(competitors, "up.competitors") && Create(globals, "up.globals") &&
              Create(pulses, "up.pulses") && Create(iosetup, "up.iosetup"));

  auto pCompetitors = std::make_shared<D2oVarnox_FT_COMPETITORS_CompetitorsStringMap>(
      &competitors.m_CompetitorsStringMap, nullptr);
  pCompetitors->Item(uint64_t{7})->set_Name(u"Ann");
  int iCount = 0;
  for (const auto& pCompetitor : *pCompetitors) iCount += pCompetitor->Name() == u"Ann";
  EXPECT_EQ(iCount, 1);

  auto pPool = std::make_shared<D2oVarnox_FT_GLOBALS_PoolConfig>(&globals.m_PoolConfig, nullptr);
  pPool->set_NbLanes(8);
  pPool->Lanes()->Item(uint64_t{1})->set_m_LaneID(1);
  EXPECT_EQ(pPool->NbLanes(), 8);
  auto pRecords = std::make_shared<D2oVarnox_FT_GLOBALS_Records>(&globals.m_Records, nullptr);
  pRecords->Item(u"WR")->LapTimes()->SetLength(1);
  auto pRounds = std::make_shared<D2oVarnox_FT_GLOBALS_RoundsDefault>(&globals.m_RoundsDefault,
                                                                      nullptr);
  EXPECT_EQ(pRounds->Item(uint64_t{1})->IdList()->GetLength(0), 100u);

  auto pPulses = std::make_shared<D2oVarnox_FT_RAW_PULSES_PoolEvents>(&pulses.m_PoolEvents, nullptr);
  pPulses->Item(uint64_t{1})->set_Armed(true);
  auto pIos = std::make_shared<D2oVarnox_FT_IOSETUP_IODefaultTypeParams>(
      &iosetup.m_IODefaultTypeParams, nullptr);
  pIos->SetLength(1);
  pIos->Item(0)->set_IOType(u"COM");
  EXPECT_EQ(pIos->Item(0)->IOType(), u"COM");
}

}  // namespace
