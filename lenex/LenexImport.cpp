// A LENEX document into the files (docs/lenex.md). Two stages: staging
// reads what it needs of the files and builds the whole change in memory,
// checking everything a write could trip over and refusing with LenexError
// (ImportLef stages each athlete as the reader hands it over, ImportDocument
// from a document read before); Apply then writes the staged change and
// checks nothing: the global settings through the object face, the
// competitors and races in bulk through the native records. So a refused
// document changes nothing.
#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <set>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include "access/OrbFields.h"
#include "access/OrbGuard.h"
#include "lenex/LenexFace.h"
#include "lenex/LenexIdMap.h"
#include "lenex/LenexMapping.h"

namespace Varnox::Lenex {

namespace {

using namespace Face;
using namespace Mapping;
namespace V = Tarvex::Orb::Data::Varnox;
using Tarvex::Orb::KxPrecision;
using Tarvex::Orb::KxTime;
using Tarvex::Orb::DataDirectAcces::OrbDateTime;
using Tarvex::Orb::DataDirectAcces::OrbDateTimeKind;
using Tarvex::Orb::DataDirectAcces::OrbField;
using Tarvex::Orb::DataDirectAcces::OrbGuarded;
using Tarvex::Orb::DataDirectAcces::OrbKernelException;

// --- the staged change ---------------------------------------------------------

// A lane's competitors as (key, athlete id), and its laps as (lap,
// hundredths) by lap, lie in two vectors of the importer (the lanes' lists
// end to end): ten thousand lanes then cost no allocation each.
using CompetitorRef = std::pair<uint64_t, int32_t>;
using LapTime = std::pair<int32_t, uint32_t>;

// A stretch of one of those vectors.
struct Range {
  uint32_t uiFirst = 0;
  uint32_t uiCount = 0;
};

struct LanePlan {
  int32_t iLane = 0;
  Range competitors;
  std::optional<std::string> entryTime;
  uint64_t uiStatusKey = 0;
  bool bResult = false;  // laps given: they replace the lane's
  Range laps;
};

struct HeatPlan {
  std::string csKey;
  int32_t iSortId = 0;
  std::optional<int32_t> status;
  std::optional<std::string> final;
  bool bExists = false;
  int32_t iPoolLength = 0;
  int32_t iRaceDistance = 0;    // its event's
  std::vector<LanePlan> lanes;  // by lane once staged (SortLanes)
  // Lanes 0 to 63 as 1 + their index in `lanes` (0: not staged), kept in
  // the heat that LaneOf reads anyway; other lanes are in m_LaneIndex.
  std::array<uint8_t, 64> laneSlots{};

  bool Names(int32_t iLane) const {
    const auto it =
        std::lower_bound(lanes.begin(), lanes.end(), iLane,
                         [](const LanePlan& lane, int32_t i) { return lane.iLane < i; });
    return it != lanes.end() && it->iLane == iLane;
  }
};

// Sets lap `iLap`'s time in `laps` (by lap), replacing one given before.
void SetLap(std::vector<LapTime>& laps, int32_t iLap, uint32_t uiTime) {
  const auto it = std::lower_bound(laps.begin(), laps.end(), iLap,
                                   [](const LapTime& lap, int32_t i) { return lap.first < i; });
  if (it != laps.end() && it->first == iLap)
    it->second = uiTime;
  else
    laps.emplace(it, iLap, uiTime);
}

// The value under `iId` in `map`; an id the document's checks let through
// unknown (a document built in memory is not checked) throws.
template <class Value>
Value& At(Detail::IdMap<Value>& map, int32_t iId) {
  Value* pValue = map.Find(iId);
  if (pValue == nullptr)
    throw std::out_of_range("LENEX import: id " + std::to_string(iId) + " is unknown");
  return *pValue;
}

struct EventPlan {
  std::string csKey;
  int32_t iSortId = 0;
  uint64_t uiStyle = 0, uiDistance = 0, uiCategory = 0, uiRound = 0;
  int32_t iRaceDistance = 0;
  int64_t liTicks = 0;
  std::string csSession;
  std::string csTitle;
  std::vector<HeatPlan> heats;
};

struct CompetitorPlan {
  int32_t iId = 0;
  std::string csName, csNation, csBirthYear, csClub;
  uint64_t uiCategory = 0;
};

struct RecordPlan {
  std::string csKey;
  int32_t idRec = 0, idCat = 0, idLen = 0, idStyle = 0;
  int32_t iTime = 0;
  std::string csName, csPlace;
  std::optional<int64_t> date;
  std::vector<std::pair<int32_t, int32_t>> laps;  // distance, hundredths
};

struct PoolPlan {
  int32_t iLaneMin = 1, iLaneMax = 0, iPoolLength = 0;
  bool bLanes = false;  // the document gives the lane range
};

KxTime Hundredths(int32_t iHundredths) {
  KxTime time(KxPrecision::P2);
  time.set_Time(iHundredths);
  return time;
}

// What the files hold of a heat that import must know before it writes.
struct ExistingHeat {
  int32_t iPoolLength = 0;
};

// Stages a meet as its reader hands it over (MeetReceiver: the sessions,
// then each athlete as soon as it is read), then the record lists, then
// writes the whole change (Finish).
class Importer : public MeetReceiver {
 public:
  // Reads what staging needs of the files.
  explicit Importer(MeetFiles& files) : m_Files(files) {
    m_Defaults = ReadDefaults(*m_Files.globals);
    ReadExisting();
  }

  // A refusal of the document as a whole, before anything is staged.
  static void CheckKind(const Document& document) {
    if (document.meets.size() > 1) RefuseSecondMeet(document.meets[1]);
    if (document.meets.empty() && document.recordLists.empty())
      throw LenexError("LENEX", "", 0, "another kind of document: neither a MEET nor a RECORDLIST",
                       "an entries, start-list or results document, or record lists");
  }

  void OnSessions(const Meet& meet) override {
    if (std::exchange(m_bMeet, true)) RefuseSecondMeet(meet);
    StageMeet(meet);
  }

  void OnAthlete(const Club& club, const Athlete& athlete) override {
    NoteLanes(athlete.entries);
    NoteLanes(athlete.results);
    StageAthlete(club, athlete);
  }

  void OnRelays(const Club& club) override {
    for (const Relay& relay : club.relays) {
      NoteLanes(relay.entries);
      NoteLanes(relay.results);
      for (const Entry& entry : relay.entries)
        StageEntry(entry, AddCompetitors(RelayLegs(entry.relayPositions)));
      for (const Result& result : relay.results)
        StageResult(result, AddCompetitors(RelayLegs(result.relayPositions)));
    }
  }

  // Stages the record lists of `document`, whose meet (if any) went through
  // the calls above, then writes.
  ImportReport Finish(const Document& document) {
    CheckKind(document);
    FinishMeet();
    SortLanes();
    m_Course = MeetCourse();
    for (const RecordList& list : document.recordLists) StageRecordList(list);
    Apply();
    return m_Report;
  }

 private:
  // --- stage ---------------------------------------------------------------------

  [[noreturn]] static void RefuseSecondMeet(const Meet& meet) {
    throw LenexError("MEET", "", meet.source.line, "a second meet",
                     "one MEET per document (one meet per folder)");
  }

