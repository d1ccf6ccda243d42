// The meet of the files as a LENEX results document (docs/lenex.md): the
// files are read once into plain structs, then the document is built from
// them, so the order of the document follows the sort ids and keys rather
// than the maps' order.
#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "lenex/LenexFace.h"
#include "lenex/LenexMapping.h"

namespace Varnox::Lenex {

namespace {

using namespace Face;
using namespace Mapping;
namespace V = Tarvex::Orb::Data::Varnox;

[[noreturn]] void Refuse(const std::string& csElement, const std::string& csAttribute,
                         const std::string& csProblem, const std::string& csExpected) {
  throw LenexError(csElement, csAttribute, 0, csProblem, csExpected);
}

// --- the files in memory ----------------------------------------------------

struct LaneData {
  int32_t iLane = 0;
  int32_t iStatusId = 0;
  std::vector<int32_t> competitors;  // in CompetitorId key order
  std::map<int32_t, uint32_t> laps;  // lap -> Time[0], non-zero only
};

struct HeatData {
  std::string csKey, csHeatId;
  int32_t iSortId = 0;
  int32_t iStatus = 0;
  int32_t iPoolLength = 0;
  std::optional<std::string> final;
  std::map<int32_t, std::string> entryTimes;  // lane -> time text
  std::vector<LaneData> lanes;                // by lane
  int32_t iLenexId = 0;
};

struct RaceData {
  std::string csKey, csRaceId;
  int32_t iSortId = 0, iStyleId = 0, iCategoryId = 0, iDistanceId = 0, iRoundId = 0;
  int64_t liTicks = 0;
  std::optional<int32_t> session;
  std::vector<HeatData> heats;  // by sort id
  int32_t iLenexId = 0;
};

struct CompetitorData {
  int32_t iId = 0;
  std::string csName, csNation, csBirthYear, csClub;
  int32_t iCategoryId = 0;
};

std::string ParamText(IOrbMap<std::u16string, V::Id2sCkxString>& params, const char16_t* csKey) {
  const auto pParam = OrbExisting(params, std::u16string(csKey));
  return pParam ? Utf8(pParam->str()) : std::string();
}

LaneData ReadLane(V::Id2sCkxCompOneLane& lane) {
  LaneData data;
  data.iLane = lane.Lane();
  data.iStatusId = lane.StatusId();
  std::map<uint64_t, int32_t> byKey;
  for (const auto& [uiKey, pId] : OrbElements(*lane.CompetitorId())) byKey[uiKey] = pId->CompetitorId();
  for (const auto& [uiKey, iId] : byKey) data.competitors.push_back(iId);
  const auto pLaps = lane.Laps();
  for (uint32_t i = 0; i < pLaps->GetLength(0); ++i) {
    const auto pLap = pLaps->Item(i);
    const uint32_t uiTime = pLap->Time()->Item(0);
    if (uiTime != 0) data.laps[pLap->Lap()] = uiTime;
  }
  return data;
}

HeatData ReadHeat(const std::string& csKey, V::Id2sCkxCompOneHeat& heat) {
  HeatData data;
  data.csKey = csKey;
  data.csHeatId = Utf8(heat.HeatId());
  data.iSortId = heat.SortId();
  data.iStatus = heat.HeatStatus();
  data.iPoolLength = heat.PoolConfig()->PoolLength();
  for (const auto& [csParam, pValue] : OrbElements(*heat.Params())) {
    const std::string csName = Utf8(csParam);
    if (csName == "Final") data.final = Utf8(pValue->str());
    if (csName.starts_with("EntryTime.")) {
      try {
        data.entryTimes[std::stoi(csName.substr(10))] = Utf8(pValue->str());
      } catch (const std::exception&) {
        // A parameter of another writer under a look-alike name: not an entry time.
      }
    }
  }
  for (const auto& [uiKey, pLane] : OrbElements(*heat.LaneResults())) data.lanes.push_back(ReadLane(*pLane));
  std::sort(data.lanes.begin(), data.lanes.end(),
            [](const LaneData& a, const LaneData& b) { return a.iLane < b.iLane; });
  return data;
}

std::vector<RaceData> ReadRaces(V::D2fVarnox_FT_RACES& races) {
  std::vector<RaceData> result;
  for (const auto& [csKey, pEntry] : OrbElements(*races.ScheduleEntries())) {
    RaceData race;
    race.csKey = Utf8(csKey);
    race.csRaceId = Utf8(pEntry->RaceId());
    race.iSortId = pEntry->SortId();
    race.iStyleId = pEntry->StyleId();
    race.iCategoryId = pEntry->CategoryId();
    race.iDistanceId = pEntry->DistanceId();
    race.iRoundId = pEntry->RoundId();
    race.liTicks = pEntry->DateAndTime().Ticks();
    const std::string csSession = ParamText(*pEntry->Params(), u"Session");
    if (const auto iSession = ParseNumber(csSession)) race.session = iSession;
    for (const auto& [csHeatKey, pHeat] : OrbElements(*pEntry->Heats()))
      race.heats.push_back(ReadHeat(Utf8(csHeatKey), *pHeat));
    std::sort(race.heats.begin(), race.heats.end(), [](const HeatData& a, const HeatData& b) {
      return std::tie(a.iSortId, a.csKey) < std::tie(b.iSortId, b.csKey);
    });
    result.push_back(std::move(race));
  }
  // Ids are given in key order.
  std::sort(result.begin(), result.end(),
            [](const RaceData& a, const RaceData& b) { return a.csKey < b.csKey; });
  std::vector<std::string> raceIds, heatIds;
  for (const RaceData& race : result) {
    raceIds.push_back(race.csRaceId);
    for (const HeatData& heat : race.heats) heatIds.push_back(heat.csHeatId);
  }
  const std::vector<int32_t> eventNumbers = StableIds(raceIds, 'E');
  const std::vector<int32_t> heatNumbers = StableIds(heatIds, 'H');
  size_t uiHeat = 0;
  for (size_t i = 0; i < result.size(); ++i) {
    result[i].iLenexId = eventNumbers[i];
    for (HeatData& heat : result[i].heats) heat.iLenexId = heatNumbers[uiHeat++];
  }
  std::stable_sort(result.begin(), result.end(),
                   [](const RaceData& a, const RaceData& b) { return a.iSortId < b.iSortId; });
  return result;
}

std::vector<CompetitorData> ReadCompetitors(V::D2fVarnox_FT_COMPETITORS& competitors) {
  std::vector<CompetitorData> result;
  for (const auto& [uiKey, pCompetitor] : OrbElements(*competitors.CompetitorsStringMap())) {
    result.push_back({pCompetitor->CompetitorId(), Utf8(pCompetitor->Name()),
                      Utf8(pCompetitor->Nation()), Utf8(pCompetitor->BirthYear()),
                      Utf8(pCompetitor->Club()), pCompetitor->CategoryId()});
  }
  std::sort(result.begin(), result.end(),
            [](const CompetitorData& a, const CompetitorData& b) { return a.iId < b.iId; });
  return result;
}

// Hundredths of a packed time, truncated; nothing for no time or a negative one.
std::optional<int32_t> HundredthsOf(const std::optional<Tarvex::Orb::KxTime>& time) {
  if (!time || time->Negative()) return std::nullopt;
  int64_t liValue = time->Time();
  const int iPrecision = static_cast<int>(time->Precision());
  for (int i = iPrecision; i > 2; --i) liValue /= 10;
  for (int i = iPrecision; i < 2; ++i) liValue *= 10;
  if (liValue > kMaxSwimHundredths) return std::nullopt;
  return static_cast<int32_t>(liValue);
}

// --- the building of the document --------------------------------------------

class Exporter {
 public:
  Exporter(Defaults defaults, std::vector<RaceData> races, std::vector<CompetitorData> competitors)
      : m_Defaults(std::move(defaults)), m_Races(std::move(races)), m_Competitors(std::move(competitors)) {}

