// The member proxies against the bytes the native face reads: one case per
// field kind and per place a field can sit, written through one face and
// read through the other; then a five-level walk both ways. Last, index
// paths and enumeration: what a proxy and a nested wrapper keep of the path
// they were built from, the four slots of a level, and the map, record-array
// and value-array enumerations with their edge cases.
#include <gtest/gtest.h>

#include <climits>
#include <numeric>
#include <type_traits>
#include <utility>
#include <vector>

#include "tests/access/AccessTestSupport.h"

namespace access_test {
namespace {

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment());

constexpr uint64_t kNoValueWord = 0x0000400000000000;  // a time field without a time
constexpr uint64_t kUtcBit = 0x4000000000000000;
constexpr uint64_t kLocalBit = 0x8000000000000000;
constexpr int64_t kTicks = 638712345678901234;  // a day of 2025

KxTime MakeTime(int64_t liTime, KxPrecision precision, bool bNegative) {
  KxTime time(precision);
  time.set_Time(liTime);
  time.set_Negative(bNegative);
  return time;
}

// Each field kind on a meet of its own: what the object face writes the
// native face reads in the same bytes, and back.

// S: dynamic UTF-16 text of a competitor (top level).
TEST(FieldKind, DynamicUtf16) {
  Meet meet;
  auto competitor = meet.Competitors()->Item(uint64_t{7});
  // Walked again at every use: a reservation may move the storage.
  auto native = [&]() -> CkxCompetitor& {
    return Meet::ByKey(meet.competitors.m_CompetitorsStringMap.m_Container, 7);
  };
  const std::u16string csText = u"Zürich 東京 \U0001F3CA";
  competitor->set_Name(csText);
  EXPECT_EQ(NativeText(native().Name), csText);
  for (const std::optional<std::u16string>& empty :
       {std::optional<std::u16string>(), std::optional<std::u16string>(u"")}) {
    competitor->set_Club(u"Club");
    competitor->set_Club(empty);
    EXPECT_EQ(NativeText(native().Club), u"") << (empty ? "empty" : "null");
    EXPECT_EQ(competitor->Club(), u"");
  }
  // Longer than the first reservation: the second write walks again.
  const std::u16string csLong(300, u'ß');
  NativeSetText([&]() -> CkxD2StrDU& { return native().Handicap; }, csLong);
  EXPECT_EQ(competitor->Handicap(), csLong);
  competitor->set_Handicap(csLong + u"!");
  EXPECT_EQ(NativeText(native().Handicap), csLong + u"!");
  EXPECT_EQ(competitor->Nation(), u"") << "a text never written reads empty";
}

// A: dynamic Windows-1252 text of a nested map's record, with its
// character count.
TEST(FieldKind, DynamicAnsi) {
  Meet meet;
  auto param = meet.IOs()->Item(uint64_t{2})->IOParams()->Item(u"Port");
  auto native = [&]() -> CkxD2StrD& {
    return Meet::ByKey(Meet::ByKey(meet.iosetup.m_IOs.m_Container, 2).IOParams, "Port").IOType;
  };
  param->set_IOType(u"Ça coûte 5€");  // 11 characters: NativeText takes the count
  EXPECT_EQ(NativeText(native()),
            "\xC7"
            "a co\xFBte 5\x80");
  param->set_IOType(u"a東b");
  EXPECT_EQ(NativeText(native()), "a?b") << "a character the code page lacks";
  NativeSetText(native, std::string("caf\xE9 \x80\x9D"));
  EXPECT_EQ(param->IOType(), u"café €\u009D");
  param->set_IOType(std::nullopt);
  EXPECT_EQ(NativeText(native()), "");
}

// F: fixed text of 64 characters in a heat's parameter (level 2).
TEST(FieldKind, FixedUtf16) {
  Meet meet;
  auto text = meet.Heat(u"R1", u"H1")->Params()->Item(u"Title");
  auto native = [&]() -> CkxD2StrSU<64>& {
    return Meet::ByKey(meet.NativeHeat("R1", "H1").Params, "Title").str;
  };
  const std::u16string cs64(64, u'é');
  text->set_str(cs64);
  EXPECT_EQ(NativeText(native()), cs64);
  text->set_str(cs64 + u"tail");
  EXPECT_EQ(NativeText(native()), cs64) << "the field keeps 64 characters";
  EXPECT_EQ(text->str(), cs64);
  text->set_str(std::nullopt);
  int iLength = -1;
  native().GetNet(&iLength);
  EXPECT_EQ(iLength, 0);
  EXPECT_EQ(text->str(), u"");
  native().SetNet(u"Finale", 6);
  EXPECT_EQ(text->str(), u"Finale");
}

// I, U and B: 32-bit numbers at both ends, their neighbours kept; a
// boolean byte reads true when not zero and true writes 1.
TEST(FieldKind, NumbersAndBooleans) {
  Meet meet;
  auto pulse = meet.PoolEvents()->Item(uint64_t{9});
  auto& native = Meet::ByKey(meet.pulses.m_PoolEvents.m_Container, 9);
  pulse->set_SeqID(0xFFFFFFFEu);
  pulse->set_LapInitial(INT32_MIN);
  EXPECT_EQ(native.SeqID, 0xFFFFFFFEu);
  EXPECT_EQ(native.LapInitial, INT32_MIN);
  EXPECT_EQ(native.Status, 0) << "the neighbour stays";
  native.SeqID = 0x80000001u;
  native.Lap = -7;
  EXPECT_EQ(pulse->SeqID(), 0x80000001u);
  EXPECT_EQ(pulse->Lap(), -7);

  ByteOf(native.Armed) = 2;
  ByteOf(native.TfTs) = 0;
  EXPECT_TRUE(pulse->Armed());
  EXPECT_FALSE(pulse->TfTs());
  pulse->set_RealPulse(true);
  pulse->set_Armed(false);
  EXPECT_EQ(ByteOf(native.RealPulse), 1);
  EXPECT_EQ(ByteOf(native.Armed), 0);
}

// The pool configuration embedded in a heat (at byte 88 of it), its first and
// last fields, and the single ones at the top of two files.
TEST(FieldKind, PoolConfigurations) {
  Meet meet;
  auto heatPool = meet.Heat(u"R1", u"H1")->PoolConfig();
  auto nativeHeatPool = [&]() -> CkxPoolConfig& { return meet.NativeHeat("R1", "H1").PoolConfig; };
  nativeHeatPool().SamplingRate = 10000;
  EXPECT_EQ(heatPool->SamplingRate(), 10000);
  heatPool->set_NbLanes(8);
  EXPECT_EQ(nativeHeatPool().NbLanes, 8);
  EXPECT_EQ(meet.NativeHeat("R1", "H1").HeatStatus, 0) << "the heat around it stays";

  meet.PoolConfig()->set_StartFinishPlace(-2);
  EXPECT_EQ(meet.globals.m_PoolConfig.m_Container->StartFinishPlace, -2);
  meet.pulses.m_AssociatedPoolConfig.m_Container->PoolLength = 25;
  EXPECT_EQ(meet.PulsesPoolConfig()->PoolLength(), 25);
}

// T: the packed time word, null as exactly the no-value bit.
TEST(FieldKind, Times) {
  Meet meet;
  auto record = meet.Records()->Item(u"WR 50 Free");
  auto native = [&]() -> Sd2KxTime& {
    return Meet::ByKey(meet.globals.m_Records.m_Container, "WR 50 Free").Time;
  };
  record->set_Time(std::nullopt);
  EXPECT_EQ(native().m_uliWord, kNoValueWord);
  EXPECT_EQ(record->Time(), std::nullopt);

  const KxTime negative = MakeTime(123456789, KxPrecision::P7, true);
  record->set_Time(negative);
  EXPECT_EQ(native().Time(), 123456789);
  EXPECT_EQ(native().Precision(), 7u);
  EXPECT_TRUE(native().Negative());
  EXPECT_FALSE(native().IsNull());
  EXPECT_EQ(record->Time(), negative);

  record->set_Time(MakeTime((int64_t{1} << 43) + 5, KxPrecision::P2, false));
  EXPECT_EQ(native().Time(), 5) << "bits above 42 are dropped";
  EXPECT_EQ(record->Time(), MakeTime(5, KxPrecision::P2, false));

  // A lap time one level down.
  auto lapTimes = record->LapTimes();
  lapTimes->SetLength(2);
  lapTimes->Item(1)->set_LapTime(MakeTime(777, KxPrecision::P1, false));
  auto& nativeLaps = Meet::ByKey(meet.globals.m_Records.m_Container, "WR 50 Free").LapTimes;
  EXPECT_EQ(nativeLaps[1].LapTime.m_uliWord, Sd2KxTime::Make(777, 1, false).m_uliWord);
  EXPECT_EQ(lapTimes->Item(0)->LapTime(), MakeTime(0, KxPrecision::P0, false))
      << "the first lap stays as it was";
}

// D: the date-time word; the two top bits give the kind.
TEST(FieldKind, DateTimes) {
  Meet meet;
  auto record = meet.Records()->Item(u"ER 100 Fly");
  auto native = [&]() -> CkxD2DateTime& {
    return Meet::ByKey(meet.globals.m_Records.m_Container, "ER 100 Fly").Date;
  };
  const struct {
    uint64_t uiTopBits;
    OrbDateTimeKind kind;
  } aWords[] = {{0, OrbDateTimeKind::Unspecified},
                {kUtcBit, OrbDateTimeKind::Utc},
                {kLocalBit, OrbDateTimeKind::Local},
                {kUtcBit | kLocalBit, OrbDateTimeKind::Unspecified}};
  for (const auto& word : aWords) {
    native().SetNet(static_cast<int64_t>(word.uiTopBits | kTicks));
    EXPECT_EQ(record->Date(), OrbDateTime(kTicks, word.kind)) << word.uiTopBits;
  }
  for (const auto& word : aWords) {
    if (word.uiTopBits == (kUtcBit | kLocalBit)) continue;  // no value writes both
    record->set_Date(OrbDateTime(kTicks, word.kind));
    EXPECT_EQ(static_cast<uint64_t>(native().GetNet()), word.uiTopBits | kTicks);
  }
  auto entry = meet.Schedule()->Item(u"R1");
  entry->set_DateAndTime(OrbDateTime(1, OrbDateTimeKind::Local));
  EXPECT_EQ(static_cast<uint64_t>(meet.NativeEntry("R1").DateAndTime.GetNet()), kLocalBit | 1);
}

// ---------------------------------------------------------------------------
// Lap times of a lane result of a heat of a schedule entry.

uint32_t LapTime(uint32_t uiLap, uint32_t uiSplit) { return 100000 * (uiLap + 1) + 977 * uiSplit; }

// Entry R1 written through the object face, R0 natively, each read back
// through the other face; a walk taking a wrong level reads the other entry.
TEST(FiveLevelWalk, EachFaceReadsWhatTheOtherWrote) {
  Meet meet;
  auto lanesOf = [&](const char16_t* csEntry) {
    return meet.Schedule()->Item(csEntry)->Heats()->Item(u"H2")->LaneResults();
  };
  for (const char16_t* csEntry : {u"R0", u"R1"}) {
    lanesOf(csEntry)->Item(uint64_t{6});
    lanesOf(csEntry)->Item(uint64_t{5})->Laps()->SetLength(3);
  }
  auto laps = lanesOf(u"R1")->Item(uint64_t{5})->Laps();
  std::vector<uint32_t> aExpected;
  for (uint32_t uiLap = 0; uiLap < 3; ++uiLap) {
    auto times = laps->Item(uiLap)->Time();
    for (uint32_t uiSplit = 0; uiSplit < 8; ++uiSplit) {
      times->set_Item(uiSplit, LapTime(uiLap, uiSplit));
      meet.NativeLane("R0", "H2", 5).Laps[uiLap].Time[uiSplit] = LapTime(uiLap, uiSplit) + 7;
      aExpected.push_back(LapTime(uiLap, uiSplit) + 7);
    }
  }
  for (uint32_t uiLap = 0; uiLap < 3; ++uiLap) {
    for (uint32_t uiSplit = 0; uiSplit < 8; ++uiSplit)
      EXPECT_EQ(meet.NativeLane("R1", "H2", 5).Laps[uiLap].Time[uiSplit], LapTime(uiLap, uiSplit));
  }
  std::vector<uint32_t> aSeen;
  const auto pNativeLaps = lanesOf(u"R0")->Item(uint64_t{5})->Laps();  // kept for the loop
  for (const auto& lap : *pNativeLaps) {
    for (uint32_t uiTime : lap->Time()) aSeen.push_back(uiTime);
  }
  EXPECT_EQ(aSeen, aExpected);

  // The other fields down there: a lane's text, its competitor map, a lap's rank.
  auto lane = lanesOf(u"R1")->Item(uint64_t{5});
  lane->set_LHandicap(u"S9");
  lane->CompetitorId()->Item(uint64_t{11})->set_CompetitorId(1234);
  laps->Item(2)->set_Rank(-3);
  EXPECT_EQ(NativeText(meet.NativeLane("R1", "H2", 5).LHandicap), u"S9");
  EXPECT_EQ(Meet::ByKey(meet.NativeLane("R1", "H2", 5).CompetitorId, 11).CompetitorId, 1234);
  EXPECT_EQ(meet.NativeLane("R1", "H2", 5).Laps[2].Rank, -3);
  meet.NativeLane("R1", "H2", 5).Laps[1].Lap = 2;
  EXPECT_EQ(laps->Item(1)->Lap(), 2);
}

// ---------------------------------------------------------------------------
// Index paths

constexpr uint32_t kMapSlot4 = 0xFFFFFFFF;  // what a map indexer leaves in slot 4

template <class T>
std::shared_ptr<IOrbHandleFixInternUse> PathOf(const std::shared_ptr<T>& pObject) {
  auto pPath = std::dynamic_pointer_cast<IOrbHandleFixInternUse>(pObject);
  if (pPath == nullptr) throw std::logic_error("no path protocol");
  return pPath;
}

uint32_t Handle(Meet& meet, const char* csKey) {
  return meet.races.m_ScheduleEntries.m_Container(D2MapCmd::Find, 0, csKey);
}

// A proxy and a nested wrapper keep the path they were built from while the
// wrappers that made them move on: each level's handle in slot 1, a map
// indexer's 0xFFFFFFFF in slot 4, nothing past the last level; an embedded
// record has no level of its own; each read of a property is a new wrapper.
// (The wrappers' depths are AccessBadInputTest's class table.)
TEST(Paths, ProxiesAndNestedWrappersKeepTheirPathWhenTheirWrapperMovesOn) {
  Meet meet;
  auto schedule = meet.Schedule();
  auto r1 = schedule->Item(u"R1");
  auto r2 = schedule->Item(u"R2");
  EXPECT_EQ(schedule->Item(u"R1")->IEnumCurrentPos(), r1->IEnumCurrentPos());
  EXPECT_EQ(schedule->GetHandleOrIndex(0, 1), Handle(meet, "R1"));
  EXPECT_EQ(schedule->GetHandleOrIndex(0, 4), kMapSlot4);
  r1->set_SortId(1);
  r2->set_SortId(2);
  EXPECT_EQ(meet.NativeEntry("R1").SortId, 1);
  EXPECT_EQ(meet.NativeEntry("R2").SortId, 2);
  EXPECT_EQ(r1->IEnumCurrentPos(), Handle(meet, "R1"));
  EXPECT_EQ(schedule->Item(Handle(meet, "R2"))->SortId(), 2);
  EXPECT_EQ(schedule->GetHandleOrIndex(0, 1), Handle(meet, "R2"));

  auto heats = r1->Heats();
  auto heatsPath = PathOf(heats);
  auto h1 = heats->Item(u"H1");
  const uint32_t uiH1 = meet.NativeEntry("R1").Heats(D2MapCmd::Find, 0, "H1");
  EXPECT_EQ(heatsPath->GetHandleOrIndex(0, 1), Handle(meet, "R1"));
  EXPECT_EQ(heatsPath->GetHandleOrIndex(1, 1), uiH1);
  EXPECT_EQ(heatsPath->GetHandleOrIndex(1, 4), kMapSlot4);
  EXPECT_EQ(heatsPath->GetHandleOrIndex(2, 1), 0u);
  EXPECT_EQ(PathOf(h1)->GetDeep(), 1);
  EXPECT_EQ(h1->IEnumCurrentPos(), uiH1);
  EXPECT_EQ(h1->PoolConfig()->IEnumCurrentPos(), 0u);
  EXPECT_EQ(meet.PoolConfig()->IEnumCurrentPos(), 0u);

  heats->Item(u"H2");
  h1->set_HeatStatus(5);
  EXPECT_EQ(meet.NativeHeat("R1", "H1").HeatStatus, 5);
  EXPECT_EQ(meet.NativeHeat("R1", "H2").HeatStatus, 0);
  EXPECT_EQ(PathOf(h1)->GetHandleOrIndex(1, 1), uiH1);
  schedule->Item(u"R2");
  heats->Item(u"H3");
  EXPECT_EQ(meet.NativeEntry("R1").Heats.GetCount(), 3u);
  EXPECT_EQ(meet.NativeEntry("R2").Heats.GetCount(), 0u);
  auto heatsAgain = r1->Heats();
  EXPECT_NE(heatsAgain, heats);
  heatsAgain->Item(u"H1");
  EXPECT_EQ(heatsPath->GetHandleOrIndex(1, 1),
            meet.NativeEntry("R1").Heats(D2MapCmd::Find, 0, "H3"));
}

TEST(Paths, ArrayIndexersLeaveSlotFourAlone) {
  Meet meet;
  auto defaults = meet.IODefaults();
  defaults->SetLength(3);
  auto second = defaults->Item(2);
  EXPECT_EQ(defaults->GetHandleOrIndex(0, 1), 2u);
  EXPECT_EQ(defaults->GetHandleOrIndex(0, 4), 0u);
  EXPECT_EQ(second->IEnumCurrentPos(), 2u);

  auto laps = meet.Laps(u"R1", u"H1", 4);
  laps->SetLength(2);
  auto lap = laps->Item(1);
  auto lapsPath = PathOf(laps);
  EXPECT_EQ(lapsPath->GetHandleOrIndex(3, 1), 1u);
  EXPECT_EQ(lapsPath->GetHandleOrIndex(3, 4), 0u);
  EXPECT_EQ(lapsPath->GetHandleOrIndex(2, 4), kMapSlot4);
  // The value array has no level of its own: its path is its lap's.
  auto times = PathOf(lap->Time());
  EXPECT_EQ(times->GetHandleOrIndex(3, 1), 1u);
  EXPECT_EQ(times->GetHandleOrIndex(4, 1), 0u);
}

// A depth-1 proxy has levels 0 and 1, slots 1 to 4: outside them a read
// gives 0 and a write changes nothing.
TEST(Paths, SlotsOutsideThePathReadZeroAndAreNotWritten) {
  Meet meet;
  auto heat = meet.Heat(u"R1", u"H1");
  auto path = PathOf(heat);
  for (const auto& [iDeep, iIndex] :
       {std::pair{0, 0}, {0, 5}, {1, -1}, {2, 1}, {-1, 1}, {100, 1}}) {
    SCOPED_TRACE("level " + std::to_string(iDeep) + " slot " + std::to_string(iIndex));
    EXPECT_EQ(path->GetHandleOrIndex(iDeep, iIndex), 0u);
    path->SetHandleOrIndex(iDeep, iIndex, 0, 77);
    EXPECT_EQ(path->GetHandleOrIndex(iDeep, iIndex), 0u);
    EXPECT_EQ(heat->IEnumCurrentPos(), meet.NativeEntry("R1").Heats(D2MapCmd::Find, 0, "H1"));
  }
}

TEST(Paths, CompareAndSetRepairsAHandleInPlace) {
  Meet meet;
  auto schedule = meet.Schedule();
  schedule->Item(u"R2")->set_RoundId(22);
  auto proxy = schedule->Item(u"R1");
  auto path = PathOf(proxy);
  const uint32_t uiR1 = Handle(meet, "R1");
  const uint32_t uiR2 = Handle(meet, "R2");
  path->SetHandleOrIndex(0, 1, uiR1 + 1, uiR2);
  EXPECT_EQ(proxy->IEnumCurrentPos(), uiR1) << "a wrong old value changes nothing";
  path->SetHandleOrIndex(0, 1, uiR1, uiR2);
  EXPECT_EQ(proxy->IEnumCurrentPos(), uiR2);
  EXPECT_EQ(proxy->RoundId(), 22) << "the proxy now walks to R2";
  path->SetHandleOrIndex(0, 3, 0, 9);
  EXPECT_EQ(path->GetHandleOrIndex(0, 3), 9u);
  EXPECT_EQ(proxy->RoundId(), 22) << "slot 3 is carried, not walked";
}

// ---------------------------------------------------------------------------
// Map enumeration

// The positions an enumeration of `range` visits, each checked against the
// wrapper's last reached position. Every other element is kept: the
// enumerator may reuse an element nobody holds, never one that is held, so a
// kept element still stands for its own position when the loop is over.
template <class Range, class Container>
std::vector<uint32_t> VisitAs(Range& range, Container& container) {
  std::vector<uint32_t> aVisited;
  std::vector<std::pair<uint32_t, std::decay_t<decltype(*range.begin())>>> aKept;
  for (const auto& element : range) {
    aVisited.push_back(element->IEnumCurrentPos());
    EXPECT_EQ(container.IEnumCurrentPos(), aVisited.back());
    if (aVisited.size() % 2 == 1) aKept.emplace_back(aVisited.back(), element);
  }
  for (const auto& [uiPos, element] : aKept) EXPECT_EQ(element->IEnumCurrentPos(), uiPos);
  return aVisited;
}

// The same through the wrapper itself (its concrete walk) and through its
// enumerable interface (GetEnumerator): both visit the same positions.
template <class Container>
std::vector<uint32_t> Visit(Container& container) {
  auto& enumerable = static_cast<IOrbEnumerable<typename Container::Element>&>(container);
  std::vector<uint32_t> aVisited = VisitAs(container, container);
  EXPECT_EQ(VisitAs(enumerable, container), aVisited) << "through the interface";
  return aVisited;
}

// An empty map ends at once and stays ended; a filled one is visited in map
// order, ending on position 0, and a Reset starts it again.
TEST(MapEnumeration, VisitsInMapOrderAndStartsAgainAfterReset) {
  Meet meet;
  auto competitors = meet.Competitors();
  auto empty = competitors->GetEnumerator();
  EXPECT_FALSE(empty->MoveNext());
  EXPECT_FALSE(empty->MoveNext());
  EXPECT_TRUE(Visit(*meet.Schedule()->Item(u"R1")->Heats()).empty());
  for (uint64_t uiKey : {uint64_t{40}, uint64_t{1} << 40, uint64_t{3}}) {
    competitors->Item(uiKey)->set_CompetitorId(static_cast<int32_t>(uiKey % 1000));
  }
  auto& native = meet.competitors.m_CompetitorsStringMap.m_Container;
  std::vector<uint32_t> aNativeOrder;
  for (uint32_t h = native(D2MapCmd::Head, 0, nullptr); h != 0;
       h = native(D2MapCmd::Next, h, nullptr))
    aNativeOrder.push_back(h);
  EXPECT_EQ(Visit(*competitors), aNativeOrder);
  EXPECT_EQ(competitors->IEnumCurrentPos(), 0u) << "the last step reached the end";

  auto it = competitors->GetEnumerator();
  while (it->MoveNext()) {
  }
  it->Reset();
  ASSERT_TRUE(it->MoveNext());
  EXPECT_EQ(it->Current()->IEnumCurrentPos(), aNativeOrder.front());
}

// Removing the element an enumeration stands on fails its next step with
// the wrapper's Next message; marking it a delete candidate does not.
TEST(MapEnumeration, RemovingTheCurrentElementFailsTheNextStep) {
  Meet meet;
  auto schedule = meet.Schedule();
  for (const char16_t* csKey : {u"R1", u"R2", u"R3"}) schedule->Item(csKey)->Heats()->Item(u"H1");
  auto heats = schedule->Item(u"R2")->Heats();
  heats->Item(u"H2");

  auto top = schedule->GetEnumerator();
  ASSERT_TRUE(top->MoveNext());
  schedule->RemoveAt(top->Current()->IEnumCurrentPos());
  EXPECT_EQ(MessageOf([&] { top->MoveNext(); }), "D2oVarnox_FT_RACES_ScheduleEntries.Next:\r\n");

  auto nested = heats->GetEnumerator();
  ASSERT_TRUE(nested->MoveNext());
  heats->Remove(heats->GetKey(nested->Current()->IEnumCurrentPos()));
  EXPECT_EQ(MessageOf([&] { nested->MoveNext(); }),
            "D2iVarnox_FT_RACES_ScheduleEntries_Heats.Next:\r\n");
  EXPECT_EQ(schedule->GetCount(), 2);
  EXPECT_EQ(heats->GetCount(), 1);
}

TEST(MapEnumeration, ADeleteCandidateKeepsTheEnumerationGoing) {
  Meet meet;
  auto events = meet.PoolEvents();
  for (uint64_t uiKey = 1; uiKey <= 4; ++uiKey)
    events->Item(uiKey)->set_Lap(static_cast<int32_t>(uiKey));
  int iVisited = 0;
  for (const auto& event : *events) {
    events->SetDeleteCandidate(event->IEnumCurrentPos(), 1);
    EXPECT_EQ(events->SetDeleteCandidate(event->IEnumCurrentPos(), -1), 1) << "a delete candidate";
    EXPECT_FALSE(events->IsAlive(event->IEnumCurrentPos()));
    ++iVisited;
  }
  EXPECT_EQ(iVisited, 4);
  EXPECT_EQ(events->GetCount(), 4);
}

// ---------------------------------------------------------------------------
// Array enumeration

std::vector<uint32_t> Indexes(uint32_t uiFrom, uint32_t uiTo) {
  std::vector<uint32_t> a(uiTo - uiFrom + 1);
  std::iota(a.begin(), a.end(), uiFrom);
  return a;
}

// The same range over the top-level array and over a nested record array.
TEST(ArrayEnumeration, VisitsTheIndexesOfTheRange) {
  const std::tuple<int32_t, int32_t, uint32_t, std::vector<uint32_t>> aCases[] = {
      {2, 5, 10, {2, 3, 4, 5}},
      {5, 2, 10, {5, 4, 3, 2}},
      {3, -1, 10, Indexes(3, 9)},
      {2, 20, 10, Indexes(2, 9)},
      {12, -1, 10, {}},
      {12, 3, 10, {}},
      {1, 0, 10, {1, 0}},
      {9, 9, 10, {9}},
      {-1, -1, 10, Indexes(0, 9)},
      {-1, -1, 0, {}},
      {0, -1, 0, {}},
      {-1, 5, 1, {0}}};
  for (const auto& [iStart, iEnd, uiLength, aVisited] : aCases) {
    SCOPED_TRACE("range (" + std::to_string(iStart) + ", " + std::to_string(iEnd) + ") over " +
                 std::to_string(uiLength));
    Meet meet;
    auto defaults = meet.IODefaults();
    auto laps = meet.Laps(u"R1", u"H1", 1);
    defaults->SetLength(uiLength);
    laps->SetLength(uiLength);
    ASSERT_EQ(defaults->GetLength(0), uiLength);
    ASSERT_EQ(laps->GetLength(7), uiLength) << "the dimension is not used";
    defaults->ForeachRange(iStart, iEnd);
    laps->ForeachRange(iStart, iEnd);
    EXPECT_EQ(Visit(*defaults), aVisited) << "top-level";
    EXPECT_EQ(Visit(*laps), aVisited) << "nested";
  }
}

// Reset writes the clamped end into the wrapper: the range keeps it when the
// array grows, until the range is set again.
TEST(ArrayEnumeration, TheClampedEndStaysOnTheWrapper) {
  Meet meet;
  auto defaults = meet.IODefaults();
  defaults->SetLength(10);
  defaults->ForeachRange(3, -1);
  EXPECT_EQ(Visit(*defaults), Indexes(3, 9));
  defaults->SetLength(12);
  EXPECT_EQ(Visit(*defaults), Indexes(3, 9));
  defaults->ForeachRange(-1, -1);
  EXPECT_EQ(Visit(*defaults), Indexes(0, 11));
}

// The values a range-for over `range` visits.
template <class Range>
auto Collect(Range& range) {
  std::vector<std::decay_t<decltype(*range.begin())>> a;
  for (const auto& value : range) a.push_back(value);
  return a;
}

// A fixed value array (8 lap times) has its fixed length whatever the
// argument of GetLength and enumerates over a range; a new wrapper has no
// range. (A whole enumeration is FiveLevelWalk's, above.)
TEST(ValueArrays, EnumerateTheirFixedLengthOverARange) {
  Meet meet;
  auto laps = meet.Laps(u"R1", u"H1", 1);
  laps->SetLength(1);
  for (uint32_t i = 0; i < 8; ++i) meet.NativeLane("R1", "H1", 1).Laps[0].Time[i] = 1000 + i;

  auto times = laps->Item(0)->Time();
  EXPECT_EQ(times->GetLength(7), 8u);
  times->ForeachRange(7, 5);
  EXPECT_EQ(Collect(*times), (std::vector<uint32_t>{1007, 1006, 1005}));
  EXPECT_EQ(times->IEnumCurrentPos(), 5u);
  auto again = laps->Item(0)->Time();
  EXPECT_EQ(Collect(*again).size(), 8u) << "a new wrapper has no range";
}

}  // namespace
}  // namespace access_test