  void ReadExisting() {
    for (const auto& [csKey, pEntry] : OrbElements(*m_Files.races->ScheduleEntries())) {
      auto& heats = m_ExistingHeats[Utf8(csKey)];
      for (const auto& [csHeat, pHeat] : OrbElements(*pEntry->Heats()))
        heats[Utf8(csHeat)] = ExistingHeat{pHeat->PoolConfig()->PoolLength()};
    }
    for (const auto& [csKey, pRecord] : OrbElements(*m_Files.globals->Records()))
      m_ExistingRecords[{pRecord->idRec(), pRecord->idCat(), pRecord->idLen(),
                         pRecord->IdStyle()}] = Utf8(csKey);
  }

  // The meet's course: the document's, else the Course parameter, else the
  // metre course of the pool length.
  std::optional<Course> MeetCourse() const {
    if (m_DocumentCourse) return m_DocumentCourse;
    if (const auto csCourse = m_Defaults.Param("Course"))
      if (const auto course = Codes<Course>::Parse(*csCourse)) return course;
    return MetreCourseOf(m_Defaults.pool.iPoolLength);
  }

  void StageMeet(const Meet& meet) {
    m_Params["MeetName"] = meet.name;
    m_Params["MeetCity"] = meet.city;
    m_Params["MeetNation"] = meet.nation;
    m_DocumentCourse = meet.course;
    if (!m_DocumentCourse && !meet.sessions.empty())
      m_DocumentCourse = meet.sessions.front().course;
    m_Pool.iPoolLength = m_Defaults.pool.iPoolLength;
    if (m_DocumentCourse) {
      m_Params["Course"] = std::string(Codes<Course>::Code(*m_DocumentCourse));
      if (PoolLengthOf(*m_DocumentCourse) > 0) m_Pool.iPoolLength = PoolLengthOf(*m_DocumentCourse);
    }
    m_Pool.iLaneMin = m_Defaults.pool.LaneMin();
    m_Pool.iLaneMax = m_Pool.iLaneMin + m_Defaults.pool.iNbLanes - 1;
    if (meet.pool && (meet.pool->laneMin || meet.pool->laneMax)) {
      m_Pool.bLanes = true;
      m_Pool.iLaneMin = meet.pool->laneMin.value_or(m_Pool.iLaneMin);
      m_Pool.iLaneMax = meet.pool->laneMax.value_or(m_Pool.iLaneMax);
    } else if (m_Defaults.pool.iNbLanes <= 0) {
      // A new meet has no lanes yet, and the document names none: the pool
      // is lane 1 up to the largest lane the document uses, known once all
      // athletes are staged (FinishMeet); till then only lanes below 1 fall
      // outside it.
      m_Pool.bLanes = true;
      m_Pool.iLaneMin = 1;
      m_bPoolFromLanes = true;
    }
    for (const Session& session : meet.sessions)
      for (const Event& event : session.events) StageEvent(session, event);
  }

  template <class Items>
  void NoteLanes(const Items& items) {
    for (const auto& item : items) m_iLargestLane = std::max(m_iLargestLane, item.lane.value_or(0));
  }

  // The pool taken from the document's lanes, and the first lane refused
  // for lying below it.
  void FinishMeet() {
    if (!m_bPoolFromLanes) return;
    m_Pool.iLaneMax = std::max(m_iLargestLane, 1);
    if (m_LaneBelowPool)
      RefuseLane(m_LaneBelowPool->csElement, m_LaneBelowPool->iLine, m_LaneBelowPool->iLane);
  }

  [[noreturn]] void RefuseLane(const char* csElement, int iLine, int32_t iLane) const {
    throw LenexError(csElement, "lane", iLine,
                     "lane " + std::to_string(iLane) + " is outside the pool",
                     "a lane from " + std::to_string(m_Pool.iLaneMin) + " to " +
                         std::to_string(m_Pool.iLaneMax));
  }

  static std::vector<CompetitorRef> RelayLegs(const std::vector<RelayPosition>& positions) {
    std::vector<CompetitorRef> legs;
    for (const RelayPosition& position : positions)
      if (position.number > 0 && position.athleteId)
        legs.emplace_back(static_cast<uint64_t>(position.number), *position.athleteId);
    return legs;
  }

  // An event's category: its gender with the age range of its age groups
  // (the smallest agemin and the largest agemax, -1 = no bound winning).
  static CategoryForm EventCategory(const Event& event) {
    CategoryForm form{event.gender.value_or(Gender::kAll), -1, -1};
    if (event.ageGroups.empty()) return form;
    form.ageMin = event.ageGroups.front().ageMin;
    form.ageMax = event.ageGroups.front().ageMax;
    for (const AgeGroup& group : event.ageGroups) {
      form.ageMin = form.ageMin < 0 || group.ageMin < 0 ? -1 : std::min(form.ageMin, group.ageMin);
      form.ageMax = form.ageMax < 0 || group.ageMax < 0 ? -1 : std::max(form.ageMax, group.ageMax);
    }
    return form;
  }

  void StageEvent(const Session& session, const Event& event) {
    EventPlan plan;
    plan.csKey = "E" + std::to_string(event.eventId);
    plan.iSortId = event.number;
    plan.uiStyle = StyleKey(event.swimStyle);
    plan.uiDistance = DistanceKey(event.swimStyle);
    plan.iRaceDistance = event.swimStyle.distance * event.swimStyle.relayCount;
    const CategoryForm category = EventCategory(event);
    std::optional<std::string> groupName;
    if (event.ageGroups.size() == 1) groupName = event.ageGroups.front().name;
    plan.uiCategory = CategoryKey(category, groupName);
    const Round round = event.round.value_or(Round::kTimed);
    plan.uiRound = RoundKey(round);
    plan.liTicks =
        TicksOf(session.date, event.daytime.value_or(session.daytime.value_or(Daytime{})));
    plan.csSession = std::to_string(session.number);
    const DefaultRow* pDistance = m_Defaults.distances.Find(plan.uiDistance);
    plan.csTitle = NameOfCategory(plan.uiCategory) + " " + pDistance->csName + " " +
                   pDistance->csAbbrev + " " + m_Defaults.styles.Find(plan.uiStyle)->csName + " " +
                   m_Defaults.rounds.Find(plan.uiRound)->csName;
    const auto existing = m_ExistingHeats.find(plan.csKey);
    for (const Heat& heat : event.heats) {
      HeatPlan heatPlan;
      heatPlan.csKey = "H" + std::to_string(heat.heatId);
      heatPlan.iSortId = heat.number;
      if (heat.status) heatPlan.status = HeatStatusValue(*heat.status);
      if (heat.final) heatPlan.final = std::string(Codes<HeatFinal>::Code(*heat.final));
      heatPlan.iPoolLength = m_Pool.iPoolLength;
      heatPlan.iRaceDistance = plan.iRaceDistance;
      if (existing != m_ExistingHeats.end()) {
        if (const auto it = existing->second.find(heatPlan.csKey); it != existing->second.end()) {
          heatPlan.bExists = true;
          heatPlan.iPoolLength = it->second.iPoolLength;
        }
      }
      *m_HeatOf.TryEmplace(heat.heatId).first = {m_Events.size(), plan.heats.size()};
      plan.heats.push_back(std::move(heatPlan));
    }
    *m_EventOf.TryEmplace(event.eventId).first = {m_Events.size(), &event};
    m_Events.push_back(std::move(plan));
  }

  std::string NameOfCategory(uint64_t uiCategory) const {
    const DefaultRow* pRow = m_Defaults.categories.Find(uiCategory);
    return pRow->csName.empty() ? CategoryWordOf(ParseCategory(pRow->csAbbrev, "")) : pRow->csName;
  }