  Document Build(V::D2fVarnox_FT_GLOBALS& globals) {
    Document document;
    document.version = "3.0";
    const std::string csMeetName = RequiredParam("MeetName", "name");
    document.constructor.name = "Varnox";
    document.constructor.version = VARNOX_LIBRARY_VERSION;
    document.constructor.registration = m_Defaults.Param("LenexRegistration").value_or(csMeetName);
    document.constructor.contact.email = m_Defaults.Param("LenexEmail").value_or("timing@invalid");
    Meet meet;
    meet.name = csMeetName;
    meet.city = RequiredParam("MeetCity", "city");
    meet.nation = RequiredParam("MeetNation", "nation");
    m_Course = MeetCourse();
    meet.course = m_Course;
    const int32_t iLaneMin = m_Defaults.pool.LaneMin();
    meet.pool = Pool{iLaneMin, iLaneMin + m_Defaults.pool.iNbLanes - 1, {}};
    meet.sessions = Sessions();
    meet.clubs = Clubs();
    document.meets.push_back(std::move(meet));
    document.recordLists = RecordLists(globals);
    return document;
  }

 private:
  std::string RequiredParam(const char* csName, const char* csAttribute) {
    const auto value = m_Defaults.Param(csName);
    if (!value)
      Refuse("MEET", csAttribute, std::string("the parameter ") + csName + " is not set",
             std::string("a ") + csName + " parameter in the global settings");
    return *value;
  }

