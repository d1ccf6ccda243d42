#include "web/MeetReader.h"

#include <algorithm>
#include <tuple>

#include <varnox/Varnox.h>

#include "access/OrbMapLookup.h"
#include "contracts/framework/OrbMvvm.h"
#include "contracts/kernel/KxText.h"
#include "files/VarnoxFiles.h"

namespace varnox::web {

namespace {

namespace Varnox = Tarvex::Orb::Data::Varnox;
using Tarvex::Orb::DataDirectAcces::OrbElements;
using Tarvex::Orb::DataDirectAcces::OrbExisting;
using Tarvex::Orb::DataDirectAcces::OrbSharedLockScope;

std::string Utf8(std::u16string_view csText) { return KxText::Utf16ToUtf8(csText); }

// The setting under `iId` in `table`, else `fallback`.
template <class V>
V Setting(const std::map<uint64_t, V>& table, int32_t iId, V fallback) {
  const auto it = table.find(static_cast<uint64_t>(iId));
  return it == table.end() ? std::move(fallback) : it->second;
}

CompetitorTexts ReadCompetitor(int32_t iId, Varnox::D2fVarnox_FT_COMPETITORS* pCompetitors) {
  const auto pSwimmer =
      pCompetitors ? OrbExisting(*pCompetitors->CompetitorsStringMap(), static_cast<uint64_t>(iId))
                   : nullptr;
  if (!pSwimmer) return {"#" + std::to_string(iId), "", ""};
  return {Utf8(pSwimmer->Name()), Utf8(pSwimmer->Nation()), Utf8(pSwimmer->Club())};
}

LaneInput ReadLane(Varnox::Id2sCkxCompOneLane& lane, const MeetFiles& files,
                   const MeetSettings& settings, CompetitorCache* pCache) {
  LaneInput input;
  input.iLane = lane.Lane();
  input.iStatusId = lane.StatusId();
  if (input.iStatusId != 0)
    input.csStatus = Setting(settings.statuses, input.iStatusId, std::string());
  const auto pIds = lane.CompetitorId();
  if (const uint32_t hFirst = pIds->Head(); hFirst != 0) {
    input.bHasCompetitor = true;
    const int32_t iId = pIds->Item(hFirst)->CompetitorId();
    const auto cached = pCache ? pCache->find(iId) : CompetitorCache::iterator();
    const CompetitorTexts texts = pCache && cached != pCache->end()
                                      ? cached->second
                                      : ReadCompetitor(iId, files.pCompetitors.get());
    if (pCache) pCache->emplace(iId, texts);
    input.csName = texts.csName;
    input.csNation = texts.csNation;
    input.csClub = texts.csClub;
  }
  // An enumeration hands out one proxy again and again: no allocation a lap.
  for (const auto& pLap : lane.Laps()) input.splits.push_back(pLap->Time()->Item(0));
  return input;
}

HeatView ReadHeat(const std::string& csRace, const std::string& csTitle, int32_t iDistance,
                  const std::u16string& csHeatKey, Varnox::Id2sCkxCompOneHeat& heat,
                  const MeetFiles& files, const MeetSettings& settings, CompetitorCache* pCache) {
  HeatView view;
  view.csRace = csRace;
  view.csHeat = Utf8(csHeatKey);
  view.csTitle = csTitle;
  view.iSortId = heat.SortId();
  view.iHeatStatus = heat.HeatStatus();
  std::vector<LaneInput> lanes;
  for (const auto& pLane : heat.LaneResults())
    lanes.push_back(ReadLane(*pLane, files, settings, pCache));
  const int32_t iPool = heat.PoolConfig()->PoolLength();
  if (iPool > 0 && iDistance > 0 && iDistance % iPool == 0) {
    view.iLaps = iDistance / iPool;
    view.iLapLength = iPool;
  } else {
    // Without a distance the laps the lanes hold are the race.
    for (const LaneInput& lane : lanes)
      view.iLaps = std::max(view.iLaps, static_cast<int32_t>(lane.splits.size()));
  }
  view.rows = RankHeat(lanes, view.iLaps);
  return view;
}

template <class T>
void SortBySortId(std::vector<T>& items, auto key) {
  std::stable_sort(items.begin(), items.end(), [&](const T& a, const T& b) {
    return std::pair(a.iSortId, key(a)) < std::pair(b.iSortId, key(b));
  });
}

// The race of the schedule entry with handle `hEntry`, its heats in sort order.
RaceView ReadRace(uint32_t hEntry, const MeetFiles& files, const MeetSettings& settings,
                  CompetitorCache* pCache) {
  const auto pEntries = files.pRaces->ScheduleEntries();
  const auto pEntry = pEntries->Item(hEntry);
  RaceView race;
  race.hEntry = hEntry;
  race.csRace = Utf8(pEntries->GetKey(hEntry));
  race.csTitle = Utf8(pEntry->TitlePrint());
  race.iSortId = pEntry->SortId();
  race.iDistance = Setting(settings.distances, pEntry->DistanceId(), pEntry->DistanceId());
  race.csStyle = Setting(settings.styles, pEntry->StyleId(), std::string());
  for (const auto& [csHeatKey, pHeat] : OrbElements(*pEntry->Heats())) {
    race.heats.push_back(ReadHeat(race.csRace, race.csTitle, race.iDistance, csHeatKey, *pHeat,
                                  files, settings, pCache));
  }
  SortBySortId(race.heats, [](const HeatView& heat) { return heat.csHeat; });
  return race;
}

// Whether the two views of a race show the same in the schedule: its texts
// and order, and its heats with their order, statuses and laps.
bool SameSchedulePart(const RaceView& a, const RaceView& b) {
  const auto part = [](const RaceView& race) {
    return std::tie(race.csRace, race.csTitle, race.iSortId, race.iDistance, race.csStyle);
  };
  const auto heatPart = [](const HeatView& heat) {
    return std::tie(heat.csHeat, heat.iSortId, heat.iHeatStatus, heat.iLaps);
  };
  return part(a) == part(b) && std::equal(a.heats.begin(), a.heats.end(), b.heats.begin(),
                                          b.heats.end(), [&](const HeatView& x, const HeatView& y) {
                                            return heatPart(x) == heatPart(y);
                                          });
}

}  // namespace

MeetSettings ReadSettings(Varnox::D2fVarnox_FT_GLOBALS* pGlobals) {
  MeetSettings settings;
  if (pGlobals == nullptr) return settings;
  if (const auto pMeet = OrbExisting(*pGlobals->Parameters(), std::u16string(u"MeetName")))
    settings.csMeet = Utf8(pMeet->Value());
  for (const auto& [uiId, pDistance] : OrbElements(*pGlobals->DistancesDefault()))
    settings.distances[uiId] = pDistance->Distance();
  for (const auto& [uiId, pStyle] : OrbElements(*pGlobals->StylesDefault()))
    settings.styles[uiId] = Utf8(pStyle->Style());
  for (const auto& [uiId, pStatus] : OrbElements(*pGlobals->StatusDefaults())) {
    const std::u16string csAbbrev = pStatus->StatusDescAbbrev();
    settings.statuses[uiId] = Utf8(csAbbrev.empty() ? pStatus->StatusDesc() : csAbbrev);
  }
  return settings;
}

MeetView ReadMeet(const MeetFiles& files, const MeetSettings& settings, CompetitorCache* pCache) {
  MeetView meet;
  meet.csMeet = settings.csMeet;
  const auto pEntries = files.pRaces->ScheduleEntries();
  OrbSharedLockScope scope(*pEntries);
  for (uint32_t h = pEntries->Head(); h != 0; h = pEntries->Next(h))
    meet.races.push_back(ReadRace(h, files, settings, pCache));
  SortBySortId(meet.races, [](const RaceView& race) { return race.csRace; });
  return meet;
}

std::optional<MeetParts> RereadRaces(const MeetFiles& files, const MeetSettings& settings,
                                     MeetView& meet, const std::vector<uint32_t>& entries,
                                     CompetitorCache* pCache) {
  const auto pEntries = files.pRaces->ScheduleEntries();
  OrbSharedLockScope scope(*pEntries);
  std::vector<uint32_t> held;
  for (const RaceView& race : meet.races) held.push_back(race.hEntry);
  std::vector<uint32_t> current;
  for (uint32_t h = pEntries->Head(); h != 0; h = pEntries->Next(h)) current.push_back(h);
  std::sort(held.begin(), held.end());
  std::sort(current.begin(), current.end());
  if (held != current) return std::nullopt;
  std::vector<RaceView> races;
  for (const uint32_t hEntry : entries) {
    if (!std::binary_search(current.begin(), current.end(), hEntry)) return std::nullopt;
    races.push_back(ReadRace(hEntry, files, settings, pCache));
  }
  MeetParts parts;
  for (RaceView& race : races) {
    RaceView& shown = *std::find_if(meet.races.begin(), meet.races.end(),
                                    [&](const RaceView& r) { return r.hEntry == race.hEntry; });
    if (!SameSchedulePart(shown, race)) {
      parts.races.push_back(race.csRace);
    } else {
      for (size_t i = 0; i < race.heats.size(); ++i) {
        if (race.heats[i] != shown.heats[i])
          parts.heats.emplace_back(race.csRace, race.heats[i].csHeat);
      }
    }
    shown = std::move(race);
  }
  if (!parts.races.empty())
    SortBySortId(meet.races, [](const RaceView& race) { return race.csRace; });
  return parts;
}

}  // namespace varnox::web