  void StageAthlete(const Club& club, const Athlete& athlete) {
    CompetitorPlan plan;
    plan.iId = *athlete.athleteId;
    plan.csName = JoinName(athlete.firstName, athlete.lastName, athlete.namePrefix.value_or(""));
    plan.csNation = athlete.nation.value_or("");
    if (athlete.birthDate) plan.csBirthYear = std::to_string(athlete.birthDate->year);
    plan.csClub = club.type == ClubType::kUnattached ? "" : club.name;
    CategoryForm category{athlete.gender, -1, -1};
    if (!athlete.entries.empty()) {
      const Entry& first = athlete.entries.front();
      const Event* pEvent = At(m_EventOf, first.eventId).second;
      for (const AgeGroup& group : pEvent->ageGroups) {
        if (first.ageGroupId && group.ageGroupId == first.ageGroupId) {
          category.ageMin = group.ageMin;
          category.ageMax = group.ageMax;
        }
      }
    }
    plan.uiCategory = CategoryKey(category, std::nullopt);
    m_Competitors.push_back(std::move(plan));
    const Range self =
        AddCompetitors({{static_cast<uint64_t>(*athlete.athleteId), *athlete.athleteId}});
    for (const Entry& entry : athlete.entries) StageEntry(entry, self);
    for (const Result& result : athlete.results) StageResult(result, self);
  }

  Range AddCompetitors(const std::vector<CompetitorRef>& competitors) {
    const Range range{static_cast<uint32_t>(m_LaneCompetitors.size()),
                      static_cast<uint32_t>(competitors.size())};
    m_LaneCompetitors.insert(m_LaneCompetitors.end(), competitors.begin(), competitors.end());
    return range;
  }

  // The lane of (heat, lane) in the staged heats; null for an entry that
  // names no heat or lane (an entry list).
  LanePlan* LaneOf(const std::optional<int32_t>& heatId, const std::optional<int32_t>& lane,
                   const char* csElement, int iLine, HeatPlan** ppHeat = nullptr) {
    if (!heatId || !lane) return nullptr;
    if (m_bPoolFromLanes) {
      // The pool's end is not known yet, and no lane lies beyond it.
      if (*lane < m_Pool.iLaneMin) {
        if (!m_LaneBelowPool) m_LaneBelowPool = LaneRefusal{csElement, iLine, *lane};
        return nullptr;
      }
    } else if (*lane < m_Pool.iLaneMin || *lane > m_Pool.iLaneMax) {
      RefuseLane(csElement, iLine, *lane);
    }
    const auto [uiEvent, uiHeat] = At(m_HeatOf, *heatId);
    HeatPlan& heat = m_Events[uiEvent].heats[uiHeat];
    if (ppHeat) *ppHeat = &heat;
    const uint32_t uiIndex = LaneIndex(heat, *heatId, *lane);
    if (uiIndex == heat.lanes.size()) heat.lanes.emplace_back().iLane = *lane;
    return &heat.lanes[uiIndex];
  }

  // The index of the lane in the heat's lanes; the heat's lane count when
  // it is not staged yet, and then taken for it.
  uint32_t LaneIndex(HeatPlan& heat, int32_t iHeatId, int32_t iLane) {
    const auto uiNext = static_cast<uint32_t>(heat.lanes.size());
    if (iLane >= 0 && static_cast<size_t>(iLane) < heat.laneSlots.size()) {
      uint8_t& uiSlot = heat.laneSlots[static_cast<size_t>(iLane)];
      if (uiSlot == 0) uiSlot = static_cast<uint8_t>(uiNext + 1);  // at most 64 such lanes
      return uiSlot - 1u;
    }
    const auto [pIndex, bNew] = m_LaneIndex.TryEmplace(StartSlot(iHeatId, iLane));
    if (bNew) *pIndex = uiNext;
    return *pIndex;
  }

  // A heat's lane as one number (a heat id is unique in the meet).
  static uint64_t StartSlot(int32_t iHeatId, int32_t iLane) {
    return Detail::PairId(iHeatId, iLane);
  }

  // Every heat's lanes by lane, as they are written; no lane is looked up after.
  void SortLanes() {
    for (EventPlan& event : m_Events)
      for (HeatPlan& heat : event.heats)
        std::sort(heat.lanes.begin(), heat.lanes.end(),
                  [](const LanePlan& a, const LanePlan& b) { return a.iLane < b.iLane; });
    m_LaneIndex.Clear();
  }

  void StageEntry(const Entry& entry, Range competitors) {
    if (entry.status == EntryStatus::kRejected) return;
    LanePlan* pLane = LaneOf(entry.heatId, entry.lane, "ENTRY", entry.source.line);
    if (!pLane) return;
    pLane->competitors = competitors;
    if (entry.entryTime) pLane->entryTime = FormatSwimTime(*entry.entryTime);
    const std::optional<ResultStatus> status =
        entry.status ? StatusOfEntry(*entry.status) : std::nullopt;
    if (!pLane->bResult) pLane->uiStatusKey = StatusKey(status);
  }

  void StageResult(const Result& result, Range competitors) {
    HeatPlan* pHeat = nullptr;
    LanePlan* pLane = LaneOf(result.heatId, result.lane, "RESULT", result.source.line, &pHeat);
    if (!pLane) return;
    if (pLane->competitors.uiCount == 0) pLane->competitors = competitors;
    pLane->bResult = true;
    pLane->uiStatusKey = StatusKey(result.status);
    const int32_t iLength = pHeat->iPoolLength;
    // The lane's laps so far, changed in a scratch list and then laid at
    // the end of the laps of all lanes.
    std::vector<LapTime>& laps = m_LapScratch;
    laps.assign(m_LaneLaps.begin() + pLane->laps.uiFirst,
                m_LaneLaps.begin() + pLane->laps.uiFirst + pLane->laps.uiCount);
    for (const Split& split : result.splits) {
      if (iLength <= 0 || split.distance % iLength != 0)
        throw LenexError("SPLIT", "distance", split.source.line,
                         "a split at " + std::to_string(split.distance) +
                             " m is no lap end of the heat's " + std::to_string(iLength) +
                             " m pool",
                         "a multiple of " + std::to_string(iLength));
      if (split.swimTime.hundredths)
        SetLap(laps, split.distance / iLength, static_cast<uint32_t>(*split.swimTime.hundredths));
    }
    const int32_t iRaceDistance = pHeat->iRaceDistance;
    if (result.swimTime.hundredths && iLength > 0 && iRaceDistance % iLength == 0)
      SetLap(laps, iRaceDistance / iLength, static_cast<uint32_t>(*result.swimTime.hundredths));
    else if (result.swimTime.hundredths)
      throw LenexError("RESULT", "swimtime", result.source.line,
                       "the race distance " + std::to_string(iRaceDistance) +
                           " m is no lap end of the heat's " + std::to_string(iLength) + " m pool",
                       "a race distance that is a multiple of the pool length");
    pLane->laps = {static_cast<uint32_t>(m_LaneLaps.size()), static_cast<uint32_t>(laps.size())};
    m_LaneLaps.insert(m_LaneLaps.end(), laps.begin(), laps.end());
  }