  Course MeetCourse() const {
    if (const auto csCourse = m_Defaults.Param("Course"))
      if (const auto course = Codes<Course>::Parse(*csCourse)) return *course;
    if (const auto course = MetreCourseOf(m_Defaults.pool.iPoolLength)) return *course;
    Refuse("MEET", "course",
           "a pool length of " + std::to_string(m_Defaults.pool.iPoolLength) + " m is of no course",
           "a pool length of 50, 25, 16, 20 or 33 m, or a Course parameter holding " +
               Codes<Course>::Expected());
  }

  CategoryForm CategoryOf(int32_t iCategoryId) const {
    const DefaultRow* pRow = m_Defaults.categories.Find(static_cast<uint64_t>(iCategoryId));
    return pRow ? ParseCategory(pRow->csAbbrev, pRow->csName) : CategoryForm{};
  }

  SwimStyle StyleOf(const RaceData& race) const {
    SwimStyle style;
    const DefaultRow* pDistance = m_Defaults.distances.Find(static_cast<uint64_t>(race.iDistanceId));
    if (pDistance == nullptr)
      Refuse("SWIMSTYLE", "distance",
             "race " + race.csRaceId + " names distance " + std::to_string(race.iDistanceId) +
                 ", which is no default distance",
             "a DistanceId of the global default distances");
    style.relayCount = std::max(pDistance->iRelays, 1);
    style.distance = pDistance->iDistance / style.relayCount;
    const DefaultRow* pStyle = m_Defaults.styles.Find(static_cast<uint64_t>(race.iStyleId));
    const StrokeRow* pStroke = pStyle ? StrokeOfStyle(pStyle->csAbbrev, pStyle->csName) : nullptr;
    style.stroke = pStroke ? pStroke->stroke : Stroke::kUnknown;
    if (!pStroke) style.name = pStyle ? pStyle->csName : "Style " + std::to_string(race.iStyleId);
    return style;
  }

  std::optional<Round> RoundOf(int32_t iRoundId) const {
    const DefaultRow* pRow = m_Defaults.rounds.Find(static_cast<uint64_t>(iRoundId));
    const RoundRow* pRound = pRow ? RoundOfShortName(pRow->csAbbrev) : nullptr;
    return pRound ? std::optional(pRound->round) : std::nullopt;
  }

  std::optional<ResultStatus> StatusOf(int32_t iStatusId) const {
    const DefaultRow* pRow = m_Defaults.statuses.Find(static_cast<uint64_t>(iStatusId));
    const StatusRow* pStatus = pRow ? StatusOfDefault(pRow->csAbbrev, pRow->csName) : nullptr;
    return pStatus ? pStatus->status : std::nullopt;
  }

  // Sessions by Params["Session"]; the others one per local date, numbered
  // after the largest given number in date order.
  std::vector<Session> Sessions() {
    std::map<int32_t, std::vector<const RaceData*>> bySession;
    std::map<int64_t, std::vector<const RaceData*>> byDate;
    int32_t iLargest = 0;
    for (const RaceData& race : m_Races) {
      if (race.session) {
        bySession[*race.session].push_back(&race);
        iLargest = std::max(iLargest, *race.session);
      } else {
        byDate[race.liTicks / (1440 * 600'000'000LL)].push_back(&race);
      }
    }
    for (auto& [liDay, races] : byDate) bySession[++iLargest] = std::move(races);
    std::vector<Session> sessions;
    for (const auto& [iNumber, races] : bySession) {
      int64_t liEarliest = races.front()->liTicks;
      for (const RaceData* pRace : races) liEarliest = std::min(liEarliest, pRace->liTicks);
      Session session;
      session.number = iNumber;
      session.date = DateOfTicks(liEarliest);
      session.daytime = DaytimeOfTicks(liEarliest);
      for (const RaceData* pRace : races) session.events.push_back(EventOf(*pRace));
      sessions.push_back(std::move(session));
    }
    return sessions;
  }

