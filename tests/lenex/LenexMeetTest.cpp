// LENEX import and export through the object face, on the reference kernel:
// one small document per mapping rule read back through the proxies, the
// round trip (import, time, export, import the export, export again), the
// re-import of a changed start list, the refusals (each naming what is
// wrong and leaving the saved files byte for byte), and the tool.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>

#include "contracts/kernel/KxText.h"
#include "lenex/LenexMapping.h"
#include "lenex/LenexMeet.h"
#include "tests/kernel/KernelTestSupport.h"
#include "tests/lenex/LenexTestDocument.h"

namespace {

using namespace Varnox::Lenex;
using namespace Varnox::Lenex::Testing;
namespace V = Tarvex::Orb::Data::Varnox;

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment());

std::string Utf8(std::u16string_view text) { return KxText::Utf16ToUtf8(text); }
std::u16string U16(std::string_view text) { return KxText::Utf8ToUtf16(text); }

// `csText` written to `path`.
std::filesystem::path WriteText(const std::filesystem::path& path, const std::string& csText) {
  Spit(path, csText);
  return path;
}

ImportReport Import(const std::filesystem::path& dir, const std::string& csLef) {
  return LenexImportFiles(dir, WriteText(dir / "in.lef", csLef));
}

std::string Export(const std::filesystem::path& dir) {
  LenexExportFiles(dir, dir / "out.lef");
  return Slurp(dir / "out.lef");
}

// The meet's three files, opened for the test's own reads and writes.
struct Opened {
  explicit Opened(const std::filesystem::path& dir, const char16_t* csMode = u"r") {
    const MeetPaths paths = MeetPaths::In(dir);
    files.competitors = Open<V::D2fVarnox_FT_COMPETITORS>(paths.competitors, csMode);
    files.globals = Open<V::D2fVarnox_FT_GLOBALS>(paths.globals, csMode);
    files.races = Open<V::D2fVarnox_FT_RACES>(paths.races, csMode);
  }
  ~Opened() { CloseMeetFiles(files); }
  template <class F>
  static std::shared_ptr<F> Open(const std::filesystem::path& path, const char16_t* csMode) {
    auto pFile = F::Create();
    EXPECT_GT(pFile->Open(U16(path.string()), std::nullopt, std::nullopt, csMode, u"", false,
                          nullptr, 0, 0),
              0)
        << path;
    return pFile;
  }
  void Save() { ASSERT_TRUE(files.races->Save(0, true, std::nullopt)); }
  MeetFiles files;
};

template <class K, class I>
std::shared_ptr<I> Get(Tarvex::Orb::DataDirectAcces::IOrbMap<K, I>& map, const K& key) {
  const uint32_t hPos = map.Find(key);
  if (hPos == 0) throw std::runtime_error("no element under the key");
  return map.Item(hPos);
}

std::shared_ptr<V::Id2sCkxCompOneHeat> HeatOf(Opened& meet, const char16_t* csEvent,
                                              const char16_t* csHeat) {
  const auto pEntry = Get(*meet.files.races->ScheduleEntries(), std::u16string(csEvent));
  return Get(*pEntry->Heats(), std::u16string(csHeat));
}

std::string DefaultText(Tarvex::Orb::DataDirectAcces::IOrbMap<uint64_t, V::Id2sCkxCategory>& map,
                        int32_t iKey) {
  return Utf8(Get(map, static_cast<uint64_t>(iKey))->CategoryAbbrev());
}

// --- the rules both ways ---------------------------------------------------------

// Export must read back what import wrote: names split as they were joined,
// categories parsed as they were written.
struct InverseCase {
  const char* csFirst;
  const char* csLast;
  const char* csPrefix;
  Mapping::CategoryForm category;
};

const InverseCase kInverses[] = {
    {"Anna", "Keller", "", {Gender::kFemale, -1, -1}},
    {"Anna Maria", "Keller", "", {Gender::kFemale, 12, 14}},
    {"Eva", "Dijk", "van", {Gender::kMale, 15, -1}},
    {"Maria", "García López", "", {Gender::kMixed, -1, 10}},
    {"", "Keller", "", {Gender::kAll, 0, 99}},
};