  void StageRecordList(const RecordList& list) {
    if (list.course != m_Course) {
      ++m_Report.iSkippedRecordLists;
      return;
    }
    const int32_t idRec = RecordKindOfType(list.type);
    CategoryForm category{list.gender == Gender::kMixed ? Gender::kMixed : list.gender, -1, -1};
    std::optional<std::string> groupName;
    if (list.ageGroup) {
      category.ageMin = list.ageGroup->ageMin;
      category.ageMax = list.ageGroup->ageMax;
      groupName = list.ageGroup->name;
    }
    const auto idCat = static_cast<int32_t>(CategoryKey(category, groupName));
    for (const Record& record : list.records) {
      if (!record.swimTime.hundredths) continue;
      RecordPlan plan;
      plan.idRec = idRec;
      plan.idCat = idCat;
      plan.idLen = static_cast<int32_t>(DistanceKey(record.swimStyle));
      plan.idStyle = static_cast<int32_t>(StyleKey(record.swimStyle));
      plan.iTime = *record.swimTime.hundredths;
      if (record.athlete)
        plan.csName = JoinName(record.athlete->firstName, record.athlete->lastName,
                               record.athlete->namePrefix.value_or(""));
      else if (record.relay && record.relay->club)
        plan.csName = record.relay->club->name;
      if (record.meetInfo) {
        plan.csPlace = record.meetInfo->city.value_or("");
        if (record.meetInfo->date) plan.date = TicksOf(*record.meetInfo->date, Daytime{});
      }
      const int32_t iDistance = record.swimStyle.distance * record.swimStyle.relayCount;
      for (const Split& split : record.splits)
        if (split.swimTime.hundredths && split.distance < iDistance)
          plan.laps.emplace_back(split.distance, *split.swimTime.hundredths);
      plan.laps.emplace_back(iDistance, plan.iTime);
      const auto it = m_ExistingRecords.find({plan.idRec, plan.idCat, plan.idLen, plan.idStyle});
      plan.csKey = it != m_ExistingRecords.end()
                       ? it->second
                       : "R" + std::to_string(plan.idRec) + "-C" + std::to_string(plan.idCat) +
                             "-D" + std::to_string(plan.idLen) + "-S" +
                             std::to_string(plan.idStyle);
      m_ExistingRecords[{plan.idRec, plan.idCat, plan.idLen, plan.idStyle}] = plan.csKey;
      m_Records.push_back(std::move(plan));
    }
  }

  // --- default lookups (adding to the staged tables when missing) -------------

  uint64_t StyleKey(const SwimStyle& style) {
    if (const StrokeRow* pRow = RowOfStroke(style.stroke)) {
      for (const DefaultRow& row : m_Defaults.styles.rows) {
        const StrokeRow* pOf = StrokeOfStyle(row.csAbbrev, row.csName);
        if (pOf == pRow) return row.uiKey;
      }
      return m_Defaults.styles.Add({m_Defaults.styles.NextKey(), pRow->name, pRow->abbrev, 0, 0});
    }
    const std::string csName = style.name.value_or("Unknown");
    for (const DefaultRow& row : m_Defaults.styles.rows)
      if (SameText(row.csName, csName)) return row.uiKey;
    return m_Defaults.styles.Add(
        {m_Defaults.styles.NextKey(), csName, style.code.value_or(csName.substr(0, 6)), 0, 0});
  }

  uint64_t DistanceKey(const SwimStyle& style) {
    const int32_t iTotal = style.distance * style.relayCount;
    for (const DefaultRow& row : m_Defaults.distances.rows) {
      const int32_t iRelays = std::max(row.iRelays, 1);
      if (row.iDistance == iTotal && iRelays == style.relayCount) return row.uiKey;
    }
    const auto uiTotal = static_cast<uint64_t>(iTotal);
    const uint64_t uiKey =
        m_Defaults.distances.HasKey(uiTotal) ? m_Defaults.distances.NextKey() : uiTotal;
    const bool bYards = m_DocumentCourse && IsYardCourse(*m_DocumentCourse);
    const std::string csText = style.relayCount > 1 ? std::to_string(style.relayCount) + "x" +
                                                          std::to_string(style.distance)
                                                    : std::to_string(style.distance);
    return m_Defaults.distances.Add(
        {uiKey, csText, bYards ? "yd" : "m", iTotal, style.relayCount > 1 ? style.relayCount : 0});
  }

  // Asked for every athlete: each form's key is looked for once (rows are
  // only ever added, so the row found stays the first that fits; the name
  // only names a row added).
  uint64_t CategoryKey(const CategoryForm& form, const std::optional<std::string>& name) {
    const auto [it, bNew] = m_CategoryKeys.try_emplace(
        std::tuple(static_cast<int>(form.gender), form.ageMin, form.ageMax), 0);
    if (bNew) it->second = FindCategoryKey(form, name);
    return it->second;
  }

  uint64_t FindCategoryKey(const CategoryForm& form, const std::optional<std::string>& name) {
    const std::string csAbbrev = CategoryAbbrevOf(form);
    for (const DefaultRow& row : m_Defaults.categories.rows)
      if (SameText(row.csAbbrev, csAbbrev)) return row.uiKey;
    return m_Defaults.categories.Add(
        {m_Defaults.categories.NextKey(), name.value_or(CategoryWordOf(form)), csAbbrev, 0, 0});
  }

  uint64_t RoundKey(Round round) {
    const RoundRow& wanted = RowOfRound(round);
    for (const DefaultRow& row : m_Defaults.rounds.rows)
      if (SameText(row.csAbbrev, wanted.shortName)) return row.uiKey;
    return m_Defaults.rounds.Add(
        {m_Defaults.rounds.NextKey(), wanted.name, wanted.shortName, 0, 0});
  }

  // Asked for every lane: each status's key is looked for once (rows are
  // only ever added, so the row found stays the first that fits).
  uint64_t StatusKey(std::optional<ResultStatus> status) {
    const uint64_t uiStatus = status ? static_cast<uint64_t>(*status) + 1 : 0;
    const auto [pKey, bNew] = m_StatusKeys.TryEmplace(uiStatus);
    if (bNew) *pKey = FindStatusKey(status);
    return *pKey;
  }

  // A valid result ("OK") takes key 0 when it is free.
  uint64_t FindStatusKey(std::optional<ResultStatus> status) {
    const StatusRow& wanted = RowOfStatus(status);
    for (const DefaultRow& row : m_Defaults.statuses.rows)
      if (StatusOfDefault(row.csAbbrev, row.csName) == &wanted) return row.uiKey;
    const uint64_t uiKey =
        !status && !m_Defaults.statuses.HasKey(0) ? 0 : m_Defaults.statuses.NextKey(0);
    return m_Defaults.statuses.Add({uiKey, wanted.desc, wanted.abbrev, 0, 0});
  }

  // --- apply ---------------------------------------------------------------------

  void Apply() {
    ApplyGlobals();
    ApplyCompetitors();
    ApplyRaces();
  }