  std::optional<int32_t> PreviousRound(const RaceData& race) const {
    const RaceData* pPrevious = nullptr;
    for (const RaceData& other : m_Races) {
      if (other.iSortId >= race.iSortId) break;
      if (other.iStyleId == race.iStyleId && other.iDistanceId == race.iDistanceId &&
          other.iCategoryId == race.iCategoryId && other.iRoundId != race.iRoundId)
        pPrevious = &other;
    }
    return pPrevious ? std::optional(pPrevious->iLenexId) : std::nullopt;
  }

  Event EventOf(const RaceData& race) {
    Event event;
    event.eventId = race.iLenexId;
    event.number = race.iSortId;
    event.daytime = DaytimeOfTicks(race.liTicks);
    const CategoryForm category = CategoryOf(race.iCategoryId);
    if (category.gender != Gender::kAll) event.gender = category.gender;
    event.round = RoundOf(race.iRoundId);
    event.prevEventId = PreviousRound(race);
    event.swimStyle = StyleOf(race);
    AgeGroup group;
    group.ageGroupId = 1;
    group.ageMin = category.ageMin;
    group.ageMax = category.ageMax;
    if (const DefaultRow* pRow = m_Defaults.categories.Find(static_cast<uint64_t>(race.iCategoryId));
        pRow && !pRow->csName.empty())
      group.name = pRow->csName;
    const int32_t iRaceDistance = event.swimStyle.distance * event.swimStyle.relayCount;
    std::vector<std::pair<std::optional<int32_t>, int32_t>> ranked;  // valid time, result id
    for (const HeatData& heat : race.heats) {
      Heat lenexHeat;
      lenexHeat.heatId = heat.iLenexId;
      lenexHeat.number = heat.iSortId;
      lenexHeat.status = HeatStatusOfValue(heat.iStatus);
      if (heat.final) lenexHeat.final = Codes<HeatFinal>::Parse(*heat.final);
      event.heats.push_back(lenexHeat);
      for (const LaneData& lane : heat.lanes) {
        if (lane.competitors.empty()) continue;
        if (const auto result = LaneEntry(race, heat, lane, event.eventId, iRaceDistance)) {
          ranked.emplace_back(result->status ? std::nullopt : result->swimTime.hundredths,
                              result->resultId);
        }
      }
    }
    group.rankings = Rankings(ranked);
    event.ageGroups.push_back(std::move(group));
    return event;
  }

  // Valid results by time, equal hundredths sharing a place; the others -1.
  static std::vector<Ranking> Rankings(std::vector<std::pair<std::optional<int32_t>, int32_t>> results) {
    std::sort(results.begin(), results.end(), [](const auto& a, const auto& b) {
      if (a.first.has_value() != b.first.has_value()) return a.first.has_value();
      return a.first != b.first ? a.first < b.first : a.second < b.second;
    });
    std::vector<Ranking> rankings;
    for (size_t i = 0; i < results.size(); ++i) {
      int32_t iPlace = -1;
      if (results[i].first)
        iPlace = i > 0 && results[i - 1].first == results[i].first ? rankings.back().place
                                                                    : static_cast<int32_t>(i + 1);
      rankings.push_back(Ranking{iPlace, results[i].second, {}});
    }
    return rankings;
  }

