// Index paths and enumeration of the access layer on the reference kernel:
// what a proxy and a nested wrapper keep of the path they were built from,
// the four slots of a level, and the map, record-array and value-array
// enumerations with their edge cases.
#include <gtest/gtest.h>

#include <numeric>
#include <type_traits>
#include <utility>
#include <vector>

#include "tests/access/AccessTestSupport.h"

namespace access_test {
namespace {

const auto* const g_pEnvironment = ::testing::AddGlobalTestEnvironment(new KernelEnvironment());

constexpr uint32_t kMapSlot4 = 0xFFFFFFFF;  // what a map indexer leaves in slot 4

template <class T>
std::shared_ptr<IOrbHandleFixInternUse> PathOf(const std::shared_ptr<T>& pObject) {
  auto pPath = std::dynamic_pointer_cast<IOrbHandleFixInternUse>(pObject);
  if (pPath == nullptr) throw std::logic_error("no path protocol");
  return pPath;
}

uint32_t Handle(Meet& meet, const char* csKey) {
  return meet.NativeSchedule()(D2MapCmd::Find, 0, csKey);
}

// A proxy and a nested wrapper keep the path they were built from while the
// wrappers that made them move on: each level's handle in slot 1, a map
// indexer's 0xFFFFFFFF in slot 4, nothing past the last level; an embedded
// record has no level of its own; each read of a property is a new wrapper.
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
  EXPECT_EQ(heatsPath->GetDeep(), 1);
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
  EXPECT_EQ(lapsPath->GetDeep(), 3);
  EXPECT_EQ(lapsPath->GetHandleOrIndex(3, 1), 1u);
  EXPECT_EQ(lapsPath->GetHandleOrIndex(3, 4), 0u);
  EXPECT_EQ(lapsPath->GetHandleOrIndex(2, 4), kMapSlot4);
  // The value array has no level of its own: its path is its lap's.
  auto times = PathOf(lap->Time());
  EXPECT_EQ(times->GetDeep(), 4);
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
// range. (A whole enumeration is FiveLevelWalk's, in AccessFieldsTest.)
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