  void ApplyGlobals() {
    V::D2fVarnox_FT_GLOBALS& globals = *m_Files.globals;
    const auto pParams = globals.Parameters();
    for (const auto& [csName, csValue] : m_Params) {
      const auto pParam = pParams->Item(U16(csName));
      pParam->set_Name(U16(csName));
      pParam->set_Value(U16(csValue));
    }
    if (m_bMeet) ApplyPool(*globals.PoolConfig());
    ApplyTable(m_Defaults.styles, *globals.StylesDefault(),
               [](V::Id2sCkxStyle& style, const DefaultRow& row) {
                 style.set_Style(U16(row.csName));
                 style.set_StyleAbbrev(U16(row.csAbbrev));
               });
    ApplyTable(m_Defaults.distances, *globals.DistancesDefault(),
               [](V::Id2sCkxDistance& distance, const DefaultRow& row) {
                 distance.set_Distance(row.iDistance);
                 distance.set_NbOfRelays(row.iRelays);
                 distance.set_DistanceStr(U16(row.csName));
                 distance.set_DistanceUnit(U16(row.csAbbrev));
               });
    ApplyTable(m_Defaults.categories, *globals.CategoriesDefault(),
               [](V::Id2sCkxCategory& category, const DefaultRow& row) {
                 category.set_Category(U16(row.csName));
                 category.set_CategoryAbbrev(U16(row.csAbbrev));
               });
    ApplyTable(m_Defaults.rounds, *globals.RoundsDefault(),
               [](V::Id2sCkxRound& round, const DefaultRow& row) {
                 round.set_RoundName(U16(row.csName));
                 round.set_OneRoundName(U16(row.csName));
                 round.set_ShortRoundName(U16(row.csAbbrev));
                 round.set_NBMaxRounds(1);
               });
    ApplyTable(m_Defaults.statuses, *globals.StatusDefaults(),
               [](V::Id2sCkxStatus& status, const DefaultRow& row) {
                 status.set_StatusDesc(U16(row.csName));
                 status.set_StatusDescAbbrev(U16(row.csAbbrev));
               });
    const auto pRecords = globals.Records();
    for (const RecordPlan& plan : m_Records) ApplyRecord(*pRecords->Item(U16(plan.csKey)), plan);
    m_Report.iRecords = static_cast<int>(m_Records.size());
  }

  template <class I, class Fill>
  static void ApplyTable(const DefaultTable& table, IOrbMap<uint64_t, I>& map, Fill fill) {
    for (size_t i = 0; i < table.rows.size(); ++i)
      if (table.added[i]) fill(*map.Item(table.rows[i].uiKey), table.rows[i]);
  }

  void ApplyPool(V::Id2sCkxPoolConfig& pool) {
    pool.set_PoolLength(m_Pool.iPoolLength);
    if (!m_Pool.bLanes) return;
    pool.set_NbLanes(m_Pool.iLaneMax - m_Pool.iLaneMin + 1);
    const auto pLanes = pool.Lanes();
    std::set<int32_t> present;
    for (const auto& [uiKey, pLane] : OrbElements(*pLanes)) {
      const int32_t iLane = pLane->m_LaneID();
      if (iLane < m_Pool.iLaneMin || iLane > m_Pool.iLaneMax)
        pLanes->Remove(uiKey);
      else
        present.insert(iLane);
    }
    for (int32_t iLane = m_Pool.iLaneMin; iLane <= m_Pool.iLaneMax; ++iLane) {
      if (present.count(iLane) != 0) continue;
      const auto pLane = pLanes->Item(static_cast<uint64_t>(iLane));
      pLane->set_m_LaneID(iLane);
      pLane->set_m_LeftModuleID(0);
      pLane->set_m_RightModuleID(0);
    }
  }

  static void ApplyRecord(V::Id2sCkxRecordEntry& record, const RecordPlan& plan) {
    record.set_idRec(plan.idRec);
    record.set_idCat(plan.idCat);
    record.set_idLen(plan.idLen);
    record.set_IdStyle(plan.idStyle);
    record.set_Time(Hundredths(plan.iTime));
    record.set_Name(U16(plan.csName));
    record.set_Place(U16(plan.csPlace));
    if (plan.date) record.set_Date(OrbDateTime(*plan.date, OrbDateTimeKind::Local));
    const auto pTimes = record.LapTimes();
    const auto pDistances = record.LapDistances();
    // Each array sized once: every resize is a kernel call.
    const auto uiCount = static_cast<uint32_t>(plan.laps.size());
    if (pTimes->GetLength(0) != uiCount) pTimes->SetLength(uiCount);
    if (pDistances->GetLength(0) != uiCount) pDistances->SetLength(uiCount);
    for (uint32_t i = 0; i < uiCount; ++i) {
      pTimes->Item(i)->set_LapTime(Hundredths(plan.laps[i].second));
      pDistances->Item(i)->set_LapDistance(plan.laps[i].first);
    }
  }

  // --- apply: competitors and races, in bulk through the native records ---------
  //
  // The many small records (competitors, entries, heats, lanes, laps) are
  // written through the native face under the top-level map's add/remove
  // lock: each element is reached by its handle from the top-level map (a
  // few validated accesses, no proxy, no guard per field), its fields are
  // written by the object face's own field code (OrbField), and a native
  // failure becomes OrbKernelException as the object face's guard makes it.
  // An element is reached anew after every kernel call, which may move
  // dynamic data.

  // The native container under the object face's top-level wrapper
  // `pInterface` (of the generated class `Wrapper`), which keeps it alive.
  template <class Wrapper, class Interface>
  static auto& NativeContainer(const std::shared_ptr<Interface>& pInterface) {
    const auto* pWrapper = dynamic_cast<const Wrapper*>(pInterface.get());
    if (pWrapper == nullptr)
      throw OrbKernelException(u"LENEX import: a member of the meet is not the file's own");
    return pWrapper->m_pObj->m_Container;
  }

  // Runs `body` under the add/remove lock of top-level map `map`.
  template <class Map, class Body>
  static void Locked(Map& map, const char16_t* csWhat, Body&& body) {
    OrbGuarded(u"LenexImport", csWhat, [&] {
      map.GetARLock();
      try {
        body();
      } catch (...) {
        map.ReleaseARLock();
        throw;
      }
      map.ReleaseARLock();
    });
  }

  // The handle of the element under the key (a number, or a text when
  // `csKey` is set), added when absent.
  template <class Map>
  static uint32_t AddedAt(Map& map, uint64_t uiKey, const char* csKey = nullptr) {
    const uint32_t hPos = map(D2MapCmd::Add, uiKey, csKey);
    if (hPos == 0)
      throw OrbKernelException(u"LENEX import: the kernel added no element (storage exhausted)");
    return hPos;
  }

  // `csUtf8` as UTF-16 in the importer's one text buffer: tens of thousands
  // of texts are written, each one allocation less.
  const std::optional<std::u16string>& Text16(std::string_view csUtf8) {
    std::u16string& text = m_Text16 ? *m_Text16 : m_Text16.emplace();
    text.clear();
    AppendUtf16(text, csUtf8);
    return m_Text16;
  }

  static void AppendUtf16(std::u16string& text, std::string_view csUtf8) {
    for (size_t i = 0; i < csUtf8.size();) {
      if (static_cast<unsigned char>(csUtf8[i]) < 0x80) {
        text += static_cast<char16_t>(csUtf8[i++]);
        continue;
      }
      char32_t cp = 0;
      KxText::NextUtf8(csUtf8.data(), csUtf8.size(), i, cp);
      char16_t aUnits[2];
      text.append(aUnits, KxText::EncodeUtf16(cp, aUnits));
    }
  }

  // Writes `csUtf8` into the text field `pField` of the record `record()`.
  template <class Reach, class R>
  void WriteText(Reach&& record, CkxD2StrDU R::*pField, const std::string& csUtf8) {
    OrbField<CkxD2StrDU>::Write([&]() -> CkxD2StrDU& { return record().*pField; }, Text16(csUtf8));
  }