  // Adds the lane's ENTRY (and RESULT, when swum) to its athlete or relay;
  // the result when there is one.
  std::optional<Result> LaneEntry(const RaceData& race, const HeatData& heat, const LaneData& lane,
                                  int32_t iEventId, int32_t iRaceDistance) {
    Entry entry;
    entry.eventId = iEventId;
    entry.heatId = heat.iLenexId;
    entry.lane = lane.iLane;
    if (const auto it = heat.entryTimes.find(lane.iLane); it != heat.entryTimes.end())
      entry.entryTime = ParseSwimTime(it->second);
    std::optional<Result> result;
    std::optional<int32_t> finalTime;
    for (const auto& [iLap, uiTime] : lane.laps)
      if (heat.iPoolLength > 0 && iLap * heat.iPoolLength == iRaceDistance) finalTime = static_cast<int32_t>(uiTime);
    const std::optional<ResultStatus> status = StatusOf(lane.iStatusId);
    if (finalTime || status) {
      result.emplace();
      result->resultId = ++m_iResults;
      result->swimTime = finalTime ? SwimTime::Of(*finalTime) : SwimTime::NoTime();
      result->eventId = iEventId;
      result->heatId = heat.iLenexId;
      result->lane = lane.iLane;
      result->status = status;
      for (const auto& [iLap, uiTime] : lane.laps) {
        const int32_t iDistance = iLap * heat.iPoolLength;
        if (iDistance > 0 && iDistance < iRaceDistance)
          result->splits.push_back(Split{iDistance, SwimTime::Of(static_cast<int32_t>(uiTime)), {}});
      }
    }
    if (lane.competitors.size() == 1) {
      m_AthleteEntries[lane.competitors.front()].push_back(entry);
      if (result) m_AthleteResults[lane.competitors.front()].push_back(*result);
      m_FirstCategory.emplace(lane.competitors.front(), race.iCategoryId);
      return result;
    }
    std::vector<RelayPosition> positions;
    for (size_t i = 0; i < lane.competitors.size(); ++i)
      positions.push_back(RelayPosition{static_cast<int32_t>(i + 1), lane.competitors[i], {}, {}, {}});
    entry.relayPositions = positions;
    Relay relay;
    const Gender gender = CategoryOf(race.iCategoryId).gender;
    relay.gender = gender == Gender::kAll ? Gender::kMixed : gender;
    relay.entries.push_back(entry);
    if (result) {
      result->relayPositions = positions;
      relay.results.push_back(*result);
    }
    m_Relays[ClubOf(lane.competitors.front())].push_back(std::move(relay));
    return result;
  }

  std::string ClubOf(int32_t iCompetitor) const {
    for (const CompetitorData& competitor : m_Competitors)
      if (competitor.iId == iCompetitor) return competitor.csClub;
    return "";
  }

  Gender GenderOf(const CompetitorData& competitor) const {
    for (const int32_t iCategory : {competitor.iCategoryId, FirstCategory(competitor.iId)}) {
      const Gender gender = CategoryOf(iCategory).gender;
      if (gender == Gender::kMale || gender == Gender::kFemale) return gender;
    }
    Refuse("ATHLETE", "gender",
           "competitor " + std::to_string(competitor.iId) + " (" + competitor.csName +
               ") has no gender: neither the competitor's category nor that of an event they swim "
               "is of men or women",
           "a category of gender M or F");
  }

  int32_t FirstCategory(int32_t iCompetitor) const {
    const auto it = m_FirstCategory.find(iCompetitor);
    return it == m_FirstCategory.end() ? -1 : it->second;
  }

  std::vector<Club> Clubs() {
    std::map<std::string, Club> byName;
    for (const CompetitorData& competitor : m_Competitors) {
      Club& club = byName[competitor.csClub];
      club.name = competitor.csClub;
      if (competitor.csClub.empty()) club.type = ClubType::kUnattached;
      Athlete athlete;
      athlete.athleteId = competitor.iId;
      const PersonName name = SplitName(competitor.csName);
      athlete.firstName = name.first;
      athlete.lastName = name.last;
      athlete.gender = GenderOf(competitor);
      if (competitor.csBirthYear.size() == 4)
        if (const auto iYear = ParseNumber(competitor.csBirthYear); iYear && *iYear > 0)
          athlete.birthDate = Date{*iYear, 1, 1};
      if (!competitor.csNation.empty()) athlete.nation = competitor.csNation;
      athlete.entries = std::move(m_AthleteEntries[competitor.iId]);
      athlete.results = std::move(m_AthleteResults[competitor.iId]);
      club.athletes.push_back(std::move(athlete));
    }
    for (auto& [csClub, relays] : m_Relays) {
      Club& club = byName[csClub];
      club.name = csClub;
      if (csClub.empty()) club.type = ClubType::kUnattached;
      for (Relay& relay : relays) {
        relay.number = static_cast<int32_t>(club.relays.size() + 1);
        club.relays.push_back(std::move(relay));
      }
    }
    std::vector<Club> clubs;
    for (auto& [csName, club] : byName)
      if (!csName.empty()) clubs.push_back(std::move(club));
    if (const auto it = byName.find(""); it != byName.end()) clubs.push_back(std::move(it->second));
    return clubs;
  }

