// Reads a meet through the object face into the plain views the server
// shows: the schedule (races with their heats, in sort order) and each
// heat's results (Results.h). Read only: nothing here writes a record.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "web/Results.h"

namespace Tarvex::Orb::Data::Varnox {
class D2fVarnox_FT_RACES;
class D2fVarnox_FT_COMPETITORS;
class D2fVarnox_FT_GLOBALS;
}  // namespace Tarvex::Orb::Data::Varnox

namespace varnox::web {

struct HeatView {
  std::string csRace;
  std::string csHeat;
  std::string csTitle;  // the race's printed title
  int32_t iSortId = 0;
  int32_t iHeatStatus = 0;
  int32_t iLaps = 0;       // laps of the race (distance / pool length)
  int32_t iLapLength = 0;  // metres of one lap; 0 when unknown
  std::vector<ResultRow> rows;
  bool operator==(const HeatView&) const = default;
};

struct RaceView {
  std::string csRace;
  std::string csTitle;
  int32_t iSortId = 0;
  int32_t iDistance = 0;  // metres; 0 when unknown
  std::string csStyle;
  std::vector<HeatView> heats;  // in sort order
  uint32_t hEntry = 0;          // the handle of its schedule entry
};

struct MeetView {
  std::string csMeet;           // the meet's name, "" when the settings have none
  std::vector<RaceView> races;  // in sort order
};

// The files a meet is read from: the races (required), the competitors and
// the global settings (either may be null: names, distances and status
// texts are then missing).
struct MeetFiles {
  std::shared_ptr<Tarvex::Orb::Data::Varnox::D2fVarnox_FT_RACES> pRaces;
  std::shared_ptr<Tarvex::Orb::Data::Varnox::D2fVarnox_FT_COMPETITORS> pCompetitors;
  std::shared_ptr<Tarvex::Orb::Data::Varnox::D2fVarnox_FT_GLOBALS> pGlobals;
};

// A competitor's texts as the lanes show them.
struct CompetitorTexts {
  std::string csName;
  std::string csNation;
  std::string csClub;
};
// The competitors read so far, by id: a rebuild that only a lap caused reads
// no competitor again. The owner clears it when the competitors change.
using CompetitorCache = std::map<int32_t, CompetitorTexts>;

// What the global settings tell about the races, by id: a distance's
// metres, a style's name, a status's short name (else its description).
// Read whole once and kept, so a rebuild looks them up without the object
// face; the owner reads them anew when the settings file reports a change.
struct MeetSettings {
  std::string csMeet;  // the meet's name, "" without one
  std::map<uint64_t, int32_t> distances;
  std::map<uint64_t, std::string> styles;
  std::map<uint64_t, std::string> statuses;
};
// The settings of `pGlobals` as they stand now; empty without the file.
MeetSettings ReadSettings(Tarvex::Orb::Data::Varnox::D2fVarnox_FT_GLOBALS* pGlobals);

// The whole meet as it stands now, read under the schedule's shared lock;
// competitors come from `pCache` when it holds them (and are added to it).
MeetView ReadMeet(const MeetFiles& files, const MeetSettings& settings,
                  CompetitorCache* pCache = nullptr);
// The parts of a meet that may differ from the meet last published.
struct MeetParts {
  // Races whose schedule part may have changed (a title, a heat's status,
  // a heat that came or went, ...): their part and every heat of theirs.
  std::vector<std::string> races;
  // Heats, as (race, heat), whose results alone changed: the schedule
  // stands as it was for them.
  std::vector<std::pair<std::string, std::string>> heats;
};

// Reads anew, into `meet` (as ReadMeet gave it), the races of the schedule
// entries with handles `entries` alone, and tells what changed in them:
// compared as plain values with what `meet` held, a lap or a time changes
// its heat's results and leaves the schedule as it was. None, and `meet`
// untouched, when the schedule's entries are no longer those of `meet`
// (one came or went): the whole meet must be read then.
std::optional<MeetParts> RereadRaces(const MeetFiles& files, const MeetSettings& settings,
                                     MeetView& meet, const std::vector<uint32_t>& entries,
                                     CompetitorCache* pCache = nullptr);

}  // namespace varnox::web