TEST(LenexMapping, ExportReadsBackWhatImportWrites) {
  for (const InverseCase& c : kInverses) {
    const Mapping::PersonName name =
        Mapping::SplitName(Mapping::JoinName(c.csFirst, c.csLast, c.csPrefix));
    EXPECT_EQ(name.first, c.csFirst);
    EXPECT_EQ(name.last, std::string(c.csPrefix) + (*c.csPrefix ? " " : "") + c.csLast);
    EXPECT_EQ(Mapping::ParseCategory(Mapping::CategoryAbbrevOf(c.category), ""), c.category);
    EXPECT_EQ(Mapping::ParseCategory("", Mapping::CategoryWordOf(c.category)), c.category);
  }
}

TEST(LenexMapping, StableIdsKeepCanonicalIdsAndMoveClashes) {
  const int32_t iHash = Mapping::HashedId("R1");
  const std::vector<std::string> ids = {"R1", "E" + std::to_string(iHash), "E07", "E7"};
  EXPECT_EQ(Mapping::StableIds(ids, 'E'),
            (std::vector<int32_t>{iHash + 1, iHash, Mapping::HashedId("E07"), 7}));
}

// --- the mapping rules, one document each -----------------------------------

struct RuleCase {
  const char* csName;
  std::map<std::string, std::string> fills;
  // What the files hold that the rule decides, read through the object face.
  std::function<std::string(Opened&)> probe;
  std::string csExpected;
};

std::string CompetitorProbe(Opened& meet, int iId) {
  const auto pCompetitor =
      Get(*meet.files.competitors->CompetitorsStringMap(), static_cast<uint64_t>(iId));
  return Utf8(pCompetitor->Name()) + "|" + Utf8(pCompetitor->Club()) + "|" +
         Utf8(pCompetitor->BirthYear()) + "|" + Utf8(pCompetitor->Nation()) + "|" +
         DefaultText(*meet.files.globals->CategoriesDefault(), pCompetitor->CategoryId());
}

std::string EventProbe(Opened& meet, const char16_t* csEvent) {
  const auto pEntry = Get(*meet.files.races->ScheduleEntries(), std::u16string(csEvent));
  const auto pGlobals = meet.files.globals;
  const auto pStyle = Get(*pGlobals->StylesDefault(), static_cast<uint64_t>(pEntry->StyleId()));
  const auto pDistance =
      Get(*pGlobals->DistancesDefault(), static_cast<uint64_t>(pEntry->DistanceId()));
  const auto pRound = Get(*pGlobals->RoundsDefault(), static_cast<uint64_t>(pEntry->RoundId()));
  const int64_t liTicks = pEntry->DateAndTime().Ticks();
  return Utf8(pStyle->StyleAbbrev()) + "|" + std::to_string(pDistance->Distance()) + "x" +
         std::to_string(pDistance->NbOfRelays()) + "|" + Utf8(pRound->ShortRoundName()) + "|" +
         DefaultText(*pGlobals->CategoriesDefault(), pEntry->CategoryId()) + "|" +
         FormatDate(Mapping::DateOfTicks(liTicks)) + " " +
         FormatDaytime(Mapping::DaytimeOfTicks(liTicks)) + "|" +
         Utf8(Get(*pEntry->Params(), std::u16string(u"Session"))->str()) + "|" +
         Utf8(pEntry->TitlePrint());
}

// A lane as its competitors ("key:id", in key order, joined by commas), its
// status, current lap and laps.
std::string LaneProbe(Opened& meet, const char16_t* csEvent, const char16_t* csHeat, int iLane) {
  const auto pLane =
      Get(*HeatOf(meet, csEvent, csHeat)->LaneResults(), static_cast<uint64_t>(iLane));
  const auto pIds = pLane->CompetitorId();
  std::map<uint64_t, int32_t> ids;
  for (uint32_t hPos = pIds->Head(); hPos != 0; hPos = pIds->Next(hPos))
    ids[pIds->GetKey(hPos)] = pIds->Item(hPos)->CompetitorId();
  std::string csIds, csLaps;
  for (const auto& [uiKey, iId] : ids)
    csIds += (csIds.empty() ? "" : ",") + std::to_string(uiKey) + ":" + std::to_string(iId);
  const auto pLaps = pLane->Laps();
  for (uint32_t i = 0; i < pLaps->GetLength(0); ++i)
    csLaps += " " + std::to_string(pLaps->Item(i)->Lap()) + ":" +
              std::to_string(pLaps->Item(i)->Time()->Item(0));
  const auto pStatus =
      Get(*meet.files.globals->StatusDefaults(), static_cast<uint64_t>(pLane->StatusId()));
  return csIds + "|" + Utf8(pStatus->StatusDescAbbrev()) + "|" +
         std::to_string(pLane->CurrentLap()) + "|" + csLaps;
}