  std::vector<RecordList> RecordLists(V::D2fVarnox_FT_GLOBALS& globals) {
    std::map<std::pair<int32_t, int32_t>, RecordList> lists;
    std::vector<std::pair<std::string, std::shared_ptr<V::Id2sCkxRecordEntry>>> entries;
    for (auto& [csKey, pRecord] : OrbElements(*globals.Records())) entries.emplace_back(Utf8(csKey), pRecord);
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [csKey, pRecord] : entries) {
      const auto time = HundredthsOf(pRecord->Time());
      if (!time) continue;
      const int32_t idRec = pRecord->idRec();
      const int32_t idCat = pRecord->idCat();
      RecordList& list = lists[{idRec, idCat}];
      if (list.records.empty()) {
        const RecordKindRow& kind = RowOfRecordKind(idRec);
        list.name = kind.name;
        list.course = m_Course;
        if (kind.type) list.type = kind.type;
        if (idRec == 4) list.type = m_Defaults.Param("MeetNation");
        const CategoryForm category = CategoryOf(idCat);
        list.gender = category.gender == Gender::kAll ? Gender::kMixed : category.gender;
        if (category.ageMin >= 0 || category.ageMax >= 0)
          list.ageGroup = AgeGroup{{}, category.ageMin, category.ageMax, {}, {}, {}};
      }
      list.records.push_back(RecordOf(*pRecord, *time, list.gender));
    }
    std::vector<RecordList> result;
    for (auto& [key, list] : lists) result.push_back(std::move(list));
    return result;
  }

  Record RecordOf(V::Id2sCkxRecordEntry& entry, int32_t iTime, Gender gender) {
    Record record;
    record.swimTime = SwimTime::Of(iTime);
    RaceData style;
    style.iDistanceId = entry.idLen();
    style.iStyleId = entry.IdStyle();
    style.csRaceId = "of record " + Utf8(entry.Name());
    record.swimStyle = StyleOf(style);
    const std::string csName = Utf8(entry.Name());
    if (!csName.empty() && gender == Gender::kMixed) {
      record.relay = RecordRelay{Club{csName, {}, {}, {}, {}, {}, {}, {}, {}}, {}};
    } else if (!csName.empty()) {
      Athlete athlete;
      const PersonName name = SplitName(csName);
      athlete.firstName = name.first;
      athlete.lastName = name.last;
      athlete.gender = gender;
      record.athlete = std::move(athlete);
    }
    const std::string csPlace = Utf8(entry.Place());
    const auto nation = m_Defaults.Param("MeetNation");
    if (!csPlace.empty() && nation && entry.Date().Ticks() > 0) {
      MeetInfo info;
      info.city = csPlace;
      info.nation = nation;
      info.date = DateOfTicks(entry.Date().Ticks());
      record.meetInfo = std::move(info);
    }
    const int32_t iDistance = record.swimStyle.distance * record.swimStyle.relayCount;
    const auto pTimes = entry.LapTimes();
    const auto pDistances = entry.LapDistances();
    std::map<int32_t, int32_t> splits;
    for (uint32_t i = 0; i < std::min(pTimes->GetLength(0), pDistances->GetLength(0)); ++i) {
      const int32_t iLapDistance = pDistances->Item(i)->LapDistance();
      const auto lapTime = HundredthsOf(pTimes->Item(i)->LapTime());
      if (lapTime && iLapDistance > 0 && iLapDistance < iDistance) splits[iLapDistance] = *lapTime;
    }
    for (const auto& [iLapDistance, iLapTime] : splits)
      record.splits.push_back(Split{iLapDistance, SwimTime::Of(iLapTime), {}});
    return record;
  }

  Defaults m_Defaults;
  std::vector<RaceData> m_Races;
  std::vector<CompetitorData> m_Competitors;
  Course m_Course = Course::kLCM;
  int32_t m_iResults = 0;
  std::map<int32_t, std::vector<Entry>> m_AthleteEntries;
  std::map<int32_t, std::vector<Result>> m_AthleteResults;
  std::map<int32_t, int32_t> m_FirstCategory;  // competitor -> category of the first race they swim
  std::map<std::string, std::vector<Relay>> m_Relays;  // by club
};

}  // namespace

Document ExportDocument(MeetFiles& files) {
  Exporter exporter(ReadDefaults(*files.globals), ReadRaces(*files.races),
                    ReadCompetitors(*files.competitors));
  return exporter.Build(*files.globals);
}

}  // namespace Varnox::Lenex