  // Params map `params()`: sets or removes the value under a text key.
  template <class Reach>
  void SetParam(Reach&& params, const std::string& csKey, const std::string& csValue) {
    WriteParam(params, AddedAt(params(), 0, csKey.c_str()), csValue);
  }
  // Writes the value of the parameter at handle `hPos` of `params()`.
  template <class Reach>
  void WriteParam(Reach&& params, uint32_t hPos, const std::string& csValue) {
    OrbField<CkxD2StrSU<64>>::Write([&]() -> CkxD2StrSU<64>& { return params()[hPos].str; },
                                    Text16(csValue));
  }

  // Adds m_Additions to their maps in one kernel call (KxAddToMaps), their
  // handles into m_Handles in the same order. Call it right after reaching
  // the maps, so that their file is the thread's current object.
  void AddAll() {
    m_Handles.resize(m_Additions.size());
    KxAddToMaps(m_Additions.data(), static_cast<uint32_t>(m_Additions.size()), m_Handles.data());
    // The kernel stops at the first element it cannot add: the last then has none.
    if (!m_Handles.empty() && m_Handles.back() == 0)
      throw OrbKernelException(u"LENEX import: the kernel added no element (storage exhausted)");
  }
  template <class Reach>
  static void RemoveParam(Reach&& params, const std::string& csKey) {
    if (params()(D2MapCmd::Find, 0, csKey.c_str()) != 0)
      params()(D2MapCmd::Remove, 0, csKey.c_str());
  }

  void ApplyCompetitors() {
    const auto pMap = m_Files.competitors->CompetitorsStringMap();
    auto& map = NativeContainer<V::D2oVarnox_FT_COMPETITORS_CompetitorsStringMap>(pMap);
    Locked(map, u".ApplyCompetitors", [&] {
      std::vector<uint32_t> handles;  // by m_Competitors
      handles.reserve(m_Competitors.size());
      for (const CompetitorPlan& plan : m_Competitors)
        handles.push_back(AddedAt(map, static_cast<uint64_t>(plan.iId)));
      WriteCompetitors(map, handles);
    });
    m_Report.iCompetitors = static_cast<int>(m_Competitors.size());
  }

  // A competitor's texts: where the plan holds them, where the record does.
  static constexpr std::array<std::pair<std::string CompetitorPlan::*, CkxD2StrDU CkxCompetitor::*>,
                              4>
      kCompetitorTexts{{{&CompetitorPlan::csName, &CkxCompetitor::Name},
                        {&CompetitorPlan::csNation, &CkxCompetitor::Nation},
                        {&CompetitorPlan::csBirthYear, &CkxCompetitor::BirthYear},
                        {&CompetitorPlan::csClub, &CkxCompetitor::Club}}};

  // The added competitors' fields. Their texts are sized in one batch of
  // resizes (a text beyond its room costs a kernel call, and four a
  // competitor made most of the import's calls), then written.
  void WriteCompetitors(CkxD2MapObjA<CkxCompetitor>& map, const std::vector<uint32_t>& handles) {
    std::u16string texts;           // every competitor's texts, end to end
    std::vector<size_t> starts{0};  // text i is texts[starts[i], starts[i + 1])
    for (const CompetitorPlan& plan : m_Competitors) {
      for (const auto& [pText, pField] : kCompetitorTexts) {
        AppendUtf16(texts, plan.*pText);
        starts.push_back(texts.size());
      }
    }
    const auto length = [&](size_t uiText) {
      return static_cast<int>(starts[uiText + 1] - starts[uiText]);
    };
    m_Resizes.clear();
    size_t uiText = 0;
    for (size_t i = 0; i < m_Competitors.size(); ++i) {
      CkxCompetitor& competitor = map[handles[i]];  // no kernel call until the batch
      competitor.CompetitorId = m_Competitors[i].iId;
      competitor.CategoryId = static_cast<int32_t>(m_Competitors[i].uiCategory);
      for (const auto& [pText, pField] : kCompetitorTexts) {
        const int iLength = length(uiText++);
        if (!(competitor.*pField).ReserveInPlace(iLength))
          m_Resizes.push_back((competitor.*pField).Resize(iLength));
      }
    }
    KxResizeMembers(m_Resizes.data(), static_cast<uint32_t>(m_Resizes.size()));
    uiText = 0;
    for (size_t i = 0; i < m_Competitors.size(); ++i) {
      CkxCompetitor& competitor = map[handles[i]];  // reached again after the batch
      for (const auto& [pText, pField] : kCompetitorTexts) {
        const int iLength = length(uiText);
        CkxD2StrDU& field = competitor.*pField;
        int iSized = 0;
        field.GetNet(&iSized);
        if (iLength > 0 && iSized != iLength)
          throw OrbKernelException(
              u"LENEX import: the kernel did not size a competitor's text (storage exhausted)");
        field.SetNet(texts.data() + starts[uiText++], iLength);
      }
    }
  }

  void ApplyRaces() {
    const auto pEntries = m_Files.races->ScheduleEntries();
    auto& entries = NativeContainer<V::D2oVarnox_FT_RACES_ScheduleEntries>(pEntries);
    m_GlobalPool = ReadPool();
    Locked(entries, u".ApplyRaces", [&] {
      for (const EventPlan& plan : m_Events) ApplyEvent(entries, plan);
    });
    m_Report.iEvents = static_cast<int>(m_Events.size());
  }

  void ApplyEvent(CkxD2MapObjA<CkxScheduleOneEntry>& entries, const EventPlan& plan) {
    const char* csKey = plan.csKey.c_str();
    const bool bNew = entries(D2MapCmd::Find, 0, csKey) == 0;
    const uint32_t hPos = AddedAt(entries, 0, csKey);
    const auto entry = [&]() -> CkxScheduleOneEntry& { return entries[hPos]; };
    WriteText(entry, &CkxScheduleOneEntry::RaceId, plan.csKey);
    entry().SortId = plan.iSortId;
    entry().StyleId = static_cast<int32_t>(plan.uiStyle);
    entry().DistanceId = static_cast<int32_t>(plan.uiDistance);
    entry().CategoryId = static_cast<int32_t>(plan.uiCategory);
    entry().RoundId = static_cast<int32_t>(plan.uiRound);
    OrbField<CkxD2DateTime>::Write([&]() -> CkxD2DateTime& { return entry().DateAndTime; },
                                   OrbDateTime(plan.liTicks, OrbDateTimeKind::Local));
    SetParam(
        [&]() -> auto& { return entry().Params; }, "Session", plan.csSession);
    if (bNew) {
      WriteText(entry, &CkxScheduleOneEntry::TitlePrint, plan.csTitle);
      WriteText(entry, &CkxScheduleOneEntry::TitleScb, plan.csTitle);
    }
    for (const HeatPlan& heat : plan.heats) ApplyHeat(entry, heat, plan.csKey);
  }

  template <class Entry>
  void ApplyHeat(const Entry& entry, const HeatPlan& plan, const std::string& csEvent) {
    const uint32_t hPos = AddedAt(entry().Heats, 0, plan.csKey.c_str());
    const auto heat = [&]() -> CkxCompOneHeat& { return entry().Heats[hPos]; };
    const auto params = [&]() -> CkxD2MapA<CkxString>& { return heat().Params; };
    WriteText(heat, &CkxCompOneHeat::HeatId, plan.csKey);
    heat().SortId = plan.iSortId;
    if (plan.status || !plan.bExists) heat().HeatStatus = plan.status.value_or(0);
    if (plan.final)
      SetParam(params, "Final", *plan.final);
    else if (plan.bExists)
      RemoveParam(params, "Final");
    ++m_Report.iHeats;
    // A heat the import made has no lanes, and no parameters but its own.
    if (plan.bExists) RemoveUnnamedLanes(heat, params, plan, csEvent);
    ApplyLanes(heat, params, plan);
  }

