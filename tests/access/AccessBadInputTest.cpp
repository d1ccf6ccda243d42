// Bad input to the access layer: a removed element, stale and garbage
// handles, indexes past fixed and dynamic arrays, keys Windows-1252 cannot
// hold, and objects whose file was unloaded. Each gives OrbKernelException
// with the operation's message and changes nothing; under AddressSanitizer
// (make test SANITIZE=address,undefined) none of them reads outside the
// storage.
#include <gtest/gtest.h>

#include "tests/access/AccessTestSupport.h"

namespace access_test {
namespace {

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment());

const std::string kCompetitor = "D2mVarnox_FT_COMPETITORS_CompetitorsStringMap";
const std::string kHeat = "D2mVarnox_FT_RACES_ScheduleEntries_Heats";
const std::string kSchedule = "D2oVarnox_FT_RACES_ScheduleEntries";
const std::string kHeats = "D2iVarnox_FT_RACES_ScheduleEntries_Heats";
const std::string kTime = "D2iVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults_Laps_Time";
const std::string kIdList = "D2iVarnox_FT_GLOBALS_RoundsDefault_IdList";

// One competitor and one entry with one heat, to be left as they are.
void Fill(Meet& meet) {
  auto competitor = meet.Competitors()->Item(uint64_t{5});
  competitor->set_Name(u"Kept");
  competitor->set_CategoryId(3);
  meet.Schedule()->Item(u"R1")->Heats()->Item(u"H1")->set_HeatId(u"Kept");
}

void ExpectUnchanged(Meet& meet) {
  auto& competitors = meet.competitors.m_CompetitorsStringMap.m_Container;
  EXPECT_EQ(competitors.GetCount(), 1u);
  EXPECT_EQ(NativeText(Meet::ByKey(competitors, 5).Name), u"Kept");
  EXPECT_EQ(Meet::ByKey(competitors, 5).CategoryId, 3);
  EXPECT_EQ(meet.NativeSchedule().GetCount(), 1u);
  EXPECT_EQ(meet.NativeEntry("R1").Heats.GetCount(), 1u);
  EXPECT_EQ(NativeText(meet.NativeHeat("R1", "H1").HeatId), u"Kept");
}

// Handles that name no element of the maps: no storage, the storage's
// first words, every bit, and one word into a valid node.
class GarbageHandle : public testing::TestWithParam<uint32_t> {};

TEST_P(GarbageHandle, FailsEveryFieldAccessAndChangesNothing) {
  Meet meet;
  Fill(meet);
  const uint32_t uiHandle =
      GetParam() != 0xC0DE ? GetParam()
                           : meet.competitors.m_CompetitorsStringMap.m_Container(D2MapCmd::Find, 5,
                                                                                  nullptr) + 1;
  auto competitor = meet.Competitors()->Item(uiHandle);
  EXPECT_EQ(MessageOf([&] { competitor->Name(); }), kCompetitor + ".Name:\r\n");
  EXPECT_EQ(MessageOf([&] { competitor->set_Name(u"Lost"); }), kCompetitor + ".Name:\r\n");
  EXPECT_EQ(MessageOf([&] { competitor->set_CategoryId(9); }), kCompetitor + ".CategoryId:\r\n");
  auto heat = meet.Schedule()->Item(u"R1")->Heats()->Item(uiHandle);
  EXPECT_EQ(MessageOf([&] { heat->set_HeatId(u"Lost"); }), kHeat + ".HeatId:\r\n");
  EXPECT_EQ(MessageOf([&] { heat->LaneResults()->Item(uint64_t{1}); }),
            "D2iVarnox_FT_RACES_ScheduleEntries_Heats_LaneResults.Add:\r\n");
  ExpectUnchanged(meet);
}

INSTANTIATE_TEST_SUITE_P(Handles, GarbageHandle,
                         testing::Values(0u, 1u, 2u, 15u, 0x7FFFFFFFu, 0xFFFFFFFFu, kGarbageHandle,
                                         0xC0DEu /* a valid node's handle + 1 */));

TEST(RemovedElement, ItsProxiesAndNestedWrappersFailAndTheRestStays) {
  Meet meet;
  Fill(meet);
  auto competitors = meet.Competitors();
  auto gone = competitors->Item(uint64_t{6});
  gone->set_Name(u"Gone");
  auto schedule = meet.Schedule();
  auto entry = schedule->Item(u"R2");
  auto heats = entry->Heats();
  auto heat = heats->Item(u"H1");
  competitors->Remove(uint64_t{6});
  schedule->RemoveAt(entry->IEnumCurrentPos());

  EXPECT_EQ(MessageOf([&] { gone->Name(); }), kCompetitor + ".Name:\r\n");
  EXPECT_EQ(MessageOf([&] { gone->set_Club(u"x"); }), kCompetitor + ".Club:\r\n");
  EXPECT_EQ(MessageOf([&] { heat->SortId(); }), kHeat + ".SortId:\r\n");
  EXPECT_EQ(MessageOf([&] { heats->GetCount(); }), kHeats + ".GetCount:\r\n");
  EXPECT_EQ(MessageOf([&] { heats->Item(u"H9"); }), kHeats + ".Add:\r\n");
  EXPECT_EQ(MessageOf([&] { entry->Params()->Item(u"P")->str(); }),
            "D2iVarnox_FT_RACES_ScheduleEntries_Params.Add:\r\n")
      << "the key indexer's Add fails first";
  ExpectUnchanged(meet);
}

TEST(IndexPastAnArray, FixedArraysRefuseItAndKeepTheirNeighbours) {
  Meet meet;
  auto lap = meet.Schedule()->Item(u"R1")->Heats()->Item(u"H1")->LaneResults()->Item(uint64_t{1})->Laps();
  lap->SetLength(1);
  auto times = lap->Item(0)->Time();
  lap->Item(0)->set_Rank(7);
  times->set_Item(7, 42);
  for (uint32_t uiIndex : {8u, 9u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    EXPECT_EQ(MessageOf([&] { static_cast<void>(times->Item(uiIndex)); }), kTime + "[]:\r\n") << uiIndex;
    EXPECT_EQ(MessageOf([&] { times->set_Item(uiIndex, 1); }), kTime + "[]:\r\n") << uiIndex;
  }
  EXPECT_EQ(times->Item(7), 42u) << "index 7 is the eighth value";
  EXPECT_EQ(meet.NativeLane("R1", "H1", 1).Laps[0].Rank, 7);
  EXPECT_EQ(meet.NativeLane("R1", "H1", 1).Laps.Size(), 1u);

  auto ids = meet.Rounds()->Item(uint64_t{1})->IdList();
  ids->set_Item(99, 5);
  EXPECT_EQ(MessageOf([&] { ids->set_Item(100, 1); }), kIdList + "[]:\r\n");
  EXPECT_EQ(Meet::ByKey(meet.globals.m_RoundsDefault.m_Container, 1).NBMaxRounds, 0);
  EXPECT_EQ(ids->Item(99), 5);
}

TEST(IndexPastAnArray, RecordArraysRefuseItAtTheProxy) {
  Meet meet;
  auto defaults = meet.IODefaults();
  defaults->SetLength(2);
  auto past = defaults->Item(2);
  EXPECT_EQ(MessageOf([&] { past->set_Name(u"x"); }),
            "D2mVarnox_FT_IOSETUP_IODefaultTypeParams.Name:\r\n");
  EXPECT_EQ(defaults->GetLength(0), 2u);
  auto lapTimes = meet.Records()->Item(u"WR")->LapTimes();
  EXPECT_EQ(MessageOf([&] { lapTimes->Item(0)->LapTime(); }),
            "D2mVarnox_FT_GLOBALS_Records_LapTimes.LapTime:\r\n");
}

struct KeyCase {
  const char* csName;
  std::u16string csKey;
};
void PrintTo(const KeyCase& c, std::ostream* pOut) { *pOut << c.csName; }

class UnencodableKey : public testing::TestWithParam<KeyCase> {};

// A text key travels as a zero-terminated Windows-1252 text; a key it cannot
// hold is refused, not turned into another key.
TEST_P(UnencodableKey, IsRefusedAndAddsNothing) {
  Meet meet;
  Fill(meet);
  auto schedule = meet.Schedule();
  const std::u16string& csKey = GetParam().csKey;
  EXPECT_EQ(MessageOf([&] { schedule->Item(csKey); }), kSchedule + ".Add:\r\n");
  EXPECT_EQ(MessageOf([&] { schedule->Find(csKey); }), kSchedule + ".Find:\r\n");
  EXPECT_EQ(MessageOf([&] { schedule->Remove(csKey); }), kSchedule + ".Remove:\r\n");
  auto heats = schedule->Item(u"R1")->Heats();
  EXPECT_EQ(MessageOf([&] { heats->Item(csKey); }), kHeats + ".Add:\r\n");
  EXPECT_EQ(MessageOf([&] { meet.IOs()->Item(uint64_t{1})->IOParams()->Add(csKey); }),
            "D2iVarnox_FT_IOSETUP_IOs_IOParams.Add:\r\n");
  EXPECT_EQ(meet.iosetup.m_IOs.m_Container.GetCount(), 1u);
  EXPECT_EQ(Meet::ByKey(meet.iosetup.m_IOs.m_Container, 1).IOParams.GetCount(), 0u);
  ExpectUnchanged(meet);
}

INSTANTIATE_TEST_SUITE_P(Keys, UnencodableKey,
                         testing::Values(KeyCase{"Cjk", u"東京"}, KeyCase{"Greek", u"Ωmega"},
                                         KeyCase{"LoneSurrogate", std::u16string(1, u'\xD800')},
                                         KeyCase{"Emoji", u"R\U0001F3CA"},
                                         // would travel as "R1", another key
                                         KeyCase{"Nul", std::u16string(u"R1\0x", 4)}),
                         [](const testing::TestParamInfo<KeyCase>& caseInfo) {
                           return std::string(caseInfo.param.csName);
                         });

// Objects made while the file was open and used after it was unloaded.
TEST(UnloadedFile, ObjectsMadeBeforeFailWithTheirMessages) {
  Meet meet;
  Fill(meet);
  auto competitors = meet.Competitors();
  auto competitor = competitors->Item(uint64_t{5});
  auto heats = meet.Schedule()->Item(u"R1")->Heats();
  auto heat = heats->Item(u"H1");
  auto pool = meet.PoolConfig();
  auto poolLanes = pool->Lanes();
  auto laps = heat->LaneResults()->Item(uint64_t{2})->Laps();
  laps->SetLength(1);
  auto times = laps->Item(0)->Time();
  auto defaults = meet.IODefaults();
  defaults->SetLength(1);
  auto parameter = defaults->Item(0);
  meet.UnLoadAll();

  EXPECT_EQ(MessageOf([&] { competitor->Name(); }), kCompetitor + ".Name:\r\n");
  EXPECT_EQ(MessageOf([&] { competitor->set_CategoryId(1); }), kCompetitor + ".CategoryId:\r\n");
  EXPECT_EQ(MessageOf([&] { competitors->GetCount(); }),
            "D2oVarnox_FT_COMPETITORS_CompetitorsStringMap.GetCount:\r\n");
  EXPECT_EQ(MessageOf([&] { heat->HeatId(); }), kHeat + ".HeatId:\r\n");
  EXPECT_EQ(MessageOf([&] { heats->Find(u"H1"); }), kHeats + ".Find:\r\n");
  EXPECT_EQ(MessageOf([&] { pool->NbLanes(); }), "D2oVarnox_FT_GLOBALS_PoolConfig.NbLanes:\r\n");
  EXPECT_EQ(MessageOf([&] { pool->set_Ha1Left(true); }),
            "D2oVarnox_FT_GLOBALS_PoolConfig.Ha1Left:\r\n");
  EXPECT_EQ(MessageOf([&] { poolLanes->Item(uint64_t{1}); }),
            "D2iVarnox_FT_GLOBALS_PoolConfig_Lanes.Add:\r\n");
  EXPECT_EQ(MessageOf([&] { static_cast<void>(times->Item(0)); }), kTime + "[]:\r\n");
  EXPECT_EQ(MessageOf([&] { parameter->Value(); }),
            "D2mVarnox_FT_IOSETUP_IODefaultTypeParams.Value:\r\n");
  // An enumeration of the unloaded map either ends at once or reports its
  // first step; it never reaches an element.
  bool bStepped = false;
  const std::string csStep = MessageOf([&] { bStepped = competitors->GetEnumerator()->MoveNext(); });
  if (csStep == "no exception") {
    EXPECT_FALSE(bStepped);
  } else {
    EXPECT_EQ(csStep, "D2oVarnox_FT_COMPETITORS_CompetitorsStringMap.Head:\r\n");
  }
}

}  // namespace
}  // namespace access_test