const RuleCase kRules[] = {
    {"MeetAndPool",
     {{"POOL", "8"}},
     [](Opened& meet) {
       const auto pPool = meet.files.globals->PoolConfig();
       const auto pParams = meet.files.globals->Parameters();
       return Utf8(Get(*pParams, std::u16string(u"MeetName"))->Value()) + "|" +
              Utf8(Get(*pParams, std::u16string(u"Course"))->Value()) + "|" +
              std::to_string(pPool->PoolLength()) + "|" + std::to_string(pPool->NbLanes()) + "|" +
              std::to_string(pPool->Lanes()->GetCount());
     },
     "Spring Open|SCM|25|8|8"},
    {"NewMeetWithoutPool",
     {{"POOL", "-"}, {"LANE", "4"}},
     [](Opened& meet) { return std::to_string(meet.files.globals->PoolConfig()->NbLanes()); },
     "4"},
    {"AthleteToCompetitor",
     {},
     [](Opened& meet) { return CompetitorProbe(meet, 7); },
     "Anna Keller|SC Basel|2012|SUI|F12-14"},
    {"LastNameWithSpaceAndUnattached",
     {{"RELAYS", R"(</CLUB><CLUB type="UNATTACHED"><ATHLETES>
        <ATHLETE athleteid="8" lastname="Dijk" nameprefix="van" firstname="Eva" gender="F" birthdate="2011-01-01"/>
        </ATHLETES>)"}},
     [](Opened& meet) { return CompetitorProbe(meet, 8); },
     "van Dijk, Eva||2011||F"},
    {"EventToScheduleEntry",
     {},
     [](Opened& meet) { return EventProbe(meet, u"E10"); },
     "FR|100x0|P|F12-14|2026-03-14 09:30|1|Women 12-14 100 m Freestyle Heats"},
    {"RelayEventAndUnknownStroke",
     {{"EVENTS", R"(<EVENT eventid="11" number="2" gender="X">
              <SWIMSTYLE distance="50" relaycount="4" stroke="UNKNOWN" name="Fin swimming"/>
              <HEATS><HEAT heatid="110" number="1"/></HEATS></EVENT>)"}},
     [](Opened& meet) { return EventProbe(meet, u"E11"); },
     "Fin sw|200x4|T|X|2026-03-14 09:00|1|Mixed 4x50 m Fin swimming Timed final"},
    {"EntryToLane",
     {},
     [](Opened& meet) {
       const auto pHeat = HeatOf(meet, u"E10", u"H100");
       return LaneProbe(meet, u"E10", u"H100", 3) + "|" +
              Utf8(Get(*pHeat->Params(), std::u16string(u"EntryTime.3"))->str()) + "|" +
              Utf8(Get(*pHeat->Params(), std::u16string(u"Final"))->str()) + "|" +
              std::to_string(pHeat->PoolConfig()->NbLanes()) + "|" +
              std::to_string(pHeat->PoolConfig()->Lanes()->GetCount()) + "|" +
              std::to_string(Get(*pHeat->PoolConfig()->Lanes(), uint64_t{6})->m_LaneID());
     },
     "7:7|OK|0||00:01:05.20|A|6|6|6"},
    {"ResultToLaps",
     {{"ATHLETES",
       R"(<ATHLETE athleteid="9" lastname="Roth" firstname="Mia" gender="F" birthdate="2012-01-01">
         <RESULTS><RESULT resultid="1" eventid="10" heatid="100" lane="5" swimtime="00:01:04.00" status="EXH">
           <SPLITS><SPLIT distance="25" swimtime="00:00:14.50"/><SPLIT distance="75" swimtime="00:00:47.00"/></SPLITS>
         </RESULT></RESULTS></ATHLETE>)"}},
     [](Opened& meet) { return LaneProbe(meet, u"E10", u"H100", 5); },
     "9:9|EXH|3| 1:1450 3:4700 4:6400"},
    // Lanes from 64 on are found through another table than the lanes below.
    {"ResultToAnEnteredLaneFrom64",
     {{"POOL", "-"},
      {"LANE", "70"},
      {"ATHLETES",
       R"(<ATHLETE athleteid="9" lastname="Roth" firstname="Mia" gender="F" birthdate="2012-01-01">
         <RESULTS><RESULT resultid="1" eventid="10" heatid="100" lane="70" swimtime="00:01:04.00" status="EXH"/>
         </RESULTS></ATHLETE>)"}},
     [](Opened& meet) { return LaneProbe(meet, u"E10", u"H100", 70); },
     "7:7|EXH|1| 4:6400"},
    {"RelayEntryToLegs",
     {{"EVENTS",
       R"(<EVENT eventid="11" number="2"><SWIMSTYLE distance="50" relaycount="2" stroke="FREE"/>
              <HEATS><HEAT heatid="110" number="1"/></HEATS></EVENT>)"},
      {"ATHLETES",
       R"(<ATHLETE athleteid="8" lastname="Roth" firstname="Mia" gender="F" birthdate="2012-01-01"/>)"},
      {"RELAYS",
       R"(<RELAYS><RELAY gender="F" agemin="-1" agemax="-1" agetotalmin="-1" agetotalmax="-1">
          <ENTRIES><ENTRY eventid="11" heatid="110" lane="2" status="WDR"><RELAYPOSITIONS>
            <RELAYPOSITION number="2" athleteid="7"/><RELAYPOSITION number="1" athleteid="8"/>
            <RELAYPOSITION number="-1" athleteid="7"/>
          </RELAYPOSITIONS></ENTRY></ENTRIES></RELAY></RELAYS>)"}},
     [](Opened& meet) { return LaneProbe(meet, u"E11", u"H110", 2); },
     "1:8,2:7|WDR|0|"},
    {"RecordList",
     {{"LISTS", R"(<RECORDLISTS>
        <RECORDLIST name="Swiss records" course="SCM" gender="F" type="SUI"><AGEGROUP agemin="15" agemax="-1"/>
          <RECORDS><RECORD swimtime="00:00:52.10">
            <SWIMSTYLE distance="100" relaycount="1" stroke="FREE"/>
            <ATHLETE lastname="Keller" firstname="Anna" gender="F"/>
            <MEETINFO city="Zurich" nation="SUI" date="2025-12-01"/>
            <SPLITS><SPLIT distance="50" swimtime="00:00:25.30"/></SPLITS>
          </RECORD></RECORDS></RECORDLIST>
        <RECORDLIST name="World" course="LCM" gender="F" type="WR"><RECORDS/></RECORDLIST>
      </RECORDLISTS>)"}},
     [](Opened& meet) {
       const auto pRecords = meet.files.globals->Records();
       std::string csKeys;
       for (uint32_t hPos = pRecords->Head(); hPos != 0; hPos = pRecords->Next(hPos))
         csKeys += Utf8(pRecords->GetKey(hPos)) + " ";
       const auto pRecord = pRecords->Item(pRecords->Head());
       std::string csLaps;
       for (uint32_t i = 0; i < pRecord->LapDistances()->GetLength(0); ++i)
         csLaps += std::to_string(pRecord->LapDistances()->Item(i)->LapDistance()) + ":" +
                   std::to_string(pRecord->LapTimes()->Item(i)->LapTime()->Time()) + " ";
       return csKeys + "|" + std::to_string(pRecord->idRec()) + "|" +
              DefaultText(*meet.files.globals->CategoriesDefault(), pRecord->idCat()) + "|" +
              Utf8(pRecord->Name()) + "|" + Utf8(pRecord->Place()) + "|" + csLaps;
     },
     "R4-C2-D100-S1 |4|F15-|Anna Keller|Zurich|50:2530 100:5210 "},
};

class LenexRule : public ::testing::TestWithParam<RuleCase> {};

TEST_P(LenexRule, ImportsThroughTheObjectFace) {
  const RuleCase& rule = GetParam();
  const std::filesystem::path dir = FreshDir(rule.csName);
  Import(dir, StartList(rule.fills));
  Opened meet(dir);
  EXPECT_EQ(rule.probe(meet), rule.csExpected);
}

INSTANTIATE_TEST_SUITE_P(Rules, LenexRule, ::testing::ValuesIn(kRules),
                         [](const auto& testInfo) { return std::string(testInfo.param.csName); });

// --- round trip -------------------------------------------------------------------

// Times lane `iLane` of heat H100 through the object face: a lap a length,
// running totals of `iLapTime` hundredths each.
void TimeLane(Opened& meet, int iLane, int iLaps, uint32_t uiLapTime) {
  const auto pLane =
      Get(*HeatOf(meet, u"E10", u"H100")->LaneResults(), static_cast<uint64_t>(iLane));
  const auto pLaps = pLane->Laps();
  for (int iLap = 1; iLap <= iLaps; ++iLap) {
    const auto pLap = pLaps->Item(pLaps->Add());
    pLap->set_Lap(iLap);
    pLap->Time()->set_Item(0, uiLapTime * static_cast<uint32_t>(iLap));
  }
  pLane->set_CurrentLap(iLaps);
}

TEST(LenexRoundTrip, ExportOfAnImportedExportIsTheSame) {
  const std::filesystem::path first = FreshDir("first");
  Import(first, StartList({{"ATHLETES", kSecondSwimmer}}));
  {
    Opened meet(first, u"rw");
    TimeLane(meet, 3, 4, 1500);  // 25 m laps, 1:00.00
    TimeLane(meet, 4, 4, 1500);  // a tie
    meet.Save();
  }
  const std::string csExport = Export(first);
  const Document document = ReadLef(csExport);
  const Athlete& anna = document.meets.at(0).clubs.at(0).athletes.at(0);
  ASSERT_EQ(anna.results.size(), 1u);
  EXPECT_EQ(anna.results[0].swimTime, SwimTime::Of(6000));
  EXPECT_EQ(anna.results[0].splits, (std::vector<Split>{{25, SwimTime::Of(1500), {}},
                                                        {50, SwimTime::Of(3000), {}},
                                                        {75, SwimTime::Of(4500), {}}}));
  const auto& rankings = document.meets[0].sessions.at(0).events.at(0).ageGroups.at(0).rankings;
  ASSERT_EQ(rankings.size(), 2u);
  EXPECT_EQ(rankings[0].place, 1);
  EXPECT_EQ(rankings[1].place, 1);

  const std::filesystem::path second = FreshDir("second");
  Import(second, csExport);
  EXPECT_EQ(Export(second), csExport);
}

// --- re-import -----------------------------------------------------------------------

// Anna moves to lane 2 under a new name (lane 3, untimed, goes), Mia's result
// replaces the laps of lane 4 whole (fewer laps, backup timers cleared), Lea
// is no longer on the list (lane 5 stays for its times).
TEST(LenexReimport, UpdatesWhatItNamesAndKeepsTimedLanes) {
  const std::filesystem::path dir = FreshDir("reimport");
  const std::string csLea =
      R"(<ATHLETE athleteid="9" lastname="Roth" firstname="Lea" gender="F" birthdate="2012-01-01">
  <ENTRIES><ENTRY eventid="10" heatid="100" lane="5" agegroupid="1"/></ENTRIES></ATHLETE>)";
  Import(dir, StartList({{"ATHLETES", kSecondSwimmer + csLea}}));
  const auto firstLap = [](Opened& meet) {
    return Get(*HeatOf(meet, u"E10", u"H100")->LaneResults(), uint64_t{4})->Laps()->Item(0);
  };
  {
    Opened meet(dir, u"rw");
    TimeLane(meet, 4, 6, 1000);
    firstLap(meet)->Time()->set_Item(1, 999);
    TimeLane(meet, 5, 2, 1600);
    meet.Save();
  }
  const std::string csMia =
      R"(<ATHLETE athleteid="8" lastname="Roth" firstname="Mia" gender="F" birthdate="2012-01-01">
    <RESULTS><RESULT resultid="1" eventid="10" heatid="100" lane="4" swimtime="00:01:04.00">
      <SPLITS><SPLIT distance="25" swimtime="00:00:14.50"/></SPLITS></RESULT></RESULTS></ATHLETE>)";
  const ImportReport report = Import(
      dir, Replaced(StartList({{"LANE", "2"}, {"ATHLETES", csMia}}), "Keller", "Keller-Roth"));
  EXPECT_EQ(report.keptLanes, std::vector<std::string>{"E10/H100 lane 5"});
  Opened meet(dir);
  EXPECT_EQ(meet.files.competitors->CompetitorsStringMap()->GetCount(), 3);
  EXPECT_EQ(CompetitorProbe(meet, 7), "Anna Keller-Roth|SC Basel|2012|SUI|F12-14");
  EXPECT_EQ(meet.files.races->ScheduleEntries()->GetCount(), 1);
  EXPECT_EQ(Get(*meet.files.races->ScheduleEntries(), std::u16string(u"E10"))->Heats()->GetCount(),
            1);
  const auto pHeat = HeatOf(meet, u"E10", u"H100");
  EXPECT_EQ(pHeat->LaneResults()->GetCount(), 3);  // lanes 2, 4 and 5
  EXPECT_EQ(LaneProbe(meet, u"E10", u"H100", 2), "7:7|OK|0|");
  EXPECT_EQ(pHeat->LaneResults()->Find(uint64_t{3}), 0u);
  EXPECT_EQ(LaneProbe(meet, u"E10", u"H100", 4), "8:8|OK|2| 1:1450 4:6400");
  EXPECT_EQ(firstLap(meet)->Time()->Item(1), 0u);
}

// --- refusals ----------------------------------------------------------------------

struct RefusalCase {
  const char* csName;
  std::string csDocument;
  std::string csMessage;  // what the error says, element, attribute and line included
  bool bNewMeet = false;  // into an empty folder, else into a meet of six lanes
};

const RefusalCase kRefusals[] = {
    // The import's own refusals (the reader's are the document tests').
    {"SplitOffTheLapEnds",
     StartList(
         {{"ATHLETES",
           R"(<ATHLETE athleteid="9" lastname="Roth" firstname="Mia" gender="F" birthdate="2012-01-01">
         <RESULTS><RESULT resultid="1" eventid="10" heatid="100" lane="5" swimtime="00:01:04.00">
           <SPLITS><SPLIT distance="30" swimtime="00:00:14.50"/></SPLITS></RESULT></RESULTS></ATHLETE>)"}}),
     "line 25, SPLIT attribute distance: a split at 30 m is no lap end of the heat's 25 m pool"},
    {"AnotherKindOfDocument",
     R"(<?xml version="1.0"?><LENEX version="3.0"><CONSTRUCTOR registration="x" version="1"><CONTACT email="a@b.c"/></CONSTRUCTOR></LENEX>)",
     "another kind of document"},
    // A new meet's pool is lane 1 to the largest lane used, known only at the end.
    {"LaneBelowANewMeetsPool", StartList({{"POOL", "-"}, {"LANE", "0"}}),
     "line 22, ENTRY attribute lane: lane 0 is outside the pool (expected a lane from 1 to 1)",
     true},
};

class LenexRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(LenexRefusal, NamesTheFaultAndLeavesTheFilesAsTheyWere) {
  const RefusalCase& refusal = GetParam();
  const std::filesystem::path dir = FreshDir(refusal.csName);
  if (!refusal.bNewMeet) Import(dir, StartList({{"POOL", "6"}}));
  const auto files = [paths = MeetPaths::In(dir)] {
    return std::vector{Slurp(paths.competitors), Slurp(paths.globals), Slurp(paths.races)};
  };
  const auto before = files();
  try {
    Import(dir, refusal.csDocument);
    ADD_FAILURE() << "the document was imported";
  } catch (const LenexError& e) {
    EXPECT_NE(std::string(e.what()).find(refusal.csMessage), std::string::npos) << e.what();
  }
  EXPECT_EQ(files(), before);
}

INSTANTIATE_TEST_SUITE_P(Documents, LenexRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& testInfo) { return std::string(testInfo.param.csName); });

// --- the tool ------------------------------------------------------------------------

#ifdef VARNOX_TOOL
TEST(LenexTool, ImportsAndExports) {
  const std::filesystem::path dir = FreshDir("tool");
  const auto lenex = [&](const std::string& csCommand, const std::filesystem::path& file) {
    const std::string csTool = VARNOX_TOOL;
    return std::system((csTool + " lenex " + csCommand + " " + dir.string() + " " + file.string() +
                        " > /dev/null 2>&1")
                           .c_str());
  };
  ASSERT_EQ(lenex("import", WriteText(dir / "start.lef", StartList())), 0);
  ASSERT_EQ(lenex("export", dir / "out.lxf"), 0);
  const Document document = ReadLenexFile(dir / "out.lxf");
  EXPECT_EQ(document.meets.at(0).clubs.at(0).athletes.at(0).entries.at(0).lane, 3);
  EXPECT_NE(lenex("import", WriteText(dir / "bad.lef", StartList({{"LANE", "9"}}))), 0);
}
#endif

}  // namespace