  // The lanes of the heat the plan no longer names: removed with their
  // entry time, or kept (and reported) when they hold lap times.
  template <class Heat, class Params>
  void RemoveUnnamedLanes(const Heat& heat, const Params& params, const HeatPlan& plan,
                          const std::string& csEvent) {
    const auto lanes = [&]() -> CkxD2MapA<CkxCompOneLane>& { return heat().LaneResults; };
    std::vector<std::pair<uint64_t, int32_t>> unnamed;  // key, lane
    for (uint32_t hPos = lanes()(D2MapCmd::Head, 0, nullptr); hPos != 0;
         hPos = lanes()(D2MapCmd::Next, hPos, nullptr)) {
      const int32_t iLane = lanes()[hPos].Lane;
      if (plan.Names(iLane)) continue;
      if (HasLapTimes(lanes()[hPos])) {
        m_Report.keptLanes.push_back(csEvent + "/" + plan.csKey + " lane " + std::to_string(iLane));
        continue;
      }
      uint64_t uiKey = 0;
      std::string csKey;
      lanes().GetKey(hPos, uiKey, csKey, false);
      unnamed.emplace_back(uiKey, iLane);
    }
    for (const auto& [uiKey, iLane] : unnamed) {
      lanes()(D2MapCmd::Remove, uiKey, nullptr);
      RemoveParam(params, "EntryTime." + std::to_string(iLane));
    }
  }

  static bool HasLapTimes(CkxCompOneLane& lane) {
    for (uint32_t i = 0; i < lane.Laps.Size(); ++i)
      if (lane.Laps[i].Time[0] != 0) return true;
    return false;
  }

  // The heat's lanes, added with their entry times (and a new heat's pool
  // configuration) in one batch, written, given their competitors in
  // another batch, then their laps. A lane of a heat the import made has
  // nothing to remove (!plan.bExists).
  template <class Heat, class Params>
  void ApplyLanes(const Heat& heat, const Params& params, const HeatPlan& plan) {
    const auto lanes = [&]() -> CkxD2MapA<CkxCompOneLane>& { return heat().LaneResults; };
    m_EntryTimeKeys.clear();
    for (const LanePlan& lane : plan.lanes)
      if (lane.entryTime) m_EntryTimeKeys.push_back(EntryTimeKey(lane.iLane));
    m_Additions.clear();
    // The maps reached once for each batch: no kernel call until AddAll.
    CkxD2MapA<CkxCompOneLane>& laneMap = lanes();
    for (const LanePlan& lane : plan.lanes)
      m_Additions.push_back(laneMap.Addition(static_cast<uint64_t>(lane.iLane)));
    CkxD2MapA<CkxString>& paramMap = params();
    for (const std::string& csKey : m_EntryTimeKeys)
      m_Additions.push_back(paramMap.Addition(0, csKey.c_str()));
    const size_t uiPool = m_Additions.size();  // a new heat's pool elements' first handle
    if (!plan.bExists) QueuePool(heat);
    AddAll();
    if (!plan.bExists) WritePool(heat, uiPool);
    m_LaneHandles.assign(m_Handles.begin(), m_Handles.begin() + plan.lanes.size());
    size_t uiEntryTime = plan.lanes.size();  // the next entry time's handle in m_Handles
    for (size_t i = 0; i < plan.lanes.size(); ++i) {
      const LanePlan& lane = plan.lanes[i];
      WriteLane(lanes()[m_LaneHandles[i]], lane);
      if (lane.entryTime)
        WriteParam(params, m_Handles[uiEntryTime++], *lane.entryTime);
      else if (plan.bExists)
        RemoveParam(params, EntryTimeKey(lane.iLane));
    }
    m_Additions.clear();
    CkxD2MapA<CkxCompOneLane>& addedLanes = lanes();
    for (size_t i = 0; i < plan.lanes.size(); ++i) {
      const Range competitors = plan.lanes[i].competitors;
      for (uint32_t c = 0; c < competitors.uiCount; ++c)
        m_Additions.push_back(addedLanes[m_LaneHandles[i]].CompetitorId.Addition(
            m_LaneCompetitors[competitors.uiFirst + c].first));
    }
    AddAll();
    size_t uiCompetitor = 0;  // the next competitor's handle in m_Handles
    m_Resizes.clear();
    CkxD2MapA<CkxCompOneLane>& written = lanes();  // no kernel call until the laps' batch
    for (size_t i = 0; i < plan.lanes.size(); ++i) {
      const LanePlan& lane = plan.lanes[i];
      CkxCompOneLane& record = written[m_LaneHandles[i]];
      for (uint32_t c = 0; c < lane.competitors.uiCount; ++c)
        record.CompetitorId[m_Handles[uiCompetitor++]].CompetitorId =
            m_LaneCompetitors[lane.competitors.uiFirst + c].second;
      if (lane.bResult && record.Laps.Size() != lane.laps.uiCount)
        m_Resizes.push_back(record.Laps.Resize(lane.laps.uiCount));
      ++m_Report.iLanes;
    }
    KxResizeMembers(m_Resizes.data(), static_cast<uint32_t>(m_Resizes.size()));
    CkxD2MapA<CkxCompOneLane>& sized = lanes();  // reached again after the kernel's call
    for (size_t i = 0; i < plan.lanes.size(); ++i)
      if (plan.lanes[i].bResult) WriteLaps(sized[m_LaneHandles[i]], plan.lanes[i].laps);
  }

  static std::string EntryTimeKey(int32_t iLane) { return "EntryTime." + std::to_string(iLane); }

  // A lane's own fields; competitors it held before are removed.
  static void WriteLane(CkxCompOneLane& lane, const LanePlan& plan) {
    lane.Lane = plan.iLane;
    lane.SortId = plan.iLane;
    lane.StatusId = static_cast<int32_t>(plan.uiStatusKey);
    if (lane.CompetitorId.GetCount() != 0) lane.CompetitorId(D2MapCmd::RemoveAll, 0, nullptr);
  }

  // The lane's laps replaced by `laps`, in an array the heat's batch of
  // resizes sized: every lap written whole.
  void WriteLaps(CkxCompOneLane& sized, Range laps) const {
    const uint32_t uiCount = laps.uiCount;
    if (sized.Laps.Size() != uiCount)
      throw OrbKernelException(
          u"LENEX import: the kernel did not size a lane's laps (storage exhausted)");
    for (uint32_t i = 0; i < uiCount; ++i) {
      const auto& [iLap, uiTime] = m_LaneLaps[laps.uiFirst + i];
      CkxCompOneLap& lap = sized.Laps[i];
      lap = CkxCompOneLap{};
      lap.Lap = iLap;
      lap.Time[0] = uiTime;
    }
    sized.CurrentLap = static_cast<int32_t>(uiCount);
  }

  // The global pool configuration, read once (after the import's own
  // change) and copied into every new heat.
  struct PoolCopy {
    CkxPoolConfig fields{};  // its maps are not used
    std::vector<std::pair<uint64_t, CkxPoolConfigOneLane>> lanes;
    std::vector<std::pair<uint64_t, CkxOneContact>> left, right;
  };

  // The pool configuration's fields that are no maps, `from` into `to`; a
  // switch is copied as the byte stored, which another writer may have set
  // to any value.
  static void CopyPoolFields(const CkxPoolConfig& from, CkxPoolConfig& to) {
    for (const auto pField :
         {&CkxPoolConfig::NbLanes, &CkxPoolConfig::PoolLength, &CkxPoolConfig::StartContactCfg,
          &CkxPoolConfig::StartFinishPlace, &CkxPoolConfig::SamplingRate})
      to.*pField = from.*pField;
    for (const auto pField :
         {&CkxPoolConfig::Ha1Left, &CkxPoolConfig::Ha2Left, &CkxPoolConfig::Ha1Right,
          &CkxPoolConfig::Ha2Right, &CkxPoolConfig::St1Left, &CkxPoolConfig::St2Left,
          &CkxPoolConfig::St1Right, &CkxPoolConfig::St2Right})
      std::memcpy(&(to.*pField), &(from.*pField), 1);
  }

  // The elements of native map `map` with their keys, in the map's order.
  template <class Item>
  static std::vector<std::pair<uint64_t, Item>> ItemsOf(CkxD2MapA<Item>& map) {
    std::vector<std::pair<uint64_t, Item>> items;
    for (uint32_t hPos = map(D2MapCmd::Head, 0, nullptr); hPos != 0;
         hPos = map(D2MapCmd::Next, hPos, nullptr)) {
      uint64_t uiKey = 0;
      std::string csKey;
      map.GetKey(hPos, uiKey, csKey, false);
      items.emplace_back(uiKey, map[hPos]);
    }
    return items;
  }

  PoolCopy ReadPool() {
    const auto pSingle = m_Files.globals->PoolConfig();
    auto& single = NativeContainer<V::D2oVarnox_FT_GLOBALS_PoolConfig>(pSingle);
    PoolCopy copy;
    OrbGuarded(u"LenexImport", u".ReadPool", [&] {
      CkxPoolConfig* pPool = single.operator->();  // makes the globals the current object
      if (pPool == nullptr)
        throw OrbKernelException(u"LENEX import: the pool configuration has no storage");
      CopyPoolFields(*pPool, copy.fields);
      copy.lanes = ItemsOf(pPool->Lanes);
      copy.left = ItemsOf(pPool->LeftContacts);
      copy.right = ItemsOf(pPool->RightContacts);
    });
    return copy;
  }

  // A new heat's pool configuration, a copy of the global one: its fields
  // written, its maps' elements queued in the batch of the heat's lanes.
  template <class Heat>
  void QueuePool(const Heat& heat) {
    CkxPoolConfig& pool = heat().PoolConfig;  // no kernel call until AddAll
    CopyPoolFields(m_GlobalPool.fields, pool);
    Queue(pool.Lanes, m_GlobalPool.lanes);
    Queue(pool.LeftContacts, m_GlobalPool.left);
    Queue(pool.RightContacts, m_GlobalPool.right);
  }

  template <class Item>
  void Queue(CkxD2MapA<Item>& map, const std::vector<std::pair<uint64_t, Item>>& items) {
    for (const auto& item : items) m_Additions.push_back(map.Addition(item.first));
  }

  // After AddAll: the queued pool's elements written, their handles in
  // m_Handles from `uiFirst` on.
  template <class Heat>
  void WritePool(const Heat& heat, size_t uiFirst) {
    // Writing records of plain fields makes no kernel call, so the
    // reference holds for the whole copy.
    CkxPoolConfig& pool = heat().PoolConfig;
    uiFirst = Write(pool.Lanes, m_GlobalPool.lanes, uiFirst);
    uiFirst = Write(pool.LeftContacts, m_GlobalPool.left, uiFirst);
    Write(pool.RightContacts, m_GlobalPool.right, uiFirst);
  }

  template <class Item>
  size_t Write(CkxD2MapA<Item>& map, const std::vector<std::pair<uint64_t, Item>>& items,
               size_t uiFirst) {
    static_assert(std::is_trivially_copyable_v<Item>);
    for (const auto& item : items) map[m_Handles[uiFirst++]] = item.second;
    return uiFirst;
  }

  MeetFiles& m_Files;
  bool m_bMeet = false;  // a meet was staged
  // The pool is lane 1 to the largest lane of the document (StageMeet).
  bool m_bPoolFromLanes = false;
  int32_t m_iLargestLane = 0;
  struct LaneRefusal {
    const char* csElement;
    int iLine;
    int32_t iLane;
  };
  std::optional<LaneRefusal> m_LaneBelowPool;
  ImportReport m_Report;
  Defaults m_Defaults;
  std::optional<Course> m_DocumentCourse;
  std::optional<Course> m_Course;
  PoolPlan m_Pool;
  std::map<std::string, std::string> m_Params;
  std::map<std::string, std::map<std::string, ExistingHeat>> m_ExistingHeats;
  std::map<std::tuple<int32_t, int32_t, int32_t, int32_t>, std::string> m_ExistingRecords;
  std::vector<EventPlan> m_Events;
  Detail::IdMap<std::pair<size_t, const Event*>> m_EventOf;  // eventid -> plan, event
  Detail::IdMap<std::pair<size_t, size_t>> m_HeatOf;         // heatid -> event, heat
  Detail::IdMap<uint32_t> m_LaneIndex;  // StartSlot(heat, lane of 64 or more) -> index in its lanes
  std::vector<CompetitorRef> m_LaneCompetitors;  // the lanes' Range competitors
  std::vector<LapTime> m_LaneLaps;               // the lanes' Range laps
  std::vector<LapTime> m_LapScratch;
  Detail::IdMap<uint64_t> m_StatusKeys;    // status + 1, 0 for none -> key
  std::optional<std::u16string> m_Text16;  // Text16's buffer
  // A batch of map additions and their handles (AddAll), reused.
  std::vector<KxMapAddition> m_Additions;
  std::vector<uint32_t> m_Handles;
  std::vector<uint32_t> m_LaneHandles;       // a heat's lanes, by its plan's lanes
  std::vector<KxMemberResize> m_Resizes;     // a batch of resizes, reused
  std::vector<std::string> m_EntryTimeKeys;  // a heat's entry times' keys
  std::map<std::tuple<int, int32_t, int32_t>, uint64_t> m_CategoryKeys;  // gender, ages -> key
  std::vector<CompetitorPlan> m_Competitors;
  std::vector<RecordPlan> m_Records;
  PoolCopy m_GlobalPool;
};

}  // namespace

ImportReport ImportDocument(const Document& document, MeetFiles& files) {
  Importer::CheckKind(document);
  Importer importer(files);
  if (!document.meets.empty()) {
    const Meet& meet = document.meets.front();
    importer.OnSessions(meet);
    for (const Club& club : meet.clubs) {
      for (const Athlete& athlete : club.athletes) importer.OnAthlete(club, athlete);
      importer.OnRelays(club);
    }
  }
  return importer.Finish(document);
}

ImportReport ImportLef(std::string_view bytes, MeetFiles& files, const LenexLimits& limits) {
  Importer importer(files);
  const Document document = ReadLef(bytes, limits, importer);
  return importer.Finish(document);
}

}  // namespace Varnox::Lenex
